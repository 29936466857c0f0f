#include "data/text_ops.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "engine/text.h"
#include "platform/locale.h"
#include "vars/format.h"
#include "vars/formula.h"

namespace olvex {

// ---------------------------------------------------------------------------
// The scramblers

void RotateBytes(std::string& text, std::string_view key, bool encrypt) {
  if (key.empty()) return;
  std::size_t k = 0;
  for (char& c : text) {
    const int count = static_cast<signed char>(key[k]);
    if (++k == key.size()) k = 0;
    if (count <= 0) continue;
    const unsigned turn = static_cast<unsigned>(count) % 8;
    const unsigned byte = static_cast<unsigned char>(c);
    const unsigned back = 8 - turn;
    c = static_cast<char>((encrypt ? (byte << turn) | (byte >> back) : (byte >> turn) | (byte << back)) & 0xFF);
  }
}

void ShiftInRange(std::string& text, std::string_view key, bool encrypt, int low, int high) {
  if (key.empty() || high < low) return;
  const int span = high - low + 1;
  std::size_t k = 0;
  for (char& c : text) {
    const int code = static_cast<unsigned char>(c);
    if (code < low || code > high) continue;
    const int shift = static_cast<signed char>(key[k]);
    if (++k == key.size()) k = 0;
    const int moved = (code - low + (encrypt ? shift : -shift)) % span;
    c = static_cast<char>(low + (moved < 0 ? moved + span : moved));
  }
}

void XorBytes(std::string& data, std::string_view key) {
  if (key.empty()) return;
  std::size_t k = 0;
  for (char& c : data) {
    c = static_cast<char>(c ^ key[k]);
    if (++k == key.size()) k = 0;
  }
}

// ---------------------------------------------------------------------------
// Lists and formats

namespace {

std::size_t FindIn(std::string_view text, std::string_view word, std::size_t from, bool with_case) {
  return with_case ? text.find(word, from) : FindNoCase(text, word, from);
}

}  // namespace

std::optional<std::string> ListItem(std::string_view text, std::string_view separator, int number, bool quotes,
                                    bool with_case) {
  if (number < 1) number = 1;
  if (separator.empty()) return number == 1 ? std::optional<std::string>(std::string(text)) : std::nullopt;
  std::size_t at = 0;
  for (int item = 1;; ++item) {
    std::string value;
    std::size_t end = at;
    if (quotes && at < text.size() && text[at] == '"') {
      // A quoted item runs to its closing quote; "" inside it is one quote.
      std::size_t i = at + 1;
      for (; i < text.size(); ++i) {
        if (text[i] != '"') {
          value += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
          value += '"';
          ++i;
        } else {
          ++i;
          break;
        }
      }
      end = FindIn(text, separator, std::min(i, text.size()), with_case);
      if (end == std::string_view::npos) end = text.size();
      value.append(text.substr(std::min(i, text.size()), end - std::min(i, text.size())));
    } else {
      end = FindIn(text, separator, at, with_case);
      if (end == std::string_view::npos) end = text.size();
      value.assign(text.substr(at, end - at));
    }
    if (item == number) return value;
    if (end >= text.size()) return std::nullopt;
    at = end + separator.size();
  }
}

std::string FormatWith(std::string_view format, const FormatArgument& argument) {
  std::string out;
  bool used = false;
  for (std::size_t i = 0; i < format.size();) {
    if (format[i] != '%') {
      const std::size_t next = std::min(format.find('%', i), format.size());
      out.append(format.substr(i, next - i));
      i = next;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // %[flags][width][.precision][length]conversion
    std::size_t j = i + 1;
    std::string flags;
    while (j < format.size() && std::strchr("-+ #0", format[j]) && format[j] != '\0') flags += format[j++];
    int width = 0, precision = -1;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') width = std::min(width * 10 + (format[j++] - '0'), 260);
    if (j < format.size() && format[j] == '.') {
      precision = 0;
      ++j;
      while (j < format.size() && format[j] >= '0' && format[j] <= '9')
        precision = std::min(precision * 10 + (format[j++] - '0'), 260);
    }
    if (format.substr(j, 3) == "I64" || format.substr(j, 3) == "I32") j += 3;
    while (j < format.size() && std::strchr("hlLqjzt", format[j]) && format[j] != '\0') ++j;
    const char conversion = j < format.size() ? format[j] : '\0';
    if (used || conversion == '\0' || !std::strchr("diouxXcCeEfFgGaAsS", conversion)) {
      out.append(format.substr(i, std::min(j + 1, format.size()) - i));  // written as it stands
      i = j + 1;
      continue;
    }
    used = true;
    i = j + 1;
    auto as_integer = [&]() -> std::int32_t {
      if (argument.kind == FormatArgument::kInteger) return argument.integer;
      if (argument.kind == FormatArgument::kText) return FirstNumber(argument.text);
      if (!std::isfinite(argument.real)) return 0;
      return static_cast<std::int32_t>(std::clamp(argument.real, -2147483648.0, 2147483647.0));
    };
    auto as_real = [&]() -> double {
      if (argument.kind == FormatArgument::kReal) return argument.real;
      if (argument.kind == FormatArgument::kText) return LeadingDecimal(argument.text);
      return argument.integer;
    };
    std::string spec = "%" + flags + (width ? std::to_string(width) : "") +
                       (precision >= 0 ? "." + std::to_string(precision) : "");
    char buffer[1400];
    int n = 0;
    switch (conversion) {
      case 'd': case 'i':
        n = std::snprintf(buffer, sizeof buffer, (spec + "d").c_str(), static_cast<int>(as_integer()));
        break;
      case 'o': case 'u': case 'x': case 'X':
        n = std::snprintf(buffer, sizeof buffer, (spec + conversion).c_str(), static_cast<unsigned>(as_integer()));
        break;
      case 'c': case 'C':
        n = std::snprintf(buffer, sizeof buffer, (spec + "c").c_str(), static_cast<int>(as_integer() & 0xFF));
        break;
      case 's': case 'S': {
        std::string text;
        if (argument.kind == FormatArgument::kText) {
          text = argument.text;
        } else if (argument.kind == FormatArgument::kInteger) {
          text = std::to_string(argument.integer);
        } else {
          n = std::snprintf(buffer, sizeof buffer, "%.15g", argument.real);
          text.assign(buffer, static_cast<std::size_t>(std::max(n, 0)));
        }
        if (precision >= 0 && text.size() > static_cast<std::size_t>(precision)) text.resize(static_cast<std::size_t>(precision));
        const std::string fill(text.size() < static_cast<std::size_t>(width) ? width - text.size() : 0, ' ');
        out += flags.find('-') != std::string::npos ? text + fill : fill + text;
        continue;
      }
      default:
        n = std::snprintf(buffer, sizeof buffer, (spec + conversion).c_str(), as_real());
        break;
    }
    out.append(buffer, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1)));
  }
  return out;
}

