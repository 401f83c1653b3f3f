#!/usr/bin/env bash
# Runs orlimo.exe under Wine against the stand-in portal on 127.0.0.1.
#
#   tools/demo.sh [--no-wait] [--port N] [--interval MINUTES] [--reply KIND]
#                 [--arch i686|x86_64] [--https]
#   tools/demo.sh --linux [--no-wait] [--port N] [--interval M] [--reply KIND]
#
# Installs what is missing (tools/setup.sh), builds the program if needed,
# picks the build that this machine's Wine runs (the i686 program in a
# 32-bit prefix where 32-bit programs run, else the x86_64 one in a 64-bit
# prefix) and says which, starts the stand-in portal (tools/portal.py),
# makes a fresh Wine prefix in build/demo/run, writes a config.properties
# that points at the portal and starts orlimo.exe from a folder holding it,
# as a user would for the first start. The program shows on $DISPLAY when
# that display answers, else on a private Xvfb (screenshots then go to
# build/demo/). Browser launches are recorded by tools/test-browser.
#
#   --no-wait        take a screenshot once the tray icon is there, open the
#                    tray menu, take another, exit the program and stop
#   --port N         portal port (default: any free one)
#   --interval M     interval_time of the settings (default 1 minute;
#                    0 polls every second)
#   --reply KIND     the portal's answer to every poll: text (default),
#                    has, update, socket, silent, drip, ... (tools/portal.py)
#   --arch A         run this build instead (i686 or x86_64)
#   --https          the portal speaks HTTPS with a throwaway certificate
#                    (tools/testca.py, in build/demo/tls) whose CA is put
#                    into the demo prefix's trusted roots (not the
#                    machine's); the settings say server=https://127.0.0.1
#                    and one favorite is an https:// address. With
#                    --no-wait it also opens the login page and prints the
#                    portal's last poll and what the browser got.
#
# Without --no-wait it runs until Ctrl+C or until "退出" is chosen.
set -uo pipefail

# --linux: the Linux front end instead (tools/demo-linux.sh, same options).
for arg in "$@"; do
  [ "$arg" = --linux ] && exec bash "$(dirname "${BASH_SOURCE[0]}")/demo-linux.sh" "$@"
done

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEMO=$ROOT/build/demo
RUN=$DEMO/run
NO_WAIT=0 PORT=0 INTERVAL=1 REPLY="" ARCH="" HTTPS=0
ARGS=("$@")

while [ $# -gt 0 ]; do
  case "$1" in
    --no-wait) NO_WAIT=1 ;;
    --port) PORT=${2:?}; shift ;;
    --interval) INTERVAL=${2:?}; shift ;;
    --reply) REPLY=${2:?}; shift ;;
    --arch) ARCH=${2:?}; shift ;;
    --https) HTTPS=1 ;;
    -h|--help) sed -n '2,34p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

say() { printf 'demo: %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

# Install what is missing, then start again in a new shell (a process that
# started before the zh_CN.UTF-8 locale existed cannot switch to it).
if [ -z "${ORLIMO_SETUP_RAN:-}" ]; then
  bash "$ROOT/tools/setup.sh" >/dev/null || die "setup failed (tools/setup.sh)"
  ORLIMO_SETUP_RAN=1 exec bash "$ROOT/tools/demo.sh" "${ARGS[@]}"
fi

# shellcheck source=tools/wineprefix.sh
. "$ROOT/tools/wineprefix.sh"

# -- which build ------------------------------------------------------------
if [ -z "$ARCH" ]; then
  WHY=$(mktemp)
  ARCH=$(orlimo_arches 2>"$WHY" | head -n1)
  if [ "$ARCH" = i686 ]; then
    say "this machine runs 32-bit programs: the i686 build, in a 32-bit Wine prefix"
  else
    say "$(cat "$WHY")"
    say "so: the x86_64 build, in a 64-bit Wine prefix"
  fi
  rm -f "$WHY"
else
  say "the $ARCH build, as asked"
fi
case "$ARCH" in i686|x86_64) ;; *) die "unknown build $ARCH (i686 or x86_64)" ;; esac
export ORLIMO_ARCH=$ARCH
BUILD=$ROOT/build/mingw-$ARCH

# -- build ------------------------------------------------------------------
mkdir -p "$DEMO"
if [ ! -f "$BUILD/build.ninja" ]; then
  say "configuring the $ARCH build"
  (cd "$ROOT" && cmake --preset "mingw-$ARCH" >/dev/null) || die "cmake configure failed"
