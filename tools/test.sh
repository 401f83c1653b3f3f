#!/usr/bin/env bash
# Runs every test tier of orlimo and ends with one "N passed, N failed" line:
#   build - the program of each architecture (i686, x86_64) builds free of
#           warnings and it and its custom-action DLL import KnownDLLs only; the i686
#           program keeps to its size budget; clang builds the x86_64
#           program and its Win32 tests free of warnings too
#   unit  - the portable core, native (GoogleTest through CTest)
#   asan  - the unit tests again, built with AddressSanitizer and
#           UndefinedBehaviorSanitizer (clang-14); the first report fails
#   fuzz  - each fuzz target of tests/fuzz/ replays its committed corpus,
#           built with the same sanitizers (tools/fuzz.sh fuzzes)
#   win   - the Win32 adapters under Wine (GoogleTest, cross-compiled)
#   release - tools/release.sh with a throwaway signing certificate: the
#           programs and installer packages, checksums, signatures, the
#           released programs' and custom-action DLLs' imports
#   e2e   - the real orlimo.exe under Wine and Xvfb, its installer package
#           under Wine's msiexec
#   linux - the Linux front end (preset linux) and its .deb, black box under
#           Xvfb with a private session bus (tests/linux/run.py)
#   linux-qt5 - the same for the Qt 5 build (preset linux-qt5)
#   linux-arm64 - the same for the arm64 build (preset linux-arm64, cross-
#           compiled), its program run under qemu-user
# The win and e2e tiers run the i686 build in a 32-bit prefix and the x86_64
# build in a 64-bit prefix, each where this machine's Wine can run it: some
# machines cannot execute 32-bit programs at all, and there only the x86_64
# build runs (the line before the last says which ran and why).
# The Linux tiers' tests run beside the win and e2e tiers, and their lines
# come last. A tier that runs no test counts as failed.
# Installs what is missing first (tools/setup.sh), then builds.
# Usage: tools/test.sh [--tier build|unit|asan|fuzz|win|release|e2e|linux|linux-qt5|linux-arm64]...
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

tiers=()
args=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --tier) tiers+=("${2:-}"); shift 2 || shift ;;
    *) echo "usage: $0 [--tier build|unit|asan|fuzz|win|release|e2e|linux|linux-qt5|linux-arm64]..." >&2; exit 2 ;;
  esac
done
[ ${#tiers[@]} -eq 0 ] && tiers=(build unit asan fuzz win release e2e linux linux-qt5 linux-arm64)
want() { local t; for t in "${tiers[@]}"; do [ "$t" = "$1" ] && return 0; done; return 1; }

# Install what is missing, then start again in a new shell: a process that
# started before the zh_CN.UTF-8 locale existed cannot switch to it later
# (the C library keeps the locale archive it found at its first look).
if [ -z "${ORLIMO_SETUP_RAN:-}" ]; then
  bash tools/setup.sh || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }
  ORLIMO_SETUP_RAN=1 exec bash "$ROOT/tools/test.sh" "${args[@]}"
fi

# shellcheck source=tools/wineprefix.sh
source tools/wineprefix.sh
mkdir -p build/logs
mapfile -t arches < <(orlimo_arches 2>build/logs/arches.txt)
no32=$(cat build/logs/arches.txt)

passed=0; failed=0
count() {  # name passed failed; a tier that ran nothing counts as failed
  local p=$2 f=$3
  if [ $((p + f)) -eq 0 ]; then echo "$1: no test ran"; f=1; fi
  echo "== $1: $p passed, $f failed"
  passed=$((passed + p)); failed=$((failed + f))
}
# Counts from a GoogleTest log: "[  PASSED  ] N" and "[  FAILED  ] N tests".
gtest_counts() {
  local log=$1 p f
  p=$(grep -oE '^\[  PASSED  \] [0-9]+' "$log" | grep -oE '[0-9]+$' | tail -1)
  f=$(grep -oE '^\[  FAILED  \] [0-9]+ test' "$log" | grep -oE '[0-9]+' | tail -1)
  echo "${p:-0} ${f:-0}"
}

# count_summary NAME LOG PREFIX: counts the last "PREFIX: N passed, N failed"
# line of LOG (none: one failure).
count_summary() {
  local line
  line=$(grep -E "^$3: [0-9]+ passed, [0-9]+ failed" "$2" | tail -1)
  if [ -z "$line" ]; then count "$1" 0 1; return 1; fi
  count "$1" "$(echo "$line" | grep -oE '[0-9]+ passed' | grep -oE '[0-9]+')" \
             "$(echo "$line" | grep -oE '[0-9]+ failed' | grep -oE '[0-9]+')"
}

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2
}

