# shellcheck shell=bash
# Sourced by the scripts that start programs in the background for a person
# to look at (tools/demo-linux.sh, tools/look-in-panels.sh): each started
# process goes into PIDS, and stop_background ends them, last first.
PIDS=()

stop_background() {
  local i
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[$i]}" 2>/dev/null; done
  wait 2>/dev/null
}

# Waits up to 15 s until the file $1 has a line; prints it.
first_line() {
  local _
  for _ in $(seq 150); do [ -s "$1" ] && head -n1 "$1" && return 0; sleep 0.1; done
  return 1
}
