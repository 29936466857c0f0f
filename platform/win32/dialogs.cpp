#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace platform {
namespace {

constexpr int kPromptIcon = 1000, kPromptText = 1001, kPromptEdit = 1002, kPromptList = 1003, kPromptUser = 1004,
              kPromptPassword = 1005, kPromptCalendar = 1006;
constexpr UINT_PTR kTimeOutTimer = 999;

// What the holder does to the prompt it owns when the time runs out.
enum class OnTimeOut { kEndBox, kCancel };

struct Holder {
  HWND window = nullptr;
  OnTimeOut action = OnTimeOut::kEndBox;
};

BOOL CALLBACK EndOwnedPrompt(HWND window, LPARAM lparam) {
  const Holder* holder = reinterpret_cast<const Holder*>(lparam);
  if (GetWindow(window, GW_OWNER) != holder->window) return TRUE;
  if (holder->action == OnTimeOut::kEndBox) EndDialog(window, 0);
  else PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return FALSE;
}

LRESULT CALLBACK HolderProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && wparam == kTimeOutTimer) {
    KillTimer(window, kTimeOutTimer);
    auto* holder = reinterpret_cast<Holder*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (holder) EnumThreadWindows(GetCurrentThreadId(), EndOwnedPrompt, reinterpret_cast<LPARAM>(holder));
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// A hidden tool window of the class "TimedDialogHolder" that owns one prompt
// and ends it when its timer fires.
class TimedDialogHolder {
 public:
  TimedDialogHolder(int timeout_ms, OnTimeOut action) {
    if (timeout_ms <= 0) return;
    static const bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = HolderProc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = "TimedDialogHolder";
      return RegisterClassA(&wc) != 0;
    }();
    if (!registered) return;
    holder_.action = action;
    holder_.window = CreateWindowExA(WS_EX_TOOLWINDOW, "TimedDialogHolder", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);
    if (!holder_.window) return;
    SetWindowLongPtrA(holder_.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&holder_));
    SetTimer(holder_.window, kTimeOutTimer, static_cast<UINT>(timeout_ms), nullptr);
  }
  ~TimedDialogHolder() {
    if (holder_.window) DestroyWindow(holder_.window);
  }
  HWND window() const { return holder_.window; }

 private:
  Holder holder_;
};

// While a modal prompt is open, a thread timer asks the run whether it is to
// stop; if so every dialog of the thread is closed (message boxes ended,
// other dialogs cancelled) and the prompt reports that it was stopped.
constexpr UINT kStopPollMs = 100;
thread_local bool t_stopped = false;
thread_local bool t_boxes = false;

