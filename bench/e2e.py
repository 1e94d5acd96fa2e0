#!/usr/bin/env python3
"""End-to-end benchmark of quillory-helper-cli over kettle-ledger-sim (run by bench/e2e.sh).

  e2e.py run --cli PATH --sim PATH [--baseline PATH] [--exports DIR] [--rounds N] [--no-scan]
      generates the exports, times whole `sync` runs against the copy limit and
      beside Python's json doing the same transform with the same durable writes,
      and prints the figures; --baseline times another build's CLI in the same
      run, round by round beside the first; --exports keeps the generated
      exports in DIR and reuses them
  e2e.py export SHAPE ITEMS FILE LIBRARY
      writes one generated export
  e2e.py transform EXPORT NAME FOLDER...
      the Python reference: parse, reduce the items, serialise compact, then a
      durable atomic write of the document and its marker into each folder
  e2e.py copy EXPORT SOURCE TARGET [SOURCE TARGET]...
      the copy limit: reads the export once, then writes each SOURCE file's bytes
      (read before the clock starts) to TARGET, durably and atomically; prints
      the wall and CPU seconds

Shapes (compact JSON, as the host writes it): "dropped" (100 MB, most bytes in
long strings the helper drops: OCR text, edit history), "kept" (74 MB, most bytes
in kept numbers and short arrays), "small" (40 items).
Marginal throughput = (median time of the big export - median time of the small
one) / (difference of their sizes). The copy limit is what no sync can beat:
read the export once and write the helper's own output bytes (its 3 documents
and 3 markers) to the same places with the same fsync and rename; the share is
the helper's marginal throughput over the limit's. Peak RSS is the largest
resident size of the `sync` process (getrusage of the child; the simulator it
runs and reaps is far smaller).
"""
import argparse
import datetime
import json
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

KEEP = {"id", "date", "datePayment", "contact", "category", "amounts", "amountsOriginal", "tags",
        "notes", "isCredit", "isDocument", "isPaid", "isConfirmed", "isMarked", "asset", "title"}
WORDS = ("invoice receipt total tax net gross studio paper toner coffee train hotel fuel parking "
         "software hosting licence phone internet books printing lunch dinner taxi flight").split()


def item(rng, i, shape, library):
    ident = "%08X-%04X-%04X-%04X-%012X" % (rng.getrandbits(32), rng.getrandbits(16), rng.getrandbits(16),
                                          rng.getrandbits(16), rng.getrandbits(48))
    gross = round(rng.uniform(1, 5000), 2)
    net = round(gross / 1.19, 2)
    amounts = {"gross": gross, "net": net, "tax": round(gross - net, 2), "taxRate": 19, "currency": "EUR"}
    it = {
        "_pk": 1000 + i, "id": ident, "title": " ".join(rng.choice(WORDS) for _ in range(3)),
        "date": "2026-%02d-%02dT08:00:00Z" % (1 + i % 12, 1 + i % 28), "datePayment": None,
        "contact": rng.choice(WORDS).title() + " GmbH", "category": rng.choice(WORDS).title(),
        "amountsOriginal": dict(amounts), "amounts": amounts, "tags": [rng.choice(WORDS)], "notes": "",
        "isCredit": False, "isDocument": True, "isPaid": i % 3 != 0, "isConfirmed": True, "isMarked": False,
        "asset": {"path": "%s/assets/2026/%s.pdf" % (library, ident), "type": "application/pdf", "pages": 1,
                  "size": rng.randrange(10000, 900000)},
        "thumbnail": "%s/.thumbnails/%s.png" % (library, ident),
    }
    if shape == "dropped":
        it["ocrText"] = " ".join(rng.choice(WORDS) for _ in range(rng.randrange(300, 700)))
        it["history"] = ["%s edited %s" % (ident, " ".join(rng.choice(WORDS) for _ in range(40)))
                         for _ in range(3)]
    elif shape == "kept":
        # Line items as short numeric arrays inside the kept amounts, and more tags.
        amounts["lines"] = [[rng.randrange(1, 20), round(rng.uniform(0, 500), 2), round(rng.uniform(0, 95), 2), 19]
                            for _ in range(rng.randrange(40, 90))]
        it["tags"] = [rng.choice(WORDS) for _ in range(rng.randrange(2, 8))]
    return it


def export(shape, count, path, library):
    rng = random.Random(7)
    items = [item(rng, i, shape, library) for i in range(count)]
    doc = {"format": "kettleledger.export", "version": 4, "libraryName": "Bench", "baseCurrency": "EUR",
           "exportedAt": "2026-12-01T09:00:00Z", "categories": sorted(set(WORDS)), "items": items}
    with open(path, "w", encoding="utf-8") as out:
        json.dump(doc, out, ensure_ascii=False, separators=(",", ":"))
        out.write("\n")


def durable_write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    temporary = os.path.join(folder, ".tmp-" + name)
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
        os.fsync(fd)
    finally:
        os.close(fd)
    os.rename(temporary, os.path.join(folder, name))
    directory = os.open(folder, os.O_RDONLY)
    try:
        os.fsync(directory)
    finally:
        os.close(directory)


