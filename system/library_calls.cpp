#include "system/library_calls.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/document.h"
#include "engine/main_loop.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/text.h"
#include "platform/files.h"
#include "platform/library.h"
#include "platform/system.h"
#include "system/win_constants.h"
#include "vars/format.h"
#include "vars/formula.h"
#include "vars/variables.h"

namespace olvex {
namespace {

constexpr std::size_t kMaxArguments = platform::kMaxCallArguments;
constexpr std::size_t kBufferSize = kCallArgumentMax + 1;
constexpr std::size_t kMaxNameChars = 127;
constexpr std::size_t kMaxReferenceName = 31;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}
bool IsReferenceChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
         c == '[' || c == ']';
}
bool OnlyOf(std::string_view text, std::string_view allowed) { return text.find_first_not_of(allowed) == std::string_view::npos; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One argument's text as written (blanks before it already skipped).
CallArgument ClassifyArgument(std::string text) {
  CallArgument argument;
  if (!text.empty() && text[0] == '%') {
    std::size_t end = 1;
    while (end < text.size() && end <= kMaxReferenceName && IsReferenceChar(text[end])) ++end;
    argument.variable = text.substr(1, end - 1);
    argument.text = std::string(Trim(text));
    return argument;
  }
  // Arithmetic: "2*500" is passed as 1000.
  if (OnlyOf(text, "0123456789()<>=., \r\n\t+-*/^%") && text.find_first_of("*/+-=!(") != std::string::npos) {
    const FormulaResult value = EvaluateFormula("=" + text);
    if (!value.failed) text = value.text.empty() ? FormatNumber(value.number, 15) : value.text;
  }
  if (EqualsNoCase(Trim(text), "NULL")) {
    argument.text = "0";
    argument.number = true;
    argument.null = true;
  } else if ((text.empty() || (text[0] != '"' && text[0] != '\'')) && OnlyOf(text, "0123456789.+- \t\r\n")) {
    argument.text = std::string(Trim(text));
    argument.number = true;
  } else {
    if (!text.empty() && (text[0] == '"' || text[0] == '\'')) text.erase(0, 1);
    std::string_view body = text;
    while (!body.empty() && IsBlank(body.back())) body.remove_suffix(1);
    if (!body.empty() && (body.back() == '"' || body.back() == '\'')) body.remove_suffix(1);
    argument.text = std::string(body);
  }
  if (argument.text.size() > kCallArgumentMax) argument.text.resize(kCallArgumentMax);
  return argument;
}

// The decimal text of a number argument as a register value: a 32-bit value
// (4294967295 and -1 alike) is sign-extended, a wider one passed whole.
std::intptr_t NumberValue(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (value > (~std::uint64_t{0} - 9) / 10) break;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value <= 0xFFFFFFFFull) {
    auto word = static_cast<std::uint32_t>(value);
    if (negative) word = ~word + 1;
    return static_cast<std::intptr_t>(static_cast<std::int32_t>(word));
  }
  const auto wide = static_cast<std::intptr_t>(value);
  return negative ? -wide : wide;
}

