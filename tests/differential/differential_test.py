#!/usr/bin/env python3
"""The Linux build held against the Windows build under Wine, which must find exactly the same.

Wine's FindFirstFileA, lstrcmpiA and code page 932 are an implementation of Windows' own that
owes nothing to ours, so every difference is a fault on one side. The same questions go to both
builds, and any difference fails the test:

  tables     the generated tables of base/ against what Windows reports now
             (scripts/cp932_tables.py, through cp932_reference.exe)
  probe      differential_probe, built for both, answers in one run each: the archive order of
             a directory of generated names (buildPakList), the winning archive in directories
             whose archives share an entry, loose files found whatever their case, wildcard
             searches and their order, the word sort of base/ against the real lstrcmpiA and
             lstrcmpA (in the Windows process itself), and the conversion of every code and
             every UTF-16 unit at the edge
  pak        the pak programs themselves: cat of a loose file beside an archive, cat of a
             wildcard, names refused for characters code page 932 lacks, list --json of an
             archive that holds every code, and create from files named with every character

A few Wine processes in all. Usage:
    differential_test.py --linux NATIVE_BIN --windows MINGW64_BIN --runner WINE_RUN
"""
import argparse
import pathlib
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
sys.path.insert(0, str(HERE.parent / "support"))
sys.path.insert(0, str(ROOT / "scripts"))
from pak_generator import Entry, build  # noqa: E402
import cp932_tables  # noqa: E402

FORBIDDEN = set(b'\\/:*?"<>|')  # not in Windows file names


def decodable(code):
    """The character of a code page 932 code as text, or None. Only used to name files on disk;
    the builds' own decoding is what the test compares."""
    raw = bytes([code]) if code < 0x100 else bytes([code >> 8, code & 0xFF])
    try:
        text = raw.decode("cp932")
    except UnicodeDecodeError:
        return None
    return text if len(text) == 1 else None


def codes_in(*ranges):
    return [c for first, last in ranges for c in range(first, last + 1)
            if decodable(c) is not None and (c > 0xFF or c not in FORBIDDEN)]


def cp932(code):
    return bytes([code]) if code < 0x100 else bytes([code >> 8, code & 0xFF])


def host_name(name):
    """The name of a file on disk for a code page 932 name."""
    return name.decode("cp932")


# Characters the generated names are made of: every ASCII punctuation character, digits and
# letters, full-width forms, kana of all three kinds (the prolonged sound and repeat marks
# included), Greek, Cyrillic, Roman numerals and other symbols, a few kanji.
CLASSES = {
    "ascii": codes_in((0x20, 0x7E)),
    "full-width": codes_in((0x8240, 0x829A), (0x8143, 0x8151), (0x8160, 0x8197)),
    "hiragana": codes_in((0x829F, 0x82F1), (0x8154, 0x8155), (0x815B, 0x815B)),
    "katakana": codes_in((0x8340, 0x8396), (0x8152, 0x8153), (0x815B, 0x815B)),
    "half-width": codes_in((0xA1, 0xDF)),
    "greek": codes_in((0x839F, 0x83D6)),
    "cyrillic": codes_in((0x8440, 0x8491)),
    "symbols": codes_in((0x8198, 0x81FC), (0x8740, 0x879C), (0xFA40, 0xFA5B)),
    "kanji": codes_in((0x889F, 0x88FC), (0x9340, 0x937E), (0xED40, 0xED50), (0xFA5C, 0xFA70)),
}


def generated_names(count, rng):
    """Distinct names of one to six characters from a mix of the classes, often sharing a
    start so that the comparison has to look further in."""
    stems = [b"data", b"Data", b"DATA", b"patch", b"a", b"b"]
    names = set()
    keys = list(CLASSES)
    while len(names) < count:
        chosen = rng.sample(keys, rng.randint(1, 3))
        body = b"".join(cp932(rng.choice(CLASSES[rng.choice(chosen)]))
                        for _ in range(rng.randint(1, 6)))
        name = (rng.choice(stems) + body) if rng.random() < 0.3 else body
        if name.strip(b" ") == name:  # Windows drops trailing spaces; keep the ends plain
            names.add(name)
    return sorted(names)


# Names that have decided the archive order wrongly before, in groups that share a directory.
TRICKY_GROUPS = [
    ["data.pak", "data-1.pak", "data1.pak"], ["datas.pak", "data's.pak"],
    ["Ａ.pak", "B.pak"], ["１.pak", "2.pak"], ["ア.pak", "い.pak"], ["ｱ.pak", "あ.pak", "ア.pak"],
    ["+.pak", "a.pak", "_.pak"], ["=.pak", "~.pak", "0.pak"], ["=x.pak", "+x.pak", "x.pak"],
    ["α.pak", "Β.pak"], ["я.pak", "Ё.pak", "е.pak"], ["Ⅱ.pak", "ⅰ.pak"],
    ["カー.pak", "カア.pak", "カイ.pak"], ["patch.pak", "patch-2.pak", "Patch1.pak"],
    ["data.pak", "DATA0.pak", "data_.pak", "data!.pak"],
]


