#!/usr/bin/env bash
# The release command with a throwaway code-signing certificate and a
# version of its own (ORLIMO_VERSION): the release is made under that
# version, the checksums hold, every signed file verifies against the
# certificate, one changed byte makes verification fail, the programs and
# custom-action DLLs carry the version and import KnownDLLs only (a renamed
# import is caught), and the packages' tables say what they must
# (tests/release/tables.py), and the Group Policy templates are there and
# name the values the program reads with its limits
# (tests/release/policy_templates.py). Debian's tools accept both Linux
# packages: lintian finds no error or warning, desktop-file-validate nothing
# in their desktop entries, and appstreamcli accepts their metadata, whose
# release is the stamped version, as is the top entry of their changelog.
# Ends with "release: N passed, N failed".
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() {  # WHAT COMMAND...
  local what=$1; shift
  if "$@" >>"$work/log" 2>&1; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL  $what"; fi
}
fails() { ! "$@"; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=orlimo test signer" -addext "extendedKeyUsage=codeSigning" >>"$work/log" 2>&1
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/signer.pfx" \
  -passout pass:throwaway >>"$work/log" 2>&1
dist=$work/dist
version=3.4.567
# Without the arm64 packages (tools/setup.sh could not install them) the
# release is made and checked without the arm64 .deb, and this says so.
debs=(amd64 arm64)
if ! dpkg-query -W -f='${Status}' qt6-base-dev:arm64 2>/dev/null | grep -q "ok installed"; then
  debs=(amd64)
  export ORLIMO_RELEASE_NO_ARM64=1
  echo "release: the arm64 package was not made: qt6-base-dev:arm64 is not installed"
fi
check "release.sh signs and makes the release" \
  env ORLIMO_SIGN_PFX="$work/signer.pfx" ORLIMO_SIGN_PASSWORD=throwaway ORLIMO_VERSION=$version \
  bash "$ROOT/tools/release.sh" --dist "$dist"
signed=("x86/orlimo.exe" "x64/orlimo.exe" "orlimo-$version-x86.msi" "orlimo-$version-x64.msi")
check "SHA256SUMS holds for the four files, the three templates and the .debs" bash -c 'cd "$1" && sha256sum -c --strict SHA256SUMS && [ "$(wc -l < SHA256SUMS)" = $((7 + $# - 2)) ] && for a in "${@:3}"; do grep -q "orlimo_$2_$a.deb" SHA256SUMS || exit 1; done' _ "$dist" "$version" "${debs[@]}"
check "the policy templates name what the program reads, with its limits" python3 "$ROOT/tests/release/policy_templates.py" \
  "$ROOT/src/core/limits.h" "$dist/policy/orlimo.admx" "$dist/policy/en-US/orlimo.adml" "$dist/policy/zh-CN/orlimo.adml"
sed 's/maxValue="65535"/maxValue="65536"/' "$dist/policy/orlimo.admx" > "$work/wider.admx"
check "the template check finds a range wider than the program's" \
  fails python3 "$ROOT/tests/release/policy_templates.py" "$ROOT/src/core/limits.h" "$work/wider.admx" "$dist/policy/en-US/orlimo.adml"
for f in "${signed[@]}"; do
  check "$f verifies" osslsigncode verify -CAfile "$work/cert.pem" -in "$dist/$f"
done
python3 - "$dist/x64/orlimo.exe" "$work/changed.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 3] ^= 0x01
open(sys.argv[2], "wb").write(data)
PY
check "a changed byte fails verification" fails osslsigncode verify -CAfile "$work/cert.pem" -in "$work/changed.exe"
check "the packages' tables" python3 "$ROOT/tests/release/tables.py" "$version" \
  "$dist/orlimo-$version-x86.msi" "$dist/orlimo-$version-x64.msi"
# The version resource's fixed part (after the signature 0xFEEF04BD: the
# structure version, then the file version's high and low words).
carries() {  # FILE VERSION
  python3 -c '
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.index(struct.pack("<I", 0xFEEF04BD))
ms, ls = struct.unpack_from("<II", data, at + 8)
sys.exit("%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16) != sys.argv[2])' "$1" "$2"
}
for arch in x86 x64; do
  check "$arch/orlimo.exe carries version $version" carries "$dist/$arch/orlimo.exe" "$version"
  # msidump writes the Binary streams below the current folder.
  mkdir -p "$work/$arch" && (cd "$work/$arch" && msidump -t -d . "$dist/orlimo-$version-$arch.msi") >>"$work/log" 2>&1
  check "the $arch package's custom-action DLL carries version $version" \
    carries "$work/$arch/Binary/Binary.OrlimoSetup" "$version"
  check "$arch/orlimo.exe and the $arch package's custom-action DLL import KnownDLLs only" \
    python3 "$ROOT/tests/release/imports.py" "$dist/$arch/orlimo.exe" "$work/$arch/Binary/Binary.OrlimoSetup"
done
# The import check sees an import of a DLL that is no KnownDLL.
python3 -c '
import sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data.replace(b"USER32.dll", b"USEQ32.dll", 1))' "$dist/x86/orlimo.exe" "$work/renamed.exe"
check "the import check finds an import that is no KnownDLL" \
  bash -c '! python3 "$1" "$2" && python3 "$1" "$2" | grep -q "imports useq32.dll"' _ \
  "$ROOT/tests/release/imports.py" "$work/renamed.exe"
check "the build folders are back at the project's version" \
  fails grep -q "^CMAKE_PROJECT_VERSION:STATIC=$version\$" "$ROOT/build/mingw-i686/CMakeCache.txt"
quiet() {  # COMMAND...: succeeds when it succeeds and prints nothing
  local out; out=$("$@" 2>&1); local rc=$?
  printf '%s\n' "$out"; [ $rc = 0 ] && [ -z "$out" ]
}
for arch in "${debs[@]}"; do
  deb=$dist/orlimo_${version}_$arch.deb root=$work/deb-$arch
  mkdir -p "$root" && dpkg-deb -x "$deb" "$root" 2>>"$work/log"
  check "lintian: no error or warning in $(basename "$deb")" lintian --fail-on error,warning "$deb"
  check "desktop-file-validate: nothing to say about $arch's two desktop entries" \
    quiet desktop-file-validate "$root/usr/share/applications/orlimo.desktop" "$root/etc/xdg/autostart/orlimo.desktop"
  check "appstreamcli accepts $arch's metainfo" appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
  check "$arch's changelog and AppStream release are version $version" bash -c \
    'zcat "$1/usr/share/doc/orlimo/changelog.gz" | head -n 1 | grep -qF "orlimo ($2) " &&
     grep -qF "<release version=\"$2\" " "$1"/usr/share/metainfo/*.metainfo.xml' _ "$root" "$version"
done
[ "$failed" = 0 ] || tail -n 30 "$work/log"
echo "release: $passed passed, $failed failed"
[ "$failed" = 0 ]
