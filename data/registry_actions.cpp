#include "data/registry_actions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "vars/expand.h"
#include "vars/registry_value.h"

namespace olvex {

namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;
namespace regtype = platform::regtype;

constexpr std::size_t kNameMax = 259;              // registry paths and INI fields
constexpr std::size_t kIniValueMax = 1048575;

// The system's words for a failed registry call.
const char* StatusText(RegistryStatus status) {
  switch (status) {
    case RegistryStatus::kOk: return "The operation completed successfully.";
    case RegistryStatus::kNotFound: return "The system cannot find the file specified.";
    case RegistryStatus::kAccessDenied: return "Access is denied.";
    case RegistryStatus::kBadName: return "The parameter is incorrect.";
    case RegistryStatus::kRefused: return "Insufficient system resources exist to complete the requested service.";
    case RegistryStatus::kCorrupt: return "The configuration registry database is corrupt.";
    case RegistryStatus::kFailed: break;
  }
  return "The configuration registry key could not be read.";
}

// A little-endian number of up to eight bytes.
std::uint64_t LittleEndian(std::string_view bytes, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = std::min(width, bytes.size()); i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

int ReadRegistry(int slot, int step_index, const Step& step) {
  const std::string path = ExpandText(step.value(1), slot, step_index, 0).substr(0, kNameMax);
  std::uint32_t type = regtype::kNone;
  if (RegistryQuerySize(path, &type) < 1) {
    const RegistryPath p = PrepareRegistryPath(path);
    const RegistryStatus status =
        p.ok ? platform::ReadRegistryValue(p.root, p.key, p.name, nullptr) : RegistryStatus::kBadName;
    std::string error = "Registry Key does not exist, or is inaccessible";
    const std::string system = StatusText(status);
    if (system.find("success") == std::string::npos) error += "\n\nError Message:  \"" + system + "\"";
    SetStepError(error);
    return 0;
  }
  std::optional<std::string> value = RegistryRead(path, &type);
  if (!value) {
    SetStepError("Registry Key does not exist, or is inaccessible");
    return 0;
  }
  std::string output;
  switch (type) {
    case regtype::kDword:
      output = std::to_string(static_cast<std::int32_t>(LittleEndian(*value, 4)));
      break;
    case regtype::kDwordBigEndian: {
      std::uint32_t v = 0;
      for (std::size_t i = 0; i < std::min<std::size_t>(4, value->size()); ++i) v = (v << 8) | static_cast<unsigned char>((*value)[i]);
      output = std::to_string(static_cast<std::int32_t>(v));
      break;
    }
    case regtype::kQword:
      output = std::to_string(static_cast<std::int64_t>(LittleEndian(*value, 8)));
      break;
    case regtype::kSz:
    case regtype::kExpandSz:
    case regtype::kMultiSz:
    case regtype::kLink:
      // The text without the zero that ends it.
      if (!value->empty() && value->back() == '\0') value->pop_back();
      output = std::move(*value);
      break;
    default:
      output = std::move(*value);
  }
  SaveOutput(slot, step_index, output);
  return 1;
}

// The number of a DWORD: the first run of digits, negative after a '-';
// nothing when it does not fit in 32 bits.
std::optional<std::uint32_t> DwordOf(std::string_view text) {
  std::size_t i = text.find_first_of("0123456789");
  if (i == std::string_view::npos) return 0;
  const bool negative = i > 0 && text[i - 1] == '-';
  std::uint64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + static_cast<unsigned>(text[i] - '0');
    if (v > 0xFFFFFFFFull) return std::nullopt;
  }
  if (negative && v > 0x80000000ull) return std::nullopt;
  return static_cast<std::uint32_t>(negative ? 0 - v : v);
}

// A text the automatic choice stores as a number: a whole number written as
// it reads back ("-5", "123"; not "007" nor one beyond 32 bits), so that
// nothing of the text is lost.
bool IsDwordText(std::string_view text) {
  const std::string_view digits = text.starts_with('-') ? text.substr(1) : text;
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string_view::npos ||
      (digits.size() > 1 && digits.front() == '0') || text == "-0")
    return false;
  const long long value = std::stoll(std::string(text));
  return value >= -2147483648LL && value <= 2147483647LL;
}

int WriteRegistry(int slot, int step_index, const Step& step) {
  const std::string data = ExpandText(step.text, slot, step_index, 0);
  const std::string path = ExpandText(step.value(1), slot, step_index, 0).substr(0, kNameMax);
  const std::string& options = step.options;
  auto has = [&](std::string_view word) { return ContainsNoCase(options, word); };
  std::uint32_t type = regtype::kSz;
  if (options.empty() || has("Olvex"))
    type = IsDwordText(data) ? regtype::kDword : regtype::kSz;
  else if (has("DWORD"))
    type = regtype::kDword;
  else if (has("EXPAND"))
    type = regtype::kExpandSz;
  else if (has("BINARY"))
    type = regtype::kBinary;
  else if (has("MULTI_SZ"))
    type = regtype::kMultiSz;
  else if (has("QWORD"))
    type = regtype::kQword;
  std::string bytes;
  if (type == regtype::kDword) {
    const std::optional<std::uint32_t> number = DwordOf(data);
    if (!number) {
      SetStepError("The number \"" + data.substr(0, 100) + "\" does not fit in a DWORD");
      return 0;
    }
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((*number >> (8 * i)) & 0xFF);
  } else if (type == regtype::kQword) {
    const auto number = static_cast<std::uint64_t>(static_cast<std::int64_t>(LeadingDecimal(data)));
    for (int i = 0; i < 8; ++i) bytes += static_cast<char>((number >> (8 * i)) & 0xFF);
  } else {
    bytes = data;
    if (type != regtype::kBinary) bytes += '\0';
  }
  if (!RegistryWrite(path, type, bytes)) {
    SetStepError("The registry value \"" + path + "\" could not be written");
    return 0;
  }
  return 1;
}

