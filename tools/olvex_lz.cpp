// olvex-lz [--window KIB] IN OUT: compresses the file IN into the block OUT.
// Runs on the build host (it stores the action catalog), so it uses nothing
// but the standard library and the encoder. Its blocks never begin with a byte
// that a reader takes for the start of plain text.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/lz_encoder.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: olvex-lz [--window KIB] IN OUT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  olvex::lz::EncodeOptions options;
  options.avoid_plain_first_byte = true;
  std::string in_path, out_path;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--window" && i + 1 < argc) {
      char* end = nullptr;
      long kib = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || kib < 0 || kib > 255) return Usage();
      options.window_kib = static_cast<int>(kib);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage();
    } else if (in_path.empty()) {
      in_path = arg;
    } else if (out_path.empty()) {
      out_path = arg;
    } else {
      return Usage();
    }
  }
  if (out_path.empty()) return Usage();

  std::ifstream in(in_path, std::ios::binary);
  std::string data;
  if (in) data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad()) {
    std::fprintf(stderr, "olvex-lz: cannot read \"%s\"\n", in_path.c_str());
    return 1;
  }
  auto block = olvex::lz::Compress(data, options);
  if (!block) {
    std::fprintf(stderr, "olvex-lz: cannot compress \"%s\" (%zu bytes) with that window\n", in_path.c_str(), data.size());
    return 1;
  }
  std::string tmp = out_path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(block->data(), static_cast<std::streamsize>(block->size()));
    if (!out.flush()) {
      std::fprintf(stderr, "olvex-lz: cannot write \"%s\"\n", tmp.c_str());
      std::remove(tmp.c_str());
      return 1;
    }
  }
  std::remove(out_path.c_str());
  if (std::rename(tmp.c_str(), out_path.c_str()) != 0) {
    std::fprintf(stderr, "olvex-lz: cannot write \"%s\"\n", out_path.c_str());
    std::remove(tmp.c_str());
    return 1;
  }
  return 0;
}
