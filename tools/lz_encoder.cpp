#include "tools/lz_encoder.h"

#include <algorithm>
#include <bit>
#include <new>
#include <vector>

#include "engine/compress.h"

namespace olvex::lz {

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;
// Positions whose matches and parse are worked out together; bounds the
// encoder's memory to a few megabytes whatever the input's size.
constexpr std::size_t kChunk = std::size_t{1} << 18;
// Zeros at the end of the empty window that can start a match.
constexpr std::size_t kZeroSources = 64;

struct Geometry {
  WindowParams wp;
  std::uint32_t max_len;       // L0 + 15
  std::uint32_t top_position;  // highest window position a match may name
  bool has_runs;               // a position field can hold the mask
  std::uint32_t match_bits;    // 1 + B + 4
  std::uint32_t run_bits;      // 1 + B + 32
  std::uint32_t min_run;       // shortest run of one byte worth a run token
};

Geometry GeometryFor(std::uint8_t window_byte) {
  Geometry g;
  g.wp = WindowParamsFor(window_byte);
  const std::uint64_t reach = std::uint64_t{1} << g.wp.offset_bits;  // never above W
  g.has_runs = g.wp.mask < reach;
  g.top_position = static_cast<std::uint32_t>(reach - 1) - (g.has_runs ? 1 : 0);
  g.max_len = g.wp.min_match + 15;
  g.match_bits = 5 + g.wp.offset_bits;
  g.run_bits = 33 + g.wp.offset_bits;
  // A run token pays off once covering the run with the longest matches costs more.
  g.min_run = 1;
  while ((g.min_run + g.max_len - 1) / g.max_len * g.match_bits <= g.run_bits) ++g.min_run;
  return g;
}

// Run tokens whose length in bits is odd can bring the stream to any bit
// count modulo 8 while producing nothing.
bool CanEndOnByte(const Geometry& g) { return g.has_runs && g.run_bits % 2 == 1; }

class BitWriter {
 public:
  explicit BitWriter(std::string& out) : out_(out) {}
  void Put(std::uint32_t value, int k) {  // k <= 32
    acc_ |= std::uint64_t{value} << count_;
    count_ += k;
    bits_ += static_cast<std::uint64_t>(k);
    while (count_ >= 8) {
      out_.push_back(static_cast<char>(acc_ & 0xFF));
      acc_ >>= 8;
      count_ -= 8;
    }
  }
  std::uint64_t bits() const { return bits_; }
  void Finish() {
    if (count_ > 0) out_.push_back(static_cast<char>(acc_ & 0xFF));
    acc_ = 0;
    count_ = 0;
  }

 private:
  std::string& out_;
  std::uint64_t acc_ = 0;
  int count_ = 0;
  std::uint64_t bits_ = 0;
};

// Hash-chain matcher over the window stream `ws`: W zeros, then every byte that
// passes through the decoder's window (all input bytes except those of run
// tokens). When the decoder reads the token for stream position k, its window
// holds ws[k - W .. k - 1], so window position p is ws[k - W + p], and
// positions from W on (stream positions from k on) read the zero tail.
class Matcher {
 public:
  Matcher(const std::string& ws, const Geometry& g, int max_chain)
      : ws_(reinterpret_cast<const unsigned char*>(ws.data())),
        size_(ws.size()),
        g_(g),
        max_chain_(max_chain < 1 ? 1 : max_chain),
        // Of the window's zeros only the last few serve as match sources: no
        // match is longer than L0 + 15.
        inserted_(g.wp.size - kZeroSources) {
    // Both tables sized to the positions there are, up to a window's worth:
    // a chain slot is then never reused while the position is in the window.
    const std::size_t positions = std::min<std::size_t>(g.wp.size, size_ - inserted_);
    hash_shift_ = 32 - std::clamp(static_cast<int>(std::bit_width(positions)), 10, 16);
    head_.assign(std::size_t{1} << (32 - hash_shift_), kNone);
    prev_.assign(std::bit_ceil(positions), kNone);
    ring_mask_ = prev_.size() - 1;
  }