// Parameter kinds of the functions passed by their Windows signature:
// n number, s text (NULL: a null pointer), b buffer used as a structure or
// an out-parameter (a number written into its first word), v as the argument
// was written, c a class name (empty or "0": a null pointer), z a null
// pointer, l a byte count limited to the buffer, * the rest as written.
struct Signature {
  std::string_view name;
  std::string_view kinds;
};
constexpr std::array<Signature, 63> kSignatures = {{
    {"MessageBoxA", "nssn"},       {"MessageBoxExA", "nssnn"},      {"SendMessageA", "nnvv"},
    {"PostMessageA", "nnvv"},      {"CreateWindowExA", "nssnnnnnnnnv"},
    {"ShowWindow", "nn"},          {"UpdateWindow", "n"},           {"InvalidateRect", "nzn"},
    {"Sleep", "n"},                {"GetDlgItem", "nn"},            {"GetWindowTextA", "nbn"},
    {"SetWindowTextA", "ns"},      {"SetWindowPos", "nnnnnnn"},     {"SetWindowLongA", "nnn"},
    {"GetWindowLongA", "nn"},      {"GetWindow", "nn"},             {"FindWindowA", "cs"},
    {"IsWindow", "n"},             {"IsWindowVisible", "n"},        {"MoveWindow", "nnnnnn"},
    {"SetFocus", "n"},             {"GetForegroundWindow", ""},     {"GetDesktopWindow", ""},
    {"GetFocus", ""},              {"DestroyWindow", "n"},          {"GetWindowPlacement", "nb"},
    {"GetWindowRect", "nb"},       {"GetClientRect", "nb"},         {"GetCursorPos", "b"},
    {"GetDC", "n"},                {"ReleaseDC", "nn"},             {"TextOutA", "nnnsn"},
    {"DrawTextA", "nsnbn"},        {"SetCursorPos", "nn"},          {"GetTickCount", ""},
    {"CreateFileA", "snnvnnn"},    {"WriteFile", "nslbv"},          {"WriteFileEx", "nslvv"},
    {"ReadFile", "nblbv"},         {"ReadFileEx", "nblvv"},         {"SetFilePointer", "nnvn"},
    {"GetFileSize", "nv"},         {"CloseHandle", "n"},            {"DeleteFileA", "s"},
    {"MoveFileA", "ss"},           {"CopyFileA", "ssn"},            {"GetModuleFileNameA", "nbn"},
    {"ShellExecuteA", "nssssn"},   {"GetVolumeInformationA", "sbnbbbbn"},
    {"GetComputerNameA", "bb"},    {"GetVersionExA", "b"},          {"StrStrA", "ss"},
    {"lstrcpy", "bs"},             {"lstrcpyA", "bs"},              {"lstrcpyn", "bsn"},
    {"lstrcpynA", "bsn"},          {"lstrcat", "bs"},               {"lstrcatA", "bs"},
    {"lstrcmp", "ss"},             {"lstrcmpA", "ss"},              {"lstrlen", "s"},
    {"lstrlenA", "s"},             {"wsprintfA", "bs*"},
}};

const Signature* SignatureOf(std::string_view name) {
  for (const Signature& s : kSignatures)
    if (EqualsNoCase(s.name, name)) return &s;
  return nullptr;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

struct Found {
  void* library = nullptr;
  void* function = nullptr;
  std::string name;
};

// The libraries to try: the one given (as named, in the Windows folder, in
// the system folder), then the system's search list.
std::vector<std::string> LibraryCandidates(const std::string& library) {
  std::vector<std::string> list;
  if (!library.empty()) {
    list.push_back(library);
    const std::size_t slash = library.find_last_of("\\/");
    const std::string file = slash == std::string::npos ? library : library.substr(slash + 1);
    for (platform::Folder folder : {platform::Folder::kWindows, platform::Folder::kSystem})
      if (auto dir = platform::KnownFolder(folder)) list.push_back(*dir + "\\" + file);
  }
  for (const std::string& name : platform::DefaultLibraries()) list.push_back(name);
  return list;
}

Found FindFunction(const std::string& library, const std::string& name, bool* library_loaded) {
  std::vector<std::string> names = {name, name + "A", name + "ExA"};
  // "CreateWindowA" is exported as "CreateWindowExA".
  if (name.size() > 1 && name.back() == 'A') names.push_back(name.substr(0, name.size() - 1) + "ExA");
  bool first = true;
  for (const std::string& candidate : LibraryCandidates(library)) {
    void* handle = platform::LoadSharedLibrary(candidate);
    if (first && !library.empty()) *library_loaded = handle != nullptr;
    first = false;
    if (!handle) continue;
    for (const std::string& n : names) {
      if (void* function = platform::FindExportedFunction(handle, n)) return {handle, function, n};
    }
    platform::FreeSharedLibrary(handle);
  }
  return {};
}

using Buffer = std::unique_ptr<char[]>;

std::int32_t Word(const char* buffer, int index) {
  std::int32_t value;
  std::memcpy(&value, buffer + 4 * index, 4);
  return value;
}
void SetWord(char* buffer, int index, std::int32_t value) { std::memcpy(buffer + 4 * index, &value, 4); }

// Structure results become text in their buffer.
void StructuresToText(std::string_view name, std::vector<Buffer>& buffers) {
  char text[400];
  auto words = [&](int arg, int count) {
    if (static_cast<std::size_t>(arg) >= buffers.size()) return;
    char* b = buffers[static_cast<std::size_t>(arg)].get();
    std::string out;
    for (int i = 0; i < count; ++i) out += (i ? "," : "") + std::to_string(Word(b, i));
    std::memcpy(b, out.c_str(), out.size() + 1);
  };
  if (StartsWithNoCase(name, "GetWindowRect") || StartsWithNoCase(name, "GetClientRect")) {
    words(1, 4);
  } else if (EqualsNoCase(name, "GetCursorPos")) {
    words(0, 2);
  } else if (StartsWithNoCase(name, "GetVersionEx") && !buffers.empty()) {
    char* b = buffers[0].get();
    std::snprintf(text, sizeof text, "%lu,%lu,%lu,%lu,%lu,%.128s", static_cast<unsigned long>(static_cast<std::uint32_t>(Word(b, 0))),
                  static_cast<unsigned long>(static_cast<std::uint32_t>(Word(b, 1))),
                  static_cast<unsigned long>(static_cast<std::uint32_t>(Word(b, 2))),
                  static_cast<unsigned long>(static_cast<std::uint32_t>(Word(b, 3))),
                  static_cast<unsigned long>(static_cast<std::uint32_t>(Word(b, 4))), b + 20);
    std::memcpy(b, text, std::strlen(text) + 1);
  } else if (StartsWithNoCase(name, "GetWindowPlacement")) {
    words(1, 6);
  }
}

void SaveParameters(const ParsedCall& call, const std::vector<Buffer>& buffers) {
  for (std::size_t i = 0; i < kMaxArguments; ++i) {
    const char* b = i < buffers.size() ? buffers[i].get() : "";
    if (i < call.arguments.size() && !call.arguments[i].variable.empty()) {
      const auto first = static_cast<unsigned char>(b[0]);
      if (call.arguments[i].number || first < 32 || first > 127)
        WriteUserVariable(call.arguments[i].variable, std::to_string(Word(b, 0)));
      else
        WriteUserVariable(call.arguments[i].variable, b);
    }
    WriteUserVariable("parameter" + std::to_string(i + 1), b);
  }
}

}  // namespace

