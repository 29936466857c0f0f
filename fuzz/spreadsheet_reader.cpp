// The raw cell reader on arbitrary bytes, asked for cells chosen by the first
// bytes; a cell it finds keeps within the text limit. The same bytes, as a
// text to write, make a file or a clear error, and a plain word reads back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "documents/spreadsheet_reader.h"
#include "documents/spreadsheet_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const int sheet = size > 0 ? data[0] % 4 + 1 : 1;
  const int row = size > 2 ? (data[1] | data[2] << 8) % 70000 + 1 : 1;
  const int column = size > 3 ? data[3] % 300 + 1 : 1;
  if (const std::optional<olvex::RawCell> cell = olvex::ReadRawCell(bytes, sheet, row, column))
    if (cell->text.size() > 255 || (cell->is_number && !cell->text.empty())) __builtin_trap();

  if (size > 4096) return 0;
  olvex::Worksheet written;
  std::string error;
  if (!olvex::BuildWorksheet(olvex::SheetText{bytes, {}, {}, {}}, written, error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  // A text of one plain word is one label that reads back as written.
  const bool plain_word = bytes.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string_view::npos;
  if (size > 0 && size <= 255 && plain_word) {
    const std::optional<olvex::RawCell> cell = olvex::ReadRawCell(written.bytes, 1, 1, 1);
    if (!cell || cell->is_number || cell->text != bytes) __builtin_trap();
  }
  return 0;
}
