#!/usr/bin/env bash
# Fuzzes the core's parsers with libFuzzer: builds the targets of
# tests/fuzz/ (preset fuzz: clang-14, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS on a scratch copy of
# its seed corpus; the committed corpus stays as it is. Prints per target
# the executions, executions per second, the inputs it found new coverage
# with, and its findings: the inputs libFuzzer saved for a crash, a
# sanitizer report, a violated property, a leak, a time-out or running out
# of memory. Ends with a total line and exits non-zero on any finding.
# Logs and findings: build/fuzz-run/<target>/.
# Usage: tools/fuzz.sh [SECONDS]   (default 60 per target)
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

seconds=${1:-60}
case "$seconds" in
  '' | *[!0-9]* | 0) echo "usage: $0 [SECONDS]   (whole seconds per target, default 60)" >&2; exit 2 ;;
esac
targets=(settings favorites reply address)

bash tools/setup.sh >/dev/null || { echo "setup failed"; exit 1; }
mkdir -p build/logs
if ! { cmake --preset fuzz >/dev/null && nice cmake --build --preset fuzz -j2; } \
     >build/logs/build-fuzz.log 2>&1; then
  tail -n 30 build/logs/build-fuzz.log; echo "the fuzz targets did not build"; exit 1
fi

work=build/fuzz-run
rm -rf "$work"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
echo "fuzzing ${#targets[@]} targets for ${seconds} s each, one after the other;" \
     "$(nproc) cores, $(. /etc/os-release && echo "$PRETTY_NAME")"
printf '%-10s %13s %9s %6s %9s\n' target executions execs/s new findings
total_execs=0 total_findings=0 started=$(date +%s)
for t in "${targets[@]}"; do
  dir=$work/$t
  mkdir -p "$dir/corpus" "$dir/findings"
  cp tests/fuzz/corpus/"$t"/* "$dir/corpus/"
  dict=()
  [ -f "tests/fuzz/$t.dict" ] && dict=("-dict=tests/fuzz/$t.dict")
  nice "build/fuzz/tests/fuzz/fuzz_$t" "${dict[@]}" -max_total_time="$seconds" -timeout=25 -entropic_scale_per_exec_time=1 \
    -print_final_stats=1 -artifact_prefix="$dir/findings/" "$dir/corpus" \
    </dev/null >"$dir/log" 2>&1
  rc=$?
  stat() { grep -oE "^stat::$1: +[0-9]+" "$dir/log" | grep -oE '[0-9]+$' | tail -1; }
  execs=$(stat number_of_executed_units)
  # A run that ended on a finding prints no final figures: its last status line.
  [ -n "$execs" ] || execs=$(grep -oE '^#[0-9]+' "$dir/log" | tail -1 | tr -d '#')
  rate=$(stat average_exec_per_sec)
  new=$(stat new_units_added)
  findings=$(find "$dir/findings" -type f | wc -l)
  # Ended badly without saving an input: still a finding.
  [ "$rc" -ne 0 ] && [ "$findings" -eq 0 ] && findings=1
  printf '%-10s %13s %9s %6s %9s\n' "$t" "${execs:-0}" "${rate:--}" "${new:--}" "$findings"
  if [ "$findings" -gt 0 ]; then
    grep -E 'property violated|ERROR: |SUMMARY: |runtime error' "$dir/log" | head -5 | sed 's/^/    /'
    find "$dir/findings" -type f | sed 's/^/    saved: /'
    echo "    log: $dir/log"
  fi
  total_execs=$((total_execs + ${execs:-0}))
  total_findings=$((total_findings + findings))
done
echo "fuzz: $total_execs executions in $(($(date +%s) - started)) s, $total_findings findings"
[ "$total_findings" -eq 0 ]
