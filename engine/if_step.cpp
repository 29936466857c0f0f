#include "engine/if_step.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "engine/catalog.h"
#include "engine/control.h"
#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/run_state.h"
#include "input/key_names.h"
#include "platform/clipboard.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/input.h"
#include "platform/process.h"
#include "platform/screen.h"
#include "platform/windows.h"
#include "screen/picture.h"
#include "screen/screen_actions.h"
#include "vars/expand.h"
#include "vars/formula.h"
#include "vars/registry_value.h"
#include "vars/variables.h"
#include "windows/window_match.h"

namespace olvex {

namespace {

// A condition's answer: true or false, or nothing when the step fails (the
// reason is in the step error message).
using Truth = std::optional<bool>;

bool Has(std::string_view text, std::string_view word) { return ContainsNoCase(text, word); }
bool HasWithCase(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

// The text cut after `limit` characters, "..." marking a cut.
std::string Shown(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  return std::string(text.substr(0, limit)) + "...";
}

int& TakenAt(int depth) {
  return Control().if_taken[static_cast<std::size_t>(std::clamp(depth, 0, kMaxIfDepth))];
}

struct Context {
  int slot;
  int index;
  const Step& step;
  std::string text;  // the expanded text
};

// ---- the conditions

bool ExpressionHolds(const Context& c) {
  if (LogLevel() >= 1) LogLine("    Expression: [%s]", Shown(c.text, 228).c_str());
  const bool either = HasWithCase(c.text, "||") || HasWithCase(c.text, "OR");
  const bool both = HasWithCase(c.text, "&&") || HasWithCase(c.text, "AND");
  if (either && both)
    LogText("    WARNING: Expressions can have either || or &&, but not both mixed together     since parenthesis are "
            "not supported in logical evaluations (like they are in math calculations)");
  return EvaluateLogical(c.text);
}

// A is the value to look for (the step's value1), B the text it is tested against.
bool TextHolds(std::string_view options, std::string_view a, std::string_view b) {
  if (Has(options, "Is Empty")) return b.empty();
  if (Has(options, "Equal") && Has(options, "Value")) {
    if (b.empty()) return a.empty();
    if (a.empty()) return false;
    if (Has(options, "Exact")) return a == b;
    if (Has(options, "Insen")) return EqualsNoCase(a, b);
    return false;
  }
  if (Has(options, "Length")) {
    if (a.empty()) return false;
    const long long length = static_cast<long long>(b.size());
    const long long wanted = FirstNumber(a);
    if (Has(options, "equal")) return length == wanted;
    if (Has(options, "less")) return length < wanted;
    if (Has(options, "more")) return length > wanted;
    return false;
  }
  if (Has(options, "Contains")) {
    if (a.empty() || b.empty()) return false;
    if (Has(options, "Exact")) return b.find(a) != std::string_view::npos;
    if (Has(options, "Insen")) return FindNoCase(b, a) != std::string_view::npos;
    if (Has(options, "Only")) return b.find_first_not_of(a) == std::string_view::npos;
    if (Has(options, "Any")) return b.find_first_of(a) != std::string_view::npos;
    return false;
  }
  if (Has(options, "Start")) return !a.empty() && !b.empty() && StartsWithNoCase(b, a);
  if (Has(options, "End")) return !a.empty() && !b.empty() && EndsWithNoCase(b, a);
  return !b.empty();
}

bool TextConditionHolds(const Context& c) {
  const std::string a = ExpandText(c.step.value(1), c.slot, c.index, 0);
  if (LogLevel() >= 1)
    LogLine("    Text Strings:  [%s] (len:%d) -- [%s] (len:%d)", a.c_str(), static_cast<int>(a.size()), c.text.c_str(),
            static_cast<int>(c.text.size()));
  return TextHolds(c.step.options, a, c.text);
}

bool ProcessRunning(std::string_view text) {
  const std::size_t cut = text.find_last_of("\\/");
  const std::string_view name = cut == std::string_view::npos ? text : text.substr(cut + 1);
  if (name.empty()) return false;
  for (const platform::ProcessEntry& p : platform::ListProcesses())
    if (EqualsNoCase(p.name, name)) return true;
  return false;
}

bool IsNumericText(std::string_view value) {
  return !value.empty() && value.find_first_not_of("0123456789., =\r\n\t-") == std::string_view::npos;
}

// The Variable condition names its variable in the step's own text, which is
// not expanded: "%count" asks about the variable count, not its value.
bool VariableHolds(const Context& c) {
  const std::string_view name = c.step.text;
  const std::string_view options = c.step.options;
  const auto percents = std::count(name.begin(), name.end(), '%');
  std::optional<std::string> value;  // the variable's expansion; nothing when it does not exist
  bool exists = false;
  if (percents == 2) {
    const std::size_t first = name.find('%');
    const std::size_t second = name.find('%', first + 1);
    value = platform::ReadEnv(std::string(name.substr(first + 1, second - first - 1))).value_or("");
    exists = !value->empty();
  } else if (std::count(name.begin(), name.end(), '{') == 1 && std::count(name.begin(), name.end(), '}') == 1) {
    value = ExpandText(name, c.slot, c.index, 0);
    exists = !value->empty() && value->find('{') == std::string::npos;
  } else {
    value = ReadUserVariable(name.substr(name.starts_with('%') ? 1 : 0));
    exists = value.has_value();
  }
  if (Has(options, "Exist") || Has(options, "Define")) return exists;
  if (Has(options, "Empty")) return value && value->empty();
  if (Has(options, "Numeric")) return value && IsNumericText(*value);
  return false;
}

bool WindowExists(const Context& c) {
  const platform::WindowId window = FindWindowByCriteria(WindowMatchFlagsFromOptions(c.step.options), c.text,
                                                         expansion_host().MainWindowPart("hwnd").value_or(0), 0);
  LogLine("    Window:  [%s]  (%llu)", c.text.c_str(), static_cast<unsigned long long>(window));
  return window != 0;
}

// The key a text names: a key name ("{Shift}", "{F5}") or one letter or digit.
int KeyOfText(std::string_view text) {
  if (const int code = VirtualKeyOfName(text)) return code;
  if (text.size() == 1) {
    const char ch = AsciiLower(text[0]);
    if (ch >= 'a' && ch <= 'z') return ch - 'a' + 'A';
    if (ch >= '0' && ch <= '9') return ch;
  }
  return 0;
}

bool KeyPressed(const Context& c) {
  int key = KeyOfText(c.text);
  if (key == 0) key = KeyOfText(c.step.text);  // a name that expansion took for an escape ("{t}")
  if (key == 0) return false;
  platform::Input& input = platform::input();
  if (Has(c.step.options, "Last")) {
    const platform::Input::KeyState state = input.QueryKey(key);
    return state.pressed || state.down;
  }
  return input.IsKeyDown(key);
}

Truth ClipboardHolds(const Context& c) {
  std::optional<std::string> clip;
  try {
    clip = platform::clipboard().Text();
  } catch (const std::bad_alloc&) {
    SetStepError("Insufficient memory available");
    return std::nullopt;
  }
  const bool has_text = clip && !clip->empty();
  const std::string_view options = c.step.options;
  if (HasWithCase(options, "Empty") || HasWithCase(options, "Any Text"))
    return has_text != HasWithCase(options, "Is Empty");
  if (!has_text) return false;
  LogLine("    Clipboard Contains: %s", Shown(*clip, 60).c_str());
  if (Has(options, "Partial") || Has(options, "Insens")) return FindNoCase(*clip, c.text) != std::string::npos;
  return *clip == c.text;
}

// One part of a point written as a small sum ("100+20", "(640/2)"), else its first number.
int CoordinateOf(std::string_view part) {
  if (!part.empty() && part.find_first_not_of("0123456789 +-*/()") == std::string_view::npos) {
    const FormulaResult value = EvaluateFormula("=" + std::string(part));
    if (!value.failed) return static_cast<int>(value.number);
  }
  return FirstNumber(part);
}

// IF Pixel Equals: the pixel at value1 against the colour the text names.
// IF Pixel is Visible, IF Image is Visible: the search of the step.
Truth ScreenHolds(const Context& c) {
  if (Has(c.step.action, "Equals")) {
    const std::string point = ExpandText(c.step.value(1), c.slot, c.index, 0);
    const std::size_t comma = point.find(',');
    const int x = CoordinateOf(std::string_view(point).substr(0, comma));
    const int y = comma == std::string::npos ? 0 : CoordinateOf(std::string_view(point).substr(comma + 1));
    const std::optional<platform::Colour> pixel = platform::screen().PixelAt(x, y);
    if (!pixel) {
      SetStepError(platform::screen().Info().width > 0 ? "The pixel cannot be read" : kNoDesktop);
      return std::nullopt;
    }
    LogLine("    %s = %s", ColorText(*pixel).c_str(), c.text.c_str());
    return *pixel == ParseColorText(c.text);
  }
  ImageSpot spot;
  const int found = FindImageForStep(c.slot, c.index, spot);
  if (found < 0) return std::nullopt;
  if (found == 0) return false;
  SaveOutput(c.slot, c.index, std::to_string(spot.left) + ", " + std::to_string(spot.top));
  return true;
}

Truth Evaluate(const Context& c) {
  const std::string_view action = c.step.action;
  if (Has(action, "IF Expression")) return ExpressionHolds(c);
  if (Has(action, "IF Text") || Has(action, "IF String")) return TextConditionHolds(c);
  if (Has(action, "Registry")) return !c.text.empty() && RegistryKeyExistsAt(c.text);
  if (Has(action, "Process")) return ProcessRunning(c.text);
  if (Has(action, "Variable")) return VariableHolds(c);
  if (Has(action, "IF File Exists")) {
    if (LogLevel() >= 1) LogLine("    File: [%s]", c.text.c_str());
    return platform::PathExists(c.text) && !platform::IsFolder(c.text);
  }
  if (Has(action, "IF Folder Exists")) {
    if (LogLevel() >= 1) LogLine("    Folder: [%s]", c.text.c_str());
    return platform::IsFolder(c.text);
  }
  if (Has(action, "IF Window Exists")) return WindowExists(c);
  if (Has(action, "Pixel") || Has(action, "Image")) return ScreenHolds(c);
  if (Has(action, "Pressed")) return KeyPressed(c);
  if (Has(action, "IF Caps Lock is On")) return platform::input().IsKeyToggled(platform::key::kCapsLock);
  if (Has(action, "IF Clipboard")) return ClipboardHolds(c);
  return false;  // "IF Internet" and any other
}

// Skips the rest of a block whose branch was taken: on to its END IF.
int SkipToEndIf(Step& step, int slot, int step_index) {
  step.run_result = 0;
  RunShared().next_step.store(FindElseOrEndIf(slot, step_index, true));
  return 1;
}

}  // namespace

int HandleIfStep(int slot, int step_index) {
  Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  ControlState& control = Control();
  step.run_result = 2;
  const bool block_if = IsBlockIf(step);
  const bool else_if = IsElseIf(step);
  if (block_if) {
    if (control.if_depth >= kMaxIfDepth) {
      control.if_depth = kMaxIfDepth;
      LogText("    WARNING: Too many embedded IF statements");
    } else {
      ++control.if_depth;
    }
  } else if (else_if) {
    if (TakenAt(control.if_depth) != 0) return SkipToEndIf(step, slot, step_index);
  } else if (EqualsNoCase(step.action, "ELSE")) {
    if (TakenAt(control.if_depth) != 0) return SkipToEndIf(step, slot, step_index);
    return 1;
  } else if (EqualsNoCase(step.action, "END IF")) {
    int& taken = TakenAt(control.if_depth);
    if (taken != 0)
      LogLine("    Closing IF block which evaluated to TRUE at [Step %d]", taken);
    else
      LogText("    Closing IF block which evaluated to false");
    taken = 0;
    control.if_depth = std::max(control.if_depth - 1, 0);
    return 1;
  }

  const Context context{slot, step_index, step, ExpandText(step.text, slot, step_index, 0)};
  const Truth truth = Evaluate(context);
  if (!truth) return 0;
  const bool result = Has(step.options, "NOT") ? !*truth : *truth;
  LogLine("    \"IF\" check evaluated to %s", result ? "TRUE" : "FALSE");
  if (result && (block_if || else_if)) TakenAt(control.if_depth) = step_index + 1;
  return result ? 1 : 0;
}

}  // namespace olvex