// ---------------------------------------------------------------------------
// The operations

namespace {

enum class Op {
  kNone, kEncrypt, kDecrypt, kSort, kBinary, kLength, kCount, kFind, kSub, kMid, kChop, kInsert, kReplace,
  kTextReplace, kRandomText, kContains, kFindText, kCase, kTrim, kPad, kLeft, kRight, kFormat, kWords,
  kRandomNumber, kTicks, kWeekday, kDate, kTime,
};

Op OpOf(std::string_view a) {
  auto has = [&](std::string_view word) { return ContainsNoCase(a, word); };
  if (has("ENCRYPT")) return Op::kEncrypt;
  if (has("DECRYPT")) return Op::kDecrypt;
  if (has("SORT")) return Op::kSort;
  if (has("BINARY")) return Op::kBinary;
  if (has("LENGTH")) return Op::kLength;
  if (has("COUNT")) return Op::kCount;
  if (has("FIND") && !has("FIND TEXT")) return Op::kFind;
  if (has("SUB")) return Op::kSub;
  if (has("MID")) return Op::kMid;
  if (has("CHOP")) return Op::kChop;
  if (has("INSERT")) return Op::kInsert;
  if (has("REPLACE")) return EqualsNoCase(a, "REPLACE") ? Op::kReplace : Op::kTextReplace;
  if (has("RANDOM TEXT")) return Op::kRandomText;
  if (has("CONTAIN")) return Op::kContains;
  if (has("FIND TEXT")) return Op::kFindText;
  if (has("CASE")) return Op::kCase;
  if (has("TRIM")) return Op::kTrim;
  if (has("PAD")) return Op::kPad;
  if (has("LEFT")) return Op::kLeft;
  if (has("RIGHT")) return Op::kRight;
  if (has("FORMAT")) return Op::kFormat;
  if (has("Word")) return Op::kWords;
  if (has("RANDOM NUMBER")) return Op::kRandomNumber;
  if (has("Ticks")) return Op::kTicks;
  if (has("Weekday")) return Op::kWeekday;
  if (has("DATE")) return Op::kDate;
  if (has("TIME")) return Op::kTime;
  return Op::kNone;
}

// An option word that asks for matching with regard to case: "Sensitive"
// does, "Insensitive" does not.
bool WithCase(std::string_view options, std::string_view word) {
  for (std::size_t at = FindNoCase(options, word); at != std::string_view::npos; at = FindNoCase(options, word, at + 1))
    if (at < 2 || !EqualsNoCase(options.substr(at - 2, 2), "in")) return true;
  return false;
}

std::mt19937_64& Generator() {
  thread_local std::mt19937_64 generator(static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^ std::random_device{}());
  return generator;
}

std::size_t Draw(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(Generator()); }

class Operation {
 public:
  explicit Operation(const TextStep& s) : step(s), options(s.options) {}

