#!/usr/bin/env bash
# wine-session.sh COMMAND...: runs COMMAND inside one private Wine session:
# a fresh Wine prefix (windows managed by the desktop off) and one private
# Xvfb. Ends only what it started.
set -euo pipefail
loader=/usr/lib/wine/wine64
root=$(mktemp -d "${TMPDIR:-/tmp}/olvex-wine.XXXXXX")
xvfb_pid=""
cleanup() {
  WINEPREFIX="$root/prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$root/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$root/display" ] && break; sleep 0.05; done
[ -s "$root/display" ] || { echo "wine-session: Xvfb did not start" >&2; exit 1; }

export DISPLAY=":$(cat "$root/display")" WINEPREFIX="$root/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export OLVEX_WINE_SESSION=1
"$loader" wineboot -i >/dev/null 2>&1
"$loader" 'C:\windows\system32\reg.exe' add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
set +e
"$@"
rc=$?
exit $rc
