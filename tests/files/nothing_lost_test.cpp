// What the script cases cannot set up: read-only and full destinations, refused
// writes, moves across file systems (through a broken platform::FileWrites),
// processes by id, shortcuts read back (Windows). Every failure must leave what was
// stored intact. (Names past the system's limit: cases/files/long_name.)
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
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

// The platform's own file writes, with the calls a case breaks failing as the system would: a full
// disk (half of a write goes out), a refused rename, a move that finds another file system.
class BrokenDisk : public platform::FileWrites {
 public:
  std::optional<platform::FileFailure> write, copy, rename, remove;
  int renames_broken = 1000;  // the first ones fail, the later ones work
  bool short_copy = false;    // a copy that reports success one byte short
  bool Write(platform::File& file, std::uint64_t offset, const char* data, std::size_t n, std::size_t* written) override {
    if (!write) return FileWrites::Write(file, offset, data, n, written);
    FileWrites::Write(file, offset, data, n / 2, written);
    return platform::FailFileCall(*write);
  }
  bool CopyData(const std::string& from, const std::string& to, const std::function<bool()>& stop) override {
    if (short_copy) {
      platform::File file;
      return FileWrites::CopyData(from, to, stop) && file.Open(to, platform::File::Mode::kReadWrite) &&
             file.Resize(*file.Size() - 1);
    }
    if (!copy) return FileWrites::CopyData(from, to, stop);
    if (*copy != platform::FileFailure::kNotFound) FileWrites::CopyData(from, to, stop);
    return platform::FailFileCall(*copy);
  }
  bool Rename(const std::string& from, const std::string& to) override {
    if (!rename || renames_broken-- <= 0) return FileWrites::Rename(from, to);
    return platform::FailFileCall(*rename);
  }
  bool Delete(const std::string& path) override {
    return remove ? platform::FailFileCall(*remove) : FileWrites::Delete(path);
  }
};

class Broken : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetFileWritesForTest(&disk_); }
  void TearDown() override {
    platform::SetFileWritesForTest(nullptr);
    CloseAllDocuments();
  }
  StoreSandbox sandbox_;
  ScratchDir dir_;
  BrokenDisk disk_;
};

TEST_F(Broken, AFailedWriteKeepsTheOldFileAndTheSource) {
  using platform::FileFailure;
  const std::string source = dir_.Write("new.txt", "new"), kept = dir_.Write("kept.txt", "old");
  fs::create_directory(dir_.path() / "src");
  dir_.Write("src/s.txt", "s");
  const Fields steps[] = {{"Copy File", source, kept},
                          {"Move/Rename File", source, kept},
                          {"Write/Create File", kept, "new", "", "Erase"},
                          {"Create Adobe PDF", kept, "new"},
                          {"Copy Folder", dir_.File("src"), dir_.File("tree")}};
  struct Fault {
    const char* name;
    std::optional<FileFailure> write, copy, rename;
    int renames_broken;
    bool read_only = false, short_copy = false;
  };
  const Fault faults[] = {
      {"a read-only destination", std::nullopt, std::nullopt, std::nullopt, 0, true},
      {"another file system, then a copy one byte short", std::nullopt, std::nullopt, FileFailure::kCrossDevice, 1,
       false, true},
      {"another file system, then a full disk", FileFailure::kDiskFull, FileFailure::kDiskFull,
       FileFailure::kCrossDevice, 1},
      {"refused rename", std::nullopt, std::nullopt, FileFailure::kAccessDenied, 1000},
      {"another file system, then the source vanished", std::nullopt, FileFailure::kNotFound,
       FileFailure::kCrossDevice, 1}};
  for (const Fault& fault : faults) {
    ASSERT_TRUE(platform::SetReadOnly(kept, fault.read_only));
    for (const Fields& step : steps) {
      if (fault.read_only && step.action == "Copy Folder") continue;
      SCOPED_TRACE(std::string(fault.name) + ": " + step.action);
      disk_.write = fault.write;
      disk_.copy = fault.copy;
      disk_.rename = fault.rename;
      disk_.renames_broken = fault.renames_broken;
      disk_.short_copy = fault.short_copy;
      const std::optional<std::string> error = RunStep(step);
      ASSERT_TRUE(error.has_value());
      EXPECT_FALSE(error->empty());
      EXPECT_EQ(ReadBytes(kept), "old");
      EXPECT_EQ(ReadBytes(source), "new");
      if (platform::PathExists(dir_.File("tree"))) {
        EXPECT_EQ(EntriesIn(dir_.File("tree")), 0u);
      }
      fs::remove_all(dir_.path() / "tree");
      EXPECT_EQ(EntriesIn(dir_.path().string()), 3u);  // no half file left behind
    }
  }
  platform::SetReadOnly(kept, false);
}

TEST_F(Broken, AMoveToAnotherFileSystemCopiesThenDeletes) {
  const std::string source = dir_.Write("small.txt", "small");
  disk_.rename = platform::FileFailure::kCrossDevice;
  disk_.renames_broken = 1;
  EXPECT_EQ(RunStep({"Move/Rename File", source, dir_.File("moved.txt")}), std::nullopt);
  EXPECT_FALSE(platform::PathExists(source));
  EXPECT_EQ(ReadBytes(dir_.File("moved.txt")), "small");
  fs::create_directories(dir_.path() / "folder" / "sub");
  dir_.Write("folder/sub/f.txt", "f");
  disk_.renames_broken = 1;
  EXPECT_EQ(RunStep({"Move/Rename Folder", dir_.File("folder"), dir_.File("there")}), std::nullopt);
  EXPECT_FALSE(platform::PathExists(dir_.File("folder")));
  EXPECT_EQ(ReadBytes(dir_.File("there/sub/f.txt")), "f");
  // A source that cannot be deleted after the copy is a failure, never a success.
  disk_.renames_broken = 1;
  disk_.remove = platform::FileFailure::kAccessDenied;
  EXPECT_TRUE(RunStep({"Move/Rename File", dir_.File("moved.txt"), dir_.File("again.txt")}).has_value());
  EXPECT_EQ(ReadBytes(dir_.File("moved.txt")), "small");
}

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

#ifdef _WIN32
// (Where the system has no shortcuts and services: cases/files/shell_posix.)
TEST(Shell, AShortcutPointsAtItsTarget) {
  ScratchDir dir;
  const std::string target = dir.Write("target.txt", "t"), link = dir.File("link");
  EXPECT_EQ(RunStep({"Create Shortcut", target, "", link}), std::nullopt);
  EXPECT_EQ(platform::ShortcutTarget(link + ".lnk"), target);
  CloseAllDocuments();
}
#endif

}  // namespace
}  // namespace olvex::test
