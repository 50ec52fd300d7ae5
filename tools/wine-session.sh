# Sourced by the scripts that run Tarnwick programs under Wine: a display
# (Xvfb when there is none), the build's prefix, and one wineserver kept alive
# for the whole session so each Wine process starts in a fraction of a second.
# Call wine_session_start PREFIX, and wine_session_stop at the end.

# Wine's own fonts (Debian's fonts-wine: Marlett draws the caption buttons,
# and the System font) linked into the prefix's Fonts folder: this Wine looks
# for them there, not in /usr/share/wine/fonts.
wine_link_fonts() {
    [ -d "$1/drive_c/windows/Fonts" ] || return 0
    for font in /usr/share/wine/fonts/*; do
        if [ -e "$font" ] && [ ! -e "$1/drive_c/windows/Fonts/${font##*/}" ]; then
            ln -s "$font" "$1/drive_c/windows/Fonts/" || true
        fi
    done
}

wine_session_start() {
    export WINEPREFIX="$1"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    TARNWICK_XVFB_PID=""
    if [ -z "$DISPLAY" ]; then
        for n in 99 98 97 96 95 94 93 92 91 90; do
            [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
        done
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        TARNWICK_XVFB_PID=$!
        export DISPLAY=":$n"
        i=0
        while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
        echo "No DISPLAY: running on Xvfb $DISPLAY"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX" >/dev/null 2>&1
    fi
    wine_link_fonts "$WINEPREFIX"
    wineserver -p
    # Start the desktop process now, outside any pipe a test runner watches.
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

wine_session_stop() {
    wineserver -k 2>/dev/null || true
    if [ -n "$TARNWICK_XVFB_PID" ]; then
        kill "$TARNWICK_XVFB_PID" 2>/dev/null || true
    fi
}
