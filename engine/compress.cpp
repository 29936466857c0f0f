#include "engine/compress.h"

#include <algorithm>
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

std::uint64_t LoadLE64(const unsigned char* p) {
  std::uint64_t v;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, 8);
  } else {
    v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  }
  return v;
}

// The longest a token other than a run writes: L0 + 15 with L0 = 3.
constexpr std::uint32_t kMaxMatch = 18;
// The most bits one token takes: a run with B = 16.
constexpr int kMaxTokenBits = 1 + 16 + 32;

// Streams bits least significant first; past the end of the data it reads zeros.
class BitReader {
 public:
  BitReader(const unsigned char* data, std::size_t size, std::size_t start_byte)
      : data_(data), size_(size), next_(start_byte) {}

  // Makes at least kMaxTokenBits bits available.
  void Refill() {
    if (count_ >= kMaxTokenBits) return;
    if (next_ <= size_ && size_ - next_ >= 8) {
      // Bits above count_ that this load also brings in are the stream's own
      // next bits; a later load ORs the same values over them.
      buf_ |= LoadLE64(data_ + next_) << count_;
      next_ += static_cast<std::size_t>((63 - count_) >> 3);
      count_ |= 56;
    } else {
      while (count_ <= 56) {
        std::uint64_t byte = next_ < size_ ? data_[next_] : 0;
        ++next_;
        buf_ |= byte << count_;
        count_ += 8;
      }
    }
  }
  std::uint32_t Peek(int k) const { return static_cast<std::uint32_t>(buf_ & ((std::uint64_t{1} << k) - 1)); }
  void Drop(int k) {
    buf_ >>= k;
    count_ -= k;
  }
  std::uint32_t Take(int k) {
    std::uint32_t v = Peek(k);
    Drop(k);
    return v;
  }
  // Bits consumed so far, counted from the start of the block.
  std::uint64_t Position() const { return static_cast<std::uint64_t>(next_) * 8 - static_cast<std::uint64_t>(count_); }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t next_;
  std::uint64_t buf_ = 0;
  int count_ = 0;
};

}  // namespace

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
  const std::uint64_t total = LoadLE32(data);
  const WindowParams wp = WindowParamsFor(data[4]);
  const std::uint32_t W = wp.size;
  const int B = static_cast<int>(wp.offset_bits);
  const std::uint64_t end_bits = static_cast<std::uint64_t>(block.size()) * 8;

  // `history` holds the bytes that passed through the window: W zeros, then
  // what literals and matches wrote (runs bypass the window). Window position p
  // is history[head - W + p]; positions at or past W read zeros, as the
  // window's zero tail does. Those bytes are also the output between runs: they
  // go to `out` in bulk, when a run comes, when the history slides back to its
  // start, and at the end.
  const std::size_t span = static_cast<std::size_t>(std::min<std::uint64_t>(
      std::max<std::uint64_t>(std::uint64_t{1} << 20, 4 * std::uint64_t{W}), std::max<std::uint64_t>(total, 4096)));
  std::vector<unsigned char> history;
  std::string out;
  try {
    history.assign(W + span + kMaxMatch, 0);
    // Without runs a block yields less than 10 bytes per byte: no need to
    // believe a larger size before the bytes come.
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(total, 10 * std::uint64_t{block.size()} + 64)));
  } catch (const std::bad_alloc&) {
    return {};
  }
  unsigned char* const hist = history.data();
  std::size_t head = W;     // next history byte
  std::size_t flushed = W;  // history bytes before this are in `out`
  std::uint64_t produced = 0;
  auto flush = [&] {
    std::size_t room = static_cast<std::size_t>(total - out.size());
    out.append(reinterpret_cast<const char*>(hist + flushed), std::min(head - flushed, room));
    flushed = head;
  };

  BitReader bits(data, block.size(), 5);
  try {
    while (produced < total && bits.Position() < end_bits) {
      bits.Refill();
      if ((bits.Peek(1)) == 0) {  // literal
        hist[head++] = static_cast<unsigned char>(bits.Peek(9) >> 1);
        bits.Drop(9);
        ++produced;
      } else {
        bits.Drop(1);
        const std::uint32_t f = bits.Take(B);
        if (f == wp.mask) {  // run: output only, the window stays as it is
          const std::uint32_t word = bits.Take(32);
          const std::uint64_t count = std::min<std::uint64_t>(word & 0xFFFFFF, total - produced);
          flush();
          out.append(static_cast<std::size_t>(count), static_cast<char>(word >> 24));
          produced += count;
          continue;
        }
        const std::uint32_t n = bits.Take(4) + wp.min_match;
        unsigned char* dst = hist + head;
        const unsigned char* src = dst - W + f;
        if (f + kMaxMatch <= W) {
          std::memcpy(dst, src, kMaxMatch);  // src + kMaxMatch <= dst: no overlap
        } else {
          for (std::uint32_t i = 0; i < n; ++i) dst[i] = f + i < W ? src[i] : 0;
        }
        head += n;
        produced += n;  // may pass the size; the flush cuts the output there
      }
      if (head > W + span) {
        flush();
        std::memmove(hist, hist + head - W, W);
        head = flushed = W;
      }
    }
    flush();
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
