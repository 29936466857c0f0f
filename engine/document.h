#pragma once
// Script documents: the 8 open scripts, their steps, and the loader and parser
// that turn a script file (or a script carried inside an executable) into steps.
//
// A script is text holding `<step>` elements; each names one action of the
// catalog and carries its parameters as tags (`<text>`, `<options>`,
// `<output value="x">Variable</output>`, ...). Old action and option names are
// brought up to date while parsing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/text.h"
#include "platform/files.h"

namespace olvex {

inline constexpr int kMaxDocuments = 8;
inline constexpr std::size_t kMaxSteps = 100000;

// Length limits of step fields, in characters.
inline constexpr std::size_t kShortFieldMax = 63;  // action, output, fail_mode
inline constexpr std::size_t kFieldMax = 259;      // every other fixed field and attribute values
inline constexpr std::size_t kFileNameMax = 259;
inline constexpr std::size_t kPreambleMax = 258;
inline constexpr std::size_t kOpeningTagMax = 255;         // attributes are looked for in this much
inline constexpr std::size_t kStepTextMax = 33554431;      // a longer step is read over this much
inline constexpr int kRunStatusDisabled = 0x1, kRunStatusBreakpoint = 0x2;

// Source layout flags of a document (the characters after the first "step>").
inline constexpr std::uint32_t kSourceLf = 0x1000;    // the first line break is a lone LF
inline constexpr std::uint32_t kSourceCr = 0x2000;    // ... a CR not followed by LF
inline constexpr std::uint32_t kSourceCrLf = 0x4000;  // ... CR LF
inline constexpr std::uint32_t kSourceTab = 0x100;    // the next line begins with a tab
inline constexpr std::uint32_t kSourceIndentMask = 0xFF;  // spaces and tabs indenting it (at most 32)

// Replaces, in this order, "&amp;" "&#038;" by '&', "&lt;" "&#060;" "&#60;" by '<',
// "&gt;" "&#062;" "&#62;" by '>', "&apos;" "&#039;" "&#39;" by '\'', "&quot;"
// "&#034;" "&#34;" by '"'. An '&' decoded in the first round can begin an
// entity of a later round ("&amp;lt;" gives '<').
std::string DecodeEntities(std::string_view text);
void DecodeEntitiesInto(std::string_view text, std::string& out);  // replaces `out`

// An attribute to read from an opening tag.
struct TagAttribute {
  TagAttribute(std::string_view attribute_name = {}) : name(attribute_name) {}  // NOLINT: {"value"} reads well
  std::string_view name;
  bool found = false;
  std::string value;  // decoded, at most 259 characters
};

struct ExtractedTag {
  bool found = false;       // the opening tag is there
  std::size_t length = 0;   // length of the content as written
  std::string content;      // cut at max_len characters, then decoded (empty when max_len < 0)
  int number = 0;           // FirstNumber of `content`
};

// Reads the first `<tag` of `source` (case-insensitive; `<tag` also finds
// `<tag attr="x">`). The content runs from after the opening tag's '>' to the
// closing `</tag`, or to the end of `source` without one. Attributes are looked
// for in the opening tag (at most 255 characters); a name is matched whole,
// outside quoted values. With max_len < 0 only `found` and `length` are filled.
ExtractedTag ExtractTag(std::string_view source, std::string_view tag, std::ptrdiff_t max_len,
                        std::span<TagAttribute> attributes = {});

// The fields of a step that many steps leave empty. A step holds only those it
// has, in one small array, so that a script of many steps stays compact.
enum class StepField : std::uint8_t {
  kTimeout,        // at most 259 characters
  kOutput,         // at most 63
  kOutputOption,   // at most 259
  kFailMode,       // at most 63
  kFailOption,     // at most 259
  kData,           // at most 259
  kCustom,         // at most 259
  kValue1,         // .. kValue1 + 7: value1 .. value8, at most 259 each
  kEmbeddedId1 = kValue1 + 8,  // .. + 7: embedded_ID_1 .. 8 (numbers)
  kCount = kEmbeddedId1 + 8
};
// value1 .. value8 and embedded_ID_1 .. 8 by number (1 .. 8).
constexpr StepField ValueField(int n) { return static_cast<StepField>(static_cast<int>(StepField::kValue1) + n - 1); }
constexpr StepField EmbeddedIdField(int n) {
  return static_cast<StepField>(static_cast<int>(StepField::kEmbeddedId1) + n - 1);
}
// The length limit of a text field.
std::size_t FieldLimit(StepField field);

struct StepExtra {
  StepField field = StepField::kTimeout;
  std::int32_t number = 0;  // embedded ids
  std::string text;         // the text fields
};

class Step {
 public:
  std::string action;    // at most 63 characters
  std::string text;      // any length
  std::string comment;   // any length
  std::string options;   // at most 259
  std::int32_t category = 0;
  std::int32_t action_id = 0;
  std::int32_t run_status = 0;
  std::int32_t indents = 0;
  std::int32_t grid_text_column = 0;
  std::int32_t fail_snapshot = 0;
  std::int32_t fail_log = 0;
  std::int32_t run_attempts = 0;
  std::uint8_t saves_output = 0;
  std::uint8_t can_fail = 0;
  std::uint8_t run_result = 0;  // 0 not run, 1 started, 2 completed, 3 failed, 4 ignored/false

