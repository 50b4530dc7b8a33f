#!/usr/bin/env python3
"""The pak program driven from outside, as its users drive it.

Archives come from two independent sides: the test generator (tests/support/pak_generator.py)
writes the ones that pak reads, and a small reader here, written from the format's byte layout,
checks the ones that pak writes. So neither side is ever tested only against itself.

Usage: pak_cli_test.py --pak PROGRAM --fixtures DIR [--held-file PROGRAM] [--runner EMULATOR]
                       [--smoke] [unittest args]
--held-file is the file system of tests/tools/held_file.cpp, which holds a read for the tests
that interrupt the program in one. --runner runs the program under an emulator: wine for the
Windows build, whose output is then code page 932 text as Windows programs write it into pipes,
or qemu for the 32-bit Linux build. --smoke runs only the smoke tests and the interruptions (all
that the Windows build runs).
"""
import argparse
import json
import os
import pathlib
import random
import resource
import select
import signal
import shutil
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "support"))
from pak_generator import Entry, build  # noqa: E402

PAK = None        # the program under test
RUNNER = []       # what runs it (empty natively)
FIXTURES = None   # the generator's fixture scenarios
HELD_FILE = None  # the file system that holds a read (tests/tools/held_file.cpp)
OUTPUT_ENCODING = "utf-8"

INI = "[設定]\r\nName=TESTGAME\r\nTitle=テスト\r\n".encode("cp932")
HYOU_SO = "表\\ソ.txt"  # 表 is 0x95 0x5C, ソ is 0x83 0x5C: both end in a backslash's byte


class Result:
    def __init__(self, code, out, err):
        self.code, self.out, self.err = code, out, err

    @property
    def text(self):
        return self.out.decode(OUTPUT_ENCODING)

    def __repr__(self):
        return f"exit {self.code}\nstdout: {self.out[:2000]!r}\nstderr: {self.err[:2000]}"


def pak(*args, cwd=None, stderr=subprocess.PIPE, preexec_fn=None, wrapper=()):
    """Runs the program, inside wrapper (a command that runs the rest) if given; arguments may
    be str (the terminal's text) or bytes (raw)."""
    env = dict(os.environ)
    # A sanitizer's report must never pass for one of the program's own exit codes.
    env["ASAN_OPTIONS"] = "exitcode=86:detect_leaks=1"
    env["UBSAN_OPTIONS"] = "print_stacktrace=1"
    command = [*wrapper, *RUNNER, str(PAK)] + [a if isinstance(a, bytes) else str(a) for a in args]
    done = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=stderr, timeout=120, env=env, preexec_fn=preexec_fn)
    err = done.stderr.decode(OUTPUT_ENCODING, "replace") if done.stderr is not None else ""
    if RUNNER:  # the emulator's own remarks are not the program's
        err = "".join(line for line in err.splitlines(True) if not line.startswith("wine: "))
    return Result(done.returncode, done.stdout, err)


def run_measured(command, cwd):
    """Runs command; returns its exit code, its standard error and its peak resident memory in
    KiB. A fresh interpreter starts it: a program's peak counts from before it starts, when its
    process is still a copy of the one that starts it, and this one may have grown large."""
    probe = ("import os, subprocess, sys\n"
             "child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL,"
             " stderr=subprocess.PIPE)\n"
             "err = child.stderr.read()\n"
             "_, status, usage = os.wait4(child.pid, 0)\n"
             "print(os.waitstatus_to_exitcode(status), usage.ru_maxrss)\n"
             "sys.stdout.write(err.decode('utf-8', 'replace'))\n")
    done = subprocess.run([sys.executable, "-c", probe, *command], cwd=cwd, timeout=300,
                          stdout=subprocess.PIPE, text=True)
    first, _, err = done.stdout.partition("\n")
    code, peak = (int(n) for n in first.split())
    return code, err, peak


class PakTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="pak-test-"))
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def run_pak(self, *args, expect=0, cwd=None):
        result = pak(*args, cwd=cwd or self.dir)
        self.assertNotIn("Sanitizer", result.err, result)
        self.assertNotIn("runtime error", result.err, result)
        self.assertEqual(result.code, expect, result)
        if expect != 0:
            # Every failure says what is wrong, on standard error, prefixed by the program.
            self.assertTrue(result.err.startswith("pak: "), result)
        return result

    def write_tree(self, root, files):
        for name, data in files.items():
            path = root / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)

    def game(self, archives, loose=None):
        """A game directory holding the given archives {file name: bytes} and loose files."""
        game = self.dir / "game"
        game.mkdir(exist_ok=True)
        self.write_tree(game, archives)
        self.write_tree(game, loose or {})
        return game

    def leftovers(self, folder):
        return sorted(p.name for p in pathlib.Path(folder).rglob(".pak-*.tmp"))

    def files_below(self, folder):
        return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
                if p.is_file()}


def read_archive(data):
    """An independent reader: the records of an archive, each with its decoded data."""
    version, count = struct.unpack_from("<II", data, 0)
    records = []
    if version == 0:
        pos = 8
        for _ in range(count):
            (n,) = struct.unpack_from("<i", data, pos)
            name = data[pos + 4:pos + 4 + n]
            pos += 4 + n
            offset, _, size = struct.unpack_from("<III", data, pos)
            pos += 12
            records.append(dict(name=name, start=offset, size=size, packed=size,
                                compressed=False, data=data[offset:offset + size]))
        return dict(version=0, count=count, name=b"", records=records)
    directory_size, packed_size = struct.unpack_from("<II", data, 8)
    header = {1: 16, 2: 276, 3: 280, 4: 280}[version]
    name = data[header - 256:header].split(b"\0")[0] if version >= 2 else b""
    directory = zlib.decompress(data[header:header + packed_size])
    assert len(directory) == directory_size, "directory size"
    pos = 0
    for _ in range(count):
        (n,) = struct.unpack_from("<i", directory, pos)
        entry_name = directory[pos + 4:pos + 4 + n]
        pos += 4 + n
        if version == 4:
            _, offset, size, _, flag, packed = struct.unpack_from("<6I", directory, pos)
            unpacked = size
            pos += 24
        else:
            offset, unpacked, size, flag, packed = struct.unpack_from("<5I", directory, pos)
            pos += 20
        start = header + packed_size + offset
        if flag:
            payload = zlib.decompress(data[start:start + packed])
            assert len(payload) == unpacked, "unpacked size"
        else:
            payload = data[start:start + size]
        records.append(dict(name=entry_name, start=start, size=len(payload),
                            packed=packed if flag else size, compressed=bool(flag),
                            data=payload))
    assert pos == len(directory), "directory holds only the records"
    return dict(version=version, count=count, name=name, records=records)


