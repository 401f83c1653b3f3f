#!/usr/bin/env bash
# Runs the Linux front end (build/linux/orlimo) against the stand-in portal
# on 127.0.0.1. tools/demo.sh --linux comes here.
#
#   tools/demo-linux.sh [--no-wait] [--port N] [--interval MINUTES] [--reply KIND]
#
# Installs what is missing (tools/setup.sh), builds the linux preset, starts
# the stand-in portal (tools/portal.py) and the program with XDG folders of
# its own in build/demo-linux/run (its settings, autostart entries and
# shortcuts go there, never into your own), with a shared settings file that
# points at the portal. Addresses go to tools/test-browser (build/demo-linux/
# browser.log) instead of a browser.
#
# On your $DISPLAY the icon goes to your desktop's tray. Without a display it
# runs on a private Xvfb with a private session bus and an XEmbed tray
# (trayer) at the top right, and saves screenshots in build/demo-linux/.
#
#   --no-wait        take a screenshot once the icon is there, open the tray
#                    menu with a right click, take another, end the program
#   --port N         portal port (default: any free one)
#   --interval M     interval_time of the settings (default 1; 0 polls every second)
#   --reply KIND     the portal's answer to every poll: text (default), has,
#                    update, socket, silent, drip, ... (tools/portal.py)
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEMO=$ROOT/build/demo-linux
RUN=$DEMO/run
NO_WAIT=0 PORT=0 INTERVAL=1 REPLY=""
ARGS=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --linux) ;;
    --no-wait) NO_WAIT=1 ;;
    --port) PORT=${2:?}; shift ;;
    --interval) INTERVAL=${2:?}; shift ;;
    --reply) REPLY=${2:?}; shift ;;
    -h|--help) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

