// The BMP reader on arbitrary bytes; a picture it takes is searched for in a
// small frame cut from itself, where it must be found.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "screen/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  olvex::Picture picture;
  std::string error;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!olvex::ReadBmp(bytes, picture, error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (picture.pixels.size() != static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height))
    __builtin_trap();
  if (picture.width > 64 || picture.height > 64) return 0;
  const olvex::Frame frame{picture.width, picture.height, picture.pixels.data()};
  olvex::ImageQuery query;
  query.want_closest = size % 2 == 0;
  const olvex::ImageMatch m = olvex::SearchImage(frame, picture, query);
  if (!m.found) __builtin_trap();
  // The round trip through the writer keeps every pixel.
  olvex::Picture again;
  if (!olvex::ReadBmp(olvex::WriteBmp(picture.pixels.data(), picture.width, picture.height), again, error) ||
      again.pixels != picture.pixels)
    __builtin_trap();
  return 0;
}
