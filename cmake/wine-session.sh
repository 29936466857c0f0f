#!/usr/bin/env bash
# wine-session.sh COMMAND...: runs COMMAND inside one private Wine session:
# a fresh Wine prefix (windows managed by the desktop off) on a private Xvfb
# (cmake/x11-session.sh). Ends only what it started.
set -euo pipefail
if [ -z "${OLVEX_WINE_ON_XVFB:-}" ]; then
  self=$(readlink -f "$0")
  OLVEX_WINE_ON_XVFB=1 exec "$(dirname "$self")/x11-session.sh" --screen 1280x1024x24 bash "$self" "$@"
fi
unset OLVEX_WINE_ON_XVFB
loader=/usr/lib/wine/wine64
root=$(mktemp -d "${TMPDIR:-/tmp}/olvex-wine.XXXXXX")
cleanup() {
  WINEPREFIX="$root/prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export WINEPREFIX="$root/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export OLVEX_WINE_SESSION=1
"$loader" wineboot -i >/dev/null 2>&1
"$loader" 'C:\windows\system32\reg.exe' add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
set +e
"$@"
rc=$?
exit $rc
