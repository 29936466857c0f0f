#include "vars/registry_value.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <vector>

#include "engine/text.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace olvex {

namespace {

using platform::RegistryRoot;
using platform::RegistryStatus;

std::mutex g_override_mutex;
std::string g_override;  // empty: no override

void ApplyOverride(std::string* path) {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(g_override_mutex);
    if (g_override.empty()) return;
    name = g_override;
  }
  std::size_t at = FindNoCase(*path, "\\Olvex\\");
  if (at != std::string::npos) path->replace(at + 1, 5, name);
}

// A key path is usable when no component is empty or longer than 255 characters
// (the root itself is "").
bool KeyPathOk(std::string_view key) {
  std::size_t start = 0;
  while (!key.empty()) {
    std::size_t end = key.find('\\', start);
    std::size_t length = (end == std::string_view::npos ? key.size() : end) - start;
    if (length == 0 || length > platform::kMaxRegistryKeyName) return false;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return true;
}

std::string_view SpillReference(std::string_view data) {
  if (data.substr(0, kSpillPrefix.size()) != kSpillPrefix) return {};
  std::string_view ref = data.substr(0, kRegistryPathMax);
  ref.remove_prefix(kSpillPrefix.size());
  return ref.substr(0, ref.find('\0'));
}

bool IsSpilled(std::string_view data) { return data.substr(0, kSpillPrefix.size()) == kSpillPrefix; }

// The spill file of a value is removed only when it is one this value's own
// path spills to: its name of today, or that name without the mark (values
// written by earlier versions refer to it). A copied reference, or one written
// by hand, never takes another value's file (or any other file) with it.
bool IsOwnSpillFile(const RegistryPath& p, std::string_view ref) {
  std::optional<std::string> own = SpillFilePath(p);
  if (!own) return false;
  constexpr std::size_t kMarkAndSuffix = 1 + 8 + 4;  // "-", eight hex digits, ".dat"
  const std::string unmarked = own->substr(0, own->size() - kMarkAndSuffix) + ".dat";
  return EqualsNoCase(*own, ref) || EqualsNoCase(unmarked, ref);
}

void RemoveOwnSpillFile(const RegistryPath& p, std::string_view data) {
  if (!IsSpilled(data)) return;
  std::string_view ref = SpillReference(data);
  if (IsOwnSpillFile(p, ref)) platform::RemoveFile(std::string(ref));
}

// Before a key goes: the spill files of the values in it and below it.
void RemoveSpillFilesUnder(RegistryRoot root, const std::string& key) {
  std::vector<std::string> names;
  if (platform::ListRegistryValues(root, key, &names) == RegistryStatus::kOk) {
    for (const auto& name : names) {
      platform::RegistryData v;
      if (platform::ReadRegistryValue(root, key, name, &v) != RegistryStatus::kOk || !IsSpilled(v.data)) continue;
      RegistryPath p;
      p.ok = true;
      p.root = root;
      p.rest = key + "\\" + EscapeRegistryName(name);
      p.key = key;
      p.name = name;
      RemoveOwnSpillFile(p, v.data);
    }
  }
  std::vector<std::string> subkeys;
  if (platform::ListRegistrySubkeys(root, key, &subkeys) == RegistryStatus::kOk)
    for (const auto& sub : subkeys) RemoveSpillFilesUnder(root, key + "\\" + sub);
}

std::size_t Fail(int mode, std::string* buffer) {
  if (mode == kRegRead && buffer) buffer->clear();
  return 0;
}

std::size_t QueryOrRead(int mode, std::uint32_t* type, std::string* buffer, std::size_t size,
                        const RegistryPath& p) {
  platform::RegistryData v;
  if (platform::ReadRegistryValue(p.root, p.key, p.name, &v) != RegistryStatus::kOk) return Fail(mode, buffer);
  if (type) *type = v.type;
  if (IsSpilled(v.data)) {
    std::string spill(SpillReference(v.data));
    if (mode == kRegQuerySize) {
      auto bytes = platform::RegularFileSize(spill);
      return bytes ? static_cast<std::size_t>(*bytes) : 0;
    }
    platform::FileContent file = platform::ReadWholeFile(spill, size);
    if (file.status != platform::ReadStatus::Ok) return Fail(mode, buffer);
    *buffer = std::move(file.data);
    return buffer->size();
  }
  if (mode == kRegQuerySize) return v.data.size();
  if (v.type == platform::regtype::kMultiSz) v.data = MultiSzToText(v.data);
  if (v.data.size() > size) return Fail(mode, buffer);
  *buffer = std::move(v.data);
  return buffer->size();
}

std::size_t Write(std::uint32_t type, std::string_view data, const RegistryPath& p) {
  std::string converted;
  if (type == platform::regtype::kMultiSz) {
    converted = TextToMultiSz(data);
    data = converted;
  }
  RegistryStatus status = platform::WriteRegistryValue(p.root, p.key, p.name, type, data);
  if (status == RegistryStatus::kOk) return 1;
  if (data.size() <= kSpillThreshold || status == RegistryStatus::kBadName) return 0;

  std::optional<std::string> spill = SpillFilePath(p);
  if (!spill) return 0;
  // The value's file of today may be named in other letter case (the value
  // was written so): keep that name, it is the same value.
  platform::RegistryData before;
  const bool had = platform::ReadRegistryValue(p.root, p.key, p.name, &before) == RegistryStatus::kOk;
  const std::string_view old_ref = had ? SpillReference(before.data) : std::string_view();
  if (!old_ref.empty() && EqualsNoCase(old_ref, *spill)) spill = std::string(old_ref);
  if (!platform::WriteFileReplacing(*spill, std::string(data))) return 0;
  std::string ref = std::string(kSpillPrefix) + *spill;
  ref.push_back('\0');
  if (platform::WriteRegistryValue(p.root, p.key, p.name, platform::regtype::kSz, ref) == RegistryStatus::kOk) {
    // A file of an earlier name (see IsOwnSpillFile) is no longer referred to.
    if (!old_ref.empty() && !EqualsNoCase(old_ref, *spill) && IsOwnSpillFile(p, old_ref))
      platform::RemoveFile(std::string(old_ref));
    return 1;
  }
  // The value may already refer to this file (an earlier spill): then the new
  // contents are in force and the write took effect.
  if (had && before.data == ref) return 1;
  platform::RemoveFile(*spill);
  return 0;
}

std::size_t Delete(const RegistryPath& p) {
  bool deleted = false;
  if (!p.rest.empty() && KeyPathOk(p.rest) && platform::RegistryKeyExists(p.root, p.rest)) {
    RemoveSpillFilesUnder(p.root, p.rest);
    deleted = platform::DeleteRegistryKey(p.root, p.rest) == RegistryStatus::kOk;
  }
  platform::RegistryData v;
  if (platform::ReadRegistryValue(p.root, p.key, p.name, &v) == RegistryStatus::kOk) RemoveOwnSpillFile(p, v.data);
  if (platform::DeleteRegistryValue(p.root, p.key, p.name) == RegistryStatus::kOk) deleted = true;
  return deleted ? 1 : 0;
}

}  // namespace

