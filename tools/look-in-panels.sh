#!/usr/bin/env bash
# Shows orlimo in a real desktop panel's tray and takes screenshots, for a
# person to look at (not part of the test command).
#
#   tools/look-in-panels.sh tint2|xfce|plasma|ukui linux|wine [OUT]
#
# tint2 is an XEmbed tray; xfce is xfce4-panel with its Status Tray plugin
# (StatusNotifierItem and XEmbed), both under xfwm4; plasma is KDE Plasma
# 5.27's plasmashell (kded5 owns the watcher, the panel's system tray is
# the host; xembedsniproxy carries XEmbed icons to it) and ukui the panel of
# UKUI (Kylin's desktop; sni-daemon owns the watcher, sni-xembed-proxy the
# XEmbed tray), both under kwin_x11. linux is build/linux/orlimo, wine the
# Windows program (the build the demo would pick) in a fresh prefix. The
# panel's Debian packages are installed first when they are missing (Plasma
# about 770 MB). Everything runs on a private Xvfb with a private session
# bus, against the stand-in portal, with favorites from $LOOK_BOOKMARK
# (default: the lone favorite "Mail|http://mail.example.com/"); addresses go
# to tools/test-browser. Screenshots go to OUT (default shots/PANEL-PROGRAM):
#
#   1-icon.png      the icon in the tray, the portal answering plainly
#   2-tooltip.png   the pointer resting on the icon
#   2-left-click.png, 2-middle-click.png  after those clicks
#   2-double-click.png  after a double click (the browser log says how many pages it opened)
#   3-menu.png      the tray menu, opened with a right click
#   3-pages-a/b.png its submenus of portal pages, 3-shortcuts.png 设置快捷方式
#   4-favorites.png its favorites submenu (收藏夹)
#   5-has-a/b.png   the portal says "has": two blink phases and the prompt
#   6-fault.png     the portal is down: the failure icon and its tooltip
#   7-config.png    the settings dialog (配置)
#
# and browser.log what the stand-in browser got (a favorite chosen from the
# menu, the prompt's 查看). Everything it started is stopped at the end.
set -uo pipefail

PANEL=${1:-} PROGRAM=${2:-}
case "$PANEL/$PROGRAM" in
  tint2/linux|tint2/wine|xfce/linux|xfce/wine|plasma/linux|plasma/wine|ukui/linux|ukui/wine) ;;
  *) sed -n '2,32p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=$(mkdir -p "${3:-$ROOT/shots/$PANEL-$PROGRAM}" && cd "${3:-$ROOT/shots/$PANEL-$PROGRAM}" && pwd) || exit 1
RUN=$OUT/run
BOOKMARK=${LOOK_BOOKMARK:-Mail|http://mail.example.com/}

say() { printf 'look: %s\n' "$*"; }
die() { printf 'look: %s\n' "$*" >&2; exit 1; }

. "$ROOT/tools/background.sh"
WINE_RUN=""
cleanup() {
  trap - EXIT INT TERM
  # The prefix (0.6 GB or more) goes; its logs stay.
  [ -n "$WINE_RUN" ] && orlimo_prefix_stop "$WINE_RUN" && rm -rf "$WINE_RUN/prefix"
  stop_background
}
trap cleanup EXIT
trap 'cleanup; exit 1' INT TERM

shot() { timeout 20 import -window root "$OUT/$1" && say "$OUT/$1"; }

# -- the panel's packages -------------------------------------------------------
case $PANEL in
  tint2) packages=(tint2 xfwm4) ;;
  xfce) packages=(xfce4-panel xfwm4 xfconf) ;;
  # plasma-desktop holds the shell package, without which plasmashell has
  # nothing to load; ukui-panel crashes at start without the org.ukui.style
  # schema of qt5-ukui-platformtheme, which it does not depend on.
  plasma) packages=(plasma-workspace plasma-desktop kwin-x11) ;;
  ukui) packages=(ukui-panel qt5-ukui-platformtheme kwin-x11) ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null || die "could not install ${missing[*]}"
fi

