#!/usr/bin/env bash
# tools/test-all.sh — the one test command: builds natively and for Windows, runs every test.
# Installs what is missing first and prints the summaries at the end.
# Usage: tools/test-all.sh [--long]   (--long adds the long scale and fuzz runs)
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/tools/setup-machine.sh" || exit 1
if [ "${1:-}" = "--long" ]; then export PARVEL_LONG_TESTS=1; fi
jobs=$(nproc)
status=0

echo "== native build (clang, AddressSanitizer, UBSan)"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
cmake --build build/native -j "$jobs" || exit 1
echo "== Windows build (MinGW-w64)"
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null || exit 1
cmake --build build/win -j "$jobs" || exit 1

echo "== level 1: native unit tests and fuzz runs"
(cd build/native && ctest --output-on-failure) | tee build/native-ctest.log
[ "${PIPESTATUS[0]}" = 0 ] || status=1
echo "== levels 2 and 3: Windows unit, integration and end-to-end tests under Wine"
(cd build/win && ctest --output-on-failure) | tee build/win-ctest.log
[ "${PIPESTATUS[0]}" = 0 ] || status=1

echo
echo "== summary"
for log in build/native-ctest.log build/win-ctest.log; do
  echo "-- $log"
  grep -E 'tests passed|tests failed|\*\*\*Failed|Failed  |Not Run' "$log" || true
done
# What each test program itself counted (GoogleTest, unittest, libFuzzer).
for dir in build/native build/win; do
  echo "-- test programs in $dir"
  grep -hE '^[0-9]+/[0-9]+ Test:|\[  PASSED  \]|\[  FAILED  \]|^Ran [0-9]+ tests?|^OK|^FAILED \(|Done [0-9]+ runs' \
    "$dir/Testing/Temporary/LastTest.log" 2>/dev/null | sed 's/^/   /'
done
exit $status
