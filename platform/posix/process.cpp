#include "platform/process.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace platform {
namespace {

// Words of a command line: blanks separate them, quotation marks group them.
std::vector<std::string> SplitCommand(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  bool in_quotes = false, have_word = false;
  for (char c : command) {
    if (c == '"') {
      in_quotes = !in_quotes;
      have_word = true;
    } else if ((c == ' ' || c == '\t') && !in_quotes) {
      if (have_word) words.push_back(word);
      word.clear();
      have_word = false;
    } else {
      word += c;
      have_word = true;
    }
  }
  if (have_word) words.push_back(word);
  return words;
}

std::optional<ProcessHandle> SpawnWords(const std::vector<std::string>& words, const std::string& folder) {
  if (words.empty() || words[0].empty()) return std::nullopt;
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) ::posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  const int failed = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return std::nullopt;
  ProcessHandle process;
  process.handle = pid;
  process.id = static_cast<std::uint32_t>(pid);
  return process;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A process that runs (not ended, nor a zombie waiting for its parent).
bool IsAlive(std::uint32_t id) {
  std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' && line[close + 2] != 'X';
}

bool Spawn(const std::vector<std::string>& words) {
  std::optional<ProcessHandle> process = SpawnWords(words, "");
  if (process) ReleaseProcess(*process);
  return process.has_value();
}

}  // namespace

bool StartProgram(const std::string& command_line, bool visible) {
  std::optional<ProcessHandle> process = CreateProcessFromLine(command_line, visible, "");
  if (process) ReleaseProcess(*process);
  return process.has_value();
}

std::optional<ProcessHandle> CreateProcessFromLine(const std::string& command_line, bool, const std::string& folder) {
  if (command_line.empty()) return std::nullopt;
  if (command_line.find('"') == std::string::npos && IsExecutableFile(command_line))
    return SpawnWords({command_line}, folder);
  return SpawnWords(SplitCommand(command_line), folder);
}

std::optional<ProcessHandle> StartShellCommand(const std::string& command) {
  return SpawnWords({"/bin/sh", "-c", command}, "");
}

bool ProgramsHaveExeExtension() { return false; }

void WaitUntilReady(const ProcessHandle&, long long) {}

bool HasEnded(ProcessHandle& process) {
  if (process.ended) return true;
  int status = 0;
  pid_t got = 0;
  while ((got = ::waitpid(static_cast<pid_t>(process.handle), &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (got == 0) return false;
  process.ended = true;
  process.exit_code = got < 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

void ReleaseProcess(ProcessHandle& process) {
  if (process.ended || process.handle <= 0) return;
  // Nobody waits for the program: collect its exit so that it leaves no zombie.
  const pid_t pid = static_cast<pid_t>(process.handle);
  process.handle = 0;
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

bool ShellOpen(const std::string& file, const std::string& parameters, bool) {
  std::vector<std::string> words = {"xdg-open", file};
  if (!parameters.empty()) return false;  // xdg-open takes one file or address
  return Spawn(words);
}

bool TerminateProcessById(std::uint32_t id, int) {
  if (id == 0 || ::kill(static_cast<pid_t>(id), SIGKILL) != 0) return false;
  // The signal arrives on its own time: wait (at most a second) until the process has ended.
  for (int i = 0; i < 100 && IsAlive(id); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return true;
}

std::uint64_t MainWindowOfProcess(std::uint32_t) { return 0; }

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> list;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return list;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const unsigned long id = std::strtoul(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || !IsAlive(static_cast<std::uint32_t>(id))) continue;
    // The executable's name; the kernel's short name when the link is not ours to read.
    std::string name;
    char target[4096];
    const std::string dir = std::string("/proc/") + entry->d_name;
    const ssize_t n = ::readlink((dir + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
      name.assign(target, static_cast<std::size_t>(n));
      const std::string deleted = " (deleted)";
      if (name.size() > deleted.size() && name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
        name.resize(name.size() - deleted.size());
      name = name.substr(name.find_last_of('/') + 1);
    } else {
      std::ifstream comm(dir + "/comm");
      std::getline(comm, name);
    }
    if (!name.empty()) list.push_back({name, static_cast<std::uint32_t>(id)});
  }
  ::closedir(proc);
  return list;
}

}  // namespace platform
