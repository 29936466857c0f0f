#!/usr/bin/env bash
# Fails when code outside platform/ includes an operating-system header or
# tests for an operating system. (tests/, bench/, fuzz/ and tools/ may.)
cd "$(dirname "$0")/.."
hits=$(grep -rnE '#\s*include\s*[<"](windows|winuser|winreg|winbase|shlobj|shellapi|commctrl|unistd|pthread|dlfcn|termios|fcntl|poll|signal|sys/[a-z_]+)\.h[>"]|#\s*if(def|ndef)?\s.*(_WIN32|_WIN64|__linux__|__unix__|__APPLE__|_MSC_VER|__MINGW)|defined\s*\(\s*(_WIN32|__linux__|__unix__|__MINGW)' \
  --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
  engine vars input windows screen prompts data system documents 2>/dev/null)
if [ -n "$hits" ]; then
  echo "OS headers or OS #ifs outside platform/:"
  echo "$hits"
  exit 1
fi
echo "portable: no OS header or OS #if outside platform/"
