#!/bin/bash
# Runs a command inside a fresh throw-away Wine prefix with its own Xvfb
# display; both are torn down afterwards, whatever the command did.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
session=$(mktemp -d /tmp/faultpost-wine.XXXXXX)
export WINEPREFIX=$session/prefix WINEDEBUG=-all
display=""
for n in $(seq 90 140); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=:$n; break; fi
done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
cleanup() {
  WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -k >/dev/null 2>&1
  kill "$xvfb" >/dev/null 2>&1; wait "$xvfb" 2>/dev/null
  rm -rf "$session"
}
trap cleanup EXIT
"$here/wine-prefix.sh" "$WINEPREFIX"
# One persistent server, started and warmed before the tests: programs that
# start together in a fresh prefix otherwise race to bring up the server and
# its helper processes, and one of them could stall for minutes.
/usr/lib/wine/wineserver -p
/usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 || true
"$@"