rm -rf "$RUN"
mkdir -p "$RUN"/{cfg,data,cache,home/Desktop,etc-xdg/orlimo,bin,runtime}
chmod 700 "$RUN/runtime"
rm -f "$OUT"/*.png

# -- display, session bus, panel ---------------------------------------------
setsid Xvfb -displayfd 9 -nolisten tcp -screen 0 1280x800x24 9>"$RUN/display" </dev/null >/dev/null 2>&1 &
PIDS+=($!)
DISPLAY=":$(first_line "$RUN/display")" || die "Xvfb did not start"
export DISPLAY
# The panel's own settings (xfconfd, kded5 or dconf, started by the bus,
# read them too), and the desktop it is.
export XDG_CONFIG_HOME=$RUN/cfg XDG_DATA_HOME=$RUN/data XDG_CACHE_HOME=$RUN/cache XDG_RUNTIME_DIR=$RUN/runtime
export HOME=$RUN/home
case $PANEL in
  plasma) export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 ;;
  ukui) export XDG_CURRENT_DESKTOP=UKUI ;;
esac
setsid dbus-daemon --session --nofork --nopidfile --print-address=1 >"$RUN/bus" 2>/dev/null </dev/null &
PIDS+=($!)
DBUS_SESSION_BUS_ADDRESS=$(first_line "$RUN/bus") || die "dbus-daemon did not start"
export DBUS_SESSION_BUS_ADDRESS

# A window manager: tint2 waits for one, and dialogs get frames. (Debian
# has no ukui-kwin: kwin_x11 serves UKUI as well.)
case $PANEL in
  tint2|xfce) setsid xfwm4 --compositor=off </dev/null >"$RUN/wm.log" 2>&1 & ;;
  *) KWIN_COMPOSE=N setsid kwin_x11 --replace </dev/null >"$RUN/wm.log" 2>&1 & ;;
esac
PIDS+=($!)
sleep 1
if [ "$PANEL" = plasma ]; then
  setsid plasmashell --no-respawn </dev/null >"$RUN/panel.log" 2>&1 &
  PIDS+=($!)
  setsid xembedsniproxy </dev/null >"$RUN/xembed.log" 2>&1 &
  PIDS+=($!)
  sleep 6  # the shell loads its panel; its tray registers as host after about 3 s
elif [ "$PANEL" = ukui ]; then
  # What a UKUI session autostarts for the tray, then the panel.
  setsid sni-daemon </dev/null >"$RUN/sni-daemon.log" 2>&1 &
  PIDS+=($!)
  setsid sni-xembed-proxy </dev/null >"$RUN/xembed.log" 2>&1 &
  PIDS+=($!)
  sleep 1
  # It copies its default settings into ~/.config/ukui (not XDG_CONFIG_HOME).
  mkdir -p "$HOME/.config/ukui"
  setsid ukui-panel </dev/null >"$RUN/panel.log" 2>&1 &
  PIDS+=($!)
  sleep 3
elif [ "$PANEL" = tint2 ]; then
  mkdir -p "$RUN/cfg/tint2"
  sed -e 's/^panel_items = .*/panel_items = S/' /etc/xdg/tint2/tint2rc >"$RUN/cfg/tint2/tint2rc"
  setsid tint2 -c "$RUN/cfg/tint2/tint2rc" </dev/null >"$RUN/panel.log" 2>&1 &
  PIDS+=($!)
else
  P=$RUN/cfg/xfce4/xfconf/xfce-perchannel-xml
  mkdir -p "$P"
  cat >"$P/xfce4-panel.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=10;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="26"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="systray"/>
  </property>
</channel>
EOF
  setsid xfce4-panel </dev/null >"$RUN/panel.log" 2>&1 &
  PIDS+=($!)
fi
sleep 3
shot 0-panel.png >/dev/null || die "no screenshot"

