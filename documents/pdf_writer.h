#pragma once
// The PDF writer: plain text as a PDF 1.3 document of text lines in one
// standard Type 1 font, with optional line numbers, wrapping at blanks, page
// numbers and an outline with one entry per page. Every object is written
// from text templates; the page count is counted in a first pass over the
// text so that the object numbers are known before the first byte is
// written, and no line is lost past the last page.
#include <string>

namespace olvex {

struct PdfSettings {
  std::string path;  // the file to write
  std::string body;  // lines end at CR LF, LF or CR (the first kind met)
  bool outline = false;  // "Content": an outline entry per page, shown on opening
  std::string font;      // "Times..", "Courier..", "Arial.." or a base font's name; empty: Helvetica
  int font_size = 0;     // points; 12 when 0 or less
  double left_margin = 0, top_margin = 0;   // inches; 1.0 and 0.75 when 0 or less
  double page_width = 0, page_height = 0;   // inches; 8.5 and 11 unless above 1; at most 720
  bool page_numbers = false, line_numbers = false, wrap = false;
  // At most 63 characters each. Producer and creator "Olvex Studio" when
  // empty, the title the file's base name.
  std::string producer, subject, creator, title, author;
};

// The bytes of the document.
std::string PdfDocument(const PdfSettings& settings);

// Writes the document to `settings.path`: under a temporary name beside it,
// then renamed over it, so that a failed write keeps the old file. False with
// the reason in `error` when the file could not be written.
bool WritePdf(const PdfSettings& settings, std::string* error);

}  // namespace olvex
