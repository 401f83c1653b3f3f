#!/usr/bin/env bash
# Benchmark (prints figures, asserts nothing): how long the user interface
# waits while polls run under Wine (round trip of a message sent to the
# frame, sampled every 20 ms), at interval_time 0 (a poll every second) and
# 1 (a poll a minute), against a healthy portal, a closed port, a silent
# server, a slow drip, an endless body and a connection reset; the fewest
# and most threads of the program meanwhile; and its memory after 10 and
# after 3,000 polls. Measures the build this machine runs: i686 in a 32-bit
# prefix where 32-bit programs run, else x86_64 in a 64-bit one
# (ORLIMO_ARCH chooses).
#   SECONDS_PER_CASE  sampling time at interval 0 (default 25; interval 1
#                     takes 70 s a case, so that a poll falls inside)
#   INTERVALS         the intervals to measure (default "0 1")
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
SECONDS_PER_CASE=${SECONDS_PER_CASE:-25}
INTERVALS=${INTERVALS:-0 1}
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

control() { python3 -c "import urllib.request,sys; urllib.request.urlopen(urllib.request.Request(sys.argv[1], data=sys.argv[2].encode(), method='POST'))" \
              "http://127.0.0.1:$PORT/_control/$1" "$2"; }
queries() { grep -c notifyMsg "$DIR/portal.log" || true; }
BT=$("$WINELOADER" winepath -w "$ROOT/$B/benchtool.exe")
bt() { "$WINELOADER" "$BT" "$@" | tr -d '\r'; }

start_orlimo() {  # interval port
  printf 'server=127.0.0.1\r\nuser_id=1\r\ninterval_time=%s\r\nserver_port=%s\r\nbookmark=\r\n' "$1" "$2" \
    > "$DIR/run/config.properties"
  rm -f "$WINEPREFIX/drive_c/Program Files/orlimo/"*config.properties
  cp "$DIR/run/config.properties" "$WINEPREFIX/drive_c/Program Files/orlimo/config.properties" 2>/dev/null || true
  (cd "$DIR/run" && setsid "$WINELOADER" orlimo.exe </dev/null >/dev/null 2>&1 &)
  for _ in $(seq 100); do bt ui-block 0.01 >/dev/null 2>&1 && break; sleep 0.2; done
}
stop_orlimo() {
  "$WINELOADER" "$ROOT/$B/orlimo-driver.exe" post-command 57665 >/dev/null 2>&1 || pkill -f 'orlimo.exe' || true
  sleep 2
}

run_case() {  # interval name port reply
  local interval=$1 name=$2 port=$3 reply=$4 secs=$SECONDS_PER_CASE before
  [ "$interval" != 0 ] && secs=70
  control reset '{}'
  control default "$reply"
  before=$(queries)
  start_orlimo "$interval" "$port"
  printf '  %-16s %s, %s queries\n' "$name" "$(bt ui-block "$secs")" "$(( $(queries) - before ))"
  stop_orlimo
}

cp "$B/orlimo.exe" "$DIR/run/"
CLOSED=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
echo "user interface round trip while polls run (target: max <= 100 ms everywhere), threads of the program:"
for interval in $INTERVALS; do
  echo " interval_time $interval:"
  run_case "$interval" "healthy portal" "$PORT" '{"kind":"text","body":"0\r\n"}'
  run_case "$interval" "closed port" "$CLOSED" '{"kind":"text"}'
  run_case "$interval" "silent server" "$PORT" '{"kind":"silent","timeout":30}'
  run_case "$interval" "slow drip" "$PORT" '{"kind":"drip","body":"0000000000000000000000000000000000000000","interval":0.5}'
  run_case "$interval" "endless body" "$PORT" '{"kind":"endless","timeout":30}'
  run_case "$interval" "reset" "$PORT" '{"kind":"reset"}'
done

echo "memory (poll ticks driven through the frame as fast as polls answer, healthy portal):"
control reset '{}'
control default '{"kind":"text","body":"0\r\n"}'
start_orlimo 0 "$PORT"
before=$(queries)
for target in 10 3000; do
  while [ $(( $(queries) - before )) -lt $target ]; do line=$(bt ticks 0.05); [ $target = 10 ] || line=$(bt ticks 10); done
  echo "  after $(( $(queries) - before )) polls: working set $(echo "$line" | sed -E 's/.*working_set_kb [0-9]+ -> ([0-9]+).*/\1/') KiB"
done
stop_orlimo
