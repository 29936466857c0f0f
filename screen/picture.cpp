#include "screen/picture.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>

#include "engine/text.h"

namespace olvex {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char lower = AsciiLower(c);
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

struct NamedColour {
  std::string_view name;
  Colour colour;
};
constexpr std::array<NamedColour, 17> kColourNames = {{
    {"BLACK", 0x000000},      {"GRAY", 0x808080},    {"LIGHT GRAY", 0xC0C0C0}, {"LT GRAY", 0xC0C0C0},
    {"DARK GRAY", 0x404040},  {"DK GRAY", 0x404040}, {"WHITE", 0xFFFFFF},      {"RED", 0x0000FF},
    {"GREEN", 0x00FF00},      {"BLUE", 0xFF0000},    {"YELLOW", 0x00FFFF},     {"BROWN", 0x008080},
    {"CYAN", 0xFFFF00},       {"TEAL", 0x808000},    {"PINK", 0xFF00FF},       {"PURPLE", 0x800080},
}};

// The largest picture a pixel list gives: 64 x 64.
constexpr std::size_t kListSide = 64;

Colour ItemColour(std::string_view digits) {
  auto level = [&](std::size_t i) { return std::max(HexDigit(digits[i]), 0) * 16; };
  if (digits.empty()) return 0;
  if (digits.size() == 1) return platform::MakeColour(level(0), level(0), level(0));
  return platform::MakeColour(level(0), level(1), digits.size() >= 3 ? level(2) : 0);
}

// ---- BMP files

std::uint32_t U32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
std::uint16_t U16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

// One channel of a bit-field pixel, scaled to 0 .. 255.
struct Field {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t top = 0;
  explicit Field(std::uint32_t m) : mask(m) {
    if (mask == 0) return;
    shift = std::countr_zero(mask);
    top = mask >> shift;
  }
  int Of(std::uint32_t v) const { return top == 0 ? 0 : static_cast<int>(((v & mask) >> shift) * 255 / top); }
};

constexpr std::uint32_t kRgb = 0, kBitFields = 3;
// Pictures above this many pixels are refused before memory is taken for them.
constexpr std::uint64_t kMaxBmpPixels = 1u << 26;

void Put(std::string& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string_view TrimBlanks(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

Colour ParseColorText(std::string_view text) {
  const std::string_view name = TrimBlanks(text);
  for (const NamedColour& n : kColourNames)
    if (EqualsNoCase(name, n.name)) return n.colour;
  std::string digits;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != ',' && c != '"') digits.push_back(c);
  ReplaceAll(digits, "0x", "", true);
  if (!digits.empty() && digits[0] == '#') digits.erase(0, 1);
  if (digits.size() != 6) return 0;
  int v[6];
  for (int i = 0; i < 6; ++i)
    if ((v[i] = HexDigit(digits[static_cast<std::size_t>(i)])) < 0) return 0;
  return platform::MakeColour(v[0] * 16 + v[1], v[2] * 16 + v[3], v[4] * 16 + v[5]);
}

std::string ColorText(Colour colour) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", platform::RedOf(colour), platform::GreenOf(colour),
                platform::BlueOf(colour));
  return text;
}

bool IsPixelList(std::string_view item) {
  const bool shaped = (item.size() > 3 && item[3] == ',') || item.find('*') != std::string_view::npos;
  return shaped && item.find_first_of(".\\") == std::string_view::npos;
}

Picture ParsePixelList(std::string_view text) {
  // Only the first 64 x 64 items can be part of the picture: counting stops there.
  constexpr std::size_t kMost = kListSide * kListSide;
  std::vector<Colour> items;
  std::size_t at = 0;
  while (at <= text.size() && items.size() < kMost) {
    std::size_t comma = text.find(',', at);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view item = TrimBlanks(text.substr(at, comma - at));
    at = comma + 1;
    if (item.empty()) continue;
    const std::size_t star = item.find('*');
    const Colour colour = ItemColour(TrimBlanks(item.substr(0, star)));
    const long long repeat = star == std::string_view::npos ? 1 : std::max(FirstNumber(item.substr(star + 1)), 0);
    const std::size_t take = static_cast<std::size_t>(std::min<long long>(repeat, static_cast<long long>(kMost - items.size())));
    items.insert(items.end(), take, colour);
  }
  std::size_t side = 0;
  while ((side + 1) * (side + 1) <= items.size()) ++side;
  Picture picture;
  picture.width = picture.height = static_cast<int>(side);
  picture.pixels.assign(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(side * side));
  return picture;
}

