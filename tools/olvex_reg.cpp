// olvex-reg: looks into and changes the registry the runtime uses, in the
// manner of Windows' reg.exe. On Windows it works on the real registry; on
// POSIX on the runtime's own store, the database registry.db in the folder
// RegistryLocation() names.
//
//   olvex-reg query  KEY [/v NAME | /ve] [/s]
//   olvex-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
//   olvex-reg delete KEY [/v NAME | /ve | /va] [/f]
//   olvex-reg export KEY [FILE]
//
// KEY is ROOT\path with ROOT one of HKCU, HKLM, HKCR, HKU, HKCC or their
// full names (HKEY_CURRENT_USER, ...). TYPE is REG_SZ (the default),
// REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE.
// Exit code 0 on success, 1 on failure.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "olvex_version.h"

namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;
namespace regtype = platform::regtype;

constexpr char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.";
constexpr char kDone[] = "The operation completed successfully.";

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Names in the order people expect: without regard to case.
void SortNames(std::vector<std::string>* names) {
  std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    std::string ua = Upper(a), ub = Upper(b);
    return ua != ub ? ua < ub : a < b;
  });
}

// The usage on standard error (exit code 1), or on standard output when asked
// for with --help (exit code 0).
int Usage(bool asked = false) {
  std::FILE* to = asked ? stdout : stderr;
  std::fputs(
      "Usage:\n"
      "  olvex-reg query  KEY [/v NAME | /ve] [/s]\n"
      "  olvex-reg add    KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
      "  olvex-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
      "  olvex-reg export KEY [FILE]\n"
      "KEY: ROOT\\path, ROOT = HKCU | HKLM | HKCR | HKU | HKCC (or HKEY_CURRENT_USER, ...)\n"
      "TYPE: REG_SZ | REG_EXPAND_SZ | REG_MULTI_SZ | REG_DWORD | REG_QWORD | REG_BINARY | REG_NONE\n"
      "  olvex-reg --help | --version\n",
      to);
  std::fprintf(to, "Store: %s\n", platform::RegistryLocation().c_str());
  return asked ? 0 : 1;
}

int Error(const std::string& text) {
  std::fprintf(stderr, "ERROR: %s\n", text.c_str());
  return 1;
}

// A key or value that is not there, or a store that cannot be read.
int Missing() {
  const std::string problem = platform::RegistryProblem();
  return Error(problem.empty() ? std::string(kNotFound + 7) : "the store cannot be read: " + problem);
}

struct KeyName {
  RegistryRoot root;
  std::string path;  // below the root, without leading or trailing `\`
  std::string Full() const {
    return std::string(platform::RegistryRootName(root)) + (path.empty() ? "" : "\\" + path);
  }
};

std::optional<KeyName> ParseKey(std::string text) {
  std::size_t slash = text.find('\\');
  std::string root = Upper(text.substr(0, slash));
  std::string rest = slash == std::string::npos ? "" : text.substr(slash + 1);
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  static const struct {
    const char *shortname, *longname;
    RegistryRoot root;
  } kRoots[] = {
      {"HKCU", "HKEY_CURRENT_USER", RegistryRoot::kCurrentUser},
      {"HKLM", "HKEY_LOCAL_MACHINE", RegistryRoot::kLocalMachine},
      {"HKCR", "HKEY_CLASSES_ROOT", RegistryRoot::kClassesRoot},
      {"HKU", "HKEY_USERS", RegistryRoot::kUsers},
      {"HKCC", "HKEY_CURRENT_CONFIG", RegistryRoot::kCurrentConfig},
  };
  for (const auto& r : kRoots)
    if (root == r.shortname || root == r.longname) return KeyName{r.root, rest};
  return std::nullopt;
}

const char* TypeName(std::uint32_t type) {
  static const char* kNames[] = {"REG_NONE",     "REG_SZ",   "REG_EXPAND_SZ", "REG_BINARY",
                                 "REG_DWORD",    "REG_DWORD_BIG_ENDIAN", "REG_LINK", "REG_MULTI_SZ",
                                 "REG_RESOURCE_LIST", "REG_FULL_RESOURCE_DESCRIPTOR",
                                 "REG_RESOURCE_REQUIREMENTS_LIST", "REG_QWORD"};
  return type < std::size(kNames) ? kNames[type] : nullptr;
}

std::optional<std::uint32_t> TypeFromName(const std::string& name) {
  for (std::uint32_t t = 0; t <= regtype::kQword; ++t)
    if (TypeName(t) && Upper(name) == TypeName(t)) return t;
  return std::nullopt;
}