def transform(export_path, name, folders):
    with open(export_path, "rb") as source:
        doc = json.loads(source.read().decode("utf-8").strip())
    items = doc["items"]
    library_path = ""
    for it in items:
        path = (it.get("asset") or {}).get("path") if isinstance(it.get("asset"), dict) else None
        if isinstance(path, str) and "/assets/" in path:
            library_path = path[:path.index("/assets/")]
            break
    currency = "eur"
    filename = name.lower().replace(" ", "-").replace("-" + currency, "") + "-" + currency
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    doc["items"] = [{k: v for k, v in it.items() if k in KEEP} for it in items]
    doc.update(libraryName=name, currencyCode=currency.upper(), exportedAt=now, libraryPath=library_path)
    data = json.dumps(doc, ensure_ascii=False, separators=(",", ":")).replace("/", "\\/").encode("utf-8")
    marker = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ").encode()
    for folder in folders:
        durable_write(folder, filename + ".json", data)
        durable_write(folder, filename + "_updated.txt", marker)


def copy(export_path, pairs):
    sources = []
    for source, target in pairs:
        with open(source, "rb") as data:
            sources.append((data.read(), target))
    start, cpu = time.perf_counter(), time.process_time()
    fd = os.open(export_path, os.O_RDONLY)
    try:
        while os.read(fd, 1 << 20):
            pass
    finally:
        os.close(fd)
    for data, target in sources:
        durable_write(os.path.dirname(target), os.path.basename(target), data)
    print("%.6f %.6f" % (time.perf_counter() - start, time.process_time() - cpu))


def containers(root, count, files):
    per = files // count
    for c in range(count):
        data = os.path.join(root, "%08X-BENCH-%04d" % (c * 2654435761 % 2**32, c), "Data")
        prefs = os.path.join(data, "Library", "Preferences")
        os.makedirs(prefs)
        bundle = "test.quillory.mobile" if c == count // 2 else "org.example.app%d" % c
        open(os.path.join(prefs, bundle + ".plist"), "w").close()
        made = 1
        sub = 0
        while made < per:
            folder = os.path.join(data, "Library", "Caches" if sub % 2 else "Application Support", "d%d" % sub)
            os.makedirs(folder)
            for f in range(min(40, per - made)):
                open(os.path.join(folder, "f%d.dat" % f), "w").close()
                made += 1
            sub += 1