  // The longest match, at most `limit` bytes, for the bytes at stream position
  // k (k >= W); sets `position` to its window position. 0 when none reaches L0.
  std::uint32_t Find(std::size_t k, std::uint32_t limit, std::uint32_t* position) {
    const std::uint32_t l0 = g_.wp.min_match;
    if (limit < l0 || k + l0 > size_) return 0;
    InsertUpTo(k);
    const std::size_t lo = k - g_.wp.size;
    const std::size_t hi = lo + g_.top_position;
    std::uint32_t best = l0 - 1;
    std::size_t newer = k;  // chains run strictly downwards; anything else is a stale slot
    int chain = max_chain_;
    for (std::size_t j = head_[Hash(k)]; j < newer && j >= lo && chain-- > 0; newer = j, j = prev_[j & ring_mask_]) {
      if (j > hi || Byte(j + best, k) != ws_[k + best]) continue;
      std::uint32_t len = 0;
      while (len < limit && Byte(j + len, k) == ws_[k + len]) ++len;
      if (len > best) {
        best = len;
        *position = static_cast<std::uint32_t>(j - lo);
        if (len >= limit) break;
      }
    }
    return best >= l0 ? best : 0;
  }

 private:
  // What the window shows at stream position j while the token at k is read.
  unsigned char Byte(std::size_t j, std::size_t k) const { return j < k ? ws_[j] : 0; }

  std::uint32_t Hash(std::size_t j) const {
    std::uint32_t v = ws_[j] | std::uint32_t{ws_[j + 1]} << 8;
    if (g_.wp.min_match == 3) v |= std::uint32_t{ws_[j + 2]} << 16;
    return (v * 2654435761u) >> hash_shift_;
  }

  void InsertUpTo(std::size_t k) {
    for (; inserted_ < k; ++inserted_) {
      if (inserted_ + g_.wp.min_match > size_) continue;
      std::uint32_t h = Hash(inserted_);
      prev_[inserted_ & ring_mask_] = head_[h];
      head_[h] = static_cast<std::uint32_t>(inserted_);
    }
  }

  const unsigned char* ws_;
  std::size_t size_;
  const Geometry& g_;
  int max_chain_;
  std::size_t inserted_;
  int hash_shift_;
  std::vector<std::uint32_t> head_;
  std::vector<std::uint32_t> prev_;
  std::size_t ring_mask_;
};

class Encoder {
 public:
  Encoder(const Geometry& g, const std::string& ws, int max_chain, BitWriter& out)
      : g_(g), ws_(ws), matcher_(ws, g, max_chain), out_(out) {}

  // Literals and matches for stream positions [from, to); no match crosses `to`.
  void EncodeSpan(std::size_t from, std::size_t to) {
    for (std::size_t c = from; c < to; c += kChunk) EncodeChunk(c, std::min(to, c + kChunk));
  }

  void EncodeRun(std::uint64_t count, unsigned char byte) {
    do {
      std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFF));
      PutRun(piece, byte);
      count -= piece;
    } while (count > 0);
  }

  void PutRun(std::uint32_t count, unsigned char byte) {
    out_.Put(1 | g_.wp.mask << 1, 1 + static_cast<int>(g_.wp.offset_bits));
    out_.Put(count | std::uint32_t{byte} << 24, 32);
  }

 private:
  // Every match costs the same, and a match of length n also serves every
  // shorter length from L0, so the cheapest parse follows from the longest
  // match at each position by walking backwards.
  void EncodeChunk(std::size_t from, std::size_t to) {
    const std::size_t n = to - from;
    len_.assign(n, 0);
    pos_.assign(n, 0);
    cost_.assign(n + 1, 0);
    take_.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      std::uint32_t limit = static_cast<std::uint32_t>(std::min<std::size_t>(g_.max_len, n - i));
      len_[i] = static_cast<std::uint8_t>(matcher_.Find(from + i, limit, &pos_[i]));
    }
    for (std::size_t i = n; i-- > 0;) {
      cost_[i] = cost_[i + 1] + 9;
      take_[i] = 1;
      for (std::uint32_t m = g_.wp.min_match; m <= len_[i]; ++m) {
        std::uint64_t c = cost_[i + m] + g_.match_bits;
        if (c <= cost_[i]) {
          cost_[i] = c;
          take_[i] = static_cast<std::uint8_t>(m);
        }
      }
    }
    for (std::size_t i = 0; i < n; i += take_[i]) {
      if (take_[i] == 1) {
        out_.Put(std::uint32_t{static_cast<unsigned char>(ws_[from + i])} << 1, 9);
      } else {
        out_.Put(1 | pos_[i] << 1, 1 + static_cast<int>(g_.wp.offset_bits));
        out_.Put(take_[i] - g_.wp.min_match, 4);
      }
    }
  }

  const Geometry& g_;
  const std::string& ws_;
  Matcher matcher_;
  BitWriter& out_;
  std::vector<std::uint8_t> len_, take_;
  std::vector<std::uint32_t> pos_;
  std::vector<std::uint64_t> cost_;
};

