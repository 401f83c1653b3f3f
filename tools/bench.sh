#!/usr/bin/env bash
# Benchmark (prints figures, asserts nothing): size and imports of
# orlimo.exe, and the time from process start to the tray icon under Wine
# (median of 10 starts; the first, installing start is not counted).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
bash tools/setup.sh >/dev/null
cmake --preset mingw-i686 >/dev/null && cmake --build --preset mingw-i686 -j2 >/dev/null
EXE=build/mingw-i686/orlimo.exe

size=$(stat -c %s "$EXE")
echo "orlimo.exe: $size bytes ($((size / 1024)) KiB; budget 300 KiB)"
echo "imports: $(i686-w64-mingw32-objdump -p "$EXE" | awk '/DLL Name:/ {print $3}' | tr '\n' ' ')"

source tools/wineprefix.sh
DIR=$ROOT/build/bench
rm -rf "$DIR"; mkdir -p "$DIR/run"
orlimo_prefix_new "$DIR" >/dev/null
eval "$(orlimo_prefix_env "$DIR")"
orlimo_xvfb "$DIR"
XPID=$XVFB_PID
trap 'orlimo_prefix_stop "$DIR"; kill $XPID 2>/dev/null' EXIT
orlimo_prefix_start "$DIR"

cp "$EXE" "$DIR/run/orlimo.exe"
printf 'server=127.0.0.1\r\nuser_id=1\r\ninterval_time=60\r\nserver_port=9\r\nbookmark=\r\n' > "$DIR/run/config.properties"
BT=$(winepath -w "$ROOT/build/mingw-i686/benchtool.exe")
cd "$DIR/run"
wine "$BT" tray-time orlimo.exe >/dev/null   # installs; not counted
times=()
for i in $(seq 10); do
  t=$(wine "$BT" tray-time orlimo.exe | tr -d '\r')
  times+=("$t")
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {
  printf "start to tray icon (ms, 10 starts): min %.0f median %.0f max %.0f\n", a[1], (a[5]+a[6])/2, a[NR] }'
