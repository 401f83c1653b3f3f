#!/usr/bin/env bash
# Benchmark (prints figures, asserts nothing): size and imports of both
# builds of orlimo.exe, and the time from process start to the tray icon
# under Wine (median of 10 starts; the first, installing start is not
# counted) of the build this machine runs: i686 in a 32-bit prefix where
# 32-bit programs run, else x86_64 in a 64-bit one (ORLIMO_ARCH chooses).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
bash tools/setup.sh >/dev/null
source tools/wineprefix.sh
ARCH=$(orlimo_arch)
export ORLIMO_ARCH=$ARCH

for arch in i686 x86_64; do
  cmake --preset "mingw-$arch" >/dev/null && cmake --build --preset "mingw-$arch" -j2 >/dev/null
  exe=build/mingw-$arch/orlimo.exe
  size=$(stat -c %s "$exe")
  budget=""; [ "$arch" = i686 ] && budget="; budget 344 KiB"
  echo "orlimo.exe ($arch): $size bytes ($((size / 1024)) KiB$budget)"
  echo "  imports: $("$arch-w64-mingw32-objdump" -p "$exe" | awk '/DLL Name:/ {print $3}' | tr '\n' ' ')"
done

DIR=$ROOT/build/bench
rm -rf "$DIR"; mkdir -p "$DIR/run"
orlimo_prefix_new "$DIR" >/dev/null
eval "$(orlimo_prefix_env "$DIR")"
orlimo_xvfb "$DIR"
XPID=$XVFB_PID
trap 'orlimo_prefix_stop "$DIR"; kill $XPID 2>/dev/null' EXIT
orlimo_prefix_start "$DIR"

cp "build/mingw-$ARCH/orlimo.exe" "$DIR/run/orlimo.exe"
printf 'server=127.0.0.1\r\nuser_id=1\r\ninterval_time=60\r\nserver_port=9\r\nbookmark=\r\n' > "$DIR/run/config.properties"
BT=$("$WINELOADER" winepath -w "$ROOT/build/mingw-$ARCH/benchtool.exe")
cd "$DIR/run"
"$WINELOADER" "$BT" tray-time orlimo.exe >/dev/null   # installs; not counted
times=()
for i in $(seq 10); do
  t=$("$WINELOADER" "$BT" tray-time orlimo.exe | tr -d '\r')
  times+=("$t")
done
printf '%s\n' "${times[@]}" | sort -n | awk -v what="the $ARCH build in a $WINEARCH prefix" '{a[NR]=$1} END {
  printf "start to tray icon, %s (ms, 10 starts): min %.0f median %.0f max %.0f\n", what, a[1], (a[5]+a[6])/2, a[NR] }'
