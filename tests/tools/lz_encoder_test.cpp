#include "tools/lz_encoder.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <random>

#include "engine/compress.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

std::vector<int> AllWindows() {
  std::vector<int> windows;
  for (int w = 0; w <= 64; ++w) windows.push_back(w);
  windows.insert(windows.end(), {100, 255});
  return windows;
}

// Compresses with the given window and checks that the block decodes to the input.
std::string RoundTrip(std::string_view data, int window_kib, bool avoid_plain = false, int max_chain = 256) {
  lz::EncodeOptions options;
  options.window_kib = window_kib;
  options.avoid_plain_first_byte = avoid_plain;
  options.max_chain = max_chain;
  auto block = lz::Compress(data, options);
  if (!block) {
    ADD_FAILURE() << "no block for " << data.size() << " bytes, window " << window_kib;
    return {};
  }
  std::string back = Decompress(*block);
  EXPECT_EQ(back.size(), data.size()) << "window " << window_kib;
  EXPECT_TRUE(back == data) << "window " << window_kib << ", " << data.size() << " bytes";
  return *block;
}

std::string RandomBytes(std::mt19937& rng, std::size_t n, unsigned alphabet) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>('a' + rng() % alphabet);
  return s;
}

// Copies of one text with small edits at every distance, and runs of one byte
// in between: matches near both ends of the window and runs that keep out of it.
std::string EditedCopies(std::mt19937& rng, std::size_t n) {
  std::string base = RandomBytes(rng, 50 + rng() % 3000, 256);
  std::string s;
  while (s.size() < n) {
    switch (rng() % 4) {
      case 0:
        s.append(static_cast<std::size_t>(1 + rng() % 120), static_cast<char>(rng()));
        break;
      case 1:
        s += RandomBytes(rng, 1 + rng() % 20, 3);
        break;
      default: {
        std::size_t from = rng() % base.size();
        std::size_t len = std::min<std::size_t>(base.size() - from, 1 + rng() % 200);
        s += base.substr(from, len);
        base[rng() % base.size()] = static_cast<char>(rng());
      }
    }
  }
  s.resize(n);
  return s;
}

TEST(LzEncoder, RandomAndEditedDataInEveryWindow) {
  std::mt19937 rng(7);
  for (int w : AllWindows()) {
    SCOPED_TRACE(w);
    // The empty input is the header alone.
    EXPECT_EQ(RoundTrip("", w).size(), 5u);
    for (const std::string& tiny : {std::string("x"), std::string(1, '\0'), std::string("\xFF\xFF")}) RoundTrip(tiny, w);
    const std::size_t W = WindowParamsFor(static_cast<std::uint8_t>(w)).size;
    // Short chains: what is checked here is where matches point, not how long they are.
    const int chain = 32;
    RoundTrip(RandomBytes(rng, W, 256), w, false, chain);
    RoundTrip(RandomBytes(rng, W + 1, 4), w, false, chain);
    RoundTrip(RandomBytes(rng, rng() % 3000, 1 + rng() % 256), w, false, chain);
    RoundTrip(EditedCopies(rng, W + 1 + rng() % 2000), w, false, chain);
    if (std::has_single_bit(W) || w == 255) RoundTrip(EditedCopies(rng, 3 * W), w, false, chain);
  }
}

TEST(LzEncoder, InputsOfExactlyTheWindowSizeAndOneMore) {
  std::mt19937 rng(11);
  for (int w : {1, 2, 4, 16, 64}) {
    SCOPED_TRACE(w);
    const std::size_t W = static_cast<std::size_t>(w) * 1024;
    // A text as long as the window, then its start again: the repeat lies
    // exactly one window back, at window position 0.
    std::string first = RandomBytes(rng, W, 256);
    std::size_t alone = RoundTrip(first, w).size();
    EXPECT_LT(RoundTrip(first + first.substr(0, 1), w).size(), alone + 3);
    EXPECT_LT(RoundTrip(first + first.substr(0, 200), w).size(), alone + 40);  // 200 literals: 225
    // One byte further back it is out of reach.
    EXPECT_GT(RoundTrip(first + "!" + first.substr(0, 200), w).size(), alone + 200);
  }
}

