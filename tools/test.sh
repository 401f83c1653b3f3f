#!/usr/bin/env bash
# Runs every test tier of orlimo and ends with one "N passed, N failed" line:
#   1. unit  - the portable core, native (GoogleTest through CTest)
#   2. win   - the Win32 adapters under Wine (GoogleTest, cross-compiled)
#   3. e2e   - the real orlimo.exe under Wine and Xvfb
# Installs what is missing first (tools/setup.sh), then builds.
# Usage: tools/test.sh [--tier unit|win|e2e]...
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

tiers=()
while [ $# -gt 0 ]; do
  case "$1" in
    --tier) tiers+=("$2"); shift 2 ;;
    *) echo "usage: $0 [--tier unit|win|e2e]..." >&2; exit 2 ;;
  esac
done
[ ${#tiers[@]} -eq 0 ] && tiers=(unit win e2e)
want() { local t; for t in "${tiers[@]}"; do [ "$t" = "$1" ] && return 0; done; return 1; }

bash tools/setup.sh || { echo "setup failed"; exit 1; }

passed=0; failed=0
count() {  # name passed failed
  echo "== $1: $2 passed, $3 failed"
  passed=$((passed + $2)); failed=$((failed + $3))
}
# Counts from a GoogleTest log: "[  PASSED  ] N" and "[  FAILED  ] N tests".
gtest_counts() {
  local log=$1 p f
  p=$(grep -oE '^\[  PASSED  \] [0-9]+' "$log" | grep -oE '[0-9]+$' | tail -1)
  f=$(grep -oE '^\[  FAILED  \] [0-9]+ test' "$log" | grep -oE '[0-9]+' | tail -1)
  echo "${p:-0} ${f:-0}"
}

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2
}

mkdir -p build/logs
if want unit; then
  if build native >build/logs/build-native.log 2>&1; then
    ctest --preset native --output-on-failure 2>&1 | tee build/logs/unit.log | tail -n 3
    p=$(grep -oE '[0-9]+ tests passed' build/logs/unit.log | grep -oE '^[0-9]+' || true)
    total=$(grep -oE 'out of [0-9]+' build/logs/unit.log | grep -oE '[0-9]+$' || true)
    p=${p:-0}; total=${total:-0}
    # ctest prints "100% tests passed, 0 tests failed out of N"
    f=$(grep -oE '[0-9]+ tests failed' build/logs/unit.log | grep -oE '^[0-9]+' || echo 0)
    p=$((total - f))
    count unit "$p" "$f"
  else
    tail -n 30 build/logs/build-native.log; count unit 0 1
  fi
fi

if want win || want e2e; then
  if ! { build mingw-i686 && cmake --preset mingw-i686-tests >/dev/null &&
         cmake --build --preset mingw-i686-tests -j2 --target win_tests; } >build/logs/build-i686.log 2>&1; then
    tail -n 30 build/logs/build-i686.log; echo "i686 build failed"; count build 0 1
    tiers=(unit)
  fi
  # The 64-bit build must stay free of warnings; it is built, not run.
  if build mingw-x86_64 >build/logs/build-x86_64.log 2>&1; then
    if grep -q 'warning:' build/logs/build-x86_64.log; then
      grep 'warning:' build/logs/build-x86_64.log | head; count x86_64-build 0 1
    fi
  else
    tail -n 30 build/logs/build-x86_64.log; count x86_64-build 0 1
  fi
fi

if want win; then
  source tools/wineprefix.sh
  WDIR=build/wintest
  rm -rf "$WDIR"; mkdir -p "$WDIR"
  if orlimo_prefix_template >/dev/null && orlimo_prefix_new "$WDIR" >/dev/null; then
    (
      eval "$(orlimo_prefix_env "$WDIR")"
      disp=:$((70 + RANDOM % 20))
      Xvfb "$disp" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      xpid=$!
      export DISPLAY=$disp
      orlimo_prefix_start "$WDIR" >/dev/null 2>&1
      timeout 600 wine build/mingw-i686-tests/win_tests.exe --gtest_color=no </dev/null >build/logs/win.log 2>&1
      orlimo_prefix_stop "$WDIR" >/dev/null 2>&1
      kill "$xpid" 2>/dev/null
    )
    grep -E '^\[  FAILED  \]|: Failure$' build/logs/win.log | head -20
    read -r p f < <(gtest_counts build/logs/win.log)
    [ "$p" = 0 ] && [ "$f" = 0 ] && { tail -n 20 build/logs/win.log; f=1; }
    count win "$p" "$f"
  else
    echo "could not make a Wine prefix"; count win 0 1
  fi

  # The same tests, built for x86_64, in a 64-bit prefix of their own.
  if [ -f build/mingw-x86_64/win_tests.exe ]; then
    W64=$ROOT/build/wintest64
    rm -rf "$W64"; mkdir -p "$W64/home"
    (
      export HOME=$W64/home WINEPREFIX=$W64/prefix WINEARCH=win64 WINEDEBUG=-all
      export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d' LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
      disp=:$((50 + RANDOM % 10))
      Xvfb "$disp" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      xpid=$!
      export DISPLAY=$disp
      timeout 180 wineboot -i </dev/null >/dev/null 2>&1
      timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        </dev/null >/dev/null 2>&1
      timeout 600 wine build/mingw-x86_64/win_tests.exe --gtest_color=no </dev/null >build/logs/win64.log 2>&1
      timeout 30 wineserver -k >/dev/null 2>&1
      kill "$xpid" 2>/dev/null
    )
    grep -E '^\[  FAILED  \]|: Failure$' build/logs/win64.log | head -20
    read -r p f < <(gtest_counts build/logs/win64.log)
    [ "$p" = 0 ] && [ "$f" = 0 ] && { tail -n 20 build/logs/win64.log; f=1; }
    count win64 "$p" "$f"
  fi
fi

if want e2e; then
  timeout 3600 python3 tests/e2e/run.py </dev/null 2>&1 | tee build/logs/e2e.log | tail -n 40
  line=$(grep -E '^(e2e: )?[0-9]+ passed, [0-9]+ failed' build/logs/e2e.log | tail -1)
  if [ -n "$line" ]; then
    p=$(echo "$line" | grep -oE '[0-9]+ passed' | grep -oE '[0-9]+')
    f=$(echo "$line" | grep -oE '[0-9]+ failed' | grep -oE '[0-9]+')
    count e2e "$p" "$f"
  else
    count e2e 0 1
  fi
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
