#pragma once
// Pictures from the texts and files a step names: colour texts, pixel lists
// written into the step, and BMP files (read and written here, on every
// system).
#include <string>
#include <string_view>

#include "screen/image_search.h"

namespace olvex {

// The text without spaces, tabs, CRs and LFs around it.
std::string_view TrimBlanks(std::string_view text);

// A colour name ("RED", "LT GRAY", ...) or six hexadecimal digits RRGGBB
// after blanks, commas, double quotes, every "0x" and a leading "#" are
// removed; anything else is black.
Colour ParseColorText(std::string_view text);
// The colour as ParseColorText reads it back: six digits RRGGBB.
std::string ColorText(Colour colour);

// Whether a picture-list item is written as pixels: its fourth character is
// a comma or it holds a "*", and it holds neither "." nor "\".
bool IsPixelList(std::string_view item);
// Items of one to three hexadecimal digits (red, green, blue, each times
// 16), separated by commas; "RGB*N" repeats an item N times. The picture is
// the largest square the items fill, at most 64 x 64.
Picture ParsePixelList(std::string_view text);

// A BMP file's picture: 1, 4, 8, 16, 24 and 32 bits per pixel, uncompressed
// or with bit fields, rows either way up (run-length coded files are refused). False with the reason
// in `error` when the file is not a picture this reader takes.
bool ReadBmp(std::string_view bytes, Picture& picture, std::string& error);
// A 24-bit BMP file of the pixels (`width` a row, rows from the top).
std::string WriteBmp(const Colour* pixels, int width, int height);

}  // namespace olvex