std::string FormatPath(std::string_view format, std::span<const PathArg> args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // %[-0]*[width][.precision][h|hh|l|ll|I64]conversion
    std::size_t j = i + 1;
    bool left = false, zero = false;
    while (j < format.size() && (format[j] == '-' || format[j] == '0')) (format[j++] == '-' ? left : zero) = true;
    std::size_t width = 0;
    while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])))
      width = std::min<std::size_t>(width * 10 + static_cast<std::size_t>(format[j++] - '0'), kRegistryPathMax);
    std::size_t precision = std::string::npos;
    if (j < format.size() && format[j] == '.') {
      precision = 0;
      ++j;
      while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j])))
        precision = std::min<std::size_t>(precision * 10 + static_cast<std::size_t>(format[j++] - '0'), 4096);
    }
    if (format.substr(j, 3) == "I64") j += 3;
    while (j < format.size() && (format[j] == 'l' || format[j] == 'h')) ++j;
    char conv = j < format.size() ? format[j] : '\0';
    bool wants_text = conv == 's';
    bool wants_number = conv == 'd' || conv == 'i' || conv == 'u' || conv == 'x' || conv == 'X' || conv == 'c';
    if ((!wants_text && !wants_number) || next >= args.size() || args[next].is_text != wants_text) {
      out += c;  // not a conversion this formatter fills: keep it as written
      continue;
    }
    const PathArg& a = args[next++];
    std::string piece;
    if (conv == 's') {
      piece = std::string(a.text.substr(0, precision));
    } else if (conv == 'c') {
      piece = std::string(1, static_cast<char>(a.number));
    } else {
      bool negative = (conv == 'd' || conv == 'i') && a.number < 0;
      unsigned long long v = negative ? 0ull - static_cast<unsigned long long>(a.number)
                                      : static_cast<unsigned long long>(a.number);
      if (conv != 'd' && conv != 'i' && a.number < 0) v = static_cast<std::uint32_t>(a.number);  // 32-bit, as printf
      const char* digits = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
      unsigned base = (conv == 'x' || conv == 'X') ? 16 : 10;
      do {
        piece.insert(piece.begin(), digits[v % base]);
        v /= base;
      } while (v);
      if (zero && !left)
        while (piece.size() + (negative ? 1 : 0) < width) piece.insert(piece.begin(), '0');
      if (negative) piece.insert(piece.begin(), '-');
    }
    if (piece.size() < width) {
      if (left)
        piece.append(width - piece.size(), ' ');
      else
        piece.insert(0, width - piece.size(), ' ');
    }
    out += piece;
    i = j;
  }
  return out;
}

