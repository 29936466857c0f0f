// The service actions against a service of the test's own (Windows: under
// Wine, a private prefix's service manager).
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/document.h"
#include "engine/run.h"
#include "system/run_actions.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

constexpr const char* kName = "OlvexTestService";

bool RunServiceStep(const std::string& action, const std::string& value1 = "") {
  CloseAllDocuments();
  const std::string text = "<step><action>" + action + "</action><text>" + kName + "</text><value1>" + value1 +
                           "</value1></step>";
  EXPECT_EQ(ParseSteps(text, 0, -1, 0).status, ParseStatus::Parsed);
  FixUpDocument(0);
  ClearStepError();
  const bool ok = HandleRunStep(0, 0) == 1;
  CloseAllDocuments();
  return ok;
}

DWORD State(SC_HANDLE service, DWORD wanted) {
  SERVICE_STATUS status{};
  for (int i = 0; i < 100; ++i) {
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState == wanted) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return status.dwCurrentState;
}

DWORD StartType(SC_HANDLE service) {
  char buffer[8192];
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
  DWORD needed = 0;
  return QueryServiceConfigA(service, config, sizeof buffer, &needed) ? config->dwStartType : 0;
}

TEST(Services, StartStopAndStartTypeOfAServiceOfOurOwn) {
  const std::string program = BuiltProgram("olvex-test-service");
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE service = CreateServiceA(manager, kName, kName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, program.c_str(), nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
  if (service == nullptr) service = OpenServiceA(manager, kName, SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);

  // Right after a prefix starts, its service manager is busy starting its own services for a while.
  bool started = false;
  for (int i = 0; i < 100 && !(started = RunServiceStep("Start Service")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(started) << StepError();
  EXPECT_EQ(State(service, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(RunServiceStep("Stop Service"));
  EXPECT_EQ(State(service, SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));
  const std::pair<const char*, DWORD> types[] = {
      {"Automatic", SERVICE_AUTO_START}, {"Disabled", SERVICE_DISABLED}, {"Manual", SERVICE_DEMAND_START}};
  for (const auto& [word, type] : types) {
    EXPECT_TRUE(RunServiceStep("Service Startup Type", word)) << word;
    EXPECT_EQ(StartType(service), type) << word;
  }
  EXPECT_FALSE(RunServiceStep("Service Startup Type", "Sometimes"));
  EXPECT_FALSE(RunServiceStep("Stop Service"));  // not running: the system's message
  EXPECT_FALSE(StepError().empty());

  DeleteService(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  EXPECT_FALSE(RunServiceStep("Start Service"));
}

}  // namespace
}  // namespace olvex::test
#endif