fi
say "building orlimo.exe and the test driver"
(cd "$ROOT" && cmake --build --preset "mingw-$ARCH" --target orlimo orlimo-driver menudump >"$DEMO.build.log" 2>&1) ||
  { tail -30 "$DEMO.build.log" >&2; die "build failed (log: $DEMO.build.log)"; }
rm -f "$DEMO.build.log"

XVFB_PID="" PORTAL_PID="" ORLIMO_PID="" PREFIX_UP=0

cleanup() {
  trap - EXIT INT TERM
  [ -n "$ORLIMO_PID" ] && kill "$ORLIMO_PID" 2>/dev/null
  [ "$PREFIX_UP" = 1 ] && orlimo_prefix_stop "$RUN"
  [ -n "$PORTAL_PID" ] && kill "$PORTAL_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT
trap 'echo; say "stopping"; cleanup; exit 0' INT TERM

# -- display ----------------------------------------------------------------
OWN_DISPLAY=0
if [ -n "${DISPLAY:-}" ] && timeout 5 xdpyinfo >/dev/null 2>&1; then
  say "using your display $DISPLAY"
else
  rm -f "$DEMO/display"
  # Own sessions for the helpers: Ctrl+C reaches only this script, whose
  # trap then stops everything in order.
  setsid Xvfb -displayfd 9 -nolisten tcp -screen 0 1280x1024x24 9>"$DEMO/display" </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$DEMO/display" ] && break; sleep 0.1; done
  [ -s "$DEMO/display" ] || die "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$DEMO/display")"
  OWN_DISPLAY=1
  say "no display: running on a private Xvfb $DISPLAY"
fi

# -- portal -----------------------------------------------------------------
: >"$DEMO/portal.log"
TLS_ARGS=() SCHEME=http SERVER=127.0.0.1
if [ "$HTTPS" = 1 ]; then
  python3 "$ROOT/tools/testca.py" "$DEMO/tls" >/dev/null || die "making the test certificates failed"
  # The control interface stays plain HTTP, on a port of its own.
  TLS_ARGS=(--control-port 0 --tls-cert "$DEMO/tls/server.pem" --tls-key "$DEMO/tls/server.key")
  SCHEME=https SERVER=https://127.0.0.1
fi
setsid python3 "$ROOT/tools/portal.py" --port "$PORT" --log "$DEMO/portal.log" "${TLS_ARGS[@]}" >"$DEMO/portal.port" 2>"$DEMO/portal.err" </dev/null &
PORTAL_PID=$!
for _ in $(seq 100); do [ "$(wc -l <"$DEMO/portal.port")" -ge $((1 + HTTPS)) ] && break; sleep 0.1; done
PORT=$(head -n1 "$DEMO/portal.port" 2>/dev/null)
CONTROL=$PORT
[ "$HTTPS" = 1 ] && CONTROL=$(sed -n 2p "$DEMO/portal.port")
[ -n "$PORT" ] && [ -n "$CONTROL" ] || die "the portal did not start: $(cat "$DEMO/portal.err")"
say "stand-in portal on $SCHEME://127.0.0.1:$PORT/velsa/"
if [ -n "$REPLY" ]; then
  python3 - "$CONTROL" "$REPLY" <<'EOF' || die "the portal refused reply kind $REPLY"
import json, sys, urllib.request
req = urllib.request.Request("http://127.0.0.1:%s/_control/default" % sys.argv[1],
                             data=json.dumps({"kind": sys.argv[2]}).encode(), method="POST")
urllib.request.urlopen(req, timeout=5).read()
EOF
  say "the portal answers every poll with: $REPLY"
fi

# -- prefix -----------------------------------------------------------------
say "making a fresh Wine prefix in $RUN (the first time also its template, about 15 s)"
rm -rf "$RUN"
orlimo_prefix_new "$RUN" >/dev/null || die "making the prefix failed"
export ORLIMO_BROWSER_LOG=$DEMO/browser.log
: >"$ORLIMO_BROWSER_LOG"
eval "$(orlimo_prefix_env "$RUN")"
orlimo_prefix_start "$RUN"
PREFIX_UP=1
# The prefix leaves windows unmanaged, for Xvfb, which has no window
# manager; on your own display, let yours manage them.
[ "$OWN_DISPLAY" = 0 ] && timeout 60 "$WINELOADER" reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1

driver() { timeout 60 "$WINELOADER" "$BUILD/orlimo-driver.exe" "$@" </dev/null 2>/dev/null; }

