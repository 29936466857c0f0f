#include "system/file_actions.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "documents/pdf_writer.h"
#include "engine/dispatch.h"
#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/file_ops.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "system/file_list.h"
#include "system/file_paths.h"
#include "system/program_start.h"
#include "system/safe_files.h"
#include "vars/expand.h"
#include "vars/formula.h"

namespace olvex {
namespace {

constexpr std::size_t kBlock = std::size_t{32} << 20;  // search and fill blocks

bool Has(std::string_view text, std::string_view word) { return ContainsNoCase(text, word); }

struct Context {
  int slot;
  int index;
  const Step& step;
  std::string path;    // the main path: value1 expanded, located and cleaned
  std::string value2;  // value2 expanded, without commas, blanks and line breaks
};

std::string Expand(const Context& c, std::string_view field, int flags = 0) {
  return ExpandText(field, c.slot, c.index, flags);
}

int Fail(const std::string& message) {
  SetStepError(message);
  return 0;
}
int SystemFail() { return Fail(platform::LastErrorText()); }
int Missing(const std::string& path) { return Fail("'" + path + "' does not exist or is 0 bytes"); }
int Done(const Context& c, std::string_view result) {
  SaveOutput(c.slot, c.index, result);
  return 1;
}

std::string WithoutBlanks(std::string text) {
  std::erase_if(text, [](char ch) { return ch == ',' || ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; });
  return text;
}

// A position or size: ten or more digits are a 64-bit number, else a 32-bit one.
std::int64_t NumberOf(const std::string& text, bool wide) {
  if (wide && text.size() >= 10 && text.find_first_not_of("0123456789") == std::string::npos) {
    std::uint64_t n = 0;
    for (char ch : text) n = n > (std::numeric_limits<std::uint64_t>::max() - 9) / 10 ? n : n * 10 + static_cast<unsigned>(ch - '0');
    return static_cast<std::int64_t>(std::min<std::uint64_t>(n, std::numeric_limits<std::int64_t>::max()));
  }
  return FirstNumber(text);
}

std::string Decimal(std::uint64_t n) { return std::to_string(n); }

// ---- reading

int ReadFile(Context& c) {
  std::string path = c.path;
  const bool extracted = ExtractEmbedded(c.slot, c.index, path, 1, 0);
  struct Cleanup {
    Context& c;
    std::string& path;
    bool on;
    ~Cleanup() {
      if (on) ExtractEmbedded(c.slot, c.index, path, 2, 0);
    }
  } cleanup{c, path, extracted};
  const std::optional<std::uint64_t> size = platform::FileSize(path);
  if (!size || *size == 0) return Missing(path);
  const std::int64_t start = std::max<std::int64_t>(0, NumberOf(c.value2, true));
  const std::int64_t asked_end = NumberOf(WithoutBlanks(Expand(c, c.step.value(3))), true);
  const std::uint64_t end = asked_end <= 0 ? *size : std::min(*size, static_cast<std::uint64_t>(asked_end));
  platform::File file;
  if (!file.Open(path, platform::File::Mode::kRead)) return Fail("Unable to read '" + path + "'");
  const std::uint64_t begin = std::min(static_cast<std::uint64_t>(start), end);
  // The bytes go to the output as they were read; only zero bytes need a text of their own.
  const std::size_t length = static_cast<std::size_t>(end - begin);
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[length + 1]);
  if (!bytes) return Fail("Insufficient memory available");
  const std::optional<std::size_t> got = file.ReadAt(begin, bytes.get(), length);
  if (!got) return SystemFail();
  const std::string_view data(bytes.get(), *got);
  if (Has(c.step.output(), "File") || data.find('\0') == std::string_view::npos) return Done(c, data);
  std::string escaped;
  try {
    escaped.reserve(data.size() + 4 * static_cast<std::size_t>(std::count(data.begin(), data.end(), '\0')));
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t zero = std::min(data.find('\0', at), data.size());
      escaped.append(data.substr(at, zero - at));
      if (zero < data.size()) escaped += "{\\00}";
      at = zero + 1;
    }
  } catch (const std::bad_alloc&) {
    return Fail("Insufficient memory available");
  }
  return Done(c, escaped);
}

