#!/usr/bin/env bash
# What the running helper costs while idle: CPU time and wake-ups of the real
# tray application (quillory-helper) over some minutes,
#   (a) "stopped": Kettle Ledger not running;
#   (b) "running": the simulated Kettle Ledger running, so that every
#       10-second check runs the library-name script.
#
# Each case runs in its own temporary home folder, X server (xvfb-run, with
# openbox and tint2 as the tray) and private session bus (dbus-run-session).
# "Running" means the bus name test.kettleledger.desktop2 has an owner, as
# the helper's Linux workspace reads it; a small python3-dbus process owns it.
# The helper always runs /usr/bin/osascript; for (b) that path is given the
# simulator (tools/kettle-ledger-sim, answering from examples/sample-library)
# through an overlay mount in a mount namespace of the helper's own, so
# nothing changes outside it (needs root; without it the script launch fails
# at once and the figure shows only the helper's side).
#
# The library is opted in beforehand, so no first-sync alert waits for a
# click; with auto-sync on, (b) makes one export three minutes after the
# host appears, as the helper does once per activation.
#
# Figures, from /proc after a warm-up: the helper's own CPU (utime+stime of
# all its threads, exited ones included), its reaped children's CPU
# (cutime+cstime: the scripts), and context switches (voluntary and
# involuntary, summed over its threads, sampled every half second so that
# short-lived worker threads are counted too), each also per hour.
#
# Usage: scripts/idle-cost.sh [--minutes N] [--case stopped|running|both]
#                             [--warmup SECONDS] [--build DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/helper-settings.sh

minutes=10
which_case=both
warmup=30
build=build/idle
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) minutes=$2; shift 2 ;;
    --case) which_case=$2; shift 2 ;;
    --warmup) warmup=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: $0 [--minutes N] [--case stopped|running|both] [--warmup S] [--build DIR]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh
buildlog=$(mktemp /tmp/quillory-idle-build-XXXXXX.log)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORY_BUILD_TESTS=OFF \
    -DQUILLORY_BUILD_BENCH=OFF -DQUILLORY_BUILD_QT=ON >"$buildlog" 2>&1 || { cat "$buildlog"; exit 1; }
fi
cmake --build "$build" --target quillory-helper kettle-ledger-sim -j2 >"$buildlog" 2>&1 || { cat "$buildlog"; exit 1; }
rm -f "$buildlog"
helper=$(realpath "$build/src/app/quillory-helper")
sim=$(realpath "$build/tools/kettle-ledger-sim")

# Samples a process for a while and prints its figures (python3 of the
# system, which also has the dbus module used below).
sampler=$(mktemp /tmp/quillory-idle-sampler-XXXXXX.py)
owner=$(mktemp /tmp/quillory-idle-owner-XXXXXX.py)
trap 'rm -f "$sampler" "$owner"' EXIT
cat >"$sampler" <<'PY'
import os, sys, time
pid, minutes, warmup, label, log = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]), sys.argv[4], sys.argv[5]
hz = os.sysconf("SC_CLK_TCK")

def stat():
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # fields[0] is the state (field 3): utime is field 14, so index 11.
    return {"utime": int(fields[11]), "stime": int(fields[12]), "cutime": int(fields[13]),
            "cstime": int(fields[14]), "threads": int(fields[17])}

def switches():
    counts = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                v = n = 0
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"): v = int(line.split()[1])
                    elif line.startswith("nonvoluntary_ctxt_switches"): n = int(line.split()[1])
            counts[tid] = (v, n)
        except OSError:
            pass
    return counts

def status(key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key): return line.split(":", 1)[1].strip()

def exports():
    try:
        with open(log, encoding="utf-8", errors="replace") as f:
            return sum(1 for line in f if "Export OK" in line or "Export failed" in line)
    except OSError:
        return 0

time.sleep(warmup)
s0, t0, e0 = stat(), time.monotonic(), exports()
rss0, fds0 = status("VmRSS"), len(os.listdir(f"/proc/{pid}/fd"))
baseline = switches()
latest = dict(baseline)
born = set()
end = t0 + minutes * 60
while time.monotonic() < end:
    for tid, c in switches().items():
        if tid not in baseline:
            baseline[tid] = (0, 0)
            born.add(tid)
        latest[tid] = c
    time.sleep(0.5)