class Tree:
    """The directories both builds are asked about, below one temporary root."""

    def __init__(self, root, rng):
        self.root = root
        self.questions = []
        self.order_names = generated_names(2400, rng)
        self.make_order()
        self.make_winners(rng)
        self.make_loose()
        self.make_wild()
        self.make_names(rng)
        self.questions.append(b"text")

    def file(self, relative, data=b""):
        path = self.root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)

    def make_order(self):
        for name in self.order_names:
            self.file(pathlib.Path("order") / host_name(name + b".pak"))
        self.questions.append(b"order\torder")

    def make_winners(self, rng):
        groups = [[n.encode("cp932") for n in g] for g in TRICKY_GROUPS]
        pool = [n + b".pak" for n in self.order_names]
        groups += [rng.sample(pool, rng.randint(2, 5)) for _ in range(45)]
        for number, group in enumerate(groups):
            directory = pathlib.Path("winners") / f"d{number}"
            for name in group:
                archive = build(3, [Entry("GAME.INI", name, compressed=True)])
                self.file(directory / host_name(name), archive)
            self.questions.append(b"open\t" + str(directory).encode() + b"\tGAME.INI")

    def make_loose(self):
        entries = [Entry(n, b"archive " + n.encode("cp932"))
                   for n in ["GAME.INI", "AB.txt", "あ.txt", "readme.TXT", "Ω.dat"]]
        self.file("loose/data.pak", build(3, entries))
        files = ["game.ini", "Sub/File.txt", "Α.txt", "Ё.txt", "Я.txt", "Ⅰ.txt", "ＡＢ.txt",
                 "ア.txt", "\uf8f0.txt", "ソ表.txt", "title", "title.txt"]
        for name in files:
            self.file(pathlib.Path("loose") / name, b"loose " + name.encode("utf-8"))
        wanted = ["GAME.INI", "game.ini", "Game.Ini", "SUB\\FILE.TXT", "sub\\file.txt",
                  "α.txt", "Α.TXT", "ё.txt", "я.TXT", "ⅰ.txt", "ｱ.txt", "あ.txt", "ａｂ.TXT",
                  "AB.txt", "ソ表.TXT", "README.txt", "ω.dat", "Ω.DAT", "title.*", "TITLE.*",
                  "nothing.txt", "sub\\nothing.txt"]
        names = [w.encode("cp932") for w in wanted]
        names += [b"\x87\x54.txt", b"\xFA\x4A.txt", b"\xEE\xEF.txt", b"\xFA\x40.txt",  # Ⅰ Ⅰ ⅰ ⅰ
                  b"\xA0.txt", b"\xA0.TXT"]
        for name in names:
            self.questions.append(b"open\tloose\t" + name)

    def make_wild(self):
        files = ["a.txt", "aa", "ab.txt", "b.txt", "C.txt", "_x.txt", "x.y.z", "noext", "title",
                 "title.txt", "Title2.txt", "Α.txt", "αβ.txt", "Ⅰ.txt", "ｱ.txt", "あ.txt", "ア.txt",
                 "Я.dat", "sub/inner.txt"]
        for name in files:
            self.file(pathlib.Path("wild") / name, name.encode("utf-8"))
        patterns = ["*", "*.txt", "α*", "?.txt", "*.*", "title.*", "A*", "ⅰ*", "T*.txt", "я*",
                    "ｱ*", "あ*", "sub", "SUB\\*", "nosuchdir\\*"]
        for pattern in patterns:
            self.questions.append(b"search\twild\\" + pattern.encode("cp932"))
        for pattern in ["*.txt", "T*", "α*", "*", "Я*", "*.nothing"]:
            self.questions.append(b"open\twild\t" + pattern.encode("cp932"))

    def make_names(self, rng):
        # Everything a name can hold, beyond what a file name can: every byte below 0x80 but the
        # line feed (the characters Windows forbids in file names and the control characters
        # included), names differing in case only, the two codes of one character, bytes that
        # are no character.
        extra = [bytes([c]) + tail for c in range(1, 0x80) if c != 0x0A
                 for tail in (b"", b"x", b"-")]
        extra += [n.upper() for n in self.order_names if n.isascii() and n.upper() != n][:200]
        extra += [b"\x87\x54", b"\xFA\x4A", b"\xEE\xEF", b"\xFA\x40", b"\x81\xE0", b"\x87\x90",
                  b"\x81", b"a\x81", b"\x85\x40", b"\xA0", b"\xFD", b"\x81\x20x", b"\xEB\x40"]
        extra += generated_names(1200, rng)
        names = sorted(set(self.order_names) | set(extra))
        (self.root / "names.txt").write_bytes(b"".join(n + b"\n" for n in names))
        self.questions.append(b"names\tnames.txt")