  TextOutcome Run(Op op);

 private:
  const TextStep& step;
  std::string_view options;
  TextOutcome out;

  bool Has(std::string_view word) const { return ContainsNoCase(options, word); }
  TextOutcome& Fail(std::string error, bool save = true) {
    out.result = 0;
    out.error = std::move(error);
    out.save = save;
    return out;
  }
  // False (and the step failed) when a result of `size` bytes is more than allowed.
  bool Fits(std::size_t size) {
    if (size <= step.max_result) return true;
    Fail("The result would be larger than " + std::to_string(step.max_result) + " bytes", false);
    return false;
  }

  void Scramble(bool encrypt);
  void Sort();
  void Binary();
  void Find();
  void Chop();
  void Insert();
  void Replace(bool with_case, bool first_only);
  void RandomText();
  void Contains();
  void Trim();
  void Pad();
  void Format();
  void Date();
  void Time();
};

void Operation::Scramble(bool encrypt) {
  std::string data = step.text;
  if (!encrypt && Has("XOR") && !Has("ASCII") && !Has("Bit") && step.raw_text.find('%') != std::string_view::npos) {
    // The scrambled bytes are read as stored: expanding them could change them.
    std::string_view name = step.raw_text;
    if (name.starts_with('%')) name.remove_prefix(1);
    data = step.read_variable ? step.read_variable(name).value_or("") : "";
  }
  if (data.empty() || step.value1.empty()) {
    Fail("", false);
    return;
  }
  if (Has("ASCII"))
    ShiftInRange(data, step.value1, encrypt, 32, 127);
  else if (Has("Bit"))
    RotateBytes(data, step.value1, encrypt);
  else if (Has("XOR"))
    XorBytes(data, step.value1);
  out.output = std::move(data);
}

// Items compare by their bytes with letters folded to lower case; the first
// eight folded bytes, packed into a number, decide most comparisons at once.
struct SortItem {
  std::uint64_t head;
  std::size_t at, size;
};

std::uint64_t HeadOf(std::string_view item) {
  std::uint64_t head = 0;
  for (std::size_t i = 0; i < 8; ++i)
    head = (head << 8) | (i < item.size() ? static_cast<unsigned char>(AsciiLower(item[i])) : 0u);
  return head;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(AsciiLower(a[i])), y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

void Operation::Sort() {
  const std::string& data = step.text;
  const std::string_view sep = step.value1;
  out.output = data;
  if (data.empty() || sep.empty() || FindNoCase(data, sep) == std::string_view::npos) return;
  const bool by_length = Has("Len") && (Has("Short") || Has("Long"));
  const bool longest_first = by_length && !Has("Short");
  if (!by_length && Has("Char") && (Has("A-Z") || Has("Z-A"))) {
    // Every byte of the data by its value.
    std::array<std::size_t, 256> counts{};
    for (char c : data) ++counts[static_cast<unsigned char>(c)];
    const bool down = !Has("A-Z");
    std::size_t at = 0;
    for (int b = 0; b < 256; ++b) {
      const int value = down ? 255 - b : b;
      std::fill_n(out.output.begin() + static_cast<std::ptrdiff_t>(at), counts[static_cast<std::size_t>(value)],
                  static_cast<char>(value));
      at += counts[static_cast<std::size_t>(value)];
    }
    return;
  }
  const bool descending = by_length ? longest_first : Has("Des");
  std::vector<SortItem> items;
  for (std::size_t at = 0; at < data.size();) {
    std::size_t end = data.find(sep, at);
    if (end == std::string::npos) end = data.size();
    if (end > at) items.push_back({HeadOf(std::string_view(data).substr(at, end - at)), at, end - at});
    at = end == data.size() ? end : end + sep.size();
  }
  const std::string_view all = data;
  auto text_less = [&](const SortItem& a, const SortItem& b) {
    if (a.head != b.head) return a.head < b.head;
    const std::size_t skip = a.size >= 8 && b.size >= 8 ? 8 : 0;
    return CompareNoCase(all.substr(a.at + skip, a.size - skip), all.substr(b.at + skip, b.size - skip)) < 0;
  };
  auto less = [&](const SortItem& a, const SortItem& b) {
    if (by_length && a.size != b.size) return descending ? a.size > b.size : a.size < b.size;
    return descending ? text_less(b, a) : text_less(a, b);
  };
  std::stable_sort(items.begin(), items.end(), less);
  const bool ended_with_sep = data.ends_with(sep);
  const bool column = Has("Column");
  std::string sorted;
  sorted.reserve(data.size() + (column ? 2 * items.size() : 0) + sep.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    sorted.append(all.substr(items[i].at, items[i].size));
    if (i + 1 < items.size() || ended_with_sep) sorted.append(sep);
    if (column) sorted.append("\r\n");
  }
  out.output = std::move(sorted);
}

void Operation::Binary() {
  const std::string& data = step.text;
  static constexpr char kHex[] = "0123456789ABCDEF";
  if (Has("Len")) {
    out.output = std::to_string(data.size());
  } else if (Has("Convert") && Has("{\\")) {
    for (char c : data) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x20 || b > 0x7E) {
        out.output += "{\\";
        out.output += kHex[b >> 4];
        out.output += kHex[b & 15];
        out.output += '}';
      } else {
        out.output += c;
      }
    }
  } else if (Has("Convert") && Has("HEX")) {
    out.output.reserve(data.size() * 2);
    for (char c : data) {
      out.output += kHex[static_cast<unsigned char>(c) >> 4];
      out.output += kHex[static_cast<unsigned char>(c) & 15];
    }
  } else if (Has("Convert") && Has("ASCII")) {
    for (char c : data) {
      const auto b = static_cast<unsigned char>(c);
      if (b == '\t' || b == '\r' || b == '\n' || (b >= 0x20 && b <= 0x7F)) out.output += c;
    }
  } else {
    out.output = data;
  }
}

