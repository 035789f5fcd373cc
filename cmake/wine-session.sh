#!/usr/bin/env bash
# cmake/wine-session.sh — makes and ends the isolated Wine session of a test run.
# Its own prefix, Xvfb when there is no display, the Japanese locale.
# Usage: wine-session.sh start|stop STATE_DIR
set -u
cmd=$1
mkdir -p "$2"
state=$(cd "$2" && pwd)  # Wine wants an absolute prefix
case "$cmd" in
start)
  [ -f "$state/env" ] && exit 0
  export WINEPREFIX="$state/prefix" WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -z "${DISPLAY:-}" ]; then
    # Find a free display number and start a virtual screen on it.
    for n in $(seq 90 140); do
      [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  rm -rf "$WINEPREFIX"
  wineboot -i >"$state/wineboot.log" 2>&1
  wineserver -p 2>/dev/null
  # The dialog font has no file of its own under Wine: map it to the
  # proportional IPA gothic so the Japanese labels fit as on Windows.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /t REG_SZ /d 'IPAPGothic' /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ ゴシック' /t REG_SZ /d 'IPAGothic' /f >/dev/null 2>&1
  # There is no window manager on our virtual screen: Wine draws the title bars
  # itself there. Its caption buttons need the Marlett symbol font in the prefix.
  if [ -f "$state/xvfb.pid" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  fi
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' /v 'Marlett (TrueType)' /t REG_SZ \
      /d marlett.ttf /f >/dev/null 2>&1
  fi
  {
    echo "export WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8"
    echo "export WINEDLLOVERRIDES='mscoree,mshtml='"
    echo "export DISPLAY='$DISPLAY'"
  } >"$state/env"
  ;;
stop)
  if [ -f "$state/env" ]; then
    # shellcheck disable=SC1091
    . "$state/env"
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
  fi
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null
    rm -f "$state/xvfb.pid"
  fi
  rm -f "$state/env"
  ;;
esac
exit 0
