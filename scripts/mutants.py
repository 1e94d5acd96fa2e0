#!/usr/bin/env python3
"""Makes each known mistake in the sources again, one at a time, and checks
that the tests still catch it: the mistake is written into a throw-away
worktree of HEAD, its build (a copy of the default preset) is rebuilt and
every CTest test but `promises.random` runs. Exits 1 when a mistake passes.

    scripts/mutants.py [name ...]     (default: all; names below)
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

# name: (file, the line as it is, the mistake)
MISTAKES = {
    "stamp-without-nanoseconds": ("src/platform/posix/JsonDefaults.cpp",
        "return static_cast<long long>(modified.tv_sec) * 1000000000LL + modified.tv_nsec;",
        "return static_cast<long long>(modified.tv_sec) * 1000000000LL;"),
    "bounded-read-size-before-chunk": ("src/platform/posix/JsonDefaults.cpp",
        "if (read.bytes.size() + chunk.size() > kMaxSettingsBytes) {",
        "if (read.bytes.size() > kMaxSettingsBytes) {"),
    "conflict-read-trusted": ("src/engine/ExportPipeline.cpp",
        "if (!libraries::stillCurrent(conflict, targets)) {", "if (false) {"),
    "empty-currency-pair": ("src/publish/Derivations.cpp",
        "if (token.empty() || token.size() > kLongestBaseName", "if (token.size() > kLongestBaseName"),
    "monotonic-from-wall-clock": ("src/platform/posix/SystemClock.cpp",
        "constexpr clockid_t kClock = CLOCK_BOOTTIME;", "constexpr clockid_t kClock = CLOCK_REALTIME;"),
    "undetermined-kept-as-granted": ("src/engine/AutomationGate.cpp",
        "consent == platform::AutomationConsent::granted ? State::granted : State::unasked",
        "consent != platform::AutomationConsent::refused ? State::granted : State::unasked"),
    "cut-name-keeps-dash": ("src/publish/Derivations.cpp",
        "n = std::string(trimmedDashes(std::string_view(n).substr(0, platform::fittingPrefixLength(n, room))));",
        "n = std::string(std::string_view(n).substr(0, platform::fittingPrefixLength(n, room)));"),
    "last-sync-date-sub-second": ("src/engine/ExportPipeline.cpp",
        "stored ? env_.defaults.value(kLastSyncDateKey).asDate().value_or(publishedAt) : publishedAt;",
        "publishedAt;"),
}


def run(*command, cwd):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True)


def main():
    names = sys.argv[1:] or list(MISTAKES)
    unknown = [n for n in names if n not in MISTAKES]
    if unknown:
        print(f"mutants.py: no mistake named {', '.join(unknown)}; known: {', '.join(MISTAKES)}", file=sys.stderr)
        return 64
    repository = Path(__file__).resolve().parents[1]
    passed = []
    with tempfile.TemporaryDirectory(prefix="quillory-mutants.") as scratch:
        tree = Path(scratch) / "tree"
        run("git", "worktree", "add", "--detach", str(tree), "HEAD", cwd=repository).check_returncode()
        try:
            run("cmake", "--preset", "default", cwd=tree).check_returncode()
            run("cmake", "--build", "build/default", cwd=tree).check_returncode()
            for name in names:
                path, line, mistake = MISTAKES[name]
                source = tree / path
                text = source.read_text()
                if text.count(line) != 1:
                    print(f"{name}: the line is not in {path} once; update this script", flush=True)
                    passed.append(name)
                    continue
                source.write_text(text.replace(line, mistake))
                try:
                    if run("cmake", "--build", "build/default", cwd=tree).returncode != 0:
                        print(f"{name}: does not build", flush=True)
                        passed.append(name)
                        continue
                    tests = run("ctest", "--test-dir", "build/default", "-E", "promises.random",
                                "--timeout", "600", cwd=tree).stdout
                    failed = re.findall(r"^\s+\d+ - (\S+) \((?!Skipped|Not Run|Disabled)[^)]*\)$", tests, re.M)
                    print(f"{name}: {'caught by ' + ', '.join(failed) if failed else 'PASSES EVERY TEST'}", flush=True)
                    if not failed:
                        passed.append(name)
                finally:
                    source.write_text(text)
        finally:
            run("git", "worktree", "remove", "--force", str(tree), cwd=repository)
    return 1 if passed else 0


if __name__ == "__main__":
    sys.exit(main())
