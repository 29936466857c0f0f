#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/catalog.h"
#include "platform/module.h"
#include "tests/startup/carried_script.h"

namespace olvex::test {
namespace {

struct Expected { const char* name; int category; int action_id; bool saves_output; bool can_fail; };

// Every action of the catalog, with its category, id and flags.
const Expected kActions[] = {
    // 2 Run
    {"Start", 2, 239, true, true}, {"Kill Process", 2, 118, false, true}, {"Launch Document", 2, 6, true, true},
    {"MS-DOS Command", 2, 5, true, true}, {"Control Panel App", 2, 7, false, false},
    {"Manage AutoRuns", 2, 28, true, true}, {"Start Service", 2, 117, false, true},
    {"Stop Service", 2, 116, false, true}, {"Service Startup Type", 2, 115, false, true},
    {"Send Command", 2, 177, false, false}, {"Call DLL Function", 2, 183, true, false},
    {"Call Script", 2, 2, true, true},
    // 3 Windows
    {"Use Window", 3, 9, true, true}, {"Get Text", 3, 12, true, true}, {"Set Text", 3, 22, false, true},
    {"Get Window Info", 3, 19, true, true}, {"Move Window", 3, 159, false, true}, {"Resize", 3, 13, false, true},
    {"Maximize", 3, 14, false, true}, {"Minimize", 3, 15, false, true}, {"Restore", 3, 11, false, true},
    {"Close Window", 3, 16, false, true}, {"Set Window Style", 3, 187, false, true},
    {"Child Control Action", 3, 10, false, true}, {"Minimize all Windows", 3, 17, false, true},
    {"Close all Windows", 3, 18, false, true},
    // 4 Keyboard
    {"Type", 4, 23, false, false}, {"Text via Clipboard", 4, 21, false, true},
    {"Direct Window Entry", 4, 22, false, true}, {"Block Input", 4, 76, false, true},
    {"Unblock Input", 4, 77, false, true},
    // 5 Menu
    {"Select Menu Item", 5, 242, false, true}, {"Select System Menu", 5, 74, false, true},
    {"Show Popup Menu", 5, 119, true, true},
    // 6 Mouse
    {"Mouse Click", 6, 24, false, true}, {"Move", 6, 148, false, false}, {"Move to Window", 6, 146, false, true},
    {"Move to Image", 6, 147, true, true}, {"Click on Image", 6, 150, true, true},
    {"Save Current Position", 6, 25, false, false}, {"Return to Saved Position", 6, 26, false, false},
    // 7 Wait
    {"Delay", 7, 155, false, false}, {"Wait for Date/Time", 7, 142, false, true},
    {"Wait for Keypress", 7, 168, false, true}, {"Wait for Typed Text", 7, 139, false, true},
    {"Wait for Mouse", 7, 144, false, true}, {"Wait for Window", 7, 162, false, true},
    {"Wait for File", 7, 157, false, true}, {"Wait for Folder", 7, 165, false, true},
    {"Wait for Pixel", 7, 153, true, true}, {"Wait for Image", 7, 154, true, true},
    {"Wait for Clipboard", 7, 141, false, true}, {"Wait for Screen Saver", 7, 140, false, true},
    {"Wait for Idle", 7, 156, false, true}, {"Wait for Restart", 7, 190, false, true},
    // 8 User Prompts
    {"Display Message", 8, 51, false, false}, {"Display Warning", 8, 151, false, false},
    {"Ask Yes/No Question", 8, 52, true, true}, {"Input Value", 8, 31, true, true},
    {"Screen Message", 8, 186, false, true}, {"Status Popup", 8, 55, false, true},
    {"Progress Bar Popup", 8, 145, false, true}, {"Balloon Popup", 8, 184, false, true},
    {"Tray Icon", 8, 41, false, true}, {"Display Image", 8, 158, false, true}, {"Login Prompt", 8, 138, true, true},
    {"Select from List", 8, 53, true, true}, {"Select File", 8, 54, true, true}, {"Select Folder", 8, 137, true, true},
    {"Select Drive", 8, 149, true, true}, {"Select Date", 8, 152, true, true}, {"Custom Message", 8, 133, true, true},
    {"Custom Dialog", 8, 134, true, true},
    // 9 Files & Folders
    {"Read File", 9, 36, true, true}, {"Read File Line", 9, 163, true, true}, {"Write/Create File", 9, 37, false, true},
    {"Get File Info", 9, 35, true, true}, {"Copy File", 9, 38, false, true}, {"Move/Rename File", 9, 39, false, true},
    {"Delete File", 9, 40, false, true}, {"Compare Files", 9, 4, true, false}, {"Search in File", 9, 34, true, true},
    {"Find File", 9, 214, true, true}, {"Count Files/Folders", 9, 93, true, true},
    {"Count File Lines", 9, 166, true, true}, {"Change File Size", 9, 164, false, true},
    {"Split File", 9, 201, false, true}, {"Create Folder", 9, 83, false, true}, {"Copy Folder", 9, 84, false, true},
    {"Move/Rename Folder", 9, 85, false, true}, {"Delete Folder", 9, 86, false, true},
    {"Set Current Directory", 9, 135, false, true}, {"Set File Association", 9, 169, false, true},
    {"Map Drive", 9, 91, false, true}, {"Map Drive Prompt", 9, 143, false, true},
    {"Create Shortcut", 9, 197, false, true}, {"Create Adobe PDF", 9, 200, false, true},
    // 10 Excel
    {"Create Workbook", 10, 202, false, true}, {"Open Workbook", 10, 203, false, true},
    {"Save Workbook", 10, 208, false, true}, {"Close Workbook", 10, 204, false, true},
    {"Get Cell", 10, 205, true, true}, {"Set Cell", 10, 206, false, true}, {"Select Cell", 10, 209, false, true},
    {"Get Cell Format", 10, 215, true, true}, {"Set Cell Format", 10, 207, false, true},
    // 11 Internet
    {"Start Browser", 11, 8, false, true}, {"Start Email", 11, 94, false, true},
    {"Open a Web Page", 11, 96, false, true}, {"Get Web Page Text", 11, 97, true, true},
    {"Extract Web Tag/Link", 11, 98, true, true}, {"Download", 11, 99, true, true}, {"HTTP Post", 11, 100, true, true},
    {"Check Email: POP3", 11, 101, true, true}, {"Delete Email: POP3", 11, 102, false, true},
    {"Send Email: SMTP", 11, 103, false, true}, {"Send Email: MAPI", 11, 104, false, true},
    {"Send Email: mailto", 11, 105, false, true}, {"FTP File List", 11, 213, true, true},
    {"FTP Download", 11, 106, true, true}, {"FTP Upload", 11, 107, false, true},
    {"FTP Delete File", 11, 108, false, true}, {"FTP Create Folder", 11, 109, false, true},
    {"FTP Delete Folder", 11, 110, false, true}, {"Ping IP Address", 11, 111, false, true},
    // 12 Data
    {"Execute SQL Query", 12, 32, true, true}, {"Get Columns", 12, 193, true, true},
    {"Get Tables", 12, 194, true, true}, {"Get Data Sources", 12, 192, true, true},
    {"Open Data Administrator", 12, 189, true, true}, {"Read Registry", 12, 129, true, true},
    {"Write Registry", 12, 130, false, true}, {"Copy Registry", 12, 131, false, true},
    {"Delete Registry", 12, 132, false, true}, {"Read INI Data", 12, 123, true, true},
    {"Write INI Data", 12, 124, false, true}, {"Delete INI Data", 12, 125, false, true},
    {"Encrypt Text", 12, 171, true, false}, {"Decrypt Text", 12, 172, true, false}, {"Sort", 12, 33, true, false},
    {"Binary Data", 12, 176, true, false}, {"Get Length", 12, 216, true, false}, {"Count Items", 12, 216, true, false},
    {"Find", 12, 216, true, false}, {"Get Sub String", 12, 216, true, false}, {"Mid String", 12, 216, true, false},
    {"Chop", 12, 216, true, false}, {"Replace", 12, 216, true, false}, {"Insert", 12, 216, true, false},
    {"Random Text", 12, 216, true, false},
    // 13 Loops & Flow
    {"Start 'For' Loop", 13, 42, true, false}, {"Start 'While' Loop", 13, 43, true, false},
    {"Start Text Loop", 13, 87, true, false}, {"Start Files Loop", 13, 44, true, true},
    {"Start File Line Loop", 13, 49, true, true}, {"Start Folders Loop", 13, 50, true, true},
    {"Start Windows Loop", 13, 46, true, true}, {"Start Dataset Loop", 13, 45, true, true},
    {"Start Registry Loop", 13, 191, true, true}, {"Start Process Loop", 13, 68, true, true},
    {"Break out of Loop", 13, 48, false, false}, {"NEXT LOOP", 13, 47, false, false}, {"Label", 13, 95, false, false},
    {"GOTO Label", 13, 66, false, true}, {"GOSUB Label", 13, 210, false, true},
    {"Return from GOSUB", 13, 211, false, true}, {"Set Run Repeats", 13, 64, false, false},
    {"Exit Run", 13, 70, false, false}, {"Exit Olvex Studio", 13, 71, false, false},
    // 14 IF
    {"IF Expression", 14, 185, false, true}, {"IF Text", 14, 195, false, true}, {"IF Variable", 14, 60, false, true},
    {"IF File Exists", 14, 57, false, true}, {"IF Folder Exists", 14, 167, false, true},
    {"IF Window Exists", 14, 56, false, true}, {"IF Key is Pressed", 14, 198, false, true},
    {"IF Caps Lock is On", 14, 173, false, true}, {"IF Pixel Equals", 14, 58, true, true},
    {"IF Pixel is Visible", 14, 122, true, true}, {"IF Image is Visible", 14, 67, true, true},
    {"IF Clipboard Contains", 14, 59, false, true}, {"IF Internet", 14, 188, false, true},
    {"IF Registry Key Exists", 14, 160, false, true}, {"IF Process is Running", 14, 161, false, true},
    {"ELSE", 14, 72, false, false}, {"END IF", 14, 73, false, false},
    // 15 Hardware
    {"Recording", 15, 20, false, true}, {"Processor (CPU) Details", 15, 79, true, false},
    {"Memory Details", 15, 199, true, false}, {"Video Details", 15, 78, true, false},
    {"Storage Details", 15, 212, true, false}, {"Operating System Details", 15, 29, true, false},
    {"Play Sound", 15, 121, false, true}, {"Play Tone", 15, 196, false, false},
    {"Change Display Settings", 15, 75, false, true}, {"Disable Screen Saver", 15, 174, false, false},
    {"Enable Screen Saver", 15, 175, false, false}, {"Serial Port Send", 15, 126, false, true},
    {"Serial Port Receive", 15, 127, true, true},
    // 16 System
    {"Comment", 16, 69, false, false}, {"Set Variable", 16, 63, true, false}, {"Delete Variable", 16, 114, true, false},
    {"Increment Variable", 16, 62, true, false}, {"Decrement Variable", 16, 61, true, false},
    {"Set Environment Variable", 16, 170, false, true}, {"Set Step Delay", 16, 65, false, false},
    {"Olvex Setting Change", 16, 27, false, false}, {"Write to Output", 16, 113, false, false},
    {"Write to Log", 16, 112, false, false}, {"Set Clipboard Text", 16, 80, false, true},
    {"Paste Clipboard", 16, 81, false, false}, {"Clear Clipboard", 16, 82, false, true},
    {"Image Capture", 16, 92, true, false}, {"Logoff", 16, 90, false, true}, {"Restart", 16, 89, false, true},
    {"Shutdown", 16, 88, false, true}, {"Windows API", 16, 120, true, true},
};

TEST(Catalog, HoldsEveryActionWithItsCategoryIdAndFlags) {
  const Catalog* catalog = ProgramCatalog();
  ASSERT_NE(catalog, nullptr);
  EXPECT_EQ(catalog->size(), std::size(kActions));
  for (const Expected& e : kActions) {
    SCOPED_TRACE(e.name);
    ActionInfo info;
    ASSERT_EQ(LookupAction(e.name, info), 1);
    EXPECT_EQ(info.category, e.category);
    EXPECT_EQ(info.action_id, e.action_id);
    EXPECT_EQ(info.saves_output, e.saves_output);
    EXPECT_EQ(info.can_fail, e.can_fail);
    EXPECT_TRUE(info.grid_text_column >= -1 && info.grid_text_column <= 9) << info.grid_text_column;
    // The default tags are a complete step element naming the action.
    EXPECT_EQ(info.default_tags.rfind("<step>", 0), 0u) << info.default_tags;
    EXPECT_NE(info.default_tags.find("<action>" + std::string(e.name) + "</action>"), std::string::npos);
    EXPECT_EQ(info.default_tags.size() - info.default_tags.rfind("</step>"), 7u);
  }
}

TEST(Catalog, ResourceKeepsTheTextFormat) {
  auto resource = platform::ReadModuleResource(kCatalogResource);
  ASSERT_TRUE(resource);
  const std::string& text = ProgramCatalog()->text();
  EXPECT_LT(text.size(), kCatalogMaxBytes);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(0, 2), "\r\n");  // begins with a line break
  // Stored compressed, the block begins with the low byte of this size: it must
  // not be one that marks plain text (CR, LF, tab, space, A-Z). If it is, add or
  // drop a character of the catalog.
  const auto low = static_cast<unsigned char>(text.size() & 0xFF);
  EXPECT_FALSE(low == '\r' || low == '\n' || low == '\t' || low == ' ' || (low >= 'A' && low <= 'Z'))
      << "catalog size " << text.size();
  int previous_category = 0;
  bool blank_before = true;
  std::size_t start = 2;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    if (line.empty()) {
      blank_before = true;
      continue;
    }
    EXPECT_LE(line.size(), kCatalogLineMax) << line;
    const std::size_t tilde = line.find('~');
    ASSERT_NE(tilde, std::string::npos) << line;
    EXPECT_LE(tilde, kCatalogNameMax) << line;
    const int category = std::stoi(line.substr(tilde + 1));
    // A new category starts after a blank line, and only there.
    EXPECT_EQ(category != previous_category, blank_before) << line;
    previous_category = category;
    blank_before = false;
  }
}

