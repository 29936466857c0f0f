#include "documents/pdf_writer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>
#include <vector>

#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/file_ops.h"
#include "system/file_paths.h"
#include "system/safe_files.h"

namespace olvex {
namespace {

constexpr std::size_t kLineLimit = 448;   // characters of a source line printed on one line
constexpr std::size_t kTitleLimit = 62;   // characters of a page's first line in its outline entry
constexpr std::size_t kInfoLimit = 63;    // characters of each text of the information dictionary
constexpr std::size_t kDrainAt = 1 << 20;  // bytes gathered before they go to the file

// Conversion toward zero, held inside int.
int Trunc(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

std::string N(long long n) { return std::to_string(n); }
std::size_t Digits(long long n) {
  std::size_t digits = 1;
  for (; n >= 10; n /= 10) ++digits;
  return digits;
}

// "\", "(" and ")" escaped, as a PDF literal string needs them.
void Escape(std::string_view text, std::string* out) {
  std::size_t done = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' || text[i] == '(' || text[i] == ')') {
      out->append(text.substr(done, i - done));
      *out += '\\';
      done = i;
    }
  }
  out->append(text.substr(done));
}
std::string Escaped(std::string_view text) {
  std::string out;
  Escape(text, &out);
  return out;
}
std::string Unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) out += text[i] == '\\' && i + 1 < text.size() ? text[++i] : text[i];
  return out;
}

// A font name as a PDF name object: bytes outside the printable range and
// the delimiters written as #xx ("Comic Sans MS" -> Comic#20Sans#20MS).
std::string PdfName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x21 || u > 0x7E || std::string_view("()<>[]{}/%#").find(c) != std::string_view::npos) {
      out += '#';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string BaseFont(const std::string& font) {
  if (ContainsNoCase(font, "Times")) return "Times-Roman";
  if (ContainsNoCase(font, "Courier")) return "Courier";
  if (ContainsNoCase(font, "Arial") || font.empty()) return "Helvetica";
  return font;
}

struct Measures {
  int font_size;
  double left_margin;  // inches
  double char_width;   // points
  int width, height;   // points
  int lines_per_page;
  int x, y;  // where the first line starts
  int wrap_limit;
};

Measures MeasuresOf(const PdfSettings& s) {
  auto inches = [](double v, double floor, double fallback) { return std::isfinite(v) && v > floor ? std::min(v, 720.0) : fallback; };
  Measures m{};
  m.font_size = s.font_size > 0 ? s.font_size : 12;
  m.left_margin = inches(s.left_margin, 0, 1.0);
  const double top = inches(s.top_margin, 0, 0.75);
  const double width = inches(s.page_width, 1, 8.5), height = inches(s.page_height, 1, 11);
  m.char_width = m.font_size * (ContainsNoCase(s.font, "Courier") ? 0.65 : 0.47);
  m.width = Trunc(width * 72);
  m.height = Trunc(height * 72);
  m.lines_per_page = std::max(1, Trunc((height - 2 * top) * 72 / m.font_size));
  m.x = Trunc(72 * m.left_margin);
  m.y = Trunc(m.height - 72 * top);
  m.wrap_limit = Trunc(m.width - 2 * 72 * m.left_margin);
  return m;
}

// Lays the body out into pages. The same layout runs twice: once to count
// the pages, once to write them.
class Layout {
 public:
  Layout(std::string_view body, const Measures& m, bool wrap, bool numbers)
      : body_(body), m_(m), wrap_(wrap), numbers_(numbers), separator_(SeparatorOf(body)) {}

  // True when no text is left and no page break asks for a further page.
  bool Done() const { return !page_break_ && carried_.empty() && !in_line_ && position_ >= body_.size(); }

  // Lays out the next page. With `content`, appends each line's text
  // operators to it and puts the page's first line (escaped, before any
  // wrapping) into `first`. Returns the number of lines.
  int FillPage(std::string* content, std::string* first) {
    page_break_ = false;
    int lines = 0;
    while (lines < m_.lines_per_page && !page_break_) {
      bool numbered = false;
      if (!carried_.empty()) {
        line_.swap(carried_);
        carried_.clear();
      } else {
        if (!in_line_) {
          if (position_ >= body_.size()) break;
          rest_ = NextSourceLine();
          numbered = numbers_;
          ++line_number_;
        }
        TakePiece();
      }
      std::string_view text = line_;
      if (wrap_) {
        // "(" or "T* (", and the number with ":" and two blanks
        const std::size_t prefix = (lines == 0 ? 1 : 4) + (numbered ? Digits(line_number_) + 3 : 0);
        if (Trunc(static_cast<double>(prefix + text.size()) * m_.char_width) > m_.wrap_limit) {
          const auto from = static_cast<std::size_t>(std::clamp(Trunc(m_.wrap_limit / m_.char_width), 0, 511));
          const std::size_t blank = text.find(' ', from);
          if (blank != std::string_view::npos && blank + 1 < text.size()) {
            carried_.assign(text.substr(blank + 1));
            text = text.substr(0, blank + 1);
          }
        }
      }
      if (content) {
        if (lines == 0 && first) *first = line_;
        if (lines > 0) *content += "T* ";
        *content += '(';
        if (numbered) {
          *content += N(line_number_);
          *content += ":  ";
        }
        *content += text;
        *content += ") Tj\n";
      }
      ++lines;
    }
    return lines;
  }

 private:
  static std::string_view SeparatorOf(std::string_view body) {
    const std::size_t at = body.find_first_of("\r\n");
    if (at == std::string_view::npos) return "\r\n";
    if (body[at] == '\n') return "\n";
    return at + 1 < body.size() && body[at + 1] == '\n' ? "\r\n" : "\r";
  }

  std::string_view NextSourceLine() {
    const std::size_t end = body_.find(separator_, position_);
    const std::string_view line = body_.substr(position_, end == std::string_view::npos ? std::string_view::npos : end - position_);
    position_ = end == std::string_view::npos ? body_.size() : end + separator_.size();
    in_line_ = true;
    return line;
  }

  // The next piece of the open source line into line_ (escaped): up to a
  // page-break marker, which ends the page (the rest of the line starts the
  // next one), else at most kLineLimit characters (the rest follows as a
  // line of its own).
  void TakePiece() {
    // Only a marker that starts within the piece counts: a long line is not searched again and again.
    const std::string_view window = rest_.substr(0, kLineLimit + 6);
    std::size_t marker = window.find("{PAGE}"), length = 6;
    if (const std::size_t other = window.find("{\\P}"); other < marker) {
      marker = other;
      length = 4;
    }
    std::string_view piece;
    if (marker <= kLineLimit) {
      piece = rest_.substr(0, marker);
      rest_.remove_prefix(marker + length);
      page_break_ = true;
    } else {
      piece = rest_.substr(0, kLineLimit);
      rest_.remove_prefix(piece.size());
    }
    in_line_ = !rest_.empty();
    line_.clear();
    Escape(piece, &line_);
  }

  std::string_view body_;
  const Measures& m_;
  bool wrap_, numbers_;
  std::string_view separator_;
  std::size_t position_ = 0;  // of the next source line
  std::string_view rest_;     // what is left of the open source line
  bool in_line_ = false;      // a source line has text left to print
  bool page_break_ = false;   // a marker ended the page: another page follows
  long long line_number_ = 0;
  std::string line_, carried_;  // escaped: the line being laid out, the wrapped remainder
};

// The document's bytes on their way out, with the position of each byte.
class Sink {
 public:
  explicit Sink(std::function<bool(std::string_view)> drain) : drain_(std::move(drain)) {}
  void Put(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kDrainAt) Drain();
  }
  std::uint64_t Position() const { return drained_ + buffer_.size(); }
  bool Drain() {
    if (ok_ && !buffer_.empty()) ok_ = drain_(buffer_);
    drained_ += buffer_.size();
    buffer_.clear();
    return ok_;
  }

 private:
  std::function<bool(std::string_view)> drain_;
  std::string buffer_;
  std::uint64_t drained_ = 0;
  bool ok_ = true;
};

