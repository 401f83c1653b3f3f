#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test orlimo:
# cross compilers, Wine (32-bit), Xvfb and X tools, a CJK font, the zh_CN
# locale, CMake, GoogleTest sources and Python for the stand-in servers.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

pkgs=(cmake ninja-build g++ make pkg-config
      g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-i686
      wine wine32:i386 wine64 xvfb x11-utils xdotool imagemagick
      fonts-wqy-microhei locales googletest libgtest-dev python3 zstd
      wixl msitools osslsigncode openssl clang-14
      # fuzzing and sanitizers: libFuzzer, and the ASan/UBSan/libFuzzer runtimes
      # (libclang-rt is only recommended by clang-14, so it is named here)
      libfuzzer-14-dev libclang-rt-14-dev)
# The Linux front end: Qt 6 and the .deb tools (dpkg-shlibdeps, file); its
# tests' session bus, tray watcher and accessibility bus; GNOME's window
# manager and a terminal to type into for the prompt test; an XEmbed tray
# (the demo's, and the tests').
pkgs+=(qt6-base-dev dpkg-dev file dbus-daemon python3-dbus python3-gi gir1.2-atspi-2.0
       at-spi2-core xdg-user-dirs mutter xterm trayer)
# The real GNOME Shell with its AppIndicator extension, headless, as an X11
# and as a Wayland session (Xwayland for X clients), and Qt's Wayland plugin
# for a session without Xwayland (Qt 6 and 5). Without recommends, so no
# dbus-x11: X clients started without a session bus would start stray
# dbus-daemons, which the Wine tests leave behind.
pkgs+=(gnome-shell gnome-shell-extension-appindicator xwayland qt6-wayland qtwayland5)
# The same front end on Qt 5 (preset linux-qt5); the package checks of the
# release tier (lintian, desktop-file-validate, appstreamcli).
pkgs+=(qtbase5-dev libqt5x11extras5-dev lintian desktop-file-utils appstream)
# The arm64 package (preset linux-arm64): a cross compiler, Qt 6 and its
# X11 parts for arm64 from Debian's multiarch, and qemu-user to run the
# arm64 program in the tests (the amd64 moc/rcc/uic serve both).
arm64=(g++-aarch64-linux-gnu qt6-base-dev:arm64 qt6-qpa-plugins:arm64 libx11-xcb-dev:arm64
       libxcb1-dev:arm64 qt6-wayland:arm64 qemu-user-static)
pkgs+=("${arm64[@]}")

for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done

if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  for arch in i386 arm64; do
    if ! dpkg --print-foreign-architectures | grep -qx $arch; then
      $SUDO dpkg --add-architecture $arch
    fi
  done
  # Others may run apt on this machine at the same time: wait for its lock.
  apt=(apt-get -o DPkg::Lock::Timeout=900)
  # A mirror in the middle of a sync fails one index now and then ("File has
  # unexpected size"); try again, then go on with the indexes that came.
  for try in 1 2 3; do
    $SUDO "${apt[@]}" update -qq && break
    echo "setup: apt-get update failed (try $try of 3)" >&2
    [ "$try" -lt 3 ] && sleep 20
  done
  install() { DEBIAN_FRONTEND=noninteractive $SUDO "${apt[@]}" install -y -qq --no-install-recommends "$@"; }
  if ! install "${need[@]}"; then
    # Most often one architecture's index did not come (a mirror mid-sync):
    # its packages cannot match the versions of the others. Everything else
    # is installed, and each foreign set is tried on its own; the tiers that
    # need a set that is missing say so (32-bit Wine: the i686 program runs
    # in no prefix; arm64: linux-arm64 does not run).
    base=() i386=() arm=()
    for p in "${need[@]}"; do
      case " wine32:i386 ${arm64[*]} " in
        *" $p "*) case $p in *:i386) i386+=("$p") ;; *) arm+=("$p") ;; esac ;;
        *) base+=("$p") ;;
      esac
    done
    warn() { echo "setup: WARNING: could not install $*; the tiers that need them will not run" >&2; }
    [ ${#base[@]} -eq 0 ] || install "${base[@]}"
    [ ${#i386[@]} -eq 0 ] || install "${i386[@]}" || warn "${i386[*]}"
    [ ${#arm[@]} -eq 0 ] || install "${arm[@]}" || warn "${arm[*]}"
  fi
fi

# zh_CN: Wine's ANSI code page 936, as on the desktops the program serves;
# ja_JP: code page 932, whose double-byte characters may end in the byte
# of "|" (an end-to-end test of the favorites).
for loc in zh_CN ja_JP; do
  if ! locale -a 2>/dev/null | grep -qiE "^$loc\.utf-?8\$"; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO localedef -i $loc -f UTF-8 $loc.UTF-8
  fi
done
missing=()
for p in "${pkgs[@]}"; do have "$p" || missing+=("$p"); done
if [ ${#missing[@]} -eq 0 ]; then echo "setup: all tools present"
else echo "setup: done, without ${missing[*]}"; fi
