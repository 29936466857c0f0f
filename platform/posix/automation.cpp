// No automation server on this system: every creation and call fails.
#include "platform/automation.h"

namespace platform {
namespace {

class NoAutomation : public Automation {
 public:
  bool Available() const override { return false; }
  AutoCreate Create(const std::string&, AutoObject&, std::string& error) override {
    error = kAutomationNotAvailable;
    return AutoCreate::kNotAvailable;
  }
  bool Call(const AutoObject&, AutoCall, const std::string&, const std::vector<AutoValue>&, AutoValue&,
            std::string& error) override {
    error = kAutomationNotAvailable;
    return false;
  }
  void SetBounds(int, std::function<bool()>) override {}
};

}  // namespace

Automation& PlatformAutomation() {
  static NoAutomation automation;
  return automation;
}

}  // namespace platform
