#include "vars/formula.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <string>

#include "engine/text.h"
#include "input/key_names.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/input.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/screen.h"
#include "platform/system.h"
#include "platform/windows.h"
#include "vars/format.h"

namespace olvex {
namespace {

constexpr std::size_t kMaxText = 4095;   // characters of a value's text
constexpr int kMaxQueue = 128;           // items of the postfix queue
constexpr int kMaxOperators = 64;        // entries of the operator stack
constexpr int kMaxValues = 9;            // entries of the value stack
constexpr char kMarker = '\x02';         // brackets a substituted variable value
constexpr double kPi = 3.14159265358979;
constexpr double kNotStarted = -12349;   // RUN: nothing could be started

constexpr const char* kTooManyValues = "Formula Error: Too many nested parameters/calculations";
constexpr const char* kParameterTooBig = "Parameter too big";
constexpr const char* kExpressionTooBig = "Expression too big";

// ---------------------------------------------------------------------------
// Operations: the operators and the functions, with their parameter counts
// and precedences (functions bind at 8).

enum Code : std::uint8_t {
  kAdd, kSub, kMul, kDiv, kRem, kPow, kAmp, kBitOr, kBitXor,
  kLess, kGreater, kEqual, kNotEqual, kLessEqual, kGreaterEqual, kAnd, kOr,
  kNot, kNegate, kIncrement, kDecrement,
  kAbs, kCeiling, kFloor, kInt, kSqrt, kSin, kCos, kTan, kAtan, kPiCode, kDecimal, kMod, kQuotient,
  kRound, kTrunc, kMax, kMin, kGcd, kLcm, kIsOdd, kRand, kRandBetween, kTickCount,
  kLen, kChar, kCodeOf, kValue, kUpper, kLower, kProper, kTrim, kTrimWhite, kLTrim, kRTrim, kChop,
  kLeft, kRight, kMid, kFind, kSearch, kCountIf, kRept, kSubstitute, kSubstituteI, kReplace, kPad,
  kChoose, kStrRev, kDec2Hex, kHex2Dec, kNum2Words, kText, kType, kIf, kDate, kTime, kToday, kNow,
  kDateValue, kTimeValue, kYear, kMonth, kDay, kWeekday, kDayOfYear, kDaysInYear, kDaysInMonth,
  kHour, kMinute, kSecond, kFileExist, kFolderExist, kFileSize, kFileNameClean, kSystemInfo, kGetPixel,
  kTopWindow, kIsWindow, kFindWindow, kIsKeyPressed, kSetFocus, kCloseWindow, kMsgBox, kRun,
  kCodeCount
};

struct CodeInfo {
  std::uint8_t arity;
  std::uint8_t precedence;
  bool right;  // right grouping: pops only strictly higher precedences
};

constexpr CodeInfo InfoOf(std::uint8_t code) {
  switch (code) {
    case kAdd: case kSub: return {2, 4, false};
    case kMul: case kDiv: return {2, 5, false};
    case kRem: return {2, 5, true};
    case kPow: return {2, 6, true};
    case kAmp: case kBitOr: case kBitXor: return {2, 3, false};
    case kLess: case kGreater: case kEqual: case kNotEqual: case kLessEqual: case kGreaterEqual:
      return {2, 2, false};
    case kAnd: case kOr: return {2, 1, false};
    case kNot: return {1, 7, true};
    case kNegate: case kIncrement: case kDecrement: return {1, 7, false};
    case kPiCode: case kNow: case kToday: case kRand: case kTickCount: case kTopWindow: return {0, 8, false};
    case kRandBetween: case kText: case kMax: case kMin: case kQuotient: case kRound: case kTrunc:
    case kGcd: case kLcm: case kLTrim: case kRTrim: case kChop: case kGetPixel: case kMsgBox:
    case kLeft: case kRight: case kFind: case kSearch: case kRept: case kCountIf: case kMod:
      return {2, 8, false};
    case kMid: case kSubstituteI: case kSubstitute: case kIf: case kDate: case kTime: case kPad: case kChoose:
      return {3, 8, false};
    case kReplace: return {4, 8, false};
    default: return {1, 8, false};
  }
}

constexpr std::array<CodeInfo, kCodeCount> MakeInfoTable() {
  std::array<CodeInfo, kCodeCount> table{};
  for (int i = 0; i < kCodeCount; ++i) table[i] = InfoOf(static_cast<std::uint8_t>(i));
  return table;
}
constexpr std::array<CodeInfo, kCodeCount> kInfo = MakeInfoTable();

struct FunctionName {
  std::string_view name;
  std::uint8_t code;
};

// Sorted by name for the lookup.
constexpr FunctionName kFunctions[] = {
    {"ABS", kAbs}, {"ASC", kCodeOf}, {"ATAN", kAtan}, {"CEIL", kCeiling}, {"CEILING", kCeiling},
    {"CHAR", kChar}, {"CHOOSE", kChoose}, {"CHOP", kChop}, {"CHR", kChar}, {"CLOSEWINDOW", kCloseWindow},
    {"CODE", kCodeOf}, {"COS", kCos}, {"COUNTIF", kCountIf}, {"DATE", kDate}, {"DATEVALUE", kDateValue},
    {"DAY", kDay}, {"DAYOFYEAR", kDayOfYear}, {"DAYSINMONTH", kDaysInMonth}, {"DAYSINYEAR", kDaysInYear},
    {"DEC2HEX", kDec2Hex}, {"DECIMAL", kDecimal}, {"FILEEXIST", kFileExist}, {"FILENAMECLEAN", kFileNameClean},
    {"FILESIZE", kFileSize}, {"FIND", kFind}, {"FINDWINDOW", kFindWindow}, {"FLOOR", kFloor},
    {"FOLDEREXIST", kFolderExist}, {"GCD", kGcd}, {"GETPIXEL", kGetPixel}, {"GETTICKCOUNT", kTickCount},
    {"HEX2DEC", kHex2Dec}, {"HOUR", kHour}, {"IF", kIf}, {"INFO", kSystemInfo}, {"INT", kInt}, {"ISKEYPRESSED", kIsKeyPressed},
    {"ISODD", kIsOdd}, {"ISWINDOW", kIsWindow}, {"LCM", kLcm}, {"LEFT", kLeft}, {"LEN", kLen}, {"LOWER", kLower},
    {"LTRIM", kLTrim}, {"MAX", kMax}, {"MID", kMid}, {"MIN", kMin}, {"MINUTE", kMinute}, {"MOD", kMod},
    {"MONTH", kMonth}, {"MONTHLEN", kDaysInMonth}, {"MSGBOX", kMsgBox}, {"NOW", kNow}, {"NUM2WORDS", kNum2Words},
    {"PAD", kPad}, {"PI", kPiCode}, {"PROPER", kProper}, {"QUOTIENT", kQuotient}, {"RAND", kRand},
    {"RANDBETWEEN", kRandBetween}, {"REPLACE", kReplace}, {"REPT", kRept}, {"RIGHT", kRight}, {"ROUND", kRound},
    {"RTRIM", kRTrim}, {"RUN", kRun}, {"SEARCH", kSearch}, {"SECOND", kSecond}, {"SETFOCUS", kSetFocus},
    {"SIN", kSin}, {"SQR", kSqrt}, {"SQRT", kSqrt}, {"STRREV", kStrRev}, {"SUBSTITUTE", kSubstitute},
    {"SUBSTITUTEI", kSubstituteI}, {"TAN", kTan}, {"TEXT", kText}, {"TIME", kTime}, {"TIMEVALUE", kTimeValue},
    {"TODAY", kToday}, {"TOPWINDOW", kTopWindow}, {"TRIM", kTrim}, {"TRIMWHITE", kTrimWhite}, {"TRUNC", kTrunc},
    {"TYPE", kType}, {"UPPER", kUpper}, {"VALUE", kValue}, {"WEEKDAY", kWeekday}, {"YEAR", kYear},
};
constexpr std::size_t kLongestFunctionName = 13;

constexpr bool FunctionsSorted() {
  for (std::size_t i = 1; i < std::size(kFunctions); ++i)
    if (!(kFunctions[i - 1].name < kFunctions[i].name)) return false;
  return true;
}
static_assert(FunctionsSorted(), "the function table must stay sorted for the lookup");

// ---------------------------------------------------------------------------
// Characters and texts.

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
char ToUpper(char c) { return IsLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }
char ToLower(char c) { return IsUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
// Removed from the formula outside quoted stretches.
bool IsRemovable(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '_'; }
bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ToLower(a[i]) != ToLower(b[i])) return false;
  return true;
}

std::size_t FindIgnoringCase(std::string_view text, std::string_view part) {
  if (part.empty()) return 0;
  if (part.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
    if (EqualIgnoringCase(text.substr(i, part.size()), part)) return i;
  return std::string_view::npos;
}

const FunctionName* LookupFunction(std::string_view name) {
  if (name.size() > kLongestFunctionName) return nullptr;
  char upper[kLongestFunctionName];
  for (std::size_t i = 0; i < name.size(); ++i) upper[i] = ToUpper(name[i]);
  std::string_view key(upper, name.size());
  auto it = std::lower_bound(std::begin(kFunctions), std::end(kFunctions), key,
                             [](const FunctionName& f, std::string_view k) { return f.name < k; });
  if (it == std::end(kFunctions) || it->name != key) return nullptr;
  return it;
}

// Order of texts as the system's string comparison sorts them: letters
// alphabetically without regard to case, after digits, after punctuation;
// equal texts apart from case put the lower-case letter first.
int CompareText(std::string_view a, std::string_view b) {
  auto primary = [](char ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    int kind = IsDigit(ch) ? 2 : IsLetter(ch) ? 3 : c >= 128 ? 4 : 1;
    return kind << 8 | static_cast<unsigned char>(ToLower(ch));
  };
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    int pa = primary(a[i]), pb = primary(b[i]);
    if (pa != pb) return pa < pb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return IsLower(a[i]) ? -1 : 1;
  return 0;
}

// ---------------------------------------------------------------------------
// Numbers.

double Finite(double x) { return std::isnan(x) ? 0.0 : x; }

int ToInt(double x) {
  std::int64_t v = WholePart(x);
  return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// A count of characters or repetitions: the whole part, at least 0.
std::size_t ToCount(double x) {
  std::int64_t v = WholePart(x);
  return v <= 0 ? 0 : static_cast<std::size_t>(std::min<std::int64_t>(v, 1 << 30));
}

// A number written as text with at most 15 significant digits.
std::string NumberText(double x) { return FormatNumber(x, 15); }

// Digits and dots as a number ("1.2.3" reads 1.2; "." reads 0).
double ReadDigits(std::string_view digits) {
  double value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec == std::errc::result_out_of_range) {
    std::size_t dot = digits.find('.');
    return digits.substr(0, dot).find_first_not_of('0') != std::string_view::npos
               ? std::numeric_limits<double>::infinity()
               : 0.0;
  }
  if (ec != std::errc()) return 0;
  return value;
}

// The number at the start of a text: an optional "-", then digits and dots.
double ReadLeadingNumber(std::string_view text) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  std::size_t end = 0;
  while (end < text.size() && (IsDigit(text[end]) || text[end] == '.')) ++end;
  double value = ReadDigits(text.substr(0, end));
  return negative ? -value : value;
}

// A pseudo-random number with 15 bits, stirred by the high-resolution clock.
int Random15() {
  static std::atomic<std::uint32_t> state{0x2545F491u};
  auto ticks = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::uint32_t s = state.load(std::memory_order_relaxed);
  s = s * 1103515245u + 12345u + ticks;
  s ^= s >> 13;
  state.store(s, std::memory_order_relaxed);
  return static_cast<int>((s >> 16) & 0x7FFF);
}

// ---------------------------------------------------------------------------
// Dates: the serial calendar counts 29 February 1900 (serial 60).

double SafeSerial(double serial) { return std::clamp(Finite(serial), -1e7, 1e7); }

// Serial numbers count 29 February 1900, so 1900 has 366 days here.
bool IsLeapInSerials(int year) { return year == 1900 || IsLeapYear(year); }

int DaysInSerialMonth(int year, int month) {
  return (year == 1900 && month == 2) ? 29 : DaysInMonth(year, month);
}

int DayOfSerialYear(const CalendarDate& date) {
  return DayOfYear(date) + ((date.year == 1900 && date.month > 2) ? 1 : 0);
}

double TodaySerial(bool with_time) {
  platform::LocalDateTime now = platform::locale().Now();
  double serial = DateToSerial(now.year, now.month, now.day);
  if (with_time) serial += TimeToFraction(now.hour, now.minute, now.second);
  return serial;
}

// ---------------------------------------------------------------------------
// Text functions.

std::string TrimChars(std::string_view text, std::string_view chars) {
  std::size_t begin = text.find_first_not_of(chars);
  if (begin == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(chars);
  return std::string(text.substr(begin, end - begin + 1));
}

bool HasRepeatedCharacter(std::string_view part) {
  bool seen[256] = {};
  for (char ch : part) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (seen[c]) return true;
    seen[c] = true;
  }
  return false;
}

std::string TrimPart(std::string_view text, std::string_view part, bool from_start) {
  if (part.empty()) return std::string(text);
  if (from_start) {
    while (text.size() >= part.size() && text.substr(0, part.size()) == part) text.remove_prefix(part.size());
    if (!HasRepeatedCharacter(part))
      while (!text.empty() && part.find(text.front()) != std::string_view::npos) text.remove_prefix(1);
  } else {
    while (text.size() >= part.size() && text.substr(text.size() - part.size()) == part)
      text.remove_suffix(part.size());
    if (!HasRepeatedCharacter(part))
      while (!text.empty() && part.find(text.back()) != std::string_view::npos) text.remove_suffix(1);
  }
  return std::string(text);
}

std::size_t CountOccurrences(std::string_view text, std::string_view part) {
  if (part.empty()) return 0;
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// Every `old` replaced by `replacement`; nothing when the result would be longer
// than 4096 characters.
std::optional<std::string> Substitute(std::string_view text, std::string_view old, std::string_view replacement,
                                      bool ignore_case) {
  if (old.empty()) return std::string(text);
  std::string result;
  std::size_t from = 0;
  for (;;) {
    std::size_t at = ignore_case ? FindIgnoringCase(text.substr(from), old) : text.find(old, from);
    if (at == std::string_view::npos) break;
    if (ignore_case) at += from;
    result.append(text.substr(from, at - from));
    result.append(replacement);
    from = at + old.size();
    if (result.size() > kMaxText + 1) return std::nullopt;
  }
  result.append(text.substr(from));
  if (result.size() > kMaxText + 1) return std::nullopt;
  return result;
}

std::string Choose(std::int64_t index, std::string_view list, std::string_view separator) {
  if (index < 1) return {};
  if (separator.empty()) return index == 1 ? std::string(list) : std::string();
  std::size_t from = 0;
  for (std::int64_t i = 1;; ++i) {
    std::size_t at = list.find(separator, from);
    if (i == index) return std::string(list.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) return {};
    from = at + separator.size();
  }
}

std::string Proper(std::string text) {
  bool after_letter = false;
  for (char& c : text) {
    if (IsLetter(c)) {
      c = after_letter ? ToLower(c) : ToUpper(c);
      after_letter = true;
    } else {
      after_letter = false;
    }
  }
  return text;
}

std::string FileNameClean(std::string_view text) {
  bool drive = text.size() >= 2 && text[1] == ':';
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case ':': out += (drive && i == 1) ? ':' : ' '; break;
      case '\\': case '/': out += drive ? c : ' '; break;
      case '>': case '<': case '*': case '|': case '\r': case '\n': case '\t': out += ' '; break;
      case '?': case '"': break;
      default: out += c;
    }
  }
  std::string collapsed;
  for (char c : out)
    if (!(c == ' ' && !collapsed.empty() && collapsed.back() == ' ')) collapsed += c;
  return TrimChars(collapsed, " \t\r\n");
}

