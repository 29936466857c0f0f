// Expansion reads the run's own values through the host the engine installs.
#include <gtest/gtest.h>

#include "engine/expansion_host.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "vars/expand.h"

namespace olvex::test {
namespace {

std::string Expanded(const std::string& text) {
  std::size_t length = 0;
  return std::string(ExpandText(text, 0, 0, 0, &length));
}

TEST(RunExpansionHost, GivesTheCommandLineLogFileRepeatsAndCurrentWindow) {
  InstallRunExpansionHost("-r \"a b.oxm\" %x=1");
  EXPECT_EQ(Expanded("[{cmdline}]"), "[-r \"a b.oxm\" %x=1]");
  EXPECT_EQ(Expanded("{LOGFILE}"), LogFilePath());
  EXPECT_EQ(Expanded("{repeatcount}"), std::to_string(RunRepeats(0)));

  RunShared().current_window.store(0);
  expansion_host().SetCurrentWindow(4242);
  EXPECT_EQ(RunShared().current_window.load(), 4242);
  EXPECT_EQ(expansion_host().CurrentWindow(), 4242u);
  RunShared().current_window.store(0);

  InstallRunExpansionHost("second");  // a new host replaces the first
  EXPECT_EQ(Expanded("{cmdline}"), "second");
  SetExpansionHost(nullptr);
  EXPECT_EQ(Expanded("{cmdline}"), "{cmdline}");  // no run: left as written
}

}  // namespace
}  // namespace olvex::test
