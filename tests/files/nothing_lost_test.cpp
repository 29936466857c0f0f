// What the script cases cannot set up: read-only and full destinations,
// moves across file systems, names past the system's limit, processes by id,
// shortcuts read back. Every failure must leave what was stored intact.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/document.h"
#include "engine/run.h"
#include "platform/file_ops.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "system/file_actions.h"
#include "system/run_actions.h"
#include "tests/settings/store_sandbox.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

namespace fs = std::filesystem;

struct Fields { std::string action, value1 = {}, text = {}, value2 = {}, options = {}; };

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
  return out;
}

// Runs one step through its category's handler; the step error when it fails.
std::optional<std::string> RunStep(const Fields& f) {
  CloseAllDocuments();
  const std::string text = "<step><action>" + f.action + "</action><value1>" + Escaped(f.value1) + "</value1><value2>" +
                           Escaped(f.value2) + "</value2><text>" + Escaped(f.text) + "</text><options>" + f.options +
                           "</options></step>";
  EXPECT_EQ(ParseSteps(text, 0, -1, 0).status, ParseStatus::Parsed);
  FixUpDocument(0);
  ClearStepError();
  const int result = Document(0).steps[0].category == 2 ? HandleRunStep(0, 0) : HandleFilesStep(0, 0);
  if (result == 1) return std::nullopt;
  return StepError();
}

std::size_t EntriesIn(const std::string& folder) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class NothingLost : public ::testing::Test {
 protected:
  void TearDown() override { CloseAllDocuments(); }
  StoreSandbox sandbox_;
  ScratchDir dir_;
};

TEST_F(NothingLost, AReadOnlyDestinationIsRefusedAndKept) {
  const std::string source = dir_.Write("new.txt", "new"), kept = dir_.Write("kept.txt", "old");
  ASSERT_TRUE(platform::SetReadOnly(kept, true));
  const Fields steps[] = {{"Copy File", source, kept},
                          {"Move/Rename File", source, kept},
                          {"Write/Create File", kept, "new", "", "Erase"},
                          {"Create Adobe PDF", kept, "new"}};
  for (const Fields& step : steps) {
    SCOPED_TRACE(step.action);
    EXPECT_TRUE(RunStep(step).has_value());
    EXPECT_EQ(ReadBytes(kept), "old");
    EXPECT_EQ(ReadBytes(source), "new");
    EXPECT_EQ(EntriesIn(dir_.path().string()), 2u);  // no half file left behind
  }
  platform::SetReadOnly(kept, false);
}

TEST_F(NothingLost, ANameBeyondTheSystemsLimitFailsClearly) {
  const std::string source = dir_.Write("a.txt", "a");
  // Step values hold 259 characters: the long name reaches them through a variable.
  const std::string far = dir_.File(std::string(5000, 'x') + ".txt");
  ASSERT_TRUE(WriteUserVariable("far", far));
  for (const Fields& step : {Fields{"Copy File", source, far}, Fields{"Move/Rename File", source, far},
                             Fields{"Write/Create File", "%far", "text"}, Fields{"Create Folder", "%far"}}) {
    SCOPED_TRACE(step.action);
    const std::optional<std::string> error = RunStep(step);
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
    EXPECT_EQ(ReadBytes(source), "a");
  }
}

#ifndef _WIN32
// A small file system of its own (root may mount one): a full disk and a move across file systems.
class SmallDisk : public NothingLost {
 protected:
  void SetUp() override {
    mount_ = dir_.File("disk");
    fs::create_directory(mount_);
    const std::string command = "mount -t tmpfs -o size=1m olvextest '" + mount_ + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "no tmpfs can be mounted here";
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) std::system(("umount '" + mount_ + "'").c_str());
    NothingLost::TearDown();
  }
  std::string mount_;
  bool mounted_ = false;
};