BOOL CALLBACK CloseThreadDialog(HWND window, LPARAM) {
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") != 0) return TRUE;
  if (t_boxes) EndDialog(window, 0);
  else PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

void CALLBACK StopTick(HWND, UINT, UINT_PTR, DWORD) {
  if (t_stopped) return;
  const RunHooks hooks = CurrentRunHooks();
  if (!hooks.stop_wanted || !hooks.stop_wanted()) return;
  t_stopped = true;
  EnumThreadWindows(GetCurrentThreadId(), CloseThreadDialog, 0);
}

class StopWatch {
 public:
  explicit StopWatch(bool boxes) {
    t_stopped = false;
    t_boxes = boxes;
    timer_ = SetTimer(nullptr, 0, kStopPollMs, StopTick);
  }
  ~StopWatch() {
    if (timer_) KillTimer(nullptr, timer_);
  }
  StopWatch(const StopWatch&) = delete;
  StopWatch& operator=(const StopWatch&) = delete;
  bool stopped() const { return t_stopped; }

 private:
  UINT_PTR timer_ = 0;
};

std::string ItemText(HWND dialog, int id) {
  const int length = GetWindowTextLengthA(GetDlgItem(dialog, id));
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
  GetDlgItemTextA(dialog, id, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
  return text;
}

std::string ListText(HWND list, int index) {
  const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR) return "";
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

struct InputState {
  const InputRequest* request;
  InputReply* reply;
};

void Collect(HWND dialog, InputState* state) {
  const InputRequest& r = *state->request;
  std::string& answer = state->reply->answer;
  switch (r.kind) {
    case InputKind::kList:
    case InputKind::kMultiList: {
      HWND list = GetDlgItem(dialog, kPromptList);
      if (r.kind == InputKind::kList) {
        const LRESULT at = SendMessageA(list, LB_GETCURSEL, 0, 0);
        if (at != LB_ERR) answer = ListText(list, static_cast<int>(at));
      } else {
        const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i)
          if (SendMessageA(list, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0)
            answer += (answer.empty() ? "" : ";") + ListText(list, static_cast<int>(i));
      }
      break;
    }
    case InputKind::kLogin:
      answer = ItemText(dialog, kPromptUser) + ";" + ItemText(dialog, kPromptPassword);
      break;
    case InputKind::kDate: {
      SYSTEMTIME day{};
      SendMessageA(GetDlgItem(dialog, kPromptCalendar), MCM_GETCURSEL, 0, reinterpret_cast<LPARAM>(&day));
      char text[128] = {};
      GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &day, nullptr, text, sizeof text);
      answer = text;
      break;
    }
    default:
      answer = ItemText(dialog, kPromptEdit);
  }
}

void End(HWND dialog, InputState* state, bool ok) {
  KillTimer(dialog, kTimeOutTimer);
  RECT rect{};
  if (GetWindowRect(dialog, &rect)) state->reply->position = DialogRect{rect.left, rect.top, rect.right, rect.bottom};
  state->reply->ok = ok;
  if (ok) Collect(dialog, state);
  EndDialog(dialog, ok ? 1 : 0);
}

// The size options: the dialog `wide` times as wide and `high` times as high;
// the buttons keep to the bottom right corner, the fields and lists grow.
void Enlarge(HWND dialog, int wide, int high) {
  RECT outer{}, client{};
  GetWindowRect(dialog, &outer);
  GetClientRect(dialog, &client);
  const int dw = client.right * (wide - 1), dh = client.bottom * (high - 1);
  SetWindowPos(dialog, nullptr, 0, 0, outer.right - outer.left + dw, outer.bottom - outer.top + dh, SWP_NOMOVE | SWP_NOZORDER);
  for (HWND item = GetWindow(dialog, GW_CHILD); item; item = GetWindow(item, GW_HWNDNEXT)) {
    RECT rect{};
    GetWindowRect(item, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    const int id = GetDlgCtrlID(item);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (id == IDOK || id == IDCANCEL) {
      SetWindowPos(item, nullptr, rect.left + dw, rect.top + dh, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    } else if (id == kPromptText || id == kPromptUser || id == kPromptPassword ||
               (id == kPromptEdit && !(GetWindowLongA(item, GWL_STYLE) & ES_MULTILINE))) {
      SetWindowPos(item, nullptr, 0, 0, width + dw, height, SWP_NOMOVE | SWP_NOZORDER);
    } else if (id == kPromptEdit || id == kPromptList || id == kPromptCalendar) {
      SetWindowPos(item, nullptr, 0, 0, width + dw, height + dh, SWP_NOMOVE | SWP_NOZORDER);
    }
  }
}

void SetUp(HWND dialog, InputState* state) {
  const InputRequest& r = *state->request;
  SetWindowTextA(dialog, r.title.empty() ? "Olvex Message" : r.title.c_str());
  SendDlgItemMessageA(dialog, kPromptIcon, STM_SETICON,
                      reinterpret_cast<WPARAM>(LoadIconA(nullptr, MAKEINTRESOURCEA(32516))), 0);  // IDI_INFORMATION
  if (r.prompt.find_first_not_of("\r\n \t") != std::string::npos) SetDlgItemTextA(dialog, kPromptText, r.prompt.c_str());
  HWND list = GetDlgItem(dialog, kPromptList);
  if (list) {
    std::vector<std::string> choices = r.choices;
    if (choices.empty() && (r.flags & prompt_flag::kDrive)) {
      char drives[512] = {};
      GetLogicalDriveStringsA(sizeof drives - 1, drives);
      for (const char* d = drives; *d; d += std::strlen(d) + 1) choices.push_back(d);
    }
    for (const auto& choice : choices) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.c_str()));
    if (!r.initial.empty()) SendMessageA(list, LB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(r.initial.c_str()));
  }
  if (r.kind == InputKind::kDate && r.year > 0) {
    SYSTEMTIME day{};
    day.wYear = static_cast<WORD>(r.year);
    day.wMonth = static_cast<WORD>(r.month);
    day.wDay = static_cast<WORD>(r.day);
    SendDlgItemMessageA(dialog, kPromptCalendar, MCM_SETCURSEL, 0, reinterpret_cast<LPARAM>(&day));
  }
  const int edit = r.kind == InputKind::kLogin ? kPromptUser : kPromptEdit;
  if (GetDlgItem(dialog, edit)) SetDlgItemTextA(dialog, edit, r.initial.c_str());
  if (r.flags & prompt_flag::kCourier)
    SendDlgItemMessageA(dialog, edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), TRUE);
  if (r.flags & prompt_flag::kReadOnly) {
    SendDlgItemMessageA(dialog, edit, EM_SETREADONLY, TRUE, 0);
    ShowWindow(GetDlgItem(dialog, IDOK), SW_HIDE);
    SetDlgItemTextA(dialog, IDCANCEL, "&Close");
  }
  static const struct {
    unsigned flag;
    int wide, high;
  } kSizes[] = {{prompt_flag::kSize1x2, 1, 2}, {prompt_flag::kSize2x1, 2, 1}, {prompt_flag::kSize2x2, 2, 2},
                {prompt_flag::kSize2x3, 2, 3}, {prompt_flag::kSize3x4, 3, 4}};
  for (const auto& size : kSizes)
    if (r.flags & size.flag) {
      Enlarge(dialog, size.wide, size.high);
      break;
    }
  // "Fixed": the dialog stays where the system puts it (centred), not where it last stood.
  if (r.position && !(r.flags & prompt_flag::kFixed)) {
    SetWindowPos(dialog, nullptr, r.position->left, r.position->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  }
  if (r.flags & prompt_flag::kTop) SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  if (r.timeout_ms > 0) SetTimer(dialog, kTimeOutTimer, static_cast<UINT>(r.timeout_ms), nullptr);
  SetForegroundWindow(dialog);
}

INT_PTR CALLBACK InputDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<InputState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      SetUp(dialog, reinterpret_cast<InputState*>(lparam));
      return TRUE;
    case WM_TIMER:
      if (wparam == kTimeOutTimer && state) End(dialog, state, true);  // the time-out ends as OK
      return TRUE;
    case WM_COMMAND:
      if (!state) return FALSE;
      if (LOWORD(wparam) == IDOK) End(dialog, state, !(state->request->flags & prompt_flag::kReadOnly));
      else if (LOWORD(wparam) == IDCANCEL) End(dialog, state, false);
      else if (LOWORD(wparam) == kPromptList && HIWORD(wparam) == LBN_DBLCLK) End(dialog, state, true);
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
      if (state && header->idFrom == kPromptCalendar && header->code == MCN_SELECT) {
        // A double-click on a day confirms it.
        static DWORD last = 0;
        const DWORD now = GetTickCount();
        if (now - last < GetDoubleClickTime()) End(dialog, state, true);
        last = now;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

int TemplateOf(const InputRequest& r) {
  switch (r.kind) {
    case InputKind::kMultiLine: return 1411;
    case InputKind::kList: return 1407;
    case InputKind::kMultiList: return 1408;
    case InputKind::kLogin: return 1409;
    case InputKind::kDate: return 1410;
    default: return 1406;
  }
}

// The owner of a file or folder dialog without a time-out: the desktop when
// one of the runtime's popups is in front, else the window in front.
HWND PromptOwner() {
  HWND front = GetForegroundWindow();
  char cls[32] = {};
  GetClassNameA(front, cls, sizeof cls);
  DWORD pid = 0;
  GetWindowThreadProcessId(front, &pid);
  return pid == GetCurrentProcessId() && std::strcmp(cls, "BrenvoPopup") == 0 ? GetDesktopWindow() : front;
}

// The shortest time-out of a file (folder) dialog: the newer dialogs of
// Windows Vista and later take longer to appear.
int DialogTimeOut(int timeout_ms, int newer_minimum) {
  const bool newer = LOBYTE(LOWORD(GetVersion())) >= 6;
  return timeout_ms > 0 && newer && timeout_ms < newer_minimum ? newer_minimum : timeout_ms;
}

InputReply FileDialog(const InputRequest& r) {
  InputReply reply;
  std::string filter;
  for (const auto& [description, pattern] : r.filters) filter += description + '\0' + pattern + '\0';
  filter += '\0';
  std::string buffer(std::size_t{16} << 20, '\0');
  buffer.replace(0, r.initial.size(), r.initial);
  TimedDialogHolder holder(DialogTimeOut(r.timeout_ms, 5000), OnTimeOut::kCancel);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = holder.window() ? holder.window() : PromptOwner();
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrTitle = r.title.empty() ? nullptr : r.title.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (r.kind == InputKind::kOpenFiles) ofn.Flags |= OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST;
  const BOOL ok = r.kind == InputKind::kSaveFile ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
  if (!ok) return reply;
  reply.ok = true;
  if (r.kind == InputKind::kOpenFiles && buffer[std::strlen(buffer.c_str()) + 1] != '\0') {
    // Several files: the folder, then the names; each is joined to the folder, ";" between them.
    const std::string folder = buffer.c_str();
    for (const char* name = buffer.c_str() + folder.size() + 1; *name; name += std::strlen(name) + 1)
      reply.answer += (reply.answer.empty() ? "" : ";") + folder + (folder.back() == '\\' ? "" : "\\") + name;
  } else {
    reply.answer = buffer.c_str();
  }
  return reply;
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data) SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

InputReply FolderDialog(const InputRequest& r) {
  InputReply reply;
  TimedDialogHolder holder(DialogTimeOut(r.timeout_ms, 2000), OnTimeOut::kCancel);
  char display[MAX_PATH] = {};
  BROWSEINFOA info{};
  info.hwndOwner = holder.window() ? holder.window() : PromptOwner();
  info.pszDisplayName = display;
  info.lpszTitle = r.title.empty() ? "Select Folder" : r.title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = BrowseCallback;
  info.lParam = r.initial.empty() ? 0 : reinterpret_cast<LPARAM>(r.initial.c_str());
  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (!chosen) return reply;
  char path[MAX_PATH] = {};
  reply.ok = SHGetPathFromIDListA(chosen, path) != FALSE;
  reply.answer = path;
  CoTaskMemFree(chosen);
  return reply;
}


// The custom dialog (template 1405): per row a label, a text field, a browse
// button, a check box, a button, a drop-down list and a password field.
constexpr int kRowLabels[5] = {1370, 1371, 1372, 1373, 1375};
constexpr int kRowEdit = 1229, kRowBrowse = 1245, kRowCheck = 1182, kRowButton = 1175, kRowList = 1281,
              kRowPassword = 1315, kFrame = 1254;
constexpr UINT_PTR kCustomTimer = 1000;

struct CustomState {
  const CustomDialogRequest* request;
  CustomDialogReply* reply;
};

void ShowItem(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextA(dialog, id, text.c_str());
  ShowWindow(GetDlgItem(dialog, id), SW_SHOW);
}

bool Shown(HWND dialog, int id) { return (GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0; }

// "Center": check boxes, buttons, links and labels stand in the middle of the dialog.
void CenterRowItems(HWND dialog, const CustomDialogRequest& r) {
  RECT client{};
  GetClientRect(dialog, &client);
  for (int n = 0; n < 5 && static_cast<std::size_t>(n) < r.rows.size(); ++n) {
    int id = 0;
    switch (r.rows[static_cast<std::size_t>(n)].kind) {
      case RowKind::kCheck: id = kRowCheck + n; break;
      case RowKind::kButton: id = kRowButton + n; break;
      case RowKind::kLabel:
      case RowKind::kLink: id = kRowLabels[n]; break;
      default: continue;
    }
    HWND item = GetDlgItem(dialog, id);
    RECT rect{};
    GetWindowRect(item, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    SetWindowPos(item, nullptr, (client.right - (rect.right - rect.left)) / 2, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  }
}

void SetUpCustom(HWND dialog, const CustomDialogRequest& r) {
  SetWindowTextA(dialog, r.title.c_str());
  SetDlgItemTextA(dialog, kFrame, r.title.c_str());
  for (int n = 0; n < 5 && static_cast<std::size_t>(n) < r.rows.size(); ++n) {
    const CustomRow& row = r.rows[static_cast<std::size_t>(n)];
    switch (row.kind) {
      case RowKind::kEdit:
      case RowKind::kFile:
      case RowKind::kFolder:
        ShowItem(dialog, kRowLabels[n], row.text);
        ShowItem(dialog, kRowEdit + n, row.value);
        if (row.kind != RowKind::kEdit) ShowItem(dialog, kRowBrowse + n, "...");
        break;
      case RowKind::kPassword:
        ShowItem(dialog, kRowLabels[n], row.text);
        ShowItem(dialog, kRowPassword + n, row.value);
        break;
      case RowKind::kLabel:
      case RowKind::kLink: {
        // A label or link row has the whole row; a link can be clicked.
        HWND label = GetDlgItem(dialog, kRowLabels[n]);
        RECT row_rect{}, frame{};
        GetWindowRect(label, &row_rect);
        GetWindowRect(GetDlgItem(dialog, kRowBrowse + n), &frame);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&row_rect), 2);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&frame), 2);
        SetWindowPos(label, nullptr, 0, 0, frame.right - row_rect.left, row_rect.bottom - row_rect.top,
                     SWP_NOMOVE | SWP_NOZORDER);
        LONG style = GetWindowLongA(label, GWL_STYLE) & ~(SS_TYPEMASK);
        style |= r.center ? SS_CENTER : SS_LEFT;
        if (row.kind == RowKind::kLink) style |= SS_NOTIFY;
        SetWindowLongA(label, GWL_STYLE, style);
        ShowItem(dialog, kRowLabels[n], row.text);
        break;
      }
      case RowKind::kCheck:
        ShowItem(dialog, kRowCheck + n, row.text);
        CheckDlgButton(dialog, kRowCheck + n, row.checked ? BST_CHECKED : BST_UNCHECKED);
        break;
      case RowKind::kButton:
        ShowItem(dialog, kRowButton + n, row.text);
        break;
      case RowKind::kList: {
        ShowItem(dialog, kRowLabels[n], row.text);
        HWND list = GetDlgItem(dialog, kRowList + n);
        for (const auto& choice : row.choices) SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.c_str()));
        if (!row.value.empty()) SendMessageA(list, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(row.value.c_str()));
        ShowWindow(list, SW_SHOW);
        break;
      }
      case RowKind::kNone:
        break;
    }
  }
  if (r.center) CenterRowItems(dialog, r);
  if (r.top) SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  if (r.timeout_ms > 0) SetTimer(dialog, kCustomTimer, static_cast<UINT>(r.timeout_ms), nullptr);
  SetForegroundWindow(dialog);
}