platform::RegistryRoot RegistryRootFromPath(std::string* path) {
  static const struct {
    const char* prefix;
    RegistryRoot root;
  } kRoots[] = {
      {"HKEY_CLASSES_ROOT\\", RegistryRoot::kClassesRoot},   {"KEY_CLASSES_ROOT\\", RegistryRoot::kClassesRoot},
      {"HKEY_LOCAL_MACHINE\\", RegistryRoot::kLocalMachine}, {"KEY_LOCAL_MACHINE\\", RegistryRoot::kLocalMachine},
      {"HKEY_CURRENT_CONFIG\\", RegistryRoot::kCurrentConfig}, {"KEY_CURRENT_CONFIG\\", RegistryRoot::kCurrentConfig},
      {"HKEY_USERS\\", RegistryRoot::kUsers},
      {"HKEY_CURRENT_USER\\", RegistryRoot::kCurrentUser},   {"KEY_CURRENT_USER\\", RegistryRoot::kCurrentUser},
  };
  for (const auto& r : kRoots) {
    std::string_view prefix = r.prefix;
    if (StartsWithNoCase(*path, prefix)) {
      path->erase(0, prefix.size());
      return r.root;
    }
  }
  return RegistryRoot::kCurrentUser;
}

RegistryPath PrepareRegistryPath(std::string_view path, std::span<const PathArg> args) {
  RegistryPath p;
  std::string text = args.empty() ? std::string(path) : FormatPath(path, args);
  if (text.empty() || text.size() > kRegistryPathMax) return p;
  ApplyOverride(&text);
  p.root = RegistryRootFromPath(&text);
  p.rest = text;
  // The separator is the first `\` of the last run of backslashes of odd length.
  std::size_t sep = std::string::npos;
  for (std::size_t i = text.size(); i > 0;) {
    if (text[i - 1] != '\\') {
      --i;
      continue;
    }
    std::size_t start = i - 1;
    while (start > 0 && text[start - 1] == '\\') --start;
    if ((i - start) % 2 == 1) {
      sep = start;
      break;
    }
    i = start;
  }
  std::string_view raw_name = sep == std::string::npos ? std::string_view(text) : std::string_view(text).substr(sep + 1);
  for (std::size_t i = 0; i < raw_name.size(); ++i) {
    p.name += raw_name[i];
    if (raw_name[i] == '\\') ++i;  // `\\` is one backslash of the name
  }
  p.key = sep == std::string::npos ? std::string() : text.substr(0, sep);
  p.ok = !p.name.empty() && KeyPathOk(p.key);
  return p;
}