// A key path taken apart: its root and the key below it (no trailing `\`).
struct KeyPath {
  RegistryRoot root = RegistryRoot::kCurrentUser;
  std::string key;
};

std::optional<KeyPath> KeyPathOf(std::string_view text) {
  if (text.empty() || text.find('\\') == std::string_view::npos) return std::nullopt;
  KeyPath k;
  k.key = std::string(text);
  k.root = RegistryRootFromPath(&k.key);
  while (!k.key.empty() && k.key.back() == '\\') k.key.pop_back();
  if (k.key.empty()) return std::nullopt;
  return k;
}

bool CopyKey(const KeyPath& from, const KeyPath& to, std::string* error) {
  if (StopRequested()) {
    *error = "The run was stopped";
    return false;
  }
  std::vector<std::string> names;
  RegistryStatus status = platform::ListRegistryValues(from.root, from.key, &names);
  if (status == RegistryStatus::kOk) status = platform::CreateRegistryKey(to.root, to.key);
  for (std::size_t i = 0; status == RegistryStatus::kOk && i < names.size(); ++i) {
    platform::RegistryData value;
    status = platform::ReadRegistryValue(from.root, from.key, names[i], &value);
    if (status == RegistryStatus::kOk) status = platform::WriteRegistryValue(to.root, to.key, names[i], value.type, value.data);
  }
  if (status == RegistryStatus::kOk) status = platform::ListRegistrySubkeys(from.root, from.key, &names);
  if (status != RegistryStatus::kOk) {
    *error = std::string("The registry key could not be copied: ") + StatusText(status);
    return false;
  }
  for (const std::string& name : names)
    if (!CopyKey({from.root, from.key + "\\" + name}, {to.root, to.key + "\\" + name}, error)) return false;
  return true;
}

int CopyRegistry(int slot, int step_index, const Step& step) {
  const std::string source = ExpandText(step.value(1), slot, step_index, 0).substr(0, kNameMax);
  const std::string destination = ExpandText(step.text, slot, step_index, 0).substr(0, kNameMax);
  std::string error;
  if (!CopyRegistryTree(source, destination, &error)) {
    SetStepError(error);
    return 0;
  }
  return 1;
}

int DeleteRegistry(int slot, int step_index, const Step& step) {
  const std::string path = ExpandText(step.value(1), slot, step_index, 0).substr(0, kNameMax);
  std::string below_root = path;
  RegistryRootFromPath(&below_root);
  if (path.empty() || path.front() == '\\' || below_root.find_first_not_of('\\') == std::string::npos) {
    SetStepError("Unable to delete registry root key!");
    return 0;
  }
  if (!RegistryDelete(path)) {
    SetStepError("The registry value or key \"" + path + "\" could not be deleted");
    return 0;
  }
  return 1;
}

int IniStep(int slot, int step_index, const Step& step) {
  auto field = [&](std::string_view text) { return ExpandText(text, slot, step_index, 0).substr(0, kNameMax); };
  const std::string file = field(step.value(1));
  std::string section = field(step.value(2));
  if (section.starts_with('[')) section.erase(0, 1);
  if (section.ends_with(']')) section.pop_back();
  const std::string key = field(step.value(3));
  const std::string& action = step.action;
  bool done = true;
  if (ContainsNoCase(action, "Write")) {
    done = platform::WriteProfileValue(file, section, key, field(step.text));
  } else if (ContainsNoCase(action, "Delete")) {
    if (ContainsNoCase(step.options, "Section") && !section.empty())
      done = platform::DeleteProfileSection(file, section);
    else if (ContainsNoCase(step.options, "Key") && !section.empty() && !key.empty())
      done = platform::DeleteProfileValue(file, section, key);
  } else {
    std::string value = platform::ReadProfileValue(file, section, key).value_or("");
    if (value.size() > kIniValueMax) value.resize(kIniValueMax);
    SaveOutput(slot, step_index, value);
  }
  if (!done) SetStepError("The INI file \"" + file + "\" could not be written");
  return done ? 1 : 0;
}

}  // namespace

bool CopyRegistryTree(std::string_view source, std::string_view destination, std::string* error) {
  const std::optional<KeyPath> from = KeyPathOf(source), to = KeyPathOf(destination);
  if (!from || !to) {
    *error = "Copy Registry needs two keys below a root";
    return false;
  }
  if (!platform::RegistryKeyExists(from->root, from->key)) {
    *error = "The registry key \"" + std::string(source) + "\" does not exist";
    return false;
  }
  if (from->root == to->root && (EqualsNoCase(from->key, to->key) || StartsWithNoCase(to->key, from->key + "\\"))) {
    *error = "The destination lies inside the key it copies";
    return false;
  }
  return CopyKey(*from, *to, error);
}

int RegistryOrIniStep(int slot, int step_index) {
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string& action = step.action;
  auto has = [&](std::string_view word) { return ContainsNoCase(action, word); };
  if (has("Registry")) {
    if (has("Read")) return ReadRegistry(slot, step_index, step);
    if (has("Write")) return WriteRegistry(slot, step_index, step);
    if (has("Copy")) return CopyRegistry(slot, step_index, step);
    if (has("Delete")) return DeleteRegistry(slot, step_index, step);
    return kNotRegistryOrIni;
  }
  if (has("INI") && (has("Write") || has("Delete") || has("Read"))) return IniStep(slot, step_index, step);
  return kNotRegistryOrIni;
}

}  // namespace olvex
