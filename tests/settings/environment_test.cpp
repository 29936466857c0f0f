// The temporary-folder service (the environment: the Set Environment Variable tests).
#include "platform/environment.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include "tests/settings/store_sandbox.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace olvex::test {
namespace {

TEST(TempFolder, FilesOfTheRuntime) {
  StoreSandbox box;
  std::string temp = box.Temp();
  ASSERT_FALSE(temp.empty());
  std::string path = temp + "SOFTWARE_Test_x.dat";
  EXPECT_TRUE(platform::WriteFileReplacing(path, std::string("a\0b", 3)));
  EXPECT_TRUE(platform::WriteFileReplacing(path, "second"));
  EXPECT_EQ(platform::RegularFileSize(path), 6u);
  platform::FileContent read = platform::ReadWholeFile(path, 6);
  EXPECT_EQ(read.status, platform::ReadStatus::Ok);
  EXPECT_EQ(read.data, "second");
  EXPECT_EQ(platform::ReadWholeFile(path, 5).status, platform::ReadStatus::TooLarge);
  EXPECT_EQ(platform::ReadWholeFile(temp + "missing", 5).status, platform::ReadStatus::NotFound);
  EXPECT_FALSE(platform::RegularFileSize(temp));

  EXPECT_TRUE(platform::WriteFileReplacing(temp + "software_test_y.DAT", "y"));
  EXPECT_TRUE(platform::WriteFileReplacing(temp + "SOFTWARE_Other.dat", "z"));
  EXPECT_TRUE(platform::WriteFileReplacing(temp + "SOFTWARE_Test_z.txt", "z"));
  EXPECT_EQ(platform::RemoveFilesLike(temp, "SOFTWARE_Test", ".dat"), 2u);
  EXPECT_FALSE(platform::RegularFileSize(path));
  EXPECT_TRUE(platform::RegularFileSize(temp + "SOFTWARE_Other.dat"));
  EXPECT_TRUE(platform::RegularFileSize(temp + "SOFTWARE_Test_z.txt"));
  EXPECT_TRUE(platform::RemoveFile(temp + "SOFTWARE_Other.dat"));
  EXPECT_FALSE(platform::RemoveFile(temp + "SOFTWARE_Other.dat"));
}

#ifndef _WIN32
TEST(TempFolder, PosixFolderIsPrivateAndChecked) {
  ScratchDir dir;
  auto saved = platform::ReadEnv("TMPDIR");
  platform::WriteEnv("TMPDIR", dir.path().string() + "/");
  std::string own = dir.path().string() + "/olvex-" + std::to_string(::getuid());
  EXPECT_EQ(platform::TempFolder(), own + "/");
  struct stat st;
  ASSERT_EQ(::stat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Opened up by somebody: closed again.
  ::chmod(own.c_str(), 0777);
  EXPECT_EQ(platform::TempFolder(), own + "/");
  ASSERT_EQ(::stat(own.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A link planted in its place is not followed; nor is a plain file used.
  std::filesystem::remove_all(own);
  std::filesystem::create_directory(dir.path() / "elsewhere");
  std::filesystem::create_directory_symlink(dir.path() / "elsewhere", own);
  EXPECT_EQ(platform::TempFolder(), std::nullopt);
  std::filesystem::remove(own);
  dir.Write("olvex-" + std::to_string(::getuid()), "file");
  EXPECT_EQ(platform::TempFolder(), std::nullopt);
  std::filesystem::remove(own);

  // A folder of another user is not used (only root can make one to test).
  if (::getuid() == 0) {
    ASSERT_EQ(::mkdir(own.c_str(), 0700), 0);
    ASSERT_EQ(::chown(own.c_str(), 12345, 12345), 0);
    EXPECT_EQ(platform::TempFolder(), std::nullopt);
  }
  if (saved)
    platform::WriteEnv("TMPDIR", *saved);
  else
    platform::RemoveEnv("TMPDIR");
}

TEST(TempFolder, ReadingNeverWaitsOnAPipe) {
  ScratchDir dir;
  std::string fifo = dir.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(platform::ReadWholeFile(fifo, 100).status, platform::ReadStatus::OpenFailed);
  EXPECT_FALSE(platform::RegularFileSize(fifo));
}
#endif

}  // namespace
}  // namespace olvex::test
