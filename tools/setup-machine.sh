#!/usr/bin/env bash
# tools/setup-machine.sh — installs on Debian 12 what Parvel's build and tests need.
# Only what is missing (idempotent).
set -eu
packages="cmake ninja-build clang libclang-rt-14-dev googletest g++-mingw-w64-x86-64 wine64 fonts-wine xvfb locales
  fonts-ipafont-gothic imagemagick python3-pyftpdlib x11-utils openssl ca-certificates
  nginx wget chromium aptitude-doc-ja maint-guide-ja developers-reference debian-edu-doc-ja"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
if [ -n "$missing" ]; then
  echo "== installing:$missing"
  as_root apt-get update -q
  # The tests start nginx themselves on loopback addresses; the packaged service
  # must not start on install and hold port 80. A policy already in place is kept.
  own_policy=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | as_root tee /usr/sbin/policy-rc.d >/dev/null
    as_root chmod 755 /usr/sbin/policy-rc.d
    own_policy=1
  fi
  rc=0
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing || rc=$?
  [ -n "$own_policy" ] && as_root rm -f /usr/sbin/policy-rc.d
  [ "$rc" = 0 ] || exit "$rc"
fi
# Wine takes its ANSI code page (932) from the Japanese locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "== generating the ja_JP.UTF-8 locale"
  as_root sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi
