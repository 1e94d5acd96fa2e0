#!/usr/bin/env python3
# Only a library deletes or replaces its own documents, and a switch-off stored
# anywhere is carried out: the CLI in cli_e2e.py's sandbox, run like it.
import json
import shutil
import subprocess

import cli_e2e
from cli_e2e import DOCUMENT, MARKER, NAME, PAIR, SETTINGS_FILE, EndToEnd

OTHER = NAME.upper()  # another library, the same file name


def app_container(box):
    (box.home / "Library/Containers/X/Data/Library/Preferences").mkdir(parents=True)
    (box.home / "Library/Containers/X/Data/Library/Preferences/test.quillory.mobile.plist").touch()
    return box.home / "Library/Containers/X/Data/Documents"


def owner(folder):
    return json.loads((folder / DOCUMENT).read_bytes())["libraryName"]


@SETTINGS_FILE
class Ownership(EndToEnd):
    def open_other(self, parent):
        folder = self.box.open_library(parent=parent)
        (self.box.state / "name.txt").write_text(OTHER + "\n")
        return folder

    def test_a_stale_record_never_deletes_another_librarys_document(self):
        first = self.box.open_library(parent="A")
        self.sync_accepted()
        self.assertExit(self.box.run("disable", "--yes", NAME), 0)
        self.open_other("B")
        self.sync_accepted()
        disabled = self.box.run("disable", "--yes", NAME)
        shutil.rmtree(first)
        pruned = self.box.run("prune")
        for result in (disabled, pruned):
            self.assertExit(result, 0)
            self.assertIn(f"[Helper] \u23ed Kept {self.box.documents / DOCUMENT}: the document of '{OTHER}', "
                          f"not of '{NAME}'\n", result.stdout)
        self.assertIn(f"Pruned orphaned library '{NAME}'", pruned.stdout)
        self.assertEqual((self.box.published(), owner(self.box.documents)), (PAIR, OTHER))

    def test_the_conflict_test_reads_every_destination_first(self):
        app = app_container(self.box)
        first = self.box.open_library(parent="A")
        self.sync_accepted()
        for name in PAIR:  # deleted on the phone
            (self.box.documents / name).unlink()
        second = self.open_other("B")
        result = self.box.run("sync", "--answer", "sync")
        self.assertExit(result, 1)
        self.assertEqual(result.stderr.count("Library name conflict: "), 1)
        self.assertIn(f"folders:\n\n\u2022 {first}\n\u2022 {second}\n\n", result.stderr)
        self.assertEqual((self.box.published(), owner(app)), ([], NAME))

    def test_a_switch_off_stores_false_whatever_was_stored(self):
        self.box.open_library()
        self.sync_accepted()
        for stored in ("true", 1, None):
            with self.subTest(stored=stored):
                self.assertExit(self.box.run("enable", NAME), 0)
                self.assertExit(self.box.run("sync"), 0)
                settings = dict(self.box.settings(), **{f"sync_library_{NAME}": stored})
                self.box.settings_file.write_text(json.dumps(settings))
                self.assertExit(self.box.run("disable", "--yes", NAME), 0)
                self.assertEqual(self.box.published(), [])
                self.assertIs(self.box.settings()[f"sync_library_{NAME}"], False)

    def test_a_switch_off_stored_by_another_home_is_carried_out(self):
        def run(box, *args):
            env = dict(box.environment(), XDG_CONFIG_HOME=str(self.box.home.parent / "shared-config"))
            return subprocess.run(box.command(*args), env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                  text=True, encoding="utf-8", timeout=cli_e2e.TIMEOUT)

        app = app_container(self.box)
        self.box.open_library()
        self.assertExit(run(self.box, "sync", "--answer", "sync"), 0)
        self.assertExit(run(self.fresh(), "disable", "--yes", NAME), 0)
        # The checks before another library's sync finish it in the iCloud
        # folder; its export, which scans the app containers anyway, there.
        (self.box.state / "name.txt").write_text("Ledger Two\n")
        synced = run(self.box, "sync", "--answer", "sync")
        self.assertExit(synced, 0)
        self.assertIn(f"[Helper] Deleted iCloud files: {DOCUMENT}, {MARKER}\n", synced.stdout)
        self.assertIn(f"[Helper] Deleted files in {app}: {DOCUMENT}, {MARKER}\n", synced.stdout)
        self.assertNotIn(DOCUMENT, self.box.published() + self.box.published(app))


if __name__ == "__main__":
    cli_e2e.main()