# Raised from 300 KiB when the program learnt to follow the shared settings
# file, to read and write an editor's UTF-8 files and to load WinINet from
# the system folder (about 9 KiB), and from 320 KiB when it learnt Group
# Policy, the limits on administrators' values, the second start's balloon
# and elevated autorun, and holding prompts over a full-screen window
# (about 15 KiB); it is there to catch a runaway (a library's whole
# demangler, say), not to forbid features.
SIZE_BUDGET_I686=$((344 * 1024))

# check_program ARCH: the program's own build, its warnings, imports and
# size. The program and the custom-action DLL import KnownDLLs only (any
# other DLL would be looked for beside them first; tests/release/imports.py).
check_program() {
  local arch=$1 log=build/logs/build-$1.log exe=build/mingw-$1/orlimo.exe p=0 f=0
  if ! build "mingw-$arch" >"$log" 2>&1; then
    tail -n 30 "$log"; echo "the $arch build failed"; count "build-$arch" 0 1; return 1
  fi
  if grep -q 'warning:' "$log"; then
    grep 'warning:' "$log" | head; echo "the $arch build has warnings"; f=$((f + 1))
  else p=$((p + 1)); fi
  if python3 tests/release/imports.py "$exe" "build/mingw-$arch/orlimo-setup.dll"; then p=$((p + 1))
  else f=$((f + 1)); fi
  if [ "$arch" = i686 ]; then
    local size; size=$(stat -c %s "$exe")
    if [ "$size" -gt "$SIZE_BUDGET_I686" ]; then
      echo "$exe: $size bytes, over its budget of $SIZE_BUDGET_I686"; f=$((f + 1))
    else p=$((p + 1)); fi
  fi
  count "build-$arch" "$p" "$f"
  [ "$f" -eq 0 ]
}

# Which builds this run can test under Wine.
wine_arches=()
if want build || want win || want e2e; then
  for arch in i686 x86_64; do
    ok=1
    check_program "$arch" || ok=0
    runs=0; for a in "${arches[@]}"; do [ "$a" = "$arch" ] && runs=1; done
    if [ "$runs" = 1 ] && want win; then
      if ! { cmake --preset "mingw-$arch-tests" >/dev/null &&
             cmake --build --preset "mingw-$arch-tests" -j2 --target win_tests; } \
             >"build/logs/build-$arch-tests.log" 2>&1; then
        tail -n 30 "build/logs/build-$arch-tests.log"; count "build-$arch-tests" 0 1; ok=0
      fi
    fi
    [ "$runs" = 1 ] && [ "$ok" = 1 ] && wine_arches+=("$arch")
  done
fi

# A second compiler: clang for x86_64-w64-mingw32 builds the program and its
# Win32 tests free of warnings too (they are built, not run).
if want build; then
  if build clang-x86_64 >build/logs/build-clang.log 2>&1; then
    if grep -q 'warning:' build/logs/build-clang.log; then
      grep 'warning:' build/logs/build-clang.log | head; count build-clang 0 1
    else
      count build-clang 1 0
    fi
  else
    tail -n 30 build/logs/build-clang.log; count build-clang 0 1
  fi
fi

