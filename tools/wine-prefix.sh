#!/bin/sh
# Creates a quiet Wine prefix for Tarnwick: no crash dialog (a crash ends the
# program instead of hanging it), no sound (every box beep costs a second),
# and a virtual desktop (windows shown without a window manager stall).
set -e
prefix="$1"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"
wineboot --init
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d '' /f
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1280x1024 /f
wineserver -w
. "$(dirname "$0")/wine-session.sh"
wine_link_fonts "$prefix"
