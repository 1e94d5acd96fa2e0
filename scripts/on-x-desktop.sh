#!/usr/bin/env bash
# Runs a command on a virtual X display of its own (Xvfb, a free display
# number) with a window manager (openbox) that gives new windows the keyboard,
# as desktops do; the Qt programs it starts use that display.
# Usage: scripts/on-x-desktop.sh COMMAND [ARGUMENTS...]
# Needs: Xvfb, openbox.
set -euo pipefail
for program in Xvfb openbox; do
  if ! command -v "$program" >/dev/null; then
    echo "$program is not installed: running without a desktop" >&2
    QT_QPA_PLATFORM=offscreen exec "$@"
  fi
done
exec {numbers}< <(Xvfb -displayfd 1 -nolisten tcp -screen 0 800x600x24 2>/dev/null & echo "pid $!")
read -r -u "$numbers" first
read -r -u "$numbers" second
if [[ $first == pid* ]]; then xvfb=${first#pid }; display=$second; else xvfb=${second#pid }; display=$first; fi
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
openbox >/dev/null 2>&1 &
openbox_pid=$!
trap 'kill $openbox_pid $xvfb 2>/dev/null || true' EXIT
sleep 1
"$@"
