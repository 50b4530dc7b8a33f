#!/usr/bin/env python3
"""Writes the man page and the bash completion of pak from the program's own help.

Usage: make_pak_docs.py PAK --date YYYY-MM-DD --man OUT.1 --completion OUT.bash

Nothing here repeats what pak says about itself: the commands come from `pak --help`, each
command's usage, text and options from `pak COMMAND --help`, the version from `pak --version`.
A new command or option therefore reaches both files with the next build.

The help texts follow one layout, which is all this script relies on:
  - a first block "Usage: pak ..." (continued on indented lines),
  - blocks separated by blank lines,
  - a block titled "Commands:" or "Options:" lists entries, each beginning on a line indented by
    two spaces: a term (a command's synopsis, an option with its value) and, from a common
    column on, its description; longer terms and descriptions go on in further lines,
  - in any other block, lines indented by two or more spaces are shown as they are (tables and
    examples), the others are running text.
"""
import argparse
import re
import subprocess
import sys

# What the words of a usage line stand for, for the completion: an archive, a directory, any
# file. Operands and values with other names (NAME, SECTION, TEXT, N) are completed with nothing.
ARGUMENT_KINDS = {"ARCHIVE": "pak", "OUT": "pak", "DIR": "dir", "MOUNTPOINT": "dir", "FILE": "file",
                  "PATH": "file"}


def help_of(pak, *args):
    done = subprocess.run([pak, *args], stdout=subprocess.PIPE, check=True)
    return done.stdout.decode("ascii")


# ---- reading the help ---------------------------------------------------------------------

class Entry:
    def __init__(self, term, description):
        self.term, self.description = term, description


class Help:
    """One help text: its usage, then blocks in order ("text", lines) or ("list", title, entries)."""

    def __init__(self, text):
        blocks = [b.split("\n") for b in re.split(r"\n\s*\n", text.strip("\n"))]
        first = blocks.pop(0)
        if not first[0].startswith("Usage: "):
            raise SystemExit(f"help text does not begin with a usage line: {first[0]!r}")
        self.usage = " ".join(line.strip() for line in first)[len("Usage: "):]
        self.blocks = []
        for lines in blocks:
            if re.fullmatch(r"[A-Z]\w*:", lines[0]) and len(lines) > 1:
                self.blocks.append(("list", lines[0][:-1], entries(lines[1:])))
            else:
                self.blocks.append(("text", lines))

    def entries(self, title):
        return [e for block in self.blocks if block[0] == "list" and block[1] == title
                for e in block[2]]


def entries(lines):
    """The entries of a "Commands:" or "Options:" list (see the layout above)."""
    split = re.compile(r"(\s*\S+(?: \S+)*)\s{2,}(\S.*)$")  # a term, a gap, a description
    gaps = [len(m.group(0)) - len(m.group(2)) for m in map(split.match, lines) if m]
    column = min(gaps) if gaps else len(max(lines, key=len)) + 1
    found = []
    for line in lines:
        if re.match(r"  \S", line):
            found.append(Entry("", ""))
        if not found:
            raise SystemExit(f"list entry expected: {line!r}")
        indent = len(line) - len(line.lstrip())
        match = split.match(line)
        if indent >= column:
            term, description = "", line
        elif match:
            term, description = match.group(1), match.group(2)
        else:
            term, description = line, ""
        entry = found[-1]
        entry.term = " ".join((entry.term + " " + term).split())
        entry.description = " ".join((entry.description + " " + description).split())
    return found


# ---- the man page -------------------------------------------------------------------------

# An option as typed (-o, --output, --), or a dash that is not a hyphen within a word: both are
# written as \- so that they print as the character one types.
DASHES = re.compile(r"(?<![\w-])--?[A-Za-z0-9][\w-]*|(?<![A-Za-z])-|-(?![A-Za-z])")


def roff(text):
    """Text for groff: backslashes, dashes and leading dots made literal."""
    text = DASHES.sub(lambda m: m.group(0).replace("-", "\\-"), text.replace("\\", "\\e"))
    return "\\&" + text if text[:1] in (".", "'") else text