def source_tree():
    """Files of a game, with double-byte names whose trail bytes are 0x5C."""
    rng = random.Random(5)
    return {
        "GAME.INI": INI,
        "表/ソ.txt": b"hyou-so",
        "ソ.txt": b"so",
        "表.txt": b"hyou",
        "ＡＢ.TXT": b"full width",
        "big.bin": bytes(rng.getrandbits(8) for _ in range(150000)),
        "zeros.bin": bytes(70000),
        "empty.dat": b"",
        "data/b.txt": b"b",
        "Data/A.txt": b"a",
        "-dash.txt": b"dash",
    }


def shown_path(path):
    """A path as pak's messages show it: with the separators of the system pak is built for."""
    return str(path).replace("/", "\\") if PAK.suffix.lower() == ".exe" else str(path)


def stored_name(tree_name):
    return tree_name.replace("/", "\\").encode("cp932")


class RoundTrip(PakTestCase):
    """create, then every reading command, for each version, plain and compressed."""

    def test_every_version_plain_and_compressed(self):
        tree = source_tree()
        src = self.dir / "src"
        self.write_tree(src, tree)
        expected = sorted((stored_name(n) for n in tree), key=lambda b: (b.lower(), b))
        for version in range(5):
            for store in (False, True):
                with self.subTest(version=version, store=store):
                    self.check_round_trip(version, store, tree, expected)

    def check_round_trip(self, version, store, tree, expected_order):
        case = self.dir / f"v{version}{'s' if store else 'z'}"
        game = case / "game"
        game.mkdir(parents=True)
        args = ["create", "-o", game / "data.pak", "--format", str(version), "-C", "src"]
        if store:
            args.append("--store")
        if version >= 2:
            args += ["--name", "メイン"]
        self.run_pak(*args, ".")
        compressed = version != 0 and not store

        # The bytes, read by the independent reader.
        archive = read_archive((game / "data.pak").read_bytes())
        self.assertEqual(archive["version"], version)
        self.assertEqual(archive["name"], "メイン".encode("cp932") if version >= 2 else b"")
        self.assertEqual([r["name"] for r in archive["records"]], expected_order)
        by_name = {r["name"]: r for r in archive["records"]}
        for name, data in tree.items():
            record = by_name[stored_name(name)]
            self.assertEqual(record["data"], data, name)
            self.assertEqual(record["compressed"], compressed, name)

        # list and list --json agree with it.
        listed = json.loads(self.run_pak("list", "--json", game / "data.pak").text)
        self.assertEqual([e["name"].encode("cp932") for e in listed], expected_order)
        for entry in listed:
            record = by_name[entry["name"].encode("cp932")]
            self.assertEqual((entry["size"], entry["packed"], entry["offset"], entry["compressed"]),
                             (record["size"], record["packed"], record["start"],
                              record["compressed"]))
        lines = self.run_pak("list", game / "data.pak").text.splitlines()
        self.assertEqual(len(lines), len(tree))
        size, packed, flag, offset, name = lines[1].split(None, 4)
        record = archive["records"][1]
        self.assertEqual((int(size), int(packed), flag, int(offset), name.encode("cp932")),
                         (record["size"], record["packed"], "z" if compressed else "-",
                          record["start"], record["name"]))

        # cat finds every entry the way the game does (no loose files here).
        for name, data in tree.items():
            lookup = name.replace("/", "\\")
            out = self.run_pak("cat", "--dir", game, "--", lookup).out
            self.assertEqual(out, data, name)
        self.assertIn("0 problems", self.run_pak("verify", game / "data.pak").text)
        info = self.run_pak("info", game / "data.pak").text
        self.assertIn(f"version: {version}\n", info)
        self.assertIn(f"entries: {len(tree)}\n", info)

        # extract gives the tree back. As on Windows, data\b.txt goes into the directory Data
        # that Data\A.txt made before it: a name matches whatever its case.
        self.run_pak("extract", "-C", case / "out", game / "data.pak")
        for name, data in tree.items():
            on_disk = "Data/b.txt" if name == "data/b.txt" else name
            self.assertEqual((case / "out" / on_disk).read_bytes(), data, name)
        self.assertEqual(self.leftovers(case), [])


class GeneratorArchives(PakTestCase):
    """Archives written by the independent generator, read by list, cat and verify."""

    EXPECTED = [  # name, data, compressed from version 1 on (make_fixtures.py)
        ("GAME.INI", INI, False),
        (HYOU_SO, b"hyou-so", False),
        ("ＡＢ.TXT", b"full width", True),
        ("big.bin", None, True),
        ("empty.dat", b"", False),
        ("zeros.bin", bytes(100000), True),
        ("next.txt", b"NEXT", False),
    ]

    def test_versions_fixtures(self):
        big = (FIXTURES / "reference" / "big.bin").read_bytes()
        for version in range(5):
            with self.subTest(version=version):
                game = self.dir / f"v{version}"
                shutil.copytree(FIXTURES / "versions" / f"v{version}", game)
                archive = game / "data.pak"
                listed = json.loads(self.run_pak("list", "--json", archive).text)
                self.assertEqual([e["name"] for e in listed], [e[0] for e in self.EXPECTED])
                for entry, (name, data, packs) in zip(listed, self.EXPECTED):
                    data = big if data is None else data
                    self.assertEqual(entry["size"], len(data), name)
                    self.assertEqual(entry["compressed"], packs and version > 0, name)
                    self.assertEqual(self.run_pak("cat", "--dir", game, name).out, data, name)
                self.assertEqual(self.run_pak("verify", archive).text,
                                 f"{shown_path(archive)}: 7 entries, 0 problems\n")
                info = self.run_pak("info", archive).text
                self.assertIn("entries: 7\n", info)
                if version >= 2:
                    self.assertIn("value: 7\narchive name: MAIN\n", info)

    def test_cat_is_the_games_own_lookup(self):
        scenarios = {  # scenario, wanted name: what the game reads
            ("order/data-patch", "GAME.INI"): b"data",     # archives in name order
            ("order/numbered", "GAME.INI"): b"one",        # data1 before data2
            ("order/prefix", "GAME.INI"): b"backup",       # the first prefix match wins
            ("order/second-only", "GAME.INI"): b"lower",   # without regard to case
            ("names", "title.*"): b"bmp",                  # any extension
            ("names", "DATA\\\\X.BMP"): b"x",              # doubled backslashes are one
        }
        for (scenario, name), data in scenarios.items():
            with self.subTest(scenario=scenario, name=name):
                game = self.dir / scenario.replace("/", "-")
                shutil.copytree(FIXTURES / scenario, game, dirs_exist_ok=True)
                self.assertEqual(self.run_pak("cat", name, cwd=game).out, data)
        # A loose file comes before every archive.
        game = self.game({"data.pak": build(3, [Entry("GAME.INI", b"packed")])},
                         {"GAME.INI": b"loose"})
        self.assertEqual(self.run_pak("cat", "--dir", game, "GAME.INI").out, b"loose")
        self.run_pak("cat", "--dir", game, "missing.txt", expect=1)
        self.run_pak("cat", "--dir", self.dir / "no-such-dir", "GAME.INI", expect=1)

    def test_names_that_begin_with_a_dash(self):
        game = self.game({"data.pak": build(2, [Entry("-x.txt", b"dash", compressed=True)])})
        self.assertEqual(self.run_pak("cat", "--dir", game, "--", "-x.txt").out, b"dash")
        self.run_pak("cat", "--dir", game, "-x.txt", expect=2)  # taken for an option
        self.run_pak("extract", "-C", self.dir / "out", "--", game / "data.pak", "-x")
        self.assertEqual((self.dir / "out" / "-x.txt").read_bytes(), b"dash")


