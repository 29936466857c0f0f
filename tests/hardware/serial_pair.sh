#!/bin/sh
# serial_pair.sh start|stop DIR: under Wine, a socat pseudo-terminal pair
# whose ends the prefix sees as COM5 and COM6 (links in dosdevices). Without
# a Wine session it does nothing, and the serial tests skip.
set -eu
dir=$2
[ -n "${WINEPREFIX:-}" ] || exit 0
case $1 in
  start)
    mkdir -p "$dir"
    rm -f "$dir/a" "$dir/b"
    socat pty,raw,echo=0,link="$dir/a" pty,raw,echo=0,link="$dir/b" </dev/null >/dev/null 2>&1 &
    echo $! > "$dir/pid"
    for _ in $(seq 100); do [ -e "$dir/a" ] && [ -e "$dir/b" ] && break; sleep 0.05; done
    mkdir -p "$WINEPREFIX/dosdevices"
    ln -sfn "$(readlink -f "$dir/a")" "$WINEPREFIX/dosdevices/com5"
    ln -sfn "$(readlink -f "$dir/b")" "$WINEPREFIX/dosdevices/com6"
    ;;
  stop)
    [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/pid" "$WINEPREFIX/dosdevices/com5" "$WINEPREFIX/dosdevices/com6"
    ;;
esac
