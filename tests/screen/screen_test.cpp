// The edges of the image and pixel search, the pictures it reads (pixel
// lists, colour texts, BMP files, bad ones too), and the steps that use it,
// over a fake screen.
#include <gtest/gtest.h>

#include <tuple>

#include "engine/document.h"
#include "engine/if_step.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/settings.h"
#include "platform/clipboard.h"
#include "screen/picture.h"
#include "screen/screen_actions.h"
#include "tests/support/case_table.h"
#include "tests/support/fake_screen.h"
#include "tests/support/script_test.h"
#include "vars/system_actions.h"
#include "vars/variables.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace olvex::test {
namespace {

Picture Flat(int width, int height, Colour colour) {
  return {width, height, 24, std::vector<Colour>(static_cast<std::size_t>(width * height), colour)};
}

// Fixed points of the search's meaning that random cases do not reach (a
// picture larger than the screen, an empty one, the percentage's rounding);
// tests/screen/search_test.cpp compares the search with the plain scan at random.
TEST(ScreenSearch, EdgeCases) {
  std::vector<Colour> screen(40 * 30, 0x202020);
  const Frame frame{40, 30, screen.data()};
  Picture pattern = Flat(10, 10, 0);
  for (int i = 0; i < 100; ++i) pattern.pixels[i] = static_cast<Colour>(0x010203 * (i + 1));
  for (int i = 0; i < 100; ++i) screen[(12 + i / 10) * 40 + 25 + i % 10] = pattern.pixels[i];
  Picture differ10 = pattern, differ11 = pattern;
  for (int i = 1; i <= 10; ++i) differ10.pixels[i * 9] = differ11.pixels[i * 9] = 0xABCDEF;
  differ11.pixels[5] = 0xABCDEF;
  const Picture grey = Flat(1, 1, platform::MakeColour(100, 100, 100));
  std::vector<Colour> one{platform::MakeColour(116, 84, 100)}, other{platform::MakeColour(117, 100, 100)};

  struct Case {
    const char* what;
    const Picture& picture;
    int percent;
    std::optional<Point> at;
  };
  const Case cases[] = {
      {"10 of 100 differ, 90 %", differ10, 90, Point{25, 12}},
      {"11 of 100 differ, 90 %", differ11, 90, std::nullopt},
      {"100000 x 1", Flat(100000, 1, 0x202020), 100, std::nullopt},
      {"0 x 0", Picture{}, 100, std::nullopt},
  };
  for (const Case& c : cases) {
    const ImageQuery query{std::nullopt, 0, AllowedMismatches(c.picture.width * c.picture.height, c.percent), kNoMask,
                           false};
    const ImageMatch m = SearchImage(frame, c.picture, query);
    EXPECT_EQ(m.found, c.at.has_value()) << c.what;
    if (c.at && m.found) {
      EXPECT_EQ(m.at, *c.at) << c.what;
    }
  }
  // Tolerance 16 against the screen pixel (100, 100, 100).
  const Frame grey_frame{1, 1, grey.pixels.data()};
  EXPECT_TRUE(SearchImage(grey_frame, {1, 1, 24, one}, {std::nullopt, 16, 0, kNoMask, false}).found);
  EXPECT_FALSE(SearchImage(grey_frame, {1, 1, 24, other}, {std::nullopt, 16, 0, kNoMask, false}).found);
  // The required matches are the percentage of the pixels rounded to the nearest.
  EXPECT_EQ(AllowedMismatches(7, 50), 3);
  EXPECT_EQ(AllowedMismatches(10, 91), 1);
}

std::vector<CaseRow> Cases(const std::string& section, std::size_t fields) {
  return CaseSection("tests/screen/picture_cases.txt", section, fields);
}
Colour Hex(const std::string& text) { return static_cast<Colour>(std::stoul(text, nullptr, 16)); }

TEST(ScreenPictures, PixelListsAndColourTexts) {
  for (const CaseRow& row : Cases("pixel lists", 3)) {
    const Picture p = ParsePixelList(row.fields[0]);
    EXPECT_EQ(p.width, std::stoi(row.fields[1])) << row.where;
    EXPECT_EQ(p.height, p.width) << row.where;
    if (p.width > 0) {
      EXPECT_EQ(p.pixels[0], Hex(row.fields[2])) << row.where;
    }
  }
  EXPECT_EQ(ParsePixelList(std::string(1 << 20, ',')).width, 0);
  std::string megabyte;
  while (megabyte.size() < (1u << 20)) megabyte += "1A2,";
  EXPECT_EQ(ParsePixelList(megabyte).width, 64);
  for (const CaseRow& row : Cases("pixel list or files", 2))
    EXPECT_EQ(IsPixelList(row.fields[0]), row.fields[1] == "yes") << row.where;
  for (const CaseRow& row : Cases("colour texts", 2))
    EXPECT_EQ(ParseColorText(row.fields[0]), Hex(row.fields[1])) << row.where;
  EXPECT_EQ(ColorText(0x563412), "123456");
}

// A BMP file of the given header fields and pixel bytes.
std::string Bmp(int width, int height, int bits, std::uint32_t compression, const std::string& extra,
                const std::string& data) {
  std::string b = "BM";
  auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<char>(i < 4 ? v >> (8 * i) : 0));
  };
  put(static_cast<std::uint32_t>(54 + extra.size() + data.size()), 4);
  put(0, 4);
  put(static_cast<std::uint32_t>(54 + extra.size()), 4);
  put(40, 4);
  put(static_cast<std::uint32_t>(width), 4);
  put(static_cast<std::uint32_t>(height), 4);
  put(1, 2);
  put(static_cast<std::uint32_t>(bits), 2);
  put(compression, 4);
  put(static_cast<std::uint32_t>(data.size()), 4);
  put(0, 16);
  return b + extra + data;
}

