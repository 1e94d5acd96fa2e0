#!/usr/bin/python3
"""Random histories of the real quillory-helper-cli and kettle-ledger-sim in
a throw-away home, with the helper's promises checked after every step (the
steps and the promises: docs/DEVELOPMENT.md, "End-to-end tests").

    promises.py --cli PATH --sim PATH [--examples N] [--seed S] [--steps N]
                [--histories passing|awaiting-fixes|all]
"""

import argparse
import contextlib
import fcntl
import functools
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unicodedata
from pathlib import Path

from hypothesis import HealthCheck, Phase, seed as hyp_seed, settings, strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule, run_state_machine_as_test
from hypothesis.errors import Flaky

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "e2e"))
from sandbox import (DOCUMENTS, SETTINGS, command, environment, make_folders, processes_of,  # noqa: E402
                     restore_termination_signals)

CLI = SIM = None
PROGRESS = 0  # report every this many histories on standard error
TIMEOUT = 60
LISTED_STATUSES = {0, 1, 2, 64, 73, 75}
SIGNALS = {"TERM": signal.SIGTERM, "INT": signal.SIGINT, "HUP": signal.SIGHUP, "KILL": signal.SIGKILL}
PREFERENCES = "Data/Library/Preferences/test.quillory.mobile.plist"
SLOW_DISK = bool(shutil.which("strace"))  # a slow disk is made with strace

LONG = "Ledger " + "x" * 250
# (name the host reports or None, folder under libraries/ or None, item currency)
LIBRARIES = [
    ("Finch EUR", "Work/Finch EUR", "EUR"),
    ("Finch EUR", "Home/Finch EUR", "EUR"),          # same name, other folder
    ("finch eur", None, "EUR"),                       # differs in case, no folder
    ("Finch-EUR", "Home/Finch-EUR", "EUR"),           # same file name
    ("Caf\u00e9 CHF", "Work/Cafe", "CHF"),
    (unicodedata.normalize("NFD", "Caf\u00e9 CHF"), None, "CHF"),
    ("Finch Studio", "Work/Finch EUR", "EUR"),        # renamed, folder shared
    (None, "Home/Finch EUR", "EUR"),                  # the host names none
    (LONG + "a", "Work/Long", "\u20ac"),              # cut to fit, odd currency
    (LONG + "b", "Home/Long", "\u20ac"),
    ("Odd", "Home/Odd", "../../../evil"),             # a currency that is a path
    ("Odd", None, "finch-eur"),                       # whose currency pair is another's document
]
NAMES = sorted({n for n, _, _ in LIBRARIES if n} | {"Finch Studio EUR", "finch studio eur"})


def canon(name):
    return unicodedata.normalize("NFC", name or "")


def export_text(folder, currency, items):
    base = f"{folder}/assets" if folder else "/private/files"
    return json.dumps({"format": "kettleledger.export", "version": 4, "exportedAt": "2026-12-01T09:00:00Z",
                       "items": [{"id": f"I{i}", "title": "x" * 40, "date": "2026-09-01T08:00:00Z",
                                  "amounts": {"gross": i, "currency": currency}, "ocrText": "dropped",
                                  "asset": {"path": f"{base}/{i}.pdf"}} for i in range(items)]})


# The colliding ones more often.
LIBRARY = st.sampled_from([0, 1, 2] * 3 + list(range(len(LIBRARIES))))


def step(**strategies):
    """A rule whose calls are kept, to print the first history that broke a
    promise (also when timing keeps Hypothesis from shrinking it)."""
    def make(function):
        @functools.wraps(function)
        def run_step(self, **arguments):
            self.steps.append((function.__name__, arguments))
            return function(self, **arguments)
        return rule(**strategies)(run_step)
    return make


def none_left(left, what):
    if left:
        raise Violation(f"{what}: {left}")


class Violation(AssertionError):
    first_at = first_history = None  # the history in which a promise first broke, and its steps

    def __init__(self, message):
        super().__init__(message)
        if Violation.first_at is None:
            Violation.first_at, Violation.first_history, Violation.first_message = \
                Promises.histories, list(Promises.current.steps), message