std::uint64_t LittleEndian(const std::string& data, std::size_t bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes && i < data.size(); ++i)
    v |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  return v;
}

std::string Hex(const std::string& data, const char* separator) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i && separator) out += separator;
    unsigned char c = static_cast<unsigned char>(data[i]);
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  return out;
}

// The data as reg.exe's query shows it.
std::string Shown(const platform::RegistryData& v) {
  char buf[32];
  switch (v.type) {
    case regtype::kSz:
    case regtype::kExpandSz: return v.data.substr(0, v.data.find('\0'));
    case regtype::kDword:
      if (v.data.size() != 4) break;
      std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(LittleEndian(v.data, 4)));
      return buf;
    case regtype::kQword:
      if (v.data.size() != 8) break;
      std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(LittleEndian(v.data, 8)));
      return buf;
    case regtype::kMultiSz: {
      std::string items = v.data;
      std::size_t end = items.find(std::string("\0\0", 2));
      if (end != std::string::npos) items.resize(end);
      while (!items.empty() && items.back() == '\0') items.pop_back();
      std::string out;
      for (char c : items) out += c == '\0' ? std::string("\\0") : std::string(1, c);
      return out;
    }
    default: break;
  }
  return Hex(v.data, nullptr);
}

void PrintValue(const std::string& name, const platform::RegistryData& v) {
  const char* type = TypeName(v.type);
  char other[16];
  if (!type) {
    std::snprintf(other, sizeof other, "0x%x", static_cast<unsigned>(v.type));
    type = other;
  }
  std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : name.c_str(), type, Shown(v).c_str());
}

struct Options {
  std::vector<std::string> positional;
  std::optional<std::string> value_name;  // /v NAME or /ve ("")
  bool all_values = false;                // /va
  bool recursive = false;                 // /s without an argument (query)
  std::optional<std::string> separator;   // /s SEP (add)
  std::string type = "REG_SZ";
  std::optional<std::string> data;
  bool force = false;
  std::string error;
};

