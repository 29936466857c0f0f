#include "system/win_constants.h"

#include <array>
#include <cmath>

#include "engine/text.h"
#include "vars/formula.h"

namespace olvex {
namespace {

constexpr std::array<WindowsConstant, 208> kConstants = {{
    {"MB_OKCANCEL", 1u}, {"MB_OK", 0u}, {"MB_ABORTRETRYIGNORE", 2u}, {"MB_YESNOCANCEL", 3u}, {"MB_YESNO", 4u},
    {"MB_RETRYCANCEL", 5u}, {"MB_ICONHAND", 16u}, {"MB_ICONSTOP", 16u}, {"MB_ICONERROR", 16u},
    {"MB_ICONQUESTION", 32u}, {"MB_ICONEXCLAMATION", 48u}, {"MB_ICONWARNING", 48u}, {"MB_ICONASTERISK", 64u},
    {"MB_ICONINFORMATION", 64u}, {"MB_USERICON", 128u}, {"MB_DEFBUTTON1", 0u}, {"MB_DEFBUTTON2", 256u},
    {"MB_DEFBUTTON3", 512u}, {"MB_DEFBUTTON4", 768u}, {"MB_SYSTEMMODAL", 4096u}, {"MB_TASKMODAL", 8192u},
    {"MB_HELP", 16384u}, {"MB_NOFOCUS", 32768u}, {"MB_SETFOREGROUND", 65536u}, {"MB_DEFAULT_DESKTOP_ONLY", 131072u},
    {"MB_TOPMOST", 262144u}, {"MB_RIGHT", 524288u}, {"MB_RTLREADING", 1048576u}, {"WS_OVERLAPPEDWINDOW", 13565952u},
    {"WS_OVERLAPPED", 0u}, {"WS_POPUPWINDOW", 2156396544u}, {"WS_POPUP", 2147483648u}, {"WS_CHILD", 1073741824u},
    {"WS_VISIBLE", 268435456u}, {"WS_DISABLED", 134217728u}, {"WS_CLIPSIBLINGS", 67108864u},
    {"WS_CLIPCHILDREN", 33554432u}, {"WS_MINIMIZEBOX", 131072u}, {"WS_MINIMIZE", 536870912u},
    {"WS_MAXIMIZEBOX", 65536u}, {"WS_MAXIMIZE", 16777216u}, {"WS_CAPTION", 12582912u}, {"WS_BORDER", 8388608u},
    {"WS_DLGFRAME", 4194304u}, {"WS_VSCROLL", 2097152u}, {"WS_HSCROLL", 1048576u}, {"WS_SYSMENU", 524288u},
    {"WS_THICKFRAME", 262144u}, {"WS_EX_TOPMOST", 8u}, {"SS_LEFT", 0u}, {"SS_RIGHT", 2u}, {"SS_CENTER", 1u},
    {"SS_BLACKFRAME", 7u}, {"SS_BLACKRECT", 4u}, {"SS_GRAYFRAME", 8u}, {"SS_GRAYRECT", 5u}, {"SS_WHITEFRAME", 9u},
    {"SS_WHITERECT", 6u}, {"ES_LEFT", 0u}, {"ES_RIGHT", 2u}, {"ES_CENTER", 1u}, {"ES_NUMBER", 8192u},
    {"ES_LOWERCASE", 16u}, {"ES_UPPERCASE", 8u}, {"ES_WANTRETURN", 4096u}, {"ES_PASSWORD", 32u},
    {"ES_AUTOVSCROLL", 64u}, {"WS_EX_PALETTEWINDOW", 392u}, {"WS_EX_TOOLWINDOW", 128u}, {"SM_CXSCREEN", 0u},
    {"SM_CYSCREEN", 1u}, {"SM_CXVSCROLL", 2u}, {"SM_CYHSCROLL", 3u}, {"SM_CYCAPTION", 4u}, {"SM_CXBORDER", 5u},
    {"SM_CYBORDER", 6u}, {"SM_CXDLGFRAME", 7u}, {"SM_CYDLGFRAME", 8u}, {"SM_CYMENU", 15u}, {"SM_CXFULLSCREEN", 16u},
    {"SM_CYFULLSCREEN", 17u}, {"SM_MOUSEPRESENT", 19u}, {"SM_CYVSCROLL", 20u}, {"SM_CXHSCROLL", 21u},
    {"SM_DEBUG", 22u}, {"SM_CXSIZE", 30u}, {"SM_CYSIZE", 31u}, {"SM_CXFRAME", 32u}, {"SM_CYFRAME", 33u},
    {"SM_CXDOUBLECLK", 36u}, {"SM_CYDOUBLECLK", 37u}, {"SM_CXICONSPACING", 38u}, {"SM_CYICONSPACING", 39u},
    {"GENERIC_READ", 2147483648u}, {"GENERIC_WRITE", 1073741824u}, {"FILE_SHARE_READ", 1u}, {"FILE_SHARE_WRITE", 2u},
    {"CREATE_NEW", 1u}, {"CREATE_ALWAYS", 2u}, {"OPEN_EXISTING", 3u}, {"OPEN_ALWAYS", 4u}, {"TRUNCATE_EXISTING", 5u},
    {"FILE_ATTRIBUTE_HIDDEN", 2u}, {"FILE_ATTRIBUTE_NORMAL", 128u}, {"FILE_ATTRIBUTE_TEMPORARY", 256u},
    {"FILE_ATTRIBUTE_DIRECTORY", 16u}, {"FILE_BEGIN", 0u}, {"FILE_CURRENT", 1u}, {"FILE_END", 2u}, {"SW_HIDE", 0u},
    {"SW_SHOWNORMAL", 1u}, {"SW_NORMAL", 1u}, {"SW_SHOWMINIMIZED", 2u}, {"SW_SHOWMAXIMIZED", 3u},
    {"SW_MAXIMIZE", 3u}, {"SW_MINIMIZE", 6u}, {"SW_SHOWMINNOACTIVE", 7u}, {"SW_RESTORE", 9u},
    {"SW_SHOWDEFAULT", 10u}, {"SW_FORCEMINIMIZE", 11u}, {"SW_SHOW", 5u}, {"MF_BYCOMMAND", 0u},
    {"MF_BYPOSITION", 1024u}, {"GWL_WNDPROC", 4294967292u}, {"GWL_HINSTANCE", 4294967290u},
    {"GWL_HWNDPARENT", 4294967288u}, {"GWL_STYLE", 4294967280u}, {"GWL_EXSTYLE", 4294967276u},
    {"GWL_USERDATA", 4294967275u}, {"GWL_ID", 4294967284u}, {"WM_COMMAND", 273u}, {"WM_SIZE", 5u},
    {"WM_NOTIFY", 78u}, {"WM_PAINT", 15u}, {"WM_CLOSE", 16u}, {"WM_DESTROY", 2u}, {"WM_TIMER", 275u},
    {"WM_HELP", 83u}, {"WM_USER", 1024u}, {"WM_APP", 32768u}, {"WM_KEYDOWN", 256u}, {"WM_KEYUP", 257u},
    {"WM_CHAR", 258u}, {"WM_SYSCOMMAND", 274u}, {"WM_SYSKEYDOWN", 260u}, {"WM_SYSKEYUP", 261u},
    {"WM_MOUSEMOVE", 512u}, {"WM_LBUTTONDOWN", 513u}, {"WM_LBUTTONUP", 514u}, {"WM_LBUTTONDBLCLK", 515u},
    {"WM_RBUTTONDOWN", 516u}, {"WM_RBUTTONUP", 517u}, {"WM_CUT", 768u}, {"WM_COPY", 769u}, {"WM_PASTE", 770u},
    {"WM_CLEAR", 771u}, {"WM_UNDO", 772u}, {"SC_RESTORE", 61728u}, {"SC_MOVE", 61456u}, {"SC_SIZE", 61440u},
    {"SC_MINIMIZE", 61472u}, {"SC_MAXIMIZE", 61488u}, {"HWND_TOPMOST", 4294967295u}, {"HWND_NOTOPMOST", 4294967294u},
    {"SWP_NOSIZE", 1u}, {"SWP_NOMOVE", 2u}, {"SWP_NOZORDER", 4u}, {"SWP_NOREDRAW", 8u}, {"SWP_NOACTIVATE", 16u},
    {"SWP_FRAMECHANGED", 32u}, {"SWP_SHOWWINDOW", 64u}, {"SWP_HIDEWINDOW", 128u}, {"SWP_NOCOPYBITS", 256u},
    {"SWP_NOOWNERZORDER", 512u}, {"SWP_NOSENDCHANGING", 1024u}, {"SWP_DRAWFRAME", 32u}, {"SWP_NOREPOSITION", 512u},
    {"SC_CLOSE", 61536u}, {"IDOK", 1u}, {"ID_OK", 1u}, {"IDCANCEL", 2u}, {"ID_CANCEL", 2u}, {"IDABORT", 3u},
    {"ID_ABORT", 3u}, {"IDRETRY", 4u}, {"ID_RETRY", 4u}, {"IDIGNORE", 5u}, {"ID_IGNORE", 5u}, {"IDYES", 6u},
    {"ID_YES", 6u}, {"IDNO", 7u}, {"ID_NO", 7u}, {"vbOKOnly", 0u}, {"vbOKCancel", 1u}, {"vbAbortRetryIgnore", 2u},
    {"vbYesNoCancel", 3u}, {"vbYesNo", 4u}, {"vbRetryCancel", 5u}, {"vbCritical", 16u}, {"vbQuestion", 32u},
    {"vbExclamation", 48u}, {"vbInformation", 64u}, {"vbDefaultButton1", 0u}, {"vbDefaultButton2", 256u},
    {"vbDefaultButton3", 512u}, {"vbDefaultButton4", 768u}, {"vbApplicationModal", 0u}, {"vbSystemModal", 4096u},}};

bool IsFoldChar(char c) { return (c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '|'; }

}  // namespace

std::span<const WindowsConstant> WindowsConstants() { return kConstants; }

void SubstituteConstants(std::string& text) {
  if (text.find('_') == std::string::npos && text.find("ID") == std::string::npos) return;
  bool replaced = false;
  for (const WindowsConstant& constant : kConstants) {
    if (text.find(constant.name) == std::string::npos) continue;
    const std::size_t at = FindNoCase(text, constant.name);
    text.replace(at, constant.name.size(), std::to_string(constant.value));
    replaced = true;
  }
  if (!replaced) return;
  for (std::size_t bar = text.find('|'); bar != std::string::npos; bar = text.find('|')) {
    std::size_t first = bar, last = bar + 1;
    while (first > 0 && IsFoldChar(text[first - 1])) --first;
    while (last < text.size() && IsFoldChar(text[last])) ++last;
    const std::string run = text.substr(first, last - first);
    if (run.find_first_of("0123456789") == std::string::npos) break;
    const FormulaResult folded = EvaluateFormula("=" + run);
    // A folded value beyond 64 bits is no flag set: the text stays as written.
    if (folded.failed || !(std::fabs(folded.number) < 9.2e18)) break;
    const auto whole = static_cast<std::int64_t>(folded.number);
    text.replace(first, last - first, std::to_string(static_cast<std::uint32_t>(whole)));
  }
}

}  // namespace olvex