std::optional<std::string> SpillFilePath(const RegistryPath& path) {
  std::optional<std::string> folder = platform::TempFolder();
  if (!folder) return std::nullopt;
  std::string name = path.rest;
  for (char& c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' ||
        c == '|')
      c = '_';
  }
  // The readable name alone is not unique ("a_b" and "a\b", the same path
  // under two roots, two stores sharing one temporary folder): a mark of the
  // store, the root and the path in any letter case follows it: FNV-1a, so
  // that every build and every run names a value's file alike.
  std::uint64_t h = 1469598103934665603ull;
  auto mix = [&h](std::string_view text, bool fold) {
    for (char c : text) {
      h ^= static_cast<unsigned char>(fold ? AsciiLower(c) : c);
      h *= 1099511628211ull;
    }
    h ^= 0xFF;  // ends the field: ("ab", "c") and ("a", "bc") differ
    h *= 1099511628211ull;
  };
  mix(platform::RegistryLocation(), false);
  mix(platform::RegistryRootName(path.root), false);
  mix(path.rest, true);
  const auto mark = static_cast<std::uint32_t>(h ^ (h >> 32));
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex(8, '0');
  for (int i = 0; i < 8; ++i) hex[static_cast<std::size_t>(7 - i)] = kHex[(mark >> (4 * i)) & 0xF];
  return *folder + name + "-" + hex + ".dat";
}

std::string EscapeRegistryName(std::string_view name) {
  std::string out;
  for (char c : name) {
    out += c;
    if (c == '\\') out += '\\';
  }
  return out;
}

std::string TextToMultiSz(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string out;
  out.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += '\0';
      ++i;
    } else if (c == '\r' || c == '\n') {
      out += '\0';
    } else {
      out += c;
    }
  }
  // The list ends with two zero bytes.
  while (out.size() < 2 || out[out.size() - 1] != '\0' || out[out.size() - 2] != '\0') out += '\0';
  return out;
}

std::string MultiSzToText(std::string_view data) {
  std::size_t end = data.find(std::string_view("\0\0", 2));
  if (!data.empty() && data.front() == '\0') end = 0;  // an empty list
  data = data.substr(0, end);
  while (!data.empty() && data.back() == '\0') data.remove_suffix(1);
  std::string out;
  out.reserve(data.size() + 16);
  for (char c : data) {
    if (c == '\0')
      out += "\r\n";
    else
      out += c;
  }
  out += '\0';
  return out;
}

std::size_t RegistryValueV(int mode, std::uint32_t* type, std::string* buffer, std::size_t size,
                           std::string_view path, std::span<const PathArg> args) {
  if (mode < kRegQuerySize || mode > kRegDelete) return Fail(mode, buffer);
  if (mode == kRegRead && buffer) buffer->clear();
  if (path.empty() || ((mode == kRegWrite || mode == kRegRead) && !buffer)) return 0;
  if (mode == kRegWrite && (!type || size > buffer->size())) return 0;
  RegistryPath p = PrepareRegistryPath(path, args);
  if (!p.ok) return 0;
  switch (mode) {
    case kRegWrite: return Write(*type, std::string_view(*buffer).substr(0, size), p);
    case kRegDelete: return Delete(p);
    default: return QueryOrRead(mode, type, buffer, size, p);
  }
}

std::size_t RegistryQuerySize(std::string_view path, std::uint32_t* type) {
  return RegistryValue(kRegQuerySize, type, nullptr, 0, path);
}