class Promises(RuleBasedStateMachine):
    histories = 0  # started in this process, for the report of a failure

    def __init__(self):
        super().__init__()
        Promises.histories += 1
        Promises.current, self.steps = self, []
        if PROGRESS and Promises.histories % PROGRESS == 0:
            print(f"{time.strftime('%H:%M:%S')} {Promises.histories} histories", file=sys.stderr, flush=True)
        self.tmp = tempfile.TemporaryDirectory(prefix="quillory-promises.")
        self.home, self.state, self.libs = make_folders(Path(self.tmp.name))
        self.settings_file = self.home / SETTINGS
        self.kept = {}            # settings another writer stored: key -> value
        self.said = {}            # what the user said for each library: name -> bool
        # killed: a SIGKILL may leave what a clean end never does; linked: the
        # settings file was made a link; switched_off: (name, time) of a
        # switch-off stored during this step.
        self.killed = self.linked = False
        self.open_index = self.switched_off = None
        self.before, self.settings_before = self.published(), {}

    def teardown(self):
        self.end_scripts()
        self.tmp.cleanup()

    def end_scripts(self, spare=()):
        """Kills the scripts a run left and waits until they are gone: one
        still seen, or one that ended on its own meanwhile, must not make a
        history break a promise or fail only sometimes."""
        deadline = time.monotonic() + 10
        while (left := [p for p in processes_of(self.state) if p not in spare]) and time.monotonic() < deadline:
            for pid in left:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, signal.SIGKILL)
            time.sleep(0.01)

    # The simulator reads these files of its state folder while a step runs
    # (a delay, a fault, a cut); they go when the step ends.
    @contextlib.contextmanager
    def host_files(self, texts):
        for name, text in texts.items():
            (self.state / name).write_text(text)
        try:
            yield
        finally:
            for name in texts:
                (self.state / name).unlink(missing_ok=True)

    # ---- the programs -----------------------------------------------------------
    def start(self, *args, slow_disk=False):
        # A slow disk: every file opened or renamed returns late (strace holds
        # the call's return), so what happens between two calls can be seen.
        slow = ["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=openat,rename",
                "-e", "inject=openat:delay_exit=50000", "-e", "inject=rename:delay_exit=300000"]
        env = environment(self.home, self.state)
        if slow_disk:  # LeakSanitizer (instrumented builds) cannot work under ptrace
            env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        run = subprocess.Popen([*(slow if slow_disk else []), *command(CLI, SIM, *args)], env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               text=True, errors="replace")
        run.command = args[0]
        return run

    def finish(self, run, expect_signal=None):
        try:
            out, err = run.communicate(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            run.kill()
            run.communicate()
            raise Violation(f"{run.command} did not end within {TIMEOUT} s")
        status = run.returncode
        # After a signal, a listed status: its work was done (also a failure it
        # reported, which a stopping program no longer prints) when the signal
        # came; the signal itself: it came before the program could catch it.
        if status not in LISTED_STATUSES | ({-expect_signal, 128 + expect_signal} if expect_signal else set()):
            raise Violation(f"{run.command}: exit status {status} is not a listed one\n{out}{err}")
        if status in (1, 64, 73, 75) and not err.strip():
            raise Violation(f"{run.command} failed with {status} and said nothing on standard error\n{out}")
        asked = re.search(r'^Sync "(.*)" with Quillory\?$', err, re.M)
        if asked and "--answer" in run.args:  # what the user said to the question
            self.said[canon(asked[1])] = run.args[run.args.index("--answer") + 1] == "sync"
            self.forget_kept(lambda key: canon(key[13:]) == canon(asked[1]))  # forgotten, asked again
        return status, out, err

    def cli(self, *args):
        return self.finish(self.start(*args))

    # ---- what is on disk ---------------------------------------------------------
    def destinations(self):
        return [self.home / DOCUMENTS] + sorted(c / "Data/Documents" for c in self.home.glob("Library/Containers/*")
                                                if (c / PREFERENCES).exists())

    def published(self):
        """Every document in every destination: path -> (name, folder, currency, bytes)."""
        found = {}
        for folder in self.destinations():
            for doc in folder.glob("*.json"):
                data = doc.read_bytes()
                try:
                    parsed = json.loads(data)
                except ValueError:
                    raise Violation(f"{doc} is not a whole JSON document")
                found[doc] = (parsed.get("libraryName"), parsed.get("libraryPath") or None,
                              str(parsed.get("currencyCode", "")).lower(), data, parsed.get("exportedAt"))
        return found

    def settings(self):
        if not self.settings_file.exists():
            return {}
        try:
            value = json.loads(self.settings_file.read_bytes())
        except ValueError as error:
            raise Violation(f"the settings file does not parse: {error}")
        if not isinstance(value, dict):
            raise Violation("the settings file is not a JSON object")
        return value

    def answer(self, name, settings=None):
        settings = self.settings() if settings is None else settings
        return next((v for k, v in settings.items()
                     if k.startswith("sync_library_") and canon(k[13:]) == canon(name)), None)

    # ---- steps --------------------------------------------------------------------
    @step(index=LIBRARY,
          items=st.sampled_from([2] * 5 + [3000]))
    def open_library(self, index, items):
        self.open(index, items)

    def open(self, index, items=2):
        name, folder, currency = LIBRARIES[index]
        path = self.libs / folder if folder else None
        if path:
            path.mkdir(parents=True, exist_ok=True)
        if name is None:
            (self.state / "name.txt").unlink(missing_ok=True)
        else:
            (self.state / "name.txt").write_text(name + "\n", encoding="utf-8")
        (self.state / "export.json").write_text(export_text(path, currency, items), encoding="utf-8")
        self.open_index = index

    # Opening a library and syncing it is the common pair of steps: one here
    # (index None: the library already open).
    @step(answer=st.sampled_from(["sync", "sync", "dont-sync", None]), index=st.one_of(st.none(), LIBRARY))
    def sync(self, answer, index=None):
        if index is not None:
            self.open(index)
        if self.cli("sync", *(["--answer", answer] if answer else []))[0] == 0:
            # Its checks and its export (which scans the app containers) end
            # every switch-off left half done, also one another writer stored.
            settings = self.settings()
            none_left([p for p, (n, *_) in self.published().items() if settings.get(f"sync_library_{n}") is False],
                      "a sync exited 0 and left switched-off libraries' documents")

    # The host not running, not letting itself be controlled, or killed
    # before it answered.
    @step(fault=st.sampled_from(["not-running", "not-authorized", "cut.txt"]))
    def sync_with_a_host_fault(self, fault):
        with self.host_files({fault: "0 dies" if fault == "cut.txt" else ""}):
            self.cli("sync", "--answer", "sync")

    # No change can be stored while a folder stands where the settings lock
    # belongs: every command that would store one fails and changes nothing.
    @step(present=st.booleans())
    def settings_lock_in_the_way(self, present):
        lock = Path(str(self.settings_file) + ".lock")
        if present and not lock.is_dir():
            lock.unlink(missing_ok=True)
            (lock / "keep").mkdir(parents=True)
        elif not present:
            shutil.rmtree(lock, ignore_errors=True)

    @step(command=st.sampled_from(["status", "libraries"]))
    def read_only_command(self, command):
        file = self.settings_file
        stamp = lambda: file.exists() and (file.read_bytes(), file.stat().st_mtime_ns)  # noqa: E731
        before = stamp()
        status, out, err = self.cli(command)
        if (status, stamp()) != (0, before) or "\u2717" in out + err:  # it only reads: nothing to fail at
            raise Violation(f"{command} exited {status}, changed the settings or reported a failure: {out + err}")

    @step()
    def two_syncs_at_once(self):
        # The name script is slowed too: a library switched off is skipped
        # before any export, and the first run must still hold the lock when
        # the second starts.
        with self.host_files({"export-delay.txt": "1", "name-delay.txt": "0.3"}):
            first = self.start("sync", "--answer", "sync")
            time.sleep(0.1)
            statuses = [self.finish(run)[0] for run in (self.start("sync", "--answer", "sync"), first)]
        if statuses.count(75) != 1:
            raise Violation(f"two syncs at once, not one refused: {statuses}")

    @step(name=st.sampled_from(NAMES + ["Finch EUR"] * 3), command=st.sampled_from(["enable", "disable", "disable"]))
    def switch(self, name, command):
        if self.cli(command, name, "--yes")[0] == 0:
            self.said[canon(name)] = command == "enable"
            if command == "disable":
                none_left([p for p, (n, *_) in self.published().items() if canon(n) == canon(name)],
                          f"disable {name!r} exited 0 and left")
        self.forget_kept(lambda key: canon(key[13:]) == canon(name))

    @step()
    def prune(self):
        self.cli("prune")
        settings = self.settings()
        self.forget_kept(lambda key: key not in settings)

    def forget_kept(self, user_changed):
        """The user's own later word on an answer replaces another writer's."""
        self.kept = {k: v for k, v in self.kept.items() if not (k.startswith("sync_library_") and user_changed(k))}

    @step(folder=st.sampled_from(sorted({f for _, f, _ in LIBRARIES if f})))
    def delete_folder(self, folder):
        shutil.rmtree(self.libs / folder, ignore_errors=True)

    @step(pick=st.integers(0, 5))
    def phone_deletes_icloud_copy(self, pick):
        docs = sorted((self.home / DOCUMENTS).glob("*.json"))
        if docs:
            doc = docs[pick % len(docs)]
            doc.unlink()
            self.before.pop(doc, None)
            Path(str(doc)[:-5] + "_updated.txt").unlink(missing_ok=True)

    @step(container=st.sampled_from(["A", "B"]), present=st.booleans())
    def app_container(self, container, present):
        preferences = self.home / "Library/Containers" / container / PREFERENCES
        if present:
            preferences.parent.mkdir(parents=True, exist_ok=True)
            preferences.write_bytes(b"")
        else:
            shutil.rmtree(self.home / "Library/Containers" / container, ignore_errors=True)

    # Another writer of the settings file: a script by the protocol (flock on
    # "<file>.lock" beside the file it writes, read, change, rename), the same
    # through a link to a file kept elsewhere, or an editor that saves in
    # place, in two pieces, taking no lock.
    def other_writer(self, way, key, value, hold=0.0):
        self.settings_file.parent.mkdir(parents=True, exist_ok=True)
        if way == "link" and not self.settings_file.is_symlink():
            target = self.home / "dotfiles/quillory.json"
            target.parent.mkdir(exist_ok=True)
            if self.settings_file.exists():
                os.replace(self.settings_file, target)
            else:
                target.write_text("{}")
            self.settings_file.symlink_to(target)
            self.linked = True
        real = self.settings_file.resolve()
        if Path(str(real) + ".lock").is_dir():
            return  # a folder where the lock belongs: no writer that keeps the protocol can write
        with open(str(real) + ".lock", "a") as lock:
            if way != "in place":
                fcntl.flock(lock, fcntl.LOCK_EX)
            settings = self.settings()
            settings[key] = value
            text = json.dumps(settings, ensure_ascii=False, indent=1).encode()
            if way == "in place":
                with open(real, "r+b") as out:
                    out.truncate(0)
                    out.write(text[:len(text) // 2])
                    out.flush()
                    time.sleep(hold or 0.01)
                    out.write(text[len(text) // 2:])
            else:
                time.sleep(hold)
                temporary = real.with_name(real.name + ".edit")
                temporary.write_bytes(text)
                os.replace(temporary, real)
        self.kept[key] = value
        if key.startswith("sync_library_") and isinstance(value, bool):
            self.said[canon(key[13:])] = value

    edit = st.tuples(st.sampled_from(["rename", "link", "in place"]),
                     st.sampled_from(NAMES + ["Finch EUR"] * 3 + [None]),
                     st.sampled_from([False, False, "false", 0, True]))

    def edit_key(self, name, value):
        return ("sync_library_" + name, value) if name else (f"note{len(self.kept)}", "kept")

    @step(edit=edit)
    def edit_settings(self, edit):
        way, name, value = edit
        if self.settings_file.exists() or way != "in place":
            self.other_writer(way, *self.edit_key(name, value))

    # After a time, or (on the slow disk) once the helper's own save of the
    # settings has its temporary file: between its read and its rename.
    @step(edit=edit, after=st.sampled_from([0.0, 0.05, 0.15, 0.3] + ["settings saved"] * SLOW_DISK))
    def edit_during_sync(self, edit, after):
        way, name, value = edit
        open_name = LIBRARIES[self.open_index][0] if self.open_index is not None else None
        if name is not None:  # the library being synced, once it has an answer
            name = open_name if open_name and self.answer(open_name) is True else None
        with self.host_files({"export-delay.txt": "0.2"}):
            run = self.start("sync", "--answer", "sync", slow_disk=after == "settings saved")
            self.await_moment(run, after)
            if self.settings_file.exists() or way != "in place":
                self.other_writer(way, *self.edit_key(name, value), hold=0.6 if way == "in place" else 1.0)
                if name:
                    self.switched_off = (name, time.time())
            self.finish(run)

    def entries(self):
        """(folder, name, modification time) of everything in the destinations."""
        found = set()
        for folder in self.destinations():
            with contextlib.suppress(OSError):  # (an entry renamed or removed meanwhile)
                found |= {(folder, e.name, e.stat().st_mtime_ns) for e in os.scandir(folder)}
        return found

    def moment_came(self, moment, started, documents):
        if isinstance(moment, float):
            return time.monotonic() - started >= moment
        if moment == "settings saved":  # the helper's own save of the settings has its temporary file
            return any(self.settings_file.resolve().parent.glob(".qh-*.tmp"))
        entries = self.entries()
        if moment == "temporary file":
            return any(name.startswith(".qh-") for _, name, _ in entries)
        return any(name.endswith(".json") for _, name, _ in entries - documents)

    def await_moment(self, run, moment, documents=frozenset()):
        """Returns once the moment came, the run ended, or 5 s went by
        (looked for as fast as this process can)."""
        started = time.monotonic()
        while run.poll() is None and not self.moment_came(moment, started, documents) \
                and time.monotonic() - started < 5:
            pass

    # A signal at a moment in time, or as soon as a temporary file or a new
    # document shows.
    @step(how=st.sampled_from(sorted(SIGNALS)),
          moment=st.sampled_from([0.0, 0.05, 0.2, 0.5, "temporary file", "document"]),
          delay=st.sampled_from([0.0, 0.1, "hangs"]),
          slow_disk=st.sampled_from([False, SLOW_DISK]))
    def sync_ended_by_signal(self, how, moment, delay, slow_disk=False):
        # "hangs": the export never ends and its script ignores SIGTERM.
        documents = self.entries()
        with self.host_files({"cut.txt": "10 hangs"} if delay == "hangs" else {"export-delay.txt": str(delay)}):
            run = self.start("sync", "--answer", "sync", slow_disk=slow_disk)
            self.await_moment(run, moment, documents)
            target = run.pid
            while slow_disk and target == run.pid and run.poll() is None:  # the program (started), not strace
                try:
                    child = int(Path(f"/proc/{run.pid}/task/{run.pid}/children").read_text().split()[0])
                    target = child if os.readlink(f"/proc/{child}/exe") == str(CLI) else target
                except (OSError, IndexError):
                    pass
            signalled = run.poll() is None
            if signalled:
                with contextlib.suppress(ProcessLookupError):  # strace's program may just have ended
                    os.kill(target, SIGNALS[how])
                if how == "KILL" and target != run.pid:  # strace waits for the scripts SIGKILL leaves
                    self.end_scripts(spare={run.pid})
            self.finish(run, expect_signal=SIGNALS[how] if signalled else None)
        if how == "KILL":  # what SIGKILL leaves: its scripts too, which the user ends
            self.killed = True
            self.end_scripts()

    # ---- the promises, after every step -----------------------------------------
    @invariant()
    def promises_hold(self):
        try:
            self.check()
        finally:
            self.switched_off = None

    def check(self):
        before, after = self.before, self.published()
        self.before = after
        settings = self.settings()
        settings_before, self.settings_before = self.settings_before, settings
        if self.linked and not self.settings_file.is_symlink():
            raise Violation("the settings file, a link, was replaced by a file")
        for key, value in self.kept.items():
            now = settings.get(key, "missing")
            if now != value and not self.may_differ(key, value, now, settings):
                raise Violation(f"another writer's {key}={value!r} was lost: {settings.get(key, 'missing')!r}")
        for path, (name, folder, currency, data, _) in after.items():
            old = before.get(path)
            if old and old[3] == data:
                continue
            if (self.answer(name) is not True or self.said.get(canon(name)) is False) \
                    and not self.written_before_switch_off(path, name):
                raise Violation(f"{path.name} written for {name!r}, whose stored answer is {self.answer(name)!r}")
            if old and not self.may_replace(path, old, (name, folder, currency)):
                raise Violation(f"{path} of {old[:2]} replaced by {(name, folder)}")
        # Switched on before and after the step: a library switched off meanwhile
        # (its pairs pruned, it forgotten) may have been switched on again by
        # the question of the same step's sync.
        for path, old in before.items():
            if path not in after and path.parent.is_dir() and self.answer(old[0]) is True \
                    and self.answer(old[0], settings_before) is True:
                raise Violation(f"{path} of {old[:2]} deleted, its library still switched on (by another library?)")
        places = (DOCUMENTS + "/", ".config/quillory-helper/", "dotfiles/", ".quillory-helper.lock")
        for path in self.home.rglob("*"):
            relative = str(path.relative_to(self.home))
            if not path.is_dir() and not relative.startswith(places) and not (
                    relative.startswith("Library/Containers/") and ("/Data/Documents/" in relative
                                                                   or relative.endswith(PREFERENCES))):
                raise Violation(f"{relative} written outside the helper's places")
        none_left(processes_of(self.state), "scripts outlived their program: processes")
        if self.killed:
            return
        for path, (*_, exported_at) in after.items():
            marker = Path(str(path)[:-5] + "_updated.txt")
            if not marker.is_file() or marker.read_text() != exported_at:
                raise Violation(f"{path.name} has no marker holding its exportedAt {exported_at!r}")
        none_left([m for f in self.destinations() for m in f.glob("*_updated.txt")
                   if not Path(str(m)[:-12] + ".json").exists()], "markers without their documents")
        none_left([str(p) for p in self.home.rglob(".qh-*") if p.name.endswith(".tmp")], "temporary files left")

    def may_differ(self, key, value, now, settings):
        """A stored answer the helper may change on its own: a mistyped one
        it replaced, or a switched-off library that pruning forgot."""
        if not key.startswith("sync_library_"):
            return False
        folder = settings.get("library_path_" + key[13:])
        forgotten = now == "missing" and value is not True and not (folder and Path(folder).exists())
        return forgotten or (not isinstance(value, bool) and isinstance(now, bool))

    def written_before_switch_off(self, path, name):
        return bool(self.switched_off and canon(self.switched_off[0]) == canon(name)
                    and path.stat().st_mtime <= self.switched_off[1] + 0.05)

    def may_replace(self, path, old, new):
        (old_name, old_folder, old_currency), (name, folder, _) = old[:3], new
        if path.stem == old_currency and path.parent != self.home / DOCUMENTS:
            return True  # a currency-named pair: any library of that currency
        if folder:
            return not old_folder or old_folder == folder or not Path(old_folder).exists()
        return canon(old_name) == canon(name) or bool(old_folder and not Path(old_folder).exists())


def replay(steps):
    """Runs one recorded history: [(rule, {argument: value}), ...]."""
    machine = Promises()
    try:
        machine.promises_hold()
        for name, arguments in steps:
            getattr(machine, name)(**arguments)
            machine.promises_hold()
    finally:
        machine.teardown()


def main():
    global CLI, SIM, PROGRESS
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True, type=Path)
    parser.add_argument("--sim", required=True, type=Path)
    parser.add_argument("--examples", type=int, default=100)
    parser.add_argument("--seed", type=int, help="a random seed (default: derandomized, the same every run)")
    parser.add_argument("--steps", type=int, default=25, help="steps per history")
    parser.add_argument("--histories", choices=["passing", "awaiting-fixes", "all"],
                        help="replay the recorded histories instead of random ones")
    parser.add_argument("--progress", type=int, default=0, help="report every N histories")
    parser.add_argument("--no-shrink", action="store_true", help="report the first broken history as it is")
    args = parser.parse_args()
    restore_termination_signals()
    CLI, SIM, PROGRESS = args.cli.resolve(), args.sim.resolve(), args.progress
    if args.histories:
        from histories import AWAITING_FIXES, HISTORIES
        chosen = {"passing": HISTORIES, "awaiting-fixes": AWAITING_FIXES,
                  "all": {**HISTORIES, **AWAITING_FIXES}}[args.histories]
        failed = []
        for name, steps in chosen.items():
            try:
                replay(steps)
                print(f"ok    {name}")
            except Violation as violation:
                failed.append(name)
                print(f"FAIL  {name}: {violation}")
        return 1 if failed else 0
    machine = type("Promises", (Promises,), {})
    try:
        run_state_machine_as_test(machine if args.seed is None else hyp_seed(args.seed)(machine), settings=settings(
            max_examples=args.examples, stateful_step_count=args.steps, deadline=None, database=None,
            derandomize=args.seed is None, suppress_health_check=list(HealthCheck), print_blob=False,
            phases=[Phase.generate] if args.no_shrink else [Phase.generate, Phase.shrink]))
    except (Violation, BaseExceptionGroup, Flaky):
        # Flaky: the history broke a promise once and kept it when Hypothesis
        # ran it again (a fault of timing); the first report is the one to read.
        print(f"A promise first broke in history {Violation.first_at} ({Violation.first_message}), after "
              f"these steps (for histories.py):\n{Violation.first_history!r}\n{Promises.histories} histories run "
              "with the shrinking", file=sys.stderr)
        return 1
    print(f"{args.examples} histories kept every promise")
    return 0


if __name__ == "__main__":
    sys.exit(main())
