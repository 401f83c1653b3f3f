#!/usr/bin/env bash
# Builds an orlimo installer package with Debian's wixl (msitools).
#
#   tools/msi.sh ARCH VERSION BIN_DIR OUT.msi
#
# ARCH is i686 (an x86 package) or x86_64 (x64); BIN_DIR holds orlimo.exe
# and orlimo-setup.dll of that architecture (signed already, for a
# release). The package is res/orlimo.wxs; VERSION is its product version
# (a higher one upgrades a lower one, the same one replaces the other
# architecture's package). wixl builds the package; msibuild then amends
# the tables that wixl cannot express (see below).
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

# What wixl 0.101 cannot express, set in the built tables (msitools' msibuild;
# key columns cannot be updated, so the upgrade row is replaced).
# Custom-action types: 1 (a DLL in the Binary table) + 64 (result ignored) +
# 0x100 rollback / 0x200 commit + 0x400 in the script + 0x800 as the system.
rollback=$((1 + 64 + 0x100 + 0x400 + 0x800)) commit=$((1 + 64 + 0x200 + 0x400 + 0x800))
upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$ROOT/res/orlimo.wxs")
# The Autorun component's attributes as wixl made them, plus 64 (transitive:
# its condition is evaluated again at a reinstall, so a repair leaves the
# Run value as the machine has it).
autorun_attributes=$(msiinfo export "$OUT.tmp" Component | awk -F '\t' '$1 == "Autorun" {print $4}')
[ -n "$autorun_attributes" ] || { echo "msi.sh: no Autorun component in the package" >&2; exit 1; }
sql=(
  "UPDATE CustomAction SET Type=$rollback WHERE Action='WriteSettingsRollback'"
  "UPDATE CustomAction SET Type=$rollback WHERE Action='RemoveSettingsRollback'"
  "UPDATE CustomAction SET Type=$commit WHERE Action='SettingsCommit'"
  # The run value only where CheckSettings says (AUTORUN, or the state kept at
  # an upgrade or a repair).
  "UPDATE Component SET Condition='OrlimoAutorun', Attributes=$((autorun_attributes | 64)) WHERE Component='Autorun'"
  # The old product goes before any file of the new one is installed: the two
  # architectures' packages own the same files through different components.
  "UPDATE InstallExecuteSequence SET Sequence=1501 WHERE Action='RemoveExistingProducts'"
  # Lower versions and the same version (the other architecture's package)
  # are replaced: one orlimo per machine. 513 = migrate features + maximum inclusive.
  "DELETE FROM Upgrade WHERE ActionProperty='WIX_UPGRADE_DETECTED'"
  "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('{$upgrade_code}', '$VERSION', 513, 'WIX_UPGRADE_DETECTED')"
  # A managed (elevated, non-administrator) installation passes these on.
  "UPDATE Property SET Value='WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;SERVER;PORT;INTERVAL;USERID;BOOKMARKS;AUTORUN' WHERE Property='SecureCustomProperties'"
)
for q in "${sql[@]}"; do
  msibuild "$OUT.tmp" -q "$q"
done
mv "$OUT.tmp" "$OUT"
