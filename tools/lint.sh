#!/bin/sh
# Static checks: cppcheck for 64-bit Windows, rooms that only include from
# below, and the tree's clang-format.
set -e
cd "$(dirname "$0")/.."
cppcheck --platform=win64 --std=c++17 --enable=warning,performance,portability \
    --inline-suppr --suppress=missingIncludeSystem --error-exitcode=1 --quiet \
    -D_WIN32 -DWINAPI= -DCALLBACK= -I . common port dialogs view app sim tools/ctl bench
# Rooms only look down: each room includes from its own and those below it.
# sim/ stands beside port/ and implements its device seam; the demo's main
# starts the top floor.
below() {
    case "$1" in
    common) echo "common" ;;
    port) echo "common port" ;;
    sim) echo "common port sim" ;;
    dialogs) echo "common port dialogs" ;;
    view) echo "common port dialogs view" ;;
    app) echo "common port dialogs view app" ;;
    esac
}
upward=$(git ls-files 'common/*' 'port/*' 'sim/*' 'dialogs/*' 'view/*' 'app/*' |
    grep -E '\.(cpp|h|rc)$' | while read -r f; do
        room=${f%%/*}
        allowed=$(below "$room")
        [ "$f" = sim/demo_main.cpp ] && allowed="$allowed app"
        grep -o '^#include "[a-z_]*/' "$f" | sed 's/^#include "//; s#/$##' | sort -u |
            while read -r used; do
                case " $allowed " in
                *" $used "*) ;;
                *) echo "  $f includes from $used/" ;;
                esac
            done
    done)
if [ -n "$upward" ]; then
    echo "includes from a room above (or beside) its own:"
    echo "$upward"
    exit 1
fi
unformatted=""
for f in $(git ls-files '*.cpp' '*.h'); do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || unformatted="$unformatted $f"
done
if [ -n "$unformatted" ]; then
    echo "not formatted with clang-format:$unformatted"
    exit 1
fi
echo "lint: cppcheck, rooms and clang-format clean"
