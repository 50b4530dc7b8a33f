#!/usr/bin/env python3
"""pak mount driven from outside: a generated game directory mounted, walked and read as any
program reads files, held against `pak cat` and against a model of the game's lookup written
here from its rules.

Usage: pak_mount_test.py --pak PROGRAM --failing-heap PROGRAM [--runner EMULATOR]
                        [unittest args]
(--failing-heap: pak with a heap the test makes run out and writes it makes fail,
tests/tools/pak_failing_heap.cpp)
Exits with 77 (CTest's skip) when this machine or this build cannot mount, saying why.
"""
import argparse
import errno
import hashlib
import os
import pathlib
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "support"))
from pak_generator import Entry, build  # noqa: E402

PAK = None
FAILING_HEAP = None
RUNNER = []
SKIP = 77


def command(*args):
    return RUNNER + [str(PAK)] + [a if isinstance(a, bytes) else str(a) for a in args]


def environment():
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = "exitcode=86:detect_leaks=1"
    return env


def why_not():
    """Why pak cannot mount here, or None."""
    done = subprocess.run(command("mount", "--help"), capture_output=True, env=environment())
    if done.returncode != 0:
        return "this pak cannot mount: " + done.stderr.decode("utf-8", "replace").strip()
    if RUNNER:
        return "pak runs under an emulator, which does not pass FUSE's device requests on"
    if not os.path.exists("/dev/fuse"):
        return "/dev/fuse is missing (no fuse module, or a container without the device)"
    if os.geteuid() != 0 and shutil.which("fusermount3") is None:
        return "not root, and fusermount3 (Debian's fuse3) is not installed"
    return None


def wait_for(condition, seconds=15, what="the condition"):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what}")


def process_gone(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def pids_serving(mount_point):
    """The processes whose command line names the mount point."""
    found = []
    for entry in pathlib.Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                if str(mount_point).encode() in (entry / "cmdline").read_bytes().split(b"\0"):
                    found.append(int(entry.name))
            except OSError:
                pass
    return found


class MountCase(unittest.TestCase):
    def setUp(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="pak-mount-"))
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def mount(self, *options, source, program=None):
        """pak mount -f in the background; unmounted and checked to end when the test ends.
        Another program (FAILING_HEAP) takes commands on its standard input and answers on its
        standard output."""
        mount_point = self.dir / f"mnt{len(list(self.dir.glob('mnt*')))}"
        mount_point.mkdir()
        log = open(self.dir / f"{mount_point.name}.err", "w+b")
        pipe = subprocess.PIPE if program else subprocess.DEVNULL
        arguments = command("mount", "-f", *options, *source, mount_point)
        if program:
            arguments[len(RUNNER)] = str(program)
        process = subprocess.Popen(arguments, stdin=pipe, stdout=pipe, stderr=log,
                                   env=environment())

        def stop():
            if os.path.ismount(mount_point):
                subprocess.run(["fusermount3", "-u", str(mount_point)], capture_output=True)
            try:
                process.wait(timeout=15)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()
                log.close()
                for stream in (process.stdin, process.stdout):
                    if stream:
                        try:
                            stream.close()
                        except BrokenPipeError:
                            pass  # it ended, as the test has said
        self.addCleanup(stop)
        wait_for(lambda: os.path.ismount(mount_point) or process.poll() is not None,
                 what="the mount")
        self.assertTrue(os.path.ismount(mount_point), self.stderr(log))
        return mount_point, process, log

    def order(self, process, log, text):
        """Gives a command to the FAILING_HEAP program and waits for its answer."""
        try:
            process.stdin.write(text.encode() + b"\n")
            process.stdin.flush()
            answer = process.stdout.readline()
        except BrokenPipeError:
            answer = b""
        self.assertEqual(answer, b"ok\n", f"pak ended: {self.stderr(log)}")

    @staticmethod
    def stderr(log):
        log.flush()
        log.seek(0)
        return log.read().decode("utf-8", "replace")

    def unmount(self, mount_point, process, log, how):
        if how == "fusermount3":
            subprocess.run(["fusermount3", "-u", str(mount_point)], check=True)
        else:
            process.send_signal(how)
        self.assertEqual(process.wait(timeout=15), 0, self.stderr(log))
        self.assertFalse(os.path.ismount(mount_point))
        text = self.stderr(log)
        self.assertNotIn("Sanitizer", text)
        self.assertNotIn("runtime error", text)
        return text


