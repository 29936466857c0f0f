#include "vars/variables.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>

#include "platform/environment.h"
#include "platform/registry.h"
#include "vars/format.h"
#include "vars/formula.h"
#include "vars/registry_value.h"

namespace olvex {

namespace {

constexpr std::size_t kMaxExpandedName = 127;
constexpr std::size_t kMaxEnvironmentName = 255;
constexpr char kUserEnvironmentKey[] = "HKEY_CURRENT_USER\\Environment\\";
constexpr char kMachineEnvironmentKey[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment\\";

std::mutex g_slots_mutex;
std::array<std::optional<std::string>, kMemorySlots> g_slots;

std::mutex g_hooks_mutex;
Expander g_expander;
FormulaEvaluator g_formula;
std::function<void()> g_list_clearer;

std::string VariablePath(std::string_view name) {
  if (!name.empty() && name.front() == '%') name.remove_prefix(1);
  if (name.empty()) return {};
  return std::string(kUserVariablesKey) + "\\" + EscapeRegistryName(name);
}

bool IsBinary(std::string_view data) {
  return std::any_of(data.begin(), data.end(), [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 1 && u <= 8) || u == 0xFF;
  });
}

bool IsShortNumber(std::string_view data) {
  return data.size() < 6 && data.find_first_not_of("0123456789.-") == std::string_view::npos;
}

}  // namespace

bool IsVariableNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '%';
}

std::string VariableNameRun(std::string_view field) {
  std::size_t n = 0;
  while (n < field.size() && n < kMaxVariableName && IsVariableNameChar(field[n])) ++n;
  return std::string(field.substr(0, n));
}

int MemorySlotOf(std::string_view field) {
  if (field.size() == 3 && field[0] == '{' && field[2] == '}' && field[1] >= '1' && field[1] <= '9')
    return field[1] - '0';
  return 0;
}

bool WriteUserVariable(std::string_view name, std::string_view data) {
  std::string path = VariablePath(name);
  if (path.empty()) return false;
  std::string value;
  value.reserve(data.size() + 1);
  value.append(data);
  value.push_back('\0');
  return RegistryWrite(path, platform::regtype::kSz, value);
}

bool IsMissingPlainVariable(std::string_view reference) {
  if (!reference.starts_with('%')) return false;
  const std::string_view name = reference.substr(1);
  if (name.empty() || name.find_first_of("%[]{}") != std::string_view::npos) return false;
  return !ReadUserVariable(name).has_value();
}

std::optional<std::string> ReadUserVariable(std::string_view name) {
  std::string path = VariablePath(name);
  if (path.empty()) return std::nullopt;
  std::optional<std::string> value = RegistryRead(path);
  if (value && !value->empty() && value->back() == '\0') value->pop_back();
  return value;
}

bool DeleteUserVariable(std::string_view name) {
  std::string path = VariablePath(name);
  return !path.empty() && RegistryDelete(path);
}

void ResetUserVariables() {
  RegistryDeleteKeyAt(kUserVariablesKey);
  std::function<void()> clear;
  {
    std::lock_guard<std::mutex> lock(g_hooks_mutex);
    clear = g_list_clearer;
  }
  if (clear) clear();
}

void SetVariablesListClearer(std::function<void()> clear) {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  g_list_clearer = std::move(clear);
}

bool AnyUserVariables() { return CountRegistryEntries(kUserVariablesKey, false) > 0; }

std::size_t RemoveUserVariableSpillFiles() {
  std::optional<std::string> folder = platform::TempFolder();
  if (!folder) return 0;
  std::string key = RegistryKeyOverride();
  return platform::RemoveFilesLike(*folder, "SOFTWARE_" + (key.empty() ? std::string("Olvex") : key), ".dat");
}

void SetMemorySlot(int slot, std::string_view data) {
  if (slot < 1 || slot > kMemorySlots) return;
  std::lock_guard<std::mutex> lock(g_slots_mutex);
  g_slots[static_cast<std::size_t>(slot - 1)] = std::string(data);
}

std::optional<std::string> ReadMemorySlot(int slot) {
  if (slot < 1 || slot > kMemorySlots) return std::nullopt;
  std::lock_guard<std::mutex> lock(g_slots_mutex);
  return g_slots[static_cast<std::size_t>(slot - 1)];
}

void FreeMemorySlot(int slot) {
  if (slot < 1 || slot > kMemorySlots) return;
  std::lock_guard<std::mutex> lock(g_slots_mutex);
  g_slots[static_cast<std::size_t>(slot - 1)].reset();
}

