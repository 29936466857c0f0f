#pragma once
// A recording fake of the automation service. Every object is named by the
// path of calls that made it ("Excel.Workbooks.Open(\"b.xls\")"); each call
// is recorded as "<object>.<member>(<args>)", a put as "<object>.<member> =
// <value>". A get of a member that `values` holds (by member name, a put
// stores there) answers that value; any other get or method answers a new
// object. A member named in `failing` fails with "<member> failed".
// Installs itself on construction and removes itself when destroyed.
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/automation.h"

namespace olvex::test {

class FakeAutomation : public platform::Automation {
 public:
  struct Object : platform::AutomationObject {
    explicit Object(std::string n) : name(std::move(n)) {}
    std::string name;
  };

  FakeAutomation() { platform::SetAutomationForTest(this); }
  ~FakeAutomation() override { platform::SetAutomationForTest(nullptr); }

  static std::string Text(const platform::AutoValue& v) {
    std::ostringstream out;
    if (const auto* s = std::get_if<std::string>(&v)) out << '"' << *s << '"';
    if (const auto* i = std::get_if<std::int32_t>(&v)) out << *i;
    if (const auto* d = std::get_if<double>(&v)) out << *d << 'r';
    if (const auto* b = std::get_if<bool>(&v)) out << (*b ? "true" : "false");
    if (const auto* o = std::get_if<platform::AutoObject>(&v)) out << static_cast<const Object&>(**o).name;
    return out.str();
  }

  bool Available() const override { return true; }
  platform::AutoCreate Create(const std::string& prog_id, platform::AutoObject& object, std::string& error) override {
    calls.push_back("Create " + prog_id);
    if (create != platform::AutoCreate::kCreated) {
      error = "cannot create";
      return create;
    }
    object = std::make_shared<Object>("Excel");
    return create;
  }
  bool Call(const platform::AutoObject& object, platform::AutoCall kind, const std::string& member,
            const std::vector<platform::AutoValue>& args, platform::AutoValue& result, std::string& error) override {
    std::string line = static_cast<const Object&>(*object).name + "." + member;
    if (kind == platform::AutoCall::kPut) {
      line += " = " + Text(args.back());
      values[member] = args.back();
    } else if (!args.empty() || kind == platform::AutoCall::kMethod) {
      line += "(";
      for (std::size_t i = 0; i < args.size(); ++i) line += (i ? "," : "") + Text(args[i]);
      line += ")";
    }
    calls.push_back(line);
    if (failing.count(member)) {
      error = member + " failed";
      return false;
    }
    if (kind == platform::AutoCall::kPut) {
      result = {};
    } else if (auto v = values.find(member); v != values.end()) {
      result = v->second;
    } else {
      result = platform::AutoObject(std::make_shared<Object>(line));
    }
    return true;
  }
  void SetBounds(int, std::function<bool()>) override {}

  // The recorded calls that contain `part`, in order.
  std::vector<std::string> CallsWith(const std::string& part) const {
    std::vector<std::string> out;
    for (const std::string& c : calls)
      if (c.find(part) != std::string::npos) out.push_back(c);
    return out;
  }

  platform::AutoCreate create = platform::AutoCreate::kCreated;
  std::map<std::string, platform::AutoValue> values;
  std::set<std::string> failing;
  std::vector<std::string> calls;
};

}  // namespace olvex::test
