#include "screen/image_search.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace olvex {

namespace {

// Flat screen areas are found in tiles of 8 x 8 pixels.
constexpr int kTile = 8;
constexpr Colour kMixed = 0xFFFFFFFFu;  // a tile of more than one colour
// Screen colours are counted in 8 levels a channel to guess how common a
// picture pixel's colour is.
constexpr int kLevels = 8;
constexpr int kSamples = 4096;

struct PicturePixel {
  int offset;  // from the picture's top-left in the screen buffer
  Colour colour;
};

// What the plain scan sees at one position: it compares row-major, stops at
// the mismatch that is one too many or when enough pixels matched, and
// remembers the mismatch that followed the most matches.
struct Figure {
  int matched = 0;
  int pixel = -1;  // index of that mismatch in the picture
  bool found = false;
};

class Scan {
 public:
  Scan(const Frame& frame, const Picture& picture, const ImageQuery& query, const Rect& area)
      : frame_(frame), picture_(picture), query_(query) {
    w_ = picture.width;
    h_ = picture.height;
    n_ = w_ * h_;
    allowed_ = std::max(query.allowed_mismatches, 0);
    tolerance_ = query.tolerance;
    x0_ = area.left;
    y0_ = area.top;
    x1_ = area.right - w_;
    y1_ = area.bottom - h_;
    first_ = picture.pixels[0] & 0xFFFFFFu;
    first_required_ = !Masked(first_);
    PlanComparisons();
  }

  ImageMatch Run() {
    ImageMatch result;
    if (query_.want_closest) {
      FollowPlainScan(result);
    } else {
      if (const std::optional<Point> at = FirstMatch()) {
        result.found = true;
        result.at = *at;
      }
    }
    return result;
  }

 private:
  bool Masked(Colour c) const { return c == query_.mask; }
  bool Near(Colour a, Colour b) const { return ColoursMatch(a, b, tolerance_); }
  const Colour* At(int x, int y) const {
    return frame_.pixels + static_cast<std::ptrdiff_t>(y) * frame_.width + x;
  }

  // ---- planning