# ---- the game's lookup, modelled from its rules, for the merged view --------------------------

def archive_fold(name):
    """The archive rule: ASCII and full-width Latin letters without case, nothing else."""
    return "".join(chr(ord(c) + 0x20) if "A" <= c <= "Z" or "Ａ" <= c <= "Ｚ" else c
                   for c in name)


def file_fold(name):
    """The file-name rule: every letter with case (Greek and Cyrillic too)."""
    return name.lower()


def merged_view(loose, archives):
    """{shown path: (bytes, name pak cat takes, file whose time it shows)} of a game directory:
    loose {path: bytes}, archives [(file name, [(entry name, bytes)])] in the game's order."""
    view = {path: (data, path.replace("/", "\\"), path) for path, data in loose.items()}
    loose_names = {file_fold(path) for path in loose}
    files, directories = set(), set()
    spelling = {}  # a directory is shown as it was first met: loose files first
    for path in loose:
        parts = path.split("/")
        for i in range(1, len(parts)):
            spelling.setdefault(archive_fold("/".join(parts[:i])), "/".join(parts[:i]))
    for archive, entries in archives:
        for name, data in entries:
            if isinstance(name, bytes):  # no Unicode form: shown with the escape
                shown = name.decode("latin-1").replace("\x85", "\\x85")
                parts, cat_name = [shown], name
            else:
                parts, cat_name = name.split("\\"), name
            path = "/".join(parts)
            if ".." in parts or file_fold(path) in loose_names or \
                    any(len(part.encode()) > 255 for part in parts):  # more than Linux takes
                continue
            parents = ["/".join(parts[:i]) for i in range(1, len(parts))]
            if any(archive_fold(p) in files for p in parents) or \
                    archive_fold(path) in directories | files:
                continue  # a file where a directory is needed, or the other way round
            files.add(archive_fold(path))
            directories.update(archive_fold(p) for p in parents)
            for p in parents:
                spelling.setdefault(archive_fold(p), p)
            if parents:
                path = spelling[archive_fold(parents[-1])] + "/" + parts[-1]
            view[path] = (data, cat_name, archive)
    return view


def tree_of(root):
    found = {}
    for folder, subfolders, names in os.walk(root):
        for listed in (subfolders, names):
            assert len(listed) == len(set(listed)), f"{folder} lists a name twice: {listed}"
        for name in names:
            path = pathlib.Path(folder, name)
            found[path.relative_to(root).as_posix()] = path.read_bytes()
    return found


