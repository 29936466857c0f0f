#include <gtest/gtest.h>

#include <thread>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/process.h"
#include "tests/support/test_support.h"
#ifdef _WIN32
#include <windows.h>
#include "tests/support/box_answerer.h"
#else
#include <unistd.h>
#endif

namespace olvex::test {
namespace {

TEST(Files, ReadsWholeFilesAndTellsMissingFromUnreadable) {
  ScratchDir dir;
  std::string bytes("a\0b\r\n\xff", 6);
  std::string path = dir.Write("x.oxm", bytes);
  auto content = platform::ReadWholeFile(path);
  EXPECT_EQ(content.status, platform::ReadStatus::Ok);
  EXPECT_EQ(content.data, bytes);
  EXPECT_EQ(platform::FileSize(path), 6u);
  EXPECT_TRUE(platform::PathExists(path));
  EXPECT_FALSE(platform::IsFolder(path));

  auto empty = platform::ReadWholeFile(dir.Write("empty", ""));
  EXPECT_EQ(empty.status, platform::ReadStatus::Ok);
  EXPECT_TRUE(empty.data.empty());

  EXPECT_EQ(platform::ReadWholeFile(dir.File("missing")).status, platform::ReadStatus::NotFound);
  EXPECT_EQ(platform::ReadWholeFile(dir.File("no/such/dir/x")).status, platform::ReadStatus::NotFound);
  EXPECT_FALSE(platform::FileSize(dir.File("missing")));
  EXPECT_FALSE(platform::PathExists(dir.File("missing")));

  std::string folder = dir.path().string();
  EXPECT_TRUE(platform::IsFolder(folder));
  EXPECT_FALSE(platform::FileSize(folder));
  EXPECT_EQ(platform::ReadWholeFile(folder).status, platform::ReadStatus::OpenFailed);
}

TEST(Module, KnowsItsPathAndCarriesTheCatalog) {
  std::string self = platform::ModulePath();
  EXPECT_NE(self.find("olvex_platform_tests"), std::string::npos) << self;
  EXPECT_TRUE(platform::PathExists(self));
  auto catalog = platform::ReadModuleResource(9001);
  ASSERT_TRUE(catalog);
  EXPECT_FALSE(catalog->empty());
  EXPECT_FALSE(platform::ReadModuleResource(4242));
  EXPECT_FALSE(platform::ReadFileResource(self, 4242));
}

TEST(Dialogs, DefaultAnswerFollowsButtonsAndDefaultButton) {
  using namespace platform::box;
  const std::pair<unsigned, int> rows[] = {
      {kOk | kIconExclamation, kAnswerOk}, {kOkCancel, kAnswerOk}, {kOkCancel | kDefaultButton2, kAnswerCancel},
      {kYesNo, kAnswerYes}, {kYesNo | kDefaultButton2, kAnswerNo}, {kYesNoCancel | kDefaultButton3, kAnswerCancel},
      {kAbortRetryIgnore | kDefaultButton2, kAnswerRetry}, {kRetryCancel, kAnswerRetry}};
  for (const auto& [style, answer] : rows) EXPECT_EQ(DefaultAnswer(style), answer) << std::hex << style;
}

#ifdef _WIN32
TEST(Dialogs, RealMessageBoxIsAnsweredByTheHelper) {
  BoxAnswerer answerer(platform::box::kAnswerCancel);
  int answer = platform::dialogs().ShowMessage("Line one\n\nLine two", "Olvex Test",
                                               platform::box::kOkCancel | platform::box::kIconExclamation |
                                                   platform::box::kTaskModal | platform::box::kSetForeground);
  EXPECT_EQ(answer, platform::box::kAnswerCancel);
  auto seen = answerer.WaitFor(1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "Olvex Test");
  EXPECT_EQ(seen[0].text, "Line one\n\nLine two");
}
#endif

TEST(Processes, TheListHoldsThisProcessByItsProgramName) {
#ifdef _WIN32
  const std::uint32_t self = GetCurrentProcessId();
  const std::string expected = "olvex_platform_tests.exe";
#else
  const std::uint32_t self = static_cast<std::uint32_t>(getpid());
  const std::string expected = "olvex_platform_tests";
#endif
  bool found = false;
  for (const platform::ProcessEntry& p : platform::ListProcesses()) {
    if (p.id != self) continue;
    found = true;
    EXPECT_EQ(p.name, expected);
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace olvex::test