void EndCustom(HWND dialog, CustomState* state, int result) {
  KillTimer(dialog, kCustomTimer);
  CustomDialogReply& reply = *state->reply;
  reply.result = result;
  reply.values.assign(state->request->rows.size(), std::nullopt);
  for (int n = 0; n < 5 && static_cast<std::size_t>(n) < reply.values.size(); ++n) {
    std::optional<std::string>& value = reply.values[static_cast<std::size_t>(n)];
    if (Shown(dialog, kRowCheck + n)) value = IsDlgButtonChecked(dialog, kRowCheck + n) == BST_CHECKED ? "checked" : "false";
    else if (Shown(dialog, kRowEdit + n)) value = ItemText(dialog, kRowEdit + n).substr(0, 255);
    else if (Shown(dialog, kRowPassword + n)) value = ItemText(dialog, kRowPassword + n).substr(0, 255);
    else if (Shown(dialog, kRowList + n)) value = ItemText(dialog, kRowList + n);
    else if (Shown(dialog, kRowButton + n)) value = ItemText(dialog, kRowButton + n).substr(0, 259);
    else if (Shown(dialog, kRowLabels[n])) value = ItemText(dialog, kRowLabels[n]).substr(0, 259);
  }
  EndDialog(dialog, result);
}

// The row whose link label has this id, else -1.
int LinkRow(const CustomState* state, int id) {
  for (int n = 0; n < 5 && static_cast<std::size_t>(n) < state->request->rows.size(); ++n)
    if (kRowLabels[n] == id && state->request->rows[static_cast<std::size_t>(n)].kind == RowKind::kLink) return n;
  return -1;
}