# -- portal ----------------------------------------------------------------
setsid python3 "$ROOT/tools/portal.py" --port 0 --log "$RUN/portal.log" >"$RUN/portal.port" 2>"$RUN/portal.err" </dev/null &
PORTAL_PID=$!
PIDS+=("$PORTAL_PID")
PORT=$(first_line "$RUN/portal.port") || die "the portal did not start: $(cat "$RUN/portal.err")"
reply() {
  python3 - "$PORT" "$1" <<'EOF'
import json, sys, urllib.request
req = urllib.request.Request("http://127.0.0.1:%s/_control/default" % sys.argv[1],
                             data=json.dumps({"kind": sys.argv[2]}).encode(), method="POST")
urllib.request.urlopen(req, timeout=5).read()
EOF
}
settings() {
  printf 'server=127.0.0.1\r\nuser_id=1\r\ninterval_time=0\r\nserver_port=%s\r\nbookmark=%s\r\n' "$PORT" "$BOOKMARK"
}
export ORLIMO_BROWSER_LOG=$OUT/browser.log
: >"$ORLIMO_BROWSER_LOG"

# -- the program -----------------------------------------------------------
if [ "$PROGRAM" = linux ]; then
  [ -x "$ROOT/build/linux/orlimo" ] || die "no build/linux/orlimo (cmake --preset linux && cmake --build --preset linux)"
  settings >"$RUN/etc-xdg/orlimo/config.properties"
  ln -s "$ROOT/tools/test-browser" "$RUN/bin/xdg-open"
  env XDG_CONFIG_DIRS="$RUN/etc-xdg" PATH="$RUN/bin:$PATH" LANG=C.UTF-8 \
    setsid "$ROOT/build/linux/orlimo" </dev/null >"$RUN/orlimo.log" 2>&1 &
  ORLIMO_PID=$!
else
  # shellcheck source=tools/wineprefix.sh
  . "$ROOT/tools/wineprefix.sh"
  ARCH=$(orlimo_arches 2>/dev/null | head -n1)
  EXE=$ROOT/build/mingw-$ARCH/orlimo.exe
  [ -f "$EXE" ] || die "no $EXE (cmake --preset mingw-$ARCH && cmake --build --preset mingw-$ARCH)"
  export ORLIMO_ARCH=$ARCH
  orlimo_prefix_new "$RUN/wine" >/dev/null || die "making the prefix failed"
  WINE_RUN=$RUN/wine
  eval "$(orlimo_prefix_env "$WINE_RUN")"
  orlimo_prefix_start "$WINE_RUN"
  mkdir -p "$WINEPREFIX/drive_c/setup"
  cp "$EXE" "$WINEPREFIX/drive_c/setup/"
  settings | iconv -f UTF-8 -t GBK >"$WINEPREFIX/drive_c/setup/config.properties"
  (cd "$WINEPREFIX/drive_c/setup" && exec setsid "$WINELOADER" orlimo.exe </dev/null >"$RUN/orlimo.log" 2>&1) &
  ORLIMO_PID=$!
fi
PIDS+=("$ORLIMO_PID")
say "started the $PROGRAM program in $PANEL (display $DISPLAY)"

# -- looking -----------------------------------------------------------------
# The icon is where the panel (at the bottom of the screen) changed since it
# stood alone and shows the picture's orange (a panel's clock and other
# icons change too), once that stays put.
ICON="" LAST=""
for _ in $(seq 60); do
  sleep 0.5
  timeout 20 import -window root "$RUN/now.png" || continue
  compare -fuzz 5% "$OUT/0-panel.png" "$RUN/now.png" -compose src -highlight-color white \
    -lowlight-color black "$RUN/diff.png" 2>/dev/null
  convert "$RUN/now.png" -crop 1280x48+0+752 +repage -fx '(r - b > 0.3) ? 1 : 0' "$RUN/orange.png" 2>/dev/null
  ICON=$(convert "$RUN/diff.png" -crop 1280x48+0+752 +repage "$RUN/orange.png" -compose multiply \
    -composite -format '%@' info: 2>/dev/null)
  case "$ICON" in 1x1+*|"") ICON="" ;; "$LAST") break ;; esac
  LAST=$ICON ICON=""
