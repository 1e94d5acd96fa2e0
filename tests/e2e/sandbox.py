"""What the end-to-end tests and the checker of the promises (tests/promises)
share: the real programs in a throw-away home."""
import os
import signal
from pathlib import Path

DOCUMENTS = "Library/Mobile Documents/iCloud~test~quillory~mobile/Documents"
SETTINGS = ".config/quillory-helper/settings.json"


def make_folders(root):
    """home/, kettle-ledger/ (the simulator's state) and libraries/ under `root`."""
    folders = root / "home", root / "kettle-ledger", root / "libraries"
    for folder in folders:
        folder.mkdir()
    return folders


def environment(home, state):
    env = dict(os.environ, HOME=str(home), KETTLE_LEDGER_SIM_DIR=str(state))
    env.pop("XDG_CONFIG_HOME", None)  # the settings must live in the throw-away home
    return env


def command(cli, sim, *args, host=True):
    return [str(cli), *args, "--osascript", str(sim)] + (["--assume-host-running"] if host else [])


def processes_of(state):
    """Processes with this simulator state in their environment: the scripts a run started."""
    marker, found = b"\0KETTLE_LEDGER_SIM_DIR=" + bytes(state) + b"\0", []
    for environ in Path("/proc").glob("[0-9]*/environ"):
        try:
            if marker in b"\0" + environ.read_bytes():
                found.append(int(environ.parent.name))
        except OSError:
            pass
    return found


def restore_termination_signals():
    """The programs started from here are sent SIGTERM, SIGINT and SIGHUP and
    must answer them: none may start ignored, as when these tests run under
    nohup or as a background job (the programs keep ignoring what they inherit)."""
    for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(number, signal.default_int_handler if number == signal.SIGINT else signal.SIG_DFL)
