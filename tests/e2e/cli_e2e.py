#!/usr/bin/env python3
"""End-to-end tests: the real quillory-helper-cli against the simulated
Kettle Ledger (kettle-ledger-sim), each case in a throw-away home folder.

Run by CTest, one test per case (see tests/CMakeLists.txt):

    cli_e2e.py --cli PATH --sim PATH --sample examples/sample-library [unittest args]

The sample library's export writes its folder as "@LIBRARY@"; every case
copies the library folder into its temporary folder and rewrites the
placeholder to the copy's path (Sandbox.open_library).
"""

import argparse
import fcntl
import json
import os
import plistlib
import pty
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

CLI = SIM = SAMPLE = None

NAME = "Finch Studio EUR"
DOCUMENT = "finch-studio-eur.json"
MARKER = "finch-studio-eur_updated.txt"
KEEP_FIELDS = {"id", "date", "datePayment", "contact", "category", "amounts", "amountsOriginal", "tags",
               "notes", "isCredit", "isDocument", "isPaid", "isConfirmed", "isMarked", "asset", "title"}
NAME_SCRIPT = 'var kl=Application("test.kettleledger.desktop2"); kl.running() ? kl.documents[0].name() : ""'
EXPORT_SCRIPT = 'var kl=Application("test.kettleledger.desktop2"); kl.running() ? kl.export() : ""'
COMMAND_TIMEOUT = 120


class Sandbox:
    """A temporary home folder, a state folder for the simulated Kettle
    Ledger, and a place for library folders."""

    def __init__(self, root: Path):
        self.root = root
        self.home = root / "home"
        self.state = root / "kettle-ledger"
        self.libraries = root / "libraries"
        for folder in (self.home, self.state, self.libraries):
            folder.mkdir()
        self.documents = self.home / "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents"
        self.settings_file = self.home / ".config/quillory-helper/test.quillory.helper.plist"
        self.lock_file = self.settings_file.parent / "quillory-helper.lock"

    def open_library(self, name=NAME, parent="", export=True) -> Path:
        """Copies the sample library's folder under libraries/<parent>/ and
        opens it in the simulated Kettle Ledger under `name`."""
        folder = self.libraries / parent / "Finch Studio EUR"
        if not folder.exists():
            shutil.copytree(SAMPLE / "Finch Studio EUR", folder)
        (self.state / "name.txt").write_text(name + "\n", encoding="utf-8")
        text = (SAMPLE / "export.json").read_text(encoding="utf-8").replace("@LIBRARY@", str(folder))
        if export:
            (self.state / "export.json").write_text(text, encoding="utf-8")
        else:
            (self.state / "export.json").unlink(missing_ok=True)
        return folder

    def environment(self):
        env = dict(os.environ)
        env.pop("XDG_CONFIG_HOME", None)  # the settings must live in the throw-away home
        env["HOME"] = str(self.home)
        env["KETTLE_LEDGER_SIM_DIR"] = str(self.state)
        return env

    def command(self, *args, host=True, osascript=None):
        line = [str(CLI), *args, "--osascript", str(osascript or SIM)]
        if host:
            line.append("--assume-host-running")
        return line

    def run(self, *args, host=True, osascript=None, stdin=subprocess.DEVNULL):
        return subprocess.run(self.command(*args, host=host, osascript=osascript), env=self.environment(),
                              stdin=stdin, capture_output=True, text=True, encoding="utf-8",
                              timeout=COMMAND_TIMEOUT)

    def run_on_terminal(self, *args, typed: str):
        """Runs with a pseudo-terminal as standard input, `typed` already typed."""
        try:
            master, slave = pty.openpty()
        except OSError as error:
            raise unittest.SkipTest(f"no pseudo-terminal here: {error}")
        try:
            os.write(master, typed.encode())
            return self.run(*args, stdin=slave)
        finally:
            os.close(slave)
            os.close(master)

    def settings(self):
        if not self.settings_file.exists():
            return {}
        with open(self.settings_file, "rb") as f:
            return plistlib.load(f)

    def published(self, folder=None):
        folder = folder or self.documents
        return sorted(p.name for p in folder.iterdir()) if folder.exists() else []


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="quillory-e2e.")
        self.box = Sandbox(Path(self._tmp.name))

    def tearDown(self):
        self._tmp.cleanup()

    def fresh(self):
        """Another sandbox, for cases that run several variants."""
        tmp = tempfile.TemporaryDirectory(prefix="quillory-e2e.")
        self.addCleanup(tmp.cleanup)
        return Sandbox(Path(tmp.name))

    def assertExit(self, result, status):
        self.assertEqual(result.returncode, status,
                         f"exit {result.returncode}\n--- stdout\n{result.stdout}--- stderr\n{result.stderr}")

    def sync_accepted(self, box=None):
        box = box or self.box
        result = box.run("sync", "--answer", "sync")
        self.assertExit(result, 0)
        return result