void Operation::Find() {
  const std::string& data = step.text;
  const std::size_t start = static_cast<std::size_t>(std::max(FirstNumber(step.value2), 1));
  const int end_number = FirstNumber(step.value3);
  const std::size_t end =
      end_number < 1 || static_cast<std::size_t>(end_number) < start ? data.size() : static_cast<std::size_t>(end_number);
  std::size_t at = std::string::npos;
  if (!step.value1.empty() && start <= data.size()) {
    const bool with_case = Has("BINARY") || WithCase(options, " SENSITIVE");
    at = FindIn(data, step.value1, start - 1, with_case);
  }
  out.output = at != std::string::npos && at + 1 <= end ? std::to_string(at + 1) : "0";
}

void Operation::Chop() {
  std::string data = step.text;
  const std::string_view key = step.value1;
  const std::size_t first = key.empty() ? std::string::npos : FindNoCase(data, key);
  if (Has("Before") && Has("Including")) {
    if (first != std::string::npos) data.erase(0, first + key.size());
  } else if (Has("Before")) {
    if (first != std::string::npos) data.erase(0, first);
  } else if (Has("First")) {
    if (!data.empty()) data.erase(0, 1);
  } else if (Has("Last")) {
    if (!data.empty()) data.pop_back();
  } else if (Has("After") && !Has("Including")) {
    std::size_t last = first;
    for (std::size_t at = first; at != std::string::npos; at = FindNoCase(data, key, at + 1)) last = at;
    if (last != std::string::npos) data.erase(last + key.size());
  } else if (first != std::string::npos) {
    data.erase(first);
  }
  out.output = std::move(data);
}

