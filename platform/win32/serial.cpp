// Windows serial ports: opened overlapped, so that every read and write is
// awaited for a bounded time and then cancelled.
#include <windows.h>

#include "platform/serial.h"
#include "platform/win32/system_text.h"

namespace platform {

namespace {

class Win32SerialPort : public SerialPort {
 public:
  explicit Win32SerialPort(HANDLE handle) : handle_(handle), event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Win32SerialPort() override {
    CloseHandle(handle_);
    if (event_) CloseHandle(event_);
  }
  bool ready() const { return event_ != nullptr; }

  long Write(const char* data, std::size_t size, int wait_ms, std::string* error) override {
    return Transfer(false, const_cast<char*>(data), size, wait_ms, error);
  }
  long Read(char* data, std::size_t size, int wait_ms, std::string* error) override {
    return Transfer(true, data, size, wait_ms, error);
  }
  void Drain(int) override {}
  void Purge() override { PurgeComm(handle_, PURGE_RXCLEAR); }

 private:
  // One overlapped read or write, awaited `wait_ms`; what is still pending
  // then is cancelled and the bytes moved so far are counted.
  long Transfer(bool read, char* data, std::size_t size, int wait_ms, std::string* error) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    ResetEvent(event_);
    DWORD moved = 0;
    const DWORD count = static_cast<DWORD>(size);
    const BOOL done = read ? ReadFile(handle_, data, count, &moved, &overlapped)
                           : WriteFile(handle_, data, count, &moved, &overlapped);
    if (!done) {
      const DWORD err = GetLastError();
      if (err != ERROR_IO_PENDING) {
        *error = SystemErrorText(err);
        return -1;
      }
      if (WaitForSingleObject(event_, static_cast<DWORD>(wait_ms)) != WAIT_OBJECT_0) CancelIo(handle_);
      if (!GetOverlappedResult(handle_, &overlapped, &moved, TRUE)) {
        const DWORD result = GetLastError();
        if (result != ERROR_OPERATION_ABORTED) {
          *error = read ? SystemErrorText(result) : "GetOverlappedResult failed";
          return -1;
        }
      }
    }
    return static_cast<long>(moved);
  }
  HANDLE handle_;
  HANDLE event_;
};

}  // namespace

std::unique_ptr<SerialPort> OpenSerialPort(const SerialSettings& settings, std::string* error) {
  const std::string path = settings.port.find('\\') == std::string::npos ? "\\\\.\\" + settings.port : settings.port;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = "CreateFile (Open Port) failed\n\nAnother program probably has the serial port open";
    return nullptr;
  }
  auto port = std::make_unique<Win32SerialPort>(handle);
  if (!port->ready()) {
    *error = "CreateEvent failed";
    return nullptr;
  }
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(handle, &timeouts)) {
    *error = "GetCommTimeouts failed";
    return nullptr;
  }
  timeouts = COMMTIMEOUTS{};
  timeouts.ReadIntervalTimeout = 1;
  if (!SetCommTimeouts(handle, &timeouts)) {
    *error = "SetCommTimeouts failed";
    return nullptr;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) {
    *error = "GetCommState failed";
    return nullptr;
  }
  dcb.BaudRate = static_cast<DWORD>(settings.baud);
  dcb.ByteSize = static_cast<BYTE>(settings.data_bits);
  dcb.Parity = static_cast<BYTE>(settings.parity == 2 ? EVENPARITY : settings.parity == 1 ? ODDPARITY : NOPARITY);
  dcb.fParity = settings.parity != 0;
  dcb.StopBits = settings.two_stop_bits ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  if (settings.xon_xoff) {
    dcb.fOutxCtsFlow = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = TRUE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.XonLim = 1024;
    dcb.XoffLim = 2048;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
  } else {
    dcb.fOutxCtsFlow = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutX = dcb.fInX = FALSE;
  }
  if (!SetCommState(handle, &dcb)) {
    *error = "SetCommState failed";
    return nullptr;
  }
  return port;
}

}  // namespace platform
