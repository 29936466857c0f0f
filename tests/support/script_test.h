#pragma once
// The frame of the handler and run tests: a private store whose run log goes
// to a scratch file, and steps loaded into document slot 0.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "engine/document.h"
#include "engine/run_log.h"
#include "engine/run.h"
#include "engine/settings.h"
#include "tests/settings/store_sandbox.h"
#include "vars/expand.h"

namespace olvex::test {

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_path_ = sandbox_.dir().File("run.log");
    WriteSetting("*\\Logfile", log_path_);
    CloseAllDocuments();
    ClearStepError();
  }
  void TearDown() override {
    SetRunEndedHandler(nullptr);
    SetLogLevel(0);
    CloseAllDocuments();
  }
  // The script's file is `script_name_` in the test's folder.
  void Load(const std::string& steps) {
    CloseAllDocuments();
    ASSERT_EQ(ParseSteps(steps, 0, -1, 0).status, ParseStatus::Parsed);
    FixUpDocument(0);
    Document(0).file_name = dir().File(script_name_);
  }
  // Runs the steps with the main loop served here; `meanwhile` runs on a
  // thread of its own from the start. Returns the run's time.
  std::chrono::steady_clock::duration Run(const std::string& steps, const std::function<void()>& meanwhile = {}) {
    Load(steps);
    return RunLoadedScript(meanwhile);
  }
  std::string Log() const { return ReadBytes(log_path_); }
  const ScratchDir& dir() const { return sandbox_.dir(); }

  StoreSandbox sandbox_;
  std::string log_path_;
  std::string script_name_ = "test.oxm";
};

// Handlers called one step at a time: the expansion installed, the log at level 1.
class HandlerTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    InstallExpander();
    WriteSetting("*\\LogLevel", 1);
    SetLogLevel(1);
  }
};

}  // namespace olvex::test