void Operation::Insert() {
  std::string data = step.text;
  const auto at = static_cast<std::size_t>(std::max(FirstNumber(step.value1) - 1, 0));
  if (!Fits(std::max(at, data.size()) + step.value2.size())) return;
  if (at > data.size()) data.resize(at, ' ');
  data.insert(at, step.value2);
  out.output = std::move(data);
}

// Each match is replaced and the scan goes on after the inserted text, which
// is never looked at again.
void Operation::Replace(bool with_case, bool first_only) {
  const std::string& data = step.text;
  const std::string_view wanted = step.value1, by = step.value2;
  if (wanted.empty()) {
    out.output = data;
    return;
  }
  std::string result;
  std::size_t done = 0;
  std::size_t at = FindIn(data, wanted, 0, with_case);
  if (at != std::string::npos) result.reserve(std::min(data.size() + by.size(), step.max_result));
  for (; at != std::string::npos; at = FindIn(data, wanted, done, with_case)) {
    if (!Fits(result.size() + (at - done) + by.size() + (data.size() - at - wanted.size()))) return;
    result.append(data, done, at - done);
    result.append(by);
    done = at + wanted.size();
    if (first_only) break;
  }
  result.append(data, done, std::string::npos);
  out.output = std::move(result);
}

void Operation::RandomText() {
  const int length = FirstNumber(step.text);
  if (length <= 0) return;
  if (!Fits(static_cast<std::size_t>(length))) return;
  std::string kinds;
  for (char c : options)
    if (c != ' ') kinds += c;
  static constexpr std::string_view kLower = "abcdefghijklmnopqrstuvwxyz", kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
                                    kDigits = "0123456789";
  std::vector<std::string_view> sets;
  bool breaks = false;
  if (kinds == "a-z") {
    sets = {kLower};
  } else if (kinds == "A-Z") {
    sets = {kUpper};
  } else if (kinds == "a-z,A-Z") {
    sets = {kLower, kUpper};
  } else if (kinds.find("a-z,A-Z,0-9") != std::string::npos) {
    sets = {kLower, kUpper, kDigits};
    breaks = kinds.find("a-z,A-Z,0-9,\\r\\n") != std::string::npos;
  } else if (kinds == "0-9") {
    sets = {kDigits};
  }
  std::string& text = out.output;
  text.reserve(static_cast<std::size_t>(length));
  const auto n = static_cast<std::size_t>(length);
  while (text.size() < n) {
    if (sets.empty()) {
      text += static_cast<char>(32 + Draw(95));
      continue;
    }
    const std::size_t kind = Draw(sets.size() + (breaks ? 1 : 0));
    if (kind == sets.size()) {
      // A line break, unless one ended lately or no room is left for its two characters.
      const std::size_t from = text.size() < 3 ? 0 : text.size() - 3;
      if (text.size() + 2 <= n && text.find('\n', from) == std::string::npos)
        text += "\r\n";
      else
        text += kLower[Draw(kLower.size())];
      continue;
    }
    text += sets[kind][Draw(sets[kind].size())];
  }
}

void Operation::Contains() {
  const std::string& data = step.text;
  const std::string_view set = step.value1;
  std::size_t answer = 0;
  if (!data.empty() && !set.empty()) {
    if (Has("Only")) {
      answer = data.find_first_not_of(set) == std::string::npos ? 1 : 0;
    } else if (Has("Any")) {
      answer = data.find_first_of(set) != std::string::npos ? 1 : 0;
    } else {
      const std::size_t at = FindIn(data, set, 0, !Has("Insens"));
      answer = at == std::string::npos ? 0 : at + 1;
    }
  }
  out.output = std::to_string(answer);
  if (answer == 0) Fail("The text does not contain \"" + std::string(set.substr(0, 200)) + "\"");
}