INT_PTR CALLBACK CustomDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<CustomState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_CTLCOLORSTATIC:
      // Links are blue.
      if (state && LinkRow(state, GetDlgCtrlID(reinterpret_cast<HWND>(lparam))) >= 0) {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, RGB(0, 0, 255));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
      }
      return FALSE;
    case WM_SETCURSOR:
      if (state && LinkRow(state, GetDlgCtrlID(reinterpret_cast<HWND>(wparam))) >= 0) {
        SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      SetUpCustom(dialog, *reinterpret_cast<CustomState*>(lparam)->request);
      return TRUE;
    case WM_TIMER:
      if (wparam == kCustomTimer && state) EndCustom(dialog, state, custom_dialog::kCancel);
      return TRUE;
    case WM_COMMAND: {
      if (!state) return FALSE;
      const int id = LOWORD(wparam);
      if (id == IDOK) EndCustom(dialog, state, custom_dialog::kOk);
      else if (id == IDCANCEL) EndCustom(dialog, state, custom_dialog::kCancel);
      else if (id >= kRowButton && id < kRowButton + 5) EndCustom(dialog, state, id);
      else if (const int row = LinkRow(state, id); row >= 0 && HIWORD(wparam) == STN_CLICKED)
        ShellExecuteA(dialog, "open", state->request->rows[static_cast<std::size_t>(row)].value.c_str(), nullptr, nullptr,
                      SW_SHOWNORMAL);
      else if (id >= kRowBrowse && id < kRowBrowse + 5) {
        const std::size_t n = static_cast<std::size_t>(id - kRowBrowse);
        InputRequest browse;
        browse.initial = ItemText(dialog, kRowEdit + static_cast<int>(n));
        if (n < state->request->rows.size() && state->request->rows[n].kind == RowKind::kFolder) {
          browse.kind = InputKind::kFolder;
          browse.title = "Select Folder";
        } else {
          browse.kind = InputKind::kOpenFile;
          browse.filters = {{"All Files (*.*)", "*.*"}};
        }
        const InputReply chosen = browse.kind == InputKind::kFolder ? FolderDialog(browse) : FileDialog(browse);
        if (chosen.ok) SetDlgItemTextA(dialog, kRowEdit + static_cast<int>(n), chosen.answer.c_str());
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}


// The non-modal displays: one popup window per kind (the status popup of the
// class "BrenvoPopup"), the tray icon of the runtime's window.
constexpr UINT_PTR kPopupTimer = 0x8002;
constexpr int kProgressBar = 32771;
HWND g_popups[7] = {};

int SlotOf(NoticeKind kind) { return kind == NoticeKind::kProgress ? static_cast<int>(NoticeKind::kStatus) : static_cast<int>(kind); }

LRESULT CALLBACK PopupProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT rect;
      GetClientRect(window, &rect);
      rect.left += 5;
      rect.right -= 5;
      rect.top += 5;
      char text[4096] = {};
      GetWindowTextA(window, text, sizeof text);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      HBITMAP picture = reinterpret_cast<HBITMAP>(GetWindowLongPtrA(window, GWLP_USERDATA));
      if (picture && GetDlgItem(window, kProgressBar) == nullptr && GetPropA(window, "OlvexImage")) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, picture);
        BITMAP info{};
        GetObjectA(picture, sizeof info, &info);
        BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
      } else {
        DrawTextA(dc, text, -1, &rect, DT_WORDBREAK | DT_NOPREFIX);
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER:
      if (wparam == kPopupTimer) DestroyWindow(window);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_CHAR:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY: {
      if (GetPropA(window, "OlvexImage")) {
        DeleteObject(reinterpret_cast<HBITMAP>(GetWindowLongPtrA(window, GWLP_USERDATA)));
        RemovePropA(window, "OlvexImage");
      }
      for (HWND& popup : g_popups)
        if (popup == window) popup = nullptr;
      return 0;
    }
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

bool PopupClass() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PopupProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_INFOBK + 1);
    wc.lpszClassName = "BrenvoPopup";
    return RegisterClassA(&wc) != 0;
  }();
  return registered;
}