TEST_F(SmallDisk, AFullDiskFailsAndKeepsTheOldFile) {
  const std::string big = dir_.Write("big.bin", std::string(2 << 20, 'b'));
  const std::string kept = mount_ + "/kept.txt";
  dir_.Write("disk/kept.txt", "old");
  const Fields steps[] = {{"Copy File", big, kept},
                          {"Move/Rename File", big, kept},
                          {"Write/Create File", kept, std::string(2 << 20, 'n'), "", "Erase"},
                          {"Create Adobe PDF", kept, std::string(2 << 20, 'n')},
                          {"Copy Folder", dir_.path().string() + "/src", mount_ + "/tree"}};
  fs::create_directory(dir_.path() / "src");
  dir_.Write("src/big.bin", std::string(2 << 20, 's'));
  for (const Fields& step : steps) {
    SCOPED_TRACE(step.action);
    EXPECT_TRUE(RunStep(step).has_value());
    EXPECT_EQ(ReadBytes(kept), "old");
    EXPECT_EQ(platform::FileSize(big), std::uint64_t{2} << 20);
    EXPECT_FALSE(platform::PathExists(mount_ + "/tree/big.bin"));
    EXPECT_EQ(EntriesIn(mount_), step.action == "Copy Folder" ? 2u : 1u);
  }
}

TEST_F(SmallDisk, AMoveAcrossFileSystemsCopiesThenDeletes) {
  const std::string source = dir_.Write("small.txt", "small");
  EXPECT_EQ(RunStep({"Move/Rename File", source, mount_ + "/small.txt"}), std::nullopt);
  EXPECT_FALSE(platform::PathExists(source));
  EXPECT_EQ(ReadBytes(mount_ + "/small.txt"), "small");
  fs::create_directories(dir_.path() / "folder" / "sub");
  dir_.Write("folder/sub/f.txt", "f");
  EXPECT_EQ(RunStep({"Move/Rename Folder", dir_.File("folder"), mount_ + "/folder"}), std::nullopt);
  EXPECT_FALSE(platform::PathExists(dir_.File("folder")));
  EXPECT_EQ(ReadBytes(mount_ + "/folder/sub/f.txt"), "f");
}
#endif

TEST(Processes, KillProcessEndsAProcessById) {
  // A copy under a name of its own, which no Kill Process by name of another test can match.
  ScratchDir dir;
  const std::string extension = fs::path(RuntimePath()).extension().string();
  const std::string child = dir.File("olvex-kill-by-id" + extension);
  fs::copy_file(BuiltProgram("olvex-test-child"), child);
  // Shown, it shares this test's console: under Wine a hidden console child that is ended while it starts
  // can leave its own console host behind, holding the test's output open.
  std::optional<platform::ProcessHandle> process = platform::CreateProcessFromLine("\"" + child + "\" sleep 30000", true, "");
  ASSERT_TRUE(process.has_value());
  EXPECT_EQ(RunStep({"Kill Process", "", std::to_string(process->id)}), std::nullopt);
  bool ended = false;
  for (int i = 0; i < 100 && !(ended = platform::HasEnded(*process)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(ended);
  EXPECT_EQ(RunStep({"Kill Process", "", std::to_string(process->id)}),
            "Unable to find process '" + std::to_string(process->id) + "'");
  CloseAllDocuments();
}

TEST(Shell, ShortcutsAndServicesOnlyWhereTheSystemHasThem) {
  ScratchDir dir;
  const std::string target = dir.Write("target.txt", "t"), link = dir.File("link");
  const std::optional<std::string> error = RunStep({"Create Shortcut", target, "", link});
  if (platform::HasWindowsShell()) {
    EXPECT_EQ(error, std::nullopt);
    EXPECT_EQ(platform::ShortcutTarget(link + ".lnk"), target);
  } else {
    EXPECT_EQ(error, "\"Create Shortcut\" is not available on this system");
    EXPECT_EQ(RunStep({"Start Service", "", "Spooler"}), "\"Start Service\" is not available on this system");
  }
  CloseAllDocuments();
}

}  // namespace
}  // namespace olvex::test