// Reads a file block by block; `each` gets every block and returns false to stop.
template <class Each>
bool ForEachBlock(const std::string& path, std::size_t block, Each each) {
  platform::File file;
  if (!file.Open(path, platform::File::Mode::kRead)) return false;
  std::vector<char> buffer(block);
  for (std::uint64_t at = 0;;) {
    const std::optional<std::size_t> got = file.ReadAt(at, buffer.data(), buffer.size());
    if (!got) return false;
    if (*got == 0) return true;
    if (!each(std::string_view(buffer.data(), *got))) return true;
    at += *got;
  }
}

int ReadFileLine(Context& c) {
  const std::optional<std::uint64_t> size = platform::FileSize(c.path);
  if (!size || *size == 0) return Missing(c.path);
  const std::int64_t wanted = std::max<std::int64_t>(1, NumberOf(c.value2, false));
  constexpr std::size_t kMaxLine = 1048560;
  std::string line, brk;
  std::int64_t number = 1;
  bool pending_cr = false;  // a CR ended the previous block: its LF may follow
  const std::size_t block = static_cast<std::size_t>(std::min<std::uint64_t>(*size + 1, std::uint64_t{1} << 20));
  const bool ok = ForEachBlock(c.path, block, [&](std::string_view data) {
    for (std::size_t i = 0; i < data.size(); ++i) {
      const char ch = data[i];
      if (pending_cr) {
        pending_cr = false;
        if (brk == "\r\n" && ch == '\n') continue;
      }
      if (brk.empty() && (ch == '\r' || ch == '\n')) {
        if (ch == '\n') brk = "\n";
        else if (i + 1 < data.size()) brk = data[i + 1] == '\n' ? "\r\n" : "\r";
        else brk = "\r\n";  // decided by the next block's first byte below
      }
      const bool is_break = !brk.empty() && ch == brk[0];
      if (number == wanted) {
        if (ch == '\r' || ch == '\n') return false;
        if (line.size() < kMaxLine) line += ch;
        continue;
      }
      if (is_break) {
        ++number;
        if (brk == "\r\n") pending_cr = true;
      }
    }
    return true;
  });
  if (!ok) return SystemFail();
  return Done(c, line);
}

// ---- writing

int WriteFile(Context& c) {
  const std::int64_t position = NumberOf(c.value2, true);
  std::size_t length = 0;
  std::string text;
  if (Has(c.step.options, "No Variable Expansion")) {
    text = c.step.text;
  } else {
    text = ExpandText(c.step.text, c.slot, c.index, Has(c.step.options, "Single") ? kExpandSingle : 0, &length);
    if (length > 0 && length < text.size()) text.resize(length);
  }
  const bool erase = Has(c.step.options, "Erase");
  // "Erase" writes a new file beside the old one and puts it in place when it is complete.
  std::string target = c.path;
  if (erase) {
    target = c.path + ".olvex-new";
    for (int n = 0; platform::PathExists(target) && n < 100; ++n) target = c.path + ".olvex-new" + std::to_string(n);
    if (platform::IsFolder(c.path)) return Fail("Unable to write/create '" + c.path + "'");
    const std::optional<std::uint32_t> bits = platform::ReadAttributes(c.path);
    if (bits && (*bits & platform::attr::kReadOnly)) return Fail("Unable to write/create '" + c.path + "'");
  }
  platform::File file;
  if (!file.Open(target, erase ? platform::File::Mode::kCreateNew : platform::File::Mode::kReadWrite))
    return Fail("Unable to write/create '" + c.path + "'");
  std::uint64_t at = position < 0 ? 0 : static_cast<std::uint64_t>(position);
  if (position == -1) at = file.Size().value_or(0);
  std::size_t written = 0;
  bool ok = file.WriteAt(at, text.data(), text.size(), &written);
  std::string error = ok ? std::string() : platform::LastErrorText();
  if (!file.Close() && ok) {
    ok = false;
    error = platform::LastErrorText();
  }
  if (erase) {
    if (ok) platform::CopyPermissions(c.path, target);
    if (ok && !platform::RenamePath(target, c.path)) {
      ok = false;
      error = platform::LastErrorText();
    }
    if (!ok) platform::DeleteFileAt(target);
  }
  if (LogLevel() > 1)
    LogLine("    Write File:  Attempted=%lu, Actual=%lu, Return=%d", static_cast<unsigned long>(text.size()),
            static_cast<unsigned long>(written), ok ? 1 : 0);
  return ok ? 1 : Fail(error);
}

