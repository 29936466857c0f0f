#pragma once
// Test helpers: compressed blocks and executables that carry a script.
#include <cstdint>
#include <string>

#include "engine/compress.h"

namespace olvex::test {

// A compressed block of literals only (4 KiB window): the simplest valid block.
inline std::string LiteralBlock(const std::string& text) {
  std::string block(5, '\0');
  const auto size = static_cast<std::uint32_t>(text.size());
  for (int i = 0; i < 4; ++i) block[static_cast<std::size_t>(i)] = static_cast<char>(size >> (8 * i));
  block[4] = 4;
  std::uint64_t bit = 0;
  auto put = [&](unsigned value, int k) {
    for (int i = 0; i < k; ++i, ++bit) {
      if (bit / 8 + 5 >= block.size()) block.push_back('\0');
      if (value >> i & 1) block[5 + bit / 8] = static_cast<char>(block[5 + bit / 8] | (1 << (bit % 8)));
    }
  };
  for (unsigned char c : text) {
    put(0, 1);
    put(c, 8);
  }
  return block;
}

// `image` with `script` appended in the carried form: scrambled block, 4-byte length.
inline std::string WithCarriedScript(std::string image, const std::string& script) {
  std::string block = LiteralBlock(script);
  ScrambleCarriedBlock(block);
  image += block;
  const auto n = static_cast<std::uint32_t>(block.size());
  for (int i = 0; i < 4; ++i) image.push_back(static_cast<char>(n >> (8 * i)));
  return image;
}

}  // namespace olvex::test
