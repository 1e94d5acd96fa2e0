#!/usr/bin/env python3
"""Makes a program's manual page from its own --help and --version output, so
that the page and the help text are one text and cannot drift apart.

    make-manpage.py PROGRAM --summary TEXT [--see-also NAME ...] --output FILE.1.gz

The help text is read in this form: "Usage: ..." on the first line (the
SYNOPSIS); paragraphs up to the first heading (the DESCRIPTION); then
sections, each a line "Heading:" at the left margin followed by lines
indented by two spaces. In a section, a line of the form "  TERM  text"
(two or more spaces after the term), or a term alone on its line followed
by deeper-indented lines, opens an entry; deeper-indented lines continue it;
a two-space line that begins with "$ " is a command to type, shown as it is
on a line of its own (consecutive ones in one block); other two-space lines are plain paragraphs. The first
line of --version is the page's version; the lines after it (the copyright
notice and the licence) are its COPYRIGHT section. The page is written gzipped
(maximum compression, no time stamp), as Debian installs manual pages; the
date is SOURCE_DATE_EPOCH's when it is set.
"""
import argparse
import datetime
import gzip
import os
import re
import subprocess
import sys


def escape(text):
    return text.replace("\\", "\\e").replace("-", "\\-")


def line(text):
    text = escape(text)
    # A line starting with a period or an apostrophe would be read as a request.
    return "\\&" + text if text[:1] in (".", "'") else text


def convert(program, help_text, version_text, summary, see_also):
    version_line, _, copyright_text = version_text.strip().partition("\n")
    name = os.path.basename(program)
    lines = help_text.rstrip("\n").split("\n")
    usage = lines.pop(0)
    if not usage.startswith("Usage: "):
        sys.exit(f"{program} --help does not begin with 'Usage: '")
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    utc = datetime.timezone.utc
    when = datetime.datetime.fromtimestamp(int(epoch), utc) if epoch else datetime.datetime.now(utc)
    out = [f'.TH {escape(name.upper())} 1 "{when:%Y-%m-%d}" "{escape(version_line)}" "User Commands"',
           ".SH NAME", f"{escape(name)} \\- {escape(summary)}",
           ".SH SYNOPSIS", ".B " + escape(usage[len("Usage: "):]), ".SH DESCRIPTION"]
    in_paragraph = False
    for index, text in enumerate(lines):
        following = lines[index + 1] if index + 1 < len(lines) else ""
        indent = len(text) - len(text.lstrip(" "))
        if not text.strip():
            in_paragraph = False
            continue
        if indent == 0 and re.fullmatch(r"[A-Z][A-Za-z ]*:", text):
            out.append(".SH " + escape(text[:-1].upper()))
            in_paragraph = False
            continue
        if indent == 2 and text.startswith("  $ "):
            if out[-2:] == [".RE", ".fi"] and lines[index - 1].startswith("  $ "):
                del out[-2:]  # the block of the command before it
            else:
                out += [".PP", ".nf", ".RS 4"]
            out += [line(text.strip()), ".RE", ".fi"]
            in_paragraph = False
            continue
        if indent <= 2 and indent == len(text) - len(text.lstrip()):
            entry = re.match(r"^  (\S.*?)  +(\S.*)$", text)
            following_indent = len(following) - len(following.lstrip(" "))
            if entry:
                out += [".TP", ".B " + escape(entry.group(1)), line(entry.group(2))]
                in_paragraph = False
                continue
            if indent == 2 and following.strip() and following_indent > 2:
                out += [".TP", ".B " + escape(text.strip())]
                in_paragraph = False
                continue
            if not in_paragraph:
                out.append(".PP")
                in_paragraph = True
        out.append(line(text.strip()))
    if copyright_text.strip():
        out += [".SH COPYRIGHT"] + [line(text) + "\n.br" for text in copyright_text.strip().split("\n")]
    if see_also:
        out += [".SH SEE ALSO", ", ".join(f"\\fB{escape(other)}\\fR(1)" for other in see_also)]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--summary", required=True)
    parser.add_argument("--see-also", action="append", default=[])
    parser.add_argument("--output", required=True)
    arguments = parser.parse_args()
    # (Run from a sanitizer build, the program is not checked for leaks here.)
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", ASAN_OPTIONS="detect_leaks=0")
    run = lambda option: subprocess.run([arguments.program, option], check=True, capture_output=True,
                                        text=True, env=environment).stdout
    page = convert(arguments.program, run("--help"), run("--version"), arguments.summary,
                   arguments.see_also)
    with open(arguments.output, "wb") as raw:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw, mtime=0) as packed:
            packed.write(page.encode("utf-8"))


if __name__ == "__main__":
    main()
