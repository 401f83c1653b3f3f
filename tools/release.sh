#!/usr/bin/env bash
# Makes a release of orlimo:
#
#   tools/release.sh [--dist DIR]          (default DIR: dist/)
#
#   DIR/x86/orlimo.exe, DIR/x64/orlimo.exe       the two programs
#   DIR/orlimo-VERSION-x86.msi, ...-x64.msi      the installer packages
#   DIR/orlimo_VERSION_amd64.deb, ..._arm64.deb  the Linux packages (not signed)
#   DIR/policy/orlimo.admx, DIR/policy/en-US/orlimo.adml,
#   DIR/policy/zh-CN/orlimo.adml                 the Group Policy templates
#   DIR/SHA256SUMS                               checksums of all of them
#
# VERSION is the CMake project version, or ORLIMO_VERSION (X.Y.Z) when set:
# then that version is stamped into both programs, the custom-action DLLs,
# the packages and their names (the build folders are set back to the
# project's version afterwards). Installs what is missing (tools/setup.sh)
# and builds the two program presets first.
#
# ORLIMO_RELEASE_NO_ARM64=1 leaves the arm64 package out (the test tier
# does so on a machine whose arm64 packages could not be installed).
#
# Signing: with ORLIMO_SIGN_PFX set (a PKCS#12 file; its password in
# ORLIMO_SIGN_PASSWORD), both programs, the packages' custom-action DLLs and
# both packages are signed with osslsigncode, with a timestamp from
# ORLIMO_SIGN_TIMESTAMP (an RFC 3161 server) when that is set. Without them
# everything is built unsigned, and the script says so.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIST=$ROOT/dist
while [ $# -gt 0 ]; do
  case "$1" in
    --dist) DIST=${2:?}; shift 2 ;;
    *) echo "usage: $0 [--dist DIR]" >&2; exit 2 ;;
  esac
done
say() { printf 'release: %s\n' "$*"; }

bash "$ROOT/tools/setup.sh" >/dev/null
cd "$ROOT"
stamp=(-DORLIMO_VERSION="${ORLIMO_VERSION:-}")
unstamp() {  # the build folders go back to the project's version
  [ -n "${ORLIMO_VERSION:-}" ] || return 0
  for preset in mingw-i686 mingw-x86_64 linux linux-arm64; do cmake --preset "$preset" -DORLIMO_VERSION= >/dev/null 2>&1 || true; done
}
trap unstamp EXIT
for arch in i686 x86_64; do
  cmake --preset "mingw-$arch" "${stamp[@]}" >/dev/null
  cmake --build --preset "mingw-$arch" -j2 --target orlimo orlimo-setup >/dev/null
done
# The Linux front end's packages: amd64 built natively, arm64 cross-compiled.
linux_presets=(linux linux-arm64)
[ "${ORLIMO_RELEASE_NO_ARM64:-}" = 1 ] && linux_presets=(linux)
for preset in "${linux_presets[@]}"; do
  cmake --preset "$preset" "${stamp[@]}" >/dev/null
  cmake --build --preset "$preset" -j2 --target package >/dev/null
done
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw-i686/CMakeCache.txt)
[ -n "$VERSION" ] || { echo "release: no project version in the build" >&2; exit 1; }
if [ -n "$(git -C "$ROOT" status --porcelain 2>/dev/null)" ]; then
  say "note: the working tree has uncommitted changes"
fi

sign=0
if [ -n "${ORLIMO_SIGN_PFX:-}" ]; then
  [ -f "$ORLIMO_SIGN_PFX" ] || { echo "release: ORLIMO_SIGN_PFX: no such file" >&2; exit 1; }
  sign=1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"; unstamp' EXIT
if [ $sign = 1 ]; then
  # The password goes through a file only this user can read, not the command line.
  (umask 077; printf '%s' "${ORLIMO_SIGN_PASSWORD:-}" > "$work/password")
fi
sign_file() {  # FILE: signed in place
  [ $sign = 1 ] || return 0
  local ts=()
  [ -n "${ORLIMO_SIGN_TIMESTAMP:-}" ] && ts=(-ts "$ORLIMO_SIGN_TIMESTAMP")
  osslsigncode sign -pkcs12 "$ORLIMO_SIGN_PFX" -readpass "$work/password" -n orlimo -h sha256 \
    "${ts[@]}" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}

rm -rf "$DIST"
mkdir -p "$DIST/x86" "$DIST/x64"
made=()
for arch in i686 x86_64; do
  short=x86; [ $arch = x86_64 ] && short=x64
  stage=$work/$arch
  mkdir -p "$stage"
  cp "build/mingw-$arch/orlimo.exe" "build/mingw-$arch/orlimo-setup.dll" "$stage/"
  sign_file "$stage/orlimo.exe"
  sign_file "$stage/orlimo-setup.dll"
  cp "$stage/orlimo.exe" "$DIST/$short/orlimo.exe"
  package=$DIST/orlimo-$VERSION-$short.msi
  bash "$ROOT/tools/msi.sh" "$arch" "$VERSION" "$stage" "$package"
  sign_file "$package"
  made+=("$short/orlimo.exe" "$(basename "$package")")
done
for preset in "${linux_presets[@]}"; do
  deb=orlimo_${VERSION}_$(sed -n 's/^ORLIMO_DEB_ARCH:INTERNAL=//p' "build/$preset/CMakeCache.txt").deb
  cp "build/$preset/$deb" "$DIST/$deb"
  made+=("$deb")
done
for template in orlimo.admx en-US/orlimo.adml zh-CN/orlimo.adml; do
  mkdir -p "$(dirname "$DIST/policy/$template")"
  cp "$ROOT/policy/$template" "$DIST/policy/$template"
  made+=("policy/$template")
done
(cd "$DIST" && sha256sum "${made[@]}" > SHA256SUMS)
made+=(SHA256SUMS)

if [ $sign = 1 ]; then
  say "orlimo $VERSION, signed with $(basename "$ORLIMO_SIGN_PFX")${ORLIMO_SIGN_TIMESTAMP:+, timestamped by $ORLIMO_SIGN_TIMESTAMP}:"
else
  say "orlimo $VERSION, unsigned (set ORLIMO_SIGN_PFX and ORLIMO_SIGN_PASSWORD to sign):"
fi
for f in "${made[@]}"; do
  printf '  %s  (%s bytes)\n' "$DIST/$f" "$(stat -c %s "$DIST/$f")"
done
[ ${#linux_presets[@]} = 2 ] || say "without the arm64 package (ORLIMO_RELEASE_NO_ARM64=1)"
