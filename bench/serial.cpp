// Serial Port Send of 1 MB over a pseudo-terminal pair beside plain write()
// calls of the same bytes to the same terminal in the same run (goal: at
// least 0.8 of their throughput): writes of as much as the terminal takes,
// and writes of 512 bytes, the blocks Send writes at 9600 baud and above. A
// thread drains the other side.
//
//   bench_serial --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "engine/document.h"
#include "engine/run.h"
#include "system/hardware_actions.h"

namespace {

constexpr std::size_t kBytes = 1 << 20;

// A pseudo-terminal in raw mode whose master side a thread reads and discards.
class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    path_ = ptsname(master_);
    // Held open so that the master never reads the end of the line between two writers.
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (slave_ >= 0 && tcgetattr(slave_, &raw) == 0) {
      cfmakeraw(&raw);
      tcsetattr(slave_, TCSANOW, &raw);
    }
    drain_ = std::thread([this] {
      char piece[65536];
      while (!done_.load()) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 50) > 0 && read(master_, piece, sizeof piece) <= 0) break;
      }
    });
  }
  ~PtyPair() {
    done_.store(true);
    if (drain_.joinable()) drain_.join();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  const std::string& path() const { return path_; }

 private:
  int master_ = -1, slave_ = -1;
  std::string path_;
  std::atomic<bool> done_{false};
  std::thread drain_;
};

std::string DataFile() {
  static const std::string path = [] {
    const std::string file = (std::filesystem::temp_directory_path() / "olvex_bench_serial.bin").string();
    std::mt19937 random(7);
    std::string bytes(kBytes, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }();
  return path;
}

void SerialPortSend(benchmark::State& state) {
  PtyPair pty;
  olvex::CloseAllDocuments();
  const std::string step = "<step><action>Serial Port Send</action><text>" + DataFile() + "</text><value1>" + pty.path() +
                           "</value1><value2>115200</value2><value3>8</value3><value4>None</value4><value5>1</value5>"
                           "<value6>Hardware</value6></step>";
  if (olvex::ParseSteps(step, 0, -1, 0).status != olvex::ParseStatus::Parsed) state.SkipWithError("parse failed");
  olvex::FixUpDocument(0);
  for (auto _ : state)
    if (olvex::HandleHardwareStep(0, 0) != 1) state.SkipWithError(olvex::StepError().c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

// Plain write() calls of at most `state.range(0)` bytes each (0: as many as the terminal takes).
void PlainWrite(benchmark::State& state) {
  PtyPair pty;
  std::string bytes(kBytes, '\0');
  std::ifstream(DataFile(), std::ios::binary).read(bytes.data(), kBytes);
  const std::size_t block = state.range(0) > 0 ? static_cast<std::size_t>(state.range(0)) : kBytes;
  for (auto _ : state) {
    const int fd = open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t n = write(fd, bytes.data() + at, std::min(block, bytes.size() - at));
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    close(fd);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

BENCHMARK(SerialPortSend)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainWrite)->Arg(0)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
