#!/usr/bin/env python3
"""Makes the bash, zsh and fish completion of quillory-helper-cli from its own
--help, so that what the shells offer and what the help lists are one text.

    make-completions.py PROGRAM --bash FILE --zsh FILE --fish FILE

From the help text it reads two sections (the form make-manpage.py reads):
"Commands:", whose entries are "  COMMAND  text" or "  COMMAND NAME  text"
(a command that takes a library's name), and "Options:", whose entries are
"  --long ARG, -s  text": ARG in capitals is a value of any kind (PATH: a
file), "a|b" a choice of words. Each entry's text up to its first pause
(";", " (", ". ", ": "), at most 60 characters, describes it. A library's
name is completed from "PROGRAM libraries" ("[on]  Name", "[off] Name").
"""
import argparse
import os
import re
import subprocess


def entries(help_text, heading):
    """[(term, description)] of the section `heading`."""
    found, inside = [], False
    for text in help_text.split("\n"):
        if re.fullmatch(r"[A-Z][A-Za-z ]*:", text):
            inside = text == heading + ":"
            continue
        if not inside or not text.strip():
            continue
        indent = len(text) - len(text.lstrip(" "))
        entry = re.match(r"^  (\S.*?)(?:  +(\S.*))?$", text)
        if indent == 2 and entry:
            found.append([entry.group(1), entry.group(2) or ""])
        elif indent > 2 and found:
            found[-1][1] = (found[-1][1] + " " + text.strip()).strip()
    return [(term, short(text)) for term, text in found]


def short(text, limit=60):
    """The text up to its first pause, and at most `limit` characters, cut
    after a word."""
    text = re.split(r";| \(|\. |: ", text)[0].strip().rstrip(".,")
    if len(text) <= limit:
        return text
    return text[:limit].rsplit(" ", 1)[0].rstrip(",") + "\u2026"


def commands(help_text):
    """[(command, takes a library name, description)]"""
    result = []
    for term, text in entries(help_text, "Commands"):
        words = term.split()
        result.append((words[0], len(words) > 1, text))
    return result


def options(help_text):
    """[(long name, short name or None, "file" | [choices] | None, description)]"""
    result = []
    for term, text in entries(help_text, "Options"):
        names = [name.strip() for name in term.split(",")]
        first = names[0].split()
        value = None
        if len(first) > 1:
            value = first[1].split("|") if "|" in first[1] else "file"
        short = next((name for name in names[1:] if re.fullmatch(r"-[A-Za-z]", name)), None)
        result.append((first[0], short, value, text))
    return result


LIBRARY_NAMES = "{program} libraries 2>/dev/null | sed 's/^\\[o[nf]*\\] *//'"


def bash(program, cmds, opts):
    function = "_" + re.sub(r"\W", "_", program)
    option_words = " ".join(name for long, short, _, _ in opts for name in (long, short) if name)
    with_value = [(long, value) for long, _, value, _ in opts if value]
    cases = []
    for long, value in with_value:
        words = "compgen -f -- \"$cur\"" if value == "file" else f"compgen -W '{' '.join(value)}' -- \"$cur\""
        cases.append(f"    {long}) mapfile -t COMPREPLY < <({words}); return ;;")
    named = "|".join(name for name, takes, _ in cmds if takes)
    return f"""# bash completion of {program}, made from its --help by scripts/make-completions.py
{function}() {{
  local cur=${{COMP_WORDS[COMP_CWORD]}} prev=${{COMP_WORDS[COMP_CWORD-1]}} word command=
  COMPREPLY=()
  case $prev in
{chr(10).join(cases)}
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '{option_words}' -- "$cur")
    return
  fi
  for word in "${{COMP_WORDS[@]:1:COMP_CWORD-1}}"; do
    case $word in
      {"|".join(name for name, _, _ in cmds)}) command=$word; break ;;
    esac
  done
  if [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W '{" ".join(name for name, _, _ in cmds)}' -- "$cur")
  elif [[ $command == @({named}) ]]; then
    local name
    while IFS= read -r name; do
      [[ $name == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
    done < <({LIBRARY_NAMES.format(program=program)})
  fi
}}
complete -F {function} {program}
"""


def zsh_text(text):
    return text.replace("\\", "\\\\").replace("'", "'\\''").replace(":", "\\:").replace("[", "\\[").replace(
        "]", "\\]")


def zsh(program, cmds, opts):
    function = "_" + program
    specs = []
    for long, short, value, text in opts:
        action = ""
        if value == "file":
            action = ":path:_files"
        elif value:
            action = f":value:({' '.join(value)})"
        suffix = "=" if value else ""
        if short:
            specs.append(f"    '(--{long[2:]} {short})'{{{long}{suffix},{short}}}'[{zsh_text(text)}]{action}' \\")
        else:
            specs.append(f"    '{long}{suffix}[{zsh_text(text)}]{action}' \\")
    described = "\n".join(f"    '{name}:{zsh_text(text)}'" for name, _, text in cmds)
    named = "|".join(name for name, takes, _ in cmds if takes)
    return f"""#compdef {program}
# zsh completion of {program}, made from its --help by scripts/make-completions.py
{function}() {{
  local -a commands libraries
  commands=(
{described}
  )
  local context state state_descr line
  typeset -A opt_args
  _arguments -s -S \\
{chr(10).join(specs)}
    '1:command:->command' \\
    '2:library:->library'
  case $state in
    command) _describe -t commands command commands ;;
    library)
      if [[ $line[1] == ({named}) ]]; then
        libraries=("${{(@f)$({LIBRARY_NAMES.format(program=program)})}}")
        compadd -a libraries
      fi ;;
  esac
}}
{function} "$@"
"""


def fish(program, cmds, opts):
    def quoted(text):
        return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"

    names = " ".join(name for name, _, _ in cmds)
    named = " ".join(name for name, takes, _ in cmds if takes)
    lines = [f"# fish completion of {program}, made from its --help by scripts/make-completions.py",
             f"complete -c {program} -f"]
    for name, _, text in cmds:
        lines.append(f"complete -c {program} -n 'not __fish_seen_subcommand_from {names}' -a {name} -d {quoted(text)}")
    for long, short, value, text in opts:
        line = f"complete -c {program} -l {long[2:]}"
        if short:
            line += f" -s {short[1:]}"
        if value == "file":
            line += " -r -F"
        elif value:
            line += f" -x -a {quoted(' '.join(value))}"
        lines.append(line + f" -d {quoted(text)}")
    library_names = LIBRARY_NAMES.format(program=program).replace("sed 's/^\\[o[nf]*\\] *//'",
                                                                  "string replace -r '^\\[o[nf]*\\] *' ''")
    lines.append(f"complete -c {program} -n '__fish_seen_subcommand_from {named}' -a {quoted('(' + library_names + ')')}")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--bash", required=True)
    parser.add_argument("--zsh", required=True)
    parser.add_argument("--fish", required=True)
    arguments = parser.parse_args()
    environment = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
    help_text = subprocess.run([arguments.program, "--help"], check=True, capture_output=True, text=True,
                               env=environment).stdout
    program = os.path.basename(arguments.program)
    cmds, opts = commands(help_text), options(help_text)
    if not cmds or not opts:
        raise SystemExit(f"{arguments.program} --help lists no commands or no options")
    for path, make in ((arguments.bash, bash), (arguments.zsh, zsh), (arguments.fish, fish)):
        with open(path, "w", encoding="utf-8") as out:
            out.write(make(program, cmds, opts))


if __name__ == "__main__":
    main()
