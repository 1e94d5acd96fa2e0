#!/usr/bin/env bash
# Runs a command on a virtual X display of its own (Xvfb, a free display
# number) with a window manager (openbox) that gives new windows the keyboard,
# as desktops do; the Qt programs it starts use that display.
# Usage: scripts/on-x-desktop.sh COMMAND [ARGUMENTS...]
# Needs: Xvfb, openbox (and xev, xdotool to wait for the window manager).
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
# Openbox announces itself on the root window before it has finished starting,
# and a window mapped before then is managed without getting the keyboard. So
# wait until a probe window mapped now gets the keyboard (up to 30 s: on a
# loaded or fresh machine openbox takes longer), or, without the X tools, a second.
if command -v xev >/dev/null && command -v xdotool >/dev/null; then
  ready=no
  for _ in $(seq 1 30); do
    xev -name on-x-desktop-probe >/dev/null 2>&1 &
    probe=$!
    for _ in $(seq 1 20); do
      if [ "$(xdotool getwindowfocus getwindowname 2>/dev/null)" = on-x-desktop-probe ]; then ready=yes; break; fi
      sleep 0.05
    done
    kill "$probe" 2>/dev/null || true
    wait "$probe" 2>/dev/null || true
    [ "$ready" = yes ] && break
  done
  [ "$ready" = yes ] || echo "on-x-desktop: the window manager gave no new window the keyboard within 30 s" >&2
else
  sleep 1
fi
"$@"
