#!/usr/bin/env bash
# Builds an orlimo installer package with Debian's wixl (msitools).
#
#   tools/msi.sh ARCH VERSION BIN_DIR OUT.msi
#
# ARCH is i686 (an x86 package) or x86_64 (x64); BIN_DIR holds orlimo.exe
# and orlimo-setup.dll of that architecture (signed already, for a
# release). The package is res/orlimo.wxs; VERSION is its product version
# (a higher one upgrades a lower one).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
ARCH=${1:?ARCH} VERSION=${2:?VERSION} BIN=${3:?BIN_DIR} OUT=${4:?OUT.msi}
case "$ARCH" in
  i686)   msi_arch=x86 win64=no  program_dir=ProgramFilesFolder digit=3 ;;
  x86_64) msi_arch=x64 win64=yes program_dir=ProgramFiles64Folder digit=6 ;;
  *) echo "msi.sh: unknown architecture $ARCH" >&2; exit 2 ;;
esac
for f in orlimo.exe orlimo-setup.dll; do
  [ -f "$BIN/$f" ] || { echo "msi.sh: $BIN/$f is missing" >&2; exit 1; }
done
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$BIN/orlimo.exe" "$BIN/orlimo-setup.dll" "$stage/"
: > "$stage/lock.file"
mkdir -p "$(dirname "$OUT")"
OUT=$(cd "$(dirname "$OUT")" && pwd)/$(basename "$OUT")
# wixl takes the files' paths relative to where it runs.
(cd "$stage" && wixl -a "$msi_arch" -D Version="$VERSION" -D Win64="$win64" -D ProgramDir="$program_dir" \
   -D ArchDigit="$digit" -D Bin=. -o "$OUT.tmp" "$ROOT/res/orlimo.wxs")
mv "$OUT.tmp" "$OUT"
