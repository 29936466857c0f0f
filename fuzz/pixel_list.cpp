// Pixel lists and colour texts on arbitrary text: a list gives a square of at
// most 64 x 64, and the search for it over a frame of random colours never
// strays outside the frame.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "screen/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const olvex::Picture picture = olvex::ParsePixelList(text);
  if (picture.width != picture.height || picture.width > 64 ||
      picture.pixels.size() != static_cast<std::size_t>(picture.width * picture.height))
    __builtin_trap();
  const olvex::Colour colour = olvex::ParseColorText(text);
  if (colour > 0xFFFFFF || olvex::ParseColorText(olvex::ColorText(colour)) != colour) __builtin_trap();
  (void)olvex::IsPixelList(text);

  // A frame of 40 x 30 built from the text's bytes, searched with the
  // tolerance, percentage and rectangle its first bytes choose.
  std::vector<olvex::Colour> frame(40 * 30);
  for (std::size_t i = 0; i < frame.size(); ++i)
    frame[i] = size ? static_cast<olvex::Colour>(data[i % size]) * 0x010101u % 0x1000000u : 0;
  olvex::ImageQuery query;
  if (size >= 6) {
    query.tolerance = data[0] % 32;
    query.allowed_mismatches = olvex::AllowedMismatches(picture.width * picture.height, data[1] % 101);
    query.rect = olvex::Rect{data[2] % 50 - 5, data[3] % 40 - 5, data[4] % 50 - 5, data[5] % 40 - 5};
    query.mask = data[0] & 1 ? 0x000000u : olvex::kNoMask;
    query.want_closest = data[1] & 1;
  }
  const olvex::ImageMatch m = olvex::SearchImage({40, 30, frame.data()}, picture, query);
  if (m.found && (m.at.x < 0 || m.at.y < 0 || m.at.x + picture.width > 40 || m.at.y + picture.height > 30))
    __builtin_trap();
  return 0;
}
