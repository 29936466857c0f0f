#include "platform/process.h"

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

bool Spawn(const std::vector<std::string>& words) {
  if (words.empty() || words[0].empty()) return false;
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  // Nobody waits for the program: collect its exit so that it leaves no zombie.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace

bool StartProgram(const std::string& command_line, bool) {
  if (command_line.empty()) return false;
  if (command_line.find('"') == std::string::npos && ::access(command_line.c_str(), X_OK) == 0)
    return Spawn({command_line});
  return Spawn(SplitCommand(command_line));
}

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> list;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return list;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const unsigned long id = std::strtoul(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
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
