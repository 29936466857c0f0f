#include "tests/support/test_support.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#include <thread>

#include <gtest/gtest.h>

#include "engine/main_loop.h"
#include "engine/run.h"
#include "platform/module.h"

namespace olvex::test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  for (;;) {
    path_ = fs::temp_directory_path() /
            ("olvex-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(path_, ec)) break;
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ScratchDir::File(const std::string& name) const { return (path_ / name).string(); }

std::string ScratchDir::Write(const std::string& name, const std::string& bytes) const {
  std::string p = File(name);
  std::ofstream(p, std::ios::binary) << bytes;
  return p;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string BuiltProgram(const std::string& name) {
  fs::path self = platform::ModulePath();
  return (self.parent_path() / (name + self.extension().string())).string();
}

std::chrono::steady_clock::duration RunLoadedScript(const std::function<void()>& meanwhile) {
  SetRunEndedHandler([] { QuitMainLoop(); });
  ClaimMainThread();
  const auto start = std::chrono::steady_clock::now();
  StartRun(0, kCommandNewRun, false, 0, 0);
  std::thread helper;
  if (meanwhile) helper = std::thread(meanwhile);
  RunMainLoop();
  const auto took = std::chrono::steady_clock::now() - start;
  if (helper.joinable()) helper.join();
  EXPECT_TRUE(WaitForWorkers());
  return took;
}

}  // namespace olvex::test
