#!/usr/bin/env bash
# Runs the real quillory-helper on a virtual X display with a window manager
# (openbox), a panel with a system tray (tint2) and a private session bus,
# opens its menu and the Libraries submenu with the mouse, and saves a
# screenshot of the screen.
#
# Usage: scripts/menu-screenshot.sh <path to quillory-helper> <output.png>
# Needs: Xvfb, openbox, tint2, dbus-run-session, xdotool, ImageMagick.
set -euo pipefail
source "$(dirname "$0")/helper-settings.sh"

helper="$(realpath "$1")"
output="$(realpath -m "$2")"
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

export SCREENSHOT_OUTPUT="$output" HELPER="$helper"
dbus-run-session -- bash -euo pipefail -c '
  openbox >/dev/null 2>&1 &
  sleep 1
  tint2 >/dev/null 2>&1 &
  sleep 1
  QT_QPA_PLATFORM=xcb "$HELPER" > "$HOME/helper.log" 2>&1 &
  helper_pid=$!
  sleep 3
  # A second helper is refused at once.
  if QT_QPA_PLATFORM=xcb "$HELPER" 2> "$HOME/second.err"; then echo "second helper was not refused" >&2; fi
  cat "$HOME/second.err" >&2

  # The menu shows its first texts until the first status notification; the
  # status refresh timer sends one a minute after the start.
  sleep 60
  # The tray icon is the small embedded window at the right end of the panel.
  where=$(xwininfo -root -tree | grep "(\"quillory-helper\"" | grep -oE "[0-9]+x[0-9]+\+0\+0 +\+[0-9]+\+[0-9]+" | head -1)
  size=${where%%x*}
  x=$(echo "$where" | awk -F+ "{print \$(NF-1)}")
  y=$(echo "$where" | awk -F+ "{print \$NF}")
  echo "tray icon at $x,$y" >&2
  xdotool mousemove $((x + size / 2)) $((y + size / 2)) click 1
  sleep 1
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
