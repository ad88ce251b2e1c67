#!/bin/bash
# Takes the pictures of the crash dialog in docs/: docs/crash-dialog.png
# after a real sample-client crash (no component hint), and
# docs/crash-dialog-hint.png with the component hint and the download link
# over the same crash log. Runs in its own Wine prefix and Xvfb display, with
# the CJK font of fonts-wqy-zenhei standing in for "宋体".
#   tools/dialog-screenshots.sh [BIN_DIR]   (default: build/x86_64/bin)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build/x86_64/bin}" && pwd)
work=$(mktemp -d /tmp/faultpost-shots.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
wine=/usr/lib/wine/wine64

display=""
for n in $(seq 160 199); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=:$n; break; fi
done
Xvfb "$display" -screen 0 1024x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$root/tools/wine-prefix.sh" "$WINEPREFIX"
# Wine draws the frames itself (no window manager here). The hint font names
# no face: on a Chinese system that gives the CJK default font, here Wine's
# default face must be mapped to it too.
$wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
$wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d "WenQuanYi Zen Hei" /f >/dev/null
/usr/lib/wine/wineserver -w

app=$work/app
mkdir -p "$app"
for program in Faultpost.exe sample-client.exe dialog_inspector.exe dialog_host.exe; do
  cp "$bin/$program" "$app/"
done
printf '[NetWork]\r\nlog_statistics_path=http://127.0.0.1:9/statistics\r\n' > "$app/DebugSet.ini"
appwin="Z:${app//\//\\}"
device_id="7f3a9c21d0b84e5f9a6c3d2e1f0a9b8c7d6e5f4a3b2c1d0e"

inspect() { "$wine" "$app/dialog_inspector.exe" "$@"; }
json() { python3 -c "import json,sys; d=json.load(sys.stdin); print($1)"; }

# shoot NAME: waits for the dialog, takes its window with a small margin,
# then closes it with Esc.
shoot() {
  local hwnd rect
  hwnd=$(inspect find --caption=错误报告 --class=#32770 "--exe-dir=$appwin" --visible --timeout-ms=120000 | json 'd["hwnd"]')
  [ "$hwnd" != 0 ] || { echo "no dialog appeared" >&2; exit 1; }
  sleep 1
  rect=$(inspect dump --hwnd="$hwnd" | json '"%dx%d+%d+%d" % (d["window"][2]-d["window"][0]+8, d["window"][3]-d["window"][1]+8, d["window"][0]-4, d["window"][1]-4)')
  mkdir -p "$root/docs"
  xwd -root -silent | convert xwd:- -crop "$rect" +repage "$root/docs/$1"
  xdotool key Escape
  inspect wait-gone --hwnd="$hwnd" --timeout-ms=30000
  echo "docs/$1"
}

(cd "$app" && "$wine" sample-client.exe --crash=null-write --show=1 --url=http://127.0.0.1:9/ \
  "--device-id=$device_id" >/dev/null 2>&1) &
pids+=($!)
shoot crash-dialog.png
wait "${pids[-1]}" || true

log=$WINEPREFIX/drive_c/users/root/Temp/orvel/Nimbrel/client_info.txt
cp "$log" "$app/client_info.txt"
(cd "$app" && "$wine" dialog_host.exe "--log=$appwin\\client_info.txt" "--device-id=$device_id" \
  "--hint=检测到Nimbrel的某些组件版本不一致，这可能是导致Nimbrel崩溃的原因。如果您多次遇到此问题，请尝试从Nimbrel主页下载最新的安装程序全新安装Nimbrel。" \
  --link-url=http://www.nimbrel.com "--link-text=点此下载最新版Nimbrel" >/dev/null 2>&1) &
pids+=($!)
shoot crash-dialog-hint.png
wait "${pids[-1]}" || true
