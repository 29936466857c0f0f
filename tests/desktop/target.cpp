#ifdef _WIN32
#include "tests/desktop/target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace olvex::test {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr auto kLongestPoll = std::chrono::milliseconds(250);  // each question costs the target time

std::string Unescaped(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

}  // namespace

Target::Target(const std::string& title) : title_(title) {
  const std::string program =
      (std::filesystem::path(RuntimePath()).parent_path() / "olvex-target.exe").string();
  std::string command = "\"" + program + "\" \"" + dir_.File("state.txt") + "\" \"" + title + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process_))
    return;
  // The process starts before its window exists: look for the window.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    HWND found = FindWindowA("OlvexTargetFrame", title.c_str());
    if (found && IsWindowVisible(found)) {
      frame_ = found;
      if (!Ask().empty()) return;
    }
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) break;
    std::this_thread::sleep_for(kPoll);
  }
  frame_ = nullptr;
}

Target::~Target() {
  if (process_.hProcess) {
    if (frame_) PostMessageA(frame_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
}

bool Target::Send(ULONG_PTR kind, const std::string& data) {
  if (!frame_) return false;
  COPYDATASTRUCT copy{kind, static_cast<DWORD>(data.size()), const_cast<char*>(data.data())};
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(frame_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG, 5000,
                             &result) != 0 &&
         result == 1;
}

bool Target::Command(const std::string& command) { return Send(2, command); }

Target::State Target::Ask(bool with_record) {
  State state;
  if (!Send(with_record ? 1 : 3, "state")) return state;
  const std::string text = ReadBytes(dir_.File("state.txt"));
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (line == "record:") {
      state["record"] = text.substr(at);
      break;
    }
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) state[line.substr(0, eq)] = Unescaped(line.substr(eq + 1));
  }
  return state;
}

Target::State Target::WaitFor(const std::function<bool(const State&)>& done, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  State state = Ask(false);
  for (auto poll = kPoll; !done(state) && std::chrono::steady_clock::now() < end; poll = std::min(poll * 2, kLongestPoll)) {
    std::this_thread::sleep_for(poll);
    state = Ask(false);
  }
  return Ask();
}

bool Target::RecordedInOrder(const std::vector<std::string>& lines) {
  std::string record;
  for (int i = 0; i < 50; ++i) {
    record = Ask().at("record");
    std::size_t from = 0;
    bool all = true;
    for (const std::string& line : lines) {
      from = record.find(line, from);
      if (from == std::string::npos) {
        all = false;
        break;
      }
    }
    if (all) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ADD_FAILURE() << record;
  return false;
}

}  // namespace olvex::test
#endif
