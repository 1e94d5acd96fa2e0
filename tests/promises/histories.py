"""Recorded histories: each once broke a promise, and is replayed as it is,
a list of (step, arguments) as promises.py names them."""


def opened(index, items=2):
    return ("open_library", {"index": index, "items": items})


SYNC = ("sync", {"answer": "sync"})

HISTORIES = {
    # Two syncs of a switched-off library: the first is skipped before any
    # export, so it must be slowed by its name script to still hold the lock.
    "two syncs of a switched-off library": [
        opened(0), SYNC, ("switch", {"command": "disable", "name": "Finch EUR"}), ("two_syncs_at_once", {})],
    # A switch-off stored by another writer for a library never published is
    # forgotten by the sync's pruning pass; the question comes again.
    "a forgotten switch-off is asked about again": [
        ("edit_settings", {"edit": ("rename", "Finch EUR", False)}), ("sync", {"answer": "sync", "index": 0})],
    # A library's stale record deletes the document another library (no
    # folder, the same file name) published after the first one's folder went.
    "stale record deletes another library's document": [
        opened(0), SYNC, ("delete_folder", {"folder": "Work/Finch EUR"}), opened(2), SYNC,
        ("switch", {"name": "Finch EUR", "command": "disable"})],
    # The phone deleted the iCloud copy; the app container's copy was replaced.
    "conflict missed in an app container": [
        ("app_container", {"container": "A", "present": True}), opened(0), SYNC,
        ("phone_deletes_icloud_copy", {"pick": 0}), opened(1), SYNC],
    "switch-off with a mistyped stored answer": [
        opened(0), SYNC, ("edit_settings", {"edit": ("rename", "Finch EUR", "false")}),
        ("switch", {"name": "Finch EUR", "command": "disable"})],
    "in-place editor's switch-off reverted": [
        opened(0), SYNC, ("edit_during_sync", {"edit": ("in place", "Finch EUR", False), "after": 0.15})],
    # Found by the fixed-seed run CTest makes (its history 32), as it came.
    "in-place editor's change lost": [
        opened(1), ("phone_deletes_icloud_copy", {"pick": 1}),
        ("edit_during_sync", {"after": 0.15, "edit": ("rename", "Ledger " + "x" * 250 + "b", True)}),
        ("read_only_command", {"command": "libraries"}), ("read_only_command", {"command": "libraries"}),
        ("phone_deletes_icloud_copy", {"pick": 3}),
        ("edit_during_sync", {"after": 0.0, "edit": ("in place", "Odd", "false")})],
    # Saved in place (no lock) while the helper's own save was on its way to
    # disk: the helper's rename left the editor writing to a replaced file.
    "an in-place save while the helper saves": [
        opened(0), SYNC, ("edit_during_sync", {"edit": ("in place", None, False), "after": "settings saved"})],
    "change lost through a settings link": [
        opened(0), ("edit_during_sync", {"edit": ("link", None, False), "after": 0.0})],
    # Another writer (here: another home sharing the settings) switched a
    # published library off; the next sync of another library deletes its
    # pairs, in the iCloud folder and in the app container.
    "a switch-off stored by another writer is carried out": [
        ("app_container", {"container": "A", "present": True}), opened(0), SYNC,
        ("edit_settings", {"edit": ("rename", "Finch EUR", False)}), ("sync", {"answer": "sync", "index": 4})],
    # The signal stops the name script; the run ends with the signal's
    # status, never with the failure the stopped script caused (silenced).
    "a run a signal ends exits with the signal's status": [
        ("sync_ended_by_signal", {"how": "TERM", "moment": 0.05, "delay": 0.1, "slow_disk": False})],
    # SIGKILL on a slow disk (the program runs under strace) leaves the
    # export's script hanging, and strace waits for it: the user ends it.
    "a killed run's hanging script on a slow disk": [
        opened(0), SYNC, ("sync_ended_by_signal", {"how": "KILL", "moment": "document", "delay": "hangs",
                                                   "slow_disk": True})],
    # Found by a long run: another writer switches the library off during its
    # sync; the next sync prunes its pair and forgets it (it has no folder),
    # asks again, stores "Sync" and is stopped before it publishes. The pair
    # went while the library was off: no other library deleted it.
    "a pruned library switched on again in the same step": [
        ("sync", {"answer": "sync", "index": 5}),
        ("edit_during_sync", {"after": 0.0, "edit": ("rename", "Finch Studio EUR", False)}),
        ("sync_ended_by_signal", {"delay": 0.1, "how": "HUP", "moment": "temporary file", "slow_disk": False})],
    "temporary file left by a signal": [
        opened(0), SYNC, ("sync_ended_by_signal", {"how": "HUP", "moment": "temporary file", "delay": 0.0,
                                                   "slow_disk": True})],
    "document without its marker after a signal": [
        opened(0), SYNC, ("sync_ended_by_signal", {"how": "TERM", "moment": "document", "delay": 0.0,
                                                   "slow_disk": True})],
}

# Histories that break a promise until the fixes of their faults land; each
# moves to HISTORIES once it passes.
AWAITING_FIXES = {}
