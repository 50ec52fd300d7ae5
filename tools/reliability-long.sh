#!/bin/sh
# The full long runs of the reliability suite (several minutes): 64 ports
# opened and closed 200 times, and 64 ports under Send Test Data for ten
# simulated minutes, each checking that handles, private memory, GDI objects
# and the simulated adapter's handles are back where they started. Also prints
# the figures of the short runs. Usage (an X display must be set):
#   DISPLAY=:50 tools/reliability-long.sh [BUILD_DIR]      (default build-rel)
set -e
cd "$(dirname "$0")/.."
dir="${1:-build-rel}"
[ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build "$dir" --target tarnwick_tests
. tools/wine-session.sh
wine_session_start "$PWD/$dir/wineprefix"
status=0
WINEDEBUG=-all "$dir/wine-run.sh" "$dir/tests/tarnwick_tests.exe" \
    --gtest_also_run_disabled_tests --gtest_filter='LongRun.*' || status=$?
wine_session_stop
exit $status
