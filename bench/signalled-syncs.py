#!/usr/bin/env python3
"""Ends `sync` runs with a termination signal at a random moment and checks
what every one leaves behind: no temporary file (".qh-*.tmp") anywhere in the
home folder, no pair split (in every destination the marker is the document's
"exportedAt" or a second later) and, when a run put a new document in place,
the records that follow it ("lastSyncDate" not older than that document).

    bench/signalled-syncs.py [--runs 300] [--build build/default] [--items 1000] [--seed S]

Against the simulated Kettle Ledger, with the sample library's items repeated
until the export is large enough (--items) that the writes fall into the
window where the signals come (150 to 400 ms after the start; SIGTERM, SIGINT
or SIGHUP at random), with an app container beside the iCloud folder. Each
run starts in a second of its own, so that a document and a marker of
different runs can never pass for a pair. Exit 1 on the first fault.
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time
from datetime import datetime
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SAMPLE = ROOT / "examples/sample-library"
NAME = "Finch Studio EUR"
SIGNALS = (signal.SIGTERM, signal.SIGINT, signal.SIGHUP)
STAMP = re.compile(rb'"exportedAt":"([0-9T:Z-]+)"')


def instant(text):
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ")


def make_export(state: Path, library: Path, items: int):
    sample = json.loads((SAMPLE / "export.json").read_text(encoding="utf-8").replace(
        "@LIBRARY@", json.dumps(str(library))[1:-1]))
    base = sample["items"]
    sample["items"] = [dict(base[i % len(base)], id=f"item-{i}") for i in range(items)]
    (state / "export.json").write_text(json.dumps(sample), encoding="utf-8")
    (state / "name.txt").write_text(NAME + "\n", encoding="utf-8")


def pairs(home: Path):
    """(folder, document bytes' "exportedAt", marker) of every published pair."""
    found = []
    for document in home.rglob("*.json"):
        if ".config" in document.parts:
            continue
        marker = document.with_name(document.name[:-len(".json")] + "_updated.txt")
        with open(document, "rb") as f:
            f.seek(max(0, document.stat().st_size - 4096))
            stamp = STAMP.findall(f.read())
        found.append((document, stamp[-1].decode() if stamp else None,
                      marker.read_text() if marker.exists() else None))
    return found


def check(home: Path, settings: Path, started: datetime):
    faults = [f"temporary file left: {p}" for p in home.rglob(".qh-*")]
    newest = None
    for document, stamp, marker in pairs(home):
        if stamp is None or marker is None:
            faults.append(f"{document}: document or marker unreadable ({stamp!r}, {marker!r})")
            continue
        lag = (instant(marker) - instant(stamp)).total_seconds()
        if not 0 <= lag <= 1:
            faults.append(f"{document}: split pair, exportedAt {stamp}, marker {marker}")
        if instant(stamp) >= started:
            newest = max(newest or instant(stamp), instant(stamp))
    if newest is not None:
        synced = json.loads(settings.read_text(encoding="utf-8")).get("lastSyncDate")
        if synced is None or instant(synced) < newest:
            faults.append(f"records not written: lastSyncDate {synced}, document of {newest}")
    return faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=300)
    parser.add_argument("--build", type=Path, default=ROOT / "build/default")
    parser.add_argument("--items", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    cli = args.build / "src/cli/quillory-helper-cli"
    sim = args.build / "tools/kettle-ledger-sim"
    with tempfile.TemporaryDirectory(prefix="quillory-signals.") as tmp:
        home, state, library = Path(tmp) / "home", Path(tmp) / "state", Path(tmp) / "libraries" / NAME
        for folder in (home, state, library):
            folder.mkdir(parents=True)
        prefs = home / "Library/Containers/X/Data/Library/Preferences"
        prefs.mkdir(parents=True)
        (prefs / "test.quillory.mobile.plist").write_text("<plist/>")
        make_export(state, library, args.items)
        env = dict(os.environ, HOME=str(home), KETTLE_LEDGER_SIM_DIR=str(state))
        env.pop("XDG_CONFIG_HOME", None)
        command = [str(cli), "sync", "--answer", "sync", "--osascript", str(sim), "--assume-host-running"]
        first = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True)
        if first.returncode != 0:
            sys.exit(f"the first sync failed ({first.returncode}): {first.stderr.decode()}")
        settings = home / ".config/quillory-helper/settings.json"
        outcomes = {}
        for run in range(1, args.runs + 1):
            time.sleep(1 - time.time() % 1 + 0.01)  # a second of its own
            started = datetime.utcfromtimestamp(int(time.time()))
            process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            number = rng.choice(SIGNALS)
            time.sleep(rng.uniform(0.150, 0.400))
            process.send_signal(number)
            status = process.wait(timeout=60)
            outcomes[status] = outcomes.get(status, 0) + 1
            faults = check(home, settings, started)
            # -number: the signal came before the program took it over (a
            # loaded machine may take that long to start it); the shell says 128 + number too.
            if status not in (0, 128 + number, -number):
                faults.append(f"exit status {status} after {number.name}")
            if faults:
                print(f"run {run} (seed {seed}, {number.name}):", *faults, sep="\n  ")
                sys.exit(1)
        print(f"{args.runs} signalled syncs (seed {seed}, {args.items} items, "
              f"{(state / 'export.json').stat().st_size // 1024} KiB export): no temporary file, no split pair, "
              f"records after every new document; exit statuses {dict(sorted(outcomes.items()))}")


if __name__ == "__main__":
    main()
