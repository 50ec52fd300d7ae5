#!/bin/sh
# Installs what building and testing Tarnwick needs, from Debian's packages.
set -e
need=""
# fonts-wine holds Wine's own fonts (Marlett draws the caption buttons); it is
# only a recommendation of wine, which --no-install-recommends skips.
for pkg in cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
           mingw-w64-x86-64-dev wine wine64 fonts-wine xvfb xauth x11-utils googletest \
           python3 python3-pil imagemagick cppcheck clang-format; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || need="$need $pkg"
done
if [ -n "$need" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends $need
fi
