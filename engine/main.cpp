// olvex: loads a script and reports what it loaded.
//   olvex -r path   loads that script file (also /r; the word is found without regard to case)
//   olvex           loads the script carried in the program's own executable
// A load failure has been shown in a message box; the exit code is 0 either way.
#include <cstdio>
#include <string>
#include <string_view>

#include "engine/document.h"
#include "platform/module.h"

namespace {

bool IsScriptOption(std::string_view arg) { return arg.size() == 2 && (arg[0] == '-' || arg[0] == '/') && (arg[1] == 'r' || arg[1] == 'R'); }

std::string Unquoted(std::string value) {
  if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') || (value.front() == '\'' && value.back() == '\'')))
    return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  for (int i = 1; i < argc; ++i) {
    if (IsScriptOption(argv[i]) && i + 1 < argc) {
      path = Unquoted(argv[i + 1]);
      break;
    }
  }
  if (path.empty()) path = platform::ModulePath();

  const int loaded = olvex::LoadDocument(path, 0);
  if (loaded > 0) {
    std::printf("%s: %d steps loaded\n", path.c_str(), loaded - 1);
    std::fflush(stdout);
  }
  olvex::CloseAllDocuments();
  return 0;
}
