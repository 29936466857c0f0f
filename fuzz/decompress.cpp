// Decompress on arbitrary bytes, and the encoder's blocks decoded back: the
// input minus its first byte, with a window chosen by that byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/compress.h"
#include "tools/lz_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string block(reinterpret_cast<const char*>(data), size);
  // Run tokens let a few bytes ask for gigabytes; a size field of at most 1 MiB
  // keeps every input quick while leaving the decoder's paths as they are.
  if (block.size() >= 4) block[2] = static_cast<char>(block[2] & 0x0F), block[3] = 0;
  std::string out = olvex::Decompress(block);
  if (block.size() >= 6) {
    std::uint32_t limit = 0;
    for (int i = 0; i < 4; ++i) limit |= std::uint32_t{static_cast<unsigned char>(block[i])} << (8 * i);
    if (out.size() > limit) __builtin_trap();
  } else if (!out.empty()) {
    __builtin_trap();
  }

  if (size == 0) return 0;
  // First byte: bit 7 asks for a block that cannot be taken for plain text;
  // the rest picks the window: 0..64 KiB as such, then odd sizes and the automatic choice.
  olvex::lz::EncodeOptions options;
  options.avoid_plain_first_byte = data[0] & 0x80;
  const int pick = data[0] & 0x7F;
  options.window_kib = pick <= 64 ? pick : pick < 80 ? olvex::lz::kAutoWindow : pick < 100 ? pick : 255;
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  auto encoded = olvex::lz::Compress(input, options);
  if (!encoded) {
    // Only a window past 64 KiB cannot make a block that reads as compressed.
    if (!options.avoid_plain_first_byte || options.window_kib <= 64) __builtin_trap();
    return 0;
  }
  if (olvex::Decompress(*encoded) != input) __builtin_trap();
  return 0;
}
