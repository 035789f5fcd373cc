#!/usr/bin/env bash
# tests/check-portable.sh — fails when a portable source includes a Win32 header.
top=$1
hits=$(cd "$top" && grep -lE '#include *[<"](windows|wininet|shellapi|shlobj|commctrl|mmsystem)\.h' address/*.cpp address/*.h page/*.cpp page/*.h engine/receive_numbers.* 2>/dev/null | grep -vE '_win\.(cpp|h)$')
if [ -n "$hits" ]; then
  echo "portable files that include Win32 headers:"; echo "$hits"; exit 1
fi
echo "portable sources are free of Win32 headers"