def run(command, cwd, runner=None):
    full = ([str(runner)] if runner else []) + [str(c) if not isinstance(c, bytes) else c
                                                 for c in command]
    done = subprocess.run(full, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=240)
    err = done.stderr
    if runner:  # the emulator's own remarks are not the program's
        err = b"".join(l for l in err.splitlines(True) if not l.startswith(b"wine: "))
    return done.returncode, done.stdout, err


def blocks(output):
    """The answers of the probe, one block (question line and its answer lines) each."""
    result, current = [], None
    for line in output.split(b"\n"):
        if line.startswith(b"  "):
            current.append(line)
        elif line:
            current = [line]
            result.append(current)
    return result


def shown(line):
    return line.decode("cp932", "backslashreplace")


def around(value, other):
    """value for a report: long texts cut down to where they first differ from other."""
    text, other = repr(value), repr(other)
    if len(text) <= 300:
        return text
    first = next((i for i, (a, b) in enumerate(zip(text, other)) if a != b), min(len(text),
                                                                                len(other)))
    return f"...{text[max(0, first - 100):first + 150]}... (first difference at {first})"


class Differences:
    """Counts the cases and the differences; shows the first few of each question."""

    def __init__(self):
        self.count = 0
        self.cases = 0
        self.by_question = {}

    def compare(self, what, linux, windows):
        self.cases += 1
        if linux == windows:
            return
        self.count += 1
        seen = self.by_question[what] = self.by_question.get(what, 0) + 1
        if seen <= 3:
            print(f"DIFFERENCE in {what}:\n  Linux:   {around(linux, windows)}\n"
                  f"  Windows: {around(windows, linux)}")

    def summary(self):
        for what, count in self.by_question.items():
            if count > 3:
                print(f"... {count} differences in all in {what}")


def compare_probe(differences, linux_out, windows_out):
    linux_blocks, windows_blocks = blocks(linux_out), blocks(windows_out)
    if len(linux_blocks) != len(windows_blocks):
        differences.compare("the number of answers", len(linux_blocks), len(windows_blocks))
    lines = 0
    for ours, theirs in zip(linux_blocks, windows_blocks):
        question = shown(ours[0])
        lines += len(ours)
        if ours == theirs:
            differences.cases += len(ours) - 1
            continue
        # One difference per answer line, so a wrong table shows every character it gets wrong.
        for a, b in zip(ours[1:], theirs[1:]):
            differences.compare(question, shown(a), shown(b))
        if len(ours) != len(theirs):
            differences.compare(question + " (number of lines)", len(ours), len(theirs))
        for line in ours + theirs:
            if b"disagree" in line:
                print("  " + shown(line))
    for answer in linux_blocks + windows_blocks:
        for line in answer:
            if b" disagreements " in line and not line.endswith(b" disagreements 0"):
                differences.compare("the word sort against lstrcmpiA", shown(line), "0")
    return lines


