#ifdef _WIN32
#include "tests/support/box_answerer.h"

#include <windows.h>

#include <map>

namespace olvex::test {
namespace {

std::string TextOf(HWND hwnd) {
  char buf[8192] = {};
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
  return buf;
}

std::string ClassOf(HWND hwnd) {
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  return cls;
}

BOOL CALLBACK CollectBoxes(HWND hwnd, LPARAM lparam) {
  if (ClassOf(hwnd) == "#32770" && IsWindowVisible(hwnd)) reinterpret_cast<std::vector<HWND>*>(lparam)->push_back(hwnd);
  return TRUE;
}

struct Children {
  std::string cls;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectChildren(HWND hwnd, LPARAM lparam) {
  auto* children = reinterpret_cast<Children*>(lparam);
  if (ClassOf(hwnd) == children->cls) children->found.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND box, const char* cls) {
  Children children{cls, {}};
  EnumChildWindows(box, CollectChildren, reinterpret_cast<LPARAM>(&children));
  return children.found;
}

// Presses the reply's button.
void Press(HWND box, const BoxAnswerer::Reply& reply, const std::vector<HWND>& buttons) {
  if (reply.button == BoxAnswerer::kLeave) return;
  HWND button = GetDlgItem(box, reply.button);
  if (!button || !IsWindowVisible(button)) button = buttons.front();
  SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
}

}  // namespace

BoxAnswerer::BoxAnswerer(int button_id) : button_id_(button_id), thread_([this] { Run(); }) {}

BoxAnswerer::BoxAnswerer(std::vector<Reply> replies)
    : button_id_(1), replies_(std::move(replies)), thread_([this] { Run(); }) {}

BoxAnswerer::~BoxAnswerer() {
  stop_ = true;
  thread_.join();
}

BoxAnswerer::Reply BoxAnswerer::NextReply(const std::string& text) {
  used_.resize(replies_.size());
  for (std::size_t i = 0; i < replies_.size(); ++i) {
    if (used_[i] || (!replies_[i].text.empty() && text.find(replies_[i].text) == std::string::npos)) continue;
    used_[i] = true;
    return replies_[i];
  }
  Reply reply;
  reply.button = button_id_;
  return reply;
}

void BoxAnswerer::Run() {
  struct Answered {
    Reply reply;
    ULONGLONG at;
  };
  std::map<HWND, Answered> answered;
  while (!stop_) {
    std::vector<HWND> boxes;
    EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&boxes));
    for (HWND box : boxes) {
      std::vector<HWND> buttons;
      for (HWND button : ChildrenOf(box, "Button"))
        if (IsWindowVisible(button)) buttons.push_back(button);
      if (const auto it = answered.find(box); it != answered.end()) {
        // Still open a second after its answer: the press came before the box
        // could take it (Wine, on a loaded machine), so it is pressed again.
        if (!buttons.empty() && GetTickCount64() - it->second.at > 1000) {
          Press(box, it->second.reply, buttons);
          it->second.at = GetTickCount64();
        }
        continue;
      }
      // A message box's text, or the prompt of an input dialog.
      HWND text = GetDlgItem(box, 0xFFFF);
      if (!text) text = GetDlgItem(box, 1001);
      if (!text) text = GetDlgItem(box, 1254);  // the custom dialog's frame
      if (!text) text = box;                    // the file and folder dialogs: their title
      // Wait until the box has shown its controls before acting on them.
      if (!text || buttons.empty() || !IsWindowVisible(text)) continue;
      RECT rect{};
      GetWindowRect(box, &rect);
      Box seen{TextOf(box), TextOf(text), rect.right - rect.left, rect.bottom - rect.top};
      const Reply reply = NextReply(seen.text);
      answered[box] = {reply, GetTickCount64()};
      std::vector<HWND> edits;
      for (HWND edit : ChildrenOf(box, "Edit"))
        if (IsWindowVisible(edit)) edits.push_back(edit);
      for (std::size_t i = 0; i < reply.edits.size() && i < edits.size(); ++i)
        SendMessageTimeoutA(edits[i], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(reply.edits[i].c_str()), SMTO_ABORTIFHUNG, 2000, nullptr);
      const std::vector<HWND> lists = ChildrenOf(box, "ListBox");
      if (!lists.empty()) {
        const bool several = (GetWindowLongA(lists.front(), GWL_STYLE) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
        for (int item : reply.items) {
          if (several) SendMessageTimeoutA(lists.front(), LB_SETSEL, TRUE, item, SMTO_ABORTIFHUNG, 2000, nullptr);
          else SendMessageTimeoutA(lists.front(), LB_SETCURSEL, static_cast<WPARAM>(item), 0, SMTO_ABORTIFHUNG, 2000, nullptr);
        }
      }
      Press(box, reply, buttons);
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(seen);
    }
    Sleep(20);
  }
}

std::vector<BoxAnswerer::Box> BoxAnswerer::WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (seen_.size() >= count || std::chrono::steady_clock::now() > deadline) return seen_;
    }
    Sleep(20);
  }
}

std::vector<BoxAnswerer::Box> BoxAnswerer::Seen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

}  // namespace olvex::test
#endif