TEST(ScreenPictures, BmpFilesOfEveryDepthAndBadOnes) {
  const std::vector<Colour> pixels{0x0000FF, 0x00FF00, 0xFF0000, 0x123456, 0xFFFFFF, 0};
  Picture p;
  std::string error;
  ASSERT_TRUE(ReadBmp(WriteBmp(pixels.data(), 3, 2), p, error)) << error;
  EXPECT_EQ(p.pixels, pixels);
  EXPECT_EQ(p.width, 3);

  // Each file with the colours read from it (none: refused).
  std::vector<std::tuple<CaseRow, std::string, std::vector<Colour>>> files;
  for (const CaseRow& row : Cases("bmp files", 8)) {
    const auto& f = row.fields;
    std::vector<Colour> want;
    for (std::size_t at = 0; f[7] != "refused" && at < f[7].size(); at += 7) want.push_back(Hex(f[7].substr(at, 6)));
    files.emplace_back(row, Bmp(std::stoi(f[1]), std::stoi(f[2]), std::stoi(f[3]),
                                static_cast<std::uint32_t>(std::stoul(f[4])), f[5], f[6]), want);
  }
  for (const CaseRow& row : Cases("not bmp files", 2)) files.emplace_back(row, row.fields[1], std::vector<Colour>{});
  for (const auto& [row, file, want] : files) {
    const bool read = ReadBmp(file, p, error);
    EXPECT_EQ(read, !want.empty()) << row.where << error;
    if (read) {
      EXPECT_EQ(p.pixels, want) << row.where;
    } else {
      EXPECT_FALSE(error.empty()) << row.where;
    }
  }
  Picture wide;
  const std::vector<Colour> row(100000, 0x00FF00);
  ASSERT_TRUE(ReadBmp(WriteBmp(row.data(), 100000, 1), wide, error));
  EXPECT_EQ(wide.width, 100000);
}

// Steps over the fake screen: image lists, the single-point test, the IF
// conditions and Image Capture.
class ScreenStepTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    screen_.Paint(30, 20, red_.width, red_.height, red_.pixels);
    screen_.Paint(50, 5, masked_.width, masked_.height, masked_.pixels);
    screen_.pixels[5 * 80 + 50] = 0x111111;  // under the masked pixels
    screen_.pixels[6 * 80 + 51] = 0x222222;
    SetLogLevel(2);
    SetLogObserver([this](const std::string& line) { log_.push_back(line); });
  }
  void TearDown() override {
    SetLogObserver(nullptr);
    ScriptTest::TearDown();
  }
  std::string File(const std::string& name, const Picture& p) {
    dir().Write(name, WriteBmp(p.pixels.data(), p.width, p.height));
    return name;
  }
  int Find(const std::string& xml, ImageSpot& spot) {
    Load(xml);
    return FindImageForStep(0, 0, spot);
  }

  PaintedScreen screen_{80, 60, 0x336699};
  Picture red_ = Flat(4, 3, 0x0000FF);
  Picture masked_ = [] {
    Picture p = Flat(3, 3, 0x00FF00);
    p.pixels[0] = p.pixels[4] = 0xFF00FF;
    return p;
  }();
  std::vector<std::string> log_;
};

