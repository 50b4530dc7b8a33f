#!/usr/bin/env python3
"""The man page and the bash completion that the build makes from pak's own help.

Usage: pak_docs_test.py --pak PROGRAM --man pak.1 --completion pak.bash

The man page must render without a warning and hold every block of `pak --help` and of each
command's help word for word. The completion is driven as bash drives it, through
bash-completion, over a directory of archives, other files and folders.
"""
import argparse
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

PAK = MAN = COMPLETION = None


def words(text):
    return " ".join(text.split())


def help_of(*args):
    return subprocess.run([PAK, *args], stdout=subprocess.PIPE, check=True).stdout.decode()


class ManPage(unittest.TestCase):
    def test_renders_cleanly_and_says_what_the_help_says(self):
        checked = subprocess.run(["groff", "-man", "-ww", "-z", MAN], capture_output=True,
                                 text=True)
        self.assertEqual((checked.returncode, checked.stderr), (0, ""))
        shown = subprocess.run(["groff", "-man", "-Tascii", "-P-cbou", MAN],
                               stdout=subprocess.PIPE, check=True).stdout.decode()
        shown = words(shown)
        overview = help_of("--help")
        commands = re.findall(r"^  ([a-z][\w-]*)", overview.split("Commands:\n")[1], re.M)
        self.assertIn("extract", commands)
        for args in [["--help"]] + [[c, "--help"] for c in commands]:
            for block in re.split(r"\n\s*\n", help_of(*args)):
                with self.subTest(help=" ".join(args), block=block[:40]):
                    # The man page's headings stand for "Usage:" and the lists' titles.
                    block = re.sub(r"\A(Usage: |[A-Z]\w*:\n)", "", block)
                    self.assertIn(words(block), shown)
        self.assertIn("pak - looks inside", shown)  # the NAME line that apropos reads
        self.assertIn(help_of("--version").strip(), shown)


class Completion(unittest.TestCase):
    CASES = [  # the command line up to the cursor: what is offered
        ("pak ", "COMMANDS"),
        ("pak ver", "verify"),
        ("pak --", "--help --raw --version"),
        ("pak --raw l", "list"),
        ("pak list ", "B.PAK a.pak game/ sub/"),  # archives and folders
        ("pak list --", "--json --raw"),
        ("pak list a.pak ", ""),  # one ARCHIVE only
        ("pak verify a.pak ", "B.PAK a.pak game/ sub/"),  # ARCHIVE...
        ("pak create --format ", "0 1 2 3 4"),
        ("pak create -o ", "B.PAK a.pak game/ sub/"),
        ("pak create -C ", "game/ sub/"),
        ("pak create --directory=s", "sub/"),
        ("pak create -o x.pak -C sub --st", "--store"),
        ("pak create -o x.pak ", "B.PAK a.pak game/ notes.txt sub/"),  # PATH...
        ("pak create -o x.pak notes.txt --st", "--store"),  # options after an operand too
        ("pak create -o x.pak -- notes.txt --", ""),  # but not after --
        ("pak extract -C sub a.pak ", ""),  # NAMEs of entries
        ("pak extract a.pak -C ", "game/ sub/"),
        ("pak list a.pak --", "--json --raw"),
        ("pak cat --dir g", "game/"),
        ("pak ini --file ", "B.PAK a.pak game/ notes.txt sub/"),
        ("pak cat -- -", ""),
        ("pak frobnicate ", ""),
    ]

    def test_commands_options_and_archives(self):
        overview = help_of("--help")
        commands = " ".join(sorted(re.findall(r"^  ([a-z][\w-]*)",
                                              overview.split("Commands:\n")[1], re.M)))
        folder = pathlib.Path(tempfile.mkdtemp(prefix="pak-completion-"))
        self.addCleanup(shutil.rmtree, folder)
        for name in ("a.pak", "B.PAK", "notes.txt", "game/x.pak", "sub/y.txt"):
            (folder / name).parent.mkdir(exist_ok=True)
            (folder / name).write_bytes(b"")
        script = ["source /usr/share/bash-completion/bash_completion", f"source '{COMPLETION}'"]
        for line, _ in self.CASES:
            script.append(f"offer '{line}'")
        program = r"""
offer() {
    COMP_LINE=$1 COMP_POINT=${#1}
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _pak
    local shown=() word
    for word in "${COMPREPLY[@]}"; do
        [[ -d $word ]] && word+=/
        shown+=("$word")
    done
    local sorted=($(printf '%s\n' "${shown[@]}" | LC_ALL=C sort))
    printf '%s\n' "${sorted[*]}"
}
""" + "\n".join(script) + "\n"
        done = subprocess.run(["bash", "-c", program], cwd=folder, capture_output=True,
                              text=True)
        self.assertEqual(done.stderr, "")
        offered = done.stdout.split("\n")
        for (line, expected), got in zip(self.CASES, offered):
            with self.subTest(line=line):
                self.assertEqual(got, commands if expected == "COMMANDS" else expected)


def main():
    global PAK, MAN, COMPLETION
    parser = argparse.ArgumentParser()
    parser.add_argument("--pak", required=True)
    parser.add_argument("--man", required=True)
    parser.add_argument("--completion", required=True)
    args, rest = parser.parse_known_args()
    PAK, MAN, COMPLETION = (str(pathlib.Path(p).resolve())
                            for p in (args.pak, args.man, args.completion))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
