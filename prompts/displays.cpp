#include "prompts/displays.h"

#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "vars/expand.h"

namespace olvex {
namespace {

std::string Expanded(const std::string& field, int slot, int index) {
  return field.empty() ? std::string() : std::string(ExpandText(field, slot, index, 0));
}

bool OnlyBlanks(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

// The folder of the script's file, with its separator.
std::string ScriptFolder(int slot) {
  const std::string& file = Document(slot).file_name;
  const std::size_t at = file.find_last_of("\\/");
  return at == std::string::npos ? std::string() : file.substr(0, at + 1);
}

}  // namespace

int DisplayStep(Step& step, int slot, int index, const std::string& title, int timeout_ms) {
  const std::string& action = step.action;
  std::string text = Expanded(step.text, slot, index);
  const bool first_tries = step.run_attempts <= 2;
  std::string kind;
  if (ContainsNoCase(action, "Screen Message")) {
    kind = "Screen Message";
    if (timeout_ms <= 0 && first_tries) LogText("    WARNING: No time limit set for tool tip");
  } else if (ContainsNoCase(action, "Progress")) {
    kind = "Progress Bar Popup";
    if (OnlyBlanks(text)) text.clear();
  } else if (ContainsNoCase(action, "Status")) {
    kind = "Status Popup";
    if (OnlyBlanks(text)) text.clear();
  } else if (ContainsNoCase(action, "Balloon")) {
    kind = "Balloon Popup";
    if (timeout_ms <= 0) {
      if (first_tries) LogText("    WARNING: No time limit set for tool tip");
      timeout_ms = 1000;
    }
    if (timeout_ms < 3000) timeout_ms = 3000;
  } else if (ContainsNoCase(action, "Tray Icon")) {
    kind = "Tray Icon";
    if (ContainsNoCase(step.options, "Remove")) text.clear();
  } else {
    kind = "Display Image";
    std::string path = text;
    const bool relative = !path.empty() && path[0] != '/' && path[0] != '\\' && path.find(':') == std::string::npos;
    if (relative && !platform::PathExists(path)) path = ScriptFolder(slot) + path;
    if (path.empty() || !platform::PathExists(path)) {
      SetStepError("Image file '" + text + "' not found");
      return 0;
    }
    text = path;
  }
  platform::dialogs().ShowNotice(kind, title, text, timeout_ms);
  return 1;
}

}  // namespace olvex
