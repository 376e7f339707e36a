#!/bin/sh
# wine-session.sh start|stop STATE_DIR
# start: a headless X server and a fresh 32-bit Wine prefix under STATE_DIR,
#        with a persistent wineserver, reused by every test of the run;
# stop:  ends the wineserver and the X server.
set -u
action=$1
state=$2

stop_session() {
  if [ -d "$state/prefix" ]; then
    . "$(dirname "$0")/wine-env.sh"
    wineserver -k 2>/dev/null
  fi
  if [ -f "$state/xvfb.pid" ]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null
    rm -f "$state/xvfb.pid"
  fi
  rm -f "$state/display"
}

case "$action" in
start)
  stop_session
  rm -rf "$state/prefix" "$state/home"
  mkdir -p "$state/home"
  n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  echo ":$n" >"$state/display"
  i=0
  while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  . "$(dirname "$0")/wine-env.sh"
  wineboot -i </dev/null >"$state/wineboot.log" 2>&1 || { cat "$state/wineboot.log"; exit 1; }
  wineserver -w
  # The server outlives this script: it must not hold CTest's output pipes.
  wineserver -p </dev/null >/dev/null 2>&1
  echo "Wine prefix ready in $WINEPREFIX, display $DISPLAY"
  ;;
stop)
  stop_session
  ;;
*)
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
  ;;
esac
