// The settings store in registry mode and in INI mode.
#include "engine/settings.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/profile.h"
#include "tests/support/case_table.h"
#include "tests/settings/store_sandbox.h"
#include "vars/variables.h"

namespace olvex::test {
namespace {

using platform::RegistryRoot;
namespace regtype = platform::regtype;
using namespace std::string_literals;

TEST(SettingsRegistry, NumbersAndStringsUnderTheOwnRoot) {
  StoreSandbox box;
  std::string root = "SOFTWARE\\" + box.key();
  EXPECT_EQ(ReadSettingNumber("*\\InterStepDelay"), 0);
  EXPECT_EQ(ReadSettingString("*\\Logfile"), "");
  EXPECT_FALSE(SettingExists("*\\InterStepDelay"));

  // *\X and the full path name one value.
  ASSERT_TRUE(WriteSetting("*\\InterStepDelay", 250));
  EXPECT_EQ(ReadSettingNumber("HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\InterStepDelay"), 250);
  EXPECT_EQ(ReadSettingNumber("SOFTWARE\\Olvex\\InterStepDelay"), 250);
  std::uint32_t type = 0;
  EXPECT_EQ(StoredData(root, "InterStepDelay", &type), "\xfa\0\0\0"s);
  EXPECT_EQ(type, regtype::kDword);
  EXPECT_TRUE(SettingExists("HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\InterStepDelay"));
  EXPECT_EQ(ReadSettingString("*\\InterStepDelay"), "250");

  ASSERT_TRUE(WriteSetting(SettingKey("*\\InterStepDelay-%d", 3), -40));
  EXPECT_EQ(ReadSettingNumber("*\\InterStepDelay-3"), -40);
  EXPECT_EQ(ReadSettingString("*\\InterStepDelay-3"), "-40");

  ASSERT_TRUE(WriteSetting("*\\Accelerators\\Stop", "19|0"));
  EXPECT_EQ(StoredData(root + "\\Accelerators", "Stop", &type), "19|0\0"s);
  EXPECT_EQ(type, regtype::kSz);
  EXPECT_EQ(ReadSettingString("*\\Accelerators\\Stop"), "19|0");
  EXPECT_EQ(ReadSettingString("*\\Accelerators\\Stop", 2), "19");
  EXPECT_EQ(ReadSettingNumber("*\\Accelerators\\Stop"), 19);

  // The first-number rule on strings.
  for (const auto& [text, number] : {std::pair<const char*, int>{"abc-12x5", -12}, {"  7", 7}, {"none", 0},
                                     {"-", 0}, {"x- 4", 4}, {"99999999999", 2147483647}}) {
    ASSERT_TRUE(WriteSetting("*\\Text", text));
    EXPECT_EQ(ReadSettingNumber("*\\Text"), number) << text;
  }
}

TEST(SettingsRegistry, DeleteValuesAndWholeKeys) {
  StoreSandbox box;
  ASSERT_TRUE(WriteSetting("*\\Accelerators\\Stop", "19|0"));
  ASSERT_TRUE(WriteSetting("*\\Accelerators\\Other", 1));
  ASSERT_TRUE(WriteSetting("*\\LogLevel", 2));
  EXPECT_TRUE(SettingExists("*\\Accelerators\\"));
  EXPECT_TRUE(DeleteSetting("*\\Accelerators\\Other"));
  EXPECT_FALSE(SettingExists("*\\Accelerators\\Other"));
  EXPECT_TRUE(SettingExists("*\\Accelerators\\Stop"));
  EXPECT_TRUE(DeleteSetting("*\\Accelerators\\"));
  EXPECT_FALSE(SettingExists("*\\Accelerators\\"));
  EXPECT_FALSE(SettingExists("*\\Accelerators\\Stop"));
  EXPECT_EQ(ReadSettingNumber("*\\LogLevel"), 2);
  EXPECT_TRUE(DeleteSetting("SOFTWARE\\Olvex\\LogLevel"));
  EXPECT_EQ(ReadSettingNumber("*\\LogLevel"), 0);
  EXPECT_FALSE(DeleteSetting("*\\LogLevel"));
}

std::string ProgramIn(const StoreSandbox& box) { return box.dir().File("Olvex.exe"); }
std::string IniIn(const StoreSandbox& box) { return box.dir().File("Olvex.ini"); }

TEST(SettingsRegistry, UserRegistryKeyMovesSettingsAndVariables) {
  StoreSandbox box;
  std::string acme = "Acme" + box.key();
  box.dir().Write("Olvex.ini", "[Olvex Studio]\r\nUserRegistryKey=" + acme + "\r\n");
  box.SetUpSettingsFor(ProgramIn(box));
  SettingsState state = CurrentSettingsState();
  EXPECT_EQ(state.ini_path, IniIn(box));
  EXPECT_EQ(state.user_registry_key, acme);
  EXPECT_FALSE(state.ini_mode);

  ASSERT_TRUE(platform::WriteRegistryValue(RegistryRoot::kCurrentUser, "SOFTWARE\\" + acme, "LogLevel", regtype::kDword,
                                           "\x03\0\0\0"s) == platform::RegistryStatus::kOk);
  EXPECT_EQ(ReadSettingNumber("*\\LogLevel"), 3);
  ASSERT_TRUE(WriteSetting("*\\Logfile", "log.txt"));
  ASSERT_TRUE(WriteUserVariable("count", "5"));
  EXPECT_EQ(StoredData("SOFTWARE\\" + acme, "Logfile"), "log.txt\0"s);
  EXPECT_EQ(StoredData("SOFTWARE\\" + acme + "\\UserVariables", "count"), "5\0"s);
  EXPECT_FALSE(StoredData("SOFTWARE\\" + box.key(), "Logfile"));
  RegistryDeleteKeyAt("HKEY_CURRENT_USER\\SOFTWARE\\" + acme);

  // "Olvex" names the program's own key: no override; the file is a settings file.
  box.dir().Write("Olvex.ini", "[Olvex Studio]\r\nUserRegistryKey=Olvex\r\n");
  box.SetUpSettingsFor(ProgramIn(box));
  EXPECT_EQ(CurrentSettingsState().user_registry_key, "");
  EXPECT_TRUE(CurrentSettingsState().ini_mode);
  // At most 63 characters of the name count.
  box.dir().Write("Olvex.ini", "[Olvex Studio]\r\nUserRegistryKey=" + std::string(80, 'K') + "\r\n");
  box.SetUpSettingsFor(ProgramIn(box));
  EXPECT_EQ(CurrentSettingsState().user_registry_key, std::string(63, 'K'));
}

TEST(SettingsIni, SmallOrMissingFilesLeaveRegistryMode) {
  StoreSandbox box;
  box.SetUpSettingsFor(ProgramIn(box));
  EXPECT_FALSE(CurrentSettingsState().ini_mode);
  box.dir().Write("Olvex.ini", "[Olvex]\nA=");  // 10 bytes
  box.SetUpSettingsFor(ProgramIn(box));
  EXPECT_FALSE(CurrentSettingsState().ini_mode);
  ASSERT_TRUE(WriteSetting("*\\A", 7));
  EXPECT_EQ(ReadSettingNumber("*\\A"), 7);
  EXPECT_EQ(platform::ReadProfileValue(IniIn(box), "Olvex", "A"), "");
  box.dir().Write("Olvex.ini", "[Olvex]\nA=5");  // 11 bytes
  box.SetUpSettingsFor(ProgramIn(box));
  EXPECT_TRUE(CurrentSettingsState().ini_mode);
  EXPECT_EQ(ReadSettingNumber("*\\A"), 5);
  // A program path without .exe gets .ini appended.
  box.SetUpSettingsFor(box.dir().File("olvex"));
  EXPECT_EQ(CurrentSettingsState().ini_path, box.dir().File("olvex.ini"));
  box.SetUpSettingsFor(box.dir().File("Prog.EXE"));
  EXPECT_EQ(CurrentSettingsState().ini_path, box.dir().File("Prog.ini"));
}

TEST(SettingsIni, KeyPathsMapToSections) {
  for (const CaseRow& row : CaseSection("tests/settings/ini_location_cases.txt", "locations", 3)) {
    const IniLocation at = IniLocationOf(row.fields[0]);
    EXPECT_EQ(std::make_tuple(at.section, at.name), std::make_tuple(row.fields[1], row.fields[2])) << row.where;
  }
}

TEST(SettingsIni, ReadWriteDeleteAndExistenceGoToTheFile) {
  StoreSandbox box;
  std::string ini = box.dir().Write("Olvex.ini",
                                    "[Olvex]\r\nLogLevel=2\r\nHex=0x1F\r\nNeg= -3 \r\nWord=abc\r\nZero=0\r\nEmpty=\r\n"
                                    "[Accelerators]\r\nStop=19|0\r\n[Palettes]\r\nIndentNewColumns=1\r\n");
  box.SetUpSettingsFor(ProgramIn(box));
  ASSERT_TRUE(CurrentSettingsState().ini_mode);
  const std::tuple<const char*, int, bool> reads[] = {
      {"*\\LogLevel", 2, true}, {"*\\Hex", 31, true}, {"*\\Neg", -3, true}, {"*\\Word", 0, true}, {"*\\Zero", 0, true},
      {"*\\Empty", 0, false}, {"*\\Missing", 0, false}, {"*\\Palettes\\MainList\\IndentNewColumns", 1, true},
      {"*\\Accelerators\\", 0, true}, {"*\\Colors\\", 0, false}};
  for (const auto& [key, number, exists] : reads) {
    EXPECT_EQ(ReadSettingNumber(key), number) << key;
    EXPECT_EQ(SettingExists(key), exists) << key;
  }
  EXPECT_EQ(ReadSettingString("*\\Accelerators\\Stop"), "19|0");

  ASSERT_TRUE(WriteSetting("*\\InterStepDelay", 100));
  ASSERT_TRUE(WriteSetting("*\\Colors\\ResultSuccessFill", "15532012"));
  EXPECT_EQ(platform::ReadProfileValue(ini, "Olvex", "InterStepDelay"), "100");
  EXPECT_EQ(platform::ReadProfileValue(ini, "Colors", "ResultSuccessFill"), "15532012");
  EXPECT_EQ(ReadSettingNumber("SOFTWARE\\Olvex\\Colors\\ResultSuccessFill"), 15532012);
  EXPECT_TRUE(DeleteSetting("*\\LogLevel"));
  EXPECT_EQ(platform::ReadProfileValue(ini, "Olvex", "LogLevel"), std::nullopt);
  EXPECT_TRUE(DeleteSetting("*\\Accelerators\\"));
  EXPECT_FALSE(SettingExists("*\\Accelerators\\Stop"));
  EXPECT_EQ(platform::ReadProfileValue(ini, "Olvex", "Word"), "abc");
  // A key below the root is no section: it removes at most the entry of its name.
  ASSERT_TRUE(WriteSetting("*\\FailStep", 3));
  EXPECT_TRUE(SettingExists("SOFTWARE\\Olvex\\FailStep\\"));
  EXPECT_TRUE(DeleteSetting("SOFTWARE\\Olvex\\FailStep\\"));
  EXPECT_FALSE(SettingExists("*\\FailStep"));
  EXPECT_FALSE(DeleteSetting("*\\Palettes\\Output\\*"));
  EXPECT_EQ(platform::ReadProfileValue(ini, "Olvex", "Word"), "abc");
  EXPECT_EQ(ReadSettingNumber("*\\Palettes\\MainList\\IndentNewColumns"), 1);
  // The root itself is the section "Olvex".
  EXPECT_TRUE(DeleteSetting("HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\"));
  EXPECT_FALSE(SettingExists("*\\"));
  EXPECT_EQ(ReadSettingNumber("*\\Palettes\\MainList\\IndentNewColumns"), 1);

  // Nothing of it went to the registry; user variables stay there.
  EXPECT_FALSE(StoredData("SOFTWARE\\" + box.key(), "InterStepDelay"));
  ASSERT_TRUE(WriteUserVariable("v", "1"));
  EXPECT_TRUE(StoredData(box.VariablesKey(), "v"));
  EXPECT_EQ(platform::ReadProfileValue(ini, "Olvex", "v"), std::nullopt);
}

}  // namespace
}  // namespace olvex::test
