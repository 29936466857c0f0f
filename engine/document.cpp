#include "engine/document.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>
#include <optional>

#include "engine/catalog.h"
#include "engine/compress.h"
#include "engine/messages.h"
#include "engine/settings.h"

namespace olvex {

namespace {

constexpr std::size_t npos = std::string_view::npos;

std::array<ScriptDocument, kMaxDocuments> g_documents;
std::atomic<FileReader> g_file_reader{nullptr};

std::string Format(const char* pattern, std::string_view arg) {
  std::string out;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out.append(arg);
      ++p;
    } else {
      out.push_back(*p);
    }
  }
  return out;
}

void Assign(std::string& field, std::string_view value, std::size_t max) { field.assign(value.substr(0, max)); }

void TrimSpaces(std::string& s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) {
    s.clear();
    return;
  }
  s.erase(s.find_last_not_of(' ') + 1);
  s.erase(0, first);
}

// Replaces every occurrence of `from` (case-insensitive); the field stays within `max`.
bool ReplaceAllNoCase(std::string& s, std::string_view from, std::string_view to, std::size_t max = std::string::npos) {
  const bool changed = ReplaceAll(s, from, to, true);
  if (s.size() > max) s.resize(max);
  return changed;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// ---------------------------------------------------------------------------
// Entities

struct Entity {
  std::string_view code;  // without the leading '&'
  char decoded;
};
// The entities decoded after "&amp;": "&lt;" and the rest, in their order.
constexpr Entity kLaterEntities[] = {
    {"lt;", '<'},  {"#060;", '<'}, {"#60;", '<'},  {"gt;", '>'},  {"#062;", '>'}, {"#62;", '>'},
    {"apos;", '\''}, {"#039;", '\''}, {"#39;", '\''}, {"quot;", '"'}, {"#034;", '"'}, {"#34;", '"'},
};

// The later entity that `tail` (the text after an '&') begins with, or nullptr.
const Entity* LaterEntityAt(std::string_view tail) {
  for (const Entity& e : kLaterEntities)
    if (tail.substr(0, e.code.size()) == e.code) return &e;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Tags of a step

enum TagIndex : int {
  kTagAction,
  kTagRecording,
  kTagText,
  kTagComment,
  kTagOptions,
  kTagData,
  kTagTimeout,
  kTagStatus,
  kTagIndents,
  kTagCustom,
  kTagEmbedded1,
  kTagValue1 = kTagEmbedded1 + 8,
  kTagOutput = kTagValue1 + 8,
  kTagOnfail,
  kTagCount
};

// `s` begins with `lower_name`, which is written in lower case.
inline bool BeginsWithLower(std::string_view s, std::string_view lower_name) {
  if (s.size() < lower_name.size()) return false;
  for (std::size_t i = 0; i < lower_name.size(); ++i)
    if (AsciiLower(s[i]) != lower_name[i]) return false;
  return true;
}

// The tag whose name `s` (the text after '<' or "</") begins with, or -1.
// No name of the set begins another, so at most one matches.
int TagAt(std::string_view s) {
  auto is = [&](std::string_view name) { return BeginsWithLower(s, name); };
  if (s.empty()) return -1;
  switch (AsciiLower(s[0])) {
    case 'a': return is("action") ? kTagAction : -1;
    case 'r': return is("recording") ? kTagRecording : -1;
    case 't': return is("text") ? kTagText : is("timeout") ? kTagTimeout : -1;
    case 'c': return is("comment") ? kTagComment : is("custom") ? kTagCustom : -1;
    case 'o': return is("options") ? kTagOptions : is("output") ? kTagOutput : is("onfail") ? kTagOnfail : -1;
    case 'd': return is("data") ? kTagData : -1;
    case 's': return is("status") ? kTagStatus : -1;
    case 'i': return is("indents") ? kTagIndents : -1;
    case 'e':
      if (s.size() > 12 && is("embedded_id_") && s[12] >= '1' && s[12] <= '8') return kTagEmbedded1 + (s[12] - '1');
      return -1;
    case 'v':
      if (s.size() > 5 && is("value") && s[5] >= '1' && s[5] <= '8') return kTagValue1 + (s[5] - '1');
      return -1;
    default: return -1;
  }
}

// The names of the tags, in lower case, by TagIndex.
constexpr std::string_view kTagNames[kTagCount] = {
    "action", "recording", "text", "comment", "options", "data", "timeout", "status", "indents", "custom",
    "embedded_id_1", "embedded_id_2", "embedded_id_3", "embedded_id_4", "embedded_id_5", "embedded_id_6",
    "embedded_id_7", "embedded_id_8", "value1", "value2", "value3", "value4", "value5", "value6", "value7", "value8",
    "output", "onfail",
};
std::size_t TagNameLength(int tag) { return kTagNames[tag].size(); }

// Where a tag stands in a text: the '<' of its first opening, the start of its
// content (after the opening's '>'), and its closing "</" (or the text's end).
struct TagSpan {
  std::size_t open;
  std::size_t content;
  std::size_t close;
};

// Locates the opening `<name` at `open`: content start and closing tag.
TagSpan SpanFrom(std::string_view source, std::size_t open, std::size_t name_length, std::string_view name) {
  TagSpan span{open, npos, npos};
  const std::size_t gt = source.find('>', open + 1 + name_length);
  span.content = gt == npos ? source.size() : gt + 1;
  for (std::size_t at = span.content; (at = source.find("</", at)) != npos; at += 2) {
    if (StartsWithNoCase(source.substr(at + 2), name)) {
      span.close = at;
      break;
    }
  }
  return span;
}

std::string_view ContentOf(std::string_view source, const TagSpan& span) {
  const std::size_t end = span.close == npos ? source.size() : span.close;
  return source.substr(span.content, end - span.content);
}

// The opening tag as attributes are read from it: up to its '>', at most 255 characters.
std::string_view OpeningOf(std::string_view source, const TagSpan& span) {
  return source.substr(span.open, std::min(span.content - span.open, kOpeningTagMax));
}

// The raw value of attribute `name` in `opening`, or nothing. The name counts
// only as a whole word outside quoted values, followed by '='.
std::optional<std::string_view> AttributeIn(std::string_view opening, std::string_view name) {
  char quote = 0;
  for (std::size_t i = 1; i < opening.size(); ++i) {
    const char c = opening[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      continue;
    }
    if (!IsBlank(opening[i - 1]) || !StartsWithNoCase(opening.substr(i), name)) continue;
    std::size_t v = i + name.size();
    if (v >= opening.size() || opening[v] != '=') continue;
    ++v;
    if (v < opening.size() && (opening[v] == '"' || opening[v] == '\'')) {
      const char q = opening[v++];
      std::size_t end = opening.find(q, v);
      if (end == npos) {
        end = opening.size();
        if (end > v && opening[end - 1] == '>') --end;
      }
      return opening.substr(v, end - v);
    }
    std::size_t end = v;
    while (end < opening.size() && !IsBlank(opening[end]) && opening[end] != '>' && opening[end] != '/') ++end;
    return opening.substr(v, end - v);
  }
  return std::nullopt;
}

// Every tag of one step, found in one pass over its text.
class StepTags {
 public:
  explicit StepTags(std::string_view step) : step_(step) {
    const std::size_t n = step.size();
    std::size_t lt = FindByte(step, 0, '<');
    while (lt < n) {
      const bool closing = lt + 1 < n && step[lt + 1] == '/';
      const std::size_t name_at = lt + 1 + (closing ? 1 : 0);
      const int tag = TagAt(step.substr(name_at, 16));
      const std::size_t next = FindByte(step, lt + 1, '<');
      if (tag >= 0) {
        TagSpan& span = spans_[tag];
        const std::uint64_t bit = std::uint64_t{1} << tag;
        if (!closing) {
          if (!(seen_ & bit)) {
            seen_ |= bit;
            span.open = lt;
            const std::size_t gt = FindByte(step, name_at + TagNameLength(tag), '>');
            span.content = gt == n ? n : gt + 1;
            span.close = npos;
            // Mostly the closing tag follows the content: take it without looking it up.
            if (next >= span.content && next + 1 < n && step[next + 1] == '/' &&
                BeginsWithLower(step.substr(next + 2, TagNameLength(tag)), kTagNames[tag])) {
              span.close = next;
              lt = FindByte(step, next + 1, '<');
              continue;
            }
          }
        } else if ((seen_ & bit) && span.close == npos && lt >= span.content) {
          span.close = lt;
        }
      }
      lt = next;
    }
  }

  bool Has(int tag) const { return (seen_ >> tag) & 1; }
  std::string_view Content(int tag) const { return Has(tag) ? ContentOf(step_, spans_[tag]) : std::string_view(); }
  std::string_view Opening(int tag) const { return Has(tag) ? OpeningOf(step_, spans_[tag]) : std::string_view(); }

  // Decoded content cut at `max` characters (empty when the tag is missing).
  void Read(int tag, std::string& into, std::size_t max = std::string::npos) const {
    const std::string_view raw = Content(tag).substr(0, max);
    if (raw.empty()) {
      into.clear();
      return;
    }
    DecodeEntitiesInto(raw, into);
  }
  int Number(int tag) const {
    if (!Has(tag)) return 0;
    std::string_view raw = Content(tag);
    // Numeric entities ("&#60;") hold digits that decoding removes.
    if (raw.find('&') == npos) return FirstNumber(raw);
    return FirstNumber(DecodeEntities(raw));
  }
  std::string Attribute(int tag, std::string_view name) const {
    auto raw = AttributeIn(Opening(tag), name);
    if (!raw) return {};
    return DecodeEntities(raw->substr(0, kFieldMax));
  }

 private:
  std::string_view step_;
  std::uint64_t seen_ = 0;   // tags whose opening was found; only their spans are set
  TagSpan spans_[kTagCount];
};

// `<status>`: hexadecimal after an optional "0x", "0X" or a prefix ending in '\';
// up to 30 digits; a value past 32 bits reads as all bits set.
int HexStatus(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  s.remove_prefix(i);
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    s.remove_prefix(2);
  else if (const std::size_t bs = s.rfind('\\'); bs != npos)
    s.remove_prefix(bs + 1);
  std::uint64_t v = 0;
  for (std::size_t d = 0; d < s.size() && d < 30; ++d) {
    const char c = AsciiLower(s[d]);
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else
      break;
    v = v * 16 + static_cast<std::uint64_t>(digit);
    if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull + 1;  // stays past 32 bits
  }
  if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

// ---------------------------------------------------------------------------
// Action conversions

enum class NameRule { kContains, kBegins, kEquals, kFileOrFolder };

struct ActionConversion {
  NameRule rule;
  std::string_view old_name;
  std::string_view new_name;
  std::string_view add_options;  // added to `options` (after a comma when it holds something)
  std::string_view set_options;  // written to `options`
  std::string_view set_value1;   // written to `value1`
};

// Applied in this order, each to the name the rules before it left.
constexpr ActionConversion kActionConversions[] = {
    {NameRule::kContains, "Press Button/Control", "Child Control Action", {}, {}, {}},
    {NameRule::kContains, "Custom Message Box", "Custom Message", {}, {}, {}},
    {NameRule::kContains, "Math Calculation", "Math Functions", {}, {}, {}},
    {NameRule::kContains, "Send Email: \"mailto\"", "Send Email: mailto", {}, {}, {}},
    {NameRule::kContains, "Exit Corvinate", "Exit Olvex Studio", {}, {}, {}},
    {NameRule::kContains, "Wait for Window to Appear", "Wait for Window", {}, {}, "Appear"},
    {NameRule::kContains, "Wait for Window to Disappear", "Wait for Window", {}, {}, "Disappear"},
    {NameRule::kContains, "Wait for Mouse Click", "Wait for Mouse", {}, "Click", {}},
    {NameRule::kContains, "Wait for Mouse Movement", "Wait for Mouse", {}, "Move", {}},
    {NameRule::kContains, "Wait for Image to Appear", "Wait for Image", {}, {}, {}},
    {NameRule::kContains, "Activate Window", "Use Window", {}, {}, {}},
    {NameRule::kFileOrFolder, "Wait for File/Folder", {}, {}, {}, {}},
    {NameRule::kContains, "IF String", "IF Text", {}, {}, {}},
    {NameRule::kContains, "Clock Ticks to String", "Clock Ticks to Text", {}, {}, {}},
    {NameRule::kContains, "Left String", "Left Text String", {}, {}, {}},
    {NameRule::kContains, "Right String", "Right Text String", {}, {}, {}},
    {NameRule::kContains, "Mid String", "Mid Text String", {}, {}, {}},
    {NameRule::kBegins, "IF Process", "IF Process is Running", {}, {}, {}},
    {NameRule::kBegins, "Save Web Page Text", "Get Web Page Text", {}, {}, {}},
    {NameRule::kEquals, "Control Panel: System", "Control Panel", {}, {}, {}},
    {NameRule::kEquals, "Create/Set Variable", "Set Variable", {}, {}, {}},
    {NameRule::kEquals, "Uppercase", "Change Case", "Upper", {}, {}},
    {NameRule::kEquals, "Lowercase", "Change Case", "Lower", {}, {}},
    {NameRule::kEquals, "Buffered Virtual Keys", "Type", "Event Messages", {}, {}},
    {NameRule::kEquals, "Left Button Click", "Mouse Click", "Left,Down+Up", {}, {}},
    {NameRule::kEquals, "Right Button Click", "Mouse Click", "Right,Down+Up", {}, {}},
    {NameRule::kEquals, "Left Button Double-Click", "Mouse Click", "Left,Double-Click", {}, {}},
    {NameRule::kEquals, "Left Button Down + Hold", "Mouse Click", "Left,Down", {}, {}},
    {NameRule::kEquals, "Left Button Up", "Mouse Click", "Left,Up", {}, {}},
    {NameRule::kEquals, "Mouse Wheel Up", "Mouse Click", "Wheel Scroll,Up", {}, {}},
    {NameRule::kEquals, "Mouse Wheel Down", "Mouse Click", "Wheel Scroll,Down", {}, {}},
    {NameRule::kEquals, "Move Relative", "Move", {}, {}, {}},
    {NameRule::kEquals, "IF Pixel Color", "IF Pixel Equals", {}, {}, {}},
    {NameRule::kEquals, "Divide File", "Split File", {}, {}, {}},
    {NameRule::kEquals, "Win32 API", "Windows API", {}, {}, {}},
    {NameRule::kEquals, "WinAPI", "Windows API", {}, {}, {}},
    {NameRule::kEquals, "Post WM_COMMAND", "Send Command", {}, {}, {}},
    {NameRule::kEquals, "Choose from a List", "Select from List", {}, {}, {}},
    {NameRule::kEquals, "Choose a File", "Select File", {}, {}, {}},
    {NameRule::kEquals, "Choose a Folder", "Select Folder", {}, {}, {}},
    {NameRule::kEquals, "Choose a Drive", "Select Drive", {}, {}, {}},
    {NameRule::kEquals, "Choose Date", "Select Date", {}, {}, {}},
    {NameRule::kEquals, "Get Sub Text", "Extract Sub Data", {}, {}, {}},
    {NameRule::kEquals, "Extract Sub Data", "Get Sub String", {}, {}, {}},
    {NameRule::kEquals, "Sort Data", "Sort", {}, {}, {}},
    {NameRule::kEquals, "Sort Text", "Sort", {}, {}, {}},
    {NameRule::kEquals, "Sort", "Sort", {}, {}, {}},
    {NameRule::kEquals, "Binary Function", "Binary Data", {}, {}, {}},
    {NameRule::kEquals, "Video Display Mode", "Change Display Settings", {}, {}, {}},
    {NameRule::kEquals, "Format Cell", "Set Cell Format", {}, {}, {}},
    {NameRule::kEquals, "Count Sub String", "Count Items", {}, {}, {}},
    {NameRule::kEquals, "Count String", "Count Items", {}, {}, {}},
    {NameRule::kEquals, "Mid Text String", "Mid String", {}, {}, {}},
    {NameRule::kEquals, "Replace Text", "Replace", {}, {}, {}},
    {NameRule::kEquals, "Replace String", "Replace", {}, {}, {}},
    {NameRule::kEquals, "Insert Text", "Insert", {}, {}, {}},
    {NameRule::kEquals, "Insert String", "Insert", {}, {}, {}},
    {NameRule::kEquals, "Find String", "Find", {}, {}, {}},
    {NameRule::kEquals, "Window Image Capture", "Image Capture", {}, {}, {}},
    {NameRule::kEquals, "Screen Image Capture", "Image Capture", {}, {}, {}},
    {NameRule::kEquals, "IF Connected to Internet", "IF Internet", {}, {}, {}},
};

bool NameMatches(NameRule rule, std::string_view name, std::string_view old_name) {
  switch (rule) {
    case NameRule::kContains:
    case NameRule::kFileOrFolder: return ContainsNoCase(name, old_name);
    case NameRule::kBegins: return StartsWithNoCase(name, old_name);
    case NameRule::kEquals: return EqualsNoCase(name, old_name);
  }
  return false;
}

void AddOption(std::string& options, std::string_view word) {
  if (!options.empty()) options += ',';
  options += word;
  if (options.size() > kFieldMax) options.resize(kFieldMax);
}

// ---------------------------------------------------------------------------
// The text-function family: names that the catalog does not hold.

struct TextFunction {
  std::string_view name;
  int action_id;
  bool sets_grid_column;
};
constexpr TextFunction kTextFunctions[] = {
    {"Change Case", 181, true},     {"Trim", 181, true},           {"Contains", 181, true},
    {"Pad Text", 181, true},        {"Find Text", 181, true},      {"Left Text String", 181, true},
    {"Right Text String", 181, true}, {"Format Number", 182, true}, {"Random Number", 182, true},
    {"Number to Words", 182, true}, {"Date Add", 178, false},      {"Date Difference", 178, false},
    {"Time Add", 178, false},       {"Time Difference", 178, false}, {"Clock Ticks to Text", 178, false},
    {"Get Weekday", 178, false},
};
constexpr std::string_view kOutputWords[] = {
    "Trim", "Pad", "Change Case", "Find Text", "Left Text", "Right Text", "Date Add", "Date Difference",
    "Time Add", "Time Difference", "Clock Ticks", "Get Weekday", "Format Number", "Random Number", "Number to Words",
};

// ---------------------------------------------------------------------------
// Option conversions

struct Rewrite {
  std::string_view from, to;
};
constexpr Rewrite kTypeOptionRewrites[] = {
    {"Normal Mode", "Let Olvex decide"},
    {"Always use ASCII codes", "Use ASCII mode"},
    {"Use ASCII mode", "Simulated Keypress (ASCII)"},
    {"Always use ANSI codes", "Use ANSI mode"},
    {"Use ANSI mode", "Simulated Keypress (ANSI)"},
    {"Never use any codes", "Use OEM (7-bit) mode"},
    {"Use OEM (7-bit) mode", "Simulated Keypress (OEM 7-bit)"},
};
constexpr Rewrite kOsOptionRewrites[] = {
    {"OS Description", "Description"},   {"OS Major Version", "Major Version"},
    {"OS Minor Version", "Minor Version"}, {"OS Major.Minor Version", "Version"},
    {"OS Build Number", "Build Number"}, {"OS Service Packs", "Service Packs"},
};

// "{step_actionN}" becomes "{step[N].action}".
void ConvertStepActionVariables(std::string& s, std::size_t max) {
  constexpr std::string_view kOld = "{step_action";
  std::size_t at = FindNoCase(s, kOld);
  if (at == std::string::npos) return;
  std::string out;
  std::size_t done = 0;
  for (; at != std::string::npos; at = FindNoCase(s, kOld, at)) {
    const std::size_t d = at + kOld.size();
    std::size_t digits_end = d;
    while (digits_end < s.size() && s[digits_end] >= '0' && s[digits_end] <= '9') ++digits_end;
    if (digits_end == d || digits_end >= s.size() || s[digits_end] != '}') {
      at = d;
      continue;
    }
    out.append(s, done, at - done);
    out += "{step[" + std::to_string(FirstNumber(std::string_view(s).substr(d, digits_end - d))) + "].action}";
    done = at = digits_end + 1;
  }
  out.append(s, done, std::string::npos);
  s.swap(out);
  if (s.size() > max) s.resize(max);
}

// ---------------------------------------------------------------------------
// What an action name decides, worked out once per distinct name of a parse.

enum ActionFlag : std::uint32_t {
  kIsIfText = 1u << 0,
  kIsType = 1u << 1,
  kIsWaitForWindow = 1u << 2,
  kIsSqlQuery = 1u << 3,
  kIsChop = 1u << 4,
  kIsBasic = 1u << 5,
  kIsImageAction = 1u << 6,
  kIsSettingChange = 1u << 7,
  kIsComputerInfo = 1u << 8,
  kIsOsDetails = 1u << 9,
  kIsGetCell = 1u << 10,
  kIsSetCellFormat = 1u << 11,
  kSkipsDefaultOutput = 1u << 12,
};

std::uint32_t FlagsOf(std::string_view a) {
  std::uint32_t f = 0;
  if (EqualsNoCase(a, "IF Text")) f |= kIsIfText;
  if (EqualsNoCase(a, "Type")) f |= kIsType;
  if (EqualsNoCase(a, "Wait for Window")) f |= kIsWaitForWindow;
  if (EqualsNoCase(a, "Execute SQL Query")) f |= kIsSqlQuery;
  if (EqualsNoCase(a, "Chop")) f |= kIsChop;
  if (ContainsNoCase(a, "BASIC ")) f |= kIsBasic;
  if (EqualsNoCase(a, "Move to Image") || EqualsNoCase(a, "Click on Image") || EqualsNoCase(a, "Wait for Image") ||
      EqualsNoCase(a, "IF Image is Visible"))
    f |= kIsImageAction;
  if (EqualsNoCase(a, "Olvex Setting Change")) f |= kIsSettingChange;
  if (EqualsNoCase(a, "Get Computer Information")) f |= kIsComputerInfo;
  if (EqualsNoCase(a, "Operating System Details")) f |= kIsOsDetails;
  if (EqualsNoCase(a, "Get Cell")) f |= kIsGetCell;
  if (EqualsNoCase(a, "Set Cell Format")) f |= kIsSetCellFormat;
  // Steps that choose their own output destination.
  if (EqualsNoCase(a, "Use Window") || (ContainsNoCase(a, "Start") && ContainsNoCase(a, "Loop")) ||
      EqualsNoCase(a, "Call DLL Function") || EqualsNoCase(a, "Call Script") || EqualsNoCase(a, "Move to Image") ||
      EqualsNoCase(a, "Click on Image") || ContainsNoCase(a, "Wait for ") || ContainsNoCase(a, "IF ") ||
      EqualsNoCase(a, "Windows API"))
    f |= kSkipsDefaultOutput;
  return f;
}

struct ActionProfile {
  std::string action;   // the name after the conversions
  std::string options;  // what the conversions wrote into `options`
  std::string value1;   // ... and into `value1`
  int category = 0;
  int action_id = 0;
  int grid_text_column = 0;
  bool saves_output = false;
  bool can_fail = false;
  std::uint32_t flags = 0;
  bool depends_on_text = false;  // the File/Folder rule chose by the step's text
};

// Conversions, catalog lookup and the text-function rule for the name `raw`.
// `text` is the step's text, which the File/Folder rule tests as written
// (variables are not expanded at load time).
ActionProfile BuildProfile(std::string_view raw, const std::string& text) {
  ActionProfile p;
  p.action.assign(raw);
  for (const ActionConversion& c : kActionConversions) {
    if (!NameMatches(c.rule, p.action, c.old_name)) continue;
    if (c.rule == NameRule::kFileOrFolder) {
      p.depends_on_text = true;
      p.action = platform::IsFolder(text) ? "Wait for Folder" : "Wait for File";
    } else {
      p.action.assign(c.new_name);
    }
    if (!c.add_options.empty()) AddOption(p.options, c.add_options);
    if (!c.set_options.empty()) p.options.assign(c.set_options);
    if (!c.set_value1.empty()) p.value1.assign(c.set_value1);
  }
  if (const Catalog* catalog = ProgramCatalog()) {
    if (const CatalogEntry* e = catalog->Find(p.action)) {
      p.category = e->category;
      p.action_id = e->action_id;
      p.grid_text_column = e->grid_text_column;
      p.saves_output = e->saves_output;
      p.can_fail = e->can_fail;
    }
  }
  for (const TextFunction& f : kTextFunctions) {
    if (!EqualsNoCase(p.action, f.name)) continue;
    p.category = 12;
    p.action_id = f.action_id;
    if (f.sets_grid_column) p.grid_text_column = 1;
    break;
  }
  for (std::string_view word : kOutputWords)
    if (ContainsNoCase(p.action, word)) {
      p.saves_output = true;
      break;
    }
  p.flags = FlagsOf(p.action);
  return p;
}

struct ExactHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// Profiles of the names met so far in one parse.
class ProfileCache {
 public:
  const ActionProfile& Get(const std::string& raw, const std::string& text) {
    auto it = profiles_.find(std::string_view(raw));
    if (it != profiles_.end() && !it->second.depends_on_text) return it->second;
    scratch_ = BuildProfile(raw, text);
    if (it == profiles_.end() && profiles_.size() < kMaxNames) profiles_.emplace(raw, scratch_);
    return scratch_;
  }

 private:
  static constexpr std::size_t kMaxNames = 4096;
  std::unordered_map<std::string, ActionProfile, ExactHash, std::equal_to<>> profiles_;
  ActionProfile scratch_;
};

// ---------------------------------------------------------------------------
// Option conversions

void ConvertGetComputerInformation(Step& step) {
  std::string& o = step.options;
  step.category = 15;
  if (ContainsNoCase(o, "OS")) {
    step.action = "Operating System Details";
    step.action_id = 29;
  }
  if (ContainsNoCase(o, "Memory")) {
    step.action = "Memory Details";
    step.action_id = 199;
    if (ContainsNoCase(o, "Total Memory (MB)"))
      o = "Total Memory,Megabyte (MB)";
    else if (ContainsNoCase(o, "Total Memory"))
      o = "Total Memory";
    else if (ContainsNoCase(o, "Free Memory (MB)"))
      o = "Free Memory,Megabyte (MB)";
    else if (ContainsNoCase(o, "Free Memory"))
      o = "Free Memory";
  } else if (ContainsNoCase(o, "Monitor")) {
    step.action = "Video Details";
    step.action_id = 78;
    o = "Number of Monitors";
  } else if (ContainsNoCase(o, "Color Depth")) {
    step.action = "Video Details";
    step.action_id = 78;
    o = "Color Depth";
  } else if (ContainsNoCase(o, "Computer Name")) {
    step.action = "Operating System Details";
    step.action_id = 29;
    o = "Computer Name";
  }
}

// The option word "Snap" (not "Snap to Position" already) becomes "Snap to Position".
void ConvertSnap(std::string& o) {
  std::string out;
  std::size_t start = 0;
  while (start <= o.size()) {
    std::size_t comma = o.find(',', start);
    if (comma == std::string::npos) comma = o.size();
    const std::string_view word = std::string_view(o).substr(start, comma - start);
    std::string_view trimmed = word;
    while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
    if (start) out += ',';
    out += EqualsNoCase(trimmed, "Snap") ? std::string_view("Snap to Position") : word;
    start = comma + 1;
  }
  Assign(o, out, kFieldMax);
}

// Replaces text in an out-of-line field.
void ReplaceInField(Step& step, StepField f, std::string_view from, std::string_view to) {
  if (!ContainsNoCase(step.field(f), from)) return;
  std::string v(step.field(f));
  ReplaceAllNoCase(v, from, to);
  step.set_field(f, v);
}

void ConvertOptions(Step& step, std::uint32_t flags) {
  std::string& o = step.options;
  if (flags & kIsIfText) {
    if (ContainsNoCase(o, "Contains Any") && !ContainsNoCase(o, "Characters"))
      ReplaceAllNoCase(o, "Contains Any", "Contains Any Characters from List", kFieldMax);
    if (ContainsNoCase(o, "Contains Only") && !ContainsNoCase(o, "Characters"))
      ReplaceAllNoCase(o, "Contains Only", "Contains Only Characters from List", kFieldMax);
  }
  if (flags & kIsType) {
    for (const Rewrite& r : kTypeOptionRewrites) ReplaceAllNoCase(o, r.from, r.to, kFieldMax);
    ReplaceAllNoCase(step.text, "{WinKey}", "{WinKeyDown}{WinKeyUp}");
  }
  if (flags & kIsWaitForWindow) {
    ReplaceInField(step, ValueField(1), "Disappear", "Close");
    ReplaceInField(step, ValueField(1), "Appear", "Open");
  }
  if (step.category == 6 && ContainsNoCase(o, "Snap")) ConvertSnap(o);
  if (flags & kIsSqlQuery) ReplaceAllNoCase(o, "ColumnsNames", "ColumnNames", kFieldMax);
  if (flags & kIsChop) {
    ReplaceAllNoCase(o, "Chop Everything After", "Chop After and Including", kFieldMax);
    ReplaceAllNoCase(o, "Chop Everything Before", "Chop Before", kFieldMax);
  }
  if (flags & kIsBasic) step.category = 16;
  if ((flags & kIsImageAction) || ContainsNoCase(o, "Image (Graphic)")) {
    if (ContainsNoCase(o, "Slow") && !ContainsNoCase(o, "Slow Pixel Scan"))
      ReplaceAllNoCase(o, "Slow", "Slow Pixel Scan", kFieldMax);
  }
  if (flags & kIsSettingChange) {
    if (EqualsNoCase(o, "OFF"))
      o = "Off (0)";
    else if (EqualsNoCase(o, "ON"))
      o = "On (1)";
  }
  bool os_details = (flags & kIsOsDetails) != 0;
  if (flags & kIsComputerInfo) {
    ConvertGetComputerInformation(step);
    os_details = EqualsNoCase(step.action, "Operating System Details");
  }
  if (os_details && ContainsNoCase(o, "OS"))
    for (const Rewrite& r : kOsOptionRewrites) ReplaceAllNoCase(o, r.from, r.to, kFieldMax);
  if (flags & kIsGetCell) {
    ReplaceAllNoCase(o, "Get Data", "");
    if (ContainsNoCase(o, "Get Formatting")) {
      step.action = "Get Cell Format";
      step.action_id = 215;
      o = "Data Format";
    }
  }
  if (flags & kIsSetCellFormat) ReplaceInField(step, ValueField(3), "Cell Formatting", "Data Format");
  ConvertStepActionVariables(step.text, std::string::npos);
  if (ContainsNoCase(step.fail_option(), "{step_action")) {
    std::string v(step.fail_option());
    ConvertStepActionVariables(v, kFieldMax);
    step.set_fail_option(v);
  }
  if (step.category == 11) ReplaceAllNoCase(o, "Full Tag Source", "Raw Inner Tag", kFieldMax);
}

// One leading and one trailing comma go; ",," and double spaces collapse.
void TidyOptions(std::string& o) {
  if (!o.empty() && o.front() == ',') o.erase(0, 1);
  if (!o.empty() && o.back() == ',') o.pop_back();
  bool doubled = false;
  for (std::size_t i = 1; i < o.size() && !doubled; ++i) doubled = o[i] == o[i - 1] && (o[i] == ',' || o[i] == ' ');
  if (!doubled) return;
  std::string out;
  out.reserve(o.size());
  for (char c : o) {
    if ((c == ',' || c == ' ') && !out.empty() && out.back() == c) continue;
    out.push_back(c);
  }
  o.swap(out);
}

// ---------------------------------------------------------------------------
// Settings a parse reads, each once.

struct TextPair {
  std::string first, second;
};

class ParseSettings {
 public:
  // The default output, or nothing when it is unset or "(do not save)".
  const TextPair* DefaultOutput() {
    if (!output_read_) {
      output_read_ = true;
      std::string to = ReadSettingString("*\\DefaultOutputTo", kShortFieldMax);
      if (!to.empty() && !EqualsNoCase(to, "(do not save)"))
        output_ = TextPair{std::move(to), ReadSettingString("*\\DefaultOutputTo_Option", kFieldMax)};
    }
    return output_ ? &*output_ : nullptr;
  }
  const TextPair& DefaultFailure() {
    if (!failure_)
      failure_ = TextPair{ReadSettingString("*\\DefaultFailureMode", kShortFieldMax),
                          ReadSettingString("*\\DefaultFailureMode_Option", kFieldMax)};
    return *failure_;
  }

 private:
  bool output_read_ = false;
  std::optional<TextPair> output_;
  std::optional<TextPair> failure_;
};

bool OpensBlock(std::string_view a) {
  return StartsWithNoCase(a, "IF ") || ContainsNoCase(a, "Quick") || EqualsNoCase(a, "ELSE") ||
         (StartsWithNoCase(a, "Start ") && ContainsNoCase(a, " Loop"));
}
bool ClosesBlock(std::string_view a) {
  return EqualsNoCase(a, "END IF") || EqualsNoCase(a, "NEXT LOOP") || EqualsNoCase(a, "ELSE");
}

// Reads one step into `step`; returns its profile's flags through `flags`.
// False when its action is empty.
bool ParseStep(std::string_view source, Step& step, ProfileCache& profiles, std::uint32_t& flags) {
  const StepTags tags(source);
  tags.Read(kTagAction, step.action, kShortFieldMax);
  TrimSpaces(step.action);
  if (step.action.empty()) return false;
  tags.Read(tags.Has(kTagRecording) ? kTagRecording : kTagText, step.text);

  const ActionProfile& p = profiles.Get(step.action, step.text);
  if (p.action != step.action) step.action = p.action;
  step.category = p.category;
  step.action_id = p.action_id;
  step.grid_text_column = p.grid_text_column;
  step.saves_output = p.saves_output;
  step.can_fail = p.can_fail;
  flags = p.flags;
  step.options = p.options;

  std::size_t extras = (p.value1.empty() ? 0 : 1) + (tags.Has(kTagOutput) ? 2 : 0) + (tags.Has(kTagOnfail) ? 2 : 0);
  for (int t : {kTagData, kTagTimeout, kTagCustom}) extras += tags.Has(t) ? 1 : 0;
  for (int n = 0; n < 8; ++n) extras += (tags.Has(kTagEmbedded1 + n) ? 1 : 0) + (tags.Has(kTagValue1 + n) ? 1 : 0);
  if (extras) step.ReserveExtras(extras);
  if (!p.value1.empty()) step.set_value(1, p.value1);

  std::string v;
  auto read_field = [&](int tag, StepField f) {
    if (!tags.Has(tag)) return;
    tags.Read(tag, v, FieldLimit(f));
    step.take_field(f, std::move(v));
    if (tags.Content(tag).size() > FieldLimit(f)) step.note_cut(f);
  };
  tags.Read(kTagComment, step.comment);
  if (step.options.empty()) tags.Read(kTagOptions, step.options, kFieldMax);
  read_field(kTagData, StepField::kData);
  read_field(kTagTimeout, StepField::kTimeout);
  if (tags.Has(kTagStatus)) {
    tags.Read(kTagStatus, v, kFieldMax);
    step.run_status = HexStatus(v);
  }
  step.indents = tags.Number(kTagIndents);
  read_field(kTagCustom, StepField::kCustom);
  for (int n = 1; n <= 8; ++n)
    if (tags.Has(kTagEmbedded1 + n - 1)) step.set_embedded_id(n, tags.Number(kTagEmbedded1 + n - 1));
  for (int n = 1; n <= 8; ++n)
    if (step.value(n).empty()) read_field(kTagValue1 + n - 1, ValueField(n));
  if (tags.Has(kTagOutput)) {
    read_field(kTagOutput, StepField::kOutput);
    step.take_field(StepField::kOutputOption, tags.Attribute(kTagOutput, "value"));
  }
  if (tags.Has(kTagOnfail)) {
    read_field(kTagOnfail, StepField::kFailMode);
    step.take_field(StepField::kFailOption, tags.Attribute(kTagOnfail, "value"));
    step.fail_snapshot = FirstNumber(tags.Attribute(kTagOnfail, "image"));
    step.fail_log = FirstNumber(tags.Attribute(kTagOnfail, "log"));
  }
  return true;
}

// A variable destination gets its '%' (a '{' destination is a memory slot).
bool WantsPercent(std::string_view mode, std::string_view option) {
  return !option.empty() && option[0] != '%' && option[0] != '{' && ContainsNoCase(mode, "Variable");
}
bool HasOuterSpace(const std::string& s) { return !s.empty() && (s.front() == ' ' || s.back() == ' '); }

// The post-load pass over one step; a second pass changes nothing.
void FixUpStep(Step& step) {
  if (EqualsNoCase(step.action, "Label")) TrimSpaces(step.text);
  if (HasOuterSpace(step.output()) || HasOuterSpace(step.output_option()) ||
      WantsPercent(step.output(), step.output_option())) {
    std::string output(step.output()), option(step.output_option());
    TrimSpaces(output);
    TrimSpaces(option);
    if (WantsPercent(output, option)) option.insert(0, 1, '%');
    step.take_field(StepField::kOutput, std::move(output));
    step.take_field(StepField::kOutputOption, std::move(option));
  }
  if (WantsPercent(step.fail_mode(), step.fail_option())) {
    std::string option(1, '%');
    option += step.fail_option();
    step.take_field(StepField::kFailOption, std::move(option));
  }
}

// Default output and failure settings, option conversions and tidying, then
// the post-load pass.
void FinishStep(Step& step, std::uint32_t flags, ParseSettings& settings) {
  if (step.saves_output && !(flags & kSkipsDefaultOutput) && step.output().empty()) {
    if (const TextPair* d = settings.DefaultOutput()) {
      step.set_output(d->first);
      step.set_output_option(d->second);
    }
  }
  if (step.can_fail && step.fail_mode().empty()) {
    const TextPair& d = settings.DefaultFailure();
    step.set_fail_mode(d.first);
    step.set_fail_option(d.second);
  }
  ConvertOptions(step, flags);
  TidyOptions(step.options);
  FixUpStep(step);
}

// Position of the next "<!--" at or after `from`, or npos. Looks for the rare
// '!' rather than the many '<'.
std::size_t FindCommentOpen(std::string_view text, std::size_t from) {
  for (std::size_t bang = text.find('!', from + 1); bang != npos; bang = text.find('!', bang + 1))
    if (text[bang - 1] == '<' && text.substr(bang + 1, 2) == "--") return bang - 1;
  return npos;
}

// Deletes every "<!--" .. "-->" (to the end when unclosed), in place.
void RemoveComments(std::string& text) {
  std::size_t open = FindCommentOpen(text, 0);
  if (open == npos) return;
  std::size_t write = open;
  std::size_t read = open;
  while (read < text.size()) {
    open = FindCommentOpen(text, read);
    const std::size_t keep_end = open == npos ? text.size() : open;
    if (write != read) std::memmove(text.data() + write, text.data() + read, keep_end - read);
    write += keep_end - read;
    if (open == npos) break;
    const std::size_t close = text.find("-->", open + 4);
    read = close == npos ? text.size() : close + 3;
  }
  text.resize(write);
}

// The steps of a text: each from its "<step" to its "</step" (or the text's
// end for a last step left open). A "<step" followed by another "<step" before
// any "</step" is dropped. Also tells whether the text holds "<action".
struct StepRange {
  std::size_t begin, end;
};
struct StepRanges {
  std::vector<StepRange> ranges;
  bool has_action = false;
};
StepRanges FindSteps(std::string_view text) {
  StepRanges found;
  std::size_t pending = npos;
  const std::size_t n = text.size();
  // Every "<step" and "</step" has its 'p' four or five bytes after the '<';
  // a 'p' is much rarer than a '<'.
  for (std::size_t p = FindByte(text, 4, 'p', 0x20); p < n; p = FindByte(text, p + 1, 'p', 0x20)) {
    if (!BeginsWithLower(text.substr(p - 3, 3), "ste")) continue;
    if (text[p - 4] == '<') {
      pending = p - 4;  // an earlier pending one had no close before this: dropped
    } else if (p >= 5 && text[p - 4] == '/' && text[p - 5] == '<') {
      if (pending != npos) found.ranges.push_back({pending, p - 5});
      pending = npos;
    }
  }
  if (pending != npos) found.ranges.push_back({pending, n});
  found.has_action = !found.ranges.empty() && FindNoCase(text, "<action") != npos;
  return found;
}

std::uint32_t SourceFlags(std::string_view text) {
  const std::size_t step = FindNoCase(text, "step>");
  if (step == npos) return 0;
  const std::size_t brk = text.find_first_of("\r\n", step + 5);
  if (brk == npos) return 0;
  std::uint32_t flags;
  if (text[brk] == '\n')
    flags = kSourceLf;
  else
    flags = (brk + 1 < text.size() && text[brk + 1] == '\n') ? kSourceCrLf : kSourceCr;
  std::size_t p = brk;
  while (p < text.size() && (text[p] == '\r' || text[p] == '\n')) ++p;
  if (p < text.size() && text[p] == '\t') flags |= kSourceTab;
  std::uint32_t indent = 0;
  while (p < text.size() && (text[p] == ' ' || text[p] == '\t') && indent < 32) {
    ++indent;
    ++p;
  }
  return flags | indent;
}

// An executable that may carry a script: a Windows image, or the native
// runtime on Linux (an ELF image), which carries its script appended.
bool IsExecutableImage(std::string_view data) {
  return data.starts_with("MZ") || data.starts_with("\x7f" "ELF");
}

}  // namespace

// ---------------------------------------------------------------------------

void DecodeEntitiesInto(std::string_view text, std::string& out) {
  out.clear();
  std::size_t amp = FindByte(text, 0, '&');
  if (amp == text.size()) {
    out.assign(text);
    return;
  }
  out.reserve(text.size());
  std::size_t i = 0;
  while (amp != npos) {
    out.append(text.substr(i, amp - i));
    const std::string_view tail = text.substr(amp + 1);
    std::size_t used = 1;  // the '&' alone, when nothing matches
    char decoded = '&';
    std::size_t amp_code = 0;
    if (tail.substr(0, 4) == "amp;")
      amp_code = 4;
    else if (tail.substr(0, 5) == "#038;")
      amp_code = 5;
    if (amp_code) {
      used = 1 + amp_code;
      // The '&' just decoded may begin an entity of a later round.
      if (const Entity* e = LaterEntityAt(tail.substr(amp_code))) {
        decoded = e->decoded;
        used += e->code.size();
      }
    } else if (const Entity* e = LaterEntityAt(tail)) {
      decoded = e->decoded;
      used = 1 + e->code.size();
    }
    out.push_back(decoded);
    i = amp + used;
    amp = text.find('&', i);
  }
  out.append(text.substr(i));
}

std::string DecodeEntities(std::string_view text) {
  std::string out;
  DecodeEntitiesInto(text, out);
  return out;
}

ExtractedTag ExtractTag(std::string_view source, std::string_view tag, std::ptrdiff_t max_len,
                        std::span<TagAttribute> attributes) {
  ExtractedTag result;
  for (TagAttribute& a : attributes) {
    a.found = false;
    a.value.clear();
  }
  if (tag.empty()) return result;
  std::string open_key(1, '<');
  open_key += tag;
  const std::size_t open = FindNoCase(source, open_key);
  if (open == npos) return result;
  const TagSpan span = SpanFrom(source, open, tag.size(), tag);
  const std::string_view content = ContentOf(source, span);
  result.found = true;
  result.length = content.size();
  if (max_len < 0) return result;
  DecodeEntitiesInto(content.substr(0, static_cast<std::size_t>(max_len)), result.content);
  result.number = FirstNumber(result.content);
  const std::string_view opening = OpeningOf(source, span);
  for (TagAttribute& a : attributes) {
    if (a.name.empty()) continue;
    if (auto raw = AttributeIn(opening, a.name)) {
      a.found = true;
      DecodeEntitiesInto(raw->substr(0, kFieldMax), a.value);
    }
  }
  return result;
}

// ---------------------------------------------------------------------------
// Step

namespace {
const std::string kEmpty;
}

std::size_t FieldLimit(StepField field) {
  return (field == StepField::kOutput || field == StepField::kFailMode) ? kShortFieldMax : kFieldMax;
}

StepExtra* Step::Find(StepField f) {
  for (StepExtra& e : extras_)
    if (e.field == f) return &e;
  return nullptr;
}

const std::string& Step::field(StepField f) const {
  for (const StepExtra& e : extras_)
    if (e.field == f) return e.text;
  return kEmpty;
}

void Step::set_field(StepField f, std::string_view v) {
  take_field(f, std::string(v.substr(0, FieldLimit(f) + 1)));  // one more: a cut is noted
}

void Step::take_field(StepField f, std::string&& v) {
  const std::uint32_t bit = 1u << static_cast<int>(f);
  cut_fields_ = v.size() > FieldLimit(f) ? cut_fields_ | bit : cut_fields_ & ~bit;
  if (v.size() > FieldLimit(f)) v.resize(FieldLimit(f));
  StepExtra* e = Find(f);
  if (v.empty()) {
    if (e) extras_.erase(extras_.begin() + (e - extras_.data()));
    return;
  }
  if (!e) {
    e = &extras_.emplace_back();
    e->field = f;
  }
  e->text = std::move(v);
}

const std::string& Step::value(int n) const {
  return (n >= 1 && n <= 8) ? field(ValueField(n)) : kEmpty;
}
void Step::set_value(int n, std::string_view v) {
  if (n >= 1 && n <= 8) set_field(ValueField(n), v);
}

int Step::embedded_id(int n) const {
  if (n < 1 || n > 8) return 0;
  const auto f = EmbeddedIdField(n);
  for (const StepExtra& e : extras_)
    if (e.field == f) return e.number;
  return 0;
}
void Step::set_embedded_id(int n, int id) {
  if (n < 1 || n > 8) return;
  const auto f = EmbeddedIdField(n);
  StepExtra* e = Find(f);
  if (id == 0) {
    if (e) extras_.erase(extras_.begin() + (e - extras_.data()));
    return;
  }
  if (!e) {
    e = &extras_.emplace_back();
    e->field = f;
  }
  e->number = id;
}

// ---------------------------------------------------------------------------
// Documents

bool ScriptDocument::IsFree() const { return !in_use && (file_name.empty() || EqualsNoCase(file_name, "Untitled")); }

void ScriptDocument::Clear() {
  file_name.clear();
  preamble.clear();
  source_flags = 0;
  std::vector<Step>().swap(steps);
}

ScriptDocument& Document(int slot) { return g_documents.at(static_cast<std::size_t>(slot)); }

bool IsRootedPath(std::string_view path) {
  return (!path.empty() && (path[0] == '\\' || path[0] == '/')) || (path.size() >= 2 && path[1] == ':');
}

std::string ScriptRelativePath(int slot, const std::string& path) {
  if (path.empty() || IsRootedPath(path)) return path;
  const std::string& script = Document(slot).file_name;
  const std::size_t cut = script.find_last_of("\\/");
  return cut == std::string::npos ? path : script.substr(0, cut + 1) + path;
}

std::string ScriptFolder(int slot) {
  const std::string& script = Document(slot).file_name;
  const std::size_t cut = script.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : script.substr(0, cut);
}

int FirstFreeDocument() {
  for (int i = 0; i < kMaxDocuments; ++i)
    if (g_documents[static_cast<std::size_t>(i)].IsFree()) return i;
  return -1;
}

void CloseDocument(int slot) {
  if (slot >= 0 && slot < kMaxDocuments) {
    g_documents[static_cast<std::size_t>(slot)].Clear();
    g_documents[static_cast<std::size_t>(slot)].in_use = false;
  }
}

void CloseAllDocuments() {
  for (int i = 0; i < kMaxDocuments; ++i) CloseDocument(i);
}

void SetFileReaderForTest(FileReader reader) { g_file_reader.store(reader); }

ParseResult ParseSteps(std::string text, int slot, int insert_at, int flags) {
  ParseResult result;
  if (slot < 0 || slot >= kMaxDocuments) return result;
  ScriptDocument& doc = g_documents[static_cast<std::size_t>(slot)];
  std::vector<StepRange> ranges;
  std::vector<Step> parsed;
  try {
    RemoveComments(text);
    StepRanges found = FindSteps(text);
    if (found.ranges.empty() || !found.has_action) return result;
    ranges = std::move(found.ranges);
    if (ranges.size() > kMaxSteps || doc.steps.size() + ranges.size() > kMaxSteps) {
      ShowErrorBox("Internal Memory Error (step count)");
      result.status = ParseStatus::StepCountError;
      return result;
    }
    parsed.reserve(ranges.size());
  } catch (const std::bad_alloc&) {
    ShowErrorBox("Internal Memory Error (step count)");
    result.status = ParseStatus::StepCountError;
    return result;
  }

  ParseSettings settings;
  ProfileCache profiles;
  const bool derive_indents = flags != 0 && ReadSettingNumber("*\\Palettes\\MainList\\IndentNewColumns") != 0;
  result.status = ParseStatus::Parsed;
  int empty_at = 0;
  try {
    const std::string_view all(text);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
      const std::size_t length = std::min(ranges[i].end - ranges[i].begin, kStepTextMax);
      Step& step = parsed.emplace_back();
      std::uint32_t action_flags = 0;
      if (!ParseStep(all.substr(ranges[i].begin, length), step, profiles, action_flags)) {
        parsed.pop_back();
        empty_at = static_cast<int>(i) + 1;
        break;
      }
      if (derive_indents && parsed.size() > 1) {
        const Step& previous = parsed[parsed.size() - 2];
        int indent = previous.indents + (OpensBlock(previous.action) ? 1 : 0);
        if (ClosesBlock(step.action)) indent = std::max(0, indent - 1);
        step.indents = indent;
      }
      FinishStep(step, action_flags, settings);
    }
  } catch (const std::bad_alloc&) {
    ShowErrorBox("Internal Memory Error");
    result.status = ParseStatus::MemoryError;
    return result;
  }
  // The text is no longer needed: give its memory back before the steps move in.
  std::string().swap(text);

  const bool had_steps = !doc.steps.empty();
  try {
    const std::size_t count = doc.steps.size();
    const std::size_t at = insert_at < 0 ? count : std::min<std::size_t>(static_cast<std::size_t>(insert_at), count);
    if (doc.steps.empty()) {
      doc.steps = std::move(parsed);
    } else {
      doc.steps.insert(doc.steps.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(parsed.begin()),
                       std::make_move_iterator(parsed.end()));
    }
  } catch (const std::bad_alloc&) {
    ShowErrorBox("Internal Memory Error (step count)");
    result.status = ParseStatus::StepCountError;
    return result;
  }
  result.added = empty_at ? empty_at - 1 : static_cast<int>(ranges.size());
  if (empty_at) {
    result.status = ParseStatus::StoppedAtEmptyAction;
    const std::string n = std::to_string(empty_at);
    const std::string good = std::to_string(std::max(1, empty_at - 1));
    ShowErrorBox("Empty <action> tag in step #" + n + "\n\nDiscontinuing file load at step #" + good);
  }
  // The new steps had the post-load pass one by one; the others get it now.
  if (had_steps) FixUpDocument(slot);
  return result;
}

void FixUpDocument(int slot) {
  if (slot < 0 || slot >= kMaxDocuments) return;
  for (Step& step : g_documents[static_cast<std::size_t>(slot)].steps) FixUpStep(step);
}

int LoadDocument(const std::string& path, int slot) {
  if (slot < 0) slot = FirstFreeDocument();
  if (slot < 0 || slot >= kMaxDocuments) {
    ShowWarningBox("A maximum of " + std::to_string(kMaxDocuments) +
                   " files may be opened in Olvex.\n\nPlease close a file before opening another one.");
    return 0;
  }
  ScriptDocument& doc = g_documents[static_cast<std::size_t>(slot)];
  doc.Clear();
  try {
    const FileReader reader = g_file_reader.load();
    platform::FileContent file = reader ? reader(path) : platform::ReadWholeFile(path);
    switch (file.status) {
      case platform::ReadStatus::Ok: break;
      case platform::ReadStatus::NotFound:
        ShowErrorBox(Format("Unable to open file '%s'\n\nFile does not exist", path));
        return 0;
      case platform::ReadStatus::OpenFailed:
        ShowErrorBox(Format(
            "Unable to open file '%s'!\n\nPlease verify that the file is not open in another program.", path));
        return 0;
      case platform::ReadStatus::TooLarge:  // the loader sets no limit
      case platform::ReadStatus::OutOfMemory: ShowErrorBox("Out of memory"); return 0;
      case platform::ReadStatus::ReadFailed: ShowErrorBox("Unable to read file"); return 0;
    }
    if (file.data.empty()) {
      Assign(doc.file_name, path, kFileNameMax);
      return 1;
    }

    std::string text;
    std::string preamble;
    if (IsExecutableImage(file.data)) {
      std::optional<std::string> block = ExtractCarriedScript(path, file.data);
      std::string().swap(file.data);
      if (block) text = Decompress(*block);
      if (text.empty()) {
        ShowErrorBox(Format("Unable to read \"%s\"", path));
        return 0;
      }
    } else {
      text = std::move(file.data);
      // The magic tag that comes first; the second is looked for only before the first.
      std::size_t magic = text.find("<Olvex");
      magic = std::min(magic, std::string_view(text).substr(0, magic).find("<Corvinate"));
      if (magic != std::string::npos) preamble = text.substr(0, std::min(magic, kPreambleMax));
    }
    if (!ContainsNoCase(text, "<action") && !ContainsNoCase(text, "<Olvex") && !ContainsNoCase(text, "<Corvinate")) {
      ShowErrorBox(Format("\"%s\" does not appear to contain Olvex actions", path), path);
      return 0;
    }
    doc.source_flags = SourceFlags(text);
    doc.preamble = std::move(preamble);
    Assign(doc.file_name, path, kFileNameMax);
    const ParseResult parsed = ParseSteps(std::move(text), slot, -1, 0);
    if (parsed.status == ParseStatus::StepCountError || parsed.status == ParseStatus::MemoryError) {
      doc.Clear();
      return 0;
    }
  } catch (const std::bad_alloc&) {
    doc.Clear();
    ShowErrorBox("Out of memory");
    return 0;
  }

  const int loaded = static_cast<int>(doc.steps.size()) + 1;
  if (ReadSettingNumber("SOFTWARE\\Olvex\\Report\\stats_active") != 0 &&
      loaded > ReadSettingNumber("SOFTWARE\\Olvex\\Report\\stats_longest_script"))
    WriteSetting("SOFTWARE\\Olvex\\Report\\stats_longest_script", loaded);
  return loaded;
}

}  // namespace olvex