std::string InfoText(const std::string& text, const char* fallback) {
  return Escaped(std::string_view(text.empty() ? fallback : text).substr(0, kInfoLimit));
}

std::string DefaultTitle(const std::string& path) {
  std::string base = BaseNameOf(path);
  if (const std::size_t dot = base.rfind('.'); dot != std::string::npos && dot > 0) base.resize(dot);
  return base;
}

bool Render(const PdfSettings& s, Sink& out) {
  const Measures m = MeasuresOf(s);
  int n = 0;
  for (Layout counting(s.body, m, s.wrap, s.line_numbers); n == 0 || !counting.Done(); ++n) counting.FillPage(nullptr, nullptr);
  const int outlines = 2 * n + 4, info = s.outline ? 2 * n + 5 : 2 * n + 4;
  std::vector<std::uint64_t> offsets(static_cast<std::size_t>(info) + 1);
  auto begin_object = [&](int number) { offsets[static_cast<std::size_t>(number)] = out.Position(); };

  out.Put("%PDF-1.3\n");
  begin_object(1);
  out.Put("1 0 obj\n<< /Type /Catalog\n   /Pages 2 0 R\n");
  if (s.outline) out.Put("   /Outlines " + N(outlines) + " 0 R\n   /PageMode /UseOutlines\n");
  out.Put(">>\nendobj\n\n");

  begin_object(2);
  std::string kids = "2 0 obj\n<< /Type /Pages\n   /Kids [\n";
  for (int p = 1; p <= n; ++p) kids += "   " + N(2 * p + 2) + " 0 R\n";
  out.Put(kids + "   ]\n   /Count " + N(n) + "\n>>\nendobj\n\n");

  // Text is in the script's code page; the symbol fonts keep their own encoding.
  const std::string base_font = BaseFont(s.font);
  const bool symbolic = ContainsNoCase(base_font, "Symbol") || ContainsNoCase(base_font, "Dingbats");
  begin_object(3);
  out.Put("3 0 obj\n<< /Type /Font\n /Subtype /Type1\n /Name /F1\n /BaseFont /" + PdfName(base_font) + "\n" +
          (symbolic ? "" : " /Encoding /WinAnsiEncoding\n") + ">>\nendobj\n\n");

  SetStatusText(true, 0, " Creating PDF...");
  Layout layout(s.body, m, s.wrap, s.line_numbers);
  std::string content, first;
  for (int p = 1; p <= n; ++p) {
    if (n > 50) SetStatusText(false, 0, " PDF Page: %d", p);
    const int k = 2 * p + 2;
    content = "BT\n/F1 " + N(m.font_size) + " Tf\n" + N(m.x) + " " + N(m.y) + " Td\n0 -" + N(m.font_size) + " TD\n";
    first.clear();
    const int lines = layout.FillPage(&content, &first);
    if (s.page_numbers) {
      const std::string footer = "Page " + N(p) + " of " + N(n);
      const double half = static_cast<double>(footer.size() / 2) * m.char_width;
      content += N(Trunc(m.width * 0.5 - (Trunc(half) + 72 * m.left_margin))) + " 0 Td\n";
      for (int i = lines; i <= m.lines_per_page; ++i) content += "T* ( ) Tj\n";
      content += "T* (" + footer + ") Tj\n";
    }
    content += "ET\n";

    std::string entry;
    if (s.outline) {
      const std::string title = Escaped(Unescaped(first).substr(0, kTitleLimit));
      entry = "  /Title (Page " + N(p) + (title.empty() ? "" : " - \"" + title + "\"") + ")\n  /Dest [" + N(k) +
              " 0 R /XYZ 0 " + N(m.height) + " 0]\n";
      if (p < n) entry += "  /Next " + N(k + 2) + " 0 R\n";
    }
    begin_object(k);
    out.Put(N(k) + " 0 obj\n<< /Type /Page\n /Parent 2 0 R\n" + entry + " /MediaBox [0 0 " + N(m.width) + " " +
            N(m.height) + "]\n /Contents " + N(k + 1) +
            " 0 R\n /Resources << /ProcSet [/PDF /Text]\n    /Font << /F1 3 0 R >>\n >>\n>>\nendobj\n\n");
    begin_object(k + 1);
    out.Put(N(k + 1) + " 0 obj\n<< /Length " + N(static_cast<long long>(content.size())) + " >>\nstream\n");
    out.Put(content);
    out.Put("endstream\nendobj\n\n");
  }
  SetStatusText(true, 0, "%s", "");

  if (s.outline) {
    begin_object(outlines);
    out.Put(N(outlines) + " 0 obj\n<< /Type /Outlines\n /First 4 0 R\n /Last " + N(2 * n + 2) + " 0 R\n /Count " + N(n) +
            "\n>>\nendobj\n\n");
  }
  begin_object(info);
  out.Put(N(info) + " 0 obj\n<<\n/Producer (" + InfoText(s.producer, "Olvex Studio") + ")\n/Subject (" +
          InfoText(s.subject, "") + ")\n/Creator (" + InfoText(s.creator, "Olvex Studio") + ")\n/Title (" +
          InfoText(s.title.empty() ? DefaultTitle(s.path) : s.title, "") + ")\n/Author (" + InfoText(s.author, "") +
          ")\n>>\nendobj\n");

  // The cross-reference table: one entry of 20 bytes per object.
  const std::uint64_t xref = out.Position();
  std::string table = "xref\n0 " + N(info + 1) + "\n0000000000 65535 f \n";
  char entry[24];
  for (int i = 1; i <= info; ++i) {
    std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(offsets[static_cast<std::size_t>(i)]));
    table += entry;
  }
  out.Put(table + "\ntrailer\n << /Size " + N(info + 1) + "\n /Info " + N(info) + " 0 R /Root 1 0 R\n >>\nstartxref\n" +
          std::to_string(xref) + "\n%%EOF\n");
  return out.Drain();
}

}  // namespace

std::string PdfDocument(const PdfSettings& settings) {
  std::string bytes;
  Sink out([&](std::string_view part) {
    bytes += part;
    return true;
  });
  Render(settings, out);
  return bytes;
}

bool WritePdf(const PdfSettings& settings, std::string* error) {
  if (settings.path.empty()) {
    *error = "No file name provided";
    return false;
  }
  return ReplaceFileSafely(
      settings.path,
      [&](platform::File& file) {
        std::uint64_t at = 0;
        Sink out([&](std::string_view part) {
          const bool ok = file.WriteAt(at, part.data(), part.size());
          at += part.size();
          return ok;
        });
        return Render(settings, out);
      },
      error);
}

}  // namespace olvex