void FreeAllMemorySlots() {
  std::lock_guard<std::mutex> lock(g_slots_mutex);
  for (auto& s : g_slots) s.reset();
}

void SetExpander(Expander expander) {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  g_expander = std::move(expander);
}

void SetFormulaEvaluator(FormulaEvaluator evaluator) {
  std::lock_guard<std::mutex> lock(g_hooks_mutex);
  g_formula = std::move(evaluator);
}

bool IsFormula(std::string_view text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text[first] == '=' && text.find("SUM(") == std::string_view::npos &&
         text.find_first_of("0123456789(&") != std::string_view::npos;
}

std::string Expand(const ExpandContext& context, std::string_view text, ExpandMode mode) {
  Expander expander;
  FormulaEvaluator formula;
  {
    std::lock_guard<std::mutex> lock(g_hooks_mutex);
    expander = g_expander;
    formula = g_formula;
  }
  if (expander) return expander(context, text, mode);
  if (mode == ExpandMode::kFull && IsFormula(text)) {
    if (formula) return formula(text);
    FormulaResult result = EvaluateFormula(text.substr(text.find('=')));
    return result.failed || !result.text.empty() ? result.text : FormatNumber(result.number, 15);
  }
  return std::string(text);
}

std::string ExpandIntoBuffer(const ExpandContext& context, std::string_view text, std::size_t size) {
  std::string out = Expand(context, text, ExpandMode::kFull);
  if (out.size() + 1 > size) out.resize(size ? size - 1 : 0);
  return out;
}

bool SaveToVariableDestination(const ExpandContext& context, std::string_view output, std::string_view output_option,
                               std::string_view data, const std::function<void(const std::string&)>& log) {
  if (output.empty()) return false;
  char first = static_cast<char>(std::toupper(static_cast<unsigned char>(output.front())));
  std::string_view shown = data.substr(0, data.find('\0'));
  if ((first == 'M' || first == 'V') && MemorySlotOf(output_option)) {
    SetMemorySlot(MemorySlotOf(output_option), data);
    if (log && data.size() < 258)
      log("    " + std::string(output_option) + " = \"" + std::string(shown) + "\" (" + std::to_string(data.size()) +
          " bytes)");
    return true;
  }
  if (first != 'V') return false;
  std::string name = VariableNameRun(output_option);
  if (name.find('{') != std::string::npos || std::count(name.begin(), name.end(), '%') > 1) {
    bool lead = !name.empty() && name.front() == '%';
    std::string expanded = Expand(context, lead ? std::string_view(name).substr(1) : std::string_view(name));
    expanded.resize(std::min(expanded.size(), kMaxExpandedName - (lead ? 1 : 0)));
    name = lead ? '%' + expanded : expanded;
  }
  std::string bare = (!name.empty() && name.front() == '%') ? name.substr(1) : name;
  if (bare.empty()) return true;  // no name: nothing is saved
  WriteUserVariable(bare, data);
  if (log) {
    if (IsBinary(data)) {
      log("    " + name + " = " + std::to_string(data.size()) + " bytes (binary)");
    } else if (IsShortNumber(data)) {
      log("    " + name + " = \"" + std::string(data) + "\"");
    } else {
      std::string value(shown.substr(0, 228));
      if (shown.size() > 228) value += "...";
      log("    " + name + " = \"" + value + "\" (" + std::to_string(data.size()) + " bytes)");
    }
  }
  return true;
}

bool SetEnvironmentVariableEverywhere(std::string_view name, std::string_view value, std::string* error) {
  std::string n(name.substr(0, kMaxEnvironmentName));
  n.erase(std::remove(n.begin(), n.end(), '%'), n.end());
  std::string user_path = kUserEnvironmentKey + EscapeRegistryName(n);
  std::string machine_path = kMachineEnvironmentKey + EscapeRegistryName(n);
  bool ok;
  if (value.empty()) {
    ok = platform::RemoveEnv(n, error);
    RegistryDelete(machine_path);
    RegistryDelete(user_path);
  } else {
    std::string v(value.substr(0, value.find('\0')));
    ok = platform::WriteEnv(n, v, error);
    v.push_back('\0');
    if (!n.empty()) {
      RegistryWrite(machine_path, platform::regtype::kSz, v);  // may lack the rights: ignored
      RegistryWrite(user_path, platform::regtype::kSz, v);
    }
  }
  platform::BroadcastEnvironmentChange();
  return ok;
}

}  // namespace olvex
