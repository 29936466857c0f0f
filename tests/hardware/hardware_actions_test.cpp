// The Hardware category's steps: every detail against an independent reading
// of the same figure, a sound that never stalls, and the serial port
// over a pair of pseudo-terminals (socat; under Wine two COM links to such a
// pair that the test command makes). (The screen saver's store part:
// cases/hardware/screen_saver_*; the steps without a desktop and a missing
// sound file and port: cases/hardware/devices_missing_posix.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "engine/document.h"
#include "engine/main_loop.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "engine/text.h"
#include "platform/environment.h"
#include "platform/serial.h"
#include "system/hardware_actions.h"
#include "system/hardware_rules.h"
#include "tests/support/script_test.h"
#include "vars/expand.h"
#include "vars/variables.h"
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace olvex::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class HardwareTest : public HandlerTest {
 protected:
  // Runs one step's handler; its output goes to the variable "hw".
  int Step(const std::string& action, const std::string& options, const std::string& extra = "") {
    DeleteUserVariable("hw");
    ClearStepError();
    Load("<step><action>" + action + "</action>" + OptionsField(options) + extra + VariableOutput("hw") + "</step>\n");
    return HandleHardwareStep(0, 0);
  }
  std::string Output(const std::string& action, const std::string& options, const std::string& extra = "") {
    EXPECT_EQ(Step(action, options, extra), 1) << action << " " << options << ": " << StepError();
    return ReadUserVariable("hw").value_or("(none)");
  }
};

#ifndef _WIN32
double Number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// A figure the system may change between two readings: within `tolerance` of each other.
void ExpectNear(const std::string& got, double want, double tolerance, const std::string& what) {
  EXPECT_NEAR(Number(got), want, tolerance) << what << ": " << got;
}

// "name : value" of /proc/cpuinfo's first processor.
std::string CpuInfo(const std::string& name) {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(name, 0) != 0) continue;
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && line.find_first_not_of(" \t", name.size()) == colon)
      return line.substr(std::min(line.size(), colon + 2));
  }
  return {};
}
std::uint64_t MemInfoBytes(const std::string& name) {
  std::ifstream in("/proc/meminfo");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(name + ":", 0) == 0) return std::strtoull(line.c_str() + name.size() + 1, nullptr, 10) * 1024;
  return 0;
}