TEST(Catalog, LookupFollowsTheNameRules) {
  ActionInfo info;
  ASSERT_EQ(LookupAction("mouse click", info), 1);
  EXPECT_EQ(info.category, 6);
  EXPECT_EQ(info.action_id, 24);
  EXPECT_TRUE(info.can_fail);
  EXPECT_EQ(info.default_tags, "<step><action>Mouse Click</action><options>Left,Down+Up</options></step>");

  // Not in the catalog: 1, with everything at zero (also after an earlier hit).
  for (const char* name : {"Change Case", "Mouse", "Mouse Click ", " Mouse Click", "Mouse Click~6", "Mouse Click~6~24"}) {
    SCOPED_TRACE(name);
    info.category = 99;
    EXPECT_EQ(LookupAction(name, info), 1);
    EXPECT_EQ(info.category, 0);
    EXPECT_EQ(info.action_id, 0);
    EXPECT_FALSE(info.can_fail);
    EXPECT_TRUE(info.default_tags.empty());
  }
  EXPECT_EQ(LookupAction("", info), 0);
  EXPECT_EQ(LookupAction(nullptr, "Mouse Click", info), 0);

  // Five fields: grid text column and both flags read as 0.
  ASSERT_EQ(LookupAction("OLVEX SETTING CHANGE", info), 1);
  EXPECT_EQ(info.category, 16);
  EXPECT_EQ(info.action_id, 27);
  EXPECT_EQ(info.grid_text_column, 0);
  EXPECT_FALSE(info.saves_output);
  EXPECT_FALSE(info.can_fail);
  EXPECT_EQ(info.default_tags, "<step><action>Olvex Setting Change</action></step>");

  // \r and \n of the default tags become CR and LF.
  ASSERT_EQ(LookupAction("Show Popup Menu", info), 1);
  EXPECT_NE(info.default_tags.find("<text>Option One\r\nOption Two\r\n-----\r\nOption Three</text>"), std::string::npos);
}