std::optional<std::string> CompressWith(std::string_view data, std::uint8_t window_byte, const EncodeOptions& options) {
  const Geometry g = GeometryFor(window_byte);
  const std::size_t W = g.wp.size;
  if (data.size() > 0xFFFFFFFFu - W) return std::nullopt;  // the size field and the matcher's positions are 32-bit

  std::uint64_t size_field = data.size();
  bool end_on_byte = false;
  if (options.avoid_plain_first_byte && StartsLikePlainText(static_cast<unsigned char>(size_field & 0xFF))) {
    if (!CanEndOnByte(g)) return std::nullopt;
    while (StartsLikePlainText(static_cast<unsigned char>(size_field & 0xFF))) ++size_field;
    if (size_field > 0xFFFFFFFFu) return std::nullopt;
    end_on_byte = true;
  }

  // The window stream, and the runs that go around it.
  struct Run {
    std::size_t at;  // stream position the run comes before
    std::size_t count;
    unsigned char byte;
  };
  std::vector<Run> runs;
  std::string ws;
  ws.reserve(W + data.size());
  ws.assign(W, '\0');
  for (std::size_t i = 0; i < data.size();) {
    std::size_t r = 1;
    while (i + r < data.size() && data[i + r] == data[i]) ++r;
    if (g.has_runs && r >= g.min_run) {
      runs.push_back({ws.size(), r, static_cast<unsigned char>(data[i])});
    } else {
      ws.append(data.substr(i, r));
    }
    i += r;
  }

  std::string block(5, '\0');
  for (int i = 0; i < 4; ++i) block[static_cast<std::size_t>(i)] = static_cast<char>(size_field >> (8 * i) & 0xFF);
  block[4] = static_cast<char>(window_byte);
  BitWriter bits(block);
  Encoder encoder(g, ws, options.max_chain, bits);
  std::size_t at = W;
  for (const Run& run : runs) {
    encoder.EncodeSpan(at, run.at);
    encoder.EncodeRun(run.count, run.byte);
    at = run.at;
  }
  encoder.EncodeSpan(at, ws.size());
  // With a raised size field the decoder stops where the stream ends, so it
  // must end right after the last token: pad with runs of nothing.
  if (end_on_byte)
    while (bits.bits() % 8 != 0) encoder.PutRun(0, 0);
  bits.Finish();
  return block;
}

}  // namespace

bool StartsLikePlainText(unsigned char first) {
  return first == '\r' || first == '\n' || first == '\t' || first == ' ' || (first >= 'A' && first <= 'Z');
}

std::optional<std::string> Compress(std::string_view data, const EncodeOptions& options) {
  const bool needs_end_on_byte =
      options.avoid_plain_first_byte && StartsLikePlainText(static_cast<unsigned char>(data.size() & 0xFF));
  // The window byte to use for `kib`: itself, or the next that can end on a byte when that is needed.
  auto usable = [&](int kib) -> std::optional<std::uint8_t> {
    for (; kib <= 255; ++kib)
      if (!needs_end_on_byte || CanEndOnByte(GeometryFor(static_cast<std::uint8_t>(kib))))
        return static_cast<std::uint8_t>(kib);
    return std::nullopt;
  };
  try {
    if (options.window_kib != kAutoWindow) {
      if (options.window_kib < 0 || options.window_kib > 255) return std::nullopt;
      auto window = usable(options.window_kib);
      if (!window) return std::nullopt;
      return CompressWith(data, *window, options);
    }
    std::optional<std::string> best;
    for (int kib = 1; kib <= 64; kib *= 2) {
      auto block = CompressWith(data, *usable(kib), options);
      if (block && (!best || block->size() < best->size())) best = std::move(block);
      if (std::size_t(kib) * 1024 >= data.size()) break;
    }
    return best;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace olvex::lz