if want unit; then
  if build native >build/logs/build-native.log 2>&1; then
    ctest --preset native --output-on-failure 2>&1 | tee build/logs/unit.log | tail -n 3
    # ctest prints "100% tests passed, 0 tests failed out of N"
    total=$(grep -oE 'out of [0-9]+' build/logs/unit.log | grep -oE '[0-9]+$' || true)
    f=$(grep -oE '[0-9]+ tests failed' build/logs/unit.log | grep -oE '^[0-9]+' || true)
    total=${total:-0}; f=${f:-0}
    count unit $((total - f)) "$f"
  else
    tail -n 30 build/logs/build-native.log; count unit 0 1
  fi
fi

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer: a
# report ends its test at once (-fno-sanitize-recover=all, halt_on_error=1
# from the native-asan test preset), and that test fails.
if want asan; then
  if build native-asan >build/logs/build-native-asan.log 2>&1; then
    ctest --preset native-asan --output-on-failure 2>&1 | tee build/logs/asan.log | tail -n 3
    grep -E 'runtime error|ERROR: (Address|Leak)Sanitizer' build/logs/asan.log | head -5
    total=$(grep -oE 'out of [0-9]+' build/logs/asan.log | grep -oE '[0-9]+$' || true)
    f=$(grep -oE '[0-9]+ tests failed' build/logs/asan.log | grep -oE '^[0-9]+' || true)
    total=${total:-0}; f=${f:-0}
    count asan $((total - f)) "$f"
  else
    tail -n 30 build/logs/build-native-asan.log; count asan 0 1
  fi
fi