class MergedGameDirectory(MountCase):
    """The whole tree, detached, against pak cat, the model and the archives' times."""

    def test_every_file_reads_as_pak_cat_gives_it(self):
        rng = random.Random(7)
        big = bytes(rng.getrandbits(8) for _ in range(100000)) * 3 + bytes(50000)
        loose = {"GAME.INI": "[設定]\r\nName=LOOSE\r\n".encode("cp932"),
                 "sub/Loose.TXT": b"loose file", "表/loose.txt": b"loose in hyou"}
        archives = [
            ("a.pak", 3, True, [
                ("game.ini", b"hidden by the loose GAME.INI"),
                ("表\\ソ.txt", b"hyou so"),  # both trail bytes are 0x5C
                ("ソ\\表.dat", bytes(rng.getrandbits(8) for _ in range(5000))),
                ("Ｆｕｌｌ.txt", b"full width"), ("shared.txt", b"shared from a"),
                ("α.txt", b"small alpha"), ("notes.txt.bak", b"the backup"),
                ("big.bin", big), ("dir\\x.txt", b"x"), ("empty.dat", b"")]),
            ("b.pak", 4, True, [
                ("SHARED.TXT", b"hidden by a.pak"), ("ｆｕｌｌ.TXT", b"hidden by a.pak"),
                ("Α.txt", b"capital alpha"), ("DIR\\y.txt", b"y"),
                ("sub\\loose.txt", b"hidden by the loose file"), ("notes.txt", b"the notes"),
                ("..\\evil.txt", b"never shown"), ("big.bin\\inner", b"no place"),
                (b"\x85\x40x.txt", b"no unicode form"), ("x" * 5000, b"too long"),
                ("表" * 86 + ".txt", b"too long in UTF-8"),
                ("d" * 300 + "\\f.txt", b"in a directory too long")]),
            ("c.pak", 0, False, [("plain.bin", bytes(rng.getrandbits(8) for _ in range(70000))),
                                 ("表\\other.txt", b"other")]),
            ("d.pak", 1, True, [("v1.txt", b"version 1")]),
            ("e.pak", 2, False, [("v2.txt", b"version 2")]),
        ]
        game = self.dir / "game"
        for path, data in loose.items():
            (game / path).parent.mkdir(parents=True, exist_ok=True)
            (game / path).write_bytes(data)
        for name, version, compressed, entries in archives:
            data = build(version, [Entry(n, d, compressed=compressed) for n, d in entries])
            (game / name).write_bytes(data)
            loose[name] = data
        # Not files, never opened, never shown: a FIFO among the archives, a socket, a device.
        os.mkfifo(game / "pipe.pak")
        with socket.socket(socket.AF_UNIX) as listening:
            listening.bind(str(game / "sub" / "sock"))
        (game / "sub" / "null").symlink_to("/dev/null")
        view = merged_view(loose, [(a, e) for a, _, _, e in archives])

        mount_point = self.dir / "mnt"
        mount_point.mkdir()
        try:
            done = subprocess.run(command("mount", "--dir", game, mount_point), env=environment(),
                                  capture_output=True, timeout=30)
            notes = done.stderr.decode("utf-8")
            self.assertEqual(done.returncode, 0, notes)
            self.assertTrue(os.path.ismount(mount_point))
            # Only the names that cannot be shown are told, one line each.
            self.assertEqual(len(notes.splitlines()), 8, notes)
            self.assertIn("..\\evil.txt: not shown: its name has a '..' component", notes)
            self.assertIn("big.bin\\inner: not shown: big.bin is a file", notes)
            self.assertEqual(notes.count(": not shown: a component of its name is longer than "
                                         "the 255 bytes"), 3, notes)
            for special in ("pipe.pak", "sub/sock", "sub/null"):
                self.assertIn(f"{special}: not shown: a FIFO, a socket or a device", notes)

            shown = tree_of(mount_point)
            self.assertEqual(sorted(shown), sorted(view))
            for path, (data, cat_name, origin) in view.items():
                with self.subTest(path=path):
                    self.assertEqual(shown[path], data)
                    self.assertEqual(int(os.stat(mount_point / path).st_mtime),
                                     int(os.stat(game / origin).st_mtime))
                    raw = ["--raw"] if isinstance(cat_name, bytes) else []
                    cat = subprocess.run(command(*raw, "cat", "--dir", game, cat_name),
                                         capture_output=True, env=environment(), timeout=30)
                    self.assertEqual(cat.returncode, 0, cat.stderr)
                    # The one documented difference: pak cat matches by prefix, so an
                    # earlier entry whose name is longer wins there.
                    expected = b"the backup" if path == "notes.txt" else data
                    self.assertEqual(cat.stdout, expected)

            # Names are found whatever their case, each by its own rule.
            for asked, wanted in [("game.ini", "GAME.INI"), ("DIR/X.TXT", "dir/x.txt"),
                                  ("ｆｕｌｌ.TXT", "Ｆｕｌｌ.txt"), ("SUB/loose.txt", "sub/Loose.TXT"),
                                  ("Α.txt", "Α.txt"), ("α.txt", "α.txt")]:
                self.assertEqual((mount_point / asked).read_bytes(), view[wanted][0], asked)
            self.assertFalse((mount_point / "evil.txt").exists())
            with self.assertRaises(OSError) as refused:
                open(mount_point / "GAME.INI", "ab")
            self.assertEqual(refused.exception.errno, errno.EROFS)
        finally:
            serving = pids_serving(mount_point)
            if os.path.ismount(mount_point):
                subprocess.run(["fusermount3", "-u", str(mount_point)], check=True)
        self.assertEqual(len(serving), 1, "one process serves the detached mount")
        wait_for(lambda: process_gone(serving[0]), what="the detached pak to end")

    def test_mount_points_that_are_refused(self):
        game = self.dir / "game"
        game.mkdir()
        (game / "file").write_bytes(b"x")
        for mount_point, says in [(game, "not empty"), (game / "file", "not a directory"),
                                  (self.dir / "missing", "no such directory")]:
            done = subprocess.run(command("mount", "--dir", game, mount_point),
                                  capture_output=True, env=environment(), timeout=30)
            err = done.stderr.decode("utf-8")
            self.assertEqual((done.returncode, len(err.splitlines())), (2, 1), err)
            self.assertTrue(err.startswith("pak: ") and says in err, err)


