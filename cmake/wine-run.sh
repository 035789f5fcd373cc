#!/usr/bin/env bash
# cmake/wine-run.sh — runs one Windows program under Wine in a build tree's test session.
# The session gives the prefix, the display and the Japanese locale.
# Usage: wine-run.sh STATE_DIR PROGRAM [ARGS...]; STATE_DIR is made by wine-session.sh start.
set -u
state=$1; shift
if [ ! -f "$state/env" ]; then
  "$(dirname "$0")/wine-session.sh" start "$state" >&2 || exit 1
fi
# shellcheck disable=SC1091
. "$state/env"
exec wine "$@"