bool ParseCall(std::string_view text, ParsedCall* call, std::string* error) {
  *call = ParsedCall{};
  const std::size_t open = text.find('(');
  std::string_view head = Trim(text.substr(0, open).substr(0, kMaxNameChars));
  std::size_t start = head.size();
  while (start > 0 && IsNameChar(head[start - 1])) --start;
  call->name = std::string(head.substr(start));
  if (call->name.empty()) {
    *error = "No function name in the call \"" + std::string(text.substr(0, 200)) + "\"";
    return false;
  }
  if (open == std::string_view::npos) return true;
  // The arguments: split at commas outside quotes and inner parentheses; the
  // list ends at the parenthesis that closes the first one.
  std::vector<std::string> pieces;
  std::string piece;
  char quote = 0;
  int depth = 0;
  std::size_t i = open + 1;
  bool closed = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth == 0) {
        closed = true;
        break;
      }
      --depth;
    } else if (c == ',' && depth == 0) {
      pieces.push_back(std::move(piece));
      piece.clear();
      continue;
    }
    if (piece.size() <= kCallArgumentMax + 1) piece += c;  // room for the quotation marks
  }
  if (quote) {
    *error = "Unterminated quotation mark in the call of \"" + call->name + "\"";
    return false;
  }
  std::string_view rest = closed ? text.substr(i + 1) : std::string_view();
  while (!rest.empty() && (IsBlank(rest.front()) || rest.front() == ';')) rest.remove_prefix(1);
  if (!closed || !rest.empty()) {
    *error = "Unbalanced parentheses in the call of \"" + call->name + "\"";
    return false;
  }
  pieces.push_back(std::move(piece));
  if (pieces.size() == 1 && Trim(pieces[0]).empty()) pieces.clear();  // f()
  for (std::string& p : pieces) {
    std::size_t lead = 0;
    while (lead < p.size() && IsBlank(p[lead])) ++lead;
    p.erase(0, lead);
    if (StartsWithNoCase(p, "VOID")) continue;
    call->arguments.push_back(ClassifyArgument(std::move(p)));
  }
  return true;
}

