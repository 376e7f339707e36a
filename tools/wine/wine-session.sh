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
  # Xvfb picks a free display itself and writes its number to the fd.
  rm -f "$state/display.fd"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display.fd" \
       </dev/null >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  i=0
  while ! grep -q '[0-9]' "$state/display.fd" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt 200 ]; then echo "Xvfb did not start:"; cat "$state/xvfb.log"; exit 1; fi
    sleep 0.1
  done
  echo ":$(tr -dc 0-9 <"$state/display.fd")" >"$state/display"
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
