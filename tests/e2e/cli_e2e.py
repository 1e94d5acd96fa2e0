#!/usr/bin/env python3
"""End-to-end tests: the real quillory-helper-cli against the simulated
Kettle Ledger (kettle-ledger-sim), each case in a throw-away home folder.
Run by CTest, one test per method (see tests/CMakeLists.txt):

    cli_e2e.py --cli PATH --sim PATH --sample examples/sample-library [unittest args]
"""

import argparse
import json
import os
import plistlib
import pty
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from sandbox import (DOCUMENTS, SETTINGS, command as command_line, environment, make_folders, processes_of,
                     restore_termination_signals)

CLI = SIM = SAMPLE = None

NAME = "Finch Studio EUR"
DOCUMENT = "finch-studio-eur.json"
MARKER = "finch-studio-eur_updated.txt"
PAIR = [DOCUMENT, MARKER]
TIMEOUT = 120


# On macOS the CLI keeps the settings in the user defaults of this domain,
# which every case shares: each case starts by clearing it.
DARWIN = sys.platform == "darwin"
DOMAIN = "test.quillory.helper"


# The signal cases read other processes' environment and signal masks from
# /proc, which macOS does not have.
NEEDS_PROC = unittest.skipUnless(Path("/proc/self").exists(), "reads other processes' state from /proc")
SETTINGS_FILE = unittest.skipIf(DARWIN, "the settings file is Linux's (macOS keeps the user defaults)")


def eventually(condition, seconds=30):
    """Waits (generously, only so that nothing hangs) until the condition holds."""
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.05)
    return condition()


def ignores_sigterm(pid):
    try:
        status = Path(f"/proc/{pid}/status").read_text()
    except OSError:
        return False
    mask = next(int(line.split()[1], 16) for line in status.splitlines() if line.startswith("SigIgn:"))
    return bool(mask >> (signal.SIGTERM - 1) & 1)


class Sandbox:
    """A temporary home folder, a state folder for the simulated Kettle
    Ledger, and a place for library folders."""

    def __init__(self, root: Path):
        self.home, self.state, self.libraries = make_folders(root)
        self.documents, self.settings_file = self.home / DOCUMENTS, self.home / SETTINGS
        self.lock_file = self.home / ".quillory-helper.lock"
        if DARWIN:
            subprocess.run(["defaults", "delete", DOMAIN], capture_output=True)
            # iCloud Drive's own folder: without it a sync says iCloud Drive seems off.
            (self.home / "Library/Mobile Documents/com~apple~CloudDocs").mkdir(parents=True)

    def open_library(self):
        """Copies the sample library's folder under libraries/ and opens it in
        the simulated Kettle Ledger; the sample export names its folder "@LIBRARY@"."""
        folder = self.libraries / NAME
        shutil.copytree(SAMPLE / NAME, folder, dirs_exist_ok=True)
        (self.state / "name.txt").write_text(NAME + "\n", encoding="utf-8")
        text = (SAMPLE / "export.json").read_text(encoding="utf-8")
        (self.state / "export.json").write_text(text.replace("@LIBRARY@", json.dumps(str(folder))[1:-1]), "utf-8")

    def environment(self):
        return environment(self.home, self.state)

    def command(self, *args, osascript=None):
        return command_line(CLI, osascript or SIM, *args)

    def run(self, *args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, env=None, bare=False, **kwargs):
        """Runs the CLI with the simulator (bare: with `args` alone)."""
        return subprocess.run([str(CLI), *args] if bare else self.command(*args, **kwargs), stdin=stdin,
                              stdout=stdout, stderr=subprocess.PIPE, env=env or self.environment(), text=True,
                              encoding="utf-8", timeout=TIMEOUT)

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
        if DARWIN:
            exported = subprocess.run(["defaults", "export", DOMAIN, "-"], capture_output=True).stdout
            return plistlib.loads(exported) if exported else {}
        return json.loads(self.settings_file.read_bytes()) if self.settings_file.exists() else {}

    def settings_snapshot(self):
        """What an untouched store keeps: the file and its time, or (macOS) the values."""
        if DARWIN:
            return self.settings()
        file = self.settings_file
        return (file.read_bytes(), file.stat().st_mtime_ns) if file.exists() else None

    def published(self):
        return sorted(p.name for p in self.documents.iterdir()) if self.documents.exists() else []


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self.box = self.fresh()

    def fresh(self):
        tmp = tempfile.TemporaryDirectory(prefix="quillory-e2e.")
        self.addCleanup(tmp.cleanup)
        return Sandbox(Path(tmp.name))

    def assertExit(self, result, status):
        self.assertEqual(result.returncode, status,
                         f"exit {result.returncode}\n--- stdout\n{result.stdout}--- stderr\n{result.stderr}")

    def sync_accepted(self, box=None):
        result = (box or self.box).run("sync", "--answer", "sync")
        self.assertExit(result, 0)
        return result