TEST_F(HardwareTest, DetailsMatchWhatLinuxReports) {
  const std::uint64_t total = MemInfoBytes("MemTotal"), available = MemInfoBytes("MemAvailable");
  EXPECT_EQ(Output("Memory Details", "Total Memory"), std::to_string(total));
  EXPECT_EQ(Output("Memory Details", "Total Memory MB"), std::to_string(total / 1048576));
  ExpectNear(Output("Memory Details", "Free Memory K"), available / 1024.0, total / 1024.0 * 0.05, "free memory");
  ExpectNear(Output("Memory Details", "Used Memory %"), 100.0 * (total - available) / total, 5, "used memory");

  struct statvfs root {};
  ASSERT_EQ(statvfs("/", &root), 0);
  const double root_total = static_cast<double>(root.f_blocks) * root.f_frsize;
  EXPECT_EQ(Output("Storage Details", "Total", "<value1>C:</value1>"), std::to_string(static_cast<std::uint64_t>(root_total)));
  EXPECT_EQ(Output("Storage Details", "Total MB", "<value1>/</value1>"),
            std::to_string(static_cast<std::uint64_t>(root_total) / 1048576));
  struct statvfs scratch {};
  ASSERT_EQ(statvfs(dir().path().c_str(), &scratch), 0);
  ExpectNear(Output("Storage Details", "Free K", "<value1>" + dir().path().string() + "</value1>"),
             static_cast<double>(scratch.f_bavail) * scratch.f_frsize / 1024, 1e5, "free space");
  EXPECT_EQ(Output("Storage Details", "List").rfind("/\r\n", 0), 0u);
  EXPECT_EQ(Output("Storage Details", "Total"), Output("Storage Details", "List"));  // an empty drive lists
  EXPECT_EQ(Step("Storage Details", "Total", "<value1>/no/such/folder</value1>"), 0);

  int processors = 0;
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) processors += line.rfind("processor", 0) == 0;
  EXPECT_EQ(Output("Processor (CPU) Details", "Number of Processors"), std::to_string(processors));
  EXPECT_EQ(Output("Processor (CPU) Details", "Description"), CpuInfo("model name"));
  struct utsname names {};
  ASSERT_EQ(uname(&names), 0);
  if (std::string(names.machine) == "x86_64") {
    EXPECT_EQ(Output("Processor (CPU) Details", "Architecture"), "AMD64");
    EXPECT_EQ(Output("Processor (CPU) Details", "Extended Family"), CpuInfo("cpu family"));
    EXPECT_EQ(Output("Processor (CPU) Details", "Extended Model"), CpuInfo("model"));
    EXPECT_EQ(Output("Processor (CPU) Details", "Stepping"), CpuInfo("stepping"));
    const std::string vendor = CpuInfo("vendor_id");
    EXPECT_EQ(Output("Processor (CPU) Details", "Manufacturer"),
              vendor == "AuthenticAMD" ? "AMD" : vendor == "GenuineIntel" ? "Intel" : vendor);
    const std::string flags = " " + CpuInfo("flags") + " ";
    std::uint32_t bits = 0;
    const std::pair<const char*, std::uint32_t> kFlags[] = {
        {"mmx", 1}, {"3dnow", 2}, {"sse", 4}, {"sse2", 8}, {"pni", 16}, {"ssse3", 32}, {"sse4_1", 64}, {"sse4_2", 128}, {"tm", 256}};
    for (const auto& [name, bit] : kFlags) bits |= flags.find(std::string(" ") + name + " ") != std::string::npos ? bit : 0;
    EXPECT_EQ(Output("Processor (CPU) Details", "Instructions"), InstructionsText(bits));
    const double ghz = Number(Output("Processor (CPU) Details", "Speed Test"));
    EXPECT_GT(ghz, 0.1);
    EXPECT_LT(ghz, 10.0);
  }
  if (const std::string mhz = CpuInfo("cpu MHz"); !mhz.empty() && !std::ifstream("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"))
    ExpectNear(Output("Processor (CPU) Details", "Speed"), Number(mhz) / 1000, 0.2, "speed");

  EXPECT_EQ(Output("Operating System Details", "Computer Name"), names.nodename);
  const std::string release = names.release;
  const std::size_t second_dot = release.find('.', release.find('.') + 1);
  EXPECT_EQ(Output("Operating System Details", "Version"), release.substr(0, second_dot));
  EXPECT_EQ(Output("Operating System Details", "Major Version"), release.substr(0, release.find('.')));
  EXPECT_NE(Output("Operating System Details", "Description"), "");
  for (const char* option : {"Service Pack", "Product Type", "Install", "Name"})
    EXPECT_EQ(Output("Operating System Details", option), "") << option;
  std::string name;
  EXPECT_EQ(OperatingSystemIndex(&name), 0);
  EXPECT_EQ(name, "Unknown Operating System");
}
#else
TEST_F(HardwareTest, DetailsMatchWhatWindowsReports) {
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  EXPECT_EQ(Output("Memory Details", "Total Memory"), std::to_string(memory.ullTotalPhys));
  ULARGE_INTEGER free_bytes{}, total_bytes{};
  ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &free_bytes, &total_bytes, nullptr));
  EXPECT_EQ(Output("Storage Details", "Total", "<value1>C:</value1>"), std::to_string(total_bytes.QuadPart));
  EXPECT_NE(Output("Storage Details", "List").find("C:"), std::string::npos);
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  EXPECT_EQ(Output("Processor (CPU) Details", "Number of Processors"), std::to_string(info.dwNumberOfProcessors));
  EXPECT_EQ(Output("Processor (CPU) Details", "Architecture"), platform::ReadEnv("PROCESSOR_ARCHITECTURE").value_or(""));
  char computer[64] = {};
  DWORD size = sizeof computer;
  ASSERT_TRUE(GetComputerNameA(computer, &size));
  EXPECT_EQ(Output("Operating System Details", "Computer Name"), computer);
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExA(&version));
  EXPECT_EQ(Output("Operating System Details", "Version"),
            std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion));
  EXPECT_EQ(Output("Operating System Details", "Build Number"), std::to_string(version.dwBuildNumber & 0xFFFF));
  std::string name;
  EXPECT_EQ(OperatingSystemIndex(&name), OsIndexOf({true, true, static_cast<int>(version.dwMajorVersion),
                                                     static_cast<int>(version.dwMinorVersion)}));
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  ASSERT_TRUE(EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode));
  EXPECT_EQ(Output("Video Details", "Color Depth"), std::to_string(mode.dmBitsPerPel));
  EXPECT_EQ(Output("Video Details", "Resolution"),
            std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " x " + std::to_string(GetSystemMetrics(SM_CYSCREEN)));
  EXPECT_EQ(Output("Video Details", "Number of Monitors"), std::to_string(GetSystemMetrics(SM_CMONITORS)));
}
#endif

// A wave file plays, or is refused, without stalling (the tones' times: cases/hardware/tones).
TEST_F(HardwareTest, AWaveFilePlaysOrIsRefused) {
  const std::string wav = dir().Write("beep.wav", std::string("RIFF\x24\0\0\0WAVEfmt ", 16));
  const int played = Step("Play Sound", "Synchronous", "<text>" + wav + "</text>");
  EXPECT_TRUE(played == 1 || StepError() == "Incorrect media file") << StepError();
}

