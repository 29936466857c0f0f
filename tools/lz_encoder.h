#pragma once
// The writing side of compressed blocks: turns bytes into a block that
// olvex::Decompress gives back byte for byte. Build-side only (olvex-lz,
// olvex-pack); the runtime carries just the decoder.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace olvex::lz {

// Window choice that tries the power-of-two windows from 1 KiB up to the first
// one that holds the whole input (at most 64 KiB) and keeps the smallest block.
inline constexpr int kAutoWindow = -1;

struct EncodeOptions {
  // The window byte to write (1 KiB units, 0 stands for 1 KiB, up to 255), or kAutoWindow.
  int window_kib = kAutoWindow;
  // Makes sure the block's first byte (the low byte of its size field) is none
  // of CR, LF, tab, space, A-Z, which a reader takes as the start of plain text:
  // when the input's size would give such a byte, the size field is raised and
  // the stream is made to end on its last byte, so that decoding stops there.
  // Needs a window with run tokens whose length in bits is odd (1, 4, 16 or 64
  // KiB); a window without them is widened to the next such one.
  bool avoid_plain_first_byte = false;
  // How many earlier positions the matcher tries for each position.
  int max_chain = 256;
};

// The block for `data`; nothing when the input has 4 GiB or more or the
// window is out of range.
std::optional<std::string> Compress(std::string_view data, const EncodeOptions& options = {});

// True when a text starting with this byte is taken as plain, not compressed.
bool StartsLikePlainText(unsigned char first);

}  // namespace olvex::lz
