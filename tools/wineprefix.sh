#!/usr/bin/env bash
# Fresh Wine prefixes for orlimo's tests, demo and benchmarks.
#
# A prefix is made once from scratch (wineboot -i, a few registry settings),
# archived as build/e2e/prefix-template-ARCH.tar.zst and then restored into
# a new folder for every test group in about two seconds. ARCH is the
# program's architecture: i686 runs in a 32-bit (win32) prefix, x86_64 in a
# 64-bit (win64) one. It comes from ORLIMO_ARCH, else it is the first one
# this machine runs (see "arches").
#
# Commands (or source this file and call the functions of the same name):
#
#   tools/wineprefix.sh arches              the architectures whose programs
#                                            this machine's Wine runs, one a
#                                            line, i686 first; on stderr why
#                                            i686 is missing
#   tools/wineprefix.sh template [--force]  build the archive unless it is
#                                            current; prints its path
#   tools/wineprefix.sh new DIR             restore the template into DIR
#                                            (DIR/home is HOME, DIR/prefix is
#                                            WINEPREFIX, DIR/arch the ARCH)
#   tools/wineprefix.sh env DIR             print the environment for DIR as
#                                            shell assignments (eval them)
#   tools/wineprefix.sh start DIR           start DIR's wineserver (persistent)
#                                            and its background services,
#                                            detached from this shell's pipes
#   tools/wineprefix.sh stop DIR            end DIR's wineserver and every
#                                            Wine process of that prefix only
#   tools/wineprefix.sh run DIR PROG ARGS   run a Wine program in DIR's prefix
#
# Wine's loaders are called by their full paths, never as /usr/bin/wine:
# that wrapper picks the 32-bit loader whenever wine32 is installed, even
# where 32-bit programs cannot run. The environment of a prefix names its
# loader as WINELOADER; run programs as "$WINELOADER" PROGRAM.
#
# The environment of every Wine process: WINEARCH and WINELOADER of the
# prefix's ARCH, WINEDEBUG=-all, no Mono/Gecko/menu builder, LANG and
# LC_ALL zh_CN.UTF-8 (ANSI code page 936), HOME inside DIR, tools/ on PATH
# so that winebrowser finds the stand-in browser tools/test-browser.
# DISPLAY is passed through as set.

ORLIMO_ROOT=${ORLIMO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
ORLIMO_E2E_DIR=${ORLIMO_E2E_DIR:-$ORLIMO_ROOT/build/e2e}
ORLIMO_DLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
ORLIMO_WINE32=${ORLIMO_WINE32:-/usr/lib/wine/wine}
ORLIMO_WINE64=${ORLIMO_WINE64:-/usr/lib/wine/wine64}

# Succeeds when this machine can start the 32-bit Wine loader; otherwise
# says why on stderr. Decided by trying, since some machines of one kind
# cannot execute 32-bit programs at all.
orlimo_runs_32bit() {
  local out rc
  out=$(timeout -k 5 30 "$ORLIMO_WINE32" --version 2>&1 </dev/null)
  rc=$?
  [ $rc = 0 ] && return 0
  case $rc in
    124|137) out="no answer within 30 s" ;;
    1[2-9][0-9]) out="ended by signal $((rc - 128))${out:+: $out}" ;;
  esac
  echo "the 32-bit Wine loader does not start here ($ORLIMO_WINE32 --version: ${out:-exit $rc})" >&2
  return 1
}

orlimo_arches() {
  orlimo_runs_32bit && echo i686
  echo x86_64
}

# ORLIMO_ARCH, or the first architecture this machine runs.
orlimo_arch() {
  if [ -n "${ORLIMO_ARCH:-}" ]; then
    echo "$ORLIMO_ARCH"
  else
    orlimo_arches 2>/dev/null | head -n1
  fi
}

_orlimo_winearch() {
  case "$1" in
    i686) echo win32 ;;
    x86_64) echo win64 ;;
    *) echo "wineprefix: unknown architecture '$1' (i686 or x86_64)" >&2; return 1 ;;
  esac
}

_orlimo_loader() {
  case "$1" in
    i686) echo "$ORLIMO_WINE32" ;;
    *) echo "$ORLIMO_WINE64" ;;
  esac
}

_orlimo_template() { echo "$ORLIMO_E2E_DIR/prefix-template-$1.tar.zst"; }

