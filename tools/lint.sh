#!/bin/sh
# Static checks: cppcheck for 64-bit Windows, and the tree's clang-format.
set -e
cd "$(dirname "$0")/.."
cppcheck --platform=win64 --std=c++17 --enable=warning,performance,portability \
    --inline-suppr --suppress=missingIncludeSystem --error-exitcode=1 --quiet \
    -D_WIN32 -DWINAPI= -DCALLBACK= -I . app port view dialogs sim tools/ctl bench
unformatted=""
for f in $(git ls-files '*.cpp' '*.h'); do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || unformatted="$unformatted $f"
done
if [ -n "$unformatted" ]; then
    echo "not formatted with clang-format:$unformatted"
    exit 1
fi
echo "lint: cppcheck and clang-format clean"
