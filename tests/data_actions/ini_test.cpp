// INI files written by people keep everything a write or delete did not name:
// comments, odd spacing, duplicate keys, the line endings and a missing
// final line break.
#include <gtest/gtest.h>

#include <functional>

#include "platform/profile.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

struct IniCase {
  const char* name;
  const char* before;
  std::function<bool(const std::string& file)> change;
  const char* after;
};

TEST(IniFiles, AChangeKeepsEveryLineItDoesNotName) {
  const char* crlf = "; people\r\n[Main]\r\n  name = Ann \r\nname=dup\r\n\r\n[Other]\r\nkey=1";
  const char* lf = "[Main]\n; note\nname=Ann\n\n[Other] ; trailing\nkey = 1\n";
  using platform::DeleteProfileSection, platform::DeleteProfileValue, platform::WriteProfileValue;
  const IniCase cases[] = {
      {"replace the first duplicate", crlf, [](auto& f) { return WriteProfileValue(f, "main", "NAME", "Bo"); },
       "; people\r\n[Main]\r\nname=Bo\r\nname=dup\r\n\r\n[Other]\r\nkey=1"},
      {"add to a section", crlf, [](auto& f) { return WriteProfileValue(f, "Main", "age", "42"); },
       "; people\r\n[Main]\r\n  name = Ann \r\nname=dup\r\nage=42\r\n\r\n[Other]\r\nkey=1"},
      {"add after a last line without a break", crlf, [](auto& f) { return WriteProfileValue(f, "Other", "k2", "2"); },
       "; people\r\n[Main]\r\n  name = Ann \r\nname=dup\r\n\r\n[Other]\r\nkey=1\r\nk2=2"},
      {"add a section", lf, [](auto& f) { return WriteProfileValue(f, "New", "k", "v"); },
       "[Main]\n; note\nname=Ann\n\n[Other] ; trailing\nkey = 1\n[New]\nk=v\n"},
      {"delete a key", lf, [](auto& f) { return DeleteProfileValue(f, "Other", "KEY"); },
       "[Main]\n; note\nname=Ann\n\n[Other] ; trailing\n"},
      {"delete the last key", crlf, [](auto& f) { return DeleteProfileValue(f, "Other", "key"); },
       "; people\r\n[Main]\r\n  name = Ann \r\nname=dup\r\n\r\n[Other]"},
      {"delete a section", lf, [](auto& f) { return DeleteProfileSection(f, "main"); },
       "[Other] ; trailing\nkey = 1\n"},
      {"delete what is not there", lf, [](auto& f) { return DeleteProfileValue(f, "Main", "none"); }, lf},
  };
  ScratchDir dir;
  for (const IniCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.Write("people.ini", c.before);
    ASSERT_TRUE(c.change(file));
#ifdef _WIN32
    // Wine's profile API writes the whole file anew in a form of its own:
    // there every entry still reads the same.
    const std::string expected = dir.Write("expected.ini", c.after);
    for (const char* section : {"Main", "Other", "New"})
      for (const char* key : {"name", "age", "key", "k2", "k"})
        EXPECT_EQ(platform::ReadProfileValue(file, section, key), platform::ReadProfileValue(expected, section, key))
            << section << "/" << key;
#else
    EXPECT_EQ(ReadBytes(file), c.after);
#endif
  }
  const std::string file = dir.Write("people.ini", crlf);
  EXPECT_EQ(platform::ReadProfileValue(file, "MAIN", "name"), "Ann");
  EXPECT_EQ(platform::ReadProfileValue(file, "Other", "key"), "1");
}

}  // namespace
}  // namespace olvex::test