  // The unmasked pixels, the one rarest on the screen first; the rarest
  // one that must match is the anchor.
  void PlanComparisons() {
    const std::vector<int> estimate = EstimateFrequencies();
    std::vector<int> order;
    for (int i = 0; i < n_; ++i)
      if (!Masked(picture_.pixels[static_cast<std::size_t>(i)] & 0xFFFFFFu)) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return estimate[static_cast<std::size_t>(a)] < estimate[static_cast<std::size_t>(b)];
    });
    for (int i : order)
      unmasked_.push_back({(i / w_) * frame_.width + i % w_, picture_.pixels[static_cast<std::size_t>(i)] & 0xFFFFFFu});
    // With no mismatch allowed every unmasked pixel must match; otherwise
    // only the first (the plain scan looks for it before comparing).
    if (allowed_ == 0 && !order.empty()) anchor_ = order.front();
    else if (first_required_) anchor_ = 0;
    if (anchor_ >= 0) PlanAnchorBytes();
    const bool selective = anchor_ >= 0 && estimate[static_cast<std::size_t>(anchor_)] * 32 <= samples_;
    const bool tiles = !selective || query_.want_closest;
    // The plain scan's closest miss needs every comparison: no bound there.
    bound_ = tiles && allowed_ > 0 && !query_.want_closest;
    if (bound_) ChooseRareColours(estimate);
    if (tiles) BuildTiles();
    if (bound_) PlanTileParts(order);
  }

  // ---- positions without enough of the picture's rarest colours

  // With mismatches allowed no single pixel must match; but when the
  // picture's pixels of a few colours rare on the screen outnumber the
  // mismatches allowed, a match needs `rare_needed_` screen pixels of those
  // colours under the picture. Counted a tile at a time, that rules out
  // whole groups of positions far from any of them.
  static constexpr std::size_t kMostRareColours = 4;

  void ChooseRareColours(const std::vector<int>& estimate) {
    std::unordered_map<Colour, std::pair<int, int>> colours;  // colour: pixels, estimate
    for (int i = 0; i < n_; ++i) {
      const Colour c = picture_.pixels[static_cast<std::size_t>(i)] & 0xFFFFFFu;
      if (Masked(c)) continue;
      auto& [pixels, seen] = colours[c];
      ++pixels;
      seen = estimate[static_cast<std::size_t>(i)];
    }
    std::vector<std::pair<Colour, std::pair<int, int>>> rarest(colours.begin(), colours.end());
    std::sort(rarest.begin(), rarest.end(), [](const auto& a, const auto& b) {
      return a.second.second != b.second.second ? a.second.second < b.second.second : a.first < b.first;
    });
    int pixels = 0, seen = 0;
    for (const auto& [c, counts] : rarest) {
      if (pixels > allowed_ || rare_.size() == kMostRareColours) break;
      rare_.push_back(c);
      pixels += counts.first;
      seen += counts.second;
    }
    // Worth it only when they are rare on the screen.
    if (pixels <= allowed_ || seen * 32 > samples_) {
      rare_.clear();
      return;
    }
    rare_needed_ = pixels - allowed_;
  }

  int& RareSum(int tx, int ty) { return rare_sums_[static_cast<std::size_t>(ty) * (tiles_w_ + 1) + tx]; }

  // True when no position x of row y from tile column tx up to last_x has
  // enough screen pixels of the rare colours under it.
  bool TooFewRareColours(int tx, int last_x, int y) {
    if (rare_.empty()) return false;
    const int tx1 = (last_x + w_ - 1) / kTile + 1, ty0 = y / kTile, ty1 = (y + h_ - 1) / kTile + 1;
    return RareSum(tx1, ty1) - RareSum(tx, ty1) - RareSum(tx1, ty0) + RareSum(tx, ty0) < rare_needed_;
  }
  bool RareColourNear(Colour screen) const {
    bool any = false;
    for (const Colour c : rare_) any |= Within(c, screen, tolerance_);
    return any;
  }

  // ---- a lower bound of the mismatches from the flat tiles a position covers

  // A picture placed at x, y covers the tiles from x / 8, y / 8 on; which part
  // of the picture lies in which of them depends on x % 8 and y % 8 alone.
  struct TilePart {
    int dtx, dty, c0, c1, r0, r1;  // picture columns c0 .. c1 - 1, rows r0 .. r1 - 1
  };

  // Counts of the pixels unlike the picture's commonest colour (over a flat
  // tile those are mismatches), to put the most telling tile parts first.
  void PlanTileParts(const std::vector<int>& unmasked) {
    std::unordered_map<Colour, int> counts;
    for (int i : unmasked) ++counts[picture_.pixels[static_cast<std::size_t>(i)] & 0xFFFFFFu];
    Colour common = 0;
    int most = -1;
    for (const auto& [c, k] : counts)
      if (k > most || (k == most && c < common)) common = c, most = k;
    telling_.assign((static_cast<std::size_t>(w_) + 1) * static_cast<std::size_t>(h_ + 1), 0);
    for (int i : unmasked)
      if ((picture_.pixels[static_cast<std::size_t>(i)] & 0xFFFFFFu) != common) ++telling_[Cell(i % w_ + 1, i / w_ + 1)];
    Accumulate(telling_);
  }

  // The parts of the picture in the tiles it covers at offset ox, oy, the most telling first.
  const std::vector<TilePart>& PartsAt(int ox, int oy) {
    std::vector<TilePart>& parts = parts_[static_cast<std::size_t>(oy * kTile + ox)];
    if (!parts.empty()) return parts;
    for (int dty = 0; dty <= (oy + h_ - 1) / kTile; ++dty)
      for (int dtx = 0; dtx <= (ox + w_ - 1) / kTile; ++dtx)
        parts.push_back({dtx, dty, std::max(0, dtx * kTile - ox), std::min(w_, dtx * kTile + kTile - ox),
                         std::max(0, dty * kTile - oy), std::min(h_, dty * kTile + kTile - oy)});
    std::stable_sort(parts.begin(), parts.end(),
                     [&](const TilePart& a, const TilePart& b) { return Sum(telling_, a) > Sum(telling_, b); });
    return parts;
  }
  std::size_t Cell(int col, int row) const { return static_cast<std::size_t>(row) * static_cast<std::size_t>(w_ + 1) + static_cast<std::size_t>(col); }
  void Accumulate(std::vector<int>& sums) const {
    for (int r = 1; r <= h_; ++r)
      for (int c = 1; c <= w_; ++c) sums[Cell(c, r)] += sums[Cell(c - 1, r)] + sums[Cell(c, r - 1)] - sums[Cell(c - 1, r - 1)];
  }
  int Sum(const std::vector<int>& sums, const TilePart& p) const {
    return sums[Cell(p.c1, p.r1)] - sums[Cell(p.c0, p.r1)] - sums[Cell(p.c1, p.r0)] + sums[Cell(p.c0, p.r0)];
  }

  // Sums of the picture's mismatches against one flat colour (at most 64 colours are kept).
  const std::vector<int>* FlatSums(Colour c) {
    for (const auto& [colour, sums] : flat_sums_)
      if (colour == c) return &sums;
    if (flat_sums_.size() >= 64) return nullptr;
    std::vector<int> sums((static_cast<std::size_t>(w_) + 1) * static_cast<std::size_t>(h_ + 1), 0);
    for (int i = 0; i < n_; ++i) {
      const Colour p = picture_.pixels[static_cast<std::size_t>(i)] & 0xFFFFFFu;
      if (!Masked(p) && !Near(p, c)) ++sums[Cell(i % w_ + 1, i / w_ + 1)];
    }
    Accumulate(sums);
    flat_sums_.emplace_back(c, std::move(sums));
    return &flat_sums_.back().second;
  }

  // True when the flat tiles under the picture at x, y alone hold too many mismatches.
  bool FlatTilesReject(int x, int y) {
    int mismatches = 0;
    const int tx = x / kTile, ty = y / kTile;
    for (const TilePart& p : PartsAt(x % kTile, y % kTile)) {
      const Colour c = Tile(tx + p.dtx, ty + p.dty);
      if (c == kMixed) continue;
      const std::vector<int>* sums = FlatSums(c);
      if (!sums) return false;
      mismatches += Sum(*sums, p);
      if (mismatches > allowed_) return true;
    }
    return false;
  }

  // How many sampled screen pixels of the searched area each picture pixel
  // would match: counted exactly without a tolerance, else in coarse colour
  // cells (a guess, good enough to order the comparisons).
  std::vector<int> EstimateFrequencies() {
    const int area_w = x1_ + w_ - x0_, area_h = y1_ + h_ - y0_;
    const double per_sample = static_cast<double>(area_w) * area_h / kSamples;
    const int step = std::max(1, static_cast<int>(std::sqrt(per_sample)));
    std::vector<Colour> samples;
    for (int y = y0_; y < y0_ + area_h; y += step) {
      const Colour* row = At(0, y);
      for (int x = x0_; x < x0_ + area_w; x += step) samples.push_back(row[x] & 0xFFFFFFu);
    }
    samples_ = static_cast<int>(samples.size());
    std::vector<int> estimate(static_cast<std::size_t>(n_), 0);
    if (tolerance_ <= 0) {
      std::sort(samples.begin(), samples.end());
      for (int i = 0; i < n_; ++i) {
        const auto [lo, hi] = std::equal_range(samples.begin(), samples.end(), picture_.pixels[static_cast<std::size_t>(i)] & 0xFFFFFFu);
        estimate[static_cast<std::size_t>(i)] = static_cast<int>(hi - lo);
      }
      return estimate;
    }
    constexpr int kSide = kLevels + 1;
    constexpr int kShift = 8 - std::countr_zero(static_cast<unsigned>(kLevels));
    std::array<int, kSide * kSide * kSide> cells{};
    auto cell = [&](int r, int g, int b) -> int& { return cells[static_cast<std::size_t>((r * kSide + g) * kSide + b)]; };
    for (const Colour c : samples)
      ++cell((static_cast<int>(c & 0xFF) >> kShift) + 1, (static_cast<int>((c >> 8) & 0xFF) >> kShift) + 1,
             (static_cast<int>(c >> 16) >> kShift) + 1);
    // Sums over boxes: cell(r, g, b) becomes the count of the cells below r, g, b.
    for (int r = 1; r < kSide; ++r)
      for (int g = 1; g < kSide; ++g)
        for (int b = 1; b < kSide; ++b)
          cell(r, g, b) += cell(r - 1, g, b) + cell(r, g - 1, b) + cell(r, g, b - 1) - cell(r - 1, g - 1, b) -
                           cell(r - 1, g, b - 1) - cell(r, g - 1, b - 1) + cell(r - 1, g - 1, b - 1);
    const int t = tolerance_;
    auto range = [t](int v) { return std::pair{std::max(v - t, 0) >> kShift, (std::min(v + t, 255) >> kShift) + 1}; };
    for (int i = 0; i < n_; ++i) {
      const Colour c = picture_.pixels[static_cast<std::size_t>(i)];
      const auto [r0, r1] = range(static_cast<int>(c & 0xFF));
      const auto [g0, g1] = range(static_cast<int>((c >> 8) & 0xFF));
      const auto [b0, b1] = range(static_cast<int>((c >> 16) & 0xFF));
      estimate[static_cast<std::size_t>(i)] = cell(r1, g1, b1) - cell(r0, g1, b1) - cell(r1, g0, b1) - cell(r1, g1, b0) +
                                              cell(r0, g0, b1) + cell(r0, g1, b0) + cell(r1, g0, b0) - cell(r0, g0, b0);
    }
    return estimate;
  }

  // Tiles of one colour over the area the picture may cover, and for each
  // how many tiles to its right (itself included) have that colour; with
  // rare colours chosen, the sums of their pixels over the tiles, in the
  // same pass over the screen.
  void BuildTiles() {
    tiles_w_ = (frame_.width + kTile - 1) / kTile;
    const int tiles_h = (frame_.height + kTile - 1) / kTile;
    tile_.assign(static_cast<std::size_t>(tiles_w_) * tiles_h, kMixed);
    run_.assign(tile_.size(), 0);
    const bool counting = !rare_.empty();
    if (counting) rare_sums_.assign(static_cast<std::size_t>(tiles_w_ + 1) * static_cast<std::size_t>(tiles_h + 1), 0);
    const int tx_first = x0_ / kTile, tx_last = (x1_ + w_ - 1) / kTile;
    const int ty_first = y0_ / kTile, ty_last = (y1_ + h_ - 1) / kTile;
    for (int ty = ty_first; ty <= ty_last; ++ty) {
      const int y_end = std::min(ty * kTile + kTile, frame_.height);
      for (int tx = tx_first; tx <= tx_last; ++tx) {
        const int x_begin = tx * kTile, width = std::min(x_begin + kTile, frame_.width) - x_begin;
        const Colour c = *At(x_begin, ty * kTile);
        Colour differ = 0;
        for (int y = ty * kTile; y < y_end && differ == 0; ++y) {
          const Colour* row = At(x_begin, y);
          if (width == kTile) {
            for (int k = 0; k < kTile; ++k) differ |= row[k] ^ c;  // a fixed count: vector code
          } else {
            for (int k = 0; k < width; ++k) differ |= row[k] ^ c;
          }
        }
        if (differ == 0) Tile(tx, ty) = c & 0xFFFFFFu;
        if (!counting) continue;
        int rare = 0;
        if (differ == 0) {
          rare = RareColourNear(c) ? width * (y_end - ty * kTile) : 0;
        } else {
          for (int y = ty * kTile; y < y_end; ++y) {
            const Colour* row = At(x_begin, y);
            if (width == kTile) {
              for (int k = 0; k < kTile; ++k) rare += RareColourNear(row[k]) ? 1 : 0;
            } else {
              for (int k = 0; k < width; ++k) rare += RareColourNear(row[k]) ? 1 : 0;
            }
          }
        }
        RareSum(tx + 1, ty + 1) = rare + RareSum(tx, ty + 1) + RareSum(tx + 1, ty) - RareSum(tx, ty);
      }
      for (int tx = tx_last; tx >= tx_first; --tx) {
        const Colour c = Tile(tx, ty);
        if (c == kMixed) continue;
        RunOf(tx, ty) = tx < tx_last && Tile(tx + 1, ty) == c ? RunOf(tx + 1, ty) + 1 : 1;
      }
    }
    tiles_ = true;
  }
  Colour& Tile(int tx, int ty) { return tile_[static_cast<std::size_t>(ty) * tiles_w_ + tx]; }
  int& RunOf(int tx, int ty) { return run_[static_cast<std::size_t>(ty) * tiles_w_ + tx]; }

  // The positions x of a row that start in tile column tx form a group; the
  // group's colour is that of the screen under every picture placed there
  // when it is one colour, else kMixed. Kept for the rows of tiles in use.
  Colour GroupColour(int tx, int y) {
    const int ty0 = y / kTile, ty1 = (y + h_ - 1) / kTile;
    if (ty0 != group_ty0_ || ty1 != group_ty1_) {
      group_ty0_ = ty0;
      group_ty1_ = ty1;
      group_.assign(static_cast<std::size_t>(tiles_w_), kUnknown);
    }
    Colour& known = group_[static_cast<std::size_t>(tx)];
    if (known != kUnknown) return known;
    const int last_x = std::min(x1_, tx * kTile + kTile - 1);
    const int need = (last_x + w_ - 1) / kTile - tx + 1;
    const Colour c = Tile(tx, ty0);
    bool flat = c != kMixed;
    for (int ty = ty0; ty <= ty1 && flat; ++ty) flat = Tile(tx, ty) == c && RunOf(tx, ty) >= need;
    known = flat ? c : kMixed;
    return known;
  }
  static constexpr Colour kUnknown = 0xFFFFFFFEu;

  // ---- comparing

  // Whether the picture placed over a screen area of the one colour c matches.
  bool FlatMatches(Colour c) {
    if (first_required_ && !Near(first_, c)) return false;
    auto [it, fresh] = flat_mismatches_.try_emplace(c, 0);
    if (fresh)
      for (const PicturePixel& p : unmasked_) it->second += Near(p.colour, c) ? 0 : 1;
    return it->second <= allowed_;
  }

  bool MatchesAt(const Colour* origin) const {
    if (allowed_ == 0) {
      for (const PicturePixel& p : unmasked_)
        if (!Near(p.colour, origin[p.offset])) return false;
      return true;
    }
    // Mismatches are counted a block at a time, without a branch per pixel.
    constexpr std::size_t kBlock = 16;
    int mismatches = 0;
    const std::size_t n = unmasked_.size();
    for (std::size_t i = 0; i < n; i += kBlock) {
      const std::size_t end = std::min(i + kBlock, n);
      for (std::size_t k = i; k < end; ++k)
        mismatches += Within(unmasked_[k].colour, origin[unmasked_[k].offset], tolerance_) ? 0 : 1;
      if (mismatches > allowed_) return false;
    }
    return true;
  }

  // ColoursMatch without branches.
  static bool Within(Colour a, Colour b, int tolerance) {
    if (tolerance <= 0) return ((a ^ b) & 0xFFFFFFu) == 0;
    const unsigned span = 2u * static_cast<unsigned>(tolerance);
    const int dr = static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF);
    const int dg = static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF);
    const int db = static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF);
    return (static_cast<unsigned>(dr + tolerance) <= span) & (static_cast<unsigned>(dg + tolerance) <= span) &
           (static_cast<unsigned>(db + tolerance) <= span);
  }

  // The first x in from .. to where row[x] matches the anchor's colour; to + 1
  // when none. Sixteen pixels are tested together byte by byte (a channel
  // byte matches when it lies in its bounds, the fourth byte always), which
  // the compiler turns into vector code.
  int NextAnchor(const Colour* row, int from, int to) const {
    const AnchorBytes low = anchor_low_, span = anchor_span_;
    int x = from;
    for (; x + kAnchorRun <= to + 1; x += kAnchorRun) {
      AnchorBytes bytes;
      std::memcpy(bytes.data(), row + x, sizeof bytes);
      for (std::size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = static_cast<unsigned char>(bytes[k] - low[k]) <= span[k] ? 0xFF : 0;
      std::array<std::uint32_t, kAnchorRun> pixels;
      std::memcpy(pixels.data(), bytes.data(), sizeof pixels);
      bool any = false;
      for (const std::uint32_t p : pixels) any |= p == 0xFFFFFFFFu;
      if (any) break;
    }
    const Colour anchor = AnchorColour();
    for (; x <= to; ++x)
      if (Within(anchor, row[x], tolerance_)) return x;
    return to + 1;
  }
  // The bounds of each byte of a screen pixel that matches the anchor: its
  // channels within the tolerance, any fourth byte.
  void PlanAnchorBytes() {
    const Colour c = AnchorColour();
    const int t = std::max(tolerance_, 0);
    Colour low = 0, span = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
      const int v = static_cast<int>((c >> shift) & 0xFF);
      const int lo = std::max(v - t, 0), hi = std::min(v + t, 255);
      low |= static_cast<Colour>(lo) << shift;
      span |= static_cast<Colour>(hi - lo) << shift;
    }
    for (std::size_t at = 0; at < anchor_low_.size(); at += 4) {
      std::memcpy(anchor_low_.data() + at, &low, 4);
      std::memcpy(anchor_span_.data() + at, &span, 4);
    }
  }
  Colour AnchorColour() const { return picture_.pixels[static_cast<std::size_t>(anchor_)] & 0xFFFFFFu; }
  int AnchorOffset() const { return (anchor_ / w_) * frame_.width + anchor_ % w_; }

  // Positions x0 .. x1 of row y, one at a time.
  std::optional<int> FirstInRun(int y, int from, int to) {
    const Colour* origin = At(0, y);
    if (anchor_ >= 0) {
      const Colour* anchor_row = origin + AnchorOffset();
      for (int x = NextAnchor(anchor_row, from, to); x <= to; x = NextAnchor(anchor_row, x + 1, to)) {
        if (first_required_ && !Near(first_, origin[x])) continue;
        if (bound_ && FlatTilesReject(x, y)) continue;
        if (MatchesAt(origin + x)) return x;
      }
      return std::nullopt;
    }
    for (int x = from; x <= to; ++x)
      if (!(bound_ && FlatTilesReject(x, y)) && MatchesAt(origin + x)) return x;
    return std::nullopt;
  }

  std::optional<Point> FirstMatch() {
    for (int y = y0_; y <= y1_; ++y) {
      if (!tiles_) {
        if (const std::optional<int> x = FirstInRun(y, x0_, x1_)) return Point{*x, y};
        continue;
      }
      if (TooFewRareColours(x0_ / kTile, x1_, y)) continue;  // the whole row
      for (int x = x0_; x <= x1_;) {
        const int tx = x / kTile;
        const int last_x = std::min(x1_, tx * kTile + kTile - 1);
        const Colour flat = GroupColour(tx, y);
        if (flat != kMixed) {
          if (FlatMatches(flat)) return Point{x, y};
        } else if (!TooFewRareColours(tx, last_x, y)) {
          if (const std::optional<int> hit = FirstInRun(y, x, last_x)) return Point{*hit, y};
        }
        x = last_x + 1;
      }
    }
    return std::nullopt;
  }

  // ---- the closest miss, as the plain scan finds it

  template <class ScreenAt>
  Figure PlainFigure(ScreenAt screen_at) const {
    Figure f;
    int matches = 0;
    for (int i = 0; i < n_; ++i) {
      const Colour p = picture_.pixels[static_cast<std::size_t>(i)] & 0xFFFFFFu;
      if (Masked(p) || Near(p, screen_at(i))) {
        ++matches;
      } else if (matches > f.matched) {
        f.matched = matches;
        f.pixel = i;
      }
      if (matches + allowed_ >= n_) {
        f.found = true;
        break;
      }
      if (matches + allowed_ < i + 1) break;
    }
    return f;
  }

  template <class ScreenAt>
  void Note(const Figure& f, Point at, ClosestMiss& best, ScreenAt screen_at) const {
    if (f.matched <= best.matched) return;
    best.matched = f.matched;
    best.at = at;
    best.pixel = {f.pixel % w_, f.pixel / w_};
    best.screen = {at.x + best.pixel.x, at.y + best.pixel.y};
    best.image_colour = picture_.pixels[static_cast<std::size_t>(f.pixel)] & 0xFFFFFFu;
    best.screen_colour = screen_at(f.pixel) & 0xFFFFFFu;
  }

  void FollowPlainScan(ImageMatch& result) {
    std::unordered_map<Colour, Figure> flat_figures;
    auto done = [&](Point at) {
      result.found = true;
      result.at = at;
    };
    for (int y = y0_; y <= y1_; ++y) {
      for (int x = x0_; x <= x1_;) {
        const int tx = x / kTile;
        const int last_x = std::min(x1_, tx * kTile + kTile - 1);
        const Colour flat = GroupColour(tx, y);
        if (flat != kMixed) {
          // Every position of the group sees the same colours: the first one
          // tells for all.
          if (!first_required_ || Near(first_, flat)) {
            auto [it, fresh] = flat_figures.try_emplace(flat);
            const auto screen_at = [flat](int) { return flat; };
            if (fresh) it->second = PlainFigure(screen_at);
            Note(it->second, {x, y}, result.closest, screen_at);
            if (it->second.found) return done({x, y});
          }
          x = last_x + 1;
          continue;
        }
        for (; x <= last_x; ++x) {
          const Colour* origin = At(x, y);
          if (first_required_ && !Near(first_, origin[0])) continue;
          const auto screen_at = [&](int i) { return origin[(i / w_) * frame_.width + i % w_]; };
          const Figure f = PlainFigure(screen_at);
          Note(f, {x, y}, result.closest, screen_at);
          if (f.found) return done({x, y});
        }
      }
    }
  }

  const Frame& frame_;
  const Picture& picture_;
  const ImageQuery& query_;
  int w_ = 0, h_ = 0, n_ = 0, allowed_ = 0, tolerance_ = 0;
  int x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0;
  Colour first_ = 0;
  bool first_required_ = true;
  std::vector<PicturePixel> unmasked_;
  int anchor_ = -1;
  static constexpr int kAnchorRun = 16;  // pixels tested together
  using AnchorBytes = std::array<unsigned char, 4 * kAnchorRun>;
  AnchorBytes anchor_low_{}, anchor_span_{};
  int samples_ = 0;
  bool tiles_ = false;
  int tiles_w_ = 0;
  std::vector<Colour> tile_;
  std::vector<int> run_;
  std::vector<Colour> group_;
  int group_ty0_ = -1, group_ty1_ = -1;
  std::unordered_map<Colour, int> flat_mismatches_;
  bool bound_ = false;
  std::array<std::vector<TilePart>, kTile * kTile> parts_;
  std::vector<int> telling_;
  std::vector<std::pair<Colour, std::vector<int>>> flat_sums_;
  std::vector<Colour> rare_;
  int rare_needed_ = 0;
  std::vector<int> rare_sums_;
};

}  // namespace

