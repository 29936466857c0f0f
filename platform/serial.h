#pragma once
// Serial ports. Windows: "COMn" and any name CreateFile takes; Linux: a name
// with a "/" is a device path, "COMn" is /dev/ttyS(n-1). Every wait is
// bounded by the caller's time.
#include <cstddef>
#include <memory>
#include <string>

namespace platform {

struct SerialSettings {
  std::string port;  // without a trailing ':'
  int baud = 9600, data_bits = 8;
  int parity = 0;  // 0 none, 1 odd, 2 even
  bool two_stop_bits = false;
  bool xon_xoff = false;  // else the hardware handshake
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Writes some of the bytes, waiting at most `wait_ms` for room; the count
  // written (0 when none fit in the time), or -1 with `error` set.
  virtual long Write(const char* data, std::size_t size, int wait_ms, std::string* error) = 0;
  // Reads up to `size` bytes, waiting at most `wait_ms` for the first; the
  // count read (0 when none came), or -1 with `error` set.
  virtual long Read(char* data, std::size_t size, int wait_ms, std::string* error) = 0;
  // Waits at most `wait_ms` until every written byte has left.
  virtual void Drain(int wait_ms) = 0;
  // Drops the bytes received so far and not read.
  virtual void Purge() = 0;
};

// Opens the port with its line settings; nothing with `error` set to the
// failing step's message ("CreateFile (Open Port) failed...", "GetCommState
// failed", "SetCommState failed", "SetCommTimeouts failed", ...).
std::unique_ptr<SerialPort> OpenSerialPort(const SerialSettings& settings, std::string* error);

}  // namespace platform
