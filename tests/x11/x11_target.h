#pragma once
// Linux desktop tests: starts olvex-x11-target (tests/x11_target) on the X
// server of DISPLAY, asks its state over its standard input and output, and
// ends it. Every wait is bounded.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace olvex::test {

class X11Target {
 public:
  struct State {
    std::map<std::string, std::string> values;  // "title", "geometry", "focused", "mapped", "text"
    std::vector<std::string> record;
    std::vector<long> Geometry() const;  // x y w h of the client area
  };

  explicit X11Target(const std::string& title, const std::string& geometry = "300x200+100+100",
                     const std::vector<std::string>& extra = {}) {
    signal(SIGPIPE, SIG_IGN);  // a target that has ended is seen in the answers
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    std::vector<std::string> args = {BuiltProgram("olvex-x11-target"), "--title", title, "--geometry", geometry};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
    const std::string ready = Line(10000);
    if (ready.rfind("ready ", 0) == 0) window_ = std::stoull(ready.substr(6));
  }
  ~X11Target() {
    if (to_ >= 0) {
      Write("quit\n");
      close(to_);
    }
    if (pid_ > 0 && !Ended(2000)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (from_ >= 0) close(from_);
  }
  X11Target(const X11Target&) = delete;
  X11Target& operator=(const X11Target&) = delete;

  // The target's window id; 0 when it did not start.
  unsigned long long window() const { return window_; }
  // True once the program has ended (at most `ms` waited).
  bool Ended(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
      if (exited_ || waitpid(pid_, nullptr, WNOHANG) == pid_) return exited_ = true;
      usleep(10000);
    } while (std::chrono::steady_clock::now() < end);
    return false;
  }
  // "clear", "paint X Y W H RRGGBB", "title T", "refuse 1|0": true when answered "ok".
  bool Command(const std::string& command) { return Write(command + "\n") && Line(5000) == "ok"; }
  // The state now (empty when the target does not answer within 5 s).
  State Ask() {
    State s;
    if (!Write("state\n")) return s;
    bool records = false;
    for (std::string line = Line(5000); !line.empty() && line != "end"; line = Line(5000)) {
      if (records) s.record.push_back(line);
      else if (line == "record:") records = true;
      else s.values[line.substr(0, line.find(' '))] = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
    }
    return s;
  }
  // Asks until the record is `expected` (a window manager may hold a click
  // back for a moment), at most 5 s; the last record.
  std::vector<std::string> RecordOnceIs(const std::vector<std::string>& expected) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::vector<std::string> record = Ask().record;
    while (record != expected && std::chrono::steady_clock::now() < end) {
      usleep(20000);
      record = Ask().record;
    }
    return record;
  }

 private:
  bool Write(const std::string& text) {
    return to_ >= 0 && write(to_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  // One line of the answer, without its line feed; empty after `ms` without one.
  std::string Line(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      if (const std::size_t nl = pending_.find('\n'); nl != std::string::npos) {
        std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd fd{from_, POLLIN, 0};
      if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) return {};
      char chunk[65536];
      const ssize_t n = read(from_, chunk, sizeof chunk);
      if (n <= 0) return {};
      pending_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  bool exited_ = false;
  unsigned long long window_ = 0;
  std::string pending_;
};

inline std::vector<long> X11Target::State::Geometry() const {
  std::vector<long> g;
  const auto it = values.find("geometry");
  if (it == values.end()) return g;
  std::size_t at = 0;
  for (int i = 0; i < 4 && at < it->second.size(); ++i) {
    std::size_t used = 0;
    g.push_back(std::stol(it->second.substr(at), &used));
    at += used;
  }
  return g;
}

}  // namespace olvex::test