Options ParseOptions(const std::string& command, int argc, char** argv) {
  Options o;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    std::string flag = (a.size() >= 2 && (a[0] == '/' || a[0] == '-')) ? Upper(a.substr(1)) : "";
    auto next = [&](const char* what) -> std::optional<std::string> {
      if (i + 1 >= argc) {
        o.error = std::string("missing ") + what + " after " + a;
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (flag == "V") {
      o.value_name = next("a value name");
    } else if (flag == "VE") {
      o.value_name = "";
    } else if (flag == "VA") {
      o.all_values = true;
    } else if (flag == "S" && command == "ADD") {
      o.separator = next("a separator");
    } else if (flag == "S") {
      o.recursive = true;
    } else if (flag == "T") {
      o.type = next("a type").value_or("");
    } else if (flag == "D") {
      o.data = next("the data");
    } else if (flag == "F" || flag == "Y") {
      o.force = true;
    } else if (!flag.empty() && o.positional.empty()) {
      o.error = "unknown option " + a;
    } else {
      o.positional.push_back(a);
    }
    if (!o.error.empty()) break;
  }
  return o;
}

bool Confirm(const std::string& question) {
  std::printf("%s (Yes/No)? ", question.c_str());
  std::fflush(stdout);
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  answer = Upper(answer);
  return answer == "Y" || answer == "YES";
}

int QueryKey(const KeyName& key, bool recursive) {
  std::vector<std::string> names, subkeys;
  if (platform::ListRegistryValues(key.root, key.path, &names) != RegistryStatus::kOk ||
      platform::ListRegistrySubkeys(key.root, key.path, &subkeys) != RegistryStatus::kOk)
    return 1;
  SortNames(&names);
  SortNames(&subkeys);
  std::printf("\n%s\n", key.Full().c_str());
  for (const auto& name : names) {
    platform::RegistryData v;
    if (platform::ReadRegistryValue(key.root, key.path, name, &v) == RegistryStatus::kOk) PrintValue(name, v);
  }
  if (!recursive && !subkeys.empty()) std::printf("\n");
  for (const auto& sub : subkeys) {
    KeyName child{key.root, key.path.empty() ? sub : key.path + "\\" + sub};
    if (recursive)
      QueryKey(child, true);
    else
      std::printf("%s\n", child.Full().c_str());
  }
  return 0;
}

int Query(const KeyName& key, const Options& o) {
  if (!platform::RegistryKeyExists(key.root, key.path)) return Missing();
  if (o.value_name) {
    platform::RegistryData v;
    if (platform::ReadRegistryValue(key.root, key.path, *o.value_name, &v) != RegistryStatus::kOk)
      return Missing();
    std::printf("\n%s\n", key.Full().c_str());
    PrintValue(*o.value_name, v);
    return 0;
  }
  if (QueryKey(key, o.recursive) != 0) return Missing();
  return 0;
}

std::optional<std::string> Encode(std::uint32_t type, const std::string& text, const std::string& separator,
                                  std::string* error) {
  switch (type) {
    case regtype::kSz:
    case regtype::kExpandSz: return text + '\0';
    case regtype::kMultiSz: {
      std::string out;
      std::size_t start = 0;
      if (!text.empty()) {
        for (;;) {
          std::size_t at = separator.empty() ? std::string::npos : text.find(separator, start);
          out += text.substr(start, at == std::string::npos ? std::string::npos : at - start);
          out += '\0';
          if (at == std::string::npos) break;
          start = at + separator.size();
        }
      }
      out += '\0';
      return out;
    }
    case regtype::kDword:
    case regtype::kQword: {
      std::size_t bytes = type == regtype::kDword ? 4 : 8;
      std::string t = text.empty() ? "0" : text;
      bool negative = t[0] == '-';
      std::size_t i = negative ? 1 : 0;
      int base = (t.size() > i + 1 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) ? 16 : 10;
      if (base == 16) i += 2;
      if (i >= t.size()) {
        *error = "Invalid number: " + text;
        return std::nullopt;
      }
      unsigned long long v = 0;
      for (; i < t.size(); ++i) {
        int c = std::tolower(static_cast<unsigned char>(t[i]));
        int d = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
        unsigned long long limit = bytes == 4 ? 0xFFFFFFFFull : ~0ull;
        if (d >= base || v > (limit - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) {
          *error = "Invalid number: " + text;
          return std::nullopt;
        }
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
      }
      if (negative) v = 0 - v;
      std::string out;
      for (std::size_t b = 0; b < bytes; ++b) out += static_cast<char>((v >> (8 * b)) & 0xFF);
      return out;
    }
    default: {  // REG_BINARY and the rest: hex digits
      if (text.size() % 2 != 0) {
        *error = "Invalid hexadecimal data: " + text;
        return std::nullopt;
      }
      std::string out;
      for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = std::isxdigit(static_cast<unsigned char>(text[i])), lo = std::isxdigit(static_cast<unsigned char>(text[i + 1]));
        if (!hi || !lo) {
          *error = "Invalid hexadecimal data: " + text;
          return std::nullopt;
        }
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
      }
      return out;
    }
  }
}

std::string StatusText(RegistryStatus s) {
  // What the store ran into (the damaged database file, say) says more.
  if (std::string problem = platform::RegistryProblem(); !problem.empty() && s != RegistryStatus::kNotFound)
    return s == RegistryStatus::kCorrupt ? "the store is damaged: " + problem : problem;
  switch (s) {
    case RegistryStatus::kOk: return "success";
    case RegistryStatus::kNotFound: return "not found";
    case RegistryStatus::kRefused: return "the value is too large";
    case RegistryStatus::kAccessDenied: return "Access is denied.";
    case RegistryStatus::kBadName: return "invalid key or value name";
    case RegistryStatus::kCorrupt: return "the store is damaged";
    case RegistryStatus::kFailed: break;
  }
  return "the registry refused the operation";
}

int Add(const KeyName& key, const Options& o) {
  std::optional<std::uint32_t> type = TypeFromName(o.type);
  if (!type) return Error("Invalid type: " + o.type);
  std::string error;
  std::optional<std::string> data = Encode(*type, o.data.value_or(""), o.separator.value_or("\\0"), &error);
  if (!data) return Error(error);
  if (!o.value_name) {
    RegistryStatus s = platform::CreateRegistryKey(key.root, key.path);
    if (s != RegistryStatus::kOk) return Error(StatusText(s));
    std::puts(kDone);
    return 0;
  }
  if (!o.force && platform::ReadRegistryValue(key.root, key.path, *o.value_name, nullptr) == RegistryStatus::kOk &&
      !Confirm("Value " + (o.value_name->empty() ? std::string("(Default)") : *o.value_name) + " exists, overwrite")) {
    std::puts("The operation was canceled by the user.");
    return 1;
  }
  RegistryStatus s = platform::WriteRegistryValue(key.root, key.path, *o.value_name, *type, *data);
  if (s != RegistryStatus::kOk) return Error(StatusText(s));
  std::puts(kDone);
  return 0;
}

int Delete(const KeyName& key, const Options& o) {
  if (!platform::RegistryKeyExists(key.root, key.path)) return Missing();
  if (o.value_name) {
    if (!o.force && !Confirm("Delete the registry value " + (o.value_name->empty() ? "(Default)" : *o.value_name)))
      return 1;
    RegistryStatus s = platform::DeleteRegistryValue(key.root, key.path, *o.value_name);
    if (s != RegistryStatus::kOk) return s == RegistryStatus::kNotFound ? Missing() : Error(StatusText(s));
  } else if (o.all_values) {
    if (!o.force && !Confirm("Delete all values under the registry key " + key.Full())) return 1;
    std::vector<std::string> names;
    platform::ListRegistryValues(key.root, key.path, &names);
    for (const auto& name : names) platform::DeleteRegistryValue(key.root, key.path, name);
  } else {
    if (key.path.empty()) return Error("Unable to delete a registry root key.");
    if (!o.force && !Confirm("Permanently delete the registry key " + key.Full())) return 1;
    RegistryStatus s = platform::DeleteRegistryKey(key.root, key.path);
    if (s != RegistryStatus::kOk) return Error(StatusText(s));
  }
  std::puts(kDone);
  return 0;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// One value in the REGEDIT4 format: strings as "text", DWORDs as dword:,
// anything else (or a string that does not fit a line) as hex(type):.
std::string RegFileValue(const std::string& name, const platform::RegistryData& v) {
  std::string line = name.empty() ? "@" : Quoted(name);
  line += '=';
  if (v.type == regtype::kSz && !v.data.empty() && v.data.back() == '\0' &&
      v.data.find_first_of(std::string("\r\n\0", 3)) == v.data.size() - 1)
    return line + Quoted(v.data.substr(0, v.data.size() - 1));
  if (v.type == regtype::kDword && v.data.size() == 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(LittleEndian(v.data, 4)));
    return line + buf;
  }
  line += v.type == regtype::kBinary ? "hex:" : "hex(" + [&] {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(v.type));
    return std::string(buf);
  }() + "):";
  std::string hex = Hex(v.data, ",");
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return line + hex;
}