int ChangeFileSize(Context& c) {
  const std::int64_t size = NumberOf(c.value2, true);
  if (size < 0) return Fail("The new size of '" + c.path + "' is negative");
  const std::string fill = Expand(c, c.step.value(3));
  platform::File file;
  if (!file.Open(c.path, platform::File::Mode::kReadWrite)) return SystemFail();
  const std::uint64_t old_size = file.Size().value_or(0);
  if (!file.Resize(static_cast<std::uint64_t>(size))) return SystemFail();
  if (!fill.empty() && fill[0] != '\0' && static_cast<std::uint64_t>(size) > old_size) {
    const std::uint64_t total = static_cast<std::uint64_t>(size) - old_size;
    const std::string block(static_cast<std::size_t>(std::min<std::uint64_t>(total, kBlock)), fill[0]);
    for (std::uint64_t done = 0; done < total;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(total - done, block.size()));
      if (!file.WriteAt(old_size + done, block.data(), n)) return SystemFail();
      done += n;
    }
  }
  return file.Close() ? 1 : SystemFail();
}

// ---- inspecting

std::uint32_t Crc32(const std::string& path) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i;
      for (int k = 0; k < 8; ++k) r = (r & 1) ? 0xEDB88320u ^ (r >> 1) : r >> 1;
      t[i] = r;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  std::uint64_t bytes = 0;
  const bool ok = ForEachBlock(path, std::size_t{1} << 20, [&](std::string_view data) {
    for (unsigned char ch : data) crc = table[(crc ^ ch) & 0xFF] ^ (crc >> 8);
    bytes += data.size();
    return true;
  });
  return ok && bytes > 0 ? ~crc : 0;
}

std::string SizeInMegabytes(std::uint64_t size) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", static_cast<double>(size) / 1048576.0);
  std::string out = text;
  const std::size_t dot = out.find('.');
  if (dot == std::string::npos) return out;
  if (size < 10486) return "0.01";
  return out.substr(0, dot + (size < 104858 ? 3 : 2));
}

std::string AttributeNames(std::uint32_t bits) {
  using namespace platform::attr;
  static constexpr std::pair<std::uint32_t, const char*> kNames[] = {
      {kArchive, "Archive, "}, {kCompressed, "Compressed, "}, {kDirectory, "Directory, "}, {kHidden, "Hidden, "},
      {kReadOnly, "Read Only, "}, {kSystem, "System, "}, {kTemporary, "Temporary, "}};
  std::string out;
  for (const auto& [bit, name] : kNames)
    if (bits & bit) out += name;
  if (out.size() >= 2) out.resize(out.size() - 2);
  return out;
}

