// olvex-target: the Win32 program that the desktop tests drive. A frame
// window with a menu bar and one control of each common kind, a second
// top-level window that opens on command, and a drawing
// area that paints coloured rectangles where a test asks.
//
// It records every input it receives, in order, and answers a test through
// WM_COPYDATA (sent, so synchronous): dwData 1 writes the state file named on
// the command line (replaced whole, so a reader never sees half of it) and
// returns 1 (dwData 3: the same without the recorded input); dwData 2 carries a command ("clear", "second",
// "focus ID", "paint X Y W H RRGGBB", "hang MS", "multi N"
// (N characters of numbered lines in the multi-line edit), "items N" (N items
// in the list box), "select ID FROM TO" (an edit's selection), "listsel I",
// "lvselect I..." (the list view's selected items)).
//
//   olvex-target.exe STATE-FILE [TITLE [refuse|hang|-]]
// With a third word (a script starts it) it ends itself after 60 s; "refuse"
// ignores WM_CLOSE from the start, "hang" stops answering for 20 s once shown.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr wchar_t kFrameClass[] = L"OlvexTargetFrame";
constexpr wchar_t kSecondClass[] = L"OlvexTargetSecond";
constexpr wchar_t kCanvasClass[] = L"OlvexTargetCanvas";

enum : int {
  kOpen = 101, kRecentOne = 102, kRecentTwo = 103,
  kEdit = 1001, kMultiEdit = 1002, kList = 1003, kCombo = 1004, kPush = 1005, kCheck = 1006, kRadioA = 1007,
  kLabel = 1010, kTree = 1011, kListView = 1012, kCanvas = 1013,
};

struct Painted {
  RECT rect;
  COLORREF colour;
};

std::string g_state_path;
HWND g_frame = nullptr, g_second = nullptr;
std::vector<std::string> g_record;
std::vector<Painted> g_painted;
std::wstring g_canvas_typed;  // the characters the drawing area received (it takes the focus too)
bool g_refuse_close = false;