Rect ImageArea(const std::optional<Rect>& rect, int screen_width, int screen_height) {
  Rect r = rect.value_or(Rect{0, 0, screen_width, screen_height});
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  if (r.right == r.left) r.right = screen_width;
  if (r.bottom == r.top) r.bottom = screen_height;
  r.left = std::clamp(r.left, 0, screen_width);
  r.right = std::clamp(r.right, r.left, std::max(r.left, screen_width));
  r.top = std::clamp(r.top, 0, screen_height);
  r.bottom = std::clamp(r.bottom, r.top, std::max(r.top, screen_height));
  return r;
}

int AllowedMismatches(int pixels, int percent) {
  if (percent <= 0 || percent >= 100) return 0;
  const long long n = pixels;
  return static_cast<int>(n - (percent * n + 50) / 100);
}

ImageMatch SearchImage(const Frame& frame, const Picture& picture, const ImageQuery& query) {
  ImageMatch result;
  result.area = ImageArea(query.rect, frame.width, frame.height);
  if (picture.empty() || frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) return result;
  if (picture.pixels.size() != static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height))
    return result;
  if (result.area.right - result.area.left < picture.width || result.area.bottom - result.area.top < picture.height)
    return result;
  ImageMatch found = Scan(frame, picture, query, result.area).Run();
  found.area = result.area;
  return found;
}

std::optional<Point> SearchPixel(const Frame& frame, Colour colour, const std::optional<Rect>& rect, int tolerance,
                                 Point start) {
  if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) return std::nullopt;
  const Rect area = ImageArea(rect, frame.width, frame.height);
  const int right = std::min(area.right, frame.width - 1), bottom = std::min(area.bottom, frame.height - 1);
  if (area.left > right || area.top > bottom) return std::nullopt;
  int y = area.top, x = area.left;
  if ((start.x > 0 || start.y > 0) && start.y >= area.top) {
    y = start.y;
    x = std::max(start.x, area.left);
  }
  for (; y <= bottom; ++y, x = area.left) {
    const Colour* row = frame.pixels + static_cast<std::ptrdiff_t>(y) * frame.width;
    for (; x <= right; ++x)
      if (ColoursMatch(row[x], colour, tolerance)) return Point{x, y};
  }
  return std::nullopt;
}

}  // namespace olvex