TEST(Catalog, NamesAreComparedOverSixtyOneCharacters) {
  const std::string long_name(61, 'x');
  Catalog catalog("\r\n" + long_name + "~2~7~1~@~#\r\nShort~3~8~~N~N\r\n");
  ActionInfo info;
  EXPECT_EQ(LookupAction(&catalog, long_name + "yyyy", info), 1);
  EXPECT_EQ(info.action_id, 7);
  EXPECT_TRUE(info.saves_output);
  EXPECT_EQ(LookupAction(&catalog, long_name.substr(1), info), 1);
  EXPECT_EQ(info.action_id, 0);
  // A name past 61 characters in the catalog can never be matched.
  Catalog too_long("\r\n" + std::string(62, 'x') + "~2~7~1~@~#\r\n");
  EXPECT_EQ(too_long.size(), 0u);
}

TEST(Catalog, DefaultTagsAreCompletedTrimmedAndCut) {
  Catalog catalog(
      "\r\nBare~2~1~0~N~N~  <text>a\\r\\nb</text>  \r\n"
      "Whole~2~2~0~N~N~<step><action>Other</action><text>x</text></step>\r\n"
      "Open~2~3~0~N~N~<step><text>y</text>\r\n"
      "Tilde~2~4~0~N~N~<text>a~b</text>\r\n"
      "First~2~5~0~N~N\r\nfirst~2~6~0~N~N\r\n");
  ActionInfo info;
  LookupAction(&catalog, "bare", info);
  EXPECT_EQ(info.default_tags, "<step><action>Bare</action><text>a\r\nb</text></step>");
  LookupAction(&catalog, "Whole", info);
  EXPECT_EQ(info.default_tags, "<step><action>Other</action><text>x</text></step>");
  LookupAction(&catalog, "Open", info);
  EXPECT_EQ(info.default_tags, "<step><action>Open</action><text>y</text></step>");
  LookupAction(&catalog, "Tilde", info);
  EXPECT_EQ(info.default_tags, "<step><action>Tilde</action><text>a~b</text></step>");
  LookupAction(&catalog, "Bare", info, 8);  // 7 characters of field 7: "  <text"
  EXPECT_EQ(info.default_tags, "<step><action>Bare</action><text</step>");
  LookupAction(&catalog, "FIRST", info);  // the first line of a name wins
  EXPECT_EQ(info.action_id, 5);
}