std::string Ansi(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::string TextOf(HWND hwnd) {
  const int n = GetWindowTextLengthW(hwnd);
  std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
  GetWindowTextW(hwnd, w.data(), n + 1);
  w.resize(static_cast<std::size_t>(n));
  return Ansi(w);
}

// Line breaks and backslashes escaped, so that each value is one line.
std::string Escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// The modifiers held as the message left the queue: one look at the keyboard state.
std::string Modifiers() {
  BYTE keys[256];
  if (!GetKeyboardState(keys)) return "?";
  std::string m;
  if (keys[VK_CONTROL] & 0x80) m += 'c';
  if (keys[VK_SHIFT] & 0x80) m += 's';
  if (keys[VK_MENU] & 0x80) m += 'a';
  return m.empty() ? "-" : m;
}

void Record(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  g_record.emplace_back(line);
}

// Input as it leaves the queue, for whichever window of this program it is meant.
void RecordInput(const MSG& msg) {
  const int id = GetDlgCtrlID(msg.hwnd);
  switch (msg.message) {
    case WM_KEYDOWN: case WM_SYSKEYDOWN: Record("kd %02X %s %d", static_cast<unsigned>(msg.wParam), Modifiers().c_str(), id); break;
    case WM_KEYUP: case WM_SYSKEYUP: Record("ku %02X %s %d", static_cast<unsigned>(msg.wParam), Modifiers().c_str(), id); break;
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN: case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP: case WM_RBUTTONUP: case WM_MBUTTONUP: {
      const bool down = msg.message == WM_LBUTTONDOWN || msg.message == WM_RBUTTONDOWN || msg.message == WM_MBUTTONDOWN;
      const bool twice = msg.message == WM_LBUTTONDBLCLK;
      const char button = (twice || msg.message == WM_LBUTTONDOWN || msg.message == WM_LBUTTONUP) ? 'L'
                          : (msg.message == WM_RBUTTONDOWN || msg.message == WM_RBUTTONUP) ? 'R'
                                                                                           : 'M';
      POINT p{static_cast<short>(LOWORD(msg.lParam)), static_cast<short>(HIWORD(msg.lParam))};
      MapWindowPoints(msg.hwnd, g_frame, &p, 1);  // client coordinates of the frame
      Record("%s %c %ld %ld %s %d", twice ? "dc" : down ? "md" : "mu", button, p.x, p.y, Modifiers().c_str(), id);
      break;
    }
    case WM_MOUSEWHEEL: Record("wh %d", static_cast<short>(HIWORD(msg.wParam))); break;
    default: break;
  }
}

void WriteState(bool with_record) {
  std::string s;
  auto put = [&](const char* name, const std::string& value) { s += std::string(name) + "=" + Escaped(value) + "\n"; };
  auto item = [](HWND h, int id) { return GetDlgItem(h, id); };
  put("edit", TextOf(item(g_frame, kEdit)));
  put("multi", TextOf(item(g_frame, kMultiEdit)));
  for (auto [name, id, count_msg, text_msg, len_msg] : {std::tuple{"list", kList, LB_GETCOUNT, LB_GETTEXT, LB_GETTEXTLEN},
                                                         std::tuple{"combo", kCombo, CB_GETCOUNT, CB_GETLBTEXT, CB_GETLBTEXTLEN}}) {
    HWND h = item(g_frame, id);
    std::string items;
    const int count = static_cast<int>(SendMessageW(h, count_msg, 0, 0));
    for (int i = 0; i < count; ++i) {
      std::wstring w(static_cast<std::size_t>(SendMessageW(h, len_msg, i, 0)) + 1, L'\0');
      SendMessageW(h, text_msg, i, reinterpret_cast<LPARAM>(w.data()));
      w.resize(wcslen(w.c_str()));
      items += (i ? "|" : "") + Ansi(w);
    }
    put(name, items);
  }
  put("canvas_typed", Ansi(g_canvas_typed));
  put("foreground", GetForegroundWindow() == g_frame ? "frame"
                    : GetForegroundWindow() == g_second && g_second ? "second" : "other");
  put("second", g_second ? std::to_string(reinterpret_cast<std::uintptr_t>(g_second)) : "0");
  put("shown", IsIconic(g_frame) ? "min" : IsZoomed(g_frame) ? "max" : IsWindowVisible(g_frame) ? "normal" : "hidden");
  s += "record:\n";
  if (with_record)
    for (const std::string& line : g_record) s += line + "\n";
  const std::string temp = g_state_path + ".tmp";
  if (FILE* f = std::fopen(temp.c_str(), "wb")) {
    std::fwrite(s.data(), 1, s.size(), f);
    std::fclose(f);
    MoveFileExA(temp.c_str(), g_state_path.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
}

HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
           DWORD ex = 0) {
  return CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

void OpenSecond() {
  if (g_second) return;
  g_second = CreateWindowExW(0, kSecondClass, L"Olvex Target Second", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 200, 150, 400,
                             300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

LRESULT CALLBACK CanvasProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT all;
    GetClientRect(hwnd, &all);
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    for (const Painted& p : g_painted) {
      HBRUSH brush = CreateSolidBrush(p.colour);
      FillRect(dc, &p.rect, brush);
      DeleteObject(brush);
    }
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void RunCommand(const std::string& command) {
  int a = 0, b = 0, c = 0, d = 0;
  unsigned colour = 0;
  if (command == "clear") {
    g_record.clear();
    g_canvas_typed.clear();
    SetWindowTextW(GetDlgItem(g_frame, kEdit), L"");
    SetWindowTextW(GetDlgItem(g_frame, kMultiEdit), L"");
    SendMessageW(GetDlgItem(g_frame, kList), LB_RESETCONTENT, 0, 0);
    SendMessageW(GetDlgItem(g_frame, kCombo), CB_RESETCONTENT, 0, 0);
    SetWindowTextW(GetDlgItem(g_frame, kCombo), L"");
  } else if (command == "second") {
    OpenSecond();
  } else if (std::sscanf(command.c_str(), "focus %d", &a) == 1) {
    SetForegroundWindow(g_frame);
    SetFocus(GetDlgItem(g_frame, a));
  } else if (std::sscanf(command.c_str(), "paint %d %d %d %d %x", &a, &b, &c, &d, &colour) == 5) {
    g_painted.push_back({{a, b, a + c, b + d}, RGB((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF)});
    InvalidateRect(GetDlgItem(g_frame, kCanvas), nullptr, TRUE);
    UpdateWindow(GetDlgItem(g_frame, kCanvas));
  } else if (std::sscanf(command.c_str(), "hang %d", &a) == 1) {
    PostMessageW(g_frame, WM_APP, static_cast<WPARAM>(a), 0);  // after the answer: the sender is not held
  } else if (std::sscanf(command.c_str(), "multi %d", &a) == 1) {
    std::wstring text;
    for (int line = 0; static_cast<int>(text.size()) < a; ++line)
      text += L"line " + std::to_wstring(line) + L" of the long text, with some words to fill it out\r\n";
    text.resize(static_cast<std::size_t>(a));
    HWND multi = GetDlgItem(g_frame, kMultiEdit);
    SendMessageW(multi, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(multi, text.c_str());
  } else if (std::sscanf(command.c_str(), "items %d", &a) == 1) {
    HWND list = GetDlgItem(g_frame, kList);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_INITSTORAGE, static_cast<WPARAM>(a), static_cast<LPARAM>(a) * 16);
    for (int i = 0; i < a; ++i) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>((L"Item " + std::to_wstring(i)).c_str()));
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  } else if (std::sscanf(command.c_str(), "select %d %d %d", &a, &b, &c) == 3) {
    SendMessageW(GetDlgItem(g_frame, a), EM_SETSEL, static_cast<WPARAM>(b), static_cast<LPARAM>(c));
  } else if (std::sscanf(command.c_str(), "listsel %d", &a) == 1) {
    SendMessageW(GetDlgItem(g_frame, kList), LB_SETCURSEL, static_cast<WPARAM>(a), 0);
  } else if (command.rfind("lvselect", 0) == 0) {
    HWND view = GetDlgItem(g_frame, kListView);
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED;
    SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    const char* at = command.c_str() + 8;
    int consumed = 0;
    while (std::sscanf(at, "%d%n", &a, &consumed) == 1) {
      LVITEMW on{};
      on.stateMask = LVIS_SELECTED;
      on.state = LVIS_SELECTED;
      SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(a), reinterpret_cast<LPARAM>(&on));
      at += consumed;
    }
  }
}

void Populate(HWND frame) {
  Child(frame, L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 10, 10, 300, 24, kEdit);
  Child(frame, L"EDIT", L"", WS_BORDER | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, 10,
        40, 300, 150, kMultiEdit);
  Child(frame, L"LISTBOX", L"", WS_BORDER | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY, 320, 10, 150, 100, kList);
  Child(frame, L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN, 320, 120, 150, 200, kCombo);
  Child(frame, L"BUTTON", L"Push", WS_TABSTOP | BS_PUSHBUTTON, 480, 10, 90, 24, kPush);
  Child(frame, L"BUTTON", L"Check", WS_TABSTOP | BS_AUTOCHECKBOX, 480, 40, 90, 24, kCheck);
  Child(frame, L"BUTTON", L"Radio A", WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 590, 25, 150, 24, kRadioA);
  Child(frame, L"STATIC", L"Label", 0, 480, 70, 90, 20, kLabel);
  HWND tree = Child(frame, WC_TREEVIEWW, L"", WS_BORDER | TVS_HASLINES | TVS_HASBUTTONS, 10, 200, 200, 150, kTree);
  TVINSERTSTRUCTW tv{};
  tv.hInsertAfter = TVI_LAST;
  tv.item.mask = TVIF_TEXT;
  tv.item.pszText = const_cast<wchar_t*>(L"Root");
  tv.hParent = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&tv)));
  tv.item.pszText = const_cast<wchar_t*>(L"Leaf");
  SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&tv));
  HWND view = Child(frame, WC_LISTVIEWW, L"", WS_BORDER | LVS_REPORT, 220, 200, 250, 150, kListView);
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT | LVCF_WIDTH;
  col.cx = 120;
  col.pszText = const_cast<wchar_t*>(L"Name");
  SendMessageW(view, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
  for (const wchar_t* name : {L"alpha", L"beta"}) {
    LVITEMW it{};
    it.mask = LVIF_TEXT;
    it.iItem = 1000;
    it.pszText = const_cast<wchar_t*>(name);
    SendMessageW(view, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
  }
  Child(frame, kCanvasClass, L"", 0, 480, 200, 300, 200, kCanvas);
}

HMENU BuildMenu() {
  HMENU bar = CreateMenu(), file = CreatePopupMenu(), recent = CreatePopupMenu();
  AppendMenuW(recent, MF_STRING, kRecentOne, L"&One");
  AppendMenuW(recent, MF_STRING, kRecentTwo, L"&Two");
  AppendMenuW(file, MF_STRING, kOpen, L"&Open");
  AppendMenuW(file, MF_POPUP, reinterpret_cast<UINT_PTR>(recent), L"&Recent");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
  return bar;
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
      if (data->dwData == 1 || data->dwData == 3) {
        WriteState(data->dwData == 1);
        return 1;
      }
      if (data->dwData == 2) {
        RunCommand(std::string(static_cast<const char*>(data->lpData), data->cbData));
        return 1;
      }
      return 0;
    }
    case WM_COMMAND:
      Record("cmd %d %d %s", LOWORD(wp), HIWORD(wp), lp != 0 ? "control" : "menu");
      return 0;
    case WM_APP:
      Sleep(static_cast<DWORD>(wp));  // stops answering for a while
      return 0;
    case WM_TIMER:
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      if (g_refuse_close) return 0;
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

LRESULT CALLBACK SecondProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) g_second = nullptr;
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 2) return 2;
  g_state_path = Ansi(argv[1]);
  const std::wstring title = argc > 2 ? argv[2] : L"Olvex Target";
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSW wc{};
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpfnWndProc = FrameProc;
  wc.lpszClassName = kFrameClass;
  RegisterClassW(&wc);
  wc.lpfnWndProc = SecondProc;
  wc.lpszClassName = kSecondClass;
  RegisterClassW(&wc);
  wc.lpfnWndProc = CanvasProc;
  wc.lpszClassName = kCanvasClass;
  wc.style |= CS_DBLCLKS;  // a double click arrives as one
  RegisterClassW(&wc);
  g_frame = CreateWindowExW(0, kFrameClass, title.c_str(), WS_OVERLAPPEDWINDOW, 50, 50, 800, 600, nullptr, BuildMenu(),
                            instance, nullptr);
  if (!g_frame) return 3;
  Populate(g_frame);
  ShowWindow(g_frame, SW_SHOW);
  UpdateWindow(g_frame);
  SetForegroundWindow(g_frame);
  SetFocus(GetDlgItem(g_frame, kEdit));
  if (argc > 3) {
    SetTimer(g_frame, 1, 60000, nullptr);
    g_refuse_close = std::wstring(argv[3]) == L"refuse";
    if (std::wstring(argv[3]) == L"hang") PostMessageW(g_frame, WM_APP, 20000, 0);
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    RecordInput(msg);
    if (msg.message == WM_CHAR && GetDlgCtrlID(msg.hwnd) == kCanvas) g_canvas_typed += static_cast<wchar_t>(msg.wParam);
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
