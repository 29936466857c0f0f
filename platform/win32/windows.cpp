#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cwchar>
#include <vector>

#include "platform/windows.h"

namespace platform {
namespace {

// Window handles have 32 significant bits and are sign-extended on 64-bit
// Windows; the id keeps the low 32 bits so that it travels as a number.
HWND ToHwnd(WindowId id) {
  return reinterpret_cast<HWND>(static_cast<INT_PTR>(static_cast<std::int32_t>(static_cast<std::uint32_t>(id))));
}
WindowId FromHwnd(HWND hwnd) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(hwnd));
}

// Wide text to the ANSI code page.
std::string Narrow(const wchar_t* wide, std::size_t chars) {
  if (chars == 0) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(chars), nullptr, 0, nullptr, nullptr);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(chars), text.data(), n, nullptr, nullptr);
  return text;
}

UINT Bound(int timeout_ms) { return timeout_ms < 1 ? 1 : static_cast<UINT>(timeout_ms); }

// A message sent with a bounded wait; nothing when the window is gone, hung or late.
std::optional<LRESULT> Ask(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, int timeout_ms, bool wide = false) {
  DWORD_PTR result = 0;
  const LRESULT sent = wide ? SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, Bound(timeout_ms), &result)
                            : SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, Bound(timeout_ms), &result);
  if (!sent) return std::nullopt;
  return static_cast<LRESULT>(result);
}

// Memory in another process, freed on leaving.
class RemoteBlock {
 public:
  RemoteBlock(DWORD process_id, std::size_t size) : size_(size) {
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
    if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBlock() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;
  explicit operator bool() const { return address_ != nullptr; }
  char* at(std::size_t offset) const { return static_cast<char*>(address_) + offset; }
  bool Write(std::size_t offset, const void* data, std::size_t size) const {
    SIZE_T done = 0;
    return offset + size <= size_ && WriteProcessMemory(process_, at(offset), data, size, &done) && done == size;
  }
  bool Read(std::size_t offset, void* data, std::size_t size) const {
    SIZE_T done = 0;
    return offset + size <= size_ && ReadProcessMemory(process_, at(offset), data, size, &done) && done == size;
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  std::size_t size_;
};

class Win32Windows : public Windows {
 public:
  WindowId FindTopLevel(const std::string& title, const std::string& class_name) override {
    return FromHwnd(FindWindowA(class_name.empty() ? nullptr : class_name.c_str(),
                                title.empty() ? nullptr : title.c_str()));
  }

  bool Exists(WindowId window) override { return window != 0 && IsWindow(ToHwnd(window)); }

  WindowId Foreground() override { return FromHwnd(GetForegroundWindow()); }

  WindowId NextInZOrder(WindowId window) override {
    if (window == 0) return FromHwnd(GetTopWindow(nullptr));
    return FromHwnd(GetWindow(ToHwnd(window), GW_HWNDNEXT));
  }

  bool IsVisible(WindowId window) override { return window != 0 && IsWindowVisible(ToHwnd(window)); }

  std::string ClassName(WindowId window) override {
    char buffer[256] = {};
    if (window == 0 || !GetClassNameA(ToHwnd(window), buffer, sizeof buffer)) return {};
    return buffer;
  }

  std::uint64_t ControlId(WindowId window) override {
    return window ? static_cast<std::uint32_t>(GetWindowLongA(ToHwnd(window), GWL_ID)) : 0;
  }

  std::uint64_t UserData(WindowId window) override {
    return window ? static_cast<std::uint32_t>(GetWindowLongPtrA(ToHwnd(window), GWLP_USERDATA)) : 0;
  }

  std::optional<WindowRect> Rect(WindowId window) override {
    RECT r;
    if (window == 0 || !GetWindowRect(ToHwnd(window), &r)) return std::nullopt;
    return WindowRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
  }

  WindowId FirstChild(WindowId window) override { return window ? FromHwnd(GetWindow(ToHwnd(window), GW_CHILD)) : 0; }

  WindowId Parent(WindowId window) override { return window ? FromHwnd(GetParent(ToHwnd(window))) : 0; }

  WindowId TreeParent(WindowId window) override {
    HWND parent = window ? GetAncestor(ToHwnd(window), GA_PARENT) : nullptr;
    return parent == GetDesktopWindow() ? 0 : FromHwnd(parent);
  }

  bool HasFrame(WindowId window) override {
    return window != 0 && (GetWindowLongA(ToHwnd(window), GWL_STYLE) & (WS_DLGFRAME | WS_THICKFRAME)) != 0;
  }

  std::vector<WindowId> TopLevelWindows() override {
    std::vector<WindowId> list;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&list));
    return list;
  }