class FirstSync(EndToEnd):
    def test_first_sync_declined(self):
        # No terminal and no --answer counts as "Don't Sync", like --answer dont-sync.
        for answer in ([], ["--answer", "dont-sync"]):
            with self.subTest(answer=answer):
                box = self.fresh()
                box.open_library()
                result = box.run("sync", *answer)
                self.assertExit(result, 2)
                self.assertIn(f"[Helper] \u23ed Skipping '{NAME}' \u2014 sync disabled by user\n", result.stdout)
                self.assertIn(f'Sync "{NAME}" with Quillory?', result.stderr)
                self.assertIs(box.settings()[f"sync_library_{NAME}"], False)
                self.assertEqual(box.published(), [])
                self.assertEqual(box.run("libraries").stdout, f"[off] {NAME}\n")

                # Never published, so its folder was never recorded: the next
                # pass forgets the answer and the question comes again.
                pruned = box.run("prune")
                self.assertExit(pruned, 0)
                self.assertIn(f"[Helper] Pruned disabled library '{NAME}' (path unknown, JSON already deleted)",
                              pruned.stdout)
                self.assertNotIn(f"sync_library_{NAME}", box.settings())
                self.assertEqual(box.run("libraries").stdout, "No libraries seen yet\n")

    def test_first_sync_accepted(self):
        folder = self.box.open_library()
        result = self.sync_accepted()
        self.assertIn(f"[Helper]   \u2192 {self.box.documents}/{DOCUMENT}\n", result.stdout)
        self.assertIn("[Helper] \u2713 Export OK (manual) \u2192 1 destination(s)\n", result.stdout)
        # (yesterday: when the clock passed midnight in between)
        self.assertRegex(result.stdout.splitlines()[-1], r"^Last sync: (today|yesterday) at ")
        self.assertEqual(self.box.published(), [DOCUMENT, MARKER])

        document = json.loads((self.box.documents / DOCUMENT).read_bytes())
        self.assertEqual(document["libraryName"], NAME)
        self.assertEqual(document["currencyCode"], "EUR")
        self.assertEqual(document["libraryPath"], str(folder))
        self.assertEqual(document["format"], "kettleledger.export")  # passed through
        self.assertEqual(len(document["items"]), 36)
        for item in document["items"]:
            self.assertLessEqual(set(item), KEEP_FIELDS)
        self.assertRegex((self.box.documents / MARKER).read_text(), r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")

        settings = self.box.settings()
        self.assertIs(settings[f"sync_library_{NAME}"], True)
        self.assertEqual(settings[f"library_filename_{NAME}"], DOCUMENT)
        self.assertEqual(settings[f"library_path_{NAME}"], str(folder))
        self.assertIn("lastSyncDate", settings)

        # Asked once per library: the next sync goes ahead without a question.
        again = self.box.run("sync")
        self.assertExit(again, 0)
        self.assertNotIn("with Quillory?", again.stderr)

        status = self.box.run("status")
        self.assertExit(status, 0)
        lines = status.stdout.splitlines()
        self.assertEqual(lines[0], f"Library: {NAME}")
        self.assertRegex(lines[1], r"^Last sync: (today|yesterday) at ")

    def test_questions_on_a_terminal(self):
        cases = [
            # (typed, extra arguments, exit status)
            ("2\n", [], 2),                                # "Don't Sync" by number
            ("\n", [], 0),                                 # Enter: the default button, "Sync"
            ("maybe\nsync\n", [], 0),                      # asked again, then a title
            ("", [], 2),                                   # end of input: no answer
            ("1\n", ["--answer", "dont-sync"], 2),         # an answer given on the line wins
        ]
        for typed, extra, status in cases:
            with self.subTest(typed=typed, extra=extra):
                box = self.fresh()
                box.open_library()
                if typed == "":
                    result = box.run("sync", *extra, stdin=subprocess.DEVNULL)
                else:
                    result = box.run_on_terminal("sync", *extra, typed=typed)
                self.assertExit(result, status)
                self.assertEqual(box.published() != [], status == 0)


class Failures(EndToEnd):
    def test_export_the_host_cannot_give(self):
        variants = {
            "no export": lambda box: box.open_library(export=False),
            "not running": lambda box: (box.open_library(), (box.state / "not-running").touch()),
            "not authorized": lambda box: (box.open_library(), (box.state / "not-authorized").touch()),
        }
        for label, prepare in variants.items():
            with self.subTest(label):
                box = self.fresh()
                prepare(box)
                result = box.run("sync", "--answer", "sync")
                self.assertExit(result, 1)
                self.assertIn("[Helper] \u2717 Export failed (manual): klNotResponding\n", result.stdout)
                self.assertEqual(result.stderr.splitlines()[-1], "\u26a0 Kettle Ledger did not respond")
                self.assertEqual(box.published(), [])

        # Without the workspace (no --assume-host-running on Linux) and without
        # a script launcher the host cannot answer either.
        for label, kwargs in {"host not running": {"host": False},
                              "no osascript": {"osascript": "/nonexistent/osascript"}}.items():
            with self.subTest(label):
                box = self.fresh()
                box.open_library()
                result = box.run("sync", "--answer", "sync", **kwargs)
                self.assertExit(result, 1)
                self.assertIn("\u26a0 Kettle Ledger did not respond", result.stderr)

    def test_library_name_time_limit(self):
        # The name script answers after its 5-second limit: both checks time
        # out, no library is reported, and the export goes ahead without the
        # question, named after its folder.
        folder = self.box.open_library()
        (self.box.state / "name-delay.txt").write_text("6")
        result = self.box.run("sync")
        self.assertExit(result, 0)
        timeout_line = ("[Helper] \u26a0 JXA timed out after 5s \u2014 check System Settings \u203a "
                        "Privacy & Security \u203a Automation\n")
        self.assertEqual(result.stdout.count(timeout_line), 2, result.stdout)
        self.assertNotIn("with Quillory?", result.stderr)
        self.assertEqual(self.box.settings()[f"library_path_{folder.name}"], str(folder))

    def test_name_conflict_between_two_libraries(self):
        first = self.box.open_library(parent="Work")
        self.sync_accepted()
        before = {name: ((self.box.documents / name).read_bytes(), (self.box.documents / name).stat().st_mtime_ns)
                  for name in (DOCUMENT, MARKER)}
        settings_before = self.box.settings()

        # Another library of the same name and currency in another folder.
        second = self.box.open_library(parent="Home")
        result = self.box.run("sync", "--answer", "sync")
        self.assertExit(result, 1)
        self.assertIn(f'Library name conflict: "{NAME}"\n', result.stderr)
        self.assertIn("Two Kettle Ledger libraries share the same name and currency but live in different "
                      f"folders:\n\n\u2022 {first}\n\u2022 {second}\n\nQuillory can only sync one under this "
                      "filename. Please rename one of the libraries in Kettle Ledger to resolve the conflict.\n",
                      result.stderr)
        self.assertIn("[Helper] \u2717 Export failed (manual): nameConflict\n", result.stdout)
        self.assertEqual(result.stderr.splitlines()[-1], "\u26a0 Library name conflict \u2014 see Helper alert")

        after = {name: ((self.box.documents / name).read_bytes(), (self.box.documents / name).stat().st_mtime_ns)
                 for name in (DOCUMENT, MARKER)}
        self.assertEqual(after, before)
        settings_after = self.box.settings()
        self.assertEqual(settings_after[f"library_path_{NAME}"], str(first))
        self.assertEqual(settings_after[f"library_filename_{NAME}"], settings_before[f"library_filename_{NAME}"])

        # Once the first library's folder is gone, the second one takes its place.
        shutil.rmtree(first)
        self.assertExit(self.box.run("sync"), 0)
        document = json.loads((self.box.documents / DOCUMENT).read_bytes())
        self.assertEqual(document["libraryPath"], str(second))


class Libraries(EndToEnd):
    def test_disable_removes_the_pair(self):
        self.box.open_library()
        self.sync_accepted()

        # Nobody to ask and no --yes: refused, nothing changed.
        refused = self.box.run("disable", NAME)
        self.assertExit(refused, 64)
        self.assertIn("--yes", refused.stderr)
        self.assertEqual(self.box.published(), [DOCUMENT, MARKER])

        result = self.box.run("disable", "--yes", NAME)
        self.assertExit(result, 0)
        self.assertIn(f"[Helper] Deleted iCloud files: {DOCUMENT}, {MARKER}\n", result.stdout)
        self.assertEqual(self.box.published(), [])
        self.assertIs(self.box.settings()[f"sync_library_{NAME}"], False)
        self.assertEqual(self.box.run("libraries").stdout, f"[off] {NAME}\n")

        # Switched off: a sync skips it, without asking.
        skipped = self.box.run("sync", "--answer", "sync")
        self.assertExit(skipped, 2)
        self.assertNotIn("with Quillory?", skipped.stderr)
        # The folder still exists, so pruning keeps it listed.
        self.assertExit(self.box.run("prune"), 0)
        self.assertEqual(self.box.run("libraries").stdout, f"[off] {NAME}\n")

        enabled = self.box.run("enable", NAME)
        self.assertExit(enabled, 0)
        self.assertEqual(enabled.stdout, f"[on]  {NAME}\n")
        self.assertExit(self.box.run("sync"), 0)
        self.assertEqual(self.box.published(), [DOCUMENT, MARKER])

    def test_disable_asks_on_a_terminal(self):
        for typed, removed in (("2\n", False), ("remove\n", True)):
            with self.subTest(typed=typed):
                box = self.fresh()
                box.open_library()
                self.sync_accepted(box)
                result = box.run_on_terminal("disable", NAME, typed=typed)
                self.assertExit(result, 0)
                self.assertIn(f'Remove "{NAME}" from mobile devices?', result.stderr)
                self.assertEqual(box.published() == [], removed)
                self.assertIs(box.settings()[f"sync_library_{NAME}"], not removed)

    def test_app_container_receives_both_pairs(self):
        preferences = self.box.home / "Library/Containers/X/Data/Library/Preferences/test.quillory.mobile.plist"
        preferences.parent.mkdir(parents=True)
        preferences.write_bytes(b"")
        self.box.open_library()
        result = self.sync_accepted()
        app_documents = self.box.home / "Library/Containers/X/Data/Documents"
        self.assertIn("\u2192 2 destination(s)", result.stdout)
        self.assertIn(f"[Helper]   \u2192 {app_documents}/{DOCUMENT}\n", result.stdout)
        self.assertIn(f"[Helper]   \u2192 {app_documents}/eur.json\n", result.stdout)
        self.assertEqual(self.box.published(app_documents), sorted([DOCUMENT, MARKER, "eur.json", "eur_updated.txt"]))
        self.assertEqual((app_documents / DOCUMENT).read_bytes(), (self.box.documents / DOCUMENT).read_bytes())
        self.assertEqual((app_documents / "eur.json").read_bytes(), (self.box.documents / DOCUMENT).read_bytes())


class CommandLine(EndToEnd):
    def test_second_cli_refused_while_one_holds_the_lock(self):
        self.box.open_library()
        (self.box.state / "export-delay.txt").write_text("5")
        first = subprocess.Popen(self.box.command("sync", "--answer", "sync"), env=self.box.environment(),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 text=True, encoding="utf-8")
        try:
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                if self.box.lock_file.exists() and self.box.lock_file.read_text().strip() == str(first.pid):
                    break
                time.sleep(0.05)
            else:
                self.fail("the first CLI never took the lock")

            for command in (["status"], ["sync"], ["libraries"]):
                second = self.box.run(*command)
                self.assertExit(second, 75)
                self.assertIn(f"another Quillory Helper (process {first.pid}) is running", second.stderr)
                self.assertEqual(second.stdout, "")
        finally:
            out, err = first.communicate(timeout=COMMAND_TIMEOUT)
        self.assertEqual(first.returncode, 0, out + err)
        self.assertExit(self.box.run("libraries"), 0)

    def test_refused_before_touching_anything(self):
        # Any holder of the lock (here this test, standing in for the menu-bar
        # helper): the CLI leaves at once, before it opens the settings.
        self.box.open_library()
        self.box.lock_file.parent.mkdir(parents=True)
        with open(self.box.lock_file, "w") as holder:
            fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
            result = self.box.run("sync", "--answer", "sync")
        self.assertExit(result, 75)
        self.assertIn("try again when it has finished", result.stderr)
        self.assertFalse(self.box.settings_file.exists())
        self.assertEqual(self.box.published(), [])

    def test_bad_usage(self):
        cases = [
            [], ["frobnicate"], ["sync", "extra"], ["enable"], ["disable", "a", "b"],
            ["--answer", "maybe", "sync"], ["--answer"], ["--bogus", "sync"], ["--yes=no", "disable", "x"],
        ]
        for arguments in cases:
            with self.subTest(arguments=arguments):
                result = subprocess.run([str(CLI), *arguments], env=self.box.environment(), capture_output=True,
                                        text=True, stdin=subprocess.DEVNULL, timeout=COMMAND_TIMEOUT)
                self.assertExit(result, 64)
                self.assertIn("--help", result.stderr)
                self.assertFalse(self.box.settings_file.exists(), "bad usage must not touch the settings")

        for unknown in (["enable", "Nope"], ["disable", "--yes", "Nope"]):
            with self.subTest(arguments=unknown):
                result = self.box.run(*unknown)
                self.assertExit(result, 64)
                self.assertIn('no library named "Nope"', result.stderr)

        usage = subprocess.run([str(CLI), "--help"], capture_output=True, text=True, timeout=COMMAND_TIMEOUT)
        self.assertExit(usage, 0)
        for status in ("0 ", "1 ", "2 ", "64", "75"):
            self.assertIn(f"\n  {status}", usage.stdout)


class SimulatedKettleLedger(EndToEnd):
    def sim(self, *args):
        return subprocess.run([str(SIM), *args], env=self.box.environment(), capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=COMMAND_TIMEOUT)

    def test_answers_the_two_scripts_from_its_state_folder(self):
        self.box.open_library()
        name = self.sim("-l", "JavaScript", "-e", NAME_SCRIPT)
        self.assertEqual((name.returncode, name.stdout), (0, f"{NAME}\n".encode()))
        export = self.sim("-l", "JavaScript", "-e", EXPORT_SCRIPT)
        self.assertEqual(export.returncode, 0)
        self.assertEqual(export.stdout, (self.box.state / "export.json").read_bytes() + b"\n")

        (self.box.state / "export.json").unlink()
        self.assertEqual(self.sim("-l", "JavaScript", "-e", EXPORT_SCRIPT).stdout, b"")
        (self.box.state / "name.txt").unlink()
        no_library = self.sim("-l", "JavaScript", "-e", NAME_SCRIPT)
        self.assertEqual((no_library.returncode, no_library.stdout), (1, b""))
        (self.box.state / "not-running").touch()
        for script in (NAME_SCRIPT, EXPORT_SCRIPT):
            self.assertEqual(self.sim("-l", "JavaScript", "-e", script).stdout, b"\n")

    def test_fails_like_osascript_on_anything_else(self):
        self.box.open_library()
        cases = [
            [], ["-e", NAME_SCRIPT], ["-l", "AppleScript", "-e", NAME_SCRIPT],
            ["-l", "JavaScript", "-e", NAME_SCRIPT + " "], ["-l", "JavaScript", "-e", "Application('Finder')"],
            ["-l", "JavaScript", "-e", NAME_SCRIPT, "extra"], ["-l", "JavaScript", "-x", NAME_SCRIPT],
        ]
        for arguments in cases:
            with self.subTest(arguments=arguments):
                result = self.sim(*arguments)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, b"")
                self.assertNotEqual(result.stderr, b"")

    def test_waits_as_its_state_asks(self):
        self.box.open_library()
        (self.box.state / "name-delay.txt").write_text("0.5")
        started = time.monotonic()
        self.assertEqual(self.sim("-l", "JavaScript", "-e", NAME_SCRIPT).returncode, 0)
        self.assertGreaterEqual(time.monotonic() - started, 0.5)
        (self.box.state / "delay.txt").write_text("soon")
        export = self.sim("-l", "JavaScript", "-e", EXPORT_SCRIPT)
        self.assertEqual(export.returncode, 0)
        self.assertIn(b"ignoring delay.txt", export.stderr)


def main():
    global CLI, SIM, SAMPLE
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True, type=Path)
    parser.add_argument("--sim", required=True, type=Path)
    parser.add_argument("--sample", required=True, type=Path)
    args, rest = parser.parse_known_args()
    CLI, SIM, SAMPLE = args.cli.resolve(), args.sim.resolve(), args.sample.resolve()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