// The tray icon's window: a hidden window of the thread that shows the icon
// (the main thread), which serves the icon's menu and removes a balloon's
// icon when its time is up.
constexpr UINT kTrayMessage = 0x9772;
constexpr UINT kTrayIcon = 1001, kBalloonIcon = 1002;
constexpr UINT kStopCommand = 0x408;
constexpr UINT_PTR kBalloonTimer = 1002;
bool g_tray_shown[2] = {};  // the tray icon, the balloon's icon

void RemoveTrayIcon(HWND window, UINT id) {
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = id;
  bool& shown = g_tray_shown[id == kBalloonIcon ? 1 : 0];
  if (shown) Shell_NotifyIconA(NIM_DELETE, &data);
  shown = false;
}

// The menu at the cursor: the script's name (disabled), a line, "Stop Script".
void ShowTrayMenu(HWND window) {
  const RunHooks hooks = CurrentRunHooks();
  const std::string name = "\"" + (hooks.script_name ? hooks.script_name() : std::string()) + "\"";
  HMENU menu = CreatePopupMenu();
  AppendMenuA(menu, MF_STRING | MF_GRAYED, 1, name.c_str());
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, kStopCommand, "Stop Script");
  POINT at{};
  GetCursorPos(&at);
  SetForegroundWindow(window);
  const UINT chosen = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr));
  PostMessageA(window, WM_NULL, 0, 0);  // so that the menu closes when the user clicks elsewhere
  DestroyMenu(menu);
  if (chosen == kStopCommand && hooks.stop) hooks.stop();
}