class Settings(PakTestCase):
    def test_values_from_loose_files_and_archives(self):
        game = self.game({"data.pak": build(4, [Entry("GAME.INI", INI, compressed=True),
                                               Entry("OTHER.INI", b"[s]\nk=v\n")])})
        self.assertEqual(self.run_pak("ini", "--dir", game, "設定", "Title").text.rstrip("\r\n"),
                         "テスト")
        self.assertEqual(self.run_pak("ini", "--dir", game, "設定", "name").text.rstrip("\r\n"),
                         "TESTGAME")
        self.assertEqual(self.run_pak("ini", "--raw", "--dir", game, "設定".encode("cp932"),
                                      b"Title").out.rstrip(b"\r\n"), "テスト".encode("cp932"))
        self.assertEqual(self.run_pak("ini", "--dir", game, "--file", "OTHER.INI", "s", "k").out,
                         b"v\n")
        missing = self.run_pak("ini", "--dir", game, "設定", "Nothing", expect=1)
        self.assertIn("Nothing", missing.err)
        self.run_pak("ini", "--dir", game, "無い", "Title", expect=1)
        gone = self.run_pak("ini", "--dir", game, "--file", "GONE.INI", "s", "k", expect=1)
        self.assertIn("GONE.INI", gone.err)
        self.assertIn("not found", gone.err)
        (game / "GAME.INI").write_bytes(b"[\x90\xdd\x92\xe8]\nTitle=loose\n")
        self.assertEqual(self.run_pak("ini", "設定", "Title", cwd=game).out, b"loose\n")

    def test_a_broken_settings_entry(self):
        game = self.game({"data.pak": build(3, [Entry("GAME.INI", INI, compressed=True,
                                                      unpacked=len(INI) - 10)])})
        result = self.run_pak("ini", "--dir", game, "設定", "Title", expect=3)
        self.assertIn("GAME.INI", result.err)


class CorruptArchives(PakTestCase):
    # scenario: exit codes of (list, verify, cat GAME.INI)
    MALFORMED = {
        "truncated-header": (3, 3, 1),
        "truncated-directory": (3, 3, 1),
        "corrupt-directory": (3, 3, 3),
        "directory-size-huge": (3, 3, 1),
        "directory-size-short": (3, 3, 3),
        "negative-name-length": (3, 3, 1),
        "huge-name-length": (3, 3, 1),
        "v0-negative-name-length": (3, 3, 1),
        "v0-huge-name-length": (3, 3, 1),
        "entry-beyond-end": (0, 3, 3),  # the game reads nothing there
        "offset-beyond-2gib": (0, 3, 3),
        "plain-size-huge": (0, 3, 3),
        "compressed-beyond-end": (0, 3, 3),
        "inflates-to-more": (0, 3, 3),
        "inflates-to-fewer": (0, 3, 3),  # the game pads it with zeros
        "unpacked-huge": (0, 3, 3),
        "entry-count-too-large": (3, 3, 1),
        "empty-archive": (0, 0, 1),
        "unknown-version": (3, 3, 1),  # the game passes such a file over
        "stray-files": (3, 3, 0),  # data.pak is a picture; data2.pak answers
    }
    # GAME.INI delivers fewer bytes than it declares: (delivered, declared, what ini prints).
    # cat and ini write what the game reads, then say so.
    SHORT = {
        "entry-beyond-end": (0, len(INI), b""),
        "offset-beyond-2gib": (0, len(INI), b""),  # never bytes from where the archive stands
        "plain-size-huge": (14, 0x80000000, b""),
        "inflates-to-fewer": (len(INI), len(INI) + 50, b"TESTGAME\n"),
    }

    def test_malformed_fixtures(self):
        for scenario, (list_code, verify_code, cat_code) in self.MALFORMED.items():
            with self.subTest(scenario=scenario):
                game = self.dir / scenario
                shutil.copytree(FIXTURES / "malformed" / scenario, game)
                listed = self.run_pak("list", "data.pak", cwd=game, expect=list_code)
                verified = self.run_pak("verify", "data.pak", cwd=game, expect=verify_code)
                for result in (listed, verified):
                    for line in result.err.splitlines():
                        self.assertTrue(line.startswith("pak: data.pak"), result)
                cat = self.run_pak("cat", "GAME.INI", cwd=game, expect=cat_code)
                # ini reads the same file the same way, so it comes to the same verdict.
                ini = self.run_pak("ini", "設定", "Name", cwd=game, expect=cat_code)
                if scenario in self.SHORT:
                    delivered, declared, value = self.SHORT[scenario]
                    told = f"GAME.INI: the data ends after {delivered} of its {declared} " \
                           "declared bytes\n"
                    said = (cat.err + ini.err).replace("\r", "")  # CR LF from Windows
                    self.assertEqual((said, ini.out.replace(b"\r", b"")),
                                     (("pak: " + told) * 2, value))
                self.run_pak("extract", "-C", "out", "data.pak", cwd=game,
                             expect=0 if verify_code == 0 else 3)
                self.assertEqual(self.leftovers(game), [])

    def test_verify_names_each_problem(self):
        archive = self.dir / "problems.pak"
        archive.write_bytes(build(3, [
            Entry("good.txt", b"good"),
            Entry("beyond.bin", b"x" * 10, offset=1000000),
            Entry("fewer.bin", INI, compressed=True, unpacked=len(INI) + 50),
            Entry("more.bin", INI, compressed=True, unpacked=len(INI) - 10),
            Entry("huge.bin", INI, compressed=True, unpacked=0x7FFFFFFF),
            Entry("fine.z", INI, compressed=True),
        ]))
        result = self.run_pak("verify", archive, expect=3)
        self.assertEqual(result.text, f"{shown_path(archive)}: 6 entries, 4 problems\n")
        problems = result.err.splitlines()
        self.assertEqual(len(problems), 4, result)
        for name, line in zip(["beyond.bin", "fewer.bin", "more.bin", "huge.bin"], problems):
            self.assertIn(name, line)
        self.assertIn("past the end", problems[0])
        # Partial damage: the sound entries still come out, the broken ones never half-written.
        self.run_pak("extract", "-C", self.dir / "out", archive, expect=3)
        self.assertEqual(sorted(p.name for p in (self.dir / "out").iterdir()),
                         ["fine.z", "good.txt"])

    def test_not_archives_at_all(self):
        (self.dir / "notes.txt").write_bytes(b"hello")
        (self.dir / "folder.pak").mkdir()
        os.mkfifo(self.dir / "fifo.pak")  # opened, it would wait for a writer that never comes
        for command in ("info", "list", "verify"):
            with self.subTest(command=command):
                missing = self.run_pak(command, "missing.pak", expect=1)
                self.assertIn("missing.pak", missing.err)
                self.assertIn("no such file", missing.err)
                short = self.run_pak(command, "notes.txt", expect=3)
                self.assertIn("notes.txt", short.err)
                self.run_pak(command, "folder.pak", expect=3)
                self.assertIn("FIFO", self.run_pak(command, "fifo.pak", expect=3).err)
        self.run_pak("verify", "missing.pak", "notes.txt", expect=3)

    def test_random_damage_never_crashes(self):
        """Every command ends with one of its exit codes, whatever the bytes."""
        rng = random.Random(1234)
        entries = [Entry("GAME.INI", INI, compressed=True), Entry(HYOU_SO, b"hyou-so"),
                   Entry("big.bin", bytes(rng.getrandbits(8) for _ in range(5000)),
                         compressed=True)]
        for version in range(5):
            good = build(version, entries, archive_name="MAIN")
            for trial in range(8):
                damaged = bytearray(good)
                for _ in range(rng.randint(1, 6)):
                    damaged[rng.randrange(len(damaged))] = rng.getrandbits(8)
                if trial % 4 == 0:
                    damaged = damaged[:rng.randrange(len(damaged))]
                game = self.dir / f"d{version}-{trial}"
                game.mkdir()
                (game / "data.pak").write_bytes(bytes(damaged))
                with self.subTest(version=version, trial=trial):
                    for args in (("list", "--json", "data.pak"), ("verify", "data.pak"),
                                 ("cat", "GAME.INI"), ("extract", "-C", "out", "data.pak")):
                        result = pak(*args, cwd=game)
                        self.assertIn(result.code, (0, 1, 3), (args, result))
                        self.assertNotIn("Sanitizer", result.err)
                        if result.code != 0:
                            self.assertTrue(result.err.startswith("pak: "), (args, result))