bool ReadBmp(std::string_view b, Picture& picture, std::string& error) {
  picture = Picture{};
  auto fail = [&](const char* why) {
    error = why;
    return false;
  };
  if (b.size() < 26 || b[0] != 'B' || b[1] != 'M') return fail("not a BMP file");
  const std::uint32_t data_at = U32(b, 10);
  const std::uint32_t header = U32(b, 14);
  std::int64_t width = 0, height = 0;
  int bits = 0;
  std::uint32_t compression = kRgb, colours_used = 0;
  const bool core = header == 12;
  if (core) {
    width = U16(b, 18);
    height = static_cast<std::int16_t>(U16(b, 20));
    bits = U16(b, 24);
  } else {
    if (header < 40 || b.size() < 14 + static_cast<std::size_t>(header)) return fail("the BMP header is cut short");
    width = static_cast<std::int32_t>(U32(b, 18));
    height = static_cast<std::int32_t>(U32(b, 22));
    bits = U16(b, 28);
    compression = U32(b, 30);
    colours_used = U32(b, 46);
  }
  const bool top_down = height < 0;
  if (top_down) height = -height;
  if (width <= 0 || height <= 0) return fail("the BMP picture is empty");
  if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxBmpPixels)
    return fail("the BMP picture is too large");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return fail("the BMP file has an unknown colour depth");
  if (compression != kRgb && !(compression == kBitFields && (bits == 16 || bits == 32)))
    return fail("compressed BMP files are not read");

  const std::size_t table_at = 14 + header;
  // Bit fields: after a 40-byte header, or inside a larger one.
  Field red(0x7C00), green(0x03E0), blue(0x001F);
  if (bits == 32) red = Field(0xFF0000), green = Field(0xFF00), blue = Field(0xFF);
  std::size_t palette_at = table_at;
  if (compression == kBitFields) {
    const std::size_t masks_at = header == 40 ? table_at : 14 + 40;
    if (b.size() < masks_at + 12) return fail("the BMP header is cut short");
    red = Field(U32(b, masks_at));
    green = Field(U32(b, masks_at + 4));
    blue = Field(U32(b, masks_at + 8));
    if (header == 40) palette_at += 12;
  }
  std::vector<Colour> palette;
  if (bits <= 8) {
    const std::size_t entry = core ? 3 : 4;
    // The table stands between the header and the pixels, and is often shorter than the depth allows.
    const std::size_t room = data_at > palette_at ? (data_at - palette_at) / entry : 0;
    const std::size_t entries = std::min({colours_used == 0 ? (std::size_t{1} << bits) : std::size_t{colours_used},
                                          std::size_t{256}, room});
    if (palette_at + entries * entry > b.size()) return fail("the BMP colour table is cut short");
    for (std::size_t i = 0; i < entries; ++i) {
      const std::size_t e = palette_at + i * entry;
      palette.push_back(platform::MakeColour(static_cast<unsigned char>(b[e + 2]), static_cast<unsigned char>(b[e + 1]),
                                             static_cast<unsigned char>(b[e])));
    }
  }
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
  if (data_at > b.size() || stride * static_cast<std::uint64_t>(height) > b.size() - data_at)
    return fail("the BMP pixels are cut short");

  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  picture.bits_per_pixel = bits;
  picture.pixels.resize(static_cast<std::size_t>(width * height));
  for (std::int64_t row = 0; row < height; ++row) {
    const std::string_view line = b.substr(data_at + static_cast<std::size_t>(stride * static_cast<std::uint64_t>(row)),
                                           static_cast<std::size_t>(stride));
    Colour* out = &picture.pixels[static_cast<std::size_t>((top_down ? row : height - 1 - row) * width)];
    for (std::int64_t x = 0; x < width; ++x) {
      const auto byte = [&](std::int64_t i) { return static_cast<unsigned char>(line[static_cast<std::size_t>(i)]); };
      Colour c = 0;
      if (bits <= 8) {
        const std::int64_t bit = x * bits;
        const unsigned index = (byte(bit / 8) >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        c = index < palette.size() ? palette[index] : 0;
      } else if (bits == 24) {
        c = platform::MakeColour(byte(x * 3 + 2), byte(x * 3 + 1), byte(x * 3));
      } else {
        const std::uint32_t v = bits == 16 ? U16(line, static_cast<std::size_t>(x * 2))
                                           : U32(line, static_cast<std::size_t>(x * 4));
        c = platform::MakeColour(red.Of(v), green.Of(v), blue.Of(v));
      }
      out[x] = c;
    }
  }
  return true;
}

std::string WriteBmp(const Colour* pixels, int width, int height) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) / 4 * 4;
  const std::uint32_t image = stride * static_cast<std::uint32_t>(height);
  std::string out;
  out.reserve(54 + image);
  out += "BM";
  Put(out, image + 54, 4);
  Put(out, 0, 4);
  Put(out, 54, 4);
  Put(out, 40, 4);
  Put(out, static_cast<std::uint32_t>(width), 4);
  Put(out, static_cast<std::uint32_t>(height), 4);
  Put(out, 1, 2);
  Put(out, 24, 2);
  Put(out, kRgb, 4);
  Put(out, image, 4);
  Put(out, 2835, 4);  // 72 dots an inch
  Put(out, 2835, 4);
  Put(out, 0, 4);
  Put(out, 0, 4);
  for (int row = height - 1; row >= 0; --row) {
    const Colour* line = pixels + static_cast<std::ptrdiff_t>(row) * width;
    for (int x = 0; x < width; ++x) {
      out.push_back(static_cast<char>(platform::BlueOf(line[x])));
      out.push_back(static_cast<char>(platform::GreenOf(line[x])));
      out.push_back(static_cast<char>(platform::RedOf(line[x])));
    }
    out.append(stride - static_cast<std::uint32_t>(width) * 3, '\0');
  }
  return out;
}

}  // namespace olvex