done
[ -n "$ICON" ] || die "no icon appeared in the panel (program output: $RUN/orlimo.log)"
IFS='x+' read -r W H X Y <<<"$ICON"
X=$((X + W / 2)) Y=$((752 + Y + H / 2))
say "the icon: ${W}x$H around ($X, $Y)"
sleep 2
shot 1-icon.png
xdotool mousemove $((X - 1)) "$Y" sleep 0.2 mousemove "$X" "$Y" sleep 3
shot 2-tooltip.png

# Keys for the open tray menu. Wine's menu has no X keyboard focus (its
# window is hidden): the test driver posts them to the popup instead.
menu_key() {
  local k
  for k in "$@"; do
    if [ "$PROGRAM" = wine ]; then
      timeout 30 "$WINELOADER" "$ROOT/build/mingw-$ARCH/orlimo-driver.exe" menu-key "$k" </dev/null >/dev/null 2>&1
    else
      xdotool key "$k"
    fi
    sleep 0.2
  done
}
# Opens the tray menu and goes N items down (Down from an open menu
# selects its first item).
menu_down() {
  xdotool mousemove "$X" "$Y" click 3 sleep 1.5
  local i
  for ((i = 0; i < $1; i++)); do menu_key Down; done
}
# A left click: the menu on Windows, the login page on Linux. A middle
# click: the about box on Linux.
xdotool mousemove "$X" "$Y" click 1 sleep 1.5
shot 2-left-click.png
menu_key Escape
xdotool mousemove "$X" "$Y" click 2 sleep 1.5
shot 2-middle-click.png
xdotool key Escape sleep 0.5
# A double click: the login page once on Linux, however the panel reports it.
before=$(grep -c . "$ORLIMO_BROWSER_LOG")
xdotool mousemove "$X" "$Y" click --repeat 2 --delay 120 1 sleep 2
shot 2-double-click.png
say "a double click opened $(($(grep -c . "$ORLIMO_BROWSER_LOG") - before)) page(s)"
menu_key Escape
xdotool key Escape sleep 0.5
menu_down 0
shot 3-menu.png
# The portal pages' submenus and the shortcuts' (items 1, 2 and 8).
menu_key Down Right
shot 3-pages-a.png
menu_key Left Down Right
shot 3-pages-b.png
menu_key Left Down Down Down Down Down Down Right
shot 3-shortcuts.png
menu_key Left Up Right
sleep 1
shot 4-favorites.png
menu_key Return  # the first favorite
sleep 2

# Blinking: a second shot once the icon differs from the first's.
icon_crop() { convert "$1" -crop "${W}x$H+$((X - W / 2))+$((Y - H / 2))" +repage "$2"; }
reply has
sleep 2.5
shot 5-has-a.png
icon_crop "$OUT/5-has-a.png" "$RUN/icon-a.png"
BLINK=0
for _ in $(seq 12); do
  sleep 0.25
  timeout 20 import -window root "$RUN/now.png" || continue
  icon_crop "$RUN/now.png" "$RUN/icon-b.png"
  if [ "$(compare -metric AE "$RUN/icon-a.png" "$RUN/icon-b.png" null: 2>&1)" != 0 ]; then
    cp "$RUN/now.png" "$OUT/5-has-b.png" && BLINK=1 && say "$OUT/5-has-b.png (the other phase)"
    break
  fi
done
[ "$BLINK" = 1 ] || say "the icon did not change picture within 3 s of \"has\""
reply text
sleep 1
xdotool key Return sleep 2  # 查看 in the prompt

kill "$PORTAL_PID"
sleep 4
xdotool mousemove 0 0 sleep 0.5 mousemove $((X - 1)) "$Y" sleep 0.2 mousemove "$X" "$Y" sleep 3
shot 6-fault.png

menu_down 10
menu_key Return  # 配置
sleep 2
shot 7-config.png
xdotool key Escape sleep 1

menu_down 12
menu_key Return  # 退出
for _ in $(seq 50); do kill -0 "$ORLIMO_PID" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$ORLIMO_PID" 2>/dev/null; then say "the program did not end after 退出"; else say "the program ended after 退出"; fi
say "the browser got:"
sed 's/^/  /' "$ORLIMO_BROWSER_LOG"