class MemoryBounds(PakTestCase):
    """Memory is measured on the plain native build only: a sanitizer's shadow memory, or an
    emulator's own, counts in the resident size of what it runs."""

    def setUp(self):
        super().setUp()
        self.native = not sanitized() and not RUNNER

    def test_sizes_an_archive_only_declares_take_no_memory(self):
        """Archives of at most 1 MiB that declare far more than they hold: no command holds more
        than 64 MiB, and (natively, where a limit on writable memory can be set) none asks for it."""
        padding = bytes(random.Random(5).getrandbits(8) for _ in range(1 << 20))
        records = struct.pack("<i", 8) + b"GAME.INI" + struct.pack("<5I", 0, len(INI), len(INI),
                                                                    0, len(INI))
        stream = zlib.compress(records) + padding[:(1 << 20) - 400]
        header = struct.pack("<4Id", 3, 1, 1000 << 20, len(stream), 0) + bytes(256)
        liars = {
            "directory.pak": header + stream + INI,  # declares a directory of 1000 MiB
            "entry.pak": build(3, [Entry("GAME.INI", INI, compressed=True, unpacked=200 << 20,
                                         stream=zlib.compress(INI) + padding[:256 << 10])]),
        }
        limited = self.native
        for archive, data in liars.items():
            game = self.dir / archive.replace(".pak", "")
            game.mkdir()
            (game / "data.pak").write_bytes(data)
            for args in (("list", "data.pak"), ("verify", "data.pak"),
                         ("extract", "-C", "out", "data.pak"), ("cat", "GAME.INI"),
                         ("ini", "設定", "Title")):
                with self.subTest(archive=archive, command=args[0]):
                    limit = (lambda: resource.setrlimit(resource.RLIMIT_DATA, (128 << 20,) * 2)) \
                        if limited else None
                    child = subprocess.Popen([*RUNNER, str(PAK), *args], cwd=game, preexec_fn=limit,
                                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                    err = child.stderr.read().decode("utf-8", "replace")
                    _, status, usage = os.wait4(child.pid, 0)
                    code = os.waitstatus_to_exitcode(status)
                    self.assertIn(code, (0, 3), err)
                    self.assertNotIn("memory", err)
                    if self.native:
                        self.assertLess(usage.ru_maxrss, 64 << 10, err)  # KiB


    def test_large_entries_stream_through_bounded_memory(self):
        """An entry of 80 MiB is read, inflated, written and compressed piece by piece: no
        command holds more than 64 MiB of it at a time, however many threads."""
        size = 80 << 20
        (self.dir / "src").mkdir()
        (self.dir / "src" / "big.bin").write_bytes(bytes(size))
        (self.dir / "big.pak").write_bytes(build(3, [Entry("big.bin", bytes(size), compressed=True),
                                                     Entry("plain.bin", bytes(8 << 20))]))
        for args in (("extract", "-j", "4", "-C", "out", "big.pak"),
                     ("verify", "-j", "4", "big.pak"),
                     ("create", "-j", "4", "-o", "made.pak", "-C", "src", ".")):
            with self.subTest(command=args[0]):
                code, err, peak = run_measured(RUNNER + [str(PAK), *args], self.dir)
                self.assertEqual(code, 0, err)
                if self.native:
                    self.assertLess(peak, 64 << 10, err)  # KiB
        with open(self.dir / "out" / "big.bin", "rb") as extracted:
            while chunk := extracted.read(1 << 20):
                self.assertEqual(chunk, bytes(len(chunk)))
        self.assertEqual((self.dir / "out" / "big.bin").stat().st_size, size)
        self.assertEqual(read_archive((self.dir / "made.pak").read_bytes())["records"][0]["data"],
                         bytes(size))


class Threads(PakTestCase):
    """-j N changes how fast, never what: the same archive bytes, and the same output, messages,
    exit codes and files, for one thread and several."""

    JOBS = ("1", "3")

    def test_create_makes_the_same_bytes(self):
        # Entries up to 8 MiB are compressed whole, larger ones in 1 MiB blocks joined into one
        # stream: the sizes around the limit, and one of several blocks.
        rng = random.Random(7)
        chunk = bytes(rng.getrandbits(8) for _ in range(4096))
        big = b"".join(chunk[:i % 4000] + i.to_bytes(4, "little") + chunk[i % 4000:]
                       for i in range(2600))
        tree = dict(source_tree())
        tree.update({"limit.bin": big[:8 << 20], "past.bin": big[:(8 << 20) + 1],
                     "blocks.bin": big})
        self.write_tree(self.dir / "src", tree)
        made = []
        for jobs in self.JOBS:
            archive = self.dir / f"j{jobs}.pak"
            self.run_pak("create", "-j", jobs, "-o", archive, "-C", "src", ".")
            made.append(archive.read_bytes())
        self.assertEqual(made[0], made[1])
        records = {r["name"]: r for r in read_archive(made[0])["records"]}
        for name, data in tree.items():
            self.assertEqual(records[stored_name(name)]["data"], data, name)
            self.assertTrue(records[stored_name(name)]["compressed"], name)

    def test_extract_and_verify_tell_the_same(self):
        rng = random.Random(11)
        entries = [Entry(f"e{i}.bin", bytes(rng.getrandbits(8) for _ in range(rng.randrange(
            1, 3000))) * rng.randrange(1, 300), compressed=i % 3 != 0) for i in range(12)]
        good = build(3, entries)
        packed = [r for r in read_archive(good)["records"] if r["compressed"]]
        archives = {"good.pak": good, "problems.pak": build(3, [
            Entry("good.txt", b"good"), Entry("beyond.bin", b"x" * 10, offset=1000000),
            Entry("fewer.bin", INI, compressed=True, unpacked=len(INI) + 50),
            Entry("more.bin", INI, compressed=True, unpacked=len(INI) - 10),
            Entry("\\x", b"refused"), Entry("fine.z", INI, compressed=True)])}
        for trial in range(4):  # damaged streams: entries that fail midway
            damaged = bytearray(good)
            for record in rng.sample(packed, 3):
                damaged[rng.randrange(record["start"], record["start"] + record["packed"])] ^= 0x55
            archives[f"damaged{trial}.pak"] = bytes(damaged)
        for scenario in ("inflates-to-more", "inflates-to-fewer", "compressed-beyond-end",
                         "unpacked-huge", "entry-count-too-large", "truncated-directory"):
            archives[scenario + ".pak"] = (FIXTURES / "malformed" / scenario / "data.pak") \
                .read_bytes()
        for name, data in archives.items():
            (self.dir / name).write_bytes(data)
            with self.subTest(archive=name):
                seen = []
                for jobs in self.JOBS:
                    out = self.dir / f"out-{name}-{jobs}"
                    verified = pak("verify", "-j", jobs, name, cwd=self.dir)
                    extracted = pak("extract", "-j", jobs, "-C", out, name, cwd=self.dir)
                    seen.append((verified.code, verified.out, verified.err, extracted.code,
                                 extracted.err, self.files_below(out)))
                self.assertEqual(seen[0], seen[1])
                self.assertEqual(self.leftovers(self.dir), [])


class ExtractSafety(PakTestCase):
    def test_hostile_names_are_refused_and_the_rest_extracted(self):
        outside = self.dir / "outside"
        outside.mkdir()
        (outside / "target").write_bytes(b"keep")
        out = self.dir / "out"
        out.mkdir()
        os.symlink("../outside", out / "link")            # a directory link below DIR
        os.symlink("../outside/target", out / "filelink")  # a file link below DIR
        archive = self.dir / "hostile.pak"
        archive.write_bytes(build(3, [
            Entry("..\\..\\x", b"up"),
            Entry("C:\\x", b"drive"),
            Entry("\\x", b"root"),
            Entry("link\\y", b"through a directory link"),
            Entry("link", b"onto a directory link"),
            Entry("filelink", b"onto a file link"),
            Entry("sub/../../z", b"slashes"),
            Entry("ok.txt", b"fine"),
            Entry(HYOU_SO, b"hyou-so", compressed=True),
        ]))
        result = self.run_pak("extract", "-C", out, archive, expect=3)
        refused = result.err.splitlines()
        self.assertEqual(len(refused), 7, result)
        for name, line in zip(["..\\..\\x", "C:\\x", "\\x", "link\\y", "link", "filelink",
                               "sub/../../z"], refused):
            self.assertIn(name, line)
        self.assertEqual((out / "ok.txt").read_bytes(), b"fine")
        self.assertEqual((out / "表" / "ソ.txt").read_bytes(), b"hyou-so")
        self.assertEqual(sorted(p.name for p in outside.iterdir()), ["target"])
        self.assertEqual((outside / "target").read_bytes(), b"keep")
        self.assertTrue((out / "filelink").is_symlink())
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()),
                         ["hostile.pak", "out", "outside"])
        self.assertEqual(self.leftovers(self.dir), [])

    def test_existing_files_are_replaced_and_names_selected_by_the_games_rule(self):
        archive = self.dir / "a.pak"
        archive.write_bytes(build(1, [Entry("title.bmp", b"bmp"), Entry("TITLE.PNG", b"png"),
                                      Entry("titlebar.txt", b"bar"), Entry("x\\y.txt", b"y")]))
        out = self.dir / "out"
        out.mkdir()
        (out / "title.bmp").write_bytes(b"old")
        self.run_pak("extract", "-C", out, archive, "title.*")
        self.assertEqual(sorted(p.name for p in out.iterdir()), ["TITLE.PNG", "title.bmp"])
        self.assertEqual((out / "title.bmp").read_bytes(), b"bmp")
        result = self.run_pak("extract", "-C", out, archive, "X\\", "nothing", expect=1)
        self.assertIn("nothing", result.err)
        self.assertEqual((out / "x" / "y.txt").read_bytes(), b"y")
        self.run_pak("extract", archive, "titlebar", cwd=out)  # default: the current directory
        self.assertEqual((out / "titlebar.txt").read_bytes(), b"bar")

    def test_progress_only_on_a_terminal(self):
        import pty
        archive = self.dir / "a.pak"
        archive.write_bytes(build(3, [Entry(f"f{i}.bin", bytes(1000), compressed=True)
                                      for i in range(20)]))
        quiet = self.run_pak("extract", "-C", self.dir / "quiet", archive)
        self.assertEqual((quiet.out, quiet.err), (b"", ""))
        master, slave = pty.openpty()
        process = subprocess.Popen(RUNNER + [str(PAK), "extract", "-C", str(self.dir / "tty"),
                                    str(archive)], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=slave)
        os.close(slave)
        shown = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
        os.close(master)
        out, _ = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 0)
        self.assertEqual(out, b"")
        self.assertIn(b"20/20 entries", shown)
        self.assertIn(b"100%", shown)
        self.assertEqual(len(list((self.dir / "tty").iterdir())), 20)