std::int32_t CallLibraryFunction(const std::string& library, std::string_view call_text, bool /*caller_cleans*/,
                                 bool save_parameters) {
  std::string text(call_text);
  SubstituteConstants(text);
  ParsedCall call;
  std::string error;
  if (!ParseCall(text, &call, &error)) {
    SetStepError(error);
    return kNotCallable;
  }
  bool library_loaded = true;
  Found found = FindFunction(library, call.name, &library_loaded);
  if (!found.function) {
    char message[400];
    std::snprintf(message, sizeof message, "The function call \"%.127s\" could not be located", call.name.c_str());
    std::string full = message;
    if (!library_loaded) full += " (the library \"" + library.substr(0, 259) + "\" could not be loaded)";
    SetStepError(full);
    return kNotCallable;
  }
  const Signature* signature = SignatureOf(found.name);
  // CreateWindowA is CreateWindowExA without its extended style.
  if (EqualsNoCase(found.name, "CreateWindowExA") &&
      (EqualsNoCase(call.name, "CreateWindow") || EqualsNoCase(call.name, "CreateWindowA")))
    call.arguments.insert(call.arguments.begin(), CallArgument{"0", true, false, {}});
  const std::size_t given = call.arguments.size();
  if (!signature && given > 10) {
    platform::FreeSharedLibrary(found.library);
    SetStepError("Parameter count incorrect (" + std::to_string(given) + ")");
    return kNotCallable;
  }
  const std::size_t count = signature && signature->kinds.find('*') == std::string_view::npos
                                ? signature->kinds.size()
                                : std::min(given, kMaxArguments);
  std::vector<Buffer> buffers;
  std::array<std::intptr_t, kMaxArguments> args{};
  for (std::size_t i = 0; i < std::min(given, kMaxArguments); ++i) {
    buffers.emplace_back(new (std::nothrow) char[kBufferSize]());
    if (!buffers.back()) {
      platform::FreeSharedLibrary(found.library);
      return kNotCallable;
    }
    std::memcpy(buffers.back().get(), call.arguments[i].text.data(), call.arguments[i].text.size());
  }
  for (std::size_t i = 0; i < count; ++i) {
    const bool present = i < given;
    const CallArgument* a = present ? &call.arguments[i] : nullptr;
    char* buffer = present ? buffers[i].get() : nullptr;
    char kind = 'v';
    if (signature) {
      const std::string_view kinds = signature->kinds;
      const std::size_t star = kinds.find('*');
      kind = i < kinds.size() && kinds[i] != '*' ? kinds[i] : (star != std::string_view::npos ? 'v' : 'n');
    }
    std::intptr_t value = 0;
    if (!present) {
      value = 0;
    } else if (kind == 'n' || kind == 'l') {
      value = NumberValue(a->text);
      if (kind == 'l' && (value < 0 || value > static_cast<std::intptr_t>(kCallArgumentMax)))
        value = static_cast<std::intptr_t>(kCallArgumentMax);
    } else if (kind == 'z' || a->null) {
      value = 0;
    } else if (kind == 'c') {
      value = a->text.empty() || a->text == "0" ? 0 : reinterpret_cast<std::intptr_t>(buffer);
    } else if (kind == 'b') {
      if (a->number) SetWord(buffer, 0, static_cast<std::int32_t>(NumberValue(a->text)));
      value = reinterpret_cast<std::intptr_t>(buffer);
    } else if (kind == 's') {
      value = reinterpret_cast<std::intptr_t>(buffer);
    } else {
      value = a->number ? NumberValue(a->text) : reinterpret_cast<std::intptr_t>(buffer);
    }
    args[i] = value;
  }
  if (!buffers.empty()) {
    if (EqualsNoCase(found.name, "GetVersionExA")) SetWord(buffers[0].get(), 0, 148);
    if (EqualsNoCase(found.name, "GetWindowPlacement") && buffers.size() > 1) SetWord(buffers[1].get(), 0, 44);
  }
  std::intptr_t result = 0;
  std::string fault;
  const bool returned = platform::CallFunction(found.function, args.data(), static_cast<int>(count), &result, &fault);
  platform::FreeSharedLibrary(found.library);
  if (!returned) {
    SetStepError("The function \"" + found.name + "\" faulted: " + fault);
    return kNotCallable;
  }
  StructuresToText(found.name, buffers);
  if (save_parameters) SaveParameters(call, buffers);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uintptr_t>(result)));
}

int HandleCallDllStep(int slot, int step_index) {
  return RunOnMainThread([slot, step_index] {
    const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
    const ExpandContext context{slot, step_index};
    std::string library = Expand(context, step.value(1));
    if (!library.empty() && !platform::PathExists(library)) {
      const std::string beside = FolderOf(Document(slot).file_name) + library;
      if (!FolderOf(Document(slot).file_name).empty() && platform::PathExists(beside)) library = beside;
    }
    const std::string text = Expand(context, step.text);
    const std::int32_t result = CallLibraryFunction(library, text, ContainsNoCase(step.options, "cdecl"), true);
    if (result == kNotCallable) return 0;
    SaveOutput(slot, step_index, std::to_string(result));
    return 1;
  });
}

}  // namespace olvex