void Operation::Trim() {
  std::string_view data = step.text;
  const std::string_view cut = step.value1, side = step.value2;
  const bool white = Has("White");
  auto blank = [](char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; };
  // The blanks and the trimmed text go in turn until neither is left.
  for (bool changed = true; changed;) {
    changed = false;
    if (ContainsNoCase(side, "Front")) {
      while (white && !data.empty() && blank(data.front())) data.remove_prefix(1), changed = true;
      while (!cut.empty() && StartsWithNoCase(data, cut)) data.remove_prefix(cut.size()), changed = true;
    }
    if (ContainsNoCase(side, "End")) {
      while (white && !data.empty() && blank(data.back())) data.remove_suffix(1), changed = true;
      while (!cut.empty() && EndsWithNoCase(data, cut)) data.remove_suffix(cut.size()), changed = true;
    }
  }
  out.output = data;
}

void Operation::Pad() {
  std::string data = step.text;
  const int width = FirstNumber(step.value1);
  const std::string_view fill = step.value2;
  if (width >= 1 && static_cast<std::size_t>(width) > data.size() && !fill.empty()) {
    if (!Fits(static_cast<std::size_t>(width))) return;
    const std::size_t missing = static_cast<std::size_t>(width) - data.size();
    std::string padding;
    padding.reserve(missing + fill.size());
    while (padding.size() < missing) padding.append(fill);
    padding.resize(missing);
    data = Has("Front") ? padding + data : data + padding;
  }
  out.output = std::move(data);
}

// A number in the locale's manner: thousands grouped, two decimals.
std::string LocaleNumber(double value) {
  if (!std::isfinite(value)) return FormatNumber(value, 15);
  char digits[400];
  std::snprintf(digits, sizeof digits, "%.2f", std::fabs(value));
  std::string whole = digits;
  const std::string decimals = whole.substr(whole.size() - 2);
  whole.resize(whole.size() - 3);
  std::string grouped;
  const std::string thousands = platform::locale().ThousandsSeparator();
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped += thousands;
    grouped += whole[i];
  }
  const bool negative = value < 0 && (whole != "0" || decimals != "00");
  return (negative ? "-" : "") + grouped + platform::locale().DecimalSeparator() + decimals;
}

void Operation::Format() {
  const std::string_view format = step.raw_value1;
  const std::string& data = step.text;
  const bool printf_style = format.find('%') != std::string_view::npos &&
                            format.find_first_of("cdiuxefgsCDIUXEFGS") != std::string_view::npos;
  if (!printf_style) {
    out.output = format.empty() ? LocaleNumber(LeadingDecimal(data)) : FormatValue(LeadingDecimal(data), std::string(format));
    return;
  }
  auto has = [&](std::string_view word) { return ContainsNoCase(format, word); };
  FormatArgument argument;
  if (has("%d") || has("%lu") || has("%ld") || has("%x") || has("%i") || has("%c") ||
      (format.find("%0") != std::string_view::npos && format.find_first_of("dxXc") != std::string_view::npos)) {
    argument.integer = FirstNumber(data);
  } else if (format.find_first_of("hH") != std::string_view::npos) {
    // A hexadecimal number, written in decimal.
    std::size_t at = 0;
    for (std::string_view mark : {"0x", "0X", "\\"}) {
      const std::size_t found = data.find(mark);
      if (found != std::string::npos) {
        at = found + mark.size();
        break;
      }
    }
    while (at < data.size() && (data[at] == ' ' || data[at] == '\t')) ++at;
    std::uint64_t value = 0;
    for (; at < data.size() && std::isxdigit(static_cast<unsigned char>(data[at])); ++at) {
      const char c = AsciiLower(data[at]);
      value = std::min<std::uint64_t>(value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10), 0xFFFFFFFFu);
    }
    out.output = std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
    return;
  } else if (has("%f") || has("%e") || has("%g") || has("%.") ||
             (format.find('.') != std::string_view::npos && format.find('f') != std::string_view::npos)) {
    const FormulaResult value = EvaluateFormula(data);
    if (value.failed) {
      Fail(value.text);
      return;
    }
    argument.kind = FormatArgument::kReal;
    argument.real = value.number;
  } else {
    argument.kind = FormatArgument::kText;
    argument.text = data;
  }
  out.output = FormatWith(format, argument);
}

