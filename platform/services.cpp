// The services a test may replace: each answers with the backend's own
// service unless a test installed a fake (Set...ForTest, nullptr to undo).
#include <atomic>

#include "platform/automation.h"
#include "platform/clipboard.h"
#include "platform/debug_output.h"
#include "platform/dialogs.h"
#include "platform/file_ops.h"
#include "platform/input.h"
#include "platform/locale.h"
#include "platform/menus.h"
#include "platform/power.h"
#include "platform/screen.h"
#include "platform/windows.h"

namespace platform {

// The backends' own services.
Automation& PlatformAutomation();
Clipboard& PlatformClipboard();
DebugOutput& PlatformDebugOutput();
Dialogs& PlatformDialogs();
Input& PlatformInput();
const Locale& PlatformLocale();
Menus& PlatformMenus();
Power& PlatformPower();
Screen& PlatformScreen();
Windows& PlatformWindows();
// The file writes' own calls are the base class's, each backend defining them.
FileWrites& PlatformFileWrites() {
  static FileWrites own;
  return own;
}

namespace {

template <class Service, Service& (*Own)()>
class Slot {
 public:
  Service& Get() const {
    Service* fake = fake_.load(std::memory_order_acquire);
    return fake ? *fake : Own();
  }
  void Set(Service* fake) { fake_.store(fake, std::memory_order_release); }

 private:
  std::atomic<Service*> fake_{nullptr};
};

Slot<Automation, PlatformAutomation> g_automation;
Slot<Clipboard, PlatformClipboard> g_clipboard;
Slot<DebugOutput, PlatformDebugOutput> g_debug_output;
Slot<Dialogs, PlatformDialogs> g_dialogs;
Slot<FileWrites, PlatformFileWrites> g_file_writes;
Slot<Input, PlatformInput> g_input;
Slot<const Locale, PlatformLocale> g_locale;
Slot<Menus, PlatformMenus> g_menus;
Slot<Power, PlatformPower> g_power;
Slot<Screen, PlatformScreen> g_screen;
Slot<Windows, PlatformWindows> g_windows;

}  // namespace

Automation& automation() { return g_automation.Get(); }
void SetAutomationForTest(Automation* fake) { g_automation.Set(fake); }
Clipboard& clipboard() { return g_clipboard.Get(); }
void SetClipboardForTest(Clipboard* fake) { g_clipboard.Set(fake); }
DebugOutput& debug_output() { return g_debug_output.Get(); }
void SetDebugOutputForTest(DebugOutput* fake) { g_debug_output.Set(fake); }
Dialogs& dialogs() { return g_dialogs.Get(); }
void SetDialogsForTest(Dialogs* fake) { g_dialogs.Set(fake); }
void SetFileWritesForTest(FileWrites* fake) { g_file_writes.Set(fake); }
bool File::WriteAt(std::uint64_t offset, const char* data, std::size_t n, std::size_t* written) {
  return g_file_writes.Get().Write(*this, offset, data, n, written);
}
bool CopyFileData(const std::string& from, const std::string& to, const std::function<bool()>& stop) {
  return g_file_writes.Get().CopyData(from, to, stop);
}
bool RenamePath(const std::string& from, const std::string& to) { return g_file_writes.Get().Rename(from, to); }
bool DeleteFileAt(const std::string& path) { return g_file_writes.Get().Delete(path); }
Input& input() { return g_input.Get(); }
void SetInputForTest(Input* fake) { g_input.Set(fake); }
const Locale& locale() { return g_locale.Get(); }
void SetLocaleForTest(const Locale* fake) { g_locale.Set(fake); }
Menus& menus() { return g_menus.Get(); }
void SetMenusForTest(Menus* fake) { g_menus.Set(fake); }
Power& power() { return g_power.Get(); }
void SetPowerForTest(Power* fake) { g_power.Set(fake); }
Screen& screen() { return g_screen.Get(); }
void SetScreenForTest(Screen* fake) { g_screen.Set(fake); }
Windows& windows() { return g_windows.Get(); }
void SetWindowsForTest(Windows* fake) { g_windows.Set(fake); }

}  // namespace platform