void ExportKey(const KeyName& key, std::FILE* out) {
  std::fprintf(out, "[%s]\n", key.Full().c_str());
  std::vector<std::string> names, subkeys;
  platform::ListRegistryValues(key.root, key.path, &names);
  SortNames(&names);
  for (const auto& name : names) {
    platform::RegistryData v;
    if (platform::ReadRegistryValue(key.root, key.path, name, &v) == RegistryStatus::kOk)
      std::fprintf(out, "%s\n", RegFileValue(name, v).c_str());
  }
  std::fprintf(out, "\n");
  platform::ListRegistrySubkeys(key.root, key.path, &subkeys);
  SortNames(&subkeys);
  for (const auto& sub : subkeys) ExportKey({key.root, key.path.empty() ? sub : key.path + "\\" + sub}, out);
}

int Export(const KeyName& key, const Options& o) {
  if (!platform::RegistryKeyExists(key.root, key.path)) return Missing();
  std::FILE* out = stdout;
  if (o.positional.size() > 1) {
    out = std::fopen(o.positional[1].c_str(), "w");
    if (!out) return Error("Unable to write " + o.positional[1]);
  }
  std::fprintf(out, "REGEDIT4\n\n");
  ExportKey(key, out);
  bool ok = std::fflush(out) == 0;
  if (out != stdout) ok = std::fclose(out) == 0 && ok;
  if (!ok) return Error("Unable to write the export");
  if (out != stdout) std::puts(kDone);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h" || std::string(argv[1]) == "/?"))
    return Usage(true);
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::puts("olvex-reg " OLVEX_VERSION);
    return 0;
  }
  if (argc < 3) return Usage();
  std::string command = Upper(argv[1]);
  Options o = ParseOptions(command, argc, argv);
  if (!o.error.empty()) return Error(o.error);
  if (o.positional.empty()) return Usage();
  std::optional<KeyName> key = ParseKey(o.positional[0]);
  if (!key) return Error("Invalid key name: " + o.positional[0]);
  if (command == "QUERY") return Query(*key, o);
  if (command == "ADD") return Add(*key, o);
  if (command == "DELETE") return Delete(*key, o);
  if (command == "EXPORT") return Export(*key, o);
  return Usage();
}
