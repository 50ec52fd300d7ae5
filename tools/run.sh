#!/bin/sh
# Installs what is missing, builds, and starts Tarnwick under Wine.
# With no arguments it runs the demo build on the simulated adapter; arguments
# such as COM5=/dev/ttyUSB0 run the real program on those devices instead.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh tarnwick tarnwick-demo tarnwickctl
if [ $# -eq 0 ] && [ -f build/sim/tarnwick-demo.exe ]; then
    exec tools/tarnwick-wine build/sim/tarnwick-demo.exe
fi
if [ -x tools/tarnwick-wine ]; then
    exec tools/tarnwick-wine build/tarnwick.exe "$@"
fi
echo "Built: $(ls build/*.exe build/sim/*.exe 2>/dev/null | tr '\n' ' ')"