def syntax(text):
    """A usage line or an option's term: options in bold, the words to be replaced in italics."""
    out = roff(text)
    out = re.sub(r"((?:\\-)+[A-Za-z0-9][\w\\-]*|(?<![\w\\])(?:\\-){2}(?![\w\\]))",
                 r"\\fB\1\\fR", out)
    return re.sub(r"\b([A-Z][A-Z0-9_]*)\b", r"\\fI\1\\fR", out)


def usage_line(usage):
    """A usage line ("pak create -o OUT ...", or "create -o OUT ..." from the list of commands):
    the program and the command in bold, the rest as syntax."""
    match = re.match(r"((?:[a-z][\w-]* ?)+)(.*)", usage)
    names, rest = (match.group(1).strip(), match.group(2)) if match else ("", usage)
    return f"\\fB{names}\\fR {syntax(rest)}".strip()


def text_block(lines, out):
    out.append(".PP")
    running = []
    for line in lines:
        if line.startswith("  "):
            out.extend(running)
            running = []
            out.extend([".RS 2", ".nf", roff(line[2:]), ".fi", ".RE"])
        else:
            running.append(roff(line.strip()))
    out.extend(running)


def blocks(help_text, out, skip_lists=()):
    for block in help_text.blocks:
        if block[0] == "text":
            text_block(block[1], out)
        elif block[1] not in skip_lists:
            out.append(".PP")
            out.append(roff(block[1] + ":"))
            for entry in block[2]:
                term = usage_line(entry.term) if block[1] == "Commands" else syntax(entry.term)
                out.extend([".TP", term, roff(entry.description)])


def man_page(version, date, overview, commands):
    summary = overview.blocks[0][1] if overview.blocks and overview.blocks[0][0] == "text" else []
    summary = " ".join(line.strip() for line in summary).rstrip(".")
    out = [
        f'.\\" The manual page of pak {version}, generated from its help by make_pak_docs.py.',
        f'.TH PAK 1 "{date}" "pak {version}" "User Commands"',
        ".nh",
        ".ad l",
        ".SH NAME",
        "pak \\- " + roff(summary[:1].lower() + summary[1:]),
        ".SH SYNOPSIS",
        usage_line(overview.usage),
    ]
    for name, command in commands:
        out.extend([".br", usage_line(command.usage)])
    out.append(".SH DESCRIPTION")
    blocks(overview, out, skip_lists=("Options",))
    options = overview.entries("Options")
    if options:
        out.append(".SH OPTIONS")
        for entry in options:
            out.extend([".TP", syntax(entry.term), roff(entry.description)])
    out.append(".SH COMMANDS")
    for name, command in commands:
        out.extend([f".SS {name}", usage_line(command.usage)])
        blocks(command, out)
    return "\n".join(out) + "\n"


# ---- the bash completion ------------------------------------------------------------------

def option_words(term):
    """From "-o OUT, --output OUT": [("-o", "OUT"), ("--output", "OUT")]."""
    found = []
    for part in term.split(", "):
        words = part.split(" ", 1)
        if words[0].startswith("-"):
            found.append((words[0], words[1] if len(words) > 1 else ""))
    return found


def value_kind(value):
    if "|" in value:
        return "=" + value  # a choice of words
    return ARGUMENT_KINDS.get(value.rstrip("."), "none")


def command_table(name, command):
    """The options of a command, the kinds of their values and the kinds of its operands."""
    options, values = [], {}
    for entry in command.entries("Options"):
        for option, value in option_words(entry.term):
            options.append(option)
            if value:
                values[option] = value_kind(value)
    operands = []
    words = command.usage.split()[2:]  # after "pak COMMAND"
    i = 0
    while i < len(words):
        word = words[i]
        bare = word.strip("[]")
        if bare.startswith("-"):
            if bare not in options:
                options.append(bare)
            # "[--format 0|1|2|3|4]": the value inside the brackets says what it may be.
            if word.startswith("[") and not word.endswith("]") and i + 1 < len(words):
                values[bare] = value_kind(words[i + 1].rstrip("]"))
                i += 1
            elif bare in values and not word.endswith("]") and i + 1 < len(words):
                i += 1
        else:
            kind = ARGUMENT_KINDS.get(bare.rstrip("."), "none")
            operands.append(kind + ("..." if bare.endswith("...") else ""))
        i += 1
    return options, values, operands


