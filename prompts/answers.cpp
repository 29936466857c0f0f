#include "prompts/answers.h"

#include <sstream>
#include <string_view>

#include "engine/text.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace olvex {
namespace {

constexpr const char* kButtonNames[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No", "Close", "Help"};

std::string Trimmed(std::string_view s) {
  const std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return "";
  return std::string(s.substr(b, s.find_last_not_of(" \t\r") - b + 1));
}

// Line breaks in a prompt's text match a blank in the pattern's line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return Trimmed(text);
}

}  // namespace

int ButtonCode(const std::string& name) {
  for (int code = 1; code <= 9; ++code)
    if (EqualsNoCase(name, kButtonNames[code])) return code;
  // The row buttons of the custom dialog.
  if (name.size() == 7 && StartsWithNoCase(name, "Button") && name[6] >= '1' && name[6] <= '5') return 1175 + (name[6] - '1');
  return 0;
}

std::string ButtonName(int code) { return code >= 1 && code <= 9 ? kButtonNames[code] : ""; }

AnswerLookup LookUpAnswer(const std::string& title, const std::string& text) {
  AnswerLookup result;
  const std::optional<std::string> file = platform::ReadEnv("OLVEX_ANSWERS");
  if (!file || file->empty()) return result;
  result.file = *file;
  const platform::FileContent content = platform::ReadWholeFile(*file, 1 << 20);
  if (content.status != platform::ReadStatus::Ok) {
    result.status = AnswerLookup::kBadFile;
    result.error = "The answers file '" + *file + "' cannot be read";
    return result;
  }
  // Every line is checked, so that a mistake shows on the first prompt.
  const std::string one_line = OneLine(text);
  std::istringstream lines(content.data);
  std::string line;
  bool answered = false;
  for (int number = 1; std::getline(lines, line); ++number) {
    const std::string whole = Trimmed(line);
    if (whole.empty() || whole[0] == '#') continue;
    std::size_t bars[3] = {};
    std::size_t from = 0;
    int found = 0;
    for (; found < 3; ++found) {
      const std::size_t bar = line.find('|', from);
      if (bar == std::string::npos) break;
      bars[found] = bar;
      from = bar + 1;
    }
    auto bad = [&](const std::string& why) {
      result = AnswerLookup{};
      result.status = AnswerLookup::kBadFile;
      result.file = *file;
      result.line = number;
      result.error = "The answers file '" + *file + "' line " + std::to_string(number) + ": " + why;
      return result;
    };
    if (found < 2) return bad("expected \"title | text | button [| answer]\"");
    const std::string_view view(line);
    const std::string button = Trimmed(view.substr(bars[1] + 1, found == 3 ? bars[2] - bars[1] - 1 : std::string_view::npos));
    const int code = ButtonCode(button);
    if (code == 0) return bad("unknown button \"" + button + "\"");
    if (answered || !platform::MatchesGlob(Trimmed(view.substr(0, bars[0])), title) ||
        !platform::MatchesGlob(Trimmed(view.substr(bars[0] + 1, bars[1] - bars[0] - 1)), one_line))
      continue;
    answered = true;
    result.status = AnswerLookup::kAnswered;
    result.button = code;
    result.answer = found == 3 ? Trimmed(view.substr(bars[2] + 1)) : "";
    result.line = number;
  }
  if (answered) return result;
  result.status = AnswerLookup::kNoAnswer;
  return result;
}

}  // namespace olvex