int FileInfo(Context& c) {
  const std::string_view o = c.step.options;
  const std::string& path = c.path;
  if (Has(o, "Size")) {
    const std::uint64_t size = platform::FileSize(path).value_or(0);
    return Done(c, Has(o, "MB") ? SizeInMegabytes(size) : Decimal(size));
  }
  if (Has(o, "Ver")) {
    std::string version = platform::FileVersion(path);
    if (Has(o, "Short") && !version.empty()) {
      const std::size_t second = version.find('.', version.find('.') + 1);
      version = version.substr(0, second);
    }
    return Done(c, version);
  }
  if (Has(o, "Is Dir") || Has(o, "Is Folder")) return Done(c, platform::IsFolder(path) ? "1" : "0");
  if (Has(o, "Is File")) return Done(c, platform::IsFolder(path) ? "0" : "1");
  if (Has(o, "CRC")) return Done(c, Decimal(Crc32(path)));
  if (Has(o, "Name: ")) {
    static constexpr std::pair<const char*, int> kParts[] = {{"Drive+Path+Base", 7}, {"Drive+Path", 3}, {"Base+Ext", 12},
                                                             {"Drive", 1},           {"Path", 2},       {"Base", 4},
                                                             {"Ext", 8}};
    for (const auto& [word, mask] : kParts)
      if (Has(o, word)) return Done(c, PathParts(path, mask));
    return Done(c, "");
  }
  if (Has(o, "Drive ") && (Has(o, "Space") || Has(o, "Name") || Has(o, "Type"))) {
    const std::optional<platform::VolumeInfo> volume = platform::ReadVolume(path);
    if (!volume) return SystemFail();
    if (Has(o, "Space")) {
      if (Has(o, "Total")) return Done(c, Decimal(volume->total));
      if (Has(o, "Free")) return Done(c, Decimal(volume->free));
      if (Has(o, "Used")) return Done(c, Decimal(volume->total - std::min(volume->total, volume->free)));
      return Done(c, "");
    }
    return Done(c, Has(o, "Name") ? volume->label : volume->type);
  }
  if (Has(o, "Time") || Has(o, "Date")) {
    const std::optional<platform::FileTimes> times = platform::ReadFileTimes(path);
    if (!times) return SystemFail();
    const platform::LocalDateTime& t = (Has(o, "Modif") || Has(o, "Write")) ? times->modified
                                       : Has(o, "Acces")                    ? times->accessed
                                                                            : times->created;
    const platform::Locale& locale = platform::locale();
    return Done(c, locale.ShortDate(t.year, t.month, t.day) + " " + locale.TimeText(t.hour, t.minute, t.second));
  }
  if (Has(o, "Assoc")) {
    const std::string extension = PathParts(path, 8);
    if (Has(extension, "EXE")) return Done(c, extension);
    std::string program;
    AssociatedProgram(extension, &program);
    return Done(c, program);
  }
  if (Has(o, "Attrib")) {
    const std::optional<std::uint32_t> bits = platform::ReadAttributes(path);
    if (!bits) return 0;
    return Done(c, Has(o, "String") ? AttributeNames(*bits) : Decimal(*bits));
  }
  // Otherwise the options name a string of the version resource ("CompanyName").
  return Done(c, platform::VersionString(path, std::string(o)));
}

int CompareFiles(Context& c) {
  const std::string other = CleanedPath(Expand(c, c.step.value(2)));
  if (c.path.empty() || other.empty()) return Done(c, "0");
  if (EqualsNoCase(c.path, other)) return Done(c, "1");
  const std::optional<std::uint64_t> a = platform::FileSize(c.path), b = platform::FileSize(other);
  if (!a || !b || *a != *b) return Done(c, "0");
  platform::File second;
  if (!second.Open(other, platform::File::Mode::kRead)) return Done(c, "0");
  std::vector<char> theirs(std::size_t{1} << 20);
  std::uint64_t at = 0;
  bool same = true;
  const bool ok = ForEachBlock(c.path, theirs.size(), [&](std::string_view mine) {
    const std::optional<std::size_t> got = second.ReadAt(at, theirs.data(), mine.size());
    same = got && *got == mine.size() && std::memcmp(theirs.data(), mine.data(), mine.size()) == 0;
    at += mine.size();
    return same;
  });
  return Done(c, ok && same ? "1" : "0");
}