TEST(LzEncoder, RunsOfOneByteGoAroundTheWindow) {
  for (int w : {0, 1, 2, 4, 8, 16, 32, 64, 3, 100}) {
    SCOPED_TRACE(w);
    RoundTrip(std::string(1000, 'a'), w);
    RoundTrip(std::string(36, ' ') + "x" + std::string(37, ' ') + "y" + std::string(38, ' '), w);
    // Text, a long run, the same text: the second copy is one match away, since
    // the run's bytes never entered the window.
    std::string text = "<step><action>Set Variable</action></step>";
    std::string block = RoundTrip(text + std::string(5000, '-') + text + std::string(70, '\0') + text, w);
    if (w != 3 && w != 100) {
      EXPECT_LT(block.size(), text.size() + 40);
    }
  }
  EXPECT_EQ(RoundTrip("", lz::kAutoWindow).size(), 5u);
  // A run longer than one run token holds.
  std::string huge(0x1000005, 'z');
  huge += "end";
  EXPECT_LT(RoundTrip(huge, 64).size(), 30u);
  EXPECT_LT(RoundTrip(huge, lz::kAutoWindow).size(), 30u);
}

TEST(LzEncoder, LeadingZerosMatchTheEmptyWindow) {
  std::string zeros(30, '\0');  // below the length that takes a run token
  for (int w : {1, 4, 64}) EXPECT_LT(RoundTrip(zeros + "abc" + zeros, w).size(), 5u + 16);
}

TEST(LzEncoder, CompressesScriptText) {
  // The repository's own texts: scripts, sources, notes.
  namespace fs = std::filesystem;
  int files = 0;
  for (const char* folder : {"examples", "engine", "tools"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(OLVEX_SOURCE_DIR) / folder)) {
      std::string text = ReadBytes(entry.path().string());
      if (text.size() < 200) continue;
      std::string block = RoundTrip(text, lz::kAutoWindow);
      EXPECT_LT(block.size(), text.size()) << entry.path();
      if (text.size() >= 2000) {
        EXPECT_LT(block.size() * 3, text.size() * 2) << entry.path();  // better than 1.5 : 1
      }
      ++files;
    }
  }
  EXPECT_GE(files, 5);
  std::string script;
  for (int i = 0; i < 400; ++i)
    script += "<step><action>Type</action><text>line " + std::to_string(i * 37 % 1000) +
              "{ENTER}</text><onfail value=\"\">Stop</onfail></step>\r\n";
  EXPECT_LT(RoundTrip(script, lz::kAutoWindow).size() * 4, script.size());
}

TEST(LzEncoder, BlocksCanBeToldFromPlainText) {
  // Sizes whose low byte is CR, LF, tab, space or A-Z.
  std::mt19937 rng(3);
  for (std::size_t size : {9u, 10u, 13u, 32u, 65u, 90u, 256u + 13u, 1024u + 77u, 4096u + 32u, 65536u + 10u}) {
    std::string data = EditedCopies(rng, size);
    for (int w : {lz::kAutoWindow, 0, 1, 2, 8, 32, 64}) {
      SCOPED_TRACE(testing::Message() << size << " bytes, window " << w);
      std::string block = RoundTrip(data, w, true);
      ASSERT_FALSE(block.empty());
      EXPECT_FALSE(lz::StartsLikePlainText(static_cast<unsigned char>(block[0])));
      const int window_byte = static_cast<unsigned char>(block[4]);
      EXPECT_TRUE(window_byte <= 1 || window_byte == 4 || window_byte == 16 || window_byte == 64) << window_byte;
    }
  }
  // Sizes that need nothing keep the window and size they have.
  std::string block = RoundTrip(std::string(300, 'x') + "abc", 2, true);
  EXPECT_EQ(static_cast<unsigned char>(block[4]), 2);
  EXPECT_EQ(static_cast<unsigned char>(block[0]), 303 & 0xFF);
  // No window from 65 KiB on can end the stream on a byte.
  lz::EncodeOptions options;
  options.window_kib = 100;
  options.avoid_plain_first_byte = true;
  EXPECT_FALSE(lz::Compress("0123456789", options));
}

TEST(LzEncoder, RefusesWhatTheBlockCannotHold) {
  lz::EncodeOptions options;
  for (int w : {-2, 256, 1000}) {
    options.window_kib = w;
    EXPECT_FALSE(lz::Compress("abc", options)) << w;
  }
  // 4 GiB does not fit the size field; nothing of the input is read.
  std::string small = "x";
  EXPECT_FALSE(lz::Compress(std::string_view(small.data(), std::size_t{0x100000000}), {}));
}

}  // namespace
}  // namespace olvex::test