  std::vector<WindowId> Descendants(WindowId window) override {
    std::vector<WindowId> list;
    if (window != 0) EnumChildWindows(ToHwnd(window), Collect, reinterpret_cast<LPARAM>(&list));
    return list;
  }

  // A top-level window's title is the caption the system keeps for it (what
  // WM_GETTEXT gives unless the window answers it itself), and so is a
  // button's or a static's text: read without a message, so that a search over
  // many windows, hung ones included, waits on none. Any other control's text
  // (an edit's contents) is asked for, within the time-out.
  std::string Title(WindowId window, std::size_t max_chars, int timeout_ms) override {
    if (window == 0 || max_chars == 0) return {};
    return TitleOf(window, !(GetWindowLongA(ToHwnd(window), GWL_STYLE) & WS_CHILD), max_chars, timeout_ms);
  }

  // A top-level window: one question to the system (under Wine, to the
  // server); a control: its class, then its kept text or a message.
  std::string TitleOf(WindowId window, bool top_level, std::size_t max_chars, int timeout_ms) override {
    if (window == 0 || max_chars == 0) return {};
    HWND hwnd = ToHwnd(window);
    if (top_level || KeepsTextInWindow(hwnd)) {
      std::vector<wchar_t> wide(max_chars + 1, L'\0');
      const int n = InternalGetWindowText(hwnd, wide.data(), static_cast<int>(wide.size()));
      if (n <= 0) return {};
      std::string text(static_cast<std::size_t>(n) * 2 + 1, '\0');
      const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, text.data(), static_cast<int>(text.size()), nullptr,
                                            nullptr);
      text.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
      if (text.size() > max_chars) text.resize(max_chars);
      return text;
    }
    std::vector<char> buffer(max_chars + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                             timeout_ms < 0 ? 0 : static_cast<UINT>(timeout_ms), &copied))
      return {};
    buffer.back() = '\0';
    return std::string(buffer.data());
  }

  // Whether the window is a button or a static, whose WM_GETTEXT answers with
  // the text the system keeps. The system's classes have the same atom in
  // every process, so one question tells.
  static bool KeepsTextInWindow(HWND hwnd) {
    static const std::array<ATOM, 2> kinds = [] {
      std::array<ATOM, 2> atoms{};
      WNDCLASSEXA info{};
      info.cbSize = sizeof info;
      atoms[0] = static_cast<ATOM>(GetClassInfoExA(nullptr, "Button", &info));
      atoms[1] = static_cast<ATOM>(GetClassInfoExA(nullptr, "Static", &info));
      return atoms;
    }();
    const auto atom = static_cast<ATOM>(GetClassLongPtrA(hwnd, GCW_ATOM));
    return atom != 0 && (atom == kinds[0] || atom == kinds[1]);
  }

  bool Activate(WindowId window) override {
    HWND hwnd = ToHwnd(window);
    if (window == 0 || !IsWindow(hwnd)) return false;
    if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    // Activation and focus belong to the window's thread: share its input
    // state for the two calls when it is another thread.
    DWORD own = GetCurrentThreadId();
    DWORD theirs = GetWindowThreadProcessId(hwnd, nullptr);
    bool attached = theirs != 0 && theirs != own && AttachThreadInput(own, theirs, TRUE);
    SetActiveWindow(hwnd);
    SetFocus(hwnd);
    if (attached) AttachThreadInput(own, theirs, FALSE);
    return true;
  }

  bool PostClose(WindowId window) override {
    return window != 0 && PostMessageA(ToHwnd(window), WM_CLOSE, 0, 0) != 0;
  }

  bool Destroy(WindowId window) override { return window != 0 && DestroyWindow(ToHwnd(window)) != 0; }

  std::uint32_t Style(WindowId window) override {
    return window ? static_cast<std::uint32_t>(GetWindowLongA(ToHwnd(window), GWL_STYLE)) : 0;
  }
  bool IsMinimized(WindowId window) override { return window != 0 && IsIconic(ToHwnd(window)); }
  WindowId DesktopWindow() override { return FromHwnd(GetDesktopWindow()); }
  WindowId AtPoint(long x, long y) override { return FromHwnd(WindowFromPoint(POINT{x, y})); }

  WindowId FocusOfForegroundThread() override {
    HWND foreground = GetForegroundWindow();
    if (!foreground) return 0;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(foreground, nullptr), &info)) return 0;
    return FromHwnd(info.hwndFocus);
  }

  WindowId FocusInThreadOf(WindowId window) override {
    const DWORD thread = window ? GetWindowThreadProcessId(ToHwnd(window), nullptr) : 0;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (thread == 0 || !GetGUIThreadInfo(thread, &info)) return 0;
    return FromHwnd(info.hwndFocus);
  }

  WindowId NextTabItem(WindowId window) override {
    HWND hwnd = ToHwnd(window);
    HWND parent = window ? GetParent(hwnd) : nullptr;
    return parent ? FromHwnd(GetNextDlgTabItem(parent, hwnd, FALSE)) : 0;
  }

  void Do(WindowId window, Call call) override {
    HWND hwnd = ToHwnd(window);
    if (window == 0 || !IsWindow(hwnd)) return;
    switch (call) {
      case Call::BringToTop: BringWindowToTop(hwnd); break;
      case Call::SetForeground: SetForegroundWindow(hwnd); break;
      case Call::Restore: ShowWindow(hwnd, SW_RESTORE); break;
      case Call::Show: ShowWindow(hwnd, SW_SHOW); break;
      case Call::SetFocus: WithInputOf(GetWindowThreadProcessId(hwnd, nullptr), [&] { SetFocus(hwnd); }); break;
      case Call::SetActive: WithInputOf(GetWindowThreadProcessId(hwnd, nullptr), [&] { SetActiveWindow(hwnd); }); break;
      case Call::HotkeyCommand:
        SendMessageTimeoutA(hwnd, WM_SYSCOMMAND, SC_HOTKEY, reinterpret_cast<LPARAM>(hwnd), SMTO_ABORTIFHUNG, 100,
                            nullptr);
        break;
      case Call::SelectAllText:
        SendMessageTimeoutA(hwnd, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 100, nullptr);
        break;
      case Call::AttachedForeground: {
        HWND foreground = GetForegroundWindow();
        WithInputOf(foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0, [&] {
          SetForegroundWindow(hwnd);
          BringWindowToTop(hwnd);
          SetFocus(hwnd);
        });
        break;
      }
    }
  }

  bool SetText(WindowId window, const std::string& text) override {
    DWORD_PTR result = 0;
    return window != 0 && SendMessageTimeoutA(ToHwnd(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                              SMTO_ABORTIFHUNG, 1000, &result) != 0;
  }

  // The wide form: the system carries the text to another process's list
  // whole, which the ANSI form does not do reliably.
  bool AddListItem(WindowId window, const std::string& text, bool combo) override {
    const int chars = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (window == 0 || chars <= 0) return false;
    std::vector<wchar_t> wide(static_cast<std::size_t>(chars));
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), chars);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(ToHwnd(window), combo ? CB_ADDSTRING : LB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG, 1000, &result))
      return false;
    return static_cast<LRESULT>(result) >= 0;
  }

  std::optional<std::string> ReadText(WindowId window, std::size_t max_chars, int timeout_ms) override {
    std::optional<std::wstring> wide = ReadWide(window, max_chars, timeout_ms);
    if (!wide) return std::nullopt;
    return Narrow(wide->data(), wide->size());
  }

  std::string CaptionText(WindowId window) override {
    if (window == 0) return {};
    const int length = GetWindowTextLengthW(ToHwnd(window));
    std::vector<wchar_t> wide(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    const int n = GetWindowTextW(ToHwnd(window), wide.data(), static_cast<int>(wide.size()));
    return Narrow(wide.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
  }

  // The wide messages: sent with the ANSI ones to another process's list, the
  // items come back as UTF-16 bytes.
  std::optional<ListRead> ListItems(WindowId window, bool combo, std::size_t max_item_chars, std::size_t max_total_chars,
                                    int timeout_ms, int deadline_ms) override {
    HWND hwnd = ToHwnd(window);
    const auto count = Ask(hwnd, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0, timeout_ms, true);
    if (window == 0 || !count) return std::nullopt;
    ListRead read;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(std::max(deadline_ms, 0));
    std::size_t total = 0;
    std::vector<wchar_t> wide;
    for (LRESULT i = 0; i < *count; ++i) {
      if (total >= max_total_chars || GetTickCount64() > end) {
        read.complete = false;
        read.timed_out = total < max_total_chars;
        break;
      }
      const auto length = Ask(hwnd, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, static_cast<WPARAM>(i), 0, timeout_ms, true);
      if (!length) return std::nullopt;
      if (*length < 0 || static_cast<std::size_t>(*length) > max_item_chars) {
        read.items.emplace_back();
        continue;
      }
      wide.assign(static_cast<std::size_t>(*length) + 2, L'\0');
      if (!Ask(hwnd, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide.data()),
               timeout_ms, true))
        return std::nullopt;
      wide.back() = L'\0';
      read.items.push_back(Narrow(wide.data(), std::wcslen(wide.data())));
      total += read.items.back().size() + 2;
    }
    return read;
  }

  std::optional<std::string> ListSelectedText(WindowId window, int timeout_ms) override {
    HWND hwnd = ToHwnd(window);
    const auto index = window ? Ask(hwnd, LB_GETCURSEL, 0, 0, timeout_ms, true) : std::nullopt;
    if (!index) return std::nullopt;
    if (*index < 0) return std::string();
    const auto length = Ask(hwnd, LB_GETTEXTLEN, static_cast<WPARAM>(*index), 0, timeout_ms, true);
    if (!length || *length < 0) return std::nullopt;
    std::vector<wchar_t> wide(static_cast<std::size_t>(*length) + 2, L'\0');
    if (!Ask(hwnd, LB_GETTEXT, static_cast<WPARAM>(*index), reinterpret_cast<LPARAM>(wide.data()), timeout_ms, true))
      return std::nullopt;
    wide.back() = L'\0';
    return Narrow(wide.data(), std::wcslen(wide.data()));
  }

  // The system carries EM_GETSEL's two numbers to and from another process.
  std::optional<std::string> EditSelectedText(WindowId window, std::size_t max_chars, int timeout_ms) override {
    DWORD start = 0, end = 0;
    if (window == 0 || !Ask(ToHwnd(window), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end),
                            timeout_ms, true))
      return std::nullopt;
    std::optional<std::wstring> wide = ReadWide(window, 0, timeout_ms);
    if (!wide) return std::nullopt;
    const std::size_t from = std::min<std::size_t>(start, wide->size());
    const std::size_t count = std::min<std::size_t>(end > start ? end - start : 0, max_chars);
    const std::wstring part = wide->substr(from, count);
    return Narrow(part.data(), part.size());
  }

  // LVITEMW and the text buffer live in the list view's process: the system
  // does not carry list view messages' pointers.
  std::optional<ListViewRead> ListViewSelection(WindowId window, int timeout_ms) override {
    HWND hwnd = ToHwnd(window);
    DWORD process_id = 0;
    if (window == 0 || !GetWindowThreadProcessId(hwnd, &process_id)) return std::nullopt;
    const auto total = Ask(hwnd, LVM_GETITEMCOUNT, 0, 0, timeout_ms, true);
    if (!total) return std::nullopt;
    ListViewRead read;
    read.total = static_cast<long>(*total);
    constexpr std::size_t kChars = 4096;
    RemoteBlock block(process_id, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    if (!block) return std::nullopt;
    LRESULT item = -1;
    for (long guard = 0; guard <= read.total; ++guard) {
      const auto next = Ask(hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(item), LVNI_SELECTED, timeout_ms, true);
      if (!next || *next < 0 || *next <= item) break;
      item = *next;
      LVITEMW request{};
      request.mask = LVIF_TEXT;
      request.iItem = static_cast<int>(item);
      request.pszText = reinterpret_cast<LPWSTR>(block.at(sizeof(LVITEMW)));
      request.cchTextMax = static_cast<int>(kChars);
      std::vector<wchar_t> wide(kChars, L'\0');
      const wchar_t zero = L'\0';
      const bool asked = block.Write(0, &request, sizeof request) && block.Write(sizeof(LVITEMW), &zero, sizeof zero) &&
                         Ask(hwnd, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(block.at(0)),
                             timeout_ms, true) &&
                         block.Read(sizeof(LVITEMW), wide.data(), kChars * sizeof(wchar_t));
      if (!asked) {
        read.selected.push_back(std::nullopt);
        continue;
      }
      wide.back() = L'\0';
      read.selected.push_back(Narrow(wide.data(), std::wcslen(wide.data())));
    }
    return read;
  }

  std::optional<int> CheckState(WindowId window, int timeout_ms) override {
    const auto state = window ? Ask(ToHwnd(window), BM_GETCHECK, 0, 0, timeout_ms) : std::nullopt;
    if (!state) return std::nullopt;
    return static_cast<int>(*state);
  }

  std::uint32_t ProcessId(WindowId window) override {
    DWORD id = 0;
    if (window != 0) GetWindowThreadProcessId(ToHwnd(window), &id);
    return id;
  }

  std::string ProcessPath(WindowId window) override {
    const DWORD id = ProcessId(window);
    HANDLE process = id ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id) : nullptr;
    if (!process) return {};
    char path[MAX_PATH * 4] = {};
    DWORD size = sizeof path;
    const BOOL got = QueryFullProcessImageNameA(process, 0, path, &size);
    CloseHandle(process);
    return got ? std::string(path, size) : std::string();
  }

  bool Place(WindowId window, Placement how) override {
    static constexpr int kCommands[] = {SW_MAXIMIZE, SW_MINIMIZE, SW_RESTORE, SW_SHOW, SW_HIDE};
    HWND hwnd = ToHwnd(window);
    if (window == 0 || !IsWindow(hwnd)) return false;
    ShowWindow(hwnd, kCommands[static_cast<int>(how)]);
    return true;
  }

  bool MoveTo(WindowId window, long x, long y) override {
    return window != 0 && SetWindowPos(ToHwnd(window), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  bool ResizeTo(WindowId window, long width, long height) override {
    return window != 0 &&
           SetWindowPos(ToHwnd(window), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  bool SetTopmost(WindowId window, bool topmost) override {
    return window != 0 && SetWindowPos(ToHwnd(window), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  bool Enable(WindowId window, bool enabled) override {
    if (window == 0 || !IsWindow(ToHwnd(window))) return false;
    EnableWindow(ToHwnd(window), enabled);
    return true;
  }

  bool SetStyle(WindowId window, std::uint32_t bits) override {
    if (window == 0 || !IsWindow(ToHwnd(window))) return false;
    SetLastError(0);
    return SetWindowLongA(ToHwnd(window), GWL_STYLE, static_cast<LONG>(bits)) != 0 || GetLastError() == 0;
  }

  void Repaint(WindowId window) override {
    HWND hwnd = ToHwnd(window);
    if (window == 0 || !IsWindow(hwnd)) return;
    InvalidateRect(hwnd, nullptr, TRUE);
    UpdateWindow(hwnd);
    Ask(hwnd, WM_PAINT, 0, 0, 250);
    Ask(hwnd, WM_NCPAINT, 1, 0, 250);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void Update(WindowId window) override {
    if (window != 0) UpdateWindow(ToHwnd(window));
  }

  bool SetCheck(WindowId window, bool checked) override {
    return window != 0 && Ask(ToHwnd(window), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0, 1000).has_value();
  }

  void PostSetFocus(WindowId window) override {
    if (window != 0) PostMessageA(ToHwnd(window), WM_SETFOCUS, 0, 0);
  }

  bool SendClose(WindowId window, int timeout_ms) override {
    return window != 0 && Ask(ToHwnd(window), WM_CLOSE, 0, 0, timeout_ms).has_value();
  }

  bool EndProcessOf(WindowId window) override {
    const DWORD id = ProcessId(window);
    if (id == 0 || id == GetCurrentProcessId()) return false;
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
    if (!process) return false;
    const BOOL ended = TerminateProcess(process, 1);
    CloseHandle(process);
    return ended != 0;
  }

 private:
  // WM_GETTEXT into `max_chars` characters; with 0, WM_GETTEXTLENGTH + 4096, at least 1 MB.
  static std::optional<std::wstring> ReadWide(WindowId window, std::size_t max_chars, int timeout_ms) {
    HWND hwnd = ToHwnd(window);
    if (window == 0 || !IsWindow(hwnd)) return std::nullopt;
    if (max_chars == 0) {
      const auto length = Ask(hwnd, WM_GETTEXTLENGTH, 0, 0, timeout_ms, true);
      if (!length) return std::nullopt;
      max_chars = std::max<std::size_t>(static_cast<std::size_t>(std::max<LRESULT>(*length, 0)) + 4096, 0x100000);
    }
    std::wstring wide(max_chars + 1, L'\0');
    if (!Ask(hwnd, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(wide.data()), timeout_ms, true)) return std::nullopt;
    wide.resize(std::wcslen(wide.c_str()));
    return wide;
  }
  static BOOL CALLBACK Collect(HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<WindowId>*>(list)->push_back(FromHwnd(hwnd));
    return TRUE;
  }
  // Runs `body` with this thread's input state shared with `thread` (when
  // that is another thread), so that focus and activation calls reach it.
  template <class Body>
  static void WithInputOf(DWORD thread, Body body) {
    const DWORD own = GetCurrentThreadId();
    bool attached = false, reversed = false;
    if (thread != 0 && thread != own) {
      attached = AttachThreadInput(own, thread, TRUE) != 0;
      if (!attached) reversed = AttachThreadInput(thread, own, TRUE) != 0;
    }
    body();
    if (attached) AttachThreadInput(own, thread, FALSE);
    if (reversed) AttachThreadInput(thread, own, FALSE);
  }
};

}  // namespace

void DeclareDpiAware() {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  if (!user32) return;
  using ContextFn = BOOL(WINAPI*)(HANDLE);
  if (auto per_monitor = reinterpret_cast<ContextFn>(
          reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))) {
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, else the first per-monitor form.
    if (per_monitor(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))) ||
        per_monitor(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3))))
      return;
  }
  using AwareFn = BOOL(WINAPI*)();
  if (auto system_aware = reinterpret_cast<AwareFn>(reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDPIAware"))))
    system_aware();
}

Windows& PlatformWindows() {
  static Win32Windows instance;
  return instance;
}

}  // namespace platform
