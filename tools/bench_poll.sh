#!/usr/bin/env bash
# Benchmark (prints figures, asserts nothing): how long one poll blocks the
# user interface under Wine, against a healthy portal, a closed port, a
# silent server and a slow drip (round trip of a message sent to the frame
# while orlimo polls every second), and the program's memory after 10 and
# after 3,000 polls. Measures the build this machine runs: i686 in a 32-bit
# prefix where 32-bit programs run, else x86_64 in a 64-bit one
# (ORLIMO_ARCH chooses).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
SECONDS_PER_CASE=${SECONDS_PER_CASE:-25}
bash tools/setup.sh >/dev/null
source tools/wineprefix.sh
ARCH=$(orlimo_arch)
export ORLIMO_ARCH=$ARCH
B=build/mingw-$ARCH
cmake --preset "mingw-$ARCH" >/dev/null && cmake --build --preset "mingw-$ARCH" -j2 >/dev/null
echo "measuring $B/orlimo.exe (the $ARCH build) in a $( [ "$ARCH" = i686 ] && echo 32 || echo 64)-bit Wine prefix"

DIR=$ROOT/build/bench-poll
rm -rf "$DIR"; mkdir -p "$DIR/run"
orlimo_prefix_new "$DIR" >/dev/null
eval "$(orlimo_prefix_env "$DIR")"
orlimo_xvfb "$DIR"
XPID=$XVFB_PID

python3 tools/portal.py --port 0 --log "$DIR/portal.log" > "$DIR/portal.port" &
PPID_=$!
for _ in $(seq 50); do [ -s "$DIR/portal.port" ] && break; sleep 0.1; done
PORT=$(head -n1 "$DIR/portal.port")
trap 'orlimo_prefix_stop "$DIR"; kill $XPID $PPID_ 2>/dev/null' EXIT
orlimo_prefix_start "$DIR"

control() { curl -s -X POST -d "$2" "http://127.0.0.1:$PORT/_control/$1" >/dev/null 2>&1 ||
            python3 -c "import urllib.request,sys; urllib.request.urlopen(urllib.request.Request(sys.argv[1], data=sys.argv[2].encode(), method='POST'))" \
              "http://127.0.0.1:$PORT/_control/$1" "$2"; }
BT=$("$WINELOADER" winepath -w "$ROOT/$B/benchtool.exe")

run_case() {  # name port reply
  local name=$1 port=$2 reply=$3
  control reset '{}'
  control default "$reply"
  printf 'server=127.0.0.1\r\nuser_id=1\r\ninterval_time=0\r\nserver_port=%s\r\nbookmark=\r\n' "$port" \
    > "$DIR/run/config.properties"
  rm -f "$WINEPREFIX/drive_c/Program Files/orlimo/"*config.properties
  cp "$DIR/run/config.properties" "$WINEPREFIX/drive_c/Program Files/orlimo/config.properties" 2>/dev/null || true
  (cd "$DIR/run" && setsid "$WINELOADER" orlimo.exe </dev/null >/dev/null 2>&1 &)
  for _ in $(seq 100); do "$WINELOADER" "$BT" ui-block 0.01 >/dev/null 2>&1 && break; sleep 0.2; done
  printf '%-22s %s\n' "$name" "$("$WINELOADER" "$BT" ui-block "$SECONDS_PER_CASE" | tr -d '\r')"
  "$WINELOADER" "$ROOT/$B/orlimo-driver.exe" post-command 57665 >/dev/null 2>&1 ||
    pkill -f 'orlimo.exe' || true
  sleep 2
}

cp "$B/orlimo.exe" "$DIR/run/"
CLOSED=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
echo "UI thread blocked by one poll (interval 0: a poll every second; targets: healthy and closed <= 0.1 s, silent and drip <= 9 s):"
run_case "healthy portal" "$PORT" '{"kind":"text","body":"0\r\n"}'
run_case "closed port" "$CLOSED" '{"kind":"text"}'
run_case "silent server" "$PORT" '{"kind":"silent","timeout":30}'
run_case "slow drip" "$PORT" '{"kind":"drip","body":"0000000000000000000000000000000000000000","interval":0.5}'

echo "memory (polls driven through the frame's poll tick, healthy portal):"
control reset '{}'
control default '{"kind":"text","body":"0\r\n"}'
printf 'server=127.0.0.1\r\nuser_id=1\r\ninterval_time=0\r\nserver_port=%s\r\nbookmark=\r\n' "$PORT" > "$DIR/run/config.properties"
rm -f "$WINEPREFIX/drive_c/Program Files/orlimo/"*config.properties
(cd "$DIR/run" && setsid "$WINELOADER" orlimo.exe </dev/null >/dev/null 2>&1 &)
for _ in $(seq 100); do "$WINELOADER" "$BT" ui-block 0.01 >/dev/null 2>&1 && break; sleep 0.2; done
echo "  after 10:    $("$WINELOADER" "$BT" polls 10 | tr -d '\r')"
echo "  after 3000:  $("$WINELOADER" "$BT" polls 2990 | tr -d '\r')"
echo "  portal saw $(grep -c notifyMsg "$DIR/portal.log") queries"