def pak_cases(differences, tree, linux_bin, windows_bin, runner):
    """The pak programs on a few cases each, compared by exit code and by what they print."""
    linux_pak, windows_pak = linux_bin / "pak", windows_bin / "pak.exe"

    def both(*args, raw_output=True):
        ours = run([linux_pak, *args], tree.root)
        theirs = run([windows_pak, *args], tree.root, runner)
        if raw_output:
            return ours, theirs
        # Windows writes code page 932 with CR LF into pipes, Linux UTF-8.
        return ((ours[0], ours[1].decode("utf-8"), ours[2].decode("utf-8")),
                (theirs[0], theirs[1].replace(b"\r\n", b"\n").decode("cp932"),
                 theirs[2].replace(b"\r\n", b"\n").decode("cp932")))

    for args in (["cat", "--dir", "loose", "GAME.INI"], ["cat", "--dir", "wild", "α*"]):
        ours, theirs = both(*args)
        differences.compare("pak " + " ".join(args), ours, theirs)
        differences.compare("pak " + " ".join(args) + " found something", ours[0], 0)
    # The yen sign is no backslash: refused, with the usage exit code. (The messages differ in
    # their words: Windows refuses the argument before knowing what it is for.)
    for args in (["cat", "a¥b.txt"], ["create", "-o", "refused.pak", "--name", "¥", "loose"]):
        ours, theirs = both(*args, raw_output=False)
        refused = [(code, out, "characters that Shift-JIS does not have" in err)
                   for code, out, err in (ours, theirs)]
        differences.compare("pak " + " ".join(args), refused[0], refused[1])
        differences.compare("pak " + " ".join(args) + " refused", refused[0], (2, "", True))

    # Every code that can be a character, in entry names of an archive made independently; a
    # lead byte alone can only end a name.
    leads = [c for c in range(0x81, 0x100) if 0x81 <= c <= 0x9F or 0xE0 <= c <= 0xFC]
    codes = [c for c in range(0x01, 0x100) if c not in leads and c != 0x5C]
    codes += [lead << 8 | trail for lead in leads for trail in range(0x40, 0x100)]
    entries = [Entry(b"e" + b"".join(cp932(c) for c in codes[i:i + 64]) + b".txt", b"")
               for i in range(0, len(codes), 64)]
    entries += [Entry(b"lone" + bytes([lead]), b"") for lead in leads]
    (tree.root / "every-code.pak").write_bytes(build(3, entries))
    ours, theirs = both("list", "--json", "every-code.pak", raw_output=False)
    differences.compare("pak list --json of every code", ours, theirs)
    differences.compare("pak list --json of every code succeeded", ours[0], 0)

    # Files named with every character that converts, made into archives by both programs.
    text_answer = next(b for b in blocks(tree.linux_out) if b[0] == b"text")
    characters = []
    for line in text_answer[1:]:
        kind, source, result = line.split()
        if kind == b"encode" and result != b"-":
            unit = bytes.fromhex(source.decode()).decode("utf-8")
            if unit.isprintable() and unit not in "./" and ord(unit) not in FORBIDDEN:
                characters.append(unit)
    chars = tree.root / "chars"
    for i in range(0, len(characters), 16):
        name = "c" + "".join(characters[i:i + 16]) + ".t"
        (chars / name).parent.mkdir(exist_ok=True)
        (chars / name).write_bytes(name.encode("utf-8"))
    made = []
    for side, program, runner_used in (("linux", linux_pak, None), ("windows", windows_pak, runner)):
        code, _, err = run([program, "create", "--store", "-o", f"chars-{side}.pak", "-C",
                            "chars", "."], tree.root, runner_used)
        differences.compare(f"pak create of every character ({side}) succeeded", (code, err),
                            (0, b""))
        made.append(run([linux_pak, "list", "--raw", f"chars-{side}.pak"], tree.root)[1])
    differences.compare("the names pak create stored for every character", made[0], made[1])
    return len(characters)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--linux", type=pathlib.Path, required=True, help="native bin directory")
    parser.add_argument("--windows", type=pathlib.Path, required=True, help="mingw64 bin directory")
    parser.add_argument("--runner", type=pathlib.Path, required=True, help="scripts/wine-run")
    parser.add_argument("--keep", action="store_true", help="keep the case tree")
    args = parser.parse_args()
    for program in (args.linux / "pak", args.linux / "differential_probe"):
        if not program.exists():
            sys.exit(f"{program} is missing: build the native preset first")
    started = time.monotonic()
    differences = Differences()

    problems, _ = cp932_tables.stale_files(
        cp932_tables.run_reference(args.windows / "cp932_reference.exe", args.runner))
    for problem in problems:
        differences.compare("the generated tables", problem, "as Windows reports")
    differences.cases += 1

    root = pathlib.Path(tempfile.mkdtemp(prefix="zk-differential-"))
    try:
        tree = Tree(root, random.Random(932))
        (root / "questions.txt").write_bytes(b"".join(q + b"\n" for q in tree.questions))
        code, tree.linux_out, err = run([args.linux / "differential_probe", "questions.txt"], root)
        if code != 0:
            sys.exit(f"the Linux probe failed ({code}): {err.decode(errors='replace')}")
        code, windows_out, err = run([args.windows / "differential_probe.exe", "questions.txt"],
                                     root, args.runner)
        if code != 0:
            sys.exit(f"the Windows probe failed ({code}): {err.decode(errors='replace')}")
        lines = compare_probe(differences, tree.linux_out, windows_out)
        pairs = next((line.split()[1].decode() for answer in blocks(windows_out)
                      for line in answer if line.startswith(b"  pairs ")), "no")
        characters = pak_cases(differences, tree, args.linux, args.windows, args.runner)
    finally:
        if args.keep:
            print(f"case tree kept in {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)

    elapsed = time.monotonic() - started
    differences.summary()
    print(f"{len(tree.questions)} questions ({lines} answer lines: {len(tree.order_names)} "
          f"archive names in one directory, {pairs} pairs of names compared by the word sort "
          f"and by lstrcmpiA, every code and UTF-16 unit at the edge), {characters} characters "
          f"in file names through pak create: {differences.cases} cases compared, "
          f"{differences.count} differences, {elapsed:.1f} s")
    return 1 if differences.count else 0


if __name__ == "__main__":
    sys.exit(main())
