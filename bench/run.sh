#!/bin/bash
# Builds tarnwick-bench (Release) and runs it under Wine, with a pseudo-terminal
# linked as COM42 for the serial-path figures, run twice: its far end sends
# 2 x 8 MiB of one line repeated, then 2 x 8 MiB of numbered lines, every one
# different and with control bytes, as real devices' logs are.
#   bench/run.sh [--quick] [--only append|pattern|paint|poll|idle|realtime|capture|serial]
#                [--pace MS] [--against REV [--runs N]]
# --pace MS paints this build's text rows at most once per MS ms.
# --against REV also builds the benchmark of git revision REV (into
# BUILD_DIR-REV) and runs the two builds alternately, N times each (3 by
# default), then prints the median of the real-time and serial figures of each.
# (build folder: $BENCH_BUILD_DIR, default build-bench)
set -eo pipefail
cd "$(dirname "$0")/.."
dir="${BENCH_BUILD_DIR:-build-bench}"
phase_bytes=8388608
options=()
pace=()
against=""
runs=3
only=""
while [ $# -gt 0 ]; do
    case "$1" in
    --only) only="$2"; options+=(--only "$2"); shift ;;
    --pace) pace=(--pace "$2"); shift ;;
    --against) against="$2"; shift ;;
    --runs) runs="$2"; shift ;;
    *) options+=("$1") ;;
    esac
    shift
done

build_bench() { # SOURCE_DIR BUILD_DIR
    if [ ! -f "$2/build.ninja" ]; then
        cmake -S "$1" -B "$2" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$1/cmake/mingw-w64-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$2" --target tarnwick-bench >/dev/null
}
build_bench "$PWD" "$dir"
if [ -n "$against" ]; then
    rev="$(git rev-parse --short "$against")"
    old_dir="$dir-$rev"
    if [ ! -f "$old_dir/src/CMakeLists.txt" ]; then
        mkdir -p "$old_dir/src"
        git archive "$rev" | tar -x -C "$old_dir/src"
    fi
    build_bench "$PWD/$old_dir/src" "$old_dir"
fi

prefix="$PWD/$dir/wineprefix"
[ -f "$prefix/system.reg" ] || tools/wine-prefix.sh "$prefix" >/dev/null 2>&1
. tools/wine-session.sh
# The session's wineserver keeps these descriptors; keep its messages out of the table.
wine_session_start "$prefix" >/dev/null 2>&1
# The session's X server and wineserver, whose CPU the real-time rows add to
# the program's: the Xvfb of this display, the wineserver of this prefix.
export BENCH_XSERVER_PID="${TARNWICK_XVFB_PID:-$(pgrep -a -x Xvfb | awk -v d="$DISPLAY" '$0 ~ " " d "( |$)" { print $1; exit }')}"
for pid in $(pgrep -x "wineserver(64)?"); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$prefix"; then
        export BENCH_WINESERVER_PID="$pid"
    fi
done
work="$(mktemp -d /tmp/tarnwick-bench.XXXXXX)"
trap 'rm -rf "$work"; wine_session_stop' EXIT