// Dates: the step's text (today when empty) moved by value1 (Add), or
// compared with the date in value1 (Difference, Compare).
struct Moment {
  CalendarDate date;
  TimeOfDay time;
};

Moment Now() {
  const platform::LocalDateTime t = platform::locale().Now();
  return {{t.year, t.month, t.day}, {t.hour, t.minute, t.second}};
}

std::string Sign(double difference) { return difference > 0 ? "1" : difference < 0 ? "-1" : "0"; }

void Operation::Date() {
  auto read = [&](const std::string& text) -> std::optional<CalendarDate> {
    if (text.empty()) return Now().date;
    return ParseDate(text);
  };
  const std::optional<CalendarDate> first = read(step.text);
  if (!first) {
    Fail("Not a date: \"" + step.text.substr(0, 200) + "\"");
    return;
  }
  if (ContainsNoCase(step.action, "Diff") || Has("Diff") || Has("Compar")) {
    const std::optional<CalendarDate> second = read(step.value1);
    if (!second) {
      Fail("Not a date: \"" + step.value1.substr(0, 200) + "\"");
      return;
    }
    const double days = DateToSerial(first->year, first->month, first->day) -
                        DateToSerial(second->year, second->month, second->day);
    long long months = (first->year - second->year) * 12LL + (first->month - second->month);
    if (months > 0 && first->day < second->day) --months;
    if (months < 0 && first->day > second->day) ++months;
    if (Has("Compar"))
      out.output = Sign(days);
    else if (Has("Year"))
      out.output = std::to_string(months / 12);
    else if (Has("Month"))
      out.output = std::to_string(months);
    else if (Has("Week"))
      out.output = std::to_string(static_cast<long long>(days) / 7);
    else
      out.output = std::to_string(static_cast<long long>(days));
    return;
  }
  const int amount = FirstNumber(step.value1);
  CalendarDate d = *first;
  if (Has("Year") || Has("Month")) {
    const long long month = d.year * 12LL + (d.month - 1) + (Has("Year") ? amount * 12LL : amount);
    d.year = static_cast<int>(month / 12);
    d.month = static_cast<int>(month % 12) + 1;
    if (month < 1900 * 12 || d.year > 9999) {
      Fail("The date is out of range");
      return;
    }
    d.day = std::min(d.day, DaysInMonth(d.year, d.month));
  } else {
    const double serial = DateToSerial(d.year, d.month, d.day) + amount * (Has("Week") ? 7.0 : 1.0);
    if (serial < 1 || serial > 2958465) {
      Fail("The date is out of range");
      return;
    }
    d = SerialToDate(serial);
  }
  out.output = platform::locale().ShortDate(d.year, d.month, d.day);
}

void Operation::Time() {
  auto seconds_of = [&](const std::string& text) {
    const TimeOfDay t = text.empty() ? Now().time : ParseTime(text);
    return t.hour * 3600LL + t.minute * 60LL + t.second;
  };
  const long long first = seconds_of(step.text);
  const long long unit = Has("Hour") ? 3600 : Has("Minute") ? 60 : 1;
  if (ContainsNoCase(step.action, "Diff") || Has("Diff") || Has("Compar")) {
    const long long difference = first - seconds_of(step.value1);
    out.output = Has("Compar") ? Sign(static_cast<double>(difference)) : std::to_string(difference / unit);
    return;
  }
  long long moved = (first + FirstNumber(step.value1) * unit) % 86400;
  if (moved < 0) moved += 86400;
  out.output = platform::locale().TimeText(static_cast<int>(moved / 3600), static_cast<int>(moved / 60 % 60),
                                           static_cast<int>(moved % 60));
}

