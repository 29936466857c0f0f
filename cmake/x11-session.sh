#!/usr/bin/env bash
# x11-session.sh [--wm] [--screen WxHxD] COMMAND...: runs COMMAND with DISPLAY
# set to a private Xvfb (by default 1920x1080x24); with --wm an openbox
# manages its windows. Ends only what it started.
set -euo pipefail
wm=0 screen=1920x1080x24
while [ $# -gt 0 ]; do
  case "$1" in
    --wm) wm=1; shift ;;
    --screen) screen=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: x11-session.sh [--wm] [--screen WxHxD] COMMAND..." >&2; exit 2; }
root=$(mktemp -d "${TMPDIR:-/tmp}/olvex-x11.XXXXXX")
xvfb_pid="" wm_pid=""
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$root/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$root/display" ] && break; sleep 0.05; done
[ -s "$root/display" ] || { echo "x11-session: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$root/display")"

if [ "$wm" = 1 ]; then
  # A private configuration home, so that the user's openbox settings stay out.
  XDG_CONFIG_HOME="$root/config" openbox --sm-disable >"$root/wm.log" 2>&1 &
  wm_pid=$!
  # The window manager runs once it names itself on the root window.
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
  done
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' \
    || { cat "$root/wm.log" >&2; echo "x11-session: openbox did not start" >&2; exit 1; }
  export OLVEX_X11_WM=openbox
fi
set +e
"$@"
rc=$?
exit $rc
