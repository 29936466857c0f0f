#!/usr/bin/env bash
# The emulator of the Windows build: runs one Windows program under Wine,
# inside the current Wine session, or inside a session of its own.
if [ -z "${OLVEX_WINE_SESSION:-}" ]; then
  exec "$(dirname "$0")/wine-session.sh" "$0" "$@"
fi
exec /usr/lib/wine/wine64 "$@"
