#pragma once
// Compressed blocks (the action catalog, carried scripts) and scripts carried
// inside an executable.
//
// Block: 4-byte little-endian uncompressed size, 1 window byte (KiB, 0 means 1),
// then an LSB-first bit stream of tokens: literal (0 + 8 bits), match
// (1 + B-bit window position + 4-bit length), run (1 + B bits all set to the
// window mask + 32 bits: count in the low 24, byte value in the high 8).
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace olvex {

// Resource id of a script carried as a resource; the appended form ends with
// a 4-byte little-endian block length.
inline constexpr int kCarriedScriptResource = 9002;
// The two bytes that scramble an appended block (even positions, odd positions).
inline constexpr unsigned char kCarriedScriptKey[2] = {0x5A, 0xC3};

struct WindowParams {
  std::uint32_t size;         // W in bytes
  std::uint32_t mask;         // W - 1; a position field equal to it introduces a run
  std::uint32_t min_match;    // L0
  std::uint32_t offset_bits;  // B
};
// W = 1024 x the window byte (0 counts as 1); L0 = 2 below 4 KiB, else 3;
// B = 10 + the set bits among bits 10 to 15 of the mask (log2 W for a power of
// two up to 64 KiB). Inline so that build-side tools need no other code.
inline WindowParams WindowParamsFor(std::uint8_t window_byte) {
  WindowParams p;
  p.size = 1024u * (window_byte ? window_byte : 1u);
  p.mask = p.size - 1;
  p.min_match = p.size < 4096 ? 2 : 3;
  p.offset_bits = 10 + static_cast<std::uint32_t>(std::popcount(p.mask & 0xFC00u));
  return p;
}

// The k-bit field (k <= 32) at `bit_position` of the block, least significant bit
// first; bits past the end of the block read as 0.
std::uint32_t ReadBits(std::string_view block, std::uint64_t bit_position, int k);

// Decodes a block. The result holds the bytes produced: the uncompressed size,
// or fewer when the stream ends early. Empty for an empty or short block.
std::string Decompress(std::string_view block);

// XORs even positions with the key's first byte and odd ones with its second.
void ScrambleCarriedBlock(std::string& block);

// The compressed script carried by the executable `path` whose bytes are `file`:
// resource 9002 when present, else the appended block, unscrambled. Nothing
// when the file carries neither.
std::optional<std::string> ExtractCarriedScript(const std::string& path, std::string_view file);

}  // namespace olvex
