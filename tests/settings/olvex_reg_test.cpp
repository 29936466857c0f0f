// olvex-reg, run as a program: what it writes the runtime reads, and back.
#include <gtest/gtest.h>

#include "platform/module.h"
#include "tests/settings/store_sandbox.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

using namespace std::string_literals;

ChildResult Reg(std::vector<std::string> args) {
  args.insert(args.begin(), BuiltProgram("olvex-reg"));
  return RunChild(args, std::chrono::seconds(60));
}

// Line ends as the platform writes them.
std::string Lines(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

TEST(OlvexReg, SeedsAndShowsWhatTheRuntimeUses) {
  ASSERT_TRUE(std::filesystem::exists(BuiltProgram("olvex-reg"))) << "olvex-reg is built with the tests";
  StoreSandbox box;
  std::string key = "HKCU\\SOFTWARE\\" + box.key();
  ChildResult r = Reg({"add", key + "\\UserVariables", "/v", "count", "/d", "41", "/f"});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(Lines(r.out), "The operation completed successfully.\n");
  EXPECT_EQ(ReadUserVariable("count"), "41");

  ASSERT_EQ(Reg({"add", key, "/v", "LogLevel", "/t", "REG_DWORD", "/d", "0x2", "/f"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", key, "/v", "Lines", "/t", "REG_MULTI_SZ", "/d", "a\\0b", "/f"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", key, "/v", "Bytes", "/t", "REG_BINARY", "/d", "00ff", "/f"}).exit_code, 0);
  ASSERT_EQ(Reg({"add", key, "/v", "a\\b", "/d", "say \"hi\"", "/f"}).exit_code, 0);
  ASSERT_TRUE(WriteUserVariable("written", "by the runtime"));

  r = Reg({"query", key});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::string full = "HKEY_CURRENT_USER\\SOFTWARE\\" + box.key();
  EXPECT_EQ(Lines(r.out), "\n" + full + "\n"
                          "    a\\b    REG_SZ    say \"hi\"\n"
                          "    Bytes    REG_BINARY    00FF\n"
                          "    Lines    REG_MULTI_SZ    a\\0b\n"
                          "    LogLevel    REG_DWORD    0x2\n"
                          "\n" +
                              "HKEY_CURRENT_USER\\SOFTWARE\\" + box.key() + "\\UserVariables\n");
  r = Reg({"query", key + "\\UserVariables", "/v", "WRITTEN"});
  EXPECT_EQ(Lines(r.out), "\n" + full + "\\UserVariables\n    WRITTEN    REG_SZ    by the runtime\n");

  r = Reg({"export", "HKEY_CURRENT_USER\\SOFTWARE\\" + box.key()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Lines(r.out), "REGEDIT4\n\n[HKEY_CURRENT_USER\\SOFTWARE\\" + box.key() + "]\n"
                          "\"a\\\\b\"=\"say \\\"hi\\\"\"\n"
                          "\"Bytes\"=hex:00,ff\n"
                          "\"Lines\"=hex(7):61,00,62,00,00\n"
                          "\"LogLevel\"=dword:00000002\n\n"
                          "[HKEY_CURRENT_USER\\SOFTWARE\\" + box.key() + "\\UserVariables]\n"
                          "\"count\"=\"41\"\n"
                          "\"written\"=\"by the runtime\"\n\n");

  // Without /f an existing value is kept unless the user says yes (no one does here).
  r = Reg({"add", key + "\\UserVariables", "/v", "count", "/d", "0"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(ReadUserVariable("count"), "41");

  EXPECT_EQ(Reg({"delete", key + "\\UserVariables", "/v", "count", "/f"}).exit_code, 0);
  EXPECT_EQ(ReadUserVariable("count"), std::nullopt);
  EXPECT_EQ(Reg({"delete", key + "\\UserVariables", "/f"}).exit_code, 0);
  EXPECT_EQ(ReadUserVariable("written"), std::nullopt);
  r = Reg({"query", key + "\\UserVariables"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("unable to find"), std::string::npos) << r.err;
}

TEST(OlvexReg, RefusesBadRequests) {
  StoreSandbox box;
  std::string key = "HKCU\\SOFTWARE\\" + box.key();
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"query"}, {"frobnicate", key}, {"query", "HKXX\\Software"},
           {"add", key, "/v", "n", "/t", "REG_DWORD", "/d", "12z", "/f"},
           {"add", key, "/v", "n", "/t", "REG_DWORD", "/d", "0x100000000", "/f"},
           {"add", key, "/v", "n", "/t", "REG_BINARY", "/d", "abc", "/f"},
           {"add", key, "/v", "n", "/t", "REG_WHATEVER", "/f"}, {"add", key, "/v"}, {"query", key, "/v", "missing"},
           {"delete", "HKCU", "/f"},
       }) {
    ChildResult r = Reg(args);
    EXPECT_EQ(r.exit_code, 1) << args[0] << " " << (args.size() > 1 ? args[1] : "") << r.out;
    EXPECT_FALSE(r.timed_out);
  }
  EXPECT_FALSE(platform::RegistryKeyExists(platform::RegistryRoot::kCurrentUser, "SOFTWARE\\" + box.key()));
}

}  // namespace
}  // namespace olvex::test