TextOutcome Operation::Run(Op op) {
  const std::string& data = step.text;
  out.text_function = op != Op::kEncrypt && op != Op::kDecrypt && op != Op::kSort && op != Op::kBinary;
  switch (op) {
    case Op::kNone: return Fail("This text operation is not known");
    case Op::kEncrypt: Scramble(true); break;
    case Op::kDecrypt: Scramble(false); break;
    case Op::kSort: Sort(); break;
    case Op::kBinary: Binary(); break;
    case Op::kLength: out.output = std::to_string(data.size()); break;
    case Op::kCount: {
      const std::string_view sep = std::string_view(step.value1).substr(0, 1023);
      std::size_t count = 0;
      const bool with_case = WithCase(options, "SENSITIVE");
      if (!sep.empty())
        for (std::size_t at = FindIn(data, sep, 0, with_case); at != std::string::npos;
             at = FindIn(data, sep, at + sep.size(), with_case))
          ++count;
      out.output = std::to_string(count);
      break;
    }
    case Op::kFind: Find(); break;
    case Op::kSub:
      out.output = ListItem(data, step.value1, FirstNumber(step.value2), Has("Quote"), WithCase(options, "Sensi")).value_or("");
      break;
    case Op::kMid: {
      const std::size_t start = std::min<std::size_t>(static_cast<std::size_t>(std::max(FirstNumber(step.value2) - 1, 0)), data.size());
      const int count = FirstNumber(step.value1);
      // A negative count stops that many characters before the end.
      const std::size_t end = count >= 0 ? data.size() : data.size() - std::min<std::size_t>(data.size(), 0u - static_cast<unsigned>(count));
      if (count >= 0)
        out.output = data.substr(start, static_cast<std::size_t>(count));
      else if (end > start)
        out.output = data.substr(start, end - start);
      break;
    }
    case Op::kChop: Chop(); break;
    case Op::kInsert: Insert(); break;
    case Op::kReplace: Replace(Has("CASE SENSITIVE") || Has("BINARY"), Has("FIRST")); break;
    case Op::kTextReplace: Replace(WithCase(options, "Sensi"), Has("First")); break;
    case Op::kRandomText: RandomText(); break;
    case Op::kContains: Contains(); break;
    case Op::kFindText: {
      const std::size_t at = step.value1.empty() ? std::string::npos : FindIn(data, step.value1, 0, WithCase(options, "Sensi"));
      if (at == std::string::npos) return Fail("\"" + step.value1.substr(0, 200) + "\" was not found in the text");
      out.output = data.substr(at);
      break;
    }
    case Op::kCase: {
      out.output = data;
      const bool up = Has("UP"), low = !up && Has("LOW"), title = !up && !low && Has("TITLE");
      bool word_start = true;
      for (char& c : out.output) {
        const bool letter = (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
        if (up && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (low && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (title && letter) c = word_start ? static_cast<char>(c & ~0x20) : static_cast<char>(c | 0x20);
        // A word goes on over letters, digits and apostrophes.
        word_start = !(letter || (c >= '0' && c <= '9') || c == '\'');
      }
      break;
    }
    case Op::kTrim: Trim(); break;
    case Op::kPad: Pad(); break;
    case Op::kLeft:
    case Op::kRight: {
      const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(std::max(FirstNumber(step.value1), 0)), data.size());
      out.output = op == Op::kLeft ? data.substr(0, count) : data.substr(data.size() - count);
      break;
    }
    case Op::kFormat: Format(); break;
    case Op::kWords: out.output = NumberToWords(data, false).substr(0, 1023); break;
    case Op::kRandomNumber: {
      long long low = FirstNumber(step.value1), high = FirstNumber(data);
      if (low > high) std::swap(low, high);
      out.output = std::to_string(low + static_cast<long long>(Draw(static_cast<std::size_t>(high - low + 1))));
      break;
    }
    case Op::kTicks: out.output = DurationText(FirstNumber(data)); break;
    case Op::kWeekday: {
      const std::optional<CalendarDate> date = data.empty() ? std::optional<CalendarDate>(Now().date) : ParseDate(data);
      if (!date) return Fail("Not a date: \"" + data.substr(0, 200) + "\"");
      out.output = NameOf(SerialWeekday(DateToSerial(date->year, date->month, date->day)), kWeekdayName);
      break;
    }
    case Op::kDate: Date(); break;
    case Op::kTime: Time(); break;
  }
  return out;
}

}  // namespace

bool IsTextOperation(std::string_view action) { return OpOf(action) != Op::kNone; }

TextOutcome RunTextOperation(const TextStep& step) {
  auto out_of_memory = [] {
    TextOutcome failed;
    failed.result = 0;
    failed.save = false;
    failed.error = "Not enough memory for the text operation";
    return failed;
  };
  try {
    return Operation(step).Run(OpOf(step.action));
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  } catch (const std::length_error&) {
    return out_of_memory();
  }
}

}  // namespace olvex