int SearchInFile(Context& c) {
  const std::optional<std::uint64_t> size = platform::FileSize(c.path);
  if (!size || *size == 0) return Missing(c.path);
  std::size_t length = 0;
  std::string needle = ExpandText(c.step.value(2), c.slot, c.index, 0, &length);
  if (length > 0 && length < needle.size()) needle.resize(length);
  const std::int64_t wanted = std::max<std::int64_t>(1, FirstNumber(WithoutBlanks(Expand(c, c.step.value(3)))));
  if (needle.empty()) return Done(c, "");
  platform::File file;
  if (!file.Open(c.path, platform::File::Mode::kRead)) return Missing(c.path);
  // Blocks overlap by the needle's length less one, so a match across two blocks is found too.
  const std::size_t overlap = needle.size() - 1;
  const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
  std::vector<char> buffer(kBlock + overlap);
  std::int64_t found = 0;
  std::optional<std::uint64_t> result;
  std::uint64_t base = 0;  // file offset of buffer[0]
  std::size_t kept = 0;    // bytes carried over from the previous block
  bool stopped = false;
  while (!result) {
    const std::optional<std::size_t> got = file.ReadAt(base + kept, buffer.data() + kept, kBlock);
    if (!got) return SystemFail();
    if (*got == 0) break;
    const std::string_view data(buffer.data(), kept + *got);
    for (auto at = data.begin(); (at = std::search(at, data.end(), searcher)) != data.end(); ++at) {
      if (++found == wanted) {
        result = base + static_cast<std::uint64_t>(at - data.begin());
        break;
      }
    }
    SetStatusText(false, 0, " Scanning: %lu MB", static_cast<unsigned long>((base + data.size()) >> 20));
    if (StopRequested()) {
      stopped = true;
      break;
    }
    // The last bytes (fewer than the needle) start the next block: no occurrence that starts
    // among them fitted into this one, so none is counted twice.
    kept = std::min(overlap, data.size());
    std::memmove(buffer.data(), buffer.data() + data.size() - kept, kept);
    base += data.size() - kept;
  }
  SetStatusText(true, 0, "%s", "");
  if (stopped) return Fail("The search was stopped");
  return Done(c, result ? Decimal(*result) : std::string());
}

// ---- lists of files

std::size_t CountMatches(const std::string& spec, bool recurse, bool folders) {
  std::string none;
  return BuildFileList(spec, recurse, folders, ';', &none, 0);
}

int FindFile(Context& c) {
  std::string folder = CleanedPath(Expand(c, c.step.value(2)));
  if (folder.empty()) folder = std::string(1, platform::PathSeparator());
  const std::string spec = JoinPath(folder, c.path);
  std::string list;
  const std::size_t count = BuildFileList(spec, true, false, '\n', &list, std::size_t{64} << 20);
  if (Has(c.step.options, "Count")) return Done(c, Decimal(count));
  if (Has(c.step.options, "All")) return Done(c, list);
  return Done(c, list.substr(0, list.find('\n')));
}

int CountFileLines(Context& c) {
  std::uint64_t breaks = 0, bytes = 0;
  bool skip = false;
  ForEachBlock(c.path, std::size_t{1} << 20, [&](std::string_view data) {
    bytes += data.size();
    for (char ch : data) {
      if (skip) {
        skip = false;
        continue;
      }
      if (ch == '\r' || ch == '\n') {
        ++breaks;
        skip = true;
      }
    }
    return true;
  });
  return Done(c, bytes == 0 ? "0" : Decimal(breaks + 1));
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    items.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return items;
}

int CopyMoveDelete(Context& c) {
  const std::string_view action = c.step.action;
  const bool copy = Has(action, "Copy"), remove = !copy && Has(action, "Delete");
  const std::string dest = CleanedPath(Expand(c, c.step.text));
  const bool wildcard = c.path.find_first_of("*?") != std::string::npos || Has(c.step.options, "Recur");
  std::vector<std::pair<std::string, std::string>> items;  // source, destination
  bool several = false;
  if (!wildcard) {
    for (const std::string& source : SplitAt(c.path, ';')) {
      if (source.empty()) continue;
      std::string target = dest;
      // An existing folder, or a name that ends with a separator, receives the file under its own name.
      const bool into_folder = platform::IsFolder(dest) || (!dest.empty() && (dest.back() == '\\' || dest.back() == '/'));
      if (!remove && into_folder) target = JoinPath(dest, BaseNameOf(source));
      items.emplace_back(source, target);
    }
    several = c.path.find(';') != std::string::npos;
  } else {
    std::string list;
    try {
      BuildFileList(c.path, Has(c.step.options, "Recur"), false, ';', &list, 33554176);
    } catch (const std::bad_alloc&) {
      return Fail("Insufficient memory available");
    }
    // The pattern's folder part is replaced by the destination folder.
    const std::string pattern_folder = platform::IsFolder(c.path) ? c.path : FolderOf(c.path);
    for (const std::string& source : SplitAt(list, ';')) {
      if (source.empty()) continue;
      std::string below = source.substr(std::min(source.size(), pattern_folder.size()));
      while (!below.empty() && (below[0] == '\\' || below[0] == '/')) below.erase(0, 1);
      items.emplace_back(source, JoinPath(dest, below));
    }
    several = true;
    if (items.empty()) {
      if (remove) return 1;
      return Fail("No file matches '" + c.path + "'");
    }
  }
  if (items.empty()) return Fail("No file name provided");
  if (!remove && dest.empty()) return Fail("No destination provided");
  int result = 0;
  std::string error;
  for (auto [source, target] : items) {
    std::erase(source, '"');
    std::erase(target, '"');
    if (copy) {
      const std::string folder = FolderOf(target);
      result = (folder.empty() || CreateFolders(folder, &error)) && CopyFileSafely(source, target, &error, StopRequested);
    } else if (remove) {
      result = platform::DeleteFileAt(source);
      if (!result) error = platform::LastErrorText();
      if (LogLevel() >= 1) LogLine(result ? "    Deleted:     \"%s\"" : "    Not Deleted: \"%s\"", source.c_str());
    } else {
      if (FolderOf(target).empty() && !FolderOf(source).empty()) target = JoinPath(FolderOf(source), target);
      const std::string folder = FolderOf(target);
      result = (folder.empty() || platform::IsFolder(folder) || CreateFolders(folder, &error)) &&
               MoveFileSafely(source, target, &error);
    }
    if (!result && !remove) break;  // nothing more is touched after a failure
  }
  if (remove && several) return 1;
  return result ? 1 : Fail(error);
}