def timed(command, env=None):
    """Wall seconds, CPU seconds (user + system, with the children it reaped: the
    simulator) and peak resident MB of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    error = child.stderr.read().decode(errors="replace")
    child.stderr.close()
    if child.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (child.returncode, " ".join(command), error))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


class Helper:
    """A throw-away home with the container Documents folder and one app container."""

    def __init__(self, work, cli, sim, name):
        self.home = os.path.join(work, "home")
        self.state = os.path.join(work, "sim")
        self.cli, self.sim = cli, sim
        os.makedirs(self.state, exist_ok=True)
        prefs = os.path.join(self.home, "Library/Containers/BENCH/Data/Library/Preferences")
        os.makedirs(prefs, exist_ok=True)
        open(os.path.join(prefs, "test.quillory.mobile.plist"), "w").close()
        with open(os.path.join(self.state, "name.txt"), "w") as out:
            out.write(name + "\n")
        self.folders = [os.path.join(self.home, "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents"),
                        os.path.join(self.home, "Library/Containers/BENCH/Data/Documents")]

    def use(self, export_file):
        target = os.path.join(self.state, "export.json")
        if os.path.lexists(target):
            os.unlink(target)
        os.symlink(export_file, target)

    def sync(self, home=None, cli=None):
        env = {k: v for k, v in os.environ.items() if k != "XDG_CONFIG_HOME"}
        env.update(HOME=home or self.home, KETTLE_LEDGER_SIM_DIR=self.state)
        return timed([cli or self.cli, "sync", "--answer", "sync", "--osascript", self.sim, "--assume-host-running"],
                     env)

    def outputs(self):
        """The files a sync writes: (path, size), the documents first."""
        names = ["bench-eur.json", "bench-eur_updated.txt"]
        paths = [os.path.join(self.folders[0], name) for name in names]
        paths += [os.path.join(self.folders[1], name) for name in names + ["eur.json", "eur_updated.txt"]]
        return sorted(paths, key=lambda path: not path.endswith(".json"))


def median(values):
    return statistics.median(values)


def load():
    return "load average %.1f %.1f %.1f" % os.getloadavg()


def run(options):
    work = tempfile.mkdtemp(prefix="quillory-e2e.")
    try:
        name = "Bench EUR"
        exports_folder = options.exports or work
        library = os.path.join(exports_folder, "Libraries", name)
        helper = Helper(work, options.cli, options.sim, name)
        exports = {}
        for shape, count in (("small", 40), ("dropped", 20000), ("kept", 36000)):
            exports[shape] = os.path.join(exports_folder, shape + ".json")
            if os.path.exists(exports[shape]):
                continue
            # In a child process: this one stays small, so the peak memory of the
            # processes it starts is their own (Linux counts a forked parent's peak).
            subprocess.run([sys.executable, os.path.abspath(__file__), "export", shape, str(count), exports[shape],
                            library], check=True)
        sizes = {shape: os.path.getsize(path) for shape, path in exports.items()}
        python_folders = [os.path.join(work, "python", str(i)) for i in range(3)]
        me = os.path.abspath(__file__)
        clis = {"helper": options.cli}
        if options.baseline:
            clis["baseline"] = options.baseline
        print("machine: %d cores, %s at the start" % (os.cpu_count(), load()))

        results = {}  # (cli, shape) -> wall times, CPU times, peaks
        limits, documents, python = {}, {}, {}
        for shape in ("small", "dropped", "kept"):
            helper.use(exports[shape])
            for cli in clis.values():
                helper.sync(cli=cli)  # the first sync of the shape: records, first answer, caches warm
            for _ in range(options.rounds):
                for label, cli in clis.items():  # round by round, so both see the same load
                    results.setdefault((label, shape), []).append(helper.sync(cli=cli))
            outputs = helper.outputs()
            documents[shape] = os.path.getsize(outputs[0])
            pairs = []
            for path in outputs:
                pairs += [path, path]
            limit_runs = [subprocess.run([sys.executable, me, "copy", exports[shape]] + pairs, check=True,
                                         capture_output=True, text=True).stdout.split()
                          for _ in range(options.rounds)]
            limits[shape] = (median([float(r[0]) for r in limit_runs]), median([float(r[1]) for r in limit_runs]))
            python[shape] = [timed([sys.executable, me, "transform", exports[shape], name] + python_folders)
                             for _ in range(options.rounds)]

        print("End to end: quillory-helper-cli sync over kettle-ledger-sim (export -> 3 documents + 3 markers,")
        print("durable atomic writes) against the copy limit and beside Python %s json (same transform, same"
              " writes); median of %d." % (platform.python_version(), options.rounds))
        small = {label: median([r[0] for r in results[(label, "small")]]) for label in clis}
        python_small = median([r[0] for r in python["small"]])
        for shape, label in (("dropped", "mostly dropped strings"), ("kept", "mostly kept numbers/arrays")):
            extra = sizes[shape] - sizes["small"]
            limit_rate = sizes[shape] / limits[shape][0] / 1e6
            python_rate = extra / (median([r[0] for r in python[shape]]) - python_small) / 1e6
            print("  %s, %.1f MB export, %.1f MB document: copy limit %.3f s (CPU %.3f s) %4.0f MB/s | python"
                  " %4.0f MB/s" % (label, sizes[shape] / 1e6, documents[shape] / 1e6, limits[shape][0], limits[shape][1],
                                   limit_rate, python_rate))
            for cli in clis:
                runs = results[(cli, shape)]
                wall = median([r[0] for r in runs])
                rate = extra / (wall - small[cli]) / 1e6
                peak = max(r[2] for r in runs)
                print("    %-8s %5.3f s (CPU %5.3f s) %4.0f MB/s = %.2f of the limit, %.1fx python; peak RSS %4.0f MB"
                      " (document + %.0f MB)" % (cli, wall, median([r[1] for r in runs]), rate, rate / limit_rate,
                                                 rate / python_rate, peak, peak - documents[shape] / 2**20))
        rounds = max(5, options.rounds)
        small_runs = {label: [] for label in clis}
        helper.use(exports["small"])
        for _ in range(rounds):
            for label, cli in clis.items():
                small_runs[label].append(helper.sync(cli=cli)[0])
        print("  small library (40 items, %.0f KB), whole sync (median of %d): %s"
              % (sizes["small"] / 1e3, rounds,
                 ", ".join("%s %.0f ms" % (label, median(times) * 1000) for label, times in small_runs.items())))

        if options.scan:
            scan_home = os.path.join(work, "scan-home")
            root = os.path.join(scan_home, "Library/Containers")
            containers(root, 500, 240000)
            with_tree = [helper.sync(scan_home)[1] for _ in range(options.rounds + 1)][1:]
            without = [helper.sync()[1] for _ in range(options.rounds)]
            find = [timed(["find", root, "-name", "test.quillory.mobile.plist", "-path", "*/Preferences/*"])[1]
                    for _ in range(options.rounds)]
            print("  app-container scan, 500 containers / 240,000 files: %.3f s CPU per sync (sync CPU with the"
                  " tree minus without), find %.3f s CPU" % (median(with_tree) - median(without), median(find)))
        print("machine: %s at the end" % load())
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "transform":
        transform(sys.argv[2], sys.argv[3], sys.argv[4:])
        sys.exit(0)
    if len(sys.argv) > 1 and sys.argv[1] == "copy":
        copy(sys.argv[2], list(zip(sys.argv[3::2], sys.argv[4::2])))
        sys.exit(0)
    if len(sys.argv) > 1 and sys.argv[1] == "export":
        export(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
        sys.exit(0)
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=["run"])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--baseline", help="another build's quillory-helper-cli, timed in the same run")
    parser.add_argument("--exports", help="a folder to keep the generated exports in and reuse them from")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--no-scan", dest="scan", action="store_false")
    run(parser.parse_args())