class FirstSync(EndToEnd):
    @SETTINGS_FILE
    def test_nobody_to_ask_is_no_answer(self):
        # No terminal and no --answer, or end of input at the question: the
        # sync is skipped, nothing is stored, nobody "disabled" anything.
        # The read-only commands before it create nothing, even on a first start.
        self.box.open_library()
        for command in ("status", "libraries"):
            self.assertExit(self.box.run(command), 0)
        self.assertEqual(list(self.box.home.iterdir()), [])
        # A damaged file is only reported, on standard error, and left alone.
        self.box.settings_file.parent.mkdir(parents=True)
        self.box.settings_file.write_text("{broken")
        listed = self.box.run("libraries")
        self.assertEqual(listed.stdout, "")
        self.assertIn("is not a JSON object of settings; read as empty and left as it is", listed.stderr)
        self.assertEqual(os.listdir(self.box.settings_file.parent), ["settings.json"])
        self.box.settings_file.unlink()
        for label, result in (("no terminal", self.box.run("sync")),
                              ("end of input", self.box.run_on_terminal("sync", typed="\x04"))):
            with self.subTest(label):
                self.assertExit(result, 2)
                self.assertIn("--answer sync|dont-sync", result.stderr)
                self.assertNotIn("sync disabled by user", result.stdout)
                self.assertNotIn(f"sync_library_{NAME}", self.box.settings())
                self.assertEqual(self.box.published(), [])

    def test_questions_on_a_terminal(self):
        # (command, typed, exit status, published afterwards); a disable
        # follows an accepted sync.
        cases = [
            (["sync"], "maybe\n\n", 0, True),                        # asked again; Enter: the default
            (["sync", "--answer", "dont-sync"], "1\n", 2, False),    # an answer on the line wins
            (["disable", NAME], "2\n", 2, True),                     # "Cancel"
            (["disable", NAME], "remove\n", 0, False),
        ]
        for command, typed, status, published in cases:
            with self.subTest(command=command, typed=typed):
                box = self.fresh()
                box.open_library()
                if command[0] == "disable":
                    self.sync_accepted(box)
                result = box.run_on_terminal(*command, typed=typed)
                self.assertExit(result, status)
                self.assertEqual(box.published() == PAIR, published)