def sanitized():
    """Whether the program is built with AddressSanitizer."""
    return b"__asan_init" in PAK.read_bytes()


def without_proc():
    """A command that runs the rest of its command line in a mount namespace of its own whose
    /proc is an empty file system, as in a container or a chroot without it; or None and why
    none can be made here."""
    if shutil.which("unshare") is None:
        return None, "unshare is not installed"
    if sanitized():
        return None, "AddressSanitizer cannot run without /proc (it reads /proc/self/maps)"
    wrapper = ["unshare", "--mount", "--propagation", "private"]
    if os.geteuid() != 0:
        wrapper.append("--map-root-user")
    wrapper += ["sh", "-c", 'mount -t tmpfs none /proc && test ! -e /proc/self && exec "$@"', "sh"]
    probe = subprocess.run(wrapper + ["true"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if probe.returncode != 0:
        return None, ("no mount namespace without /proc can be made here: " +
                      probe.stderr.decode("utf-8", "replace").strip())
    return wrapper, None


class WithoutProc(PakTestCase):
    def test_create_and_extract_do_the_same_without_proc(self):
        """create and extract, run as usual and then without /proc, write the same files and
        say the same: new directories, and names found whatever their case in held ones."""
        wrapper, why = without_proc()
        if wrapper is None:
            self.skipTest(why)
        archive = build(3, [Entry("data\\a.txt", b"a"),
                            Entry("DATA\\B.TXT", b"b", compressed=True),
                            Entry("game.ini", INI), Entry(HYOU_SO, b"hyou-so")])
        rows = [("create", "-o", "made.pak", "-C", "src", "."),
                ("extract", "-C", "new", "a.pak"),
                ("extract", "-C", "old", "a.pak")]  # over Data\A.TXT and GAME.INI
        for args in rows:
            with self.subTest(args=args):
                seen = []
                for way, around in (("usual", ()), ("bare", wrapper)):
                    work = self.dir / way / f"{args[0]}-{args[2]}"
                    self.write_tree(work, {"a.pak": archive, "src/表/ソ.txt": b"so",
                                           "src/x.bin": bytes(70000), "old/Data/A.TXT": b"old",
                                           "old/GAME.INI": b"old"})
                    result = pak(*args, cwd=work, wrapper=around)
                    seen.append((result.code, result.err, self.files_below(work)))
                self.assertEqual(seen[0][0], 0, seen[0])
                self.assertEqual(seen[1], seen[0])


class Create(PakTestCase):
    def setUp(self):
        super().setUp()
        self.src = self.dir / "src"
        self.write_tree(self.src, {"b.txt": b"b", "A.txt": b"a", "sub/c.txt": b"c",
                                   "表/ソ.txt": b"so"})

    def names(self, archive):
        return [r["name"].decode("cp932") for r in read_archive(archive.read_bytes())["records"]]

    def test_names_are_relative_sorted_and_unique(self):
        self.run_pak("create", "-o", "a.pak", "-C", "src", ".", "./b.txt", "sub")
        self.assertEqual(self.names(self.dir / "a.pak"),
                         ["A.txt", "b.txt", "sub\\c.txt", "表\\ソ.txt"])
        self.run_pak("create", "-o", "b.pak", "src/sub", "src\\表")
        self.assertEqual(self.names(self.dir / "b.pak"), ["src\\sub\\c.txt", "src\\表\\ソ.txt"])
        for bad in ("../x", "/etc", "C:\\x", ".."):
            with self.subTest(path=bad):
                self.run_pak("create", "-o", "c.pak", "-C", "src", bad, expect=2)
        self.assertFalse((self.dir / "c.pak").exists())

    def test_never_overwrites_without_force(self):
        (self.dir / "a.pak").write_bytes(b"precious")
        result = self.run_pak("create", "-o", "a.pak", "src", expect=2)
        self.assertIn("--force", result.err)
        self.assertEqual((self.dir / "a.pak").read_bytes(), b"precious")
        self.run_pak("create", "--force", "-o", "a.pak", "src")
        self.assertEqual(len(self.names(self.dir / "a.pak")), 4)
        # An archive replaced inside its own tree is not packed into its successor.
        self.run_pak("create", "--force", "-o", "src/all.pak", "-C", "src", ".")
        self.run_pak("create", "--force", "-o", "src/all.pak", "-C", "src", ".")
        self.assertNotIn("all.pak", self.names(self.src / "all.pak"))

    def test_a_failed_run_leaves_nothing_behind(self):
        self.run_pak("create", "-o", "a.pak", "src", "missing", expect=1)
        os.symlink("nowhere", self.src / "dangling")
        result = self.run_pak("create", "-o", "a.pak", "src", expect=3)
        self.assertIn("dangling", result.err)
        (self.dir / "b.pak").write_bytes(b"old")
        self.run_pak("create", "--force", "-o", "b.pak", "src", expect=3)
        self.assertEqual((self.dir / "b.pak").read_bytes(), b"old")
        # What is not a file is never opened (a FIFO would hold the run forever): each one is
        # named, in the tree or as an operand, behind a link or not.
        os.unlink(self.src / "dangling")
        odd = self.src / "odd"
        odd.mkdir()
        os.mkfifo(odd / "fifo")
        os.symlink("fifo", odd / "link")
        with socket.socket(socket.AF_UNIX) as unix:
            unix.bind(str(odd / "socket"))
        things = ["fifo", "link", "socket"]
        if os.geteuid() == 0:  # a device node: the one /dev/null is
            os.mknod(odd / "null", stat.S_IFCHR | 0o600, os.makedev(1, 3))
            things.append("null")
        for operands in (["src"], ["src/odd/fifo", "src/b.txt"]):
            with self.subTest(operands=operands):
                result = self.run_pak("create", "--force", "-o", "b.pak", *operands, expect=3)
                named = sorted(things) if operands == ["src"] else ["fifo"]
                self.assertEqual([line.split(":")[1].strip() for line in result.err.splitlines()],
                                 [shown_path(f"src/odd/{name}") for name in named], result)
        self.assertEqual((self.dir / "b.pak").read_bytes(), b"old")
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["b.pak", "src"])

    def test_names_without_a_shift_jis_form_are_not_lost_silently(self):
        (self.src / "sub" / "😀.txt").write_bytes(b"emoji")
        result = self.run_pak("create", "-o", "a.pak", "-C", "src", ".", expect=3)
        self.assertIn(shown_path("src/sub") + ": 1 name(s)", result.err)
        self.assertFalse((self.dir / "a.pak").exists())

    def test_temporary_files_are_made_beside_out(self):
        # Run from a directory that is gone, where nothing can be written: OUT is still made,
        # since its temporary files belong in its own directory.
        gone = self.dir / "gone"
        gone.mkdir()
        (self.dir / "out").mkdir()
        result = pak("create", "-o", self.dir / "out" / "a.pak", "-C", self.src, ".", cwd=gone,
                     preexec_fn=gone.rmdir)
        self.assertEqual(result.code, 0, result)
        self.assertEqual(len(self.names(self.dir / "out" / "a.pak")), 4)

    def test_directory_links_are_not_entered(self):
        os.symlink("..", self.src / "loop")
        self.run_pak("create", "-o", "a.pak", "-C", "src", ".")
        self.assertEqual(len(self.names(self.dir / "a.pak")), 4)

    def test_option_errors(self):
        for args in (["-o", "a.pak", "--format", "5", "src"], ["-o", "a.pak", "--format", "x", "src"],
                     ["-o", "a.pak", "--format", "1", "--name", "N", "src"],
                     ["-o", "a.pak", "--name", "x" * 256, "src"], ["src"], ["-o", "a.pak"],
                     ["-o", "src", "src"]):
            with self.subTest(args=args):
                self.run_pak("create", *args, expect=2)
        self.assertFalse((self.dir / "a.pak").exists())


class Interrupted(PakTestCase):
    SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

    def test_a_signal_removes_the_temporary_files(self):
        """create and extract, caught by a signal inside a read of their source, after they
        made their temporary files: the files go, and the exit code is 128 + the signal."""
        if HELD_FILE is None or not HELD_FILE.exists():
            self.skipTest(f"no file system to hold a read: {HELD_FILE} is not built")
        size = 3 << 20
        files = self.dir / "files"
        self.write_tree(files, {"big.bin": bytes(size),
                                "a.pak": build(3, [Entry("big.bin", bytes(size))])})
        for command in ("create", "extract"):
            for sig in self.SIGNALS:
                with self.subTest(command=command, signal=sig.name):
                    if PAK.suffix.lower() == ".exe" and sig != signal.SIGINT:
                        self.skipTest("of these, Wine hands a Windows program only SIGINT (as "
                                      "Ctrl-C)")
                    self.interrupt(command, sig, files)

    def interrupt(self, command, sig, files):
        mount, out = self.dir / f"mnt-{command}-{sig.name}", self.dir / f"out-{command}-{sig.name}"
        mount.mkdir()
        out.mkdir()
        # Reads of the second MiB wait: the source's own (create), or the entry's (extract, on
        # one thread, which makes the entry's file before it reads the entry).
        server = subprocess.Popen([str(HELD_FILE), str(mount), str(1 << 20), str(2 << 20),
                                   str(files / "a.pak"), str(files / "big.bin")],
                                  stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        program = None
        try:
            deadline = time.monotonic() + 60
            while not (mount / "a.pak").exists():
                time.sleep(0.02)
                self.assertLess(time.monotonic(), deadline, "held_file never mounted")
                if server.poll() is not None:
                    reason = server.stderr.read().decode("utf-8", "replace").strip()
                    if server.returncode == 77:
                        self.skipTest(f"nothing can be mounted here: {reason}")
                    self.fail(f"held_file ended with {server.returncode}: {reason}")
            args = (["create", "-o", out / "a.pak", "-C", mount, "big.bin"] if command == "create"
                    else ["extract", "-j", "1", "-C", out, mount / "a.pak"])
            program = subprocess.Popen(RUNNER + [str(PAK)] + [str(a) for a in args],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE)
            ready, _, _ = select.select([server.stdout], [], [], 60)
            self.assertTrue(ready and os.read(server.stdout.fileno(), 5) == b"held\n",
                            "the read was never held")
            self.assertEqual(len(self.leftovers(out)), 2 if command == "create" else 1)
            program.send_signal(sig)
        finally:
            server.stdin.close()  # lets the held read go: the signal is taken on its way back
            if program is not None:
                err = program.communicate(timeout=60)[1].decode(OUTPUT_ENCODING, "replace")
            server.send_signal(signal.SIGTERM)  # unmounts
            server.wait(timeout=60)
            server.stdout.close()
            server.stderr.close()
        self.assertEqual(program.returncode, 128 + sig, err)
        self.assertEqual(sorted(p.name for p in out.iterdir()), [], err)


class Usage(PakTestCase):
    COMMANDS = ("info", "list", "cat", "ini", "verify", "extract", "create")

    def test_help(self):
        overview = self.run_pak("--help").text
        for command in self.COMMANDS:
            self.assertIn(command, overview)
            self.assertIn(f"Usage: pak {command}", self.run_pak(command, "--help").text)
        self.assertRegex(self.run_pak("--version").text, r"\Apak \d+\.\d+\.\d+\r?\n\Z")

    def test_usage_errors_are_one_line_with_exit_code_2(self):
        for args in ([], ["frobnicate"], ["--frobnicate"], ["list"], ["list", "a", "b"],
                     ["list", "--bogus", "a.pak"], ["list", "a.pak", "--bogus"], ["info"],
                     ["cat"], ["ini", "section"], ["extract"], ["verify"],
                     ["cat", "--dir"]):
            with self.subTest(args=args):
                result = self.run_pak(*args, expect=2)
                self.assertEqual(len(result.err.splitlines()), 1, result)
                self.assertEqual(result.out, b"")

    # command, its options (each with its value), its operands
    ORDERS = [
        ("info", [["--raw"]], ["data.pak"]),
        ("list", [["--json"], ["--raw"]], ["data.pak"]),
        ("cat", [["--dir", "game"], ["--raw"]], ["GAME.INI"]),
        ("ini", [["--dir", "game"], ["--file", "GAME.INI"]], ["設定", "Title"]),
        ("verify", [["-j", "2"], ["--raw"]], ["data.pak", "game/data.pak"]),
        ("extract", [["-C", "out"], ["-j", "1"]], ["data.pak", "GAME.INI", "表"]),
        ("create", [["-o", "new.pak"], ["--store"], ["-C", "game"], ["--name", "N"]],
         ["GAME.INI", "表"]),
        ("mount", [["--dir", "nowhere"], ["--cache-mb", "4"]], ["mnt"]),  # fails, the same way
    ]

    def test_options_before_between_and_after_the_operands(self):
        self.write_tree(self.dir / "game", {"GAME.INI": INI, "表/ソ.txt": b"so"})
        self.run_pak("create", "-o", "data.pak", "-C", "game", ".")
        shutil.copy(self.dir / "data.pak", self.dir / "game" / "data.pak")
        (self.dir / "mnt").mkdir()
        for command, options, operands in self.ORDERS:
            flat = [word for option in options for word in option]
            between = options[0] + operands[:1] + [w for o in options[1:] for w in o] + \
                operands[1:]
            seen = {}
            for order, args in (("before", flat + operands), ("between", between),
                                ("after", operands + flat)):
                shutil.rmtree(self.dir / "out", ignore_errors=True)
                (self.dir / "new.pak").unlink(missing_ok=True)
                result = pak(command, *args, cwd=self.dir)
                made = {str(p.relative_to(self.dir)): p.read_bytes()
                        for p in sorted(self.dir.glob("out/**/*")) + [self.dir / "new.pak"]
                        if p.is_file()}
                seen[order] = (result.code, result.out, result.err, made)
            with self.subTest(command=command):
                self.assertEqual(seen["before"][0] == 0, command != "mount", seen["before"])
                self.assertEqual(seen["between"], seen["before"])
                self.assertEqual(seen["after"], seen["before"])


class Text(PakTestCase):
    def test_names_convert_at_the_edge_and_raw_passes_bytes(self):
        odd = b"bad\x81 name"  # not valid Shift-JIS
        game = self.game({"data.pak": build(3, [Entry(HYOU_SO, b"hyou-so"),
                                                Entry(odd, b"odd"),
                                                Entry(b"esc\x1b[2J", b"esc")])})
        text = self.run_pak("list", game / "data.pak").text.splitlines()
        self.assertTrue(text[0].endswith(" 表\\ソ.txt"))
        self.assertTrue(text[1].endswith(" bad\\x81 name"))
        self.assertTrue(text[2].endswith(" esc\\x1B[2J"))  # no control reaches the terminal
        raw = self.run_pak("list", "--raw", game / "data.pak").out.splitlines()
        self.assertTrue(raw[0].endswith(b" " + HYOU_SO.encode("cp932")))
        self.assertTrue(raw[1].endswith(b" " + odd))
        as_json = json.loads(self.run_pak("list", "--json", "--raw", game / "data.pak").text)
        self.assertEqual(as_json[1]["name"].encode("latin-1"), odd)
        self.assertEqual(as_json[0]["name"].encode("latin-1"), HYOU_SO.encode("cp932"))
        self.assertEqual(self.run_pak("cat", "--raw", "--dir", game, odd).out, b"odd")
        self.assertEqual(self.run_pak("--raw", "cat", "--dir", game,
                                      HYOU_SO.encode("cp932")).out, b"hyou-so")
        result = self.run_pak("cat", "--dir", game, "😀", expect=2)
        self.assertIn("--raw", result.err)


class Smoke(PakTestCase):
    """The Windows build under its emulator: arguments, names and data with 表 and ソ."""

    def test_create_list_cat_extract(self):
        self.write_tree(self.dir / "game", {"表/ソ.txt": b"hyou-so\n", "GAME.INI": INI})
        self.run_pak("create", "-o", "data.pak", "-C", "game", ".")
        listed = json.loads(self.run_pak("list", "--json", "data.pak").text)
        self.assertEqual([e["name"] for e in listed], ["GAME.INI", HYOU_SO])
        lines = self.run_pak("list", "data.pak").text.splitlines()
        self.assertTrue(lines[1].endswith(" " + HYOU_SO), lines)
        (self.dir / "run").mkdir()
        shutil.move(str(self.dir / "data.pak"), str(self.dir / "run" / "data.pak"))
        run = self.dir / "run"
        self.assertEqual(self.run_pak("cat", HYOU_SO, cwd=run).out, b"hyou-so\n")
        self.assertEqual(self.run_pak("ini", "設定", "Title", cwd=run).text.rstrip("\r\n"),
                         "テスト")
        self.run_pak("verify", "data.pak", cwd=run)
        self.run_pak("extract", "-C", "out", "data.pak", cwd=run)
        self.assertEqual((run / "out" / "表" / "ソ.txt").read_bytes(), b"hyou-so\n")
        self.run_pak("cat", "missing", cwd=run, expect=1)

    def test_a_build_without_mount_says_so(self):
        """The Windows build (and a Linux one made without libfuse3) has no mount command: its
        help says so instead of listing it, and asking for it is a usage error."""
        overview = self.run_pak("--help").text
        if "mount [--dir DIR] MOUNTPOINT" in overview:
            self.assertIn("Usage: pak mount", self.run_pak("mount", "--help").text)
            return
        self.assertIn("has no mount command", overview)
        self.assertIn("has no mount command", self.run_pak("mount", "--help", expect=2).err)

    def test_a_game_at_the_root_of_a_drive(self):
        """Started from D:\\ (a disc, a stick), the game finds its archives: the drive is asked by
        its root. The emulator's drive letters are links in its prefix's dosdevices folder."""
        if not RUNNER or PAK.suffix.lower() != ".exe":
            self.skipTest("drive letters exist on Windows only (here: under wine)")
        prefix = pathlib.Path(os.environ.get("WINEPREFIX") or
                              pathlib.Path(RUNNER[0]).resolve().parent.parent / "build" /
                              "mingw64" / "wineprefix")
        drive = prefix / "dosdevices" / "p:"
        root = self.dir / "disc"
        self.write_tree(root, {"data.pak": build(3, [Entry("GAME.INI", INI, compressed=True)])})
        drive.unlink(missing_ok=True)
        drive.symlink_to(root)
        self.addCleanup(drive.unlink)
        self.assertEqual(self.run_pak("cat", "--dir", "P:\\", "GAME.INI").out, INI)


def main():
    global PAK, RUNNER, FIXTURES, HELD_FILE, OUTPUT_ENCODING
    parser = argparse.ArgumentParser()
    parser.add_argument("--pak", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--held-file")
    parser.add_argument("--runner")
    parser.add_argument("--smoke", action="store_true", help="run only the smoke tests")
    args, rest = parser.parse_known_args()
    PAK = pathlib.Path(args.pak).resolve()
    FIXTURES = pathlib.Path(args.fixtures)
    if args.held_file:
        HELD_FILE = pathlib.Path(args.held_file)
    if args.runner:
        RUNNER = [str(pathlib.Path(args.runner).resolve())]
    if PAK.suffix.lower() == ".exe":
        OUTPUT_ENCODING = "cp932"  # what a Windows program writes into a pipe
    loader = unittest.TestLoader()
    if args.smoke:
        suite = unittest.TestSuite([loader.loadTestsFromTestCase(Smoke),
                                    loader.loadTestsFromTestCase(Interrupted)]) if not rest else \
            loader.loadTestsFromNames(rest, sys.modules[__name__])
    else:
        suite = loader.loadTestsFromModule(sys.modules[__name__]) if not rest else \
            loader.loadTestsFromNames(rest, sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
