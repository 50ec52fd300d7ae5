#!/bin/sh
# Developer loop: build some targets into a build folder of your own and run
# their tests under Wine. Usage:
#   tools/dev-test.sh BUILD_DIR "TARGET..." [ctest arguments, e.g. -R Regex]
set -e
cd "$(dirname "$0")/.."
dir="$1"; targets="$2"; shift 2
[ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
cmake --build "$dir" --target $targets
. tools/wine-session.sh
wine_session_start "$PWD/$dir/wineprefix"
status=0
ctest --test-dir "$dir" --output-on-failure "$@" || status=$?
wine_session_stop
exit $status
