#pragma once
// Automation: late-bound calls to the objects of an automation server by
// member name (property get, property put, method call), the way the Excel
// actions drive a spreadsheet application. Windows: COM, the object created
// in its own process (a local server) and reached through IDispatch on the
// calling thread, every call bounded and ended early by a stop request.
// POSIX: not available. A replaceable service (SetAutomationForTest).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// An object of the server; released when the last copy goes (on the thread
// that made it).
class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
};
using AutoObject = std::shared_ptr<AutomationObject>;

// An argument or a result: empty, integer, real, text (sent as an automation
// string), bool, object.
using AutoValue = std::variant<std::monostate, std::int32_t, double, std::string, bool, AutoObject>;

enum class AutoCall { kGet, kPut, kMethod };

enum class AutoCreate {
  kCreated,
  kNotRegistered,  // no class is registered under the name
  kServerFailed,   // the class is registered but its server cannot be started
  kNotAvailable,   // this system has no automation
};

inline constexpr char kAutomationNotAvailable[] = "Spreadsheet automation is not available on this system";

class Automation {
 public:
  virtual ~Automation() = default;
  virtual bool Available() const = 0;
  // Creates the object registered under `prog_id`, served by its own process.
  virtual AutoCreate Create(const std::string& prog_id, AutoObject& object, std::string& error) = 0;
  // Calls `member` of `object` with `args` (a put's value last). False with
  // `error` set (the server's own description when it gives one) when the
  // member is unknown, the call fails, the server is gone, the bound passed
  // or `stop` asked to end the wait.
  virtual bool Call(const AutoObject& object, AutoCall kind, const std::string& member,
                    const std::vector<AutoValue>& args, AutoValue& result, std::string& error) = 0;
  // The bound of every later call and creation on this thread, and the test
  // asked while one waits (true ends the wait as a failure).
  virtual void SetBounds(int timeout_ms, std::function<bool()> stop) = 0;
};

// The automation service in force: the platform's own, or a test's.
Automation& automation();
// Tests: install a fake (nullptr puts the platform's own back).
void SetAutomationForTest(Automation* fake);

}  // namespace platform
