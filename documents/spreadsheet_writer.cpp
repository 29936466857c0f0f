#include "documents/spreadsheet_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <deque>
#include <optional>

#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/locale.h"
#include "system/safe_files.h"
#include "vars/format.h"
#include "vars/formula.h"

namespace olvex {
namespace {

// Number formats every file carries, in order: a cell format names one by its position.
constexpr std::string_view kNumberFormats[] = {
    "General", "0", "0.00", "#,##0", "#,##0.00", R"("$"#,##0_);\("$"#,##0\))", R"("$"#,##0_);[Red]\("$"#,##0\))",
    R"("$"#,##0.00_);\("$"#,##0.00\))", R"("$"#,##0.00_);[Red]\("$"#,##0.00\))", "0%", "0.00%", "0.00E+00",
    R"(#\ ?/?)", "m/d/yyyy", R"(d\-mmm\-yy)", R"(d\-mmm)", R"(mmm\-yy)", R"(h:mm\ AM/PM)", R"(h:mm:ss\ AM/PM)",
    "h:mm", "h:mm:ss", R"(m/d/yyyy\ h:mm)", R"(#,##0_);\(#,##0\))", R"(#,##0_);[Red]\(#,##0\))",
    R"(#,##0.00_);\(#,##0.00\))", R"(#,##0.00_);[Red]\(#,##0.00\))", "##0.0E+0", "mm:ss", "@", "mmmm dd, yyyy",
    "mmmm dd", "dddd", "yyyy-mm-dd", "0.0", "0.000", "0.0000", "#,##0.0"};
constexpr int kCurrencyFormat = 8, kDecimalFormat = 2, kDateFormat = 14;

struct NamedColour {
  std::string_view name;
  int index;
};
constexpr NamedColour kBackgrounds[] = {{"black", 8},   {"white", 9},   {"red", 10},     {"lime", 11},    {"blue", 12},
                                        {"yellow", 13}, {"pink", 14},   {"magenta", 14}, {"fuchsia", 14}, {"cyan", 15},
                                        {"aqua", 15},   {"maroon", 16}, {"green", 17},   {"navy", 18},    {"olive", 19},
                                        {"purple", 20}, {"teal", 21},   {"silver", 22},  {"gray", 23}};
constexpr NamedColour kFontColours[] = {{"black", 0}, {"white", 1},  {"red", 2},  {"green", 3},
                                        {"blue", 4},  {"yellow", 5}, {"pink", 6}, {"cyan", 7}};

constexpr int kMaxCellFormats = 64, kMaxCustomFonts = 63, kDefaultXfs = 16, kBorderColour = 24;
// Pixels per character of the screen's default font (96 dots per inch): COLINFO widths count characters.
constexpr int kAverageCharWidth = 7;
constexpr std::size_t kMaxLabel = 255, kMaxFontName = 63, kMaxFormulaOperands = 64;

// The formatting words of one cell text.
struct Formatting {
  int align = 0, background = 0, sides = 0, line_style = 1, width = 0;
  SheetFont font;
};

enum class Kind : std::uint8_t { kText, kNumber, kDate };

struct Cell {
  int row, column;
  Kind kind;
  int xf = 0;  // 0, or 15 + the cell format's number
  int width = 0;
  double number = 0;
  std::string_view text;  // the label text; empty for numbers and dates
  bool literal = false;   // a text given by value: never a formula
};

// ---- bytes

void Put16(std::string& out, unsigned v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutDouble(std::string& out, double d) {
  const auto bits = std::bit_cast<std::uint64_t>(d);
  Put32(out, static_cast<std::uint32_t>(bits));
  Put32(out, static_cast<std::uint32_t>(bits >> 32));
}
void Record(std::string& out, unsigned id, std::size_t length) {
  Put16(out, id);
  Put16(out, static_cast<unsigned>(length));
}

// ---- formatting words (found case-sensitively and taken out of the text)

bool TakeWord(std::string& text, std::string_view word) {
  const std::size_t at = text.find(word);
  if (at == std::string::npos) return false;
  text.erase(at, word.size());
  return true;
}

// Takes out `word` and what follows it up to the next blank; returns that value.
std::optional<std::string> TakeValue(std::string& text, std::string_view word) {
  const std::size_t at = text.find(word);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t from = at + word.size();
  std::size_t end = text.find(' ', from);
  if (end == std::string::npos) end = text.size();
  std::string value = text.substr(from, end - from);
  text.erase(at, end - at);
  return value;
}

// Takes the formatting words out of `text`; returns whether any was found.
bool TakeFormatting(std::string& text, std::string_view default_font, Formatting& f) {
  bool found = false;
  f.align = TakeWord(text, "align=center") ? 2
            : TakeWord(text, "align=right") ? 3
            : TakeWord(text, "align=left")  ? 1
                                            : 0;
  found |= f.align != 0;
  if (const std::size_t at = text.find("border="); at != std::string::npos) {
    f.sides = 0x78;
    const char digit = at + 7 < text.size() ? text[at + 7] : 0;
    const bool styled = digit >= '1' && digit <= '3';
    f.line_style = styled ? digit - '0' : 1;
    text.erase(at, styled ? 8 : 7);
    found = true;
  }
  if (auto v = TakeValue(text, "width=")) f.width = FirstNumber(*v), found = true;
  if (auto v = TakeValue(text, "font=")) {
    f.font.name = v->substr(0, kMaxFontName);
    std::replace(f.font.name.begin(), f.font.name.end(), '-', ' ');
    std::replace(f.font.name.begin(), f.font.name.end(), '_', ' ');
    found = true;
  }
  if (auto v = TakeValue(text, "font-size=")) f.font.size = std::max(0, FirstNumber(*v)), found = true;
  if (auto v = TakeValue(text, "font-style=")) {
    found = true;
    if (ContainsNoCase(*v, "bold")) f.font.style |= 1;
    if (ContainsNoCase(*v, "italic")) f.font.style |= 2;
    if (ContainsNoCase(*v, "underlined")) f.font.style |= 4;
    if (ContainsNoCase(*v, "strike")) f.font.style |= 8;
  }
  for (const NamedColour& c : kBackgrounds)
    while (TakeWord(text, "bgcolor=" + std::string(c.name))) f.background |= c.index, found = true;
  for (const NamedColour& c : kFontColours)
    while (TakeWord(text, "color=" + std::string(c.name))) f.font.colour |= c.index, found = true;
  if (f.font.name.empty() && (f.font.size || f.font.style || f.font.colour))
    f.font.name = default_font.empty() ? "Arial" : std::string(default_font.substr(0, kMaxFontName));
  if (found) {
    const std::size_t first = text.find_first_not_of(' ');
    text = first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
  }
  return found;
}

// ---- classification

bool OnlyOf(std::string_view text, std::string_view allowed) {
  return text.find_first_not_of(allowed) == std::string_view::npos;
}

// The number of a currency, decimal or whole-number text: thousands
// separators, blanks and the currency sign are not part of it. A text that is
// not one number ("5-3") is computed by the formula evaluator; nothing when
// that fails too.
std::optional<double> NumberOf(std::string_view text) {
  std::string plain;
  plain.reserve(text.size());
  for (char c : text)
    if (c != '$' && c != ',' && c != ' ') plain += c;
  std::string_view digits = plain;
  if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-') digits.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec == std::errc() && end == digits.data() + digits.size()) return value;
  const FormulaResult r = EvaluateFormula(plain);
  if (r.failed) return std::nullopt;
  if (r.text.empty()) return r.number;
  const auto [end2, ec2] = std::from_chars(r.text.data(), r.text.data() + r.text.size(), value);
  if (ec2 == std::errc() && end2 == r.text.data() + r.text.size()) return value;
  return std::nullopt;
}

// A "m/d/y" text (in the locale's field order) as its serial day number.
std::optional<double> DateSerialOf(std::string_view text, const CalendarDate& today) {
  const std::optional<CalendarDate> date = ParseDate(std::string(text), today);
  if (!date) return std::nullopt;
  return DateToSerial(date->year, date->month, date->day);
}

// ---- fonts and cell formats

class Styles {
 public:
  int FontIndex(const SheetFont& f) {
    if (f.name.empty()) return 0;
    for (std::size_t s = 0; s < fonts_.size(); ++s) {
      const SheetFont& g = fonts_[s];
      if (EqualsNoCase(g.name, f.name) && g.size == f.size && g.colour == f.colour && g.style == f.style)
        return static_cast<int>(s) + 5;
    }
    if (f.name == "Arial" && f.size == 0 && f.colour == 0 && (f.style == 1 || f.style == 2 || f.style == 4))
      return f.style == 4 ? 3 : f.style;
    if (fonts_.size() >= kMaxCustomFonts) return 0;
    fonts_.push_back(f);
    return static_cast<int>(fonts_.size()) + 4;
  }

  // The XF field of a cell with this formatting: 0, or 15 + the number of an
  // equal cell format (every field written compared), added when new and
  // while fewer than 64 exist.
  int CellXf(const Formatting& f, int font, int number_format, bool typed) {
    if (!f.align && !f.background && !f.sides && !font && number_format < 0) return 0;
    std::array<char, 12> xf{};
    xf[0] = static_cast<char>(font);
    xf[1] = static_cast<char>(std::max(number_format, 0));
    xf[4] = static_cast<char>(f.align);
    if (f.background) {
      const unsigned bg = 1u + static_cast<unsigned>(f.background) * 64u + static_cast<unsigned>(f.background) * 2048u;
      xf[6] = static_cast<char>(bg & 0xFF);
      xf[7] = static_cast<char>(bg >> 8);
    }
    // Numbers and dates keep the default thin line.
    const char line = static_cast<char>((typed ? 1 : f.line_style) + kBorderColour * 8);
    if (f.sides & 0x20) xf[8] = line;   // top
    if (f.sides & 0x08) xf[9] = line;   // left
    if (f.sides & 0x40) xf[10] = line;  // bottom
    if (f.sides & 0x10) xf[11] = line;  // right
    const auto same = std::find(formats_.begin(), formats_.end(), xf);
    // Cell format k (from 1) is the file's XF 15 + k, after the sixteen defaults.
    if (same != formats_.end()) return kDefaultXfs + static_cast<int>(same - formats_.begin());
    if (formats_.size() >= kMaxCellFormats) return 0;
    formats_.push_back(xf);
    return kDefaultXfs - 1 + static_cast<int>(formats_.size());
  }

  const std::vector<SheetFont>& fonts() const { return fonts_; }
  const std::vector<std::array<char, 12>>& formats() const { return formats_; }

 private:
  std::vector<SheetFont> fonts_;
  std::vector<std::array<char, 12>> formats_;
};

// ---- formulas

// The tokens of a formula (the text after "="), operands in order, each
// further one followed by the operator before it: no precedence. Nothing when
// an operand is empty or neither a number nor a cell of the first 16,384 rows,
// or when there are more than 64 operands: the cell is then written as text.
std::optional<std::string> FormulaTokens(std::string_view formula) {
  std::string f;
  for (char c : formula)
    if (c != ' ') f += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  constexpr std::string_view kOperators = "+-*/&^<=>!";
  constexpr unsigned char kCodes[] = {0x03, 0x04, 0x05, 0x06, 0x08, 0x07, 0x09, 0x0B, 0x0D, 0x0E};
  std::string tokens;
  std::size_t at = 0, operands = 0;
  unsigned char pending = 0;
  while (true) {
    std::size_t end = f.find_first_of(kOperators, at);
    if (end == std::string::npos) end = f.size();
    const std::string_view operand = std::string_view(f).substr(at, end - at);
    if (operand.empty() || ++operands > kMaxFormulaOperands) return std::nullopt;
    if (OnlyOf(operand, "0123456789.")) {
      double value = 0;
      const auto [stop, ec] = std::from_chars(operand.data(), operand.data() + operand.size(), value);
      if (ec != std::errc() || stop != operand.data() + operand.size()) return std::nullopt;
      if (operand.find('.') == std::string_view::npos && value <= 0xFFFF) {
        tokens += '\x1E';
        Put16(tokens, static_cast<unsigned>(value));
      } else {
        tokens += '\x1F';
        PutDouble(tokens, value);
      }
    } else {
      // [$]letters[$]digits: columns A to IV, rows 1 to 16384.
      std::size_t i = 0;
      const bool absolute = operand.find('$') != std::string_view::npos;
      if (i < operand.size() && operand[i] == '$') ++i;
      int column = 0, letters = 0;
      for (; i < operand.size() && operand[i] >= 'A' && operand[i] <= 'Z' && letters < 3; ++i, ++letters)
        column = column * 26 + (operand[i] - 'A' + 1);
      if (i < operand.size() && operand[i] == '$') ++i;
      int row = 0, digits = 0;
      for (; i < operand.size() && operand[i] >= '0' && operand[i] <= '9' && digits < 6; ++i, ++digits)
        row = row * 10 + (operand[i] - '0');
      if (i != operand.size() || letters < 1 || letters > 2 || column > kSheetColumns || digits == 0 || row < 1 ||
          row > kFormulaRows)
        return std::nullopt;
      tokens += absolute ? '\x64' : '\x44';
      Put16(tokens, static_cast<unsigned>(row - 1) | (absolute ? 0u : 0xC000u));
      tokens += static_cast<char>(column - 1);
    }
    if (pending) tokens += static_cast<char>(pending);
    if (end == f.size()) break;
    pending = kCodes[kOperators.find(f[end])];
    at = end + 1;
  }
  return tokens;
}

// ---- splitting

std::string_view RowSeparator(const SheetText& t) {
  if (!t.row_separator.empty()) return t.row_separator.substr(0, 31);
  if (t.data.find("\r\n") != std::string_view::npos) return "\r\n";
  if (t.data.find('\n') != std::string_view::npos) return "\n";
  if (t.data.find('\r') != std::string_view::npos) return "\r";
  return "\r\n";
}

std::string_view ColumnSeparator(const SheetText& t) {
  if (!t.column_separator.empty()) return t.column_separator.substr(0, 31);
  if (t.data.find('\t') != std::string_view::npos) return "\t";
  if (t.data.find(',') != std::string_view::npos) return ",";
  return "|";
}

class Builder {
 public:
  explicit Builder(const SheetText& t) : default_font_(t.default_font) {}

  bool Add(int row, int column, std::string_view text, std::string& error) {
    if (!InSheet(row, column, error)) return false;
    Formatting f;
    if (text.find('=') != std::string_view::npos) {
      std::string rest(text);
      if (TakeFormatting(rest, default_font_, f)) text = owned_.emplace_back(std::move(rest));
    }
    Cell cell{row, column, Kind::kText, 0, f.width, 0, text};
    int number_format = -1;
    const bool numeric = OnlyOf(text, "0123456789.-+, $") && text.find_first_of("0123456789") != std::string_view::npos;
    const bool dotted = text.find('.') != std::string_view::npos;
    const bool dollar = text.find('$') != std::string_view::npos;
    if (numeric && (dotted || !dollar)) {
      if (const std::optional<double> n = NumberOf(text)) {
        cell.kind = Kind::kNumber;
        cell.number = *n;
        number_format = dollar ? kCurrencyFormat : dotted ? kDecimalFormat : -1;
      }
    } else if (OnlyOf(text, "0123456789/") && std::count(text.begin(), text.end(), '/') == 2 &&
               text.find_first_of("0123456789") != std::string_view::npos) {
      if (!today_) {
        const platform::LocalDateTime now = platform::locale().Now();
        today_ = CalendarDate{now.year, now.month, now.day};
      }
      if (const std::optional<double> serial = DateSerialOf(text, *today_)) {
        cell.kind = Kind::kDate;
        cell.number = *serial;
        number_format = kDateFormat;
      }
    }
    if (cell.kind != Kind::kText) cell.text = {};
    cell.xf = styles_.CellXf(f, styles_.FontIndex(f.font), number_format, cell.kind != Kind::kText);
    cells_.push_back(cell);
    return true;
  }

  bool AddValue(const SheetValue& v, std::string& error) {
    if (v.row < 0 || v.column < 0) {
      error = "A cell's row and column count from 0";
      return false;
    }
    if (!InSheet(v.row, v.column, error)) return false;
    cells_.push_back(Cell{v.row, v.column, v.is_number ? Kind::kNumber : Kind::kText, 0, 0, v.number,
                          v.is_number ? std::string_view() : v.text, true});
    return true;
  }

  bool Split(const SheetText& t, std::string& error) {
    const std::string_view row_sep = RowSeparator(t), column_sep = ColumnSeparator(t);
    std::string_view data = t.data;
    int row = 0;
    for (std::size_t at = 0; at <= data.size(); ++row) {
      std::size_t row_end = data.find(row_sep, at);
      if (row_end == std::string_view::npos) row_end = data.size();
      const std::string_view line = data.substr(at, row_end - at);
      int column = 0;
      for (std::size_t c = 0; c <= line.size(); ++column) {
        std::size_t cell_end = line.find(column_sep, c);
        if (cell_end == std::string_view::npos) cell_end = line.size();
        if (cell_end > c && !Add(row, column, line.substr(c, cell_end - c), error)) return false;
        if (cell_end == line.size()) break;
        c = cell_end + column_sep.size();
      }
      if (row_end == data.size()) break;
      at = row_end + row_sep.size();
    }
    return true;
  }

  void Write(std::string& out) const {
    out.reserve(cells_.size() * 20 + 2048);
    Record(out, 0x0209, 6);
    Put16(out, 3);
    Put16(out, 0x0010);
    Put16(out, 0);
    for (unsigned flags : {0u, 1u, 2u, 4u}) {
      Record(out, 0x0231, 7 + 5);
      Put16(out, 200);
      Put16(out, flags);
      Put16(out, 0x7FFF);
      out += '\x05';
      out += "Arial";
    }
    for (const SheetFont& f : styles_.fonts()) {
      Record(out, 0x0231, 7 + f.name.size());
      Put16(out, static_cast<unsigned>(std::min(f.size ? f.size : 10, 409) * 20));
      Put16(out, static_cast<unsigned>(f.style));
      Put16(out, f.colour ? static_cast<unsigned>(f.colour) : 0x7FFFu);
      out += static_cast<char>(f.name.size());
      out += f.name;
    }
    for (std::string_view format : kNumberFormats) {
      Record(out, 0x001E, format.size() + 1);
      out += static_cast<char>(format.size());
      out += format;
    }
    for (int i = 0; i < kDefaultXfs; ++i) {
      Record(out, 0x0243, 12);
      out += static_cast<char>(i == 1 || i == 2 ? 1 : i == 3 || i == 4 ? 2 : 0);
      out += '\0';
      out += static_cast<char>(i < 15 ? 0xF5 : 0x01);
      out += static_cast<char>(i == 0 ? 0x03 : i == 15 ? 0x00 : 0xF7);
      Put16(out, i < 15 ? 0xFFF0 : 0);
      Put16(out, 0xCE00);
      Put32(out, 0);
    }
    for (const std::array<char, 12>& xf : styles_.formats()) {
      Record(out, 0x0243, 12);
      out.append(xf.data(), xf.size());
    }
    for (const Cell& cell : cells_) {
      if (cell.width == 0) continue;
      // Negative widths count as their size.
      const int chars = (cell.width < 0 ? -cell.width : cell.width) / kAverageCharWidth;
      Record(out, 0x007D, 12);
      Put16(out, static_cast<unsigned>(cell.column));
      Put16(out, static_cast<unsigned>(cell.column));
      Put16(out, static_cast<unsigned>(std::min(chars, 255) * 250));
      Put16(out, 0);
      Put16(out, 0);
      Put16(out, 0);
    }
    for (const Cell& cell : cells_) WriteCell(out, cell);
    Record(out, 0x000A, 0);
  }

  const Styles& styles() const { return styles_; }

 private:
  static bool InSheet(int row, int column, std::string& error) {
    auto past = [&](const char* name, const char* kind, int number, int last) {
      error = name + (" " + std::to_string(number)) + " is past the last " + kind + " of a worksheet (" +
              std::to_string(last) + ")";
      return false;
    };
    if (row >= kSheetRows) return past("Row", "row", row + 1, kSheetRows);
    if (column >= kSheetColumns) return past("Column", "column", column + 1, kSheetColumns);
    return true;
  }

  static void CellHead(std::string& out, unsigned id, std::size_t length, const Cell& cell) {
    Record(out, id, length);
    Put16(out, static_cast<unsigned>(cell.row));
    Put16(out, static_cast<unsigned>(cell.column));
    Put16(out, static_cast<unsigned>(cell.xf));
  }

  static void WriteCell(std::string& out, const Cell& cell) {
    if (cell.kind != Kind::kText) {
      CellHead(out, 0x0203, 14, cell);
      PutDouble(out, cell.number);
      return;
    }
    const std::string_view text = cell.text;
    if (!cell.literal && !text.empty() && text[0] == '=' && text.find(')') == std::string_view::npos) {
      if (const std::optional<std::string> tokens = FormulaTokens(text.substr(1))) {
        CellHead(out, 0x0206, 18 + tokens->size(), cell);
        out.append(8, '\0');
        Put16(out, 3);
        Put16(out, static_cast<unsigned>(tokens->size()));
        out += *tokens;
        return;
      }
    }
    if (text.empty() || (text == " " && !cell.literal)) {
      // The placeholder, a lone blank, or a formatted cell without text.
      CellHead(out, 0x0201, 6, cell);
      return;
    }
    const std::size_t n = std::min(text.size(), kMaxLabel);
    CellHead(out, 0x0204, 8 + n, cell);
    Put16(out, static_cast<unsigned>(n));
    out.append(text.data(), n);
  }

  std::string_view default_font_;
  std::optional<CalendarDate> today_;  // read once, for the first date
  Styles styles_;
  std::vector<Cell> cells_;
  std::deque<std::string> owned_;  // texts whose formatting words were taken out
};

bool WriteSheetFile(const std::string& path, const std::string& bytes, std::string& error) {
  std::string why;
  if (WriteFileSafely(path, bytes, &why)) return true;
  error = "Unable to create the spreadsheet file '" + path + "': " + why;
  return false;
}

}  // namespace

bool BuildWorksheet(const SheetText& text, Worksheet& sheet, std::string& error) {
  sheet = Worksheet{};
  Builder builder(text);
  if (text.data.empty()) {
    sheet.empty_data = true;
    builder.Add(0, 0, " ", error);
  } else if (!builder.Split(text, error)) {
    return false;
  }
  builder.Write(sheet.bytes);
  sheet.custom_fonts = builder.styles().fonts();
  return true;
}

SheetWrite WriteSpreadsheetFile(const std::string& path, const SheetText& text, std::string& error) {
  Worksheet sheet;
  if (!BuildWorksheet(text, sheet, error)) return SheetWrite::kFailed;
  if (LogLevel() >= 1) {
    for (const SheetFont& f : sheet.custom_fonts) {
      LogLine("    Adding Custom FONT: \"%s\" size=%d, style=%d, color=%d", f.name.c_str(), f.size, f.style, f.colour);
    }
  }
  if (!WriteSheetFile(path, sheet.bytes, error)) return SheetWrite::kFailed;
  return sheet.empty_data ? SheetWrite::kEmpty : SheetWrite::kConverted;
}

bool WriteSpreadsheetValues(const std::string& path, const std::vector<SheetValue>& cells, std::string& error) {
  Builder builder(SheetText{});
  if (cells.empty()) builder.Add(0, 0, " ", error);
  for (const SheetValue& cell : cells)
    if (!builder.AddValue(cell, error)) return false;
  std::string bytes;
  builder.Write(bytes);
  return WriteSheetFile(path, bytes, error);
}

WorkbookReference SplitWorkbookReference(std::string_view reference) {
  WorkbookReference r{std::string(reference), "", ""};
  const std::size_t separator = reference.find_last_of("\\/");
  const std::size_t name_at = separator == std::string_view::npos ? 0 : separator + 1;
  const std::size_t bang = reference.rfind('!');
  if (bang == std::string_view::npos || bang < name_at) return r;
  // A cell: letters, then digits, each part perhaps after "$".
  const std::string_view cell = reference.substr(bang + 1);
  std::size_t i = 0, letters = 0, digits = 0;
  if (i < cell.size() && cell[i] == '$') ++i;
  for (; i < cell.size() && ((cell[i] | 0x20) >= 'a' && (cell[i] | 0x20) <= 'z'); ++i) ++letters;
  if (i < cell.size() && cell[i] == '$') ++i;
  for (; i < cell.size() && cell[i] >= '0' && cell[i] <= '9'; ++i) ++digits;
  if (i != cell.size() || letters == 0 || letters > 3 || digits == 0) return r;
  r.cell = std::string(cell);
  r.path = std::string(reference.substr(0, bang));
  const std::size_t sheet_bang = reference.rfind('!', bang - 1);
  if (bang > 0 && sheet_bang != std::string_view::npos && sheet_bang >= name_at) {
    r.sheet = std::string(reference.substr(sheet_bang + 1, bang - sheet_bang - 1));
    r.path = std::string(reference.substr(0, sheet_bang));
  }
  return r;
}

}  // namespace olvex