# Registry settings of the template. Bump the version when this changes: the
# stamp records it and a mismatch rebuilds the template.
# Xvfb runs no window manager: Wine would wait 2 s for one each time a
# managed top-level window is hidden (the stand-alone tray's window when its
# last icon goes, at every exit). Unmanaged, Wine places and draws the
# windows itself, as Windows does.
ORLIMO_TEMPLATE_VERSION=5
orlimo_template_reg() {
  cat <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\WineBrowser]
"Browsers"="test-browser"

[HKEY_CURRENT_USER\Software\Wine\DllOverrides]
"mscoree"=""
"mshtml"=""
"winemenubuilder.exe"=""

EOF
}

# Prints the environment of a prefix folder as shell assignments; the
# architecture is the folder's own (DIR/arch), else orlimo_arch.
orlimo_prefix_env() {
  local dir arch winearch
  dir=$(cd "$1" && pwd) || return 1
  if [ -s "$dir/arch" ]; then arch=$(cat "$dir/arch"); else arch=$(orlimo_arch); fi
  winearch=$(_orlimo_winearch "$arch") || return 1
  printf 'export HOME=%q\n' "$dir/home"
  printf 'export WINEPREFIX=%q\n' "$dir/prefix"
  printf 'export ORLIMO_ARCH=%q WINEARCH=%q WINELOADER=%q\n' "$arch" "$winearch" "$(_orlimo_loader "$arch")"
  printf 'export WINEDEBUG=%q\n' "${ORLIMO_WINEDEBUG:--all}"
  printf 'export WINEDLLOVERRIDES=%q\n' "$ORLIMO_DLLOVERRIDES"
  printf 'export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8\n'
  printf 'unset LC_CTYPE LANGUAGE XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR\n'
  printf 'export ORLIMO_BROWSER_LOG=%q\n' "${ORLIMO_BROWSER_LOG:-$dir/browser.log}"
  case ":$PATH:" in
    *":$ORLIMO_ROOT/tools:"*) ;;
    *) printf 'export PATH=%q\n' "$ORLIMO_ROOT/tools:$PATH" ;;
  esac
}

# What a template was made with: Wine's version, the template version, the
# architecture, and whether 32-bit programs ran. A 64-bit prefix booted
# where they cannot run has no 32-bit parts (its syswow64 stays empty), and
# an x86 package's custom actions then have nothing to run in; so a
# template made before 32-bit Wine arrived (or under tools/without-32bit)
# is not current once it runs, nor the other way round.
_orlimo_stamp_text() {
  local bits=32-bit
  orlimo_runs_32bit 2>/dev/null || bits=no-32-bit
  printf '%s template %s %s %s\n' "$("$ORLIMO_WINE64" --version 2>/dev/null)" "$ORLIMO_TEMPLATE_VERSION" "$1" "$bits"
}

# Runs a command with a time limit; never lets a Wine step hang the caller.
_orlimo_bounded() {
  local secs=$1; shift
  timeout -k 5 "$secs" "$@"
}