LRESULT CALLBACK TrayProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kTrayMessage && (lparam == WM_LBUTTONDBLCLK || lparam == WM_RBUTTONUP)) {
    ShowTrayMenu(window);
    return 0;
  }
  if (message == WM_TIMER && wparam == kBalloonTimer) {
    KillTimer(window, kBalloonTimer);
    RemoveTrayIcon(window, kBalloonIcon);
    return 0;
  }
  if (message == WM_DESTROY) {
    RemoveTrayIcon(window, kTrayIcon);
    RemoveTrayIcon(window, kBalloonIcon);
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

HWND TrayWindow() {
  static HWND window = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TrayProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OlvexTray";
    RegisterClassA(&wc);
    return CreateWindowExA(WS_EX_TOOLWINDOW, "OlvexTray", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  }();
  // The icons go when the program ends, so that none is left in the tray.
  static const struct Cleanup {
    ~Cleanup() {
      RemoveTrayIcon(window, kTrayIcon);
      RemoveTrayIcon(window, kBalloonIcon);
    }
  } cleanup;
  return window;
}

// The tray icon's picture: the first icon of the script when it is a program,
// else the runtime's icon 1000 at the small size, else the system's.
HICON TrayPicture(const std::string& script) {
  static HICON icon = nullptr;
  if (icon) return icon;
  const std::size_t dot = script.find_last_of('.');
  if (dot != std::string::npos && lstrcmpiA(script.c_str() + dot, ".exe") == 0)
    icon = ExtractIconA(GetModuleHandleA(nullptr), script.c_str(), 0);
  if (reinterpret_cast<UINT_PTR>(icon) <= 1)
    icon = static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1000), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  if (!icon) icon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
  return icon;
}

void Tray(const Notice& notice) {
  HWND window = TrayWindow();
  const bool balloon = notice.kind == NoticeKind::kBalloon;
  const UINT id = balloon ? kBalloonIcon : kTrayIcon;
  if (notice.text.empty()) {
    RemoveTrayIcon(window, id);
    return;
  }
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = id;
  data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = balloon ? LoadIconA(nullptr, MAKEINTRESOURCEA(32516)) : TrayPicture(notice.icon_file);  // IDI_INFORMATION
  lstrcpynA(data.szTip, (balloon ? notice.title : notice.text).c_str(), sizeof data.szTip);
  if (balloon) {
    data.uFlags |= NIF_INFO;
    lstrcpynA(data.szInfo, notice.text.c_str(), sizeof data.szInfo);
    lstrcpynA(data.szInfoTitle, notice.title.c_str(), sizeof data.szInfoTitle);
    data.uTimeout = static_cast<UINT>(notice.timeout_ms);
    data.dwInfoFlags = NIIF_INFO;
    // The balloon's icon goes with the balloon.
    SetTimer(window, kBalloonTimer, static_cast<UINT>(notice.timeout_ms), nullptr);
  }
  bool& shown = g_tray_shown[balloon ? 1 : 0];
  shown = Shell_NotifyIconA(shown ? NIM_MODIFY : NIM_ADD, &data) != FALSE || shown;
}