int SplitFile(Context& c) {
  const std::int64_t piece = NumberOf(c.value2, false);
  if (piece <= 0) return Fail("The largest piece size must be more than 0 bytes");
  const std::optional<std::uint64_t> size = platform::FileSize(c.path);
  if (!size || *size == 0) return Missing(c.path);
  const std::uint64_t pieces = (*size + static_cast<std::uint64_t>(piece) - 1) / static_cast<std::uint64_t>(piece);
  if (pieces > 999) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "A max of 999 files can be created (%lu files would be created for this operation).  Plese increase "
                  "the max output file size.",
                  static_cast<unsigned long>(pieces));
    return Fail(text);
  }
  platform::File source;
  if (!source.Open(c.path, platform::File::Mode::kRead)) return SystemFail();
  std::vector<char> buffer;
  try {
    buffer.resize(static_cast<std::size_t>(std::min<std::int64_t>(piece, std::int64_t{64} << 20)));
  } catch (const std::bad_alloc&) {
    return Fail("Out of Memory error");
  }
  std::uint64_t at = 0, total_mb = 0;
  for (std::uint64_t n = 1; n <= pieces; ++n) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".%03u", static_cast<unsigned>(n));
    const std::string name = c.path + suffix;
    if (platform::PathExists(name) && !platform::DeleteFileAt(name)) return SystemFail();
    platform::File out;
    if (!out.Open(name, platform::File::Mode::kCreateNew)) return SystemFail();
    const std::uint64_t end = std::min(*size, at + static_cast<std::uint64_t>(piece));
    for (std::uint64_t written = 0; at < end;) {
      if (StopRequested()) return Fail("The split was stopped");
      const std::optional<std::size_t> got =
          source.ReadAt(at, buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(end - at, buffer.size())));
      if (!got || *got == 0) return SystemFail();
      if (!out.WriteAt(written, buffer.data(), *got)) return SystemFail();
      at += *got;
      written += *got;
      if (*got > (std::size_t{10} << 20)) {
        total_mb += *got >> 20;
        SetStatusText(false, 0, " Writing \"%s\" (%lu MB, %lu MB Total)", name.c_str(),
                      static_cast<unsigned long>(*got >> 20), static_cast<unsigned long>(total_mb));
      }
    }
    if (!out.Close()) return SystemFail();
  }
  LogLine("    Successfully divided \"%s\" into %d file%s", c.path.c_str(), static_cast<int>(pieces), pieces == 1 ? "" : "s");
  return 1;
}

// ---- folders