TEST(Catalog, TakesPlainAndCompressedResources) {
  const std::string plain = "\r\nMouse Click~6~24~1~N~#~<options>Left,Down+Up</options>\r\n";
  Catalog compressed(LiteralBlock(plain));
  ASSERT_TRUE(compressed.loaded());
  EXPECT_EQ(compressed.text(), plain);
  ActionInfo info;
  EXPECT_EQ(LookupAction(&compressed, "Mouse Click", info), 1);
  EXPECT_EQ(info.action_id, 24);

  // Whole program catalog through the compressed form.
  Catalog again(LiteralBlock(ProgramCatalog()->text()));
  EXPECT_EQ(again.size(), ProgramCatalog()->size());

  // First byte tab, space or A-Z: plain; the first line then has no line feed before it.
  Catalog upper("Mouse Click~6~24~1~N~#\r\nMove~6~148~0~N~N\r\n");
  EXPECT_EQ(LookupAction(&upper, "Mouse Click", info), 1);
  EXPECT_EQ(info.action_id, 0);
  EXPECT_EQ(LookupAction(&upper, "Move", info), 1);
  EXPECT_EQ(info.action_id, 148);
  EXPECT_TRUE(Catalog("\tX").loaded());
  EXPECT_TRUE(Catalog(" X").loaded());

  // Anything else is a block; one that decodes to nothing leaves no catalog.
  EXPECT_FALSE(Catalog("x").loaded());
  EXPECT_FALSE(Catalog("").loaded());
  EXPECT_EQ(LookupAction(&compressed, "", info), 0);
}

