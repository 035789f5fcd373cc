#!/usr/bin/env bash
# tools/demo.sh — the main job: installs, builds parvel.exe and crawls the demo site.
# Installs what is missing, then crawls the bundled demo site (or the given addresses)
# under Wine, printing the mirror and saving screenshots.
# Usage: tools/demo.sh [--dpi N] [ADDRESS...]
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/tools/setup-machine.sh" || exit 1
if [ ! -f build/win/build.ninja ]; then
  cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null || exit 1
fi
cmake --build build/win -j "$(nproc)" --target parvel driver || exit 1
exec /usr/bin/python3 "$top/tools/demo.py" "$top/build/win" "$@"