int FolderStep(Context& c) {
  const std::string_view action = c.step.action;
  std::string error;
  bool ok = true;
  if (Has(action, "Create Folder")) {
    ok = CreateFolders(c.path, &error);
  } else if (Has(action, "Delete Folder")) {
    if (!platform::IsFolder(c.path)) return Fail("'" + c.path + "' is not an existing folder");
    ok = (!platform::IsLink(c.path) && platform::RemoveEmptyFolder(c.path)) || DeleteFolderTree(c.path, &error);
  } else {
    const std::string dest = CleanedPath(Expand(c, c.step.text));
    if (dest.empty()) return Fail("No destination provided");
    ok = Has(action, "Copy") ? CopyFolderContents(c.path, dest, &error) : MoveFolder(c.path, dest, &error);
  }
  return ok ? 1 : Fail(error);
}

// ---- the Windows shell's services

int NotAvailable(const Context& c) {
  return Fail("\"" + c.step.action + "\" is not available on this system");
}

int SetFileAssociation(Context& c) {
  if (!platform::HasWindowsShell()) return NotAvailable(c);
  using platform::RegistryRoot;
  std::string extension = c.step.value(2);
  if (!extension.starts_with('.')) extension.insert(0, ".");
  const std::string& description = c.step.text;
  const int icon = std::max(0, FirstNumber(Expand(c, c.step.value(3))));
  auto write = [](const std::string& key, const std::string& value) {
    platform::WriteRegistryValue(RegistryRoot::kClassesRoot, key, "", platform::regtype::kSz, value);
  };
  platform::DeleteRegistryKey(RegistryRoot::kLocalMachine, "SOFTWARE\\Classes\\Olvex.Document\\shell\\Run Hidden\\command");
  platform::DeleteRegistryKey(RegistryRoot::kLocalMachine, "SOFTWARE\\Classes\\Olvex.Document\\shell\\Run Hidden");
  const std::string type = description + " File";
  write(extension, type);
  platform::WriteRegistryValue(RegistryRoot::kClassesRoot, extension + "\\ShellNew", "NULLFile", platform::regtype::kSz, "");
  write(type, type);
  write(type + "\\DefaultIcon", "\"" + c.path + "\"," + std::to_string(icon));
  write(type + "\\shell\\Open", "&Open");
  write(type + "\\shell\\Open\\command", "\"" + c.path + "\" \"%1\"");
  platform::NotifyAssociationsChanged();
  return 1;
}

int CreateShortcut(Context& c) {
  if (!platform::HasWindowsShell()) return NotAvailable(c);
  const std::string_view o = c.step.options;
  const std::optional<std::string> desktop = platform::KnownFolder(platform::Folder::kDesktop);
  std::optional<std::string> folder = Has(o, "Start") ? platform::KnownFolder(platform::Folder::kStartMenu) : desktop;
  std::string name = CleanedPath(Expand(c, c.step.value(2)));
  if (name.empty()) name = PathParts(c.path, 4);
  std::string link = name;
  if (FolderOf(name).empty()) {
    if (!folder) folder = desktop;
    if (!folder) return Fail("The Desktop folder is not known");
    link = JoinPath(*folder, name);
  }
  if (!EndsWithNoCase(link, ".lnk")) link += ".lnk";
  platform::Shortcut shortcut;
  shortcut.link = link;
  shortcut.target = c.path;
  shortcut.description = Expand(c, c.step.value(3));
  shortcut.folder = Expand(c, c.step.value(4));
  shortcut.arguments = Expand(c, c.step.value(5));
  const std::string show = Expand(c, c.step.value(6));
  shortcut.show = Has(show, "Max") ? 3 : Has(show, "Min") ? 7 : 1;
  return platform::CreateShortcut(shortcut) ? 1 : SystemFail();
}

int MapDrive(Context& c) {
  if (!platform::HasWindowsShell()) return NotAvailable(c);
  if (Has(c.step.action, "Prompt")) return platform::ShowMapDriveDialog() ? 1 : Fail("Unable to show map prompt");
  const std::string drive = Expand(c, c.step.text);
  if (platform::MapNetworkDrive(drive, c.path)) return 1;
  std::string share;
  if (!LocateFile(c.path, ScriptFolder(c.slot), &share)) return Fail("The share name \"" + c.path + "\" could not be found");
  const std::string net = "net use " + drive + " \"" + share + "\"";
  if (StartProgramAndWait(net, false, -1, true) != kProgramNotStarted) return 1;
  return StartProgramAndWait("CMD.EXE /C " + net, false, -1, true) != kProgramNotStarted ? 1 : 0;
}

