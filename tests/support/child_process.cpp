// RunChild: start a program with its output captured, and wait for it.
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace olvex::test {

#ifdef _WIN32

namespace {

std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string q = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '"') q.append(backslashes + 1, '\\');
    backslashes = (c == '\\') ? backslashes + 1 : 0;
    q += c;
  }
  q.append(backslashes, '\\');
  return q + "\"";
}

// Reads the pipe until its writers are gone, or nothing more comes once
// `give_up` is set: a program the child left running may hold the pipe.
void Drain(HANDLE h, std::string* into, const std::atomic<bool>* give_up, std::atomic<int>* done) {
  char buf[4096];
  for (;;) {
    DWORD ready = 0, got = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &ready, nullptr)) break;
    if (ready == 0) {
      if (*give_up) break;
      Sleep(5);
      continue;
    }
    if (!ReadFile(h, buf, std::min<DWORD>(ready, sizeof buf), &got, nullptr) || got == 0) break;
    into->append(buf, got);
  }
  CloseHandle(h);
  ++*done;
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  ChildResult result;
  std::string cmd;
  for (const auto& a : args) {
    if (!cmd.empty()) cmd += ' ';
    cmd += Quote(a);
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out_r, out_w, err_r, err_w;
  CreatePipe(&out_r, &out_w, &sa, 0);
  CreatePipe(&err_r, &err_w, &sa, 0);
  SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_r, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul;
  si.hStdOutput = out_w;
  si.hStdError = err_w;
  PROCESS_INFORMATION pi{};
  BOOL ok = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(out_w);
  CloseHandle(err_w);
  CloseHandle(nul);
  if (!ok) {
    CloseHandle(out_r);
    CloseHandle(err_r);
    result.err = "CreateProcess failed: " + cmd;
    return result;
  }
  std::atomic<bool> give_up{false};
  std::atomic<int> done{0};
  std::thread t1(Drain, out_r, &result.out, &give_up, &done), t2(Drain, err_r, &result.err, &give_up, &done);
  if (WaitForSingleObject(pi.hProcess, static_cast<DWORD>(timeout.count())) == WAIT_TIMEOUT) {
    result.timed_out = true;
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, INFINITE);
  }
  for (int waited = 0; done < 2 && waited < 3000; waited += 10) Sleep(10);
  give_up = true;
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  result.exit_code = static_cast<int>(code);
  t1.join();
  t2.join();
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return result;
}

#else

ChildResult RunChild(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  ChildResult result;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    int nul = open("/dev/null", O_RDONLY);
    dup2(nul, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    // Only 1 and 2 keep the pipes: a program the child leaves running in
    // the background must not hold them open.
    close(out[0]);
    close(err[0]);
    close(out[1]);
    close(err[1]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* into[2] = {&result.out, &result.err};
  int open_fds = 2;
  while (open_fds > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        into[i]->append(buf, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

#endif

}  // namespace olvex::test