s1, t1 = stat(), time.monotonic()
hours = (t1 - t0) / 3600
own = (s1["utime"] + s1["stime"] - s0["utime"] - s0["stime"]) / hz
children = (s1["cutime"] + s1["cstime"] - s0["cutime"] - s0["cstime"]) / hz
voluntary = sum(latest[t][0] - baseline[t][0] for t in latest)
involuntary = sum(latest[t][1] - baseline[t][1] for t in latest)
print(f"[idle] case {label}: {(t1 - t0) / 60:.1f} min measured after a {warmup:.0f} s warm-up")
print(f"[idle]   helper CPU:   {own:.2f} s  = {own / hours:.2f} s per hour")
print(f"[idle]   scripts' CPU: {children:.2f} s  = {children / hours:.2f} s per hour (reaped children)")
total = own + children
share = (100 * children / total) if total > 0 else 0
print(f"[idle]   together:     {total:.2f} s  = {total / hours:.2f} s per hour ({total / hours / 36:.4f} % of one core); children {share:.0f} %")
print(f"[idle]   context switches: {voluntary} voluntary + {involuntary} involuntary = "
      f"{(voluntary + involuntary) / hours:.0f} per hour ({(voluntary + involuntary) / (t1 - t0):.2f} per second)")
print(f"[idle]   threads: {s0['threads']} at start, {s1['threads']} at end, {len(born)} started meanwhile")
print(f"[idle]   RSS {rss0} -> {status('VmRSS')}; fds {fds0} -> {len(os.listdir(f'/proc/{pid}/fd'))}; "
      f"exports meanwhile: {exports() - e0}")
PY
cat >"$owner" <<'PY'
import sys, time, dbus
bus = dbus.SessionBus()
if bus.request_name("test.kettleledger.desktop2", dbus.bus.NAME_FLAG_DO_NOT_QUEUE) != dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
    sys.exit("could not own test.kettleledger.desktop2")
print("owner ready", flush=True)
while True:
    time.sleep(3600)
PY

run_case() {
  local label=$1
  local work
  work=$(mktemp -d "/tmp/quillory-idle-$label-XXXXXX")
  mkdir -p "$work/home/.config/quillory-helper" "$work/sim" "$work/bin"
  cp examples/sample-library/export.json "$work/sim/export.json"
  cp examples/sample-library/name.txt "$work/sim/name.txt"
  cp "$sim" "$work/bin/osascript"
  local name
  name=$(head -n1 examples/sample-library/name.txt)
  write_helper_settings "$work/home/.config/quillory-helper/settings.json" \
    autoSyncEnabled=true "sync_library_$name=true"
  # Inside the private X server and session bus.
  local inner
  inner=$(cat <<'SH'
set -u
openbox >/dev/null 2>&1 &
tint2 >/dev/null 2>&1 &
sleep 2
if [ "$LABEL" = running ]; then
  /usr/bin/python3 "$OWNER" >"$WORK/owner.log" 2>&1 &
  sleep 1
fi
launch='mount -t overlay overlay -o "lowerdir=$WORK/bin:/usr/bin" /usr/bin 2>/dev/null || echo "no overlay: /usr/bin/osascript stays missing" >&2; exec "$HELPER"'
HOME="$WORK/home" XDG_CONFIG_HOME= KETTLE_LEDGER_SIM_DIR="$WORK/sim" \
  unshare -m sh -c "$launch" >"$WORK/helper.log" 2>&1 &
pid=$!
sleep 1
/usr/bin/python3 "$SAMPLER" "$pid" "$MINUTES" "$WARMUP" "$LABEL" "$WORK/helper.log"
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
kill $(jobs -p) 2>/dev/null
true
SH
)
  LABEL=$label WORK=$work OWNER=$owner SAMPLER=$sampler HELPER=$helper MINUTES=$minutes WARMUP=$warmup \
    dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24" bash -c "$inner" >"$work/report.txt" 2>&1 || true
  cat "$work/report.txt"
  echo "[idle]   helper log: $work/helper.log"
}

case "$which_case" in
  stopped | running) run_case "$which_case" ;;
  both)
    run_case stopped >"/tmp/quillory-idle-stopped.out" 2>&1 &
    run_case running >"/tmp/quillory-idle-running.out" 2>&1 &
    wait
    cat /tmp/quillory-idle-stopped.out /tmp/quillory-idle-running.out
    ;;
  *) echo "--case is stopped, running or both" >&2; exit 2 ;;
esac