bool RegistryWrite(std::string_view path, std::uint32_t type, std::string_view data) {
  RegistryPath p = PrepareRegistryPath(path);
  return !path.empty() && p.ok && Write(type, data, p) != 0;
}

std::optional<std::string> RegistryRead(std::string_view path, std::uint32_t* type) {
  RegistryPath p = PrepareRegistryPath(path);
  if (path.empty() || !p.ok) return std::nullopt;
  std::string value;
  platform::RegistryData v;
  if (platform::ReadRegistryValue(p.root, p.key, p.name, &v) != RegistryStatus::kOk) return std::nullopt;
  if (type) *type = v.type;
  if (IsSpilled(v.data)) {
    platform::FileContent file = platform::ReadWholeFile(std::string(SpillReference(v.data)));
    if (file.status != platform::ReadStatus::Ok) return std::nullopt;
    return std::move(file.data);
  }
  if (v.type == platform::regtype::kMultiSz) return MultiSzToText(v.data);
  return std::move(v.data);
}

bool RegistryDelete(std::string_view path) { return RegistryValue(kRegDelete, nullptr, nullptr, 0, path) != 0; }

bool RegistryExists(std::string_view path) {
  RegistryPath p = PrepareRegistryPath(path);
  return !path.empty() && p.ok && platform::ReadRegistryValue(p.root, p.key, p.name, nullptr) == RegistryStatus::kOk;
}

namespace {
struct KeyAt {
  bool ok = false;
  RegistryRoot root = RegistryRoot::kCurrentUser;
  std::string key;
};

KeyAt PrepareKeyPath(std::string_view key_path) {
  KeyAt k;
  std::string text(key_path);
  if (text.size() >= 2 && text[0] == '*' && text[1] == '\\') text = "HKEY_CURRENT_USER\\SOFTWARE\\Olvex\\" + text.substr(2);
  if (text.size() > kRegistryPathMax) return k;
  ApplyOverride(&text);
  k.root = RegistryRootFromPath(&text);
  while (!text.empty() && text.back() == '\\') text.pop_back();
  k.key = std::move(text);
  k.ok = KeyPathOk(k.key);
  return k;
}
}  // namespace

bool RegistryKeyExistsAt(std::string_view key_path) {
  KeyAt k = PrepareKeyPath(key_path);
  return k.ok && platform::RegistryKeyExists(k.root, k.key);
}

bool RegistryDeleteKeyAt(std::string_view key_path) {
  KeyAt k = PrepareKeyPath(key_path);
  if (!k.ok || k.key.empty() || !platform::RegistryKeyExists(k.root, k.key)) return false;
  RemoveSpillFilesUnder(k.root, k.key);
  return platform::DeleteRegistryKey(k.root, k.key) == RegistryStatus::kOk;
}

std::size_t CountRegistryEntries(std::string_view key_path, bool subkeys) {
  KeyAt k = PrepareKeyPath(key_path);
  if (!k.ok) return 0;
  auto count = subkeys ? platform::CountRegistrySubkeys(k.root, k.key) : platform::CountRegistryValues(k.root, k.key);
  return count.value_or(0);
}

bool ListRegistryEntries(std::string_view key_path, bool subkeys, std::vector<std::string>* names) {
  names->clear();
  KeyAt k = PrepareKeyPath(key_path);
  if (!k.ok) return false;
  const RegistryStatus status =
      subkeys ? platform::ListRegistrySubkeys(k.root, k.key, names) : platform::ListRegistryValues(k.root, k.key, names);
  return status == RegistryStatus::kOk;
}

void SetRegistryKeyOverride(std::string_view name) {
  std::string value(name.substr(0, 128));
  if (EqualsNoCase(value, "Olvex")) value.clear();
  std::lock_guard<std::mutex> lock(g_override_mutex);
  g_override = value;
}

std::string RegistryKeyOverride() {
  std::lock_guard<std::mutex> lock(g_override_mutex);
  return g_override;
}

}  // namespace olvex