void Popup(const Notice& notice) {
  if (!PopupClass()) return;
  HWND& popup = g_popups[SlotOf(notice.kind)];
  if (popup && !IsWindow(popup)) popup = nullptr;  // gone with the thread that made it
  const bool replace = notice.kind != NoticeKind::kStatus && notice.kind != NoticeKind::kProgress;
  if (popup && (notice.text.empty() || replace || (notice.top && !(GetWindowLongA(popup, GWL_EXSTYLE) & WS_EX_TOPMOST)))) {
    PostMessageA(popup, WM_CLOSE, 0, 0);
    Sleep(20);
    DestroyWindow(popup);
    popup = nullptr;
  }
  if (notice.text.empty()) return;
  HBITMAP picture = nullptr;
  int width = notice.width > 0 ? notice.width : 300, height = notice.height > 0 ? notice.height : 60;
  if (notice.kind == NoticeKind::kImage) {
    picture = static_cast<HBITMAP>(LoadImageA(nullptr, notice.text.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    BITMAP info{};
    if (picture && GetObjectA(picture, sizeof info, &info)) {
      width = info.bmWidth;
      height = info.bmHeight;
    }
  }
  if (!popup) {
    const int screen_w = GetSystemMetrics(SM_CXSCREEN), screen_h = GetSystemMetrics(SM_CYSCREEN);
    int x = notice.x, y = notice.y;
    if (x < 1 || y < 1 || x >= screen_w || y >= screen_h) {
      x = (screen_w - width) / 2;
      y = (screen_h - height) / 2;
    }
    popup = CreateWindowExA((notice.top ? WS_EX_TOPMOST : 0) | WS_EX_TOOLWINDOW,
                            "BrenvoPopup", "", WS_POPUP | WS_BORDER, x, y, width, height, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    if (!popup) return;
    if (notice.kind == NoticeKind::kProgress) {
      RECT client;
      GetClientRect(popup, &client);
      int margin = client.right / 30;
      if (margin > 10) margin = 10;
      CreateWindowExA(0, "msctls_progress32", "", WS_CHILD | WS_VISIBLE, margin, client.bottom - margin - 17,
                      client.right - 2 * margin, 17, popup, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBar)),
                      GetModuleHandleA(nullptr), nullptr);
      SendDlgItemMessageA(popup, kProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    }
    if (picture) {
      SetWindowLongPtrA(popup, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(picture));
      SetPropA(popup, "OlvexImage", reinterpret_cast<HANDLE>(1));
    }
    ShowWindow(popup, SW_SHOWNOACTIVATE);
  }
  SetWindowTextA(popup, notice.text.c_str());
  if (notice.kind == NoticeKind::kProgress) SendDlgItemMessageA(popup, kProgressBar, PBM_SETPOS, static_cast<WPARAM>(notice.percent), 0);
  InvalidateRect(popup, nullptr, TRUE);
  UpdateWindow(popup);
  if (notice.timeout_ms > 0) SetTimer(popup, kPopupTimer, static_cast<UINT>(notice.timeout_ms), nullptr);
}

// The screen message and the floating balloon: tool tips of their own (the
// balloon with the balloon style), placed at their position, or following
// the mouse ("Track"); a click or the time-out closes them.
constexpr UINT_PTR kTipTimer = 0x812D;
constexpr int kTrackMs = 30;
HWND g_tips[2] = {};  // the screen message, the floating balloon
WNDPROC g_tip_proc = nullptr;
UINT_PTR g_track_timer = 0;

void CloseTip(HWND tip) {
  for (HWND& open : g_tips)
    if (open == tip) open = nullptr;
  DestroyWindow(tip);
}

LRESULT CALLBACK TipProc(HWND tip, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCHITTEST:
      return HTCLIENT;  // the tip takes the mouse: it can be clicked away
    case WM_SETCURSOR:
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // IDC_ARROW
      return TRUE;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      CloseTip(tip);
      return 0;
    case WM_TIMER:
      if (wparam == kTipTimer) {
        CloseTip(tip);
        return 0;
      }
      break;
    default:
      break;
  }
  return CallWindowProcA(g_tip_proc, tip, message, wparam, lparam);
}

TOOLINFOA TipTool(HWND tip) {
  TOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = tip;
  tool.uId = 1;
  return tool;
}

void CALLBACK FollowMouse(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_tips[1]) {
    KillTimer(nullptr, g_track_timer);
    g_track_timer = 0;
    return;
  }
  POINT at{};
  GetCursorPos(&at);
  SendMessageA(g_tips[1], TTM_TRACKPOSITION, 0, MAKELPARAM(at.x + 16, at.y + 16));
}