class ConcurrentReaders(MountCase):
    """Eight threads read random ranges of a large compressed and a large plain entry at once,
    through the cache and, with a cache smaller than the entry, through streams of their own."""

    def test_random_ranges_from_eight_threads(self):
        rng = random.Random(11)
        chunk = bytes(rng.getrandbits(8) for _ in range(1 << 16))
        data = b"".join(chunk[i:] + bytes(i) for i in range(0, 1 << 16, 1 << 10))[:3 << 20]
        plain = data[::-1]
        archive = self.dir / "big.pak"
        archive.write_bytes(build(3, [Entry("packed.bin", data, compressed=True),
                                      Entry("plain.bin", plain)]))
        for options in ([], ["--cache-mb", "1"]):
            with self.subTest(options=options):
                mount_point, process, log = self.mount(*options, source=["--archive", archive])
                failures = []

                def reader(seed):
                    local = random.Random(seed)
                    try:
                        for name, expected in (("packed.bin", data), ("plain.bin", plain)):
                            fd = os.open(mount_point / name, os.O_RDONLY)
                            try:
                                for _ in range(12):
                                    start = local.randrange(len(expected))
                                    length = local.randrange(1, 400000)
                                    got = os.pread(fd, length, start)
                                    if got != expected[start:start + length]:
                                        failures.append((name, start, length))
                            finally:
                                os.close(fd)
                    except OSError as error:
                        failures.append(error)

                threads = [threading.Thread(target=reader, args=(n,)) for n in range(8)]
                for thread in threads:
                    thread.start()
                for thread in threads:
                    thread.join(timeout=120)
                self.assertEqual(failures, [])
                self.unmount(mount_point, process, log, "fusermount3")