// Two ends of one serial line: the runtime's port and the test's peer.
class SerialPair {
 public:
  SerialPair(const ScratchDir& dir) {
#ifdef _WIN32
    const std::optional<std::string> pair = platform::ReadEnv("OLVEX_SERIAL_PAIR");
    if (!pair || pair->find(',') == std::string::npos) return;
    port_ = pair->substr(0, pair->find(','));
    peer_name_ = pair->substr(pair->find(',') + 1);
#else
    port_ = dir.File("a");
    peer_name_ = dir.File("b");
    const std::string a = "pty,raw,echo=0,link=" + port_, b = "pty,raw,echo=0,link=" + peer_name_;
    const char* argv[] = {"socat", a.c_str(), b.c_str(), nullptr};
    if (posix_spawnp(&socat_, "socat", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return;
    for (int i = 0; i < 100 && !(std::ifstream(port_) && std::ifstream(peer_name_)); ++i) std::this_thread::sleep_for(50ms);
#endif
    std::string error;
    peer_ = platform::OpenSerialPort({peer_name_, 115200, 8, 0, false, false}, &error);
  }
  ~SerialPair() {
    peer_.reset();
#ifndef _WIN32
    if (socat_ > 0) {
      kill(socat_, SIGTERM);
      waitpid(socat_, nullptr, 0);
    }
#endif
  }
  bool ready() const { return peer_ != nullptr; }
  const std::string& port() const { return port_; }
  // Reads `size` bytes, at most `limit` long.
  std::string ReadPeer(std::size_t size, std::chrono::milliseconds limit) {
    std::string got;
    std::string error;
    char piece[4096];
    for (const auto end = Clock::now() + limit; got.size() < size && Clock::now() < end;) {
      const long n = peer_->Read(piece, sizeof piece, 100, &error);
      if (n < 0) break;
      got.append(piece, static_cast<std::size_t>(n));
    }
    return got;
  }
  bool WritePeer(const std::string& data, std::chrono::milliseconds limit) {
    std::size_t at = 0;
    std::string error;
    for (const auto end = Clock::now() + limit; at < data.size() && Clock::now() < end;) {
      const long n = peer_->Write(data.data() + at, std::min<std::size_t>(4096, data.size() - at), 100, &error);
      if (n < 0) return false;
      at += static_cast<std::size_t>(n);
    }
    return at == data.size();
  }

 private:
  std::string port_, peer_name_;
  std::unique_ptr<platform::SerialPort> peer_;
#ifndef _WIN32
  pid_t socat_ = 0;
#endif
};

std::string RandomBytes(std::size_t size) {
  std::mt19937 random(25);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string SerialFields(const std::string& port, const std::string& baud = "9600") {
  return "<value1>" + port + ":</value1><value2>" + baud + "</value2><value3>8</value3><value4>None</value4><value5>1</value5>"
         "<value6>Hardware</value6>";
}

TEST_F(HardwareTest, SerialSendAndReceiveCarryAMegabyteOfBinaryBothWays) {
  SerialPair pair(dir());
  if (!pair.ready()) GTEST_SKIP() << "no serial pair (socat; under Wine OLVEX_SERIAL_PAIR)";
  const std::string data = RandomBytes(1 << 20);
  const std::string file = dir().Write("data.bin", data);
  std::string received;
  std::thread reader([&] { received = pair.ReadPeer(data.size(), 60s); });
  EXPECT_EQ(Step("Serial Port Send", "", "<text>" + file + "</text>" + SerialFields(pair.port())), 1) << StepError();
  reader.join();
  EXPECT_TRUE(received == data) << received.size() << " of " << data.size() << " bytes arrived intact";
  EXPECT_NE(Log().find("    Transmission Complete: 1048576 Total Bytes"), std::string::npos);

  const std::string back = RandomBytes(1 << 20).substr(7) + std::string("\0\x11\x13\xff", 4);
  std::thread writer([&] {
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(pair.WritePeer(back, 60s));
  });
  const std::string out = dir().File("received.bin");
  Load("<step><action>Serial Port Receive</action><timeout>1</timeout>" + SerialFields(pair.port(), "1200") +
       "<output value=\"" + out + "\">File</output></step>\n");
  EXPECT_EQ(HandleHardwareStep(0, 0), 1) << StepError();
  writer.join();
  EXPECT_TRUE(ReadBytes(out) == back) << ReadBytes(out).size() << " of " << back.size() << " bytes kept intact";
  EXPECT_NE(Log().find("    " + std::to_string(back.size()) + " Total bytes received during serial transmission"), std::string::npos);
}

TEST_F(HardwareTest, SerialReceiveWaitsItsTimeAndEndsOnAStop) {
  SerialPair pair(dir());
  if (!pair.ready()) GTEST_SKIP() << "no serial pair (socat; under Wine OLVEX_SERIAL_PAIR)";
  auto start = Clock::now();
  EXPECT_EQ(Step("Serial Port Receive", "", "<timeout>0</timeout>" + SerialFields(pair.port())), 1) << StepError();
  EXPECT_GE(Clock::now() - start, 1000ms);
  EXPECT_LT(Clock::now() - start, 2500ms);
  EXPECT_EQ(ReadUserVariable("hw").value_or(""), "");
  const auto took = Run("<step><action>Serial Port Receive</action><timeout>60</timeout>" + SerialFields(pair.port()) +
                            "</step>\n<step><action>Comment</action><text>never</text></step>\n",
                        [] {
                          std::this_thread::sleep_for(300ms);
                          RequestStop(false);
                        });
  EXPECT_LT(took, 1300ms + 500ms);
  EXPECT_EQ(Log().find("[STEP 2]"), std::string::npos);
}

}  // namespace
}  // namespace olvex::test
