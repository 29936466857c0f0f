// olvex-pack SCRIPT -o OUTPUT [--runtime PATH] [--resource]
//
// Makes a stand-alone program: a copy of the runtime that carries SCRIPT as a
// compressed block, scrambled and appended to the file with its length in the
// last 4 bytes (little-endian). With --resource (Windows build only) the copy
// also gets the unscrambled block as RCDATA resource 9002, which the runtime
// looks for first. The runtime defaults to olvex (olvex.exe) beside olvex-pack.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "engine/compress.h"
#include "platform/files.h"
#include "platform/module.h"
#include "tools/lz_encoder.h"
#include "olvex_version.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] = "usage: olvex-pack SCRIPT -o OUTPUT [--runtime PATH] [--resource]\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "olvex-pack: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "olvex-pack: %s\n%s", message.c_str(), kUsage);
  return 2;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string DefaultRuntime() {
  fs::path self = platform::ModulePath();
  return (self.parent_path() / ("olvex" + self.extension().string())).string();
}

// The whole file, or nothing with `error` set to say why.
std::optional<std::string> ReadInput(const std::string& what, const std::string& path, std::string* error) {
  platform::FileContent content = platform::ReadWholeFile(path);
  switch (content.status) {
    case platform::ReadStatus::Ok:
      return std::move(content.data);
    case platform::ReadStatus::NotFound:
      *error = what + " " + Quoted(path) + " does not exist";
      break;
    case platform::ReadStatus::OpenFailed:
      *error = "cannot open the " + what + " " + Quoted(path);
      break;
    case platform::ReadStatus::TooLarge:
    case platform::ReadStatus::OutOfMemory:
      *error = "the " + what + " " + Quoted(path) + " is too large to read";
      break;
    case platform::ReadStatus::ReadFailed:
      *error = "cannot read the " + what + " " + Quoted(path);
      break;
  }
  return std::nullopt;
}

bool WriteBytes(const std::string& path, const std::string& bytes, bool append) {
  std::ofstream out(fs::path(path), std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(fs::path(a), fs::path(b), ec);
}

}  // namespace

int main(int argc, char** argv) {
  std::string script_path, output_path, runtime_path;
  bool resource = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-o" || arg == "--runtime") {
      if (i + 1 >= argc) return Usage(arg + " needs a path");
      (arg == "-o" ? output_path : runtime_path) = argv[++i];
    } else if (arg == "--resource") {
      resource = true;
    } else if (arg == "-?" || arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::puts("olvex-pack " OLVEX_VERSION);
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + Quoted(arg));
    } else if (script_path.empty()) {
      script_path = arg;
    } else {
      return Usage("more than one script given");
    }
  }
  if (script_path.empty()) return Usage("no script given");
  if (output_path.empty()) return Usage("no output given (-o OUTPUT)");
#ifndef _WIN32
  if (resource)
    return Fail("--resource writes a Windows resource into the program and needs the Windows build of olvex-pack "
                "(olvex-pack.exe); without it the script is carried at the end of the file");
#endif
  if (runtime_path.empty()) runtime_path = DefaultRuntime();

  std::string error;
  auto script = ReadInput("script", script_path, &error);
  if (!script) return Fail(error);
  if (script->empty()) return Fail("the script " + Quoted(script_path) + " is empty");
  auto runtime = ReadInput("runtime", runtime_path, &error);
  if (!runtime) return Fail(error + " (name the runtime with --runtime PATH)");
  if (runtime->empty()) return Fail("the runtime " + Quoted(runtime_path) + " is empty");
  if (SameFile(output_path, runtime_path)) return Fail("the output must not be the runtime itself");
  if (SameFile(output_path, script_path)) return Fail("the output must not be the script itself");

  auto block = olvex::lz::Compress(*script);
  if (!block || block->size() > 0xFFFFFFFFu || olvex::Decompress(*block) != *script)
    return Fail("cannot compress the script " + Quoted(script_path));
  std::string appended = *block;
  olvex::ScrambleCarriedBlock(appended);
  for (int i = 0; i < 4; ++i) appended.push_back(static_cast<char>(block->size() >> (8 * i) & 0xFF));

  // The resource goes in before the block is appended: writing resources may
  // rewrite the file and drop what follows the program's image.
  if (!WriteBytes(output_path, *runtime, false)) return Fail("cannot write " + Quoted(output_path));
  auto give_up = [&](const std::string& message) {
    std::error_code ec;
    fs::remove(fs::path(output_path), ec);
    return Fail(message);
  };
  if (resource && !platform::WriteFileResource(output_path, olvex::kCarriedScriptResource, *block))
    return give_up("cannot write the script as resource " + std::to_string(olvex::kCarriedScriptResource) +
                   " into " + Quoted(output_path));
  if (!WriteBytes(output_path, appended, true)) return give_up("cannot write " + Quoted(output_path));

  // The copy is as executable as the runtime.
  std::error_code ec;
  fs::perms perms = fs::status(fs::path(runtime_path), ec).permissions();
  if (!ec) fs::permissions(fs::path(output_path), perms | fs::perms::owner_read | fs::perms::owner_write, ec);
  if (ec) return give_up("cannot make " + Quoted(output_path) + " executable: " + ec.message());

  std::printf("olvex-pack: %s: script of %zu bytes carried in %zu bytes%s\n", output_path.c_str(), script->size(),
              block->size(), resource ? " (appended and as a resource)" : "");
  return 0;
}
