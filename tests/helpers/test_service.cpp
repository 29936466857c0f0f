// A Windows service for the service actions' tests: it runs until it is told to stop.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stop = nullptr;

void Report(DWORD state) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(g_handle, &g_status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    SetEvent(g_stop);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char**) {
  g_handle = RegisterServiceCtrlHandlerExA("OlvexTestService", Control, nullptr);
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stop, 60000);
  Report(SERVICE_STOPPED);
}

}  // namespace

int main() {
  char name[] = "OlvexTestService";
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
