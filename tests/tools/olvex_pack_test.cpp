#include <gtest/gtest.h>

#include <filesystem>

#include "engine/compress.h"
#include "platform/module.h"
#include "tests/settings/store_sandbox.h"
#include "tests/support/test_support.h"
#include "vars/variables.h"
#ifdef _WIN32
#include "tests/support/box_answerer.h"
#endif

namespace olvex::test {
namespace {

namespace fs = std::filesystem;

std::string Extension() { return fs::path(platform::ModulePath()).extension().string(); }

ChildResult Pack(std::vector<std::string> args) {
  args.insert(args.begin(), BuiltProgram("olvex-pack"));
  return RunChild(args);
}

const std::string kScript =
    "<Olvex>\r\n<step><action>Comment</action><text>carried &amp; packed</text></step>\r\n"
    "<step><action>Set Variable</action><text>\x01\xFF\x80 bytes</text><output value=\"x\">Variable</output></step>\r\n"
    "</Olvex>\r\n";

std::uint32_t Trailer(const std::string& file) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::uint32_t{static_cast<unsigned char>(file[file.size() - 4 + i])} << (8 * i);
  return v;
}

// Runs the packed program without arguments: it runs the script it carries,
// whose second step sets %x.
void ExpectPackedRun(const std::string& program) {
  StoreSandbox sandbox;
  ChildStore store;
  const ChildResult run = RunChild({program});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ReadUserVariable("x").value_or("(missing)"), "\x01\xFF\x80 bytes");
}

// The script that the appended form of `packed` carries, whatever resource it has.
std::string AppendedScript(const std::string& packed) {
  std::string block = packed.substr(packed.size() - 4 - Trailer(packed), Trailer(packed));
  ScrambleCarriedBlock(block);
  return Decompress(block);
}

TEST(OlvexPack, CopiesTheRuntimeAndAppendsTheScrambledScript) {
  ScratchDir dir;
  std::string script = dir.Write("tool.oxm", kScript);
  std::string out = dir.File("MyTool" + Extension());
  ChildResult r = Pack({script, "-o", out});
  ASSERT_EQ(r.exit_code, 0) << r.err;

  std::string runtime = ReadBytes(RuntimePath());
  std::string packed = ReadBytes(out);
  ASSERT_GT(packed.size(), runtime.size() + 4);
  EXPECT_TRUE(packed.compare(0, runtime.size(), runtime) == 0);
  EXPECT_EQ(runtime.size() + Trailer(packed) + 4, packed.size());

  auto block = ExtractCarriedScript(out, packed);
  ASSERT_TRUE(block);
  EXPECT_EQ(Decompress(*block), kScript);
  EXPECT_EQ(AppendedScript(packed), kScript);
  EXPECT_NE(packed.substr(runtime.size(), block->size()), *block);  // stored scrambled
#ifndef _WIN32
  EXPECT_NE(fs::status(out).permissions() & fs::perms::owner_exec, fs::perms::none);
#endif
  ExpectPackedRun(out);

  // The runtime itself carries no script: its tail decodes to none, and it
  // says how it is used.
#ifdef _WIN32
  BoxAnswerer answerer;  // the load error's box
#endif
  const ChildResult bare = RunChild({RuntimePath()});
  EXPECT_EQ(bare.exit_code, 2);
#ifndef _WIN32
  EXPECT_NE(bare.err.find("\nusage: olvex -r SCRIPT"), std::string::npos) << bare.err;
#endif
}

TEST(OlvexPack, PackingAgainGivesTheNewScript) {
  ScratchDir dir;
  std::string first = dir.Write("first.oxm", kScript);
  std::string second = dir.Write("second.oxm", "<step><action>Delay</action><timeout>1</timeout></step>");
  std::string tool = dir.File("tool" + Extension());
  std::string again = dir.File("again" + Extension());
  ASSERT_EQ(Pack({first, "-o", tool}).exit_code, 0);
  // Over an existing output, and with an already packed program as the runtime.
  ASSERT_EQ(Pack({second, "-o", tool}).exit_code, 0);
  EXPECT_EQ(Decompress(*ExtractCarriedScript(tool, ReadBytes(tool))), ReadBytes(second));
  ASSERT_EQ(Pack({first, "-o", again, "--runtime", tool}).exit_code, 0);
  std::string packed = ReadBytes(again);
  EXPECT_EQ(Decompress(*ExtractCarriedScript(again, packed)), kScript);
  EXPECT_EQ(packed.substr(0, ReadBytes(tool).size()), ReadBytes(tool));
}

TEST(OlvexPack, BadInputGetsAClearErrorAndNoOutput) {
  ScratchDir dir;
  std::string script = dir.Write("s.oxm", kScript);
  std::string out = dir.File("out" + Extension());

  const std::pair<std::vector<std::string>, std::string> refused[] = {  // the arguments; a part of the error
      {{dir.File("missing.oxm"), "-o", out}, "missing.oxm\" does not exist"},
      {{dir.Write("empty.oxm", ""), "-o", out}, "is empty"},
      {{script, "-o", out, "--runtime", dir.File("nothing" + Extension())}, "runtime"},
      {{script, "-o", dir.File("no-such-folder/out" + Extension())}, "cannot write"},
      {{script, "-o", RuntimePath()}, "must not be the runtime"}};
  for (const auto& [args, error] : refused) {
    const ChildResult r = Pack(args);
    EXPECT_NE(r.exit_code, 0) << error;
    EXPECT_NE(r.err.find(error), std::string::npos) << r.err;
  }
  EXPECT_EQ(Pack({script}).exit_code, 2);
  EXPECT_EQ(Pack({"-o", out}).exit_code, 2);
  EXPECT_EQ(Pack({script, "-o", out, "--frobnicate"}).exit_code, 2);
  EXPECT_FALSE(fs::exists(out));
}

#ifdef _WIN32
TEST(OlvexPack, ResourceFormIsWrittenBesideTheAppendedForm) {
  ScratchDir dir;
  std::string script = dir.Write("tool.oxm", kScript);
  std::string out = dir.File("MyTool.exe");
  ChildResult r = Pack({script, "-o", out, "--resource"});
  ASSERT_EQ(r.exit_code, 0) << r.err;

  auto resource = platform::ReadFileResource(out, kCarriedScriptResource);
  ASSERT_TRUE(resource);
  EXPECT_EQ(Decompress(*resource), kScript);
  std::string packed = ReadBytes(out);
  EXPECT_EQ(AppendedScript(packed), kScript);
  EXPECT_EQ(ExtractCarriedScript(out, packed), resource);
  // The program keeps the resources of the runtime.
  EXPECT_TRUE(platform::ReadFileResource(out, 9001));
  ExpectPackedRun(out);

  // Packing the packed program again replaces both forms.
  std::string next = dir.Write("next.oxm", "<step><action>Beep</action></step>");
  std::string again = dir.File("Again.exe");
  ASSERT_EQ(Pack({next, "-o", again, "--runtime", out, "--resource"}).exit_code, 0);
  EXPECT_EQ(Decompress(*platform::ReadFileResource(again, kCarriedScriptResource)), ReadBytes(next));
  EXPECT_EQ(AppendedScript(ReadBytes(again)), ReadBytes(next));
}
#else
TEST(OlvexPack, ResourceFormNeedsTheWindowsBuild) {
  ScratchDir dir;
  std::string out = dir.File("tool");
  ChildResult r = Pack({dir.Write("s.oxm", kScript), "-o", out, "--resource"});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("needs the Windows build"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(platform::WriteFileResource(RuntimePath(), 9002, "x"));
}
#endif

}  // namespace
}  // namespace olvex::test
