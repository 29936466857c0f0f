#include "engine/compress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

namespace olvex::test {
namespace {

// Builds blocks token by token; the offset width and mask are given, not derived.
class BlockBuilder {
 public:
  BlockBuilder(std::uint32_t size, std::uint8_t window_byte, int offset_bits, std::uint32_t mask)
      : offset_bits_(offset_bits), mask_(mask) {
    for (int i = 0; i < 4; ++i) block_.push_back(static_cast<char>(size >> (8 * i) & 0xFF));
    block_.push_back(static_cast<char>(window_byte));
  }
  BlockBuilder& Bits(std::uint32_t value, int k) {
    for (int i = 0; i < k; ++i, ++bit_) {
      if (bit_ % 8 == 0) block_.push_back('\0');
      if (value >> i & 1) block_.back() = static_cast<char>(block_.back() | 1 << (bit_ % 8));
    }
    return *this;
  }
  BlockBuilder& Literal(unsigned char c) { return Bits(0, 1).Bits(c, 8); }
  BlockBuilder& Match(std::uint32_t position, std::uint32_t length_field) {
    return Bits(1, 1).Bits(position, offset_bits_).Bits(length_field, 4);
  }
  BlockBuilder& Run(std::uint32_t count, unsigned char byte) {
    return Bits(1, 1).Bits(mask_, offset_bits_).Bits(count | std::uint32_t{byte} << 24, 32);
  }
  BlockBuilder& Text(std::string_view s) {
    for (char c : s) Literal(static_cast<unsigned char>(c));
    return *this;
  }
  const std::string& block() const { return block_; }

