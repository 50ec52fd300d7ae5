#!/bin/sh
# Installs what is missing, builds, and runs every test under Wine.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/lint.sh
tools/build.sh
. tools/wine-session.sh
wine_session_start "$PWD/build/wineprefix"
status=0
ctest --test-dir build --output-on-failure || status=$?
wine_session_stop
exit $status
