#pragma once
// Starts olvex-x11-target (tests/x11_target) on the X server of DISPLAY, asks
// its state over its standard input and output, and ends it. Every wait is bounded.
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
    std::map<std::string, std::string> values;  // "geometry", "focused", "text"
    std::vector<std::string> record;
  };

  explicit X11Target(const std::string& title, const std::string& geometry = "300x200+100+100",
                     std::vector<std::string> args = {}) {
    signal(SIGPIPE, SIG_IGN);  // a target that has ended shows in its answers
    args.insert(args.begin(), {BuiltProgram("olvex-x11-target"), "--title", title, "--geometry", geometry});
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    if ((pid_ = fork()) == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
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
    if (pid_ <= 0) return;
    Write("quit\n");
    if (!Ended(2000)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(to_);
    close(from_);
  }
  X11Target(const X11Target&) = delete;
  X11Target& operator=(const X11Target&) = delete;

  unsigned long long window() const { return window_; }  // 0 when it did not start
  // True once the program has ended (at most `ms` waited).
  bool Ended(int ms) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);; usleep(10000)) {
      if (ended_ || pid_ <= 0 || waitpid(pid_, nullptr, WNOHANG) == pid_) return ended_ = true;
      if (std::chrono::steady_clock::now() > end) return false;
    }
  }
  // "clear", "paint X Y W H RRGGBB": true when answered "ok".
  bool Command(const std::string& command) { return Write(command + "\n") && Line(5000) == "ok"; }
  State Ask() {
    State s;
    bool records = false;
    if (!Write("state\n")) return s;
    for (std::string line = Line(5000); !line.empty() && line != "end"; line = Line(5000)) {
      const std::size_t blank = std::min(line.find(' '), line.size());
      if (records) s.record.push_back(line);
      else if (line == "record:") records = true;
      else s.values[line.substr(0, blank)] = line.substr(std::min(blank + 1, line.size()));
    }
    return s;
  }
  // The client area: x, y, width, height.
  std::vector<long> Geometry() {
    long g[4] = {};
    std::sscanf(Ask().values["geometry"].c_str(), "%ld %ld %ld %ld", &g[0], &g[1], &g[2], &g[3]);
    return {g[0], g[1], g[2], g[3]};
  }
  // Asks until the record is `expected` (a window manager may hold a click
  // back for a moment), at most 5 s; the last record.
  std::vector<std::string> RecordOnceIs(const std::vector<std::string>& expected) {
    std::vector<std::string> record = Ask().record;
    for (int i = 0; i < 250 && record != expected; ++i, usleep(20000)) record = Ask().record;
    return record;
  }

 private:
  bool Write(const std::string& text) { return write(to_, text.data(), text.size()) == static_cast<ssize_t>(text.size()); }
  // One line of the answer, without its line feed; empty after `ms` without one.
  std::string Line(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (std::size_t nl; (nl = pending_.find('\n')) == std::string::npos;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd fd{from_, POLLIN, 0};
      char chunk[65536];
      ssize_t n = 0;
      if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0 || (n = read(from_, chunk, sizeof chunk)) <= 0)
        return {};
      pending_.append(chunk, static_cast<std::size_t>(n));
    }
    const std::size_t nl = pending_.find('\n');
    std::string line = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    return line;
  }
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  bool ended_ = false;
  unsigned long long window_ = 0;
  std::string pending_;
};

}  // namespace olvex::test