if [ "$HTTPS" = 1 ]; then
  # The test CA into the prefix's own trusted roots (the registry store
  # that crypt32 reads besides the host's bundle): thumbprint and the
  # certificate property element (id 0x20, 1, length, DER).
  read -r THUMB BLOB < <(python3 -c 'import hashlib,struct,sys; d=open(sys.argv[1],"rb").read(); print(hashlib.sha1(d).hexdigest().upper(), (struct.pack("<III",0x20,1,len(d))+d).hex().upper())' "$DEMO/tls/ca.der")
  timeout 60 "$WINELOADER" reg add "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$THUMB" /v Blob /t REG_BINARY /d "$BLOB" /f >/dev/null 2>&1 ||
    die "the test CA could not be added to the prefix's roots"
  say "the test CA ($DEMO/tls/ca.pem) is trusted in this prefix only"
fi

# -- the program ------------------------------------------------------------
SETUP=$WINEPREFIX/drive_c/setup
mkdir -p "$SETUP"
cp "$BUILD/orlimo.exe" "$SETUP/"
printf 'server=%s\r\nuser_id=1\r\ninterval_time=%s\r\nserver_port=%s\r\nbookmark=门户首页|%s://127.0.0.1:%s/velsa/index.jsp=Wine|%s://127.0.0.1:%s/velsa/wine.jsp\r\n' \
  "$SERVER" "$INTERVAL" "$PORT" "$SCHEME" "$PORT" "$SCHEME" "$PORT" | iconv -f UTF-8 -t GBK >"$SETUP/config.properties" ||
  die "cannot write config.properties"
say "starting orlimo.exe from c:\\setup (config.properties: server $SERVER, port $PORT, interval $INTERVAL)"
(cd "$SETUP" && exec setsid "$WINELOADER" "$SETUP/orlimo.exe" </dev/null >"$DEMO/orlimo.log" 2>&1) &
ORLIMO_PID=$!

if ! driver wait-tray 30000 >"$DEMO/tray.json"; then
  die "no tray icon after 30 s (program output: $DEMO/orlimo.log)"
fi
say "tray icon of the $ARCH program is up: $(cat "$DEMO/tray.json")"
say "portal log:  $DEMO/portal.log"
say "browser log: $ORLIMO_BROWSER_LOG"

shot() {
  if timeout 20 import -display "$DISPLAY" -window root "$1" 2>/dev/null; then
    say "screenshot: $1"
  else
    say "screenshot failed"
  fi
}

if [ "$NO_WAIT" = 1 ]; then
  shot "$DEMO/shot.png"
  # Put the cursor on the icon, as a user's click would, and press there.
  read -r X Y < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))[0]["rect"]; print((r[0]+r[2])//2, (r[1]+r[3])//2)' "$DEMO/tray.json")
  driver cursor "$X" "$Y" >/dev/null
  driver post-tray 0x204 >/dev/null
  if driver wait-menu 10000 >/dev/null; then
    sleep 0.5
    shot "$DEMO/menu.png"
    driver menu-close >/dev/null
  else
    say "the tray menu did not open"
  fi
  if [ "$HTTPS" = 1 ]; then
    # A poll falls due once interval_time has passed (0: every second).
    for _ in $(seq $((INTERVAL * 600 + 100))); do grep -q notifyMsg "$DEMO/portal.log" && break; sleep 0.1; done
    say "the portal's last poll: $(grep notifyMsg "$DEMO/portal.log" | tail -n1)"
    driver post-tray 0x203 >/dev/null  # a double click: the login page
    for _ in $(seq 100); do [ -s "$ORLIMO_BROWSER_LOG" ] && break; sleep 0.1; done
    say "the browser got: $(cat "$ORLIMO_BROWSER_LOG")"
    LOG=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/orlimo/orlimo.log
    if [ -f "$LOG" ]; then say "orlimo.log (failed polls): $(cat "$LOG")"; else say "no failed poll logged"; fi
  fi
  driver post-command 57665 >/dev/null
  for _ in $(seq 150); do kill -0 "$ORLIMO_PID" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$ORLIMO_PID" 2>/dev/null; then say "orlimo.exe did not exit within 15 s"; else ORLIMO_PID=""; say "orlimo.exe exited"; fi
  exit 0
fi

[ "$OWN_DISPLAY" = 1 ] && shot "$DEMO/shot.png"
say "running; click the tray icon (top left of the screen) or press Ctrl+C to stop"
[ "$OWN_DISPLAY" = 1 ] && say "(on the private display $DISPLAY: e.g. DISPLAY=$DISPLAY xdotool mousemove 13 32 click 3)"
while kill -0 "$ORLIMO_PID" 2>/dev/null; do sleep 1; done
ORLIMO_PID=""
say "orlimo.exe has ended"