# Each fuzz target runs every input of its committed corpus once, built with
# the sanitizers; an input passes when the target neither crashes nor finds
# a property violated. Fuzzing itself (minutes) is tools/fuzz.sh.
if want fuzz; then
  if build fuzz >build/logs/build-fuzz.log 2>&1; then
    for t in settings favorites reply address; do
      log=build/logs/fuzz-$t.log
      UBSAN_OPTIONS=print_stacktrace=1 "build/fuzz/tests/fuzz/fuzz_$t" tests/fuzz/corpus/"$t"/* \
        </dev/null >"$log" 2>&1
      rc=$? p=$(grep -c '^Executed ' "$log") f=0
      if [ "$rc" -ne 0 ]; then
        grep -E 'property violated|runtime error|ERROR: |^Running: ' "$log" | tail -3; f=1
      fi
      count "fuzz-$t" "$p" "$f"
    done
  else
    tail -n 30 build/logs/build-fuzz.log; count fuzz 0 1
  fi
fi

skipped=""
if want release; then
  bash tests/release/run.sh </dev/null >build/logs/release.log 2>&1
  grep -E '^FAIL' build/logs/release.log
  count_summary release build/logs/release.log release || tail -n 20 build/logs/release.log
  note=$(grep -m1 '^release: the arm64 package was not made' build/logs/release.log)
  [ -n "$note" ] && skipped="$skipped; ${note#release: }"
fi

# The Linux front end: its build and package (here, after the release tier,
# which builds two of the same folders and stamps them for its run), then its
# black-box tests (Debian's python3, which has the D-Bus and AT-SPI bindings);
# for Qt 6, Qt 5 and the arm64 build, which runs under qemu-user. The three
# test runs go one after the other, beside the Win32 and end-to-end tiers:
# each has its own display and bus, and most of their time is spent waiting
# for a desktop or a program to start.
linux_built=()
for preset in linux linux-qt5 linux-arm64; do
  want "$preset" || continue
  # Its packages come from Debian's arm64 index, which tools/setup.sh may
  # not have got (a mirror mid-sync): then the tier cannot run, and says so.
  if [ "$preset" = linux-arm64 ] &&
     ! dpkg-query -W -f='${Status}' qt6-base-dev:arm64 2>/dev/null | grep -q "ok installed"; then
    skipped="$skipped; linux-arm64 did not run: qt6-base-dev:arm64 is not installed (see tools/setup.sh's output)"
    echo "== linux-arm64: did not run (no arm64 packages)"
    continue
  fi
  if { build "$preset" && cmake --build --preset "$preset" -j2 --target package; } \
       >"build/logs/build-$preset.log" 2>&1; then
    linux_built+=("$preset")
  else
    tail -n 30 "build/logs/build-$preset.log"; echo "the $preset build failed"; count "$preset" 0 1
  fi
done
linux_pid=""
if [ ${#linux_built[@]} -gt 0 ]; then
  (
    for preset in "${linux_built[@]}"; do
      ORLIMO_LINUX_BUILD=$ROOT/build/$preset timeout -k 10 900 /usr/bin/python3 tests/linux/run.py \
        </dev/null >"build/logs/$preset.log" 2>&1
    done
  ) &
  linux_pid=$!
fi

if want win; then
  for arch in "${wine_arches[@]}"; do
    dir=$ROOT/build/wintest-$arch log=build/logs/win-$arch.log
    rm -rf "$dir"; mkdir -p "$dir"; : >"$log"
    if ORLIMO_ARCH=$arch orlimo_prefix_new "$dir" >/dev/null; then
      (
        eval "$(orlimo_prefix_env "$dir")"
        orlimo_xvfb "$dir" || exit 1
        orlimo_prefix_start "$dir" >/dev/null 2>&1
        # Wine's 64-bit loader now and then ends a program before it runs
        # (exit 1, nothing printed; see the design notes): a run that wrote
        # nothing at all is started again, at most twice, and says so.
        for try in 1 2 3; do
          timeout -k 10 600 "$WINELOADER" "build/mingw-$arch-tests/win_tests.exe" --gtest_color=no \
            </dev/null >"$log" 2>&1
          rc=$?
          [ -s "$log" ] && break
          echo "win-$arch: win_tests.exe ended (exit $rc) before it started; again" >&2
        done
        orlimo_prefix_stop "$dir" >/dev/null 2>&1
        kill "$XVFB_PID" 2>/dev/null
      )
      grep -E '^\[  FAILED  \]|: Failure$' "$log" | head -20
      read -r p f < <(gtest_counts "$log")
      [ "$p" = 0 ] && [ "$f" = 0 ] && tail -n 20 "$log"
      count "win-$arch" "$p" "$f"
    else
      echo "could not make a Wine prefix for $arch"; count "win-$arch" 0 1
    fi
  done
fi

# The architectures' end-to-end runs go side by side: each has its own
# display, prefixes and portals, and most of their time is spent waiting.
if want e2e; then
  pids=()
  for arch in "${wine_arches[@]}"; do
    timeout -k 10 3600 python3 tests/e2e/run.py --arch "$arch" </dev/null >"build/logs/e2e-$arch.log" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid"; done
  for arch in "${wine_arches[@]}"; do
    log=build/logs/e2e-$arch.log
    # Its failures in full, then its closing lines.
    sed -n '/^===== /,$p' "$log" | head -n 150
    grep -E '^e2e: ' "$log" | tail -n 2
    count_summary "e2e-$arch" "$log" e2e
  done
fi

# The Linux tiers' closing lines, once they have ended.
if [ -n "$linux_pid" ]; then
  wait "$linux_pid"
  for preset in "${linux_built[@]}"; do
    log=build/logs/$preset.log
    echo "-- $preset, its closing lines:"; tail -n 25 "$log"
    count_summary "$preset" "$log" linux
  done
fi

# Which builds ran under Wine, and why one did not.
if want win || want e2e; then
  line="" why=""
  for arch in i686 x86_64; do
    case " ${wine_arches[*]} " in
      *" $arch "*)
        line="${line:+$line and }$arch (in a $([ $arch = i686 ] && echo 32 || echo 64)-bit prefix)" ;;
      *)
        if [ "$arch" = i686 ] && [ -n "$no32" ]; then why="$why; $arch did not run: $no32"
        else why="$why; $arch did not run: its build failed"; fi ;;
    esac
  done
  if want e2e; then label="end to end"; else label="Win32 tests"; fi
  echo "$label: ${line:-nothing}$why"
fi
[ -n "$skipped" ] && echo "${skipped#; }"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
