#!/bin/sh
# Configures and builds Tarnwick for 64-bit Windows into ./build: everything,
# or only the targets named (e.g. tools/build.sh tarnwick tarnwick-demo).
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
if [ $# -gt 0 ]; then
    cmake --build build --target "$@"
else
    cmake --build build
fi