void Tip(const Notice& notice) {
  const int slot = notice.kind == NoticeKind::kFloatingBalloon ? 1 : 0;
  if (g_tips[slot]) CloseTip(g_tips[slot]);
  if (notice.text.empty()) return;
  static const bool common = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)common;
  const DWORD style = WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | (slot == 1 ? TTS_BALLOON : 0);
  HWND tip = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, TOOLTIPS_CLASSA, nullptr, style, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!tip) return;
  g_tips[slot] = tip;
  g_tip_proc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(tip, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TipProc)));
  TOOLINFOA tool = TipTool(tip);
  tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
  std::string text = notice.text;
  tool.lpszText = text.data();
  SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageA(tip, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  SendMessageA(tip, TTM_SETMAXTIPWIDTH, 0, 400);
  if (slot == 1 && !notice.title.empty()) SendMessageA(tip, TTM_SETTITLEA, 1 /* TTI_INFO */, reinterpret_cast<LPARAM>(notice.title.c_str()));
  // (x, y) when both lie on the screen; (2, -2) centred; else at the cursor.
  const int screen_w = GetSystemMetrics(SM_CXSCREEN), screen_h = GetSystemMetrics(SM_CYSCREEN);
  POINT at{notice.x, notice.y};
  const bool centred = notice.x == 2 && notice.y == -2;
  if (!centred && (notice.x < 0 || notice.y < 0 || notice.x >= screen_w || notice.y >= screen_h || notice.track)) {
    GetCursorPos(&at);
    if (notice.track) at = {at.x + 16, at.y + 16};
  }
  SendMessageA(tip, TTM_TRACKPOSITION, 0, MAKELPARAM(at.x, at.y));
  SendMessageA(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
  if (centred) {
    // Shown, the tip has its size.
    RECT rect{};
    GetWindowRect(tip, &rect);
    SendMessageA(tip, TTM_TRACKPOSITION, 0,
                 MAKELPARAM((screen_w - (rect.right - rect.left)) / 2, (screen_h - (rect.bottom - rect.top)) / 2));
  }
  SetWindowPos(tip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (notice.timeout_ms > 0) SetTimer(tip, kTipTimer, static_cast<UINT>(notice.timeout_ms), nullptr);
  if (slot == 1 && notice.track && !g_track_timer) g_track_timer = SetTimer(nullptr, 0, kTrackMs, FollowMouse);
}

class Win32Dialogs : public Dialogs {
 public:
  int ShowMessage(const std::string& text, const std::string& title, unsigned style) override {
    return MessageBoxA(nullptr, text.c_str(), title.c_str(), style);
  }

  int ShowPrompt(const std::string& text, const std::string& title, unsigned style, int timeout_ms) override {
    TimedDialogHolder holder(timeout_ms, OnTimeOut::kEndBox);
    const StopWatch watch(true);
    const int answer = MessageBoxA(holder.window(), text.c_str(), title.c_str(), style);
    return watch.stopped() ? -1 : answer;
  }

  InputReply ShowInput(const InputRequest& request) override {
    const StopWatch watch(false);
    InputReply reply = Input(request);
    if (watch.stopped()) {
      reply.ok = false;
      reply.stopped = true;
    }
    return reply;
  }

  InputReply Input(const InputRequest& request) {
    if (request.kind == InputKind::kOpenFile || request.kind == InputKind::kSaveFile ||
        request.kind == InputKind::kOpenFiles)
      return FileDialog(request);
    if (request.kind == InputKind::kFolder) return FolderDialog(request);
    static const bool common = [] {
      INITCOMMONCONTROLSEX controls{sizeof controls, ICC_DATE_CLASSES | ICC_STANDARD_CLASSES};
      return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)common;
    InputReply reply;
    InputState state{&request, &reply};
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(TemplateOf(request)), nullptr,
                                           InputDialogProc, reinterpret_cast<LPARAM>(&state));
    if (result == -1) reply.error = "The input dialog cannot be shown";
    return reply;
  }

  void ShowNotice(const Notice& notice) override {
    if (notice.kind == NoticeKind::kTrayIcon || notice.kind == NoticeKind::kBalloon) Tray(notice);
    else if (notice.kind == NoticeKind::kScreenMessage || notice.kind == NoticeKind::kFloatingBalloon) Tip(notice);
    else Popup(notice);
  }

  CustomDialogReply ShowCustomDialog(const CustomDialogRequest& request) override {
    CustomDialogReply reply;
    CustomState state{&request, &reply};
    const StopWatch watch(false);
    const INT_PTR shown = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1405), nullptr, CustomDialogProc,
                                          reinterpret_cast<LPARAM>(&state));
    if (shown == -1) reply.error = "The custom dialog cannot be shown";
    reply.stopped = watch.stopped();
    return reply;
  }
};

}  // namespace

Dialogs& PlatformDialogs() {
  static Win32Dialogs instance;
  return instance;
}

}  // namespace platform
