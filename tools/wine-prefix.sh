#!/bin/bash
# Creates a Wine prefix ready for Faultpost: no crash debugger (a faulty
# program must end, not hang in winedbg) and the CJK font mapped for the
# dialog's "宋体". Usage: wine-prefix.sh DIR
set -euo pipefail
prefix=$1
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=$prefix WINEDEBUG=-all
mkdir -p "$prefix"
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
reg() { /usr/lib/wine/wine64 reg "$@" >/dev/null 2>&1 || true; }
for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
           'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
  reg add "$key" /v Debugger /d "" /f
  reg add "$key" /v Auto /d 1 /f
done
# Wine's own crash dialog would wait for a click that never comes.
reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "宋体" /d "WenQuanYi Zen Hei" /f
reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "SimSun" /d "WenQuanYi Zen Hei" /f
/usr/lib/wine/wineserver -w