 private:
  int offset_bits_;
  std::uint32_t mask_;
  std::string block_;
  std::uint64_t bit_ = 0;
};

// The window as the format describes it, literally: W bytes and a zero tail of
// 4096, every literal or match moves the content towards 0 and writes its bytes
// at the end; runs leave it alone. Slow and plain, to check the decoder against.
std::string ModelDecode(const std::string& block, std::uint32_t W, std::uint32_t L0, int B) {
  if (block.size() < 6) return {};
  auto bit = [&](std::uint64_t n) -> std::uint32_t {
    return n / 8 < block.size() ? static_cast<unsigned char>(block[n / 8]) >> (n % 8) & 1 : 0;
  };
  std::uint64_t pos = 40;
  auto take = [&](int k) {
    std::uint32_t v = 0;
    for (int i = 0; i < k; ++i) v |= bit(pos++) << i;
    return v;
  };
  std::uint32_t total = 0;
  for (int i = 0; i < 4; ++i) total |= std::uint32_t{static_cast<unsigned char>(block[i])} << (8 * i);
  std::vector<unsigned char> window(W + 4096, 0);
  std::string out;
  auto slide_in = [&](const std::vector<unsigned char>& bytes) {
    std::memmove(window.data(), window.data() + bytes.size(), W - bytes.size());
    std::memcpy(window.data() + W - bytes.size(), bytes.data(), bytes.size());
  };
  while (out.size() < total) {
    if (take(1) == 0) {
      std::vector<unsigned char> c{static_cast<unsigned char>(take(8))};
      out.push_back(static_cast<char>(c[0]));
      slide_in(c);
    } else if (std::uint32_t f = take(B); f == W - 1) {
      std::uint32_t word = take(32);
      for (std::uint32_t i = 0; i < (word & 0xFFFFFF) && out.size() < total; ++i) out.push_back(static_cast<char>(word >> 24));
    } else {
      std::uint32_t n = take(4) + L0;
      std::vector<unsigned char> copy(window.begin() + f, window.begin() + f + n);
      for (unsigned char c : copy)
        if (out.size() < total) out.push_back(static_cast<char>(c));
      slide_in(copy);
    }
    if (pos / 8 >= block.size()) break;
  }
  return out;
}

struct Geometry { std::uint8_t window_byte; std::uint32_t size, mask, min_match, offset_bits; };

TEST(WindowParams, FollowTheWindowByte) {
  const Geometry table[] = {
      {0, 1024, 1023, 2, 10},   {1, 1024, 1023, 2, 10},      {2, 2048, 2047, 2, 11},     {3, 3072, 3071, 2, 11},
      {4, 4096, 4095, 3, 12},   {5, 5120, 5119, 3, 11},      {16, 16384, 16383, 3, 14},  {32, 32768, 32767, 3, 15},
      {64, 65536, 65535, 3, 16}, {255, 261120, 261119, 3, 15},
  };
  for (const Geometry& g : table) {
    WindowParams p = WindowParamsFor(g.window_byte);
    EXPECT_EQ(std::make_tuple(p.size, p.mask, p.min_match, p.offset_bits),
              std::make_tuple(g.size, g.mask, g.min_match, g.offset_bits)) << int(g.window_byte);
  }
}

TEST(ReadBits, LeastSignificantFirstAcrossBytesAndZeroPastTheEnd) {
  const std::string block("\xB4\x5A\xFF\x01", 4);
  const std::tuple<std::size_t, int, std::uint32_t> cases[] = {  // at, count, bits
      {0, 1, 0}, {2, 1, 1}, {4, 8, 0xAB},  // high half of 0xB4, then low half of 0x5A
      {0, 32, 0x01FF5AB4}, {3, 32, 0x01FF5AB4u >> 3}, {20, 12, 0x01F},
      {24, 16, 0x0001},  // the last byte, then zeros
      {1000, 32, 0}, {5, 0, 0}};
  for (const auto& [at, count, bits] : cases) EXPECT_EQ(ReadBits(block, at, count), bits) << at << "+" << count;
}

// Random streams of every token kind against the literal model of the window,
// for every window size: positions all over the window and its zero tail, runs
// of 0 and more, sizes that cut the last token.
TEST(Decompress, AgreesWithTheModelOnRandomTokenStreams) {
  std::mt19937 rng(20240611);
  std::vector<int> windows;
  for (int w = 0; w <= 64; ++w) windows.push_back(w);
  windows.insert(windows.end(), {100, 200, 255});
  for (int window_byte : windows) {
    const WindowParams p = WindowParamsFor(static_cast<std::uint8_t>(window_byte));
    const std::uint32_t reach = 1u << p.offset_bits;
    const bool has_runs = p.mask < reach;
    for (int round = 0; round < 12; ++round) {
      BlockBuilder b(0, static_cast<std::uint8_t>(window_byte), static_cast<int>(p.offset_bits), p.mask);
      std::uint64_t size = 0;
      const int tokens = static_cast<int>(rng() % 400);
      for (int t = 0; t < tokens; ++t) {
        unsigned kind = rng() % 20;
        if (kind < 9) {
          b.Literal(static_cast<unsigned char>(rng() % 4 ? 'a' + rng() % 4 : rng()));
          size += 1;
        } else if (kind < 18 || !has_runs) {
          std::uint32_t f = kind % 2 ? p.size - 1 - rng() % 40 : rng() % reach;  // often near the end
          if (f >= reach || f == p.mask) f = reach - 2;
          std::uint32_t n = rng() % 16;
          b.Match(f, n);
          size += n + p.min_match;
        } else {
          std::uint32_t count = rng() % 3 == 0 ? 0 : rng() % 50;
          b.Run(count, static_cast<unsigned char>(rng()));
          size += count;
        }
      }
      // Mostly the exact size; sometimes one that cuts the output short or
      // outlasts the stream.
      std::uint32_t header = static_cast<std::uint32_t>(size);
      if (round % 4 == 1) header = static_cast<std::uint32_t>(rng() % (size + 1));
      if (round % 4 == 2) header = static_cast<std::uint32_t>(size + 1 + rng() % 30);
      std::string block = b.block();
      for (int i = 0; i < 4; ++i) block[i] = static_cast<char>(header >> (8 * i) & 0xFF);
      ASSERT_EQ(Decompress(block), ModelDecode(block, p.size, p.min_match, static_cast<int>(p.offset_bits)))
          << "window " << window_byte << " round " << round;
    }
  }
}

// Cut matches and runs and streams that end early are in the random streams
// above; here the sizes no stream can reach.
TEST(Decompress, ASizeBeyondTheStreamOrTooShortABlock) {
  // A huge size with a short stream gives what the stream holds (and the zero
  // bits past the block read as one more literal 0).
  BlockBuilder huge(0xFFFFFFFF, 64, 16, 65535);
  huge.Text("tiny").Run(1000, '.');
  EXPECT_EQ(Decompress(huge.block()), "tiny" + std::string(1000, '.') + std::string(1, '\0'));

  // Shorter than 6 bytes, or a size of 0: nothing.
  EXPECT_EQ(Decompress(""), "");
  EXPECT_EQ(Decompress(std::string("\x05\0\0\0\0", 5)), "");
  EXPECT_EQ(Decompress(std::string("\0\0\0\0\0\x42", 6)), "");
  EXPECT_EQ(Decompress(std::string("\x01\0\0\0\0\x82", 6)), "A");  // literal 0x41 in bits 1..8
}

TEST(CarriedScript, ScramblingAlternatesTheTwoKeyBytesAndUndoesItself) {
  std::string block("\0\0\0\xFF\x10", 5);
  ScrambleCarriedBlock(block);
  EXPECT_EQ(block.substr(0, 4), std::string({static_cast<char>(kCarriedScriptKey[0]), static_cast<char>(kCarriedScriptKey[1]),
                                              static_cast<char>(kCarriedScriptKey[0]),
                                              static_cast<char>(0xFF ^ kCarriedScriptKey[1])}));
  ScrambleCarriedBlock(block);
  EXPECT_EQ(block, std::string("\0\0\0\xFF\x10", 5));
}

TEST(CarriedScript, AppendedBlockIsFoundByItsLengthTrailer) {
  const std::string path = "no-such-program.exe";  // no resource to find
  std::string block = "BLOCK-bytes";
  std::string scrambled = block;
  ScrambleCarriedBlock(scrambled);
  auto le32 = [](std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
    return s;
  };
  EXPECT_EQ(ExtractCarriedScript(path, "MZ program" + scrambled + le32(11)), block);
  // A length larger than the file takes everything before the trailer.
  EXPECT_EQ(ExtractCarriedScript(path, scrambled + le32(0xFFFFFFF0)), block);
  EXPECT_EQ(ExtractCarriedScript(path, scrambled + le32(12)), block);
  // A trailer of 0, or no room for one: no carried script.
  EXPECT_FALSE(ExtractCarriedScript(path, "MZ program" + le32(0)));
  EXPECT_FALSE(ExtractCarriedScript(path, le32(0)));
  EXPECT_FALSE(ExtractCarriedScript(path, "MZ\x01"));
  EXPECT_FALSE(ExtractCarriedScript(path, ""));
}

}  // namespace
}  // namespace olvex::test
