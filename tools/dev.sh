#!/usr/bin/env bash
# tools/dev.sh example | test
#   example: builds the runtime and runs examples/hello.oxm
#   test:    builds everything and runs every test: native (ASan+UBSan),
#            the fuzzers briefly, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

need() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

base_packages=(cmake ninja-build g++ make ccache libsqlite3-dev unixodbc-dev libx11-dev libxtst-dev libxext-dev)

# ccache keeps compiled objects across builds and clones: paths are taken
# relative to the checkout, so another clone of the same sources hits too.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

configure() {  # configure DIR ARGS...
  local dir=$1; shift
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
}

example() {
  need "${base_packages[@]}"
  mkdir -p build
  configure build/release -DCMAKE_BUILD_TYPE=Release -DOLVEX_TESTS=OFF
  cmake --build build/release -j "$jobs" --target olvex
  echo "== running examples/hello.oxm (logging on)"
  local log=build/release/bin/olvexLog.txt
  rm -f "$log"
  build/release/bin/olvex -L -r examples/hello.oxm
  echo "== the run log ($log)"
  cat "$log" 2>/dev/null || echo "(no log: see README for where the log goes when that folder is not writable)"
}

# Every example and script case must pass olvex-check, without an option word
# its action does not know, except the cases written to fail it: their .expect
# file holds the line "checker: fails".
check_scripts() {
  local checker=$1 files=() f out
  for f in examples/*.oxm $(find tests/scripts/cases -name '*.oxm' | sort); do
    grep -qx 'checker: fails' "${f%.oxm}.expect" 2>/dev/null && continue
    files+=("$f")
  done
  out=$("$checker" "${files[@]}") || { echo "$out" | grep -v ': warning: '; echo "olvex-check found errors"; return 1; }
  if echo "$out" | grep 'does not know the option word'; then echo "olvex-check found option words no action knows"; return 1; fi
  echo "$out" | tail -1
}

# The Debian package: built from a release configuration, unpacked into a
# scratch root (dpkg -x): the four programs in usr/bin, the documentation, and
# nothing of the tests.
check_deb() {
  configure build/release -DCMAKE_BUILD_TYPE=Release -DOLVEX_TESTS=OFF
  cmake --build build/release -j "$jobs" --target olvex olvex-check olvex-pack olvex-reg
  rm -f build/release/olvex_*.deb
  (cd build/release && cpack -G DEB >cpack.log 2>&1) || { cat build/release/cpack.log; return 1; }
  local deb root files
  deb=$(ls build/release/olvex_*.deb)
  root=$(mktemp -d)
  dpkg -x "$deb" "$root"
  files=$(cd "$root" && find . -type f | sort)
  [ "$(echo "$files" | grep '^./usr/bin/')" = "$(printf './usr/bin/%s\n' olvex olvex-check olvex-pack olvex-reg)" ] \
    || { echo "$files"; rm -rf "$root"; echo "the package's programs are not the four"; return 1; }
  if echo "$files" | grep -Eiq 'gtest|gmock|_tests|olvex-test|testlib|bench_'; then
    echo "$files"; rm -rf "$root"; echo "the package holds test files"; return 1
  fi
  [ -f "$root/usr/share/doc/olvex/README.md" ] && [ -f "$root/usr/share/doc/olvex/examples/hello.oxm" ] \
    || { echo "$files"; rm -rf "$root"; echo "the package lacks its documentation"; return 1; }
  dpkg-deb -f "$deb" Depends | grep -q libsqlite3 || { rm -rf "$root"; echo "the package does not depend on SQLite"; return 1; }
  "$root/usr/bin/olvex" --version
  rm -rf "$root"
  echo "$(basename "$deb"): $(echo "$files" | wc -l) files"
}

test_all() {
  need "${base_packages[@]}" dpkg-dev file googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev \
       wine wine64 g++-mingw-w64-x86-64 xvfb unixodbc-dev libsqliteodbc socat libpugixml-dev libmuparser-dev zlib1g-dev nlohmann-json3-dev qpdf poppler-utils sqlite3 \
       python3-xlrd libxlsxwriter-dev openbox x11-utils xterm xdotool xclip x11-apps
  mkdir -p build
  echo "== house rules"
  bash tools/check-portable.sh

  echo "== native build (AddressSanitizer + UBSan)"
  configure build/native -DCMAKE_BUILD_TYPE=Debug -DOLVEX_SANITIZE=ON -DOLVEX_WERROR=ON -DOLVEX_BENCH=ON
  cmake --build build/native -j "$jobs"
  (cd build/native && ctest -j "$jobs" --output-on-failure --timeout 600)

  echo "== olvex-check over examples/ and the script cases"
  check_scripts build/native/bin/olvex-check

  echo "== the Debian package"
  check_deb

  echo "== fuzzers (short runs)"
  configure build/fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DOLVEX_FUZZ=ON -DOLVEX_SANITIZE=ON -DOLVEX_TESTS=OFF
  cmake --build build/fuzz -j "$jobs"
  for f in build/fuzz/bin/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f" | sed 's/^fuzz_//')
    # The fuzzer adds what it finds to its corpus folder: give it a copy of the seeds.
    # A fixed seed keeps the short runs repeatable; OLVEX_FUZZ_SEED=0 explores anew.
    corpus=$(mktemp -d)
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
    "$f" -max_total_time="${OLVEX_FUZZ_SECONDS:-10}" -seed="${OLVEX_FUZZ_SEED:-1}" -timeout=10 -rss_limit_mb=4096 "$corpus" 2>"$f.log" \
      || { tail -40 "$f.log"; rm -rf "$corpus"; echo "fuzzer $name failed"; exit 1; }
    rm -rf "$corpus"
    echo "fuzz_$name: $(grep -E '^Done' "$f.log" | tail -1)"
  done

  echo "== Windows build (mingw-w64), tests under Wine"
  configure build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release -DOLVEX_WERROR=ON -DOLVEX_BENCH=ON
  cmake --build build/win -j "$jobs"
  cmake/wine-session.sh bash -c "cd build/win && ctest -j $jobs --output-on-failure --timeout 600"
  echo "== the Windows zip"
  rm -f build/win/olvex-*-win64.zip
  (cd build/win && cpack -G ZIP >cpack.log 2>&1) || { cat build/win/cpack.log; exit 1; }
  python3 -c 'import sys, zipfile; names = sorted(zipfile.ZipFile(sys.argv[1]).namelist()); exes = [n for n in names if n.endswith(".exe")]; print(sys.argv[1], exes); sys.exit(exes != ["olvex-check.exe", "olvex-pack.exe", "olvex-reg.exe", "olvex.exe"])' build/win/olvex-*-win64.zip
}

case "${1:-}" in
  example) example ;;
  test) test_all ;;
  *) echo "usage: tools/dev.sh example|test" >&2; exit 2 ;;
esac