class Libraries(EndToEnd):
    def test_disable_refused_or_incomplete(self):
        # (What a switch-off deletes is checked by tests/promises.) Nobody to
        # ask and no --yes: refused, nothing changed. A file that cannot be
        # removed (a folder where the marker belongs) is reported with its
        # reason, not claimed as deleted, and fails the command.
        self.box.open_library()
        self.sync_accepted()
        refused = self.box.run("disable", NAME)
        self.assertExit(refused, 64)
        self.assertIn("--yes", refused.stderr)
        self.assertEqual(self.box.published(), PAIR)
        marker = self.box.documents / MARKER
        marker.unlink()
        (marker / "inside").parent.mkdir()
        (marker / "inside").write_text("x")
        failed = self.box.run("disable", "--yes", NAME)
        self.assertExit(failed, 1)
        self.assertIn(f"[Helper] \u2717 Could not delete {marker}: Is a directory\n", failed.stdout)
        self.assertIn(f"[Helper] Deleted iCloud files: {DOCUMENT}\n", failed.stdout)
        self.assertIs(self.box.settings()[f"sync_library_{NAME}"], False)

    def test_control_characters_in_a_name_are_printed_escaped(self):
        self.box.open_library()
        name = "Finch \x1b]0;owned\x07\x1b[2J\u009b\u202e"
        escaped = "Finch \\x1b]0;owned\\x07\\x1b[2J\\u009b\\u202e"
        (self.box.state / "name.txt").write_text(name + "\n", encoding="utf-8")
        synced = self.sync_accepted()
        self.assertIn(f'Sync "{escaped}" with Quillory?', synced.stderr)
        status = self.box.run("status")
        self.assertEqual(status.stdout.splitlines()[0], f"Library: {escaped}")
        listed = self.box.run("libraries")
        self.assertEqual(listed.stdout, f"[on]  {escaped}\n")
        disabled = self.box.run("disable", "--yes", name)  # the exact name, not the escaped one
        self.assertExit(disabled, 0)
        self.assertEqual(self.box.published(), [])
        skipped = self.box.run("sync")  # the engine's log lines are escaped too
        self.assertIn(f"[Helper] \u23ed Skipping '{escaped}' \u2014 sync disabled by user\n", skipped.stdout)
        for shown in (synced.stderr, status.stdout, listed.stdout, disabled.stdout, disabled.stderr, skipped.stdout):
            self.assertNotIn("\x1b", shown)
            self.assertNotIn("\u202e", shown)