TEST(Catalog, TextIsCutAt64KiB) {
  std::string text = "\r\n" + std::string(kCatalogMaxBytes - 2, ' ') + "\r\nLate~2~1~0~N~N\r\n";
  Catalog catalog(text);
  EXPECT_EQ(catalog.text().size(), kCatalogMaxBytes);
  ActionInfo info;
  LookupAction(&catalog, "Late", info);
  EXPECT_EQ(info.category, 0);
}

TEST(Catalog, ConcurrentLookupsAgree) {
  std::vector<std::thread> threads;
  std::vector<int> ids(8, -1);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&ids, t] {
      for (int i = 0; i < 200; ++i) {
        ActionInfo info;
        LookupAction("Set Variable", info);
        ids[static_cast<std::size_t>(t)] = info.action_id;
      }
    });
  for (auto& t : threads) t.join();
  for (int id : ids) EXPECT_EQ(id, 63);
}

TEST(NoCase, FindsAndComparesWithoutRegardToCase) {
  EXPECT_EQ(FindNoCase("abc<ACTION>", "<action"), 3u);
  EXPECT_EQ(FindNoCase("abc", "abcd"), std::string_view::npos);
  EXPECT_EQ(FindNoCase("aXbxc", "xc"), 3u);
  EXPECT_EQ(FindNoCase("xyz", "z", 3), std::string_view::npos);
  EXPECT_TRUE(EqualsNoCase("Mouse Click", "MOUSE click"));
  EXPECT_FALSE(EqualsNoCase("Mouse", "Mouse "));
  EXPECT_TRUE(StartsWithNoCase("IF Process x", "if process"));
  EXPECT_EQ(NoCaseHash{}("Set Variable"), NoCaseHash{}("SET VARIABLE"));
}

}  // namespace
}  // namespace olvex::test
