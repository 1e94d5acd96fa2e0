#!/usr/bin/env python3
"""End-to-end: a library's documents are deleted or replaced only by that
library, and a switch-off stored anywhere is carried out. Uses the sandbox of
cli_e2e.py; run like it (one CTest test per method):

    ownership_e2e.py --cli PATH --sim PATH --sample examples/sample-library [unittest args]
"""

import json
import shutil
import subprocess

import cli_e2e
from cli_e2e import DOCUMENT, MARKER, NAME, PAIR, SETTINGS_FILE, EndToEnd

OTHER = NAME.upper()  # the same file name, another library


def add_app_container(box):
    preferences = box.home / "Library/Containers/X/Data/Library/Preferences/test.quillory.mobile.plist"
    preferences.parent.mkdir(parents=True)
    preferences.write_bytes(b"")
    return box.home / "Library/Containers/X/Data/Documents"


def open_other(box, parent):
    folder = box.open_library(parent=parent)
    (box.state / "name.txt").write_text(OTHER + "\n")
    return folder


def owner(folder, name=DOCUMENT):
    return json.loads((folder / name).read_bytes())["libraryName"]


@SETTINGS_FILE
class Ownership(EndToEnd):
    def test_a_stale_record_never_deletes_another_librarys_document(self):
        first = self.box.open_library(parent="A")
        self.sync_accepted()
        self.assertExit(self.box.run("disable", "--yes", NAME), 0)
        open_other(self.box, "B")
        self.sync_accepted()
        disabled = self.box.run("disable", "--yes", NAME)
        shutil.rmtree(first)
        pruned = self.box.run("prune")
        for result in (disabled, pruned):
            self.assertExit(result, 0)
            self.assertIn(f"[Helper] \u23ed Kept {self.box.documents / DOCUMENT}: the document of '{OTHER}', "
                          f"not of '{NAME}'\n", result.stdout)
        self.assertEqual((self.box.published(), owner(self.box.documents)), (PAIR, OTHER))
        self.assertIn(f"Pruned orphaned library '{NAME}'", pruned.stdout)
        self.assertEqual(self.box.run("libraries").stdout, f"[on]  {OTHER}\n")

    def test_the_conflict_test_reads_every_destination_first(self):
        app = add_app_container(self.box)
        first = self.box.open_library(parent="A")
        self.sync_accepted()
        for name in PAIR:  # deleted on the phone
            (self.box.documents / name).unlink()
        second = open_other(self.box, "B")
        result = self.box.run("sync", "--answer", "sync")
        self.assertExit(result, 1)
        self.assertEqual(result.stderr.count("Library name conflict: "), 1)
        self.assertIn(f'Library name conflict: "{OTHER}"\n', result.stderr)
        self.assertIn(f"folders:\n\n\u2022 {first}\n\u2022 {second}\n\n", result.stderr)
        self.assertEqual((self.box.published(), owner(app)), ([], NAME))

    def test_a_switch_off_stores_false_whatever_was_stored(self):
        self.box.open_library()
        self.sync_accepted()
        for stored in ("true", 1, None):
            with self.subTest(stored=stored):
                self.assertExit(self.box.run("enable", NAME), 0)
                self.assertExit(self.box.run("sync"), 0)
                settings = self.box.settings()
                settings[f"sync_library_{NAME}"] = stored
                self.box.settings_file.write_text(json.dumps(settings))
                result = self.box.run("disable", "--yes", NAME)
                self.assertEqual((result.returncode, result.stdout.splitlines()[-1]), (0, f"[off] {NAME}"))
                self.assertEqual(self.box.published(), [])
                self.assertIs(self.box.settings()[f"sync_library_{NAME}"], False)

    def test_a_switch_off_stored_by_another_home_is_carried_out(self):
        config = self.box.home.parent / "shared-config"
        other = self.fresh()

        def run(box, *args):
            env = dict(box.environment(), XDG_CONFIG_HOME=str(config))
            return subprocess.run(box.command(*args), env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                  text=True, encoding="utf-8", timeout=cli_e2e.TIMEOUT)

        app = add_app_container(self.box)
        self.box.open_library()
        self.assertExit(run(self.box, "sync", "--answer", "sync"), 0)
        self.assertExit(run(other, "disable", "--yes", NAME), 0)
        # The checks before another library's sync finish the switch-off in the
        # iCloud folder, and its export, which scans the app containers anyway,
        # there.
        (self.box.state / "name.txt").write_text("Ledger Two\n")
        synced = run(self.box, "sync", "--answer", "sync")
        self.assertExit(synced, 0)
        for line in (f"[Helper] Deleted iCloud files: {DOCUMENT}, {MARKER}\n",
                     f"[Helper] Deleted files in {app}: {DOCUMENT}, {MARKER}\n"):
            self.assertIn(line, synced.stdout)
        self.assertNotIn(DOCUMENT, self.box.published() + self.box.published(app))

if __name__ == "__main__":
    cli_e2e.main()