# Text lines with CR LF; the very last line carries the mark the benchmark
# looks for on the screen.
python3 - "$work" $((2 * phase_bytes)) <<'PYTHON'
import sys
folder, size = sys.argv[1], int(sys.argv[2])
end = b"TARNWICK-END\r\n"
line = b"The quick brown fox jumps over the lazy dog 0123456789\r\n"
with open(folder + "/same", "wb") as f:
    f.write((line * (size // len(line) + 1))[: size - len(end)] + end)
lines, total, n = [], 0, 0
while total < size - len(end):
    text = b"%08d \x1b[1mINFO\x1b[0m unit %02d value %05d ok\r\n" % (n, n % 64, n * 7919 % 100000)
    lines.append(text)
    total += len(text)
    n += 1
with open(folder + "/different", "wb") as f:
    f.write(b"".join(lines)[: size - len(end)] + end)
PYTHON

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(wine --version)"

# One run of a build's benchmark, everything selected; the serial part once per data.
run_once() { # EXE [OPTIONS...]
    local exe="$1"
    shift
    echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
    if [ "$only" != serial ]; then
        wine "$exe" "${options[@]}" "$@" | stdbuf -oL tr -d '\r'
    fi
    if [ -z "$only" ] || [ "$only" = serial ]; then
        local data
        for data in same different; do
            if [ $data = same ]; then
                echo "serial data: one line repeated"
            else
                echo "serial data: numbered lines, every one different, with control bytes"
            fi
            # The pty's far end waits until everything it sends is read.
            python3 tools/pty-peer.py --prefix "$prefix" --port "com42=source:$work/$data" -- \
                wine "$exe" "${options[@]}" --only serial "$@" --serial COM42 $phase_bytes |
                stdbuf -oL tr -d '\r' | grep -v -e '^Tarnwick benchmark' -e '^MB = ' \
                -e '^CPU = ' -e '^in 10 ms' -e '^includes the' -e '^message boxes in' \
                -e '^benchmark took' -e '^painting paced' -e '^$' || true
        done
    fi
}

if [ -z "$against" ]; then
    run_once "$dir/bench/tarnwick-bench.exe" "${pace[@]}"
    exit 0
fi

for run in $(seq "$runs"); do
    echo "=== run $run of $runs: this build (${pace[*]:-paced at PAINT_PERIOD_MS})"
    run_once "$dir/bench/tarnwick-bench.exe" "${pace[@]}" | tee "$work/new-$run"
    echo "=== run $run of $runs: $rev"
    run_once "$old_dir/bench/tarnwick-bench.exe" | tee "$work/old-$run"
done

# The median of each figure over the runs of each build.
summary() { # FILES...
    awk '
        /^serial data: one line/ { data = "same" }
        /^serial data: numbered/ { data = "different" }
        /^  default \(cascaded\)/ { put("real time, default arrangement: program", $(NF - 8)); put("real time, default arrangement: all", $(NF - 2)) }
        /^  tiled/ { put("real time, tiled: program", $(NF - 8)); put("real time, tiled: all", $(NF - 2)) }
        /period-0 timer, bare reader/ { bare[data] = cpu($0); barethread[data] = thread($0); barerate[data] = rate($0)
            put("serial " data ": bare reader CPU %", bare[data]); put("serial " data ": bare reader MB/s", barerate[data]) }
        /period-0 timer, window painted/ { c = cpu($0); t = thread($0); r = rate($0); put("serial " data ": program CPU %", c); put("serial " data ": program MB/s", r)
            if (bare[data] > 0) put("serial " data ": program / bare reader, CPU", c / bare[data])
            if (barethread[data] > 0) put("serial " data ": program / bare reader, thread CPU", t / barethread[data])
            if (barerate[data] > 0) put("serial " data ": program / bare reader, MB/s", r / barerate[data]) }
        function cpu(line) { sub(/.*CPU +/, "", line); return line + 0 }
        function thread(line) { sub(/.*thread +/, "", line); return line + 0 }
        function rate(line) { sub(/ MB\/s.*/, "", line); sub(/.* /, "", line); return line + 0 }
        function put(name, value) { if (!(name in count)) order[++names] = name; values[name, ++count[name]] = value }
        END {
            for (i = 1; i <= names; i++) {
                name = order[i]; n = count[name]
                for (a = 1; a <= n; a++) v[a] = values[name, a]
                for (a = 1; a <= n; a++) for (b = a + 1; b <= n; b++) if (v[b] < v[a]) { t = v[a]; v[a] = v[b]; v[b] = t }
                median = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
                line = ""
                for (a = 1; a <= n; a++) line = line sprintf(" %.2f", values[name, a])
                printf "  %-50s %8.2f   (runs:%s)\n", name, median, line
            }
        }' "$@"
}
echo
echo "=== medians of $runs alternating runs: this build (${pace[*]:-paced at PAINT_PERIOD_MS})"
summary "$work"/new-*
echo "=== medians of $runs alternating runs: $rev"
summary "$work"/old-*