  // A text field held out of line (empty when the step does not have it).
  const std::string& field(StepField f) const;
  // Sets a text field, cut to its limit; an empty text is not stored.
  void set_field(StepField f, std::string_view v);
  void take_field(StepField f, std::string&& v);  // the same, taking the text over
  // True when the field's text was longer than its limit and was cut (a file
  // name cut so would name another file).
  bool was_cut(StepField f) const { return (cut_fields_ >> static_cast<int>(f)) & 1u; }
  void note_cut(StepField f) { cut_fields_ |= 1u << static_cast<int>(f); }

  const std::string& timeout() const { return field(StepField::kTimeout); }
  const std::string& output() const { return field(StepField::kOutput); }
  const std::string& output_option() const { return field(StepField::kOutputOption); }
  const std::string& fail_mode() const { return field(StepField::kFailMode); }
  const std::string& fail_option() const { return field(StepField::kFailOption); }
  const std::string& data() const { return field(StepField::kData); }
  const std::string& custom() const { return field(StepField::kCustom); }
  const std::string& value(int n) const;  // n = 1 .. 8; empty outside
  int embedded_id(int n) const;           // n = 1 .. 8; 0 outside

  void set_timeout(std::string_view v) { set_field(StepField::kTimeout, v); }
  void set_output(std::string_view v) { set_field(StepField::kOutput, v); }
  void set_output_option(std::string_view v) { set_field(StepField::kOutputOption, v); }
  void set_fail_mode(std::string_view v) { set_field(StepField::kFailMode, v); }
  void set_fail_option(std::string_view v) { set_field(StepField::kFailOption, v); }
  void set_data(std::string_view v) { set_field(StepField::kData, v); }
  void set_custom(std::string_view v) { set_field(StepField::kCustom, v); }
  void set_value(int n, std::string_view v);
  void set_embedded_id(int n, int id);  // 0 is not stored

  bool has_extras() const { return !extras_.empty(); }
  void ReserveExtras(std::size_t n) { extras_.reserve(n); }

 private:
  StepExtra* Find(StepField f);
  std::vector<StepExtra> extras_;
  std::uint32_t cut_fields_ = 0;  // a bit per StepField
};

struct ScriptDocument {
  std::string file_name;  // at most 259 characters; empty or "Untitled" when the slot is free
  std::string preamble;   // text before the magic tag, at most 258 characters
  std::uint32_t source_flags = 0;
  bool in_use = false;    // held by a run: not free even when unnamed
  std::vector<Step> steps;

  bool IsFree() const;
  void Clear();  // back to a free slot
};

// Document slot 0 .. 7 (callers check the range).
ScriptDocument& Document(int slot);
// The first free slot, or -1.
int FirstFreeDocument();
// A rooted path ("\..", "/..", "C:...") stands as it is; a relative one is
// taken from the folder of the script in `slot`.
bool IsRootedPath(std::string_view path);
std::string ScriptRelativePath(int slot, const std::string& path);
// The folder of the script in `slot`'s file, without its last separator;
// empty when the name has no folder.
std::string ScriptFolder(int slot);
void CloseDocument(int slot);
void CloseAllDocuments();

// Loads a script file into `slot` (negative: the first free slot). Returns the
// number of steps plus one, or 0 when the load failed; every failure has been
// shown in a message box.
int LoadDocument(const std::string& path, int slot);

enum class ParseStatus {
  Parsed,                // every step was read
  NothingToParse,        // no step, or no <action: nothing added, nothing shown
  StoppedAtEmptyAction,  // a step without action ended the parse; the steps before it were added
  StepCountError,        // too many steps for the document: nothing added
  MemoryError,           // out of memory: nothing added
};
struct ParseResult {
  ParseStatus status = ParseStatus::NothingToParse;
  int added = 0;
};

// Parses every step of `text` into document `slot`, inserting the new steps
// before index `insert_at` (clamped to 0 .. step count; -1 appends). `flags`
// non-zero marks steps inserted into an open document (indents may be derived).
// Pass the text by move to spare a copy.
ParseResult ParseSteps(std::string text, int slot, int insert_at, int flags);

// The post-load pass over every step of the document: Label texts and output
// and failure fields trimmed, variable names given their '%'.
void FixUpDocument(int slot);

// Tests: the loader reads files through `reader` (nullptr: the platform's).
using FileReader = platform::FileContent (*)(const std::string& path);
void SetFileReaderForTest(FileReader reader);

}  // namespace olvex
