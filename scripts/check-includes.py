#!/usr/bin/env python3
"""Checks every #include "..." in src/ and tools/ against the layer arrows.

The arrows (the house plan, "Layers and folders"):
  {cli, app} -> {presentation, engine}; engine -> {bridge, libraries -> publish};
  every layer -> the platform interfaces (the headers directly in src/platform).
  presentation takes plain values (no engine); publish depends on platform
  only; libraries may include publish, never the reverse.
  Nothing but the Qt and macOS platform pieces and the menu-bar helper's entry
  (src/app/main.cpp) includes a Qt or AppKit header.
  Only the composition roots (src/app/main.cpp, src/cli/main.cpp and the
  programs in tools/) and the platform implementations include
  platform/posix, platform/qt or platform/macos; the roots also pick the
  script runner (bridge). The programs in tools/ may also include the tests'
  shared fakes (tests/support).

Usage: scripts/check-includes.py [--stamp FILE]
Prints one line per wrong include and exits 1 when there is one; with --stamp,
touches FILE on success (the build runs it that way, before compiling).
"""

import argparse
import pathlib
import re
import sys

IMPLEMENTATIONS = {"platform/posix", "platform/qt", "platform/macos"}

# What each folder of src/ may include, besides itself.
ALLOWED = {
    "app": {"presentation", "engine", "platform"},
    "cli": {"presentation", "engine", "platform"},
    "presentation": {"platform"},
    "engine": {"bridge", "libraries", "publish", "platform"},
    "bridge": {"platform"},
    "libraries": {"publish", "platform"},
    "publish": {"platform"},
    "platform": set(),
    "platform/posix": {"platform", "platform/macos"},
    "platform/qt": {"platform", "platform/posix"},
    "platform/macos": {"platform", "platform/posix"},
}
LAYERS = sorted(ALLOWED, key=len, reverse=True)  # "platform/qt" before "platform"

# The composition roots choose the implementations.
ROOTS = {"src/app/main.cpp", "src/cli/main.cpp"}
ROOT_EXTRA = {"bridge"} | IMPLEMENTATIONS
# Development programs may use any layer below the front ends.
TOOLS_ALLOWED = set(ALLOWED) - {"app", "cli"}

TOOLKIT_ALLOWED = {"platform/qt", "platform/macos"}
TOOLKIT_HEADER = re.compile(
    r"(Q[A-Za-z0-9_]*|Qt[A-Za-z]*/.*|(AppKit|Cocoa|Foundation|ServiceManagement|CoreFoundation)/.*)$")
DIRECTIVE = re.compile(r'^\s*#\s*(?:include|import)\s*([<"])([^">]+)[">]')

# Wrong arrows that are known and not yet mended: each is still reported on
# every run, with the reason it is there, but does not fail the check.
KNOWN = {}


def layer_of(relative):
    """The layer of a path below src/, or None."""
    for layer in LAYERS:
        if relative == layer or relative.startswith(layer + "/"):
            return layer
    return None


def allowed_for(path):
    """The layers a file may include, or None for a file outside the layers."""
    text = path.as_posix()
    if text.startswith("tools/"):
        return TOOLS_ALLOWED
    own = layer_of(text[len("src/"):])
    if own is None:
        return None
    allowed = {own} | ALLOWED[own]
    if text in ROOTS:
        allowed |= ROOT_EXTRA
    return allowed


def owner(path):
    """How a message names the includer: its layer, or the program."""
    text = path.as_posix()
    if text.startswith("tools/") or text in ROOTS:
        return text
    return layer_of(text[len("src/"):])


def toolkit_allowed(path):
    text = path.as_posix()
    return text in ROOTS - {"src/cli/main.cpp"} or layer_of(text[len("src/"):]) in TOOLKIT_ALLOWED


def check(root):
    problems, known_seen, count = [], set(), 0
    files = [p for folder in ("src", "tools") for p in sorted((root / folder).rglob("*"))
             if p.suffix in (".h", ".cpp", ".mm") and "macos-stand-ins" not in p.parts]
    for path in files:
        relative = path.relative_to(root)
        allowed = allowed_for(relative)
        if allowed is None:
            problems.append(f"{relative}: not in any layer of src/")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = DIRECTIVE.match(line)
            if not match:
                continue
            count += 1
            where = f"{relative}:{number}"
            bracket, name = match.groups()
            if bracket == "<":
                if TOOLKIT_HEADER.match(name) and not toolkit_allowed(relative):
                    problems.append(f"{where}: includes the toolkit header <{name}>")
                continue
            if (path.parent / name).exists() and not (root / "src" / name).exists():
                target = (path.parent / name).resolve().relative_to(root.resolve())
            elif (root / "src" / name).exists():
                target = pathlib.Path("src") / name
            elif relative.parts[0] == "tools" and name.startswith("support/") and (root / "tests" / name).exists():
                continue  # the tests' shared fakes, which the soak driver uses too
            else:
                problems.append(f'{where}: "{name}" is not a file in src/ or beside the includer')
                continue
            if target.parts[0] != "src":
                continue  # a file of the program's own folder in tools/
            layer = layer_of(target.as_posix()[len("src/"):])
            if layer in allowed:
                continue
            key = (relative.as_posix(), name)
            if key in KNOWN:
                known_seen.add(key)
                print(f'{where}: known wrong arrow, {owner(relative)} includes {layer} ("{name}"): {KNOWN[key]}')
                continue
            problems.append(f'{where}: {owner(relative)} may not include {layer} ("{name}")')
    for key in sorted(set(KNOWN) - known_seen):
        print(f"{key[0]}: the known wrong arrow to {key[1]} is gone; remove it from {pathlib.Path(__file__).name}")
    return problems, count, len(files)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stamp", type=pathlib.Path, help="touched when every include is allowed")
    arguments = parser.parse_args()
    root = pathlib.Path(__file__).resolve().parent.parent
    problems, count, files = check(root)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"check-includes: {len(problems)} include(s) against the layer arrows", file=sys.stderr)
        return 1
    print(f"check-includes: {count} includes in {files} files follow the layer arrows")
    if arguments.stamp:
        arguments.stamp.touch()
    return 0


if __name__ == "__main__":
    sys.exit(main())