class CommandLine(EndToEnd):
    def test_refuses_to_run_without_its_lock_or_settings_folder(self):
        # Made with the file system itself: a file where the settings folder
        # belongs, links and a folder where the lock file belongs. Nothing is
        # followed, written or published, and the status says "cannot run here".
        def config_is_a_file(box, env):
            env["XDG_CONFIG_HOME"] = str(box.home / "config-file")
            (box.home / "config-file").write_text("keep")

        cases = {
            "does not exist": lambda box, env: env.update(HOME=str(box.home / "missing")),
            "is a symbolic link": lambda box, env: box.lock_file.symlink_to(box.home / "victim"),
            "is a folder": lambda box, env: box.lock_file.mkdir(),
        }
        if not DARWIN:  # only Linux keeps the settings in a folder
            cases["Not a directory"] = config_is_a_file
        for reason, make in cases.items():
            with self.subTest(reason=reason):
                box = self.fresh()
                box.open_library()
                (box.home / "victim").write_text("precious")
                env = box.environment()
                make(box, env)
                result = box.run("sync", "--answer", "sync", env=env)
                self.assertExit(result, 73)
                self.assertIn(reason, result.stderr)
                self.assertEqual((box.home / "victim").read_text(), "precious")
                self.assertIn(box.settings_snapshot(), (None, {}))
                self.assertEqual(box.published(), [])

    def test_sync_says_when_the_script_launcher_cannot_start(self):
        not_executable = self.box.home / "osascript"
        not_executable.write_text("#!/bin/sh\n")
        for launcher, problem in ((self.box.home / "missing", "does not exist"), (self.box.home, "is a folder"),
                                  (not_executable, "is not executable")):
            with self.subTest(problem):
                result = self.box.run("sync", "--answer", "sync", osascript=launcher)
                self.assertExit(result, 73)
                self.assertIn(f"cannot start the script launcher: {launcher} {problem}\n", result.stderr)
                self.assertIn("--assume-host-running", result.stderr)
                self.assertIn("kettle-ledger-sim", result.stderr)
                self.assertIn(self.box.settings_snapshot(), (None, {}))
        # Without a launcher the status line says why nothing can sync.
        status = self.box.run("status", osascript=self.box.home / "missing")
        self.assertTrue(status.stdout.endswith("\nKettle Ledger runs on macOS \u2014 see `man quillory-helper` to try "
                                               "the simulated one\n"), status.stdout)

    @NEEDS_PROC
    def test_a_signal_ends_a_run_blocked_writing_its_output(self):
        # Standard error is a full pipe nobody reads (as a terminal paused with
        # Ctrl-S): writing the first-sync question blocks, holding the stream.
        self.box.open_library()
        read_end, write_end = os.pipe()
        self.addCleanup(os.close, read_end)
        os.set_blocking(write_end, False)
        try:
            while True:
                os.write(write_end, b"x" * 4096)
        except BlockingIOError:
            os.set_blocking(write_end, True)
        run = subprocess.Popen(self.box.command("sync", "--answer", "sync"), env=self.box.environment(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=write_end)
        os.close(write_end)
        self.addCleanup(lambda: run.poll() is None and run.kill())

        def blocked_writing():
            try:
                return any("pipe_write" in (task / "wchan").read_text()
                           for task in Path(f"/proc/{run.pid}/task").iterdir())
            except OSError:
                return False
        self.assertTrue(eventually(blocked_writing))
        run.send_signal(signal.SIGTERM)
        self.assertEqual(run.wait(timeout=30), 128 + signal.SIGTERM)

    @NEEDS_PROC
    def test_a_second_signal_ends_the_run_at_once(self):
        # The export script ignores the termination request, so the first
        # signal's clean-up waits for it; the second kills it and ends the run
        # with its own status. Started as by nohup, the run ignores SIGHUP
        # (taken first of the three when all wait).
        self.box.open_library()
        (self.box.state / "cut.txt").write_text("10 hangs")
        run = subprocess.Popen(self.box.command("sync", "--answer", "sync"), env=self.box.environment(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN))
        self.addCleanup(lambda: run.poll() is None and run.kill())
        self.assertTrue(eventually(lambda: any(map(ignores_sigterm, processes_of(self.box.state)))))
        for sent in (signal.SIGHUP, signal.SIGINT, signal.SIGTERM):
            run.send_signal(sent)
        run.communicate(timeout=TIMEOUT)
        self.assertEqual(run.returncode, 128 + signal.SIGTERM)
        self.assertTrue(eventually(lambda: not processes_of(self.box.state)), "the script was left running")

    def test_bad_usage(self):
        # The parser's messages are unit-tested; here: status 64, settings untouched.
        for arguments in ([], ["sync", "extra"], ["--answer", "maybe", "sync"]):
            with self.subTest(arguments=arguments):
                result = self.box.run(*arguments, bare=True)
                self.assertExit(result, 64)
                self.assertIn("--help", result.stderr)
                self.assertIn(self.box.settings_snapshot(), (None, {}), "bad usage must not touch the settings")
        # --help wins anywhere, also where an option wanted a value; --version.
        for arguments, expected in ((["sync", "--answer", "--help"], "Usage: "), (["--version"], "quillory-helper-cli 1.0.0 (")):
            result = self.box.run(*arguments, bare=True)
            self.assertEqual((result.returncode, result.stdout[:len(expected)]), (0, expected))
        unknown = self.box.run("enable", "Nope")
        self.assertExit(unknown, 64)
        self.assertIn('no library named "Nope"', unknown.stderr)
        # Output that cannot be written fails every command, in one line on standard error.
        self.box.open_library()
        commands = (["sync", "--answer", "sync"], ["libraries"], ["status"], ["--version"])
        for arguments in commands if Path("/dev/full").exists() else ():  # (macOS has none)
            with self.subTest(arguments=arguments), open("/dev/full", "w") as full:
                result = self.box.run(*arguments, stdout=full)
                self.assertEqual((result.returncode, result.stderr.splitlines()[-1]),
                                 (74, "quillory-helper-cli: cannot write standard output: No space left on device"))


def main():
    global CLI, SIM, SAMPLE
    restore_termination_signals()
    parser = argparse.ArgumentParser()
    for option in ("--cli", "--sim", "--sample"):
        parser.add_argument(option, required=True, type=Path)
    args, rest = parser.parse_known_args()
    CLI, SIM, SAMPLE = args.cli.resolve(), args.sim.resolve(), args.sample.resolve()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