COMPLETION = r"""
# The kind of the value that option $2 of command $1 takes, or nothing when it takes none.
_pak_value_kind() {
    local table="_pak_values_${1//-/_}" entry
    for entry in ${!table}; do
        if [[ ${entry%%:*} == "$2" ]]; then
            printf '%s\n' "${entry#*:}"
            return
        fi
    done
}

# Completes the current word as a KIND: pak (archives), dir, file, =A|B (one of the words).
_pak_complete_kind() {
    case $1 in
        pak) _filedir pak ;;
        dir) _filedir -d ;;
        file) _filedir ;;
        =*)
            local choices=${1#=}
            COMPREPLY=($(compgen -W "${choices//|/ }" -- "$cur"))
            ;;
        *) COMPREPLY=() ;;
    esac
}

_pak() {
    local cur prev words cword split
    _init_completion -s || return

    # Options of pak itself come before the command.
    local i=1
    while ((i < cword)) && [[ ${words[i]} == -* ]]; do
        ((i++))
    done
    if ((i == cword)); then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$_pak_global_options" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$_pak_commands" -- "$cur"))
        fi
        return
    fi
    local command=${words[i]}
    [[ " $_pak_commands " == *" $command "* ]] || return

    # The value of an option, given as --option VALUE or --option=VALUE.
    local kind
    if [[ $prev == -* ]] && { $split || ((cword - 1 > i)); }; then
        kind=$(_pak_value_kind "$command" "$prev")
        if [[ $kind ]]; then
            _pak_complete_kind "$kind"
            return
        fi
    fi
    $split && return

    # Options may come anywhere until --, which ends them; count the operands given so far
    # (a lone - is one).
    local j word count=0 ended=
    for ((j = i + 1; j < cword; j++)); do
        word=${words[j]}
        if [[ ! $ended && $word == -?* ]]; then
            if [[ $word == -- ]]; then
                ended=1
            elif [[ $word != *=* && $(_pak_value_kind "$command" "$word") ]]; then
                ((j++))
            fi
            continue
        fi
        ((count++))
    done
    if [[ ! $ended && $cur == -* ]]; then
        local table="_pak_options_${command//-/_}"
        COMPREPLY=($(compgen -W "${!table}" -- "$cur"))
        return
    fi

    local table="_pak_operands_${command//-/_}"
    local operands=(${!table})
    ((${#operands[@]})) || return
    if ((count < ${#operands[@]})); then
        kind=${operands[count]}
    else
        kind=${operands[${#operands[@]} - 1]}
        [[ $kind == *... ]] || return
    fi
    _pak_complete_kind "${kind%...}"
} &&
    complete -F _pak pak
"""


def completion(version, overview, commands):
    names = [name for name, _ in commands]
    global_options = [o for e in overview.entries("Options") for o, _ in option_words(e.term)]
    out = [
        "# bash completion for pak                                   -*- shell-script -*-",
        f"# Generated from the help of pak {version} by make_pak_docs.py.",
        "",
        f"_pak_commands='{' '.join(names)}'",
        f"_pak_global_options='{' '.join(global_options)}'",
        "# For each command: its options, the kinds of the values they take, its operands.",
    ]
    for name, command in commands:
        options, values, operands = command_table(name, command)
        variable = name.replace("-", "_")
        out.append(f"_pak_options_{variable}='{' '.join(options)}'")
        out.append(f"_pak_values_{variable}='{' '.join(f'{o}:{k}' for o, k in values.items())}'")
        out.append(f"_pak_operands_{variable}='{' '.join(operands)}'")
    return "\n".join(out) + "\n" + COMPLETION


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("pak")
    parser.add_argument("--date", required=True)
    parser.add_argument("--man", required=True)
    parser.add_argument("--completion", required=True)
    args = parser.parse_args()

    version = help_of(args.pak, "--version").split()[-1]
    overview = Help(help_of(args.pak, "--help"))
    names = [entry.term.split()[0] for entry in overview.entries("Commands")]
    if not names:
        raise SystemExit("pak --help lists no commands")
    commands = [(name, Help(help_of(args.pak, name, "--help"))) for name in names]

    with open(args.man, "w", encoding="ascii") as f:
        f.write(man_page(version, args.date, overview, commands))
    with open(args.completion, "w", encoding="ascii") as f:
        f.write(completion(version, overview, commands))
    return 0


if __name__ == "__main__":
    sys.exit(main())
