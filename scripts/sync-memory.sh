#!/usr/bin/env bash
# Resident memory of the real tray application (quillory-helper) over many
# syncs: clicks "Sync Now" in its menu again and again and prints the
# process's RSS (VmRSS), threads and descriptors from /proc/PID after sync 1
# and every --every syncs, each a second after the sync's log line.
#
# The set-up is scripts/idle-cost.sh's: a temporary home folder with the
# sample library opted in, a virtual X server with openbox and tint2 (the
# tray), a private session bus on which a small python3-dbus process owns
# test.kettleledger.desktop2 (Kettle Ledger "running"), and the simulated
# Kettle Ledger mounted over /usr/bin/osascript in a mount namespace of the
# helper's own (needs root). Each sync: a click on the tray icon opens the
# menu, Down selects "Sync Now" (the first enabled item), Return chooses it,
# and the script waits for the helper's "Export OK" line. At the end it
# starts one more export that takes 30 seconds and quits the helper from its
# menu meanwhile: the export's script process must end with the helper.
#
# Usage: scripts/sync-memory.sh [--syncs N (500)] [--every K (100)]
#                               [--build DIR (build/default)] [--helper PATH]
#                               [--heaptrack]
# --heaptrack runs the helper under heaptrack; its profile is named at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/helper-settings.sh

syncs=500
every=100
build=build/default
helper=
heaptrack=
while [ $# -gt 0 ]; do
  case "$1" in
    --syncs) syncs=$2; shift 2 ;;
    --every) every=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --helper) helper=$(realpath "$2"); shift 2 ;;
    --heaptrack) heaptrack=yes; shift ;;
    *) echo "usage: $0 [--syncs N] [--every K] [--build DIR] [--helper PATH] [--heaptrack]" >&2; exit 2 ;;
  esac
done
cmake --build "$build" --target quillory-helper kettle-ledger-sim >/dev/null
[ -n "$helper" ] || helper=$(realpath "$build/src/app/quillory-helper")
sim=$(realpath "$build/tools/kettle-ledger-sim")

work=$(mktemp -d /tmp/quillory-sync-memory-XXXXXX)
mkdir -p "$work/home/.config/quillory-helper" "$work/sim" "$work/bin" "$work/runtime"
chmod 700 "$work/runtime"
cp examples/sample-library/export.json examples/sample-library/name.txt "$work/sim/"
cp "$sim" "$work/bin/osascript"
[ -z "$heaptrack" ] || heaptrack="heaptrack -o $work/heaptrack"
name=$(head -n1 examples/sample-library/name.txt)
write_helper_settings "$work/home/.config/quillory-helper/settings.json" \
  autoSyncEnabled=false "sync_library_$name=true"
cat >"$work/owner.py" <<'PY'
import time, dbus
bus = dbus.SessionBus()
bus.request_name("test.kettleledger.desktop2", dbus.bus.NAME_FLAG_DO_NOT_QUEUE)
while True:
    time.sleep(3600)
PY

inner=$(cat <<'SH'
set -u
openbox >/dev/null 2>&1 &
tint2 >/dev/null 2>&1 &
/usr/bin/python3 "$WORK/owner.py" >"$WORK/owner.log" 2>&1 &
sleep 2
launch='mount -t overlay overlay -o "lowerdir=$WORK/bin:/usr/bin" /usr/bin || exit 1; exec $HEAPTRACK "$HELPER"'
HOME="$WORK/home" XDG_CONFIG_HOME= XDG_RUNTIME_DIR="$WORK/runtime" KETTLE_LEDGER_SIM_DIR="$WORK/sim" \
  QT_QPA_PLATFORM=xcb unshare -m sh -c "$launch" >"$WORK/helper.log" 2>&1 &
shell=$!
where=
for _ in $(seq 100); do
  sleep 0.2
  where=$(xwininfo -root -tree | grep '("quillory-helper"' | grep -oE '[0-9]+x[0-9]+\+0\+0 +\+[0-9]+\+[0-9]+' | head -1) || true
  [ -n "$where" ] && break
done
[ -n "$where" ] || { echo "no tray icon"; cat "$WORK/helper.log"; exit 1; }
size=${where%%x*}
x=$(( $(echo "$where" | awk -F+ '{print $(NF-1)}') + size / 2 ))
y=$(( $(echo "$where" | awk -F+ '{print $NF}') + size / 2 ))
pid=$(pgrep -n -f "^$HELPER\$") || { echo "no helper process"; exit 1; }
exports() { grep -c 'Export OK' "$WORK/helper.log" || true; }
report() {
  printf '[memory] after %4d syncs: %s, threads %s, fds %s\n' "$1" \
    "$(awk '/^VmRSS/ {print $2, $3}' /proc/$pid/status)" \
    "$(awk '/^Threads/ {print $2}' /proc/$pid/status)" "$(ls /proc/$pid/fd | wc -l)"
}
for i in $(seq "$SYNCS"); do
  before=$(exports)
  for attempt in 1 2 3; do
    xdotool mousemove "$x" "$y" click 1
    sleep 0.3
    xdotool key Down Return
    for _ in $(seq 100); do [ "$(exports)" -gt "$before" ] && break; sleep 0.1; done
    [ "$(exports)" -gt "$before" ] && break
    xdotool key Escape
  done
  [ "$(exports)" -gt "$before" ] || { echo "sync $i did not happen"; tail -5 "$WORK/helper.log"; break; }
  # Let the refresh after the run settle before sampling.
  if [ "$i" -eq 1 ] || [ $((i % EVERY)) -eq 0 ]; then sleep 1; report "$i"; fi
done
echo 30 >"$WORK/sim/export-delay.txt"
xdotool mousemove "$x" "$y" click 1
sleep 0.3
xdotool key Down Return
child=
for _ in $(seq 50); do child=$(pgrep -n -f '^/usr/bin/osascript .*kl[.]export' || true); [ -n "$child" ] && break; sleep 0.1; done
xdotool mousemove "$x" "$y" click 1
sleep 0.3
xdotool key Up Return  # the last item: "Quit Quillory Helper"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && { echo "[memory] the helper did not quit"; kill "$pid"; }
wait "$shell" 2>/dev/null
if [ -z "$child" ]; then
  echo "[memory] quit during an export: the export's script never started"
elif kill -0 "$child" 2>/dev/null && ! grep -q '^State:.*Z' "/proc/$child/status"; then
  echo "[memory] quit during an export: its script process $child outlived the helper"
  kill "$child"
else
  echo "[memory] quit during an export: its script process ended with the helper"
fi
kill $(jobs -p) 2>/dev/null
true
SH
)
WORK=$work HELPER=$helper SYNCS=$syncs EVERY=$every HEAPTRACK=$heaptrack \
  dbus-run-session -- xvfb-run -a -s "-screen 0 1024x600x24" bash -c "$inner"
echo "[memory] helper log: $work/helper.log"
[ -z "$heaptrack" ] || echo "[memory] profile: $(ls "$work"/heaptrack*)"