orlimo_prefix_template() {
  local force=0 arch template
  [ "${1:-}" = "--force" ] && force=1
  arch=$(orlimo_arch)
  _orlimo_winearch "$arch" >/dev/null || return 1
  template=$(_orlimo_template "$arch")
  mkdir -p "$ORLIMO_E2E_DIR"
  (
    # One builder at a time; others wait and then find the template current.
    exec 9>"$template.lock"
    flock -w 300 9 || { echo "wineprefix: template lock busy" >&2; exit 1; }
    local stamp
    stamp=$(_orlimo_stamp_text "$arch")
    if [ $force = 0 ] && [ -s "$template" ] && [ -f "$template.stamp" ] &&
       [ "$(cat "$template.stamp")" = "$stamp" ]; then
      exit 0
    fi
    set -e
    local work log xvfb_pid="" start
    start=$(date +%s)
    work=$(mktemp -d "$ORLIMO_E2E_DIR/template-build.XXXXXX")
    log=$ORLIMO_E2E_DIR/prefix-template-$arch.log
    : > "$log"
    mkdir -p "$work/home"
    echo "$arch" > "$work/arch"
    eval "$(orlimo_prefix_env "$work")"
    # wineboot wants a display for its first start; use a private one.
    # (Children get no copy of the lock's descriptor 9: a lingering Wine
    # service must not hold the lock.)
    Xvfb -displayfd 7 -nolisten tcp -screen 0 1024x768x24 7>"$work/display" 9>&- </dev/null >>"$log" 2>&1 &
    xvfb_pid=$!
    local i
    for i in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.2; done
    [ -s "$work/display" ] || { echo "wineprefix: Xvfb did not start" >&2; kill "$xvfb_pid"; exit 1; }
    export DISPLAY=":$(head -n1 "$work/display")"
    local built=0
    trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
          if [ "$built" != 1 ] && [ -d "$WINEPREFIX" ]; then
            timeout 20 wineserver -k; timeout 20 wineserver -w; fi 2>/dev/null
          rm -rf "$work"' EXIT
    # Where 32-bit programs cannot run, a 64-bit prefix boots with a warning
    # about its missing 32-bit parts; 64-bit programs run normally in it.
    _orlimo_bounded 180 "$WINELOADER" wineboot -i 9>&- </dev/null >>"$log" 2>&1
    orlimo_template_reg > "$work/template.reg"
    _orlimo_bounded 60 "$WINELOADER" regedit /S "$(_orlimo_bounded 30 "$WINELOADER" winepath -w "$work/template.reg" 2>/dev/null 9>&-)" 9>&- </dev/null >>"$log" 2>&1
    _orlimo_bounded 60 wineserver -w 9>&-
    # The user folders may point into the builder's HOME: make them plain
    # folders so the prefix does not depend on where it was made.
    local link
    find "$WINEPREFIX/drive_c/users" -maxdepth 2 -type l | while read -r link; do
      rm -f "$link"; mkdir -p "$link"
    done
    rm -f "$work/template.reg"
    tar -C "$work" -I 'zstd -T0 -3' -cf "$template.tmp" prefix arch
    mv "$template.tmp" "$template"
    built=1
    echo "$stamp" > "$template.stamp"
    echo "wineprefix: $arch template built in $(( $(date +%s) - start )) s" >&2
  ) || return 1
  echo "$template"
}

orlimo_prefix_new() {
  local dir=${1:?usage: new DIR} template
  template=$(orlimo_prefix_template) || return 1
  mkdir -p "$dir/home" || return 1
  rm -rf "$dir/prefix"
  tar -C "$dir" -I zstd -xf "$template" || return 1
  echo "$dir"
}

# The environment of DIR, or a refusal: a Wine command must never fall back
# to the caller's (or the default) prefix when DIR is gone.
_orlimo_prefix_env_checked() {
  if [ ! -d "$1/prefix" ]; then
    echo "wineprefix: no prefix in $1" >&2
    return 1
  fi
  orlimo_prefix_env "$1"
}

orlimo_prefix_start() {
  local dir=${1:?usage: start DIR} envtext
  envtext=$(_orlimo_prefix_env_checked "$dir") || return 1
  (
    eval "$envtext"
    # A persistent wineserver, then one harmless program so that the
    # background services (services.exe, explorer, ...) are started now,
    # in their own session and without this shell's pipes.
    setsid wineserver -p </dev/null >>"$dir/wine-services.log" 2>&1
    setsid timeout -k 5 60 "$WINELOADER" cmd /c exit </dev/null >>"$dir/wine-services.log" 2>&1
  )
}

orlimo_prefix_stop() {
  local dir=${1:?usage: stop DIR} envtext
  envtext=$(_orlimo_prefix_env_checked "$dir") || return 1
  (
    eval "$envtext"
    # Addresses only this prefix's server.
    _orlimo_bounded 20 wineserver -k </dev/null >/dev/null 2>&1
    _orlimo_bounded 20 wineserver -w </dev/null >/dev/null 2>&1
    true
  )
}

# Starts a private Xvfb for a prefix folder; exports DISPLAY and XVFB_PID.
orlimo_xvfb() {
  local dir=${1:?usage: orlimo_xvfb DIR} i
  rm -f "$dir/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  for i in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
  [ -s "$dir/display" ] || { echo "wineprefix: Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(head -n1 "$dir/display")" XVFB_PID
}

orlimo_prefix_run() {
  local dir=${1:?usage: run DIR PROGRAM [ARGS...]} envtext; shift
  envtext=$(_orlimo_prefix_env_checked "$dir") || return 1
  (
    eval "$envtext"
    exec "$WINELOADER" "$@"
  )
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  cmd=${1:-}; shift || true
  case "$cmd" in
    arches)   orlimo_arches ;;
    template) orlimo_prefix_template "$@" ;;
    new)      orlimo_prefix_new "$@" ;;
    env)      orlimo_prefix_env "$@" ;;
    start)    orlimo_prefix_start "$@" ;;
    stop)     orlimo_prefix_stop "$@" ;;
    run)      orlimo_prefix_run "$@" ;;
    *) sed -n '2,40p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
fi
