#!/usr/bin/env bash
# tests/check-text-calls.sh — fails on text copied or formatted outside address/text.cpp.
top=$1
calls='strcpy|strcat|lstrcpyA|lstrcatA|lstrcpynA|wsprintfA|sprintf|strncpy|snprintf|vsnprintf'
hits=$(cd "$top" && grep -nE "(^|[^A-Za-z0-9_])_?($calls)[[:space:]]*\(" \
  app/*.cpp app/*.h resources/*.cpp resources/*.h settings/*.cpp settings/*.h engine/*.cpp engine/*.h \
  net/*.cpp net/*.h address/*.cpp address/*.h page/*.cpp page/*.h page/*.inc 2>/dev/null |
  grep -v '^address/text\.cpp:')
if [ -n "$hits" ]; then
  echo "text copied or formatted without address/text.h (CopyText, AppendText, FormatText):"; echo "$hits"; exit 1
fi
echo "product code copies and formats text only through address/text.h"
