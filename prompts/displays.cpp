#include "prompts/displays.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include <string_view>
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/message_window.h"
#include "platform/registry.h"
#include "platform/screen.h"
#include "vars/expand.h"
#include "vars/registry_value.h"

namespace olvex {
namespace {

std::string Expanded(const std::string& field, int slot, int index) {
  return field.empty() ? std::string() : std::string(ExpandText(field, slot, index, 0));
}

bool OnlyBlanks(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

int ProgressPercent(const std::string& text) {
  const std::size_t sign = text.find('%');
  if (sign == std::string::npos) return 0;
  std::size_t end = sign;
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  std::size_t begin = end;
  while (begin > 0 && text[begin - 1] >= '0' && text[begin - 1] <= '9') --begin;
  const int percent = FirstNumber(std::string_view(text).substr(begin, end - begin));
  return percent < 0 ? 0 : percent > 100 ? 100 : percent;
}

namespace {

// Displays of one kind follow each other at most every 100 ms (the last step
// of the script always shows).
bool TooSoon(platform::NoticeKind kind, bool last_step) {
  static std::mutex mutex;
  static std::chrono::steady_clock::time_point shown[7];
  std::lock_guard<std::mutex> lock(mutex);
  const auto now = std::chrono::steady_clock::now();
  auto& previous = shown[static_cast<int>(kind) == 1 ? 0 : static_cast<int>(kind)];
  if (!last_step && previous.time_since_epoch().count() != 0 && now - previous < std::chrono::milliseconds(100)) return true;
  previous = now;
  return false;
}

std::atomic<bool> g_message_window_open{false}, g_message_window_failed{false};

// The displays own the message window: each opens it when none is open (on
// the main thread).
void OpenMessageWindow() {
  std::string name, error;
  bool created = false;
  if (!platform::OpenMessageWindow(&name, &created, &error)) {
    if (!g_message_window_failed.exchange(true)) LogText("    " + error);
    return;
  }
  if (created && LogLevel() > 1) LogText("    Message window: \"" + name + "\"");
  g_message_window_open.store(true);
}

}  // namespace

int DisplayStep(Step& step, int slot, int index, const std::string& title, int timeout_ms) {
  using platform::NoticeKind;
  OpenMessageWindow();
  const bool last_step = static_cast<std::size_t>(index) + 1 == Document(slot).steps.size();
  const std::string& action = step.action;
  const std::string& options = step.options;
  const bool first_tries = step.run_attempts <= 2;
  platform::Notice notice;
  bool extracted = false;
  notice.title = title;
  notice.text = Expanded(step.text, slot, index);
  notice.timeout_ms = timeout_ms;
  notice.top = ContainsNoCase(options, "top");
  auto position = [&](const std::string& field) {
    const std::string at = Expanded(field, slot, index);
    const std::size_t comma = at.find(',');
    if (at.empty() || comma == std::string::npos) return;
    notice.x = FirstNumber(at.substr(0, comma));
    notice.y = FirstNumber(at.substr(comma + 1));
  };
  if (ContainsNoCase(action, "Screen Message")) {
    notice.kind = NoticeKind::kScreenMessage;
    position(step.value(1));
    notice.title.clear();
    if (timeout_ms <= 0 && first_tries) LogText("    WARNING: No time limit set for tool tip");
  } else if (ContainsNoCase(action, "Progress") || ContainsNoCase(action, "Status")) {
    notice.kind = ContainsNoCase(action, "Progress") ? NoticeKind::kProgress : NoticeKind::kStatus;
    if (OnlyBlanks(notice.text)) notice.text.clear();
    // A size from 11 up to the screen's (when there is one).
    const int width = FirstNumber(step.value(1)), height = FirstNumber(step.value(2));
    const platform::ScreenInfo screen = platform::screen().Info();
    notice.width = width >= 11 && (screen.width <= 0 || width < screen.width) ? width : 350;
    notice.height = height >= 11 && (screen.height <= 0 || height < screen.height) ? height : 100;
    notice.percent = ProgressPercent(notice.text);
  } else if (ContainsNoCase(action, "Balloon")) {
    if (timeout_ms <= 0) {
      if (first_tries) LogText("    WARNING: No time limit set for tool tip");
      timeout_ms = 1000;
    }
    // Only a switch set to 0 is reported: without the value balloons show.
    std::uint32_t type = 0;
    const std::optional<std::string> tips = RegistryRead(
        "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\EnableBalloonTips", &type);
    const bool off = tips && (type == platform::regtype::kDword ? tips->find_first_not_of('\0') == std::string::npos
                                                               : FirstNumber(*tips) == 0);
    if (off)
      LogText("    \"EnableBalloonTips\" is set to OFF!  Balloon tips may not display properly!");
    const bool floating = ContainsNoCase(options, "Float");
    notice.kind = floating ? NoticeKind::kFloatingBalloon : NoticeKind::kBalloon;
    if (floating) {
      position(step.value(2));
      notice.track = ContainsNoCase(options, "Track");
      notice.timeout_ms = timeout_ms < 3000 ? 3000 : timeout_ms;
    } else {
      // The system shows a tray balloon for 10 to 30 seconds.
      notice.timeout_ms = timeout_ms < 10000 ? 10000 : timeout_ms > 30000 ? 30000 : timeout_ms;
      notice.text = notice.text.substr(0, 255);
      notice.title = notice.title.substr(0, 63);
    }
  } else if (ContainsNoCase(action, "Tray Icon")) {
    notice.kind = NoticeKind::kTrayIcon;
    notice.icon_file = Document(slot).file_name;
    if (ContainsNoCase(options, "Remove")) notice.text.clear();
  } else {
    notice.kind = NoticeKind::kImage;
    position(step.value(1));
    // A picture carried in the program is extracted first (and removed after).
    std::string path = notice.text;
    extracted = ExtractEmbedded(slot, index, path, 1, 0);
    // Beside the script first, then as written.
    if (!extracted && platform::PathExists(ScriptRelativePath(slot, path))) path = ScriptRelativePath(slot, path);
    if (path.empty() || !platform::PathExists(path)) {
      SetStepError("Image file '" + notice.text + "' not found");
      return 0;
    }
    notice.text = path;
  }
  const bool throttled = notice.kind == NoticeKind::kScreenMessage || notice.kind == NoticeKind::kBalloon ||
                        notice.kind == NoticeKind::kFloatingBalloon ||
                        ((notice.kind == NoticeKind::kStatus || notice.kind == NoticeKind::kProgress) && !notice.text.empty());
  if (throttled && TooSoon(notice.kind, last_step)) return 1;
  platform::dialogs().ShowNotice(notice);
  if (extracted) ExtractEmbedded(slot, index, notice.text, 2, 0);
  // A screen message on the last step stays a moment so that it can be read.
  if (notice.kind == NoticeKind::kScreenMessage && last_step && notice.timeout_ms > 0) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::min(notice.timeout_ms, 3000));
    while (!StopRequested() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 1;
}

MessagePoll PollMessageWindow() {
  MessagePoll poll;
  if (!g_message_window_open.load()) return poll;
  platform::WindowMessage next = platform::NextWindowMessage();
  // Closed: the next display opens a new one.
  if (!next.open) g_message_window_open.store(false);
  poll.window_exists = next.open;
  poll.message = std::move(next.message);
  return poll;
}

}  // namespace olvex
