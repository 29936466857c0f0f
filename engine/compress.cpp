#include "engine/compress.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "platform/module.h"

namespace olvex {

namespace {

std::uint32_t LoadLE32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Streams bits least significant first; past the end of the data it reads zeros.
class BitReader {
 public:
  BitReader(const unsigned char* data, std::size_t size, std::size_t start_byte)
      : data_(data), size_(size), next_(start_byte), consumed_bits_(start_byte * 8) {}

  std::uint32_t Take(int k) {
    if (count_ < k) Refill();
    std::uint32_t v = static_cast<std::uint32_t>(buf_ & ((std::uint64_t{1} << k) - 1));
    buf_ >>= k;
    count_ -= k;
    consumed_bits_ += static_cast<std::uint64_t>(k);
    return v;
  }
  // Whole bytes of the stream consumed so far, counted from the block's start.
  std::uint64_t BytePosition() const { return consumed_bits_ / 8; }

 private:
  void Refill() {
    while (count_ <= 56) {
      std::uint64_t byte = next_ < size_ ? data_[next_] : 0;
      ++next_;
      buf_ |= byte << count_;
      count_ += 8;
    }
  }
  const unsigned char* data_;
  std::size_t size_;
  std::size_t next_;
  std::uint64_t consumed_bits_;
  std::uint64_t buf_ = 0;
  int count_ = 0;
};

}  // namespace

WindowParams WindowParamsFor(std::uint8_t window_byte) {
  WindowParams p;
  p.size = 1024u * (window_byte ? window_byte : 1u);
  p.mask = p.size - 1;
  p.min_match = p.size < 4096 ? 2 : 3;
  p.offset_bits = 10 + static_cast<std::uint32_t>(std::popcount(p.mask & 0xFC00u));
  return p;
}

std::uint32_t ReadBits(std::string_view block, std::uint64_t bit_position, int k) {
  std::uint32_t v = 0;
  for (int i = 0; i < k; ++i) {
    std::uint64_t bit = bit_position + static_cast<std::uint64_t>(i);
    std::uint64_t byte = bit / 8;
    if (byte < block.size() && (static_cast<unsigned char>(block[byte]) >> (bit % 8) & 1)) v |= 1u << i;
  }
  return v;
}

std::string Decompress(std::string_view block) {
  if (block.size() < 6) return {};
  const auto* data = reinterpret_cast<const unsigned char*>(block.data());
  const std::uint32_t total = LoadLE32(data);
  const WindowParams wp = WindowParamsFor(data[4]);
  const std::uint32_t W = wp.size;
  const int B = static_cast<int>(wp.offset_bits);

  std::string out;
  // The window is a ring: window position p lives at ring[(head + p) % W].
  // Positions at or past W read zeros, as the window's zero tail does.
  std::vector<unsigned char> ring;
  try {
    out.reserve(std::min<std::size_t>(total, std::size_t{64} << 20));
    ring.assign(W, 0);
  } catch (const std::bad_alloc&) {
    return {};
  }
  std::uint32_t head = 0;
  BitReader bits(data, block.size(), 5);

  try {
    while (out.size() < total) {
      if (bits.BytePosition() >= block.size()) break;  // the stream ended early
      if (bits.Take(1) == 0) {
        auto c = static_cast<unsigned char>(bits.Take(8));
        out.push_back(static_cast<char>(c));
        ring[head] = c;
        head = head + 1 == W ? 0 : head + 1;
        continue;
      }
      std::uint32_t f = bits.Take(B);
      if (f == wp.mask) {
        std::uint32_t word = bits.Take(32);
        std::size_t count = std::min<std::size_t>(word & 0xFFFFFF, total - out.size());
        out.append(count, static_cast<char>(word >> 24));
        continue;
      }
      std::uint32_t n = bits.Take(4) + wp.min_match;
      // Output byte i replaces the ring slot of old position i; the match reads
      // old position f + i >= i, which is still intact.
      for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t pos = f + i;
        unsigned char c = 0;
        if (pos < W) {
          std::uint32_t at = head + pos;
          c = ring[at >= W ? at - W : at];
        }
        if (out.size() < total) out.push_back(static_cast<char>(c));
        std::uint32_t slot = head + i;
        ring[slot >= W ? slot - W : slot] = c;
      }
      head = (head + n) % W;
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  return out;
}

void ScrambleCarriedBlock(std::string& block) {
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(block[i] ^ kCarriedScriptKey[i & 1]);
}

std::optional<std::string> ExtractCarriedScript(const std::string& path, std::string_view file) {
  if (auto res = platform::ReadFileResource(path, kCarriedScriptResource); res && res->size() <= file.size())
    return res;
  if (file.size() < 4) return std::nullopt;
  std::uint64_t length = LoadLE32(reinterpret_cast<const unsigned char*>(file.data() + file.size() - 4));
  length = std::min<std::uint64_t>(length, file.size() - 4);
  if (length == 0) return std::nullopt;
  std::string block(file.substr(file.size() - 4 - length, length));
  ScrambleCarriedBlock(block);
  return block;
}

}  // namespace olvex