class BoundedMemory(MountCase):
    """A 64 MiB compressed entry read through, then at random with its pages dropped from the
    system's cache (so that the mount inflates from its seek points), with the default cache:
    the serving process stays within 64 MiB at its peak, and every read gives the entry's
    bytes."""

    def test_a_large_entry_read_anywhere_in_bounded_memory(self):
        if b"__asan_init" in pathlib.Path(PAK).read_bytes():
            self.skipTest("a sanitizer build holds freed memory back; its peak says nothing")
        rng = random.Random(5)
        piece = rng.randbytes(1 << 20) + bytes(3 << 20)  # packs to about a quarter
        data = b"".join(bytes([n]) + piece[n:] + piece[:n] for n in range(16))[:64 << 20]
        archive = self.dir / "large.pak"
        archive.write_bytes(build(3, [Entry("large.bin", data, compressed=True)]))
        mount_point, process, log = self.mount(source=["--archive", archive])
        with open(mount_point / "large.bin", "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(), hashlib.sha256(data).digest())
            os.posix_fadvise(f.fileno(), 0, 0, os.POSIX_FADV_DONTNEED)
            for _ in range(60):
                start = rng.randrange(len(data) - 65536)
                self.assertEqual(os.pread(f.fileno(), 65536, start), data[start:start + 65536])
        peak = pathlib.Path(f"/proc/{process.pid}/status").read_text().split("VmHWM:")[1]
        self.assertLessEqual(int(peak.split()[0]), 64 << 10, "KiB at the peak")
        self.unmount(mount_point, process, log, "fusermount3")


class CorruptEntries(MountCase):
    """Each corrupt entry fails its readers with EIO and is told once; the rest stays
    readable, and SIGTERM unmounts."""

    def test_corrupt_entries_fail_alone(self):
        good = bytes(range(256)) * 40
        entries = [
            Entry("good.bin", good, compressed=True),
            Entry("garbage.bin", bytes(1000), compressed=True, stream=b"not a zlib stream"),
            Entry("short.bin", bytes(500), compressed=True, unpacked=1000),
            Entry("long.bin", bytes(2000), compressed=True, unpacked=1000),
            Entry("outside.bin", b"plain", offset=10 ** 6),
            Entry("plain.txt", b"still here"),
        ]
        archive = self.dir / "corrupt.pak"
        archive.write_bytes(build(3, entries))
        mount_point, process, log = self.mount(source=["--archive", archive])
        for name in ("garbage.bin", "short.bin", "long.bin", "outside.bin"):
            for _ in range(2):  # the second read fails too, and is not told again
                with self.assertRaises(OSError, msg=name) as failed:
                    (mount_point / name).read_bytes()
                self.assertEqual(failed.exception.errno, errno.EIO, name)
        self.assertEqual((mount_point / "good.bin").read_bytes(), good)
        self.assertEqual((mount_point / "plain.txt").read_bytes(), b"still here")
        told = self.unmount(mount_point, process, log, signal.SIGTERM).splitlines()
        self.assertEqual(len(told), 4, told)
        for line, says in zip(sorted(told), ["do not inflate", "inflates to more than",
                                             "runs past the end", "not its declared"]):
            self.assertTrue(line.startswith("pak: ") and says in line, told)


class MemoryRunningOut(MountCase):
    """Each allocation that the first read of a file takes from the heap fails in turn: the
    request fails with ENOMEM and one line on standard error, the file then reads whole, and the
    mount stays up. Through the cache of inflated entries, and with no cache through the open
    file's own stream."""

    def test_each_allocation_of_a_read_fails_alone(self):
        files = [b"".join(b"file %d, line %d\n" % (i, n * n) for n in range(20000))
                 for i in range(16)]
        archive = self.dir / "a.pak"
        archive.write_bytes(build(3, [Entry(f"f{i}", data, compressed=True)
                                      for i, data in enumerate(files)]))
        for cache in ([], ["--cache-mb", "0"]):
            with self.subTest(cache=cache):
                mount_point, process, log = self.mount(*cache, source=["--archive", archive],
                                                       program=FAILING_HEAP)

                def heap(text):
                    self.order(process, log, text)

                for i, data in enumerate(files):  # names and sizes known before the heap fails
                    self.assertEqual(os.stat(mount_point / f"f{i}").st_size, len(data))
                failed = []
                # A fresh file each time, so that nothing comes from the system's cache.
                for fail, data in enumerate(files):
                    path, step, head = mount_point / f"f{fail}", "open", None
                    heap(f"fail {fail}")
                    try:
                        fd = os.open(path, os.O_RDONLY)
                        try:
                            step = "read"
                            head = os.read(fd, 65536)
                        finally:
                            os.close(fd)
                    except OSError as error:
                        failed.append((step, errno.errorcode[error.errno]))
                    finally:
                        heap("heal")
                    self.assertEqual(path.read_bytes(), data)
                    if head is not None:
                        self.assertEqual(head, data[:65536])
                        break
                else:
                    self.fail(f"no read succeeded: {failed}")
                # The open file failed, and more than the answer's block of the read.
                self.assertEqual({error for _, error in failed}, {"ENOMEM"}, failed)
                self.assertIn(("open", "ENOMEM"), failed)
                self.assertGreaterEqual(failed.count(("read", "ENOMEM")), 4, failed)
                told = self.unmount(mount_point, process, log, "fusermount3").splitlines()
                self.assertGreaterEqual(len(told), len(failed))
                for line in told:
                    self.assertEqual(line, "pak: not enough memory: the request fails with "
                                           "ENOMEM, the mount goes on")


def game_files(game):
    """{relative path: bytes} of every file below game, archives included."""
    return {p.relative_to(game).as_posix(): p.read_bytes()
            for p in sorted(game.rglob("*")) if p.is_file()}


class LiveView(MountCase):
    """What changes in the game directory while it is mounted is seen through the mount, by the
    game's rule, and a file open at that moment keeps reading what it opened."""

    def test_changes_in_the_game_directory_are_seen(self):
        game = self.dir / "game"
        game.mkdir()
        old = b"".join(b"old line %d\n" % i for i in range(40000))
        (game / "a.pak").write_bytes(build(3, [Entry("x.txt", old, compressed=True),
                                               Entry("hidden.txt", b"entry", compressed=True)]))
        (game / "hidden.txt").write_bytes(b"loose")
        (game / "loose.txt").write_bytes(b"first")
        mount_point, process, log = self.mount("--dir", game, source=[])
        held = open(mount_point / "x.txt", "rb")
        self.addCleanup(held.close)
        head = held.read(1000)
        self.assertEqual((mount_point / "loose.txt").read_bytes(), b"first")  # kept by the kernel
        self.assertFalse((mount_point / "later.txt").exists())  # a negative answer, kept too
        new = b"".join(b"new line %d\n" % i for i in range(40000))
        replaced = self.dir / "a.pak.new"
        replaced.write_bytes(build(3, [Entry("x.txt", new, compressed=True),
                                       Entry("hidden.txt", b"entry", compressed=True),
                                       Entry("later.txt", b"from the archive")]))
        # (what is changed, the file looked at through the mount, what it then holds)
        for change, path, expected in [
                (lambda: (game / "loose.txt").write_bytes(b"second"), "loose.txt", b"second"),
                (lambda: (game / "added.txt").write_bytes(b"added"), "added.txt", b"added"),
                (lambda: (game / "hidden.txt").unlink(), "hidden.txt", b"entry"),
                (lambda: os.replace(replaced, game / "a.pak"), "x.txt", new),
                (lambda: (game / "later.txt").write_bytes(b"loose again"), "later.txt",
                 b"loose again"),
                (lambda: (game / "later.txt").unlink(), "later.txt", b"from the archive"),
                (lambda: (game / "a.pak").write_bytes(build(4, [Entry("x.txt", b"rewritten")])),
                 "x.txt", b"rewritten"),
                (lambda: (game / "a.pak").unlink(), "x.txt", None)]:
            with self.subTest(path=path, expected=expected):
                change()

                def shown():
                    try:
                        return (mount_point / path).read_bytes() == expected
                    except FileNotFoundError:
                        return expected is None
                wait_for(shown, what=f"{path} to show the change")
        # The file opened before the archive was replaced reads the archive it opened.
        self.assertEqual(head + held.read(), old)
        held.close()
        self.assertEqual(sorted(os.listdir(mount_point)), ["added.txt", "loose.txt"])
        self.unmount(mount_point, process, log, "fusermount3")


class WritableMount(MountCase):
    """--writable: edits become loose files that the game then reads, and what the game could
    not do is refused and leaves nothing."""

    def game(self):
        game = self.dir / "game"
        (game / "sub").mkdir(parents=True)
        self.big = bytes(random.Random(5).getrandbits(8) for _ in range(1 << 16)) * 40
        self.entries = {"x.txt": b"archive x", "dir\\y.txt": b"archive y",
                        "表\\ソ.txt": b"hyou so", "big.bin": self.big}
        (game / "a.pak").write_bytes(build(3, [Entry(n, d, compressed=True)
                                               for n, d in self.entries.items()]))
        (game / "sub" / "loose.txt").write_bytes(b"loose")
        return game

    def cat(self, game, name):
        done = subprocess.run(command("cat", "--dir", game, name), capture_output=True,
                              env=environment(), timeout=30)
        return done.stdout if done.returncode == 0 else done.returncode

    def test_edits_are_loose_files_the_game_reads(self):
        game = self.game()
        archive = (game / "a.pak").read_bytes()
        mount_point, process, log = self.mount("--dir", game, "--writable", source=[])
        with open(mount_point / "x.txt", "r+b") as f:  # copied up, then written in place
            f.seek(8)
            f.write(b"X!")
            f.flush()
            os.fsync(f.fileno())
        (mount_point / "表" / "ソ.txt").write_bytes(b"edited so")
        os.truncate(mount_point / "dir" / "y.txt", 3)
        (mount_point / "new" / "deep").mkdir(parents=True)
        (mount_point / "new" / "deep" / "made.txt").write_bytes(b"made")
        (mount_point / "new" / "gone").mkdir()
        (mount_point / "new" / "gone").rmdir()
        os.rename(mount_point / "sub" / "loose.txt", mount_point / "sub" / "moved.txt")
        with open(mount_point / "sub" / "moved.txt", "ab") as f:
            f.write(b" and more")
        self.assertEqual((mount_point / "x.txt").read_bytes(), b"archive X!")
        self.assertEqual(os.stat(mount_point / "dir" / "y.txt").st_size, 3)
        self.assertFalse((mount_point / "sub" / "loose.txt").exists())
        # Deleting a loose file that hides an entry shows the entry again, at once.
        (mount_point / "dir" / "y.txt").unlink()
        self.assertEqual((mount_point / "dir" / "y.txt").read_bytes(), b"archive y")
        self.unmount(mount_point, process, log, "fusermount3")

        self.assertEqual((game / "a.pak").read_bytes(), archive)  # never written
        on_disk = game_files(game)
        del on_disk["a.pak"]
        self.assertEqual(on_disk, {"x.txt": b"archive X!", "表/ソ.txt": b"edited so",
                                   "new/deep/made.txt": b"made",
                                   "sub/moved.txt": b"loose and more"})
        for name, expected in [("x.txt", b"archive X!"), ("表\\ソ.txt", b"edited so"),
                               ("dir\\y.txt", b"archive y"), ("new\\deep\\made.txt", b"made"),
                               ("sub\\moved.txt", b"loose and more")]:
            self.assertEqual(self.cat(game, name), expected, name)

    def test_refused_changes_leave_nothing(self):
        game = self.game()
        before = game_files(game)
        mount_point, process, log = self.mount("--dir", game, "--writable", source=[])
        m = mount_point
        for what, change, error in [
                ("remove an entry", lambda: (m / "dir" / "y.txt").unlink(), errno.EPERM),
                ("rename an entry", lambda: os.rename(m / "x.txt", m / "z.txt"), errno.EPERM),
                ("rename a directory", lambda: os.rename(m / "sub", m / "bus"), errno.EPERM),
                ("create without Shift-JIS", lambda: open(m / "a—b.txt", "wb"), errno.EINVAL),
                ("rename to no Shift-JIS",
                 lambda: os.rename(m / "sub" / "loose.txt", m / "sub" / "€.txt"), errno.EINVAL),
                ("make a directory without Shift-JIS", lambda: os.mkdir(m / "¢"), errno.EINVAL),
                ("remove a directory of entries", lambda: os.rmdir(m / "dir"), errno.ENOTEMPTY)]:
            with self.subTest(what):
                with self.assertRaises(OSError) as refused:
                    change()
                self.assertEqual(refused.exception.errno, error)
        self.assertEqual(game_files(game), before)
        told = self.unmount(mount_point, process, log, "fusermount3").splitlines()
        self.assertEqual([line.endswith("(EPERM)") for line in told], [True] * 3 + [False] * 3,
                         told)
        self.assertTrue(all(line.startswith("pak: ") for line in told), told)
        self.assertEqual(sum("(EINVAL)" in line for line in told), 3, told)
        # Without --writable, nothing is taken.
        mount_point, process, log = self.mount("--dir", game, source=[])
        for change in (lambda: open(mount_point / "x.txt", "r+b"),
                       lambda: open(mount_point / "new.txt", "wb"),
                       lambda: (mount_point / "sub" / "loose.txt").unlink()):
            with self.assertRaises(OSError) as refused:
                change()
            self.assertEqual(refused.exception.errno, errno.EROFS)
        self.unmount(mount_point, process, log, "fusermount3")
        self.assertEqual(game_files(game), before)

    def test_readers_while_one_writes(self):
        game = self.game()
        mount_point, process, log = self.mount("--dir", game, "--writable", source=[])
        failures, done = [], threading.Event()

        def reader(seed):
            local = random.Random(seed)
            try:
                while not done.is_set():
                    with open(mount_point / "big.bin", "rb") as f:
                        start = local.randrange(len(self.big))
                        f.seek(start)
                        if f.read(100000) != self.big[start:start + 100000]:
                            failures.append(("big.bin", start))
                    text = (mount_point / "x.txt").read_bytes()
                    if len(text) < 9 or text[:7] not in (b"archive", b"written"):
                        failures.append(("x.txt", text[:20]))
            except OSError as error:
                failures.append(error)

        threads = [threading.Thread(target=reader, args=(n,)) for n in range(4)]
        for thread in threads:
            thread.start()
        try:
            for n in range(30):
                with open(mount_point / "x.txt", "r+b") as f:
                    f.write(b"written %4d" % n)
        finally:
            done.set()
            for thread in threads:
                thread.join(timeout=60)
        self.assertEqual(failures, [])
        self.unmount(mount_point, process, log, "fusermount3")
        self.assertEqual(self.cat(game, "x.txt"), b"written   29")

    def test_copy_up_that_fails_leaves_no_file(self):
        game = self.game()
        before = game_files(game)
        mount_point, process, log = self.mount("--dir", game, "--writable", source=[],
                                               program=FAILING_HEAP)
        failed = []
        for allowed in range(10):
            self.order(process, log, f"writes {allowed}")
            try:
                fd = os.open(mount_point / "big.bin", os.O_RDWR)  # the copy-up
            except OSError as error:
                failed.append(errno.errorcode[error.errno])
                self.assertEqual(game_files(game), before)  # no copy, no temporary file
                continue
            finally:
                self.order(process, log, "heal")
            os.write(fd, b"head")
            os.close(fd)
            break
        else:
            self.fail(f"no copy-up succeeded: {failed}")
        # The copy is written in blocks of 1 MiB: each failed in turn.
        self.assertEqual(failed, ["ENOSPC"] * 3, failed)
        self.assertEqual((game / "big.bin").read_bytes(), b"head" + self.big[4:])
        told = self.unmount(mount_point, process, log, "fusermount3").splitlines()
        self.assertEqual(len(told), len(failed), told)
        self.assertTrue(all("cannot be copied" in line for line in told), told)


def main():
    global PAK, FAILING_HEAP, RUNNER
    parser = argparse.ArgumentParser()
    parser.add_argument("--pak", required=True, type=pathlib.Path)
    parser.add_argument("--failing-heap", required=True, type=pathlib.Path)
    parser.add_argument("--runner", action="append", default=[])
    args, rest = parser.parse_known_args()
    PAK, FAILING_HEAP, RUNNER = args.pak, args.failing_heap, args.runner
    reason = why_not()
    if reason:
        print(f"skipped: {reason}")
        sys.exit(SKIP)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
