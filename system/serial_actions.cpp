#include "system/serial_actions.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "system/hardware_rules.h"
#include "vars/expand.h"

namespace olvex {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStatusEvery = std::chrono::milliseconds(444);
// A slice of every wait: a stop request ends a transfer within it.
constexpr int kSliceMs = 100;
// A send that the port takes no byte of for this long fails: nothing waits for ever.
constexpr auto kSendStallLimit = std::chrono::seconds(30);
constexpr std::size_t kReadPiece = 1024;

int Fail(const std::string& message) {
  SetStepError(message);
  return 0;
}

void Progress(const char* line) {
  if (LogLevel() > 1) LogText(line);
}

int SerialFailure(const std::string& message) {
  Progress("    * * Serial Failure * *");
  return Fail(message);
}

std::unique_ptr<platform::SerialPort> OpenPort(int slot, int index, const Step& step) {
  auto field = [&](int n) { return ExpandText(step.value(n), slot, index, 0); };
  platform::SerialSettings s;
  s.port = field(1);
  if (!s.port.empty() && s.port.back() == ':') s.port.pop_back();
  s.baud = FirstNumber(field(2));
  s.data_bits = FirstNumber(field(3));
  const std::string parity = field(4);
  s.parity = ContainsNoCase(parity, "Even") ? 2 : ContainsNoCase(parity, "Odd") ? 1 : 0;
  const int stop_bits = FirstNumber(field(5));
  s.two_stop_bits = stop_bits == 2;
  const std::string flow = field(6);
  s.xon_xoff = ContainsNoCase(flow, "XON");
  LogLine("    Opening Serial Port on %s...  %d, %d, %s, %d, %s", s.port.c_str(), s.baud, s.data_bits, parity.c_str(),
          s.two_stop_bits ? 2 : 1, flow.c_str());
  Progress("    Open Serial Port...");
  std::string error;
  std::unique_ptr<platform::SerialPort> port = platform::OpenSerialPort(s, &error);
  if (!port) SerialFailure(error);
  return port;
}

int Send(int slot, int index, const Step& step) {
  std::size_t length = 0;
  std::string data = ExpandText(step.text, slot, index, 0, &length);
  data.resize(std::min(length, data.size()));
  if (!data.empty() && platform::PathExists(data) && !platform::IsFolder(data)) {
    platform::FileContent file = platform::ReadWholeFile(data);
    if (file.status == platform::ReadStatus::Ok) data = std::move(file.data);
  }
  std::unique_ptr<platform::SerialPort> port = OpenPort(slot, index, step);
  if (!port) return 0;
  const std::size_t block = SerialBlockSize(FirstNumber(ExpandText(step.value(2), slot, index, 0)));
  LogLine("    Transmitting %lu bytes...", static_cast<unsigned long>(data.size()));
  Progress("    Write Serial Port...");
  std::size_t sent = 0;
  auto last_status = Clock::now(), last_progress = Clock::now();
  while (sent < data.size()) {
    std::string error;
    const long written = port->Write(data.data() + sent, std::min(block, data.size() - sent), kSliceMs, &error);
    if (written < 0) return SerialFailure("WriteFile communication failure: " + error);
    const auto now = Clock::now();
    if (written > 0) {
      sent += static_cast<std::size_t>(written);
      last_progress = now;
    } else if (StopRequestedOrKeyPressed()) {
      LogLine("    Transmission stopped after %lu bytes", static_cast<unsigned long>(sent));
      return -1;
    } else if (now - last_progress > kSendStallLimit) {
      return SerialFailure("WriteFile communication failure: the port took no data for 30 seconds");
    }
    if (now - last_status >= kStatusEvery) {
      SetStatusText(false, 0, " %lu Bytes Sent... %d%%", static_cast<unsigned long>(sent),
                    static_cast<int>(sent * 100 / data.size()));
      last_status = now;
    }
  }
  port->Drain(2000);
  LogLine("    Transmission Complete: %lu Total Bytes", static_cast<unsigned long>(sent));
  Progress("    Closing Serial Port...");
  return 1;
}

// What the reader thread and the step share.
struct Reception {
  std::mutex mutex;
  std::string bytes;  // at most kSerialReceiveLimit
  std::size_t dropped = 0;
  std::string error;
  std::atomic<std::size_t> count{0};  // bytes arrived, kept or not
  std::atomic<bool> closing{false}, ended{false};
};

void ReadUntilClosed(platform::SerialPort& port, Reception& r) {
  port.Purge();
  char piece[kReadPiece];
  auto last_status = Clock::now();
  while (!r.closing.load()) {
    std::string error;
    const long got = port.Read(piece, sizeof piece, kSliceMs, &error);
    if (got < 0) {
      std::lock_guard<std::mutex> lock(r.mutex);
      r.error = "WaitCommEvent failed: " + error;
      break;
    }
    if (got > 0) {
      std::lock_guard<std::mutex> lock(r.mutex);
      const std::size_t fit = std::min(static_cast<std::size_t>(got), kSerialReceiveLimit - r.bytes.size());
      r.bytes.append(piece, fit);
      r.dropped += static_cast<std::size_t>(got) - fit;
      r.count.fetch_add(static_cast<std::size_t>(got));
    }
    if (Clock::now() - last_status >= kStatusEvery) {
      SetStatusText(false, 0, " %lu Bytes Received...", static_cast<unsigned long>(r.count.load()));
      last_status = Clock::now();
    }
  }
  r.ended.store(true);
}

int Receive(int slot, int index, const Step& step) {
  const int seconds = FirstNumber(ExpandText(step.timeout(), slot, index, 0));
  const auto wait = std::chrono::milliseconds(std::max(1000LL, static_cast<long long>(seconds) * 1000));
  std::unique_ptr<platform::SerialPort> port = OpenPort(slot, index, step);
  if (!port) return 0;
  Progress("    Create Serial Thread...");
  Reception r;
  std::thread reader;
  try {
    r.bytes.reserve(std::min<std::size_t>(kSerialReceiveLimit, 1u << 20));
    reader = std::thread(ReadUntilClosed, std::ref(*port), std::ref(r));
  } catch (const std::exception&) {
    return SerialFailure("Serial Port CreateThread failed");
  }
  Progress("    Waiting for Serial Object...");
  std::size_t seen = 0;
  auto last_new = Clock::now();
  bool stopped = false;
  while (!r.ended.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
    const std::size_t count = r.count.load();
    if (count != seen) {
      if (seen == 0) LogText("    Receiving Serial Transmission...");
      seen = count;
      last_new = Clock::now();
    } else if (Clock::now() - last_new > wait) {
      break;
    }
    if (StopRequestedOrKeyPressed()) {
      stopped = true;
      break;
    }
  }
  r.closing.store(true);
  reader.join();
  port.reset();
  Progress("    Closing Serial Port...");
  LogLine("    %lu Total bytes received during serial transmission", static_cast<unsigned long>(r.bytes.size()));
  if (r.dropped > 0)
    LogLine("    %lu more bytes did not fit in the 32 MB receive buffer and were not kept", static_cast<unsigned long>(r.dropped));
  SaveOutput(slot, index, r.bytes);
  if (!r.error.empty()) return SerialFailure(r.error);
  return stopped ? -1 : 1;
}

}  // namespace

int SerialStep(int slot, int step_index, const Step& step) {
  return ContainsNoCase(step.action, "RECEIVE") ? Receive(slot, step_index, step) : Send(slot, step_index, step);
}

}  // namespace olvex