std::string Hex(double x) {
  std::int64_t v = WholePart(x);
  char buffer[32];
  if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::uint32_t>::max())
    std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(static_cast<std::uint32_t>(v)));
  else
    std::snprintf(buffer, sizeof buffer, "%llX", static_cast<unsigned long long>(v));
  return buffer;
}

double ReadHex(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsWhite(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
  double value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit = IsDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (digit < 0) break;
    value = value * 16 + digit;
  }
  return negative ? -value : value;
}

// ---------------------------------------------------------------------------
// Desktop functions.

platform::WindowId ToWindow(double x) {
  if (!(x >= 1) || x > 9007199254740992.0) return 0;
  return static_cast<platform::WindowId>(x);
}

// A window by title: a top-level window of exactly that title, else the
// visible windows from the foreground window down in z-order, three times:
// a title equal to the text, then one starting with it, then one containing it.
platform::WindowId FindWindowByTitle(const std::string& title) {
  if (title.empty()) return 0;
  platform::Windows& windows = platform::windows();
  if (platform::WindowId found = windows.FindTopLevel(title, "")) return found;
  constexpr int kMostWindows = 20000;
  for (int pass = 0; pass < 3; ++pass) {
    platform::WindowId id = windows.Foreground();
    if (id == 0) id = windows.NextInZOrder(0);
    for (int seen = 0; id != 0 && seen < kMostWindows; ++seen, id = windows.NextInZOrder(id)) {
      if (!windows.IsVisible(id)) continue;
      std::string text = windows.Title(id, 63, 50);
      bool match = pass == 0   ? text == title
                   : pass == 1 ? text.size() >= title.size() && EqualIgnoringCase(text.substr(0, title.size()), title)
                               : FindIgnoringCase(text, title) != std::string_view::npos;
      if (match) return id;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The evaluation.

struct Value {
  double number = 0;
  std::string text;
  bool is_text = false;  // came from a text (an empty text stays a text when joined or measured)
};

bool IsText(const Value& v) { return !v.text.empty(); }
// Text where a number is needed counts as 0.
double Num(const Value& v) { return v.text.empty() ? v.number : 0.0; }
bool Truth(const Value& v) { return !v.text.empty() || v.number != 0; }

std::string TextOf(const Value& v) {
  if (!v.text.empty()) return v.text;
  if (v.is_text) return {};
  return NumberText(v.number);
}

enum ItemKind : std::uint8_t { kNumberItem, kTextItem, kOperationItem };

// Queue items and stack entries are plain records: the fixed arrays that hold
// them are not cleared for each evaluation.
struct Span {
  const char* data;
  std::uint32_t size;
  std::string_view view() const { return {data, size}; }
};

Span SpanOf(std::string_view text) { return {text.data(), static_cast<std::uint32_t>(text.size())}; }

struct Item {
  double number;
  Span text;  // operand text; for an operation its name or characters
  std::uint8_t code;
  std::uint8_t kind;
};

struct Pending {
  std::uint8_t code;
  bool paren;
  Span source;
};

class Evaluation {
 public:
  FormulaResult Run(std::string_view formula);

 private:
  bool Compile(std::string_view body);
  bool Queue(const Item& item);
  bool PushOperation(std::uint8_t code, std::string_view source);
  bool PushParen();
  bool CloseTo(bool remove_paren);
  bool Execute();
  void PlanBranches();
  bool PushValue(Value&& value);
  bool Apply(const Item& item);
  bool Fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  std::string work_;
  std::string number_scratch_;
  std::array<Item, kMaxQueue> queue_;
  int queue_size_ = 0;
  std::array<Pending, kMaxOperators> operators_;
  int operator_count_ = 0;
  std::array<Value, kMaxValues> values_;
  int value_count_ = 0;
  std::string error_;
  // IF performs only the branch it selects: for each IF of the queue whose
  // branches can be told apart, where its branches start and its decision.
  bool lazy_ = false;
  // Filled by PlanBranches when the queue holds an IF.
  std::array<std::int16_t, kMaxQueue> branch_a_of_;  // queue index -> IF whose first branch starts here
  std::array<std::int16_t, kMaxQueue> branch_b_of_;  // queue index -> IF whose second branch starts here
  std::array<std::int16_t, kMaxQueue> branch_b_start_;
  std::array<bool, kMaxQueue> condition_;
};

// Key names in the formula ("{CapsLock}") become their virtual-key codes.
bool ReplaceKeyNames(std::string_view formula, std::string& out) {
  if (formula.find('{') == std::string_view::npos) return false;
  out.clear();
  out.reserve(formula.size());
  bool changed = false;
  std::size_t i = 0, n = formula.size();
  while (i < n) {
    char c = formula[i];
    if (c == '"' || c == '\'' || c == kMarker) {
      std::size_t close = formula.find(c, i + 1);
      if (c == kMarker && close != std::string_view::npos) {
        std::string_view inner = formula.substr(i + 1, close - i - 1);
        if (inner.size() > 2 && inner.front() == '{' && inner.back() == '}')
          if (int code = VirtualKeyOfName(inner)) {
            out += std::to_string(code);
            i = close + 1;
            changed = true;
            continue;
          }
      }
      std::size_t end = close == std::string_view::npos ? n : close + 1;
      out.append(formula.substr(i, end - i));
      i = end;
      continue;
    }
    if (c == '{') {
      std::size_t close = formula.substr(0, i + 32).find('}', i + 1);
      if (close != std::string_view::npos)
        if (int code = VirtualKeyOfName(formula.substr(i, close - i + 1))) {
          out += std::to_string(code);
          i = close + 1;
          changed = true;
          continue;
        }
    }
    out += c;
    ++i;
  }
  return changed;
}

// Formulas without any digit, "(" or "&" are not evaluated.
bool WorthEvaluating(std::string_view formula) {
  for (char c : formula)
    if (IsDigit(c) || c == '(' || c == '&') return true;
  return false;
}

FormulaResult Evaluation::Run(std::string_view formula) {
  FormulaResult result;
  if (!WorthEvaluating(formula)) {
    result.text = std::string(formula);
    return result;
  }
  std::string_view body = formula;
  if (ReplaceKeyNames(formula, work_)) body = work_;
  std::size_t first = body.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && body[first] == '=') body.remove_prefix(first + 1);
  std::size_t last = body.find_last_not_of(" \t\r\n");
  if (last != std::string_view::npos && body[last] == ';') body = body.substr(0, last);

  if (!Compile(body) || !Execute()) {
    result.text = error_;
    result.failed = true;
    return result;
  }
  if (value_count_ == 0) return result;
  Value& top = values_[value_count_ - 1];
  if (!top.text.empty()) {
    result.text = std::move(top.text);
  } else {
    result.number = top.number;
    if (top.number != 0) result.text = NumberText(top.number);
  }
  return result;
}

bool Evaluation::Queue(const Item& item) {
  if (queue_size_ == kMaxQueue) return Fail(kTooManyValues);
  queue_[queue_size_++] = item;
  return true;
}

bool Evaluation::PushOperation(std::uint8_t code, std::string_view source) {
  const CodeInfo& info = kInfo[code];
  while (operator_count_ > 0) {
    const Pending& top = operators_[operator_count_ - 1];
    if (top.paren) break;
    int p = kInfo[top.code].precedence;
    if (info.right ? p <= info.precedence : p < info.precedence) break;
    if (!Queue({0, top.source, top.code, kOperationItem})) return false;
    --operator_count_;
  }
  if (operator_count_ == kMaxOperators) return Fail(kTooManyValues);
  operators_[operator_count_++] = {code, false, SpanOf(source)};
  return true;
}

bool Evaluation::PushParen() {
  if (operator_count_ == kMaxOperators) return Fail(kTooManyValues);
  operators_[operator_count_++] = {0, true, {nullptr, 0}};
  return true;
}

bool Evaluation::CloseTo(bool remove_paren) {
  while (operator_count_ > 0 && !operators_[operator_count_ - 1].paren) {
    const Pending& top = operators_[operator_count_ - 1];
    if (!Queue({0, top.source, top.code, kOperationItem})) return false;
    --operator_count_;
  }
  if (remove_paren && operator_count_ > 0) --operator_count_;
  return true;
}

bool Evaluation::Compile(std::string_view body) {
  std::size_t i = 0, n = body.size();
  char last = 0;  // the last character kept: decides whether "-" negates
  while (i < n) {
    char c = body[i];
    if (IsRemovable(c)) {
      ++i;
      continue;
    }
    if (c == '"' || c == '\'' || c == kMarker) {
      std::size_t close = body.find(c, i + 1);
      std::size_t end = close == std::string_view::npos ? n : close;
      std::string_view text = body.substr(i + 1, end - i - 1);
      i = close == std::string_view::npos ? n : close + 1;
      if (c == kMarker && text.empty() && close != std::string_view::npos) continue;
      if (!Queue({0, SpanOf(text), 0, kTextItem})) return false;
      last = c;
      continue;
    }
    if (IsDigit(c) || c == '.') {
      // The number runs on across removed blanks and underscores ("1 000").
      std::size_t j = i;
      bool gaps = false;
      while (j < n) {
        if (IsDigit(body[j]) || body[j] == '.') {
          ++j;
          continue;
        }
        std::size_t k = j;
        while (k < n && IsRemovable(body[k])) ++k;
        if (k > j && k < n && (IsDigit(body[k]) || body[k] == '.')) {
          gaps = true;
          j = k;
          continue;
        }
        break;
      }
      std::string_view digits = body.substr(i, j - i);
      if (gaps) {
        number_scratch_.clear();
        for (char d : digits)
          if (!IsRemovable(d)) number_scratch_ += d;
        digits = number_scratch_;
      }
      if (!Queue({ReadDigits(digits), {nullptr, 0}, 0, kNumberItem})) return false;
      i = j;
      last = '0';
      continue;
    }
    if (c == '(') {
      if (!PushParen()) return false;
      last = c;
      ++i;
      continue;
    }
    if (c == ',' || c == ')') {
      if (!CloseTo(c == ')')) return false;
      last = c;
      ++i;
      continue;
    }
    // Operator pairs.
    if (i + 1 < n) {
      char d = body[i + 1];
      int code = -1;
      char compiled = 0;
      if (c == '+' && d == '+') code = kIncrement, compiled = '#';
      else if (c == '-' && d == '-' && !(i + 2 < n && IsDigit(body[i + 2]))) code = kDecrement, compiled = '`';
      else if (c == '>' && d == '=') code = kGreaterEqual, compiled = '}';
      else if (c == '<' && d == '=') code = kLessEqual, compiled = '{';
      else if ((c == '<' && d == '>') || (c == '!' && d == '=')) code = kNotEqual, compiled = '$';
      else if (c == '=' && d == '=') code = kEqual, compiled = '=';
      else if (c == '&' && d == '&') code = kAnd, compiled = ';';
      else if (c == '|' && d == '|') code = kOr, compiled = ':';
      if (code >= 0) {
        if (!PushOperation(static_cast<std::uint8_t>(code), body.substr(i, 2))) return false;
        last = compiled;
        i += 2;
        continue;
      }
    }
    int code = -1;
    switch (c) {
      case '+': code = kAdd; break;
      case '-':
        code = (IsDigit(last) || last == '.' || last == ')' || last == '#') ? kSub : kNegate;
        break;
      case '*': code = kMul; break;
      case '/': code = kDiv; break;
      case '%': code = kRem; break;
      case '^': code = kPow; break;
      case '&': code = kAmp; break;
      case '|': code = kBitOr; break;
      case '~': code = kBitXor; break;
      case '<': code = kLess; break;
      case '>': code = kGreater; break;
      case '=': code = kEqual; break;
      case '$': code = kNotEqual; break;
      case '{': code = kLessEqual; break;
      case '}': code = kGreaterEqual; break;
      case ';': code = kAnd; break;
      case ':': code = kOr; break;
      case '!': code = kNot; break;
      case '#': code = kIncrement; break;
      case '`': code = kDecrement; break;
      case '?': code = kIf; break;
      default: break;
    }
    if (code >= 0) {
      std::string_view source = code == kIf ? std::string_view("IF") : body.substr(i, 1);
      if (!PushOperation(static_cast<std::uint8_t>(code), source)) return false;
      last = code == kNegate ? '_' : c;
      ++i;
      continue;
    }
    // A function name followed at once by "(".
    if (IsLetter(c)) {
      std::size_t j = i;
      while (j < n && (IsLetter(body[j]) || IsDigit(body[j]))) ++j;
      if (j < n && body[j] == '(')
        if (const FunctionName* function = LookupFunction(body.substr(i, j - i))) {
          if (!PushOperation(function->code, function->name)) return false;
          last = 'A';
          i = j;
          continue;
        }
    }
    // A bare word: an unquoted text up to the next "," or ")", blanks kept.
    std::size_t end = body.find_first_of(",)", i);
    if (end == std::string_view::npos) end = n;
    if (!Queue({0, SpanOf(body.substr(i, end - i)), 0, kTextItem})) return false;
    last = 'A';
    i = end;
  }
  while (operator_count_ > 0) {
    const Pending& top = operators_[operator_count_ - 1];
    if (!top.paren && !Queue({0, top.source, top.code, kOperationItem})) return false;
    --operator_count_;
  }
  return true;
}

// For every IF of the queue: where its two branches start, so that the one it
// does not select is skipped. Each item's subtree is found from the parameter
// counts; an IF with too few items before it is left to the plain evaluation.
void Evaluation::PlanBranches() {
  lazy_ = false;
  bool any = false;
  for (int k = 0; k < queue_size_; ++k)
    if (queue_[k].kind == kOperationItem && queue_[k].code == kIf) any = true;
  if (!any) return;
  std::array<std::int16_t, kMaxQueue> start{};
  for (int k = 0; k < queue_size_; ++k) {
    branch_a_of_[k] = branch_b_of_[k] = -1;
    const Item& item = queue_[k];
    if (item.kind != kOperationItem) {
      start[k] = static_cast<std::int16_t>(k);
      continue;
    }
    int j = k - 1;
    for (int p = 0; p < kInfo[item.code].arity && j >= -1; ++p) j = (j >= 0 && start[j] >= 0) ? start[j] - 1 : -2;
    start[k] = static_cast<std::int16_t>(j >= -1 ? j + 1 : -1);
  }
  for (int k = 0; k < queue_size_; ++k) {
    if (queue_[k].kind != kOperationItem || queue_[k].code != kIf || start[k] < 0) continue;
    int b = start[k - 1];
    int a = start[b - 1];
    if (branch_a_of_[a] >= 0 || branch_b_of_[b] >= 0) continue;
    branch_a_of_[a] = static_cast<std::int16_t>(k);
    branch_b_of_[b] = static_cast<std::int16_t>(k);
    branch_b_start_[k] = static_cast<std::int16_t>(b);
    lazy_ = true;
  }
}

bool Evaluation::PushValue(Value&& value) {
  if (value_count_ == kMaxValues) return Fail(kTooManyValues);
  values_[value_count_++] = std::move(value);
  return true;
}

bool Evaluation::Execute() {
  PlanBranches();
  int k = 0;
  while (k < queue_size_) {
    if (lazy_) {
      if (int owner = branch_a_of_[k]; owner >= 0) {
        // The condition is on top; a false one skips the first branch.
        condition_[owner] = value_count_ > 0 && Truth(values_[value_count_ - 1]);
        if (!condition_[owner]) {
          if (!PushValue(Value{})) return false;
          k = branch_b_start_[owner];
          continue;
        }
      }
      if (int owner = branch_b_of_[k]; owner >= 0 && condition_[owner]) {
        if (!PushValue(Value{})) return false;
        k = owner;
        continue;
      }
    }
    const Item& item = queue_[k];
    if (item.kind == kOperationItem) {
      if (!Apply(item)) return false;
    } else {
      if (item.kind == kTextItem && item.text.size > kMaxText) return Fail(kParameterTooBig);
      Value value;
      if (item.kind == kTextItem) {
        value.text.assign(item.text.view());
        value.is_text = true;
      } else {
        value.number = item.number;
      }
      if (!PushValue(std::move(value))) return false;
    }
    ++k;
  }
  return true;
}

void SetNumber(Value& out, double x) {
  out.number = Finite(x);
  out.text.clear();
  out.is_text = false;
}

void SetText(Value& out, std::string text) {
  if (text.size() > kMaxText) text.resize(kMaxText);
  out.number = 0;
  out.text = std::move(text);
  out.is_text = true;
}

bool Evaluation::Apply(const Item& item) {
  const int arity = kInfo[item.code].arity;
  if (value_count_ < arity) {
    char message[96];
    std::snprintf(message, sizeof message, "Formula Error: \"%.*s\" requires %d parameters",
                  static_cast<int>(item.text.size), item.text.data, arity);
    return Fail(message);
  }
  int base = value_count_ - arity;
  if (arity == 0) {
    if (value_count_ == kMaxValues) return Fail(kTooManyValues);
    values_[base] = Value{};
  }
  Value* a = &values_[base];
  Value& out = values_[base];
  value_count_ = base + 1;

  switch (item.code) {
    // Operators.
    case kAdd: SetNumber(out, Num(a[0]) + Num(a[1])); break;
    case kSub: SetNumber(out, Num(a[0]) - Num(a[1])); break;
    case kMul: SetNumber(out, Num(a[0]) * Num(a[1])); break;
    case kDiv: {
      double b = Num(a[1]);
      SetNumber(out, b == 0 ? 0 : Num(a[0]) / b);
      break;
    }
    case kRem: case kMod: {
      double b = Num(a[1]);
      SetNumber(out, b == 0 ? 0 : std::fmod(Num(a[0]), b));
      break;
    }
    case kPow: SetNumber(out, std::pow(Num(a[0]), Num(a[1]))); break;
    case kAmp:
      if (!IsText(a[0]) && !IsText(a[1])) {
        SetNumber(out, static_cast<double>(WholePart(a[0].number) & WholePart(a[1].number)));
      } else {
        std::string joined = TextOf(a[0]);
        if (joined.size() < kMaxText) joined += TextOf(a[1]);
        SetText(out, std::move(joined));
      }
      break;
    case kBitOr: SetNumber(out, static_cast<double>(WholePart(Num(a[0])) | WholePart(Num(a[1])))); break;
    case kBitXor: SetNumber(out, static_cast<double>(WholePart(Num(a[0])) ^ WholePart(Num(a[1])))); break;
    case kLess: case kGreater: case kEqual: case kNotEqual: case kLessEqual: case kGreaterEqual: {
      int order;
      bool equal;
      if (!IsText(a[0]) && !IsText(a[1])) {
        double x = a[0].number, y = a[1].number;
        order = x < y ? -1 : x > y ? 1 : 0;
        equal = x == y;
      } else {
        std::string x = TextOf(a[0]), y = TextOf(a[1]);
        order = CompareText(x, y);
        equal = x == y;
      }
      bool truth = item.code == kLess           ? order < 0
                   : item.code == kGreater      ? order > 0
                   : item.code == kEqual        ? equal
                   : item.code == kNotEqual     ? !equal
                   : item.code == kLessEqual    ? order <= 0
                                                : order >= 0;
      SetNumber(out, truth ? 1 : 0);
      break;
    }
    case kAnd: SetNumber(out, (Num(a[0]) != 0 && Num(a[1]) != 0) ? 1 : 0); break;
    case kOr: SetNumber(out, (Num(a[0]) != 0 || Num(a[1]) != 0) ? 1 : 0); break;
    case kNot: SetNumber(out, Num(a[0]) == 0 ? 1 : 0); break;
    case kNegate: SetNumber(out, -Num(a[0])); break;
    case kIncrement: SetNumber(out, Num(a[0]) + 1); break;
    case kDecrement: SetNumber(out, Num(a[0]) - 1); break;

    // Numbers.
    case kAbs: SetNumber(out, std::fabs(Num(a[0]))); break;
    case kCeiling: SetNumber(out, std::ceil(Num(a[0]))); break;
    case kFloor: case kInt: SetNumber(out, std::floor(Num(a[0]))); break;
    case kSqrt: {
      double x = Num(a[0]);
      SetNumber(out, x < 0 ? 0 : std::sqrt(x));
      break;
    }
    case kSin: SetNumber(out, std::sin(Num(a[0]))); break;
    case kCos: SetNumber(out, std::cos(Num(a[0]))); break;
    case kTan: SetNumber(out, std::tan(Num(a[0]))); break;
    case kAtan: SetNumber(out, std::atan(Num(a[0]))); break;
    case kPiCode: SetNumber(out, kPi); break;
    case kDecimal: {
      double x = Num(a[0]);
      SetNumber(out, std::isinf(x) ? 0 : x - std::trunc(x));
      break;
    }
    case kQuotient: {
      double b = Num(a[1]);
      SetNumber(out, b == 0 ? 0 : std::trunc(Num(a[0]) / b));
      break;
    }
    case kRound: SetNumber(out, RoundTo(Num(a[0]), std::clamp(Finite(Num(a[1])), -400.0, 400.0))); break;
    case kTrunc: SetNumber(out, CutTo(Num(a[0]), std::clamp(Finite(Num(a[1])), -400.0, 400.0))); break;
    case kMax: SetNumber(out, std::max(Num(a[0]), Num(a[1]))); break;
    case kMin: SetNumber(out, std::min(Num(a[0]), Num(a[1]))); break;
    case kGcd: case kLcm: {
      std::int64_t x = WholePart(Num(a[0])), y = WholePart(Num(a[1]));
      std::uint64_t ux = x < 0 ? 0 - static_cast<std::uint64_t>(x) : static_cast<std::uint64_t>(x);
      std::uint64_t uy = y < 0 ? 0 - static_cast<std::uint64_t>(y) : static_cast<std::uint64_t>(y);
      std::uint64_t g = ux, h = uy;
      while (h != 0) {
        std::uint64_t r = g % h;
        g = h;
        h = r;
      }
      if (item.code == kGcd)
        SetNumber(out, static_cast<double>(g));
      else
        SetNumber(out, (ux == 0 || uy == 0) ? 0 : static_cast<double>(ux / g) * static_cast<double>(uy));
      break;
    }
    case kIsOdd: SetNumber(out, std::fmod(std::trunc(Num(a[0])), 2.0) != 0 ? 1 : 0); break;
    case kRand: SetNumber(out, Random15() / 32768.0); break;
    case kRandBetween: {
      double low = std::trunc(Finite(Num(a[0]))), high = std::trunc(Finite(Num(a[1])));
      if (low > high || std::isinf(low) || std::isinf(high)) {
        SetNumber(out, 0);
        break;
      }
      double unit = (Random15() * 32768.0 + Random15()) / 1073741824.0;
      SetNumber(out, std::min(high, low + std::floor(unit * (high - low + 1))));
      break;
    }
    case kTickCount: SetNumber(out, static_cast<double>(platform::TickCount())); break;

    // Texts.
    case kLen: SetNumber(out, static_cast<double>(TextOf(a[0]).size())); break;
    case kChar: {
      char c = static_cast<char>(static_cast<unsigned char>(WholePart(Num(a[0])) & 0xFF));
      SetText(out, c == 0 ? std::string() : std::string(1, c));
      break;
    }
    case kCodeOf: {
      std::string t = TextOf(a[0]);
      SetNumber(out, t.empty() ? 0 : static_cast<signed char>(t[0]));
      break;
    }
    case kValue: {
      std::string kept;
      for (char c : TextOf(a[0]))
        if (IsDigit(c) || c == '-' || c == '.') kept += c;
      SetNumber(out, ReadLeadingNumber(kept));
      break;
    }
    case kUpper: case kLower: case kProper: {
      if (!IsText(a[0]) && !a[0].is_text && a[0].number == 0) {
        SetNumber(out, 0);
        break;
      }
      std::string t = TextOf(a[0]);
      if (item.code == kProper) {
        t = Proper(std::move(t));
      } else {
        for (char& c : t) c = item.code == kUpper ? ToUpper(c) : ToLower(c);
      }
      SetText(out, std::move(t));
      break;
    }
    case kTrim: SetText(out, TrimChars(TextOf(a[0]), " ")); break;
    case kTrimWhite: SetText(out, TrimChars(TextOf(a[0]), " \t\r\n")); break;
    case kLTrim: case kRTrim: SetText(out, TrimPart(TextOf(a[0]), TextOf(a[1]), item.code == kLTrim)); break;
    case kChop: {
      std::string t = TextOf(a[0]), part = TextOf(a[1]);
      std::size_t at = part.empty() ? std::string::npos : t.find(part);
      if (at != std::string::npos) t.resize(at);
      SetText(out, std::move(t));
      break;
    }
    case kLeft: case kRight: {
      std::string t = TextOf(a[0]);
      std::size_t count = std::min(ToCount(Num(a[1])), t.size());
      SetText(out, item.code == kLeft ? t.substr(0, count) : t.substr(t.size() - count));
      break;
    }
    case kMid: {
      std::string t = TextOf(a[0]);
      std::int64_t start = std::max<std::int64_t>(WholePart(Num(a[1])), 1);
      std::size_t count = ToCount(Num(a[2]));
      if (static_cast<std::uint64_t>(start) > t.size())
        SetText(out, {});
      else
        SetText(out, t.substr(static_cast<std::size_t>(start - 1), count));
      break;
    }
    case kFind: case kSearch: {
      std::string part = TextOf(a[0]), t = TextOf(a[1]);
      std::size_t at = item.code == kFind ? t.find(part) : FindIgnoringCase(t, part);
      SetNumber(out, at == std::string::npos ? 0 : static_cast<double>(at + 1));
      break;
    }
    case kCountIf: SetNumber(out, static_cast<double>(CountOccurrences(TextOf(a[0]), TextOf(a[1])))); break;
    case kRept: {
      std::string t = TextOf(a[0]), repeated;
      std::size_t times = ToCount(Num(a[1]));
      if (!t.empty()) {
        std::size_t total = std::min<std::size_t>(kMaxText, t.size() * std::min<std::size_t>(times, kMaxText));
        repeated.reserve(total);
        while (repeated.size() < total) repeated.append(t, 0, total - repeated.size());
      }
      SetText(out, std::move(repeated));
      break;
    }
    case kSubstitute: case kSubstituteI: {
      auto replaced = Substitute(TextOf(a[0]), TextOf(a[1]), TextOf(a[2]), item.code == kSubstituteI);
      if (!replaced) return Fail(kExpressionTooBig);
      SetText(out, std::move(*replaced));
      break;
    }
    case kReplace: {
      std::string t = TextOf(a[0]);
      std::int64_t start = std::max<std::int64_t>(WholePart(Num(a[1])), 1);
      std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(std::min<std::int64_t>(start, 1 << 30)) - 1, t.size());
      std::size_t count = std::min(ToCount(Num(a[2])), t.size() - at);
      t.replace(at, count, TextOf(a[3]));
      SetText(out, std::move(t));
      break;
    }
    case kPad: {
      std::string t = TextOf(a[0]), fill = TextOf(a[2]);
      std::size_t length = std::min(ToCount(Num(a[1])), kMaxText);
      if (!fill.empty())
        while (t.size() < length) t.append(fill, 0, length - t.size());
      SetText(out, std::move(t));
      break;
    }
    case kChoose: SetText(out, Choose(WholePart(Num(a[0])), TextOf(a[1]), TextOf(a[2]))); break;
    case kStrRev: {
      std::string t = TextOf(a[0]);
      std::reverse(t.begin(), t.end());
      SetText(out, std::move(t));
      break;
    }
    case kDec2Hex: SetText(out, Hex(Num(a[0]))); break;
    case kHex2Dec: SetNumber(out, ReadHex(TextOf(a[0]))); break;
    case kNum2Words: SetText(out, NumberToWords(TextOf(a[0]), false)); break;
    case kText: {
      std::string format = TextOf(a[1]);
      if (format.empty() || (!IsText(a[1]) && !a[1].is_text && a[1].number == 0)) {
        Value same = std::move(a[0]);
        out = std::move(same);
      } else {
        SetText(out, FormatValue(Num(a[0]), format));
      }
      break;
    }
    case kType: SetNumber(out, (!IsText(a[0]) && a[0].number != 0) ? 1 : 2); break;
    case kIf: {
      Value chosen = std::move(Truth(a[0]) ? a[1] : a[2]);
      out = std::move(chosen);
      break;
    }

    // Dates and times.
    case kDate:
      SetNumber(out, DateToSerial(std::clamp(Finite(Num(a[0])), -1e6, 1e6), std::clamp(Finite(Num(a[1])), -1e7, 1e7),
                                  std::clamp(Finite(Num(a[2])), -1e8, 1e8)));
      break;
    case kTime:
      SetNumber(out, TimeToFraction(std::clamp(Finite(Num(a[0])), -1e9, 1e9), std::clamp(Finite(Num(a[1])), -1e9, 1e9),
                                    std::clamp(Finite(Num(a[2])), -1e9, 1e9)));
      break;
    case kToday: SetNumber(out, TodaySerial(false)); break;
    case kNow: SetNumber(out, TodaySerial(true)); break;
    case kDateValue: {
      auto date = ParseDate(TextOf(a[0]));
      SetNumber(out, date ? DateToSerial(date->year, date->month, date->day) : 0);
      break;
    }
    case kTimeValue: {
      TimeOfDay t = ParseTime(TextOf(a[0]));
      SetNumber(out, TimeToFraction(t.hour, t.minute, t.second));
      break;
    }
    case kYear: case kMonth: case kDay: case kDayOfYear: case kDaysInYear: case kDaysInMonth: {
      CalendarDate d = SerialToDate(SafeSerial(Num(a[0])));
      double r = 0;
      if (item.code == kYear) r = d.year;
      else if (item.code == kMonth) r = d.month;
      else if (item.code == kDay) r = d.day;
      else if (item.code == kDaysInYear) r = IsLeapInSerials(d.year) ? 366 : 365;
      else if (item.code == kDaysInMonth) r = DaysInSerialMonth(d.year, d.month);
      else r = DayOfSerialYear(d);
      SetNumber(out, r);
      break;
    }
    case kWeekday: SetNumber(out, SerialWeekday(SafeSerial(Num(a[0]))) + 1); break;
    case kHour: case kMinute: case kSecond: {
      TimeOfDay t = SerialToTime(SafeSerial(Num(a[0])));
      SetNumber(out, item.code == kHour ? t.hour : item.code == kMinute ? t.minute : t.second);
      break;
    }

    // Files.
    case kFileExist: {
      std::string path = TextOf(a[0]);
      SetNumber(out, (!path.empty() && platform::PathExists(path) && !platform::IsFolder(path)) ? 1 : 0);
      break;
    }
    case kFolderExist: {
      std::string path = TextOf(a[0]);
      SetNumber(out, (!path.empty() && platform::IsFolder(path)) ? 1 : 0);
      break;
    }
    case kFileSize: {
      std::string path = TextOf(a[0]);
      auto size = path.empty() ? std::nullopt : platform::FileSize(path);
      SetNumber(out, size ? static_cast<double>(*size) : 0);
      break;
    }
    case kFileNameClean: SetText(out, FileNameClean(TextOf(a[0]))); break;

    // The system and the desktop.
    case kSystemInfo: {
      std::string key = TextOf(a[0]);
      auto is = [&](std::string_view name) { return EqualIgnoringCase(key, name); };
      if (is("screenx") || is("screeny")) {
        platform::ScreenInfo info = platform::screen().Info();
        SetNumber(out, is("screenx") ? info.width : info.height);
      } else if (is("monitor")) {
        SetNumber(out, platform::screen().Info().monitors);
      } else if (is("maxcolor") || is("bpp")) {
        SetNumber(out, platform::screen().Info().bits_per_pixel);
      } else if (is("memavail") || is("memfree") || is("totmem") || is("memtot") || is("memused")) {
        auto memory = platform::PhysicalMemory();
        double r = 0;
        if (memory) {
          if (is("memavail") || is("memfree")) r = static_cast<double>(memory->available);
          else if (is("memused")) r = static_cast<double>(memory->total - std::min(memory->total, memory->available));
          else r = static_cast<double>(memory->total);
        }
        SetNumber(out, r);
      } else if (is("osversion") || is("osversionex")) {
        auto version = platform::WindowsVersion();
        char text[48] = "";
        if (version && is("osversion"))
          std::snprintf(text, sizeof text, "%d.%d", version->major, version->minor);
        else if (version)
          std::snprintf(text, sizeof text, "%d.%d.%d", version->major, version->minor, version->build);
        SetText(out, text);
      } else if (is("osname")) {
        SetText(out, platform::WindowsVersionName(platform::WindowsVersion()));
      } else if (is("directory")) {
        SetText(out, platform::CurrentDirectory());
      } else {
        SetNumber(out, 0);
      }
      break;
    }
    case kGetPixel: {
      auto colour = platform::screen().PixelAt(ToInt(Num(a[0])), ToInt(Num(a[1])));
      if (!colour) {
        SetNumber(out, 0);
        break;
      }
      char text[16];
      std::snprintf(text, sizeof text, "#%02X%02X%02X", platform::RedOf(*colour), platform::GreenOf(*colour),
                    platform::BlueOf(*colour));
      SetText(out, text);
      break;
    }
    case kTopWindow: SetNumber(out, static_cast<double>(platform::windows().Foreground())); break;
    case kIsWindow: SetNumber(out, platform::windows().Exists(ToWindow(Num(a[0]))) ? 1 : 0); break;
    case kFindWindow: SetNumber(out, static_cast<double>(FindWindowByTitle(TextOf(a[0])))); break;
    case kIsKeyPressed: {
      int key = ToInt(Num(a[0]));
      bool on = (key == platform::key::kCapsLock || key == platform::key::kNumLock || key == platform::key::kScrollLock)
                    ? platform::input().IsKeyToggled(key)
                    : platform::input().IsKeyDown(key);
      SetNumber(out, on ? 1 : 0);
      break;
    }
    case kSetFocus: {
      platform::WindowId window = ToWindow(Num(a[0]));
      bool exists = platform::windows().Exists(window);
      if (exists) platform::windows().Activate(window);
      SetNumber(out, exists ? 1 : 0);
      break;
    }
    case kCloseWindow: {
      platform::WindowId window = ToWindow(Num(a[0]));
      bool posted = platform::windows().PostClose(window);
      if (platform::windows().Exists(window)) platform::windows().Destroy(window);
      SetNumber(out, posted ? 1 : 0);
      break;
    }
    case kMsgBox: {
      std::string text = TextOf(a[0]), title = TextOf(a[1]);
      SetNumber(out, platform::dialogs().ShowMessage(text, title, platform::box::kOk));
      break;
    }
    case kRun: {
      std::string command = TextOf(a[0]);
      SetNumber(out, platform::StartProgram(command, true) ? 1 : kNotStarted);
      break;
    }
    default: SetNumber(out, 0); break;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Logical expressions.

std::string_view TrimBlanks(std::string_view text) {
  std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(' ');
  return text.substr(begin, end - begin + 1);
}

bool OnlyNumericCharacters(std::string_view text) {
  return text.find_first_not_of("0123456789()<>=., \r\n\t+-*/^%") == std::string_view::npos;
}

// A part of a comparison as text: the formula's text, or its number written out.
std::string PartText(std::string_view part, const FormulaResult& result) {
  if (!result.text.empty() || part.empty()) return result.text;
  return NumberText(result.number);
}

bool EvaluateTerm(std::string term) {
  // An odd number of "=", three or more, loses its first and last "=" until
  // one is left: the middle one.
  std::size_t equals = static_cast<std::size_t>(std::count(term.begin(), term.end(), '='));
  if (equals >= 3 && equals % 2 == 1) {
    std::string kept;
    std::size_t seen = 0;
    for (char c : term)
      if (c != '=' || seen++ == equals / 2) kept += c;
    term = std::move(kept);
  }
  std::size_t at = std::string::npos;
  for (std::size_t p = 0; p < term.size(); ++p) {
    char c = term[p];
    if (c == '>' || c == '<' || (c == '!' && p + 1 < term.size() && term[p + 1] == '=') || (c == '=' && p > 0)) {
      at = p;
      break;
    }
  }
  if (at == std::string::npos) {
    // True unless empty or only zeros once white space is removed ("0.0" is true).
    for (char c : term)
      if (!IsWhite(c) && c != '0') return true;
    return false;
  }
  std::size_t length = 0;
  while (at + length < term.size() && length < 7 && std::string_view("=><!").find(term[at + length]) != std::string_view::npos)
    ++length;
  std::string_view op(term.data() + at, length);
  std::string_view left = TrimBlanks(std::string_view(term).substr(0, at));
  std::string_view right = TrimBlanks(std::string_view(term).substr(at + length));

  enum { kEq, kNe, kGt, kGe, kLt, kLe } kind;
  if (op == "=" || op == "==") kind = kEq;
  else if (op == "!=" || op == "<>" || op == "><") kind = kNe;
  else if (op == ">") kind = kGt;
  else if (op == ">=") kind = kGe;
  else if (op == "<") kind = kLt;
  else if (op == "<=") kind = kLe;
  else return false;

  bool numeric = (OnlyNumericCharacters(left) && OnlyNumericCharacters(right)) ||
                 (!left.empty() && left[0] == '%' && left.find_first_of("0123456789") == std::string_view::npos &&
                  OnlyNumericCharacters(right));
  FormulaResult l = EvaluateFormula(left);
  FormulaResult r = EvaluateFormula(right);
  if (numeric) {
    double x = l.number, y = r.number;
    switch (kind) {
      case kEq: return x == y;
      case kNe: return x != y;
      case kGt: return x > y;
      case kGe: return x >= y;
      case kLt: return x < y;
      case kLe: return x <= y;
    }
  }
  std::string x = PartText(left, l), y = PartText(right, r);
  switch (kind) {
    case kEq: return x == y;
    case kNe: return !EqualIgnoringCase(x, y);
    case kGt: return CompareText(x, y) > 0;
    case kGe: return CompareText(x, y) >= 0;
    case kLt: return CompareText(x, y) < 0;
    case kLe: return CompareText(x, y) <= 0;
  }
  return false;
}

}  // namespace

FormulaResult EvaluateFormula(std::string_view formula) {
  try {
    Evaluation evaluation;
    return evaluation.Run(formula);
  } catch (const std::bad_alloc&) {
    FormulaResult result;
    result.text = kExpressionTooBig;
    result.failed = true;
    return result;
  }
}

bool EvaluateLogical(std::string_view expression) {
  try {
    std::string_view joint = expression.find("||") != std::string_view::npos   ? "||"
                             : expression.find("&&") != std::string_view::npos ? "&&"
                                                                               : "";
    bool result = false;
    std::size_t from = 0;
    for (;;) {
      std::size_t at = joint.empty() ? std::string_view::npos : expression.find(joint, from);
      std::string_view term = expression.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from);
      result = EvaluateTerm(std::string(term));
      if (at == std::string_view::npos) break;
      if (joint == "||" && result) break;
      if (joint == "&&" && !result) break;
      from = at + joint.size();
    }
    return result;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace olvex