TEST_F(ScreenStepTest, FindImageForStepReadsTheStepsFields) {
  const std::string absent = File("absent.bmp", Flat(2, 2, 0x00FFFF)), red = File("red.bmp", red_);
  ImageSpot spot;
  EXPECT_EQ(Find("<step><action>IF Image is Visible</action><text>" + absent + " ; " + red + "</text></step>", spot), 1);
  EXPECT_EQ(std::make_tuple(spot.left, spot.top, spot.width), std::make_tuple(30, 20, 4));
  EXPECT_NE(std::find(log_.begin(), log_.end(), "    Searching for image (#2) \"red.bmp\""), log_.end());
  EXPECT_NE(std::find(log_.begin(), log_.end(), "    Match Method: Fast Scan (Video Memory), RGB Tolerance: 0, "
                                                 "Required Percentage: 100%"),
            log_.end());
  // A pixel list of the same red, in a rectangle that starts right of it.
  EXPECT_EQ(Find("<step><action>IF Image is Visible</action><text>F00*16,</text><value2>31,0</value2></step>", spot), 0);
  EXPECT_EQ(Find("<step><action>IF Image is Visible</action><text>F00*9,</text><value2>31,0</value2></step>", spot), 1);
  EXPECT_EQ(spot.left, 31);
  // Masked: the step's option, and *\MaskColor.
  const std::string green = File("green.bmp", masked_);
  EXPECT_EQ(Find("<step><action>IF Image is Visible</action><text>" + green + "</text></step>", spot), 0);
  EXPECT_EQ(Find("<step><action>IF Image is Visible</action><text>" + green + "</text><options>Masked</options></step>", spot), 1);
  EXPECT_EQ(spot.left, 50);
  WriteSetting("*\\MaskColor", 0x100);
  EXPECT_EQ(Find("<step><action>IF Image is Visible</action><text>" + green + "</text><options>Masked</options></step>", spot), 0);
  // The single point 5,5 against the colour text.
  EXPECT_EQ(Find("<step><action>IF Pixel is Visible</action><text>#996633</text><value2>5,5</value2><value3>5,5</value3></step>", spot), 1);
  EXPECT_EQ(Find("<step><action>IF Pixel is Visible</action><text>red</text><value2>5,5</value2><value3>5,5</value3></step>", spot), 0);
  EXPECT_EQ(Find("<step><action>IF Pixel is Visible</action><text>red</text><value2>31,21</value2></step>", spot), 1);
  EXPECT_EQ(spot.left, 31);
  EXPECT_EQ(spot.top, 21);
  EXPECT_EQ(Find("<step><action>IF Image is Visible</action><text>nowhere.bmp</text></step>", spot), -1);
  EXPECT_EQ(StepError(), "Unable to open file 'nowhere.bmp'");
}

TEST_F(ScreenStepTest, IfConditionsAndImageCapture) {
  Load("<step><action>IF Pixel Equals</action><text>RED</text><value1>30+2, (40/2)</value1><options>Quick</options></step>");
  EXPECT_EQ(HandleIfStep(0, 0), 1);
  EXPECT_NE(std::find(log_.begin(), log_.end(), "    FF0000 = RED"), log_.end());
  Load("<step><action>IF Image is Visible</action><text>F00*4,</text><options>Quick</options>"
       "<output value=\"where\">Variable</output></step>");
  EXPECT_EQ(HandleIfStep(0, 0), 1);
  EXPECT_EQ(ReadUserVariable("where"), "30, 20");

  const std::string saved = dir().File("shot.bmp");
  Load("<step><action>Image Capture</action><options>Area</options><value1>29,19</value1><value2>6,5</value2>"
       "<output value=\"" + saved + "\">File</output></step>");
  ASSERT_EQ(HandleSystemStep(0, 0), 1) << StepError();
  Picture shot;
  std::string error;
  ASSERT_TRUE(ReadBmp(ReadBytes(saved), shot, error)) << error;
  EXPECT_EQ(shot.width, 6);
  EXPECT_EQ(shot.pixels[0], 0x336699u);
  EXPECT_EQ(shot.pixels[7], 0x0000FFu);

  // To the clipboard: the same picture (Windows), or why not.
  Load("<step><action>Image Capture</action><options>Area</options><value1>29,19</value1><value2>6,5</value2>"
       "<output>Clipboard</output></step>");
#ifdef _WIN32
  ASSERT_EQ(HandleSystemStep(0, 0), 1) << StepError();
  const std::optional<std::string> dib = platform::clipboard().Picture();
  ASSERT_TRUE(dib.has_value());
  EXPECT_EQ(dib->substr(0, 40 + 5 * 20), ReadBytes(saved).substr(14));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_BITMAP));
#else
  EXPECT_EQ(HandleSystemStep(0, 0), 0);
  EXPECT_EQ(StepError(), "Pictures cannot be put on the clipboard on this system");
#endif
}

}  // namespace
}  // namespace olvex::test