// ---- documents

int CreateAdobePdf(Context& c) {
  const Step& step = c.step;
  auto number = [&](int field) { return EvaluateFormula(Expand(c, step.value(field))).number; };
  auto info = [&](std::string_view field) { return Expand(c, field).substr(0, 259); };
  PdfSettings pdf;
  pdf.path = c.path;
  pdf.body = Has(step.options, "No Variable Expansion") ? step.text : Expand(c, step.text);
  if (pdf.path.empty() || pdf.body.empty()) return Fail("No text/data provided");
  pdf.font = step.value(2);
  pdf.font_size = FirstNumber(Expand(c, step.value(3)));
  pdf.left_margin = number(4);
  pdf.top_margin = number(5);
  pdf.page_width = number(6);
  pdf.page_height = number(7);
  pdf.producer = pdf.creator = "Olvex Studio\xAE " OLVEX_VERSION_TEXT;
  pdf.subject = pdf.title = info(step.value(8));
  pdf.author = info(step.data());
  pdf.wrap = Has(step.options, "Wrap");
  pdf.line_numbers = Has(step.options, "LineNum");
  pdf.page_numbers = Has(step.options, "PageNum");
  pdf.outline = Has(step.options, "Content");
  std::string error;
  return WritePdf(pdf, &error) ? 1 : Fail("Unable to write/create '" + pdf.path + "': " + error);
}

}  // namespace

int HandleFilesStep(int slot, int step_index) {
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string_view a = step.action;
  Context c{slot, step_index, step, {}, {}};
  const bool map_drive = Has(a, "Map Drive") && !Has(a, "Prompt");
  if (step.was_cut(ValueField(1)))
    return Fail("The file name in the step is longer than " + std::to_string(kFieldMax) + " characters");
  c.path = ExpandText(step.value(1), slot, step_index, 0);
  if (!map_drive) {
    std::string located;
    LocateFile(c.path, ScriptFolder(slot), &located);
    c.path = located;
  }
  c.path = CleanedPath(c.path);
  c.value2 = WithoutBlanks(ExpandText(step.value(2), slot, step_index, 0));

  if (EqualsNoCase(a, "Read File")) return ReadFile(c);
  if (Has(a, "Read File Line")) return ReadFileLine(c);
  if (Has(a, "Write")) return WriteFile(c);
  if (Has(a, "Info")) return FileInfo(c);
  if (Has(a, "Count Files/Folders")) {
    const std::string spec = CleanedPath(Expand(c, step.text));
    return Done(c, Decimal(CountMatches(spec, Has(step.options, "Recur"), Has(step.options, "Folder"))));
  }
  if (Has(a, "Count File Lines")) return CountFileLines(c);
  if (Has(a, "File") && (Has(a, "Copy") || Has(a, "Move") || Has(a, "Rename") || Has(a, "Delete")))
    return CopyMoveDelete(c);
  if (Has(a, "Divide") || Has(a, "Split")) return SplitFile(c);
  if (Has(a, "Change File Size")) return ChangeFileSize(c);
  if (Has(a, "Compare") && Has(a, "File")) return CompareFiles(c);
  if (Has(a, "Search in File") || Has(a, "Find in File")) return SearchInFile(c);
  if (Has(a, "Find File")) return FindFile(c);
  if (Has(a, "Set File Association")) return SetFileAssociation(c);
  if (Has(a, "Set Current")) return platform::SetCurrentFolder(c.path) ? 1 : SystemFail();
  if (Has(a, "Create Folder") || Has(a, "Copy Folder") || Has(a, "Move/Rename Folder") || Has(a, "Delete Folder"))
    return FolderStep(c);
  if (Has(a, "Shortcut")) return CreateShortcut(c);
  if (Has(a, "Map Drive")) return MapDrive(c);
  if (Has(a, "PDF")) return CreateAdobePdf(c);
  return StepNotAvailable(slot, step_index);
}

}  // namespace olvex
