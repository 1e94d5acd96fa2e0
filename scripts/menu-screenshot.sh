#!/usr/bin/env bash
# Runs the real quillory-helper on a virtual X display with a window manager
# (openbox), a panel with a system tray (tint2, light or dark) and a private
# session bus, opens its menu by launching the helper a second time (the
# second launch hands over: the running one opens its menu at its icon),
# opens the Libraries submenu with the mouse, and saves a screenshot of the
# screen. With "error", it chooses "Sync Now" instead (Ctrl+S in the open
# menu), which fails at once without Kettle Ledger, and shows the icon with
# its error badge and the failure in its tool tip.
#
# Usage: scripts/menu-screenshot.sh <path to quillory-helper> <output.png> [light|dark] [error]
# Needs: Xvfb, openbox, tint2, dbus-run-session, xdotool, ImageMagick.
set -euo pipefail
source "$(dirname "$0")/helper-settings.sh"

helper="$(realpath "$1")"
output="$(realpath -m "$2")"
panel="${3:-light}"
case $panel in light | dark) ;; *) echo "panel: light or dark, not $panel" >&2; exit 64 ;; esac
shot="${4:-menu}"
case $shot in menu | error) ;; *) echo "shot: menu or error, not $shot" >&2; exit 64 ;; esac
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A throw-away home with two libraries in the settings: one synced, one
# switched off (its folder exists, so that pruning keeps it).
export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/quillory-helper" "$XDG_RUNTIME_DIR" "$HOME/Ledgers/Household"
chmod 700 "$XDG_RUNTIME_DIR"
write_helper_settings "$XDG_CONFIG_HOME/quillory-helper/settings.json" \
  autoSyncEnabled=true sync_library_Business=true sync_library_Household=false \
  "library_path_Household=$HOME/Ledgers/Household"

display=":97"
Xvfb "$display" -screen 0 800x500x24 -nolisten tcp &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

export SCREENSHOT_OUTPUT="$output" HELPER="$helper" PANEL="/usr/share/tint2/horizontal-$panel-opaque.tint2rc" SHOT="$shot"
dbus-run-session -- bash -euo pipefail -c '
  openbox >/dev/null 2>&1 &
  sleep 1
  tint2 -c "$PANEL" >/dev/null 2>&1 &
  sleep 1
  QT_QPA_PLATFORM=xcb "$HELPER" > "$HOME/helper.log" 2>&1 &
  helper_pid=$!
  # The menu shows its first texts until the first status notification; the
  # status refresh timer sends one a minute after the start.
  sleep 63
  # A second launch hands over and exits 0; the running helper opens its menu.
  QT_QPA_PLATFORM=xcb "$HELPER" || { echo "the second launch did not hand over" >&2; exit 1; }
  sleep 1
  if [ "$SHOT" = error ]; then
    # "Sync Now" fails at once; the pointer rests on the icon for its tool tip.
    xdotool key ctrl+s
    sleep 2
    read -r X Y < <(xwininfo -root -tree | grep "(\"quillory-helper\"" |
      grep -oE "[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+ " | tr "x+" "  " | awk "\$1 <= 100 {print \$3 + \$1 / 2, \$4 + \$2 / 2; exit}")
    [ -n "${X:-}" ] && xdotool mousemove "${X%.*}" "${Y%.*}"
    sleep 2
    import -window root "$SCREENSHOT_OUTPUT"
    kill $helper_pid
    wait $helper_pid || true
    cat "$HOME/helper.log" >&2
    exit 0
  fi
  # Hover "Libraries" to open its submenu.
  # The open menu is the top-level window of the helper wider than the icon.
  read -r WIDTH HEIGHT X Y < <(xwininfo -root -tree | grep "(\"quillory-helper\"" |
    grep -oE "[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+ " | tr "x+" "  " | awk "\$1 > 100 {print; exit}")
  echo "menu at $X,$Y size ${WIDTH}x$HEIGHT" >&2
  xdotool mousemove $((X + 40)) $((Y + HEIGHT * 5 / 11))
  sleep 1.5
  import -window root "$SCREENSHOT_OUTPUT"
  kill $helper_pid
  wait $helper_pid || true
  cat "$HOME/helper.log" >&2
'
echo "wrote $output"
