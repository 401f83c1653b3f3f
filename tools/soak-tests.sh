#!/usr/bin/env bash
# Runs tests again and again, each time from a fresh clone of the committed
# HEAD, to show that they never fail by chance. Not part of the test command.
#
#   tools/soak-tests.sh [--whole | --tier TIER]... N
#
# By default each run is the end-to-end tier (tools/test.sh --tier e2e, both
# architectures where this machine runs them); --whole runs the whole test
# command; --tier picks other tiers. For every run it prints the closing
# line, each failing tier and test with its first error line, and at the
# end how many runs failed. Clones and logs are kept in
# ${ORLIMO_SOAK_DIR:-/tmp/orlimo-soak}/run-K/ (the clone is removed after a
# passing run, its log is kept).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

tiers=() whole=0 n=""
while [ $# -gt 0 ]; do
  case "$1" in
    --whole) whole=1; shift ;;
    --tier) tiers+=(--tier "${2:?--tier needs a name}"); shift 2 ;;
    [0-9]*) n=$1; shift ;;
    *) echo "usage: $0 [--whole | --tier TIER]... N" >&2; exit 2 ;;
  esac
done
[ -n "$n" ] && [ "$n" -ge 1 ] 2>/dev/null || { echo "usage: $0 [--whole | --tier TIER]... N" >&2; exit 2; }
[ "$whole" = 0 ] && [ ${#tiers[@]} -eq 0 ] && tiers=(--tier e2e)
[ "$whole" = 1 ] && tiers=()

base=${ORLIMO_SOAK_DIR:-/tmp/orlimo-soak}
mkdir -p "$base"
head=$(git -C "$ROOT" rev-parse HEAD)
what=$([ "$whole" = 1 ] && echo "the whole test command" || echo "tools/test.sh ${tiers[*]}")
echo "soak: $n runs of $what at ${head:0:7}, from fresh clones in $base"

failed_runs=0
for k in $(seq "$n"); do
  dir=$base/run-$k log=$base/run-$k.log
  rm -rf "$dir"
  # Every run tests the commit the soak started at, whatever HEAD is now.
  if ! git clone -q "$ROOT" "$dir" || ! git -C "$dir" checkout -q "$head"; then
    echo "run $k: git clone failed"; failed_runs=$((failed_runs + 1)); continue
  fi
  start=$(date +%s)
  (cd "$dir" && bash tools/test.sh "${tiers[@]}") </dev/null >"$log" 2>&1
  rc=$?
  took=$(( $(date +%s) - start ))
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
  echo "run $k: ${summary:-no closing line} (exit $rc, $((took / 60)) min $((took % 60)) s)"
  # The tiers that failed, then each failing test with its first error line.
  grep -E '^== .*: [0-9]+ passed, [1-9][0-9]* failed' "$log" | sed 's/^/  tier /'
  for tlog in "$dir"/build/logs/e2e-*.log "$dir"/build/logs/linux.log; do
    [ -f "$tlog" ] || continue
    tname=$(basename "$tlog" .log)
    # A report is "===== FAIL|ERROR name", then a traceback whose first
    # unindented line after "Traceback" is the error itself.
    awk -v tier="$tname" '
      /^===== (FAIL|ERROR) / { name = $3; want = 1; next }
      want && /^Traceback/ { next }
      want && /^[^ \t]/ { print "  " tier " " name ": " substr($0, 1, 300); want = 0 }
    ' "$tlog"
    grep -E '^KNOWN STATE|^DRIVER RETRY' "$tlog" | sed "s/^/  $tname /"
  done
  grep -hE '^FAIL' "$dir"/build/logs/release.log 2>/dev/null | sed 's/^/  release /'
  grep -hE '^\[  FAILED  \] [A-Za-z]' "$dir"/build/logs/win-*.log 2>/dev/null | sort -u | sed 's/^/  win /'
  if [ "$rc" -ne 0 ] || [ -z "$summary" ]; then
    failed_runs=$((failed_runs + 1))
  else
    rm -rf "$dir"
  fi
done
echo "soak: $failed_runs of $n runs failed"
[ "$failed_runs" -eq 0 ]
