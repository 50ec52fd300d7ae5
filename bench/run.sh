#!/bin/bash
# Builds tarnwick-bench (Release) and runs it under Wine, with a pseudo-terminal
# linked as COM42 whose far end sends 2 x 8 MiB for the serial-path figures.
#   bench/run.sh [--quick] [--only append|pattern|paint|poll|idle|realtime|capture|serial]
# (build folder: $BENCH_BUILD_DIR, default build-bench)
set -eo pipefail
cd "$(dirname "$0")/.."
dir="${BENCH_BUILD_DIR:-build-bench}"
# Every argument goes to the benchmark program.
options=("$@")
phase_bytes=8388608

if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$dir" --target tarnwick-bench >/dev/null

prefix="$PWD/$dir/wineprefix"
[ -f "$prefix/system.reg" ] || tools/wine-prefix.sh "$prefix" >/dev/null 2>&1
. tools/wine-session.sh
# The session's wineserver keeps these descriptors; keep its messages out of the table.
wine_session_start "$prefix" >/dev/null 2>&1
# The session's X server and wineserver, whose CPU the real-time rows add to
# the program's: the Xvfb of this display, the wineserver of this prefix.
export BENCH_XSERVER_PID="${TARNWICK_XVFB_PID:-$(pgrep -a -x Xvfb | awk -v d="$DISPLAY" '$0 ~ " " d "( |$)" { print $1; exit }')}"
for pid in $(pgrep -x "wineserver(64)?"); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then
        export BENCH_WINESERVER_PID="$pid"
    fi
done
data="$(mktemp /tmp/tarnwick-bench.XXXXXX)"
trap 'rm -f "$data"; wine_session_stop' EXIT

# Text lines with CR LF; the very last line carries the mark the benchmark
# looks for on the screen.
python3 - "$data" $((2 * phase_bytes)) <<'PYTHON'
import sys
path, size = sys.argv[1], int(sys.argv[2])
end = b"TARNWICK-END\r\n"
line = b"The quick brown fox jumps over the lazy dog 0123456789\r\n"
body = (line * (size // len(line) + 1))[: size - len(end)]
with open(path, "wb") as f:
    f.write(body + end)
PYTHON

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(wine --version)"
echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
# The pty's far end waits until everything it sends is read, which only the
# serial part does.
if [[ " ${options[*]} " == *" --only "* && " ${options[*]} " != *" --only serial "* ]]; then
    wine "$dir/bench/tarnwick-bench.exe" "${options[@]}" | stdbuf -oL tr -d '\r'
else
    python3 tools/pty-peer.py --prefix "$prefix" --port "com42=source:$data" -- \
        wine "$dir/bench/tarnwick-bench.exe" "${options[@]}" --serial COM42 $phase_bytes |
        stdbuf -oL tr -d '\r'
fi