say() { printf 'demo: %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

if [ -z "${ORLIMO_SETUP_RAN:-}" ]; then
  bash "$ROOT/tools/setup.sh" >/dev/null || die "setup failed (tools/setup.sh)"
  ORLIMO_SETUP_RAN=1 exec bash "$ROOT/tools/demo-linux.sh" "${ARGS[@]}"
fi

mkdir -p "$DEMO"
rm -f "$DEMO/display" "$DEMO/bus" "$DEMO/portal.port"
say "building the linux preset"
(cd "$ROOT" && cmake --preset linux >/dev/null && cmake --build --preset linux -j2 --target orlimo) \
  >"$DEMO/build.log" 2>&1 || { tail -30 "$DEMO/build.log" >&2; die "build failed (log: $DEMO/build.log)"; }
PROGRAM=$ROOT/build/linux/orlimo

. "$ROOT/tools/background.sh"
cleanup() {
  trap - EXIT INT TERM
  stop_background
}
trap cleanup EXIT
trap 'echo; say "stopping"; cleanup; exit 0' INT TERM

# -- display, session bus, tray -------------------------------------------
PRIVATE=0
if [ -n "${DISPLAY:-}" ] && timeout 5 xdpyinfo >/dev/null 2>&1; then
  say "using your display $DISPLAY and your desktop's tray"
else
  setsid Xvfb -displayfd 9 -nolisten tcp -screen 0 1280x1024x24 9>"$DEMO/display" </dev/null >/dev/null 2>&1 &
  PIDS+=($!)
  DISPLAY=":$(first_line "$DEMO/display")" || die "Xvfb did not start"
  export DISPLAY
  setsid dbus-daemon --session --nofork --nopidfile --print-address=1 >"$DEMO/bus" 2>/dev/null </dev/null &
  PIDS+=($!)
  DBUS_SESSION_BUS_ADDRESS=$(first_line "$DEMO/bus") || die "dbus-daemon did not start"
  export DBUS_SESSION_BUS_ADDRESS
  setsid trayer --edge top --align right --widthtype request --height 24 --transparent false \
    --tint 0x404040 </dev/null >/dev/null 2>&1 &
  PIDS+=($!)
  PRIVATE=1
  say "no display: a private Xvfb $DISPLAY with its own session bus and an XEmbed tray (trayer)"
fi

# -- portal ----------------------------------------------------------------
: >"$DEMO/portal.log"
setsid python3 "$ROOT/tools/portal.py" --port "$PORT" --log "$DEMO/portal.log" >"$DEMO/portal.port" \
  2>"$DEMO/portal.err" </dev/null &
PIDS+=($!)
PORT=$(first_line "$DEMO/portal.port") || die "the portal did not start: $(cat "$DEMO/portal.err")"
say "stand-in portal on http://127.0.0.1:$PORT/velsa/"
if [ -n "$REPLY" ]; then
  python3 - "$PORT" "$REPLY" <<'EOF' || die "the portal refused reply kind $REPLY"
import json, sys, urllib.request
req = urllib.request.Request("http://127.0.0.1:%s/_control/default" % sys.argv[1],
                             data=json.dumps({"kind": sys.argv[2]}).encode(), method="POST")
urllib.request.urlopen(req, timeout=5).read()
EOF
  say "the portal answers every poll with: $REPLY"
fi

# -- the program's folders -------------------------------------------------
rm -rf "$RUN"
mkdir -p "$RUN/home/Desktop" "$RUN/home/.config" "$RUN/home/.local/share" "$RUN/etc-xdg/orlimo" "$RUN/bin" "$RUN/runtime"
chmod 700 "$RUN/runtime"
ln -s "$ROOT/tools/test-browser" "$RUN/bin/xdg-open"
mkdir -p "$RUN/etc-xdg/autostart"
cp "$ROOT/res/linux/orlimo-autostart.desktop" "$RUN/etc-xdg/autostart/orlimo.desktop"
printf 'server=127.0.0.1\r\nuser_id=1\r\ninterval_time=%s\r\nserver_port=%s\r\nbookmark=门户首页|http://127.0.0.1:%s/velsa/index.jsp=Linux|http://127.0.0.1:%s/velsa/linux.jsp\r\n' \
  "$INTERVAL" "$PORT" "$PORT" "$PORT" >"$RUN/etc-xdg/orlimo/config.properties"
export ORLIMO_BROWSER_LOG=$DEMO/browser.log
: >"$ORLIMO_BROWSER_LOG"

say "starting $PROGRAM (shared settings: $RUN/etc-xdg/orlimo/config.properties)"
env HOME="$RUN/home" XDG_CONFIG_HOME="$RUN/home/.config" XDG_DATA_HOME="$RUN/home/.local/share" \
  XDG_CONFIG_DIRS="$RUN/etc-xdg" XDG_RUNTIME_DIR="$RUN/runtime" PATH="$RUN/bin:$PATH" \
  setsid "$PROGRAM" </dev/null >"$DEMO/orlimo.log" 2>&1 &
ORLIMO_PID=$!
PIDS+=("$ORLIMO_PID")

shot() {
  if timeout 20 import -display "$DISPLAY" -window root "$1" 2>/dev/null; then say "screenshot: $1"; else say "screenshot failed"; fi
}

# The icon's window on the private display (XEmbed): the program's one small
# window (its dialogs are windows of the same process).
icon_window() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$ORLIMO_PID" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$WIDTH" -le 64 ] && [ "$HEIGHT" -le 64 ] && { echo "$w"; return; }
  done
}

if [ "$PRIVATE" = 1 ]; then
  for _ in $(seq 100); do [ -n "$(icon_window)" ] && break; sleep 0.2; done
  [ -n "$(icon_window)" ] || die "no tray icon after 20 s (program output: $DEMO/orlimo.log)"
  say "the tray icon is up (top right)"
else
  sleep 2
  # One orlimo per session: yours, if it runs, keeps the session's.
  if ! kill -0 "$ORLIMO_PID" 2>/dev/null && grep -q "already running" "$DEMO/orlimo.log"; then
    die "orlimo already runs in your session; end it (\"退出\" in its menu) and start the demo again"
  fi
fi
say "portal log:  $DEMO/portal.log"
say "browser log: $ORLIMO_BROWSER_LOG"

if [ "$NO_WAIT" = 1 ]; then
  [ "$PRIVATE" = 1 ] || { say "--no-wait takes screenshots on the private display only"; exit 0; }
  sleep 3  # the first polls' answers (and their prompts) come first
  shot "$DEMO/shot.png"
  eval "$(xdotool getwindowgeometry --shell "$(icon_window)")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  sleep 1
  shot "$DEMO/menu.png"
  xdotool key Escape
  exit 0
fi

[ "$PRIVATE" = 1 ] && shot "$DEMO/shot.png"
say "running; press Ctrl+C to stop"
[ "$PRIVATE" = 1 ] && say "(on the private display $DISPLAY: right-click the icon at the top right, e.g. with xdotool)"
while kill -0 "$ORLIMO_PID" 2>/dev/null; do sleep 1; done
say "orlimo has ended"
