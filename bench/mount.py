#!/usr/bin/env python3
"""How pak mount compares with the archive file systems people use, and with pak's own
commands, measured in one run on this machine.

Against the peers (--only peers): a game tree of 1,201 files and 166 MiB (scripts, pictures,
compressed media, one 48 MiB file of mixed data, made by make_game_tree.py), packed by
pak create and by zip -6, mounted by pak mount, fuse-zip and archivemount. Each mount, fresh,
is timed for: ready (from starting the program to the mount point answering), walk and stat
everything (ls -lR), read all (cat of every file), 400 random 64 KiB reads (after the read
all, the same files and offsets for every program, a file at a time, their bytes checked to be
the same), and
its peak resident memory. The programs take turns, two rounds; the table gives the best time
of the two mounts and the higher peak. Then pak alone: a 1 GiB compressed entry read through
once, its pages dropped from the system's cache (posix_fadvise DONTNEED), and 400 random
64 KiB reads in it, each timed: the mean is the goal (at most 5 ms).

Against pak's own commands (--only own):

  1. Sequential cat of a 64 MiB compressed entry through a fresh mount, against pak cat of the
     same entry: the mount's throughput as a share of pak cat's (the goal: at least 0.8).
  2. ls -R of a mounted archive of 100,000 entries, against pak list of it: the time as a
     multiple of pak list's (the goal: at most 2).
  3. The resident memory of the serving process, at its peak, after both of the above in one
     mount, with a cache of 256 MiB and of 16 MiB (the large entry is streamed either way: the
     cache holds only entries of 1 MiB or less; that cat is timed too): the goal is at most the
     cache bound plus 32 MiB.

Every timing is the best of three, each on a fresh mount, so neither pak's cache nor the
kernel's page cache carries over. Needs /dev/fuse and root or fusermount3; run it when the
machine is quiet (the load average is printed first).

Usage: bench/mount.py [--pak build/native/bin/pak] [--keep DIR] [--only peers|own]
"""
import argparse
import hashlib
import os
import pathlib
import random
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "bench"))
from pak_generator import Entry, build  # noqa: E402
import make_game_tree  # noqa: E402

BIG = 64 << 20
MANY = 100_000


def big_data():
    """64 MiB that deflate packs to about a third: random words from a small vocabulary and
    runs of random bytes, roughly like game scripts and pictures."""
    rng = random.Random(1)
    words = [bytes(rng.getrandbits(8) % 26 + 97 for _ in range(rng.randrange(2, 10)))
             for _ in range(4000)]
    parts, size = [], 0
    while size < BIG:
        if rng.random() < 0.3:
            piece = rng.randbytes(4096)
        else:
            piece = b" ".join(rng.choice(words) for _ in range(700))
        parts.append(piece)
        size += len(piece)
    return b"".join(parts)[:BIG]


def timed(run):
    start = time.perf_counter()
    run()
    return time.perf_counter() - start


class Mount:
    """A program serving a mount in the foreground: pak mount by default, or command (the
    mount point is put last) unmounted by unmount."""

    def __init__(self, pak, work, *options, command=None, unmount="fusermount3"):
        self.point = pathlib.Path(tempfile.mkdtemp(dir=work, prefix="mnt"))
        self.unmount = unmount
        start = time.perf_counter()
        self.process = subprocess.Popen((command or [pak, "mount", "-f", *options]) + [self.point],
                                        stdout=subprocess.DEVNULL)
        end = time.monotonic() + 60
        while not os.path.ismount(self.point):
            if self.process.poll() is not None or time.monotonic() > end:
                raise SystemExit(f"{(command or ['pak mount'])[0]} did not mount")
            time.sleep(0.001)
        self.ready = time.perf_counter() - start

    def memory(self):
        """The process's resident memory now and at its peak, in MiB."""
        status = pathlib.Path(f"/proc/{self.process.pid}/status").read_text()
        values = dict(line.split(":", 1) for line in status.splitlines())
        return tuple(int(values[key].split()[0]) / 1024 for key in ("VmRSS", "VmHWM"))

    def cpu(self):
        """The processor time the process has taken, in seconds."""
        fields = pathlib.Path(f"/proc/{self.process.pid}/stat").read_text().rsplit(")", 1)[1]
        user, system = fields.split()[11:13]
        return (int(user) + int(system)) / os.sysconf("SC_CLK_TCK")

    def close(self):
        subprocess.run([self.unmount, "-u", str(self.point)], check=True)
        if self.process.wait(timeout=60) != 0:
            raise SystemExit("the mount ended with an error")
        self.point.rmdir()


def best(times, run):
    return min(timed(run) for _ in range(times))


PEERS_TREE = 118 << 20  # with the 48 MiB file: 166 MiB
PEERS_FILES = 1200
PEERS_BIG = 48 << 20
RANDOM_READS = 400
PIECE = 64 << 10


def load():
    return f"{os.getloadavg()[0]:.2f}"


def peer_inputs(pak, work):
    """The game tree packed by pak create and by zip -6, made once."""
    packed, zipped = work / "peers.pak", work / "peers.zip"
    if packed.exists() and zipped.exists():
        return packed, zipped
    tree = work / "peers-tree"
    shutil.rmtree(tree, ignore_errors=True)
    make_game_tree.game_tree(tree, PEERS_TREE, count=PEERS_FILES)
    make_game_tree.one_file(tree / "movie" / "opening.dat", PEERS_BIG)
    subprocess.run([pak, "create", "-o", packed, "-C", tree, "."], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["zip", "-6", "-r", "-q", zipped.resolve(), "."], cwd=tree, check=True)
    shutil.rmtree(tree)
    return packed, zipped


def files_of(root):
    """Every file under root: (path relative to it, size), sorted."""
    found = []
    for folder, _, names in os.walk(root):
        for name in names:
            path = pathlib.Path(folder, name)
            found.append((str(path.relative_to(root)), path.stat().st_size))
    return sorted(found)


def random_reads(files, seed=7):
    """RANDOM_READS places (path, offset), a file chosen by its share of the bytes."""
    rng = random.Random(seed)
    chosen = rng.choices(files, weights=[size for _, size in files], k=RANDOM_READS)
    return [(path, rng.randrange(max(1, size - PIECE))) for path, size in chosen]


def read_pieces(root, places, each=None):
    """Reads PIECE bytes at every place, a file at a time (opened, read where the places in it
    say, in their order, and closed), as a program that looks things up in its files does;
    returns their digest. each(seconds) gets the time of every read."""
    digest = hashlib.sha256()
    by_file = {}
    for path, offset in places:
        by_file.setdefault(path, []).append(offset)
    for path, offsets in by_file.items():
        start = time.perf_counter()
        fd = os.open(root / path, os.O_RDONLY)
        try:
            for offset in offsets:
                digest.update(os.pread(fd, PIECE, offset))
                if each:
                    each(time.perf_counter() - start)
                start = time.perf_counter()
        finally:
            os.close(fd)
    return digest.hexdigest()


def peers(pak, work):
    packed, zipped = peer_inputs(pak, work)
    null = subprocess.DEVNULL
    programs = {
        "pak mount": dict(options=("--archive", packed)),
        "fuse-zip": dict(command=["fuse-zip", "-r", "-f", str(zipped)], unmount="fusermount"),
        "archivemount": dict(command=["archivemount", "-f", "-o", "readonly", str(zipped)],
                             unmount="fusermount"),
    }
    results = {name: [] for name in programs}
    digests, shapes = {}, {}
    print(f"peers: load average {load()} at the start")
    for round_ in range(2):
        names = list(programs)
        names = names[round_ % len(names):] + names[:round_ % len(names)]
        for name in names:
            how = programs[name]
            mount = Mount(pak, work, *how.get("options", ()), command=how.get("command"),
                          unmount=how.get("unmount", "fusermount3"))
            try:
                walk = timed(lambda: subprocess.run(["ls", "-lR", mount.point], stdout=null,
                                                    check=True))
                files = files_of(mount.point)
                read_all = timed(lambda: subprocess.run(
                    ["find", mount.point, "-type", "f", "-exec", "cat", "{}", "+"],
                    stdout=null, check=True))
                places = random_reads(files)
                start = time.perf_counter()
                digests.setdefault(name, set()).add(read_pieces(mount.point, places))
                reads = time.perf_counter() - start
                peak = mount.memory()[1]
            finally:
                mount.close()
            shapes.setdefault(name, set()).add((len(files), sum(size for _, size in files)))
            results[name].append((mount.ready, walk, read_all, reads, peak))
            print(f"  {name}: ready {mount.ready:.3f} s, walk {walk:.3f} s, read all "
                  f"{read_all:.3f} s, random reads {reads:.3f} s, peak {peak:.1f} MiB")
    if len({frozenset(d) for d in digests.values()}) != 1 or any(len(d) != 1 for d in
                                                                  digests.values()):
        raise SystemExit(f"the random reads gave different bytes: {digests}")
    if len({frozenset(s) for s in shapes.values()}) != 1:
        raise SystemExit(f"the mounts showed different trees: {shapes}")
    count, size = next(iter(shapes["pak mount"]))
    print(f"peers: load average {load()} at the end; {count} files, {size / (1 << 20):.0f} MiB")
    print()
    print("| | ready | walk + stat all | read all | 400 random 64 KiB reads | "
          "peak resident memory |")
    print("|---|---|---|---|---|---|")
    for name, runs in results.items():
        best = [min(run[i] for run in runs) for i in range(4)]
        peak = max(run[4] for run in runs)
        print(f"| {name} | " + " | ".join(f"{t:.3f} s" for t in best) + f" | {peak:.0f} MiB |")


def large_entry(pak, work):
    """Random reads inside a 1 GiB compressed entry, after it was read through once."""
    packed = work / "large.pak"
    if not packed.exists():
        tree = work / "large-tree"
        tree.mkdir(parents=True, exist_ok=True)
        piece = big_data()
        with open(tree / "large.bin", "wb") as out:
            for _ in range(16):  # 64 MiB apart: deflate finds nothing to refer back to
                out.write(piece)
        subprocess.run([pak, "create", "-o", packed, "-C", tree, "."], check=True,
                       stdout=subprocess.DEVNULL)
        shutil.rmtree(tree)
    mount = Mount(pak, work, "--archive", packed)
    try:
        entry = mount.point / "large.bin"
        first = timed(lambda: subprocess.run(["cat", entry], stdout=subprocess.DEVNULL,
                                             check=True))
        fd = os.open(entry, os.O_RDONLY)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(fd)
        times = []
        cpu = mount.cpu()
        read_pieces(mount.point, random_reads([("large.bin", 16 * BIG)], seed=11), times.append)
        cpu = mount.cpu() - cpu
        peak = mount.memory()[1]
    finally:
        mount.close()
    print(f"1 GiB compressed entry (load average {load()}): read through once in {first:.2f} s; "
          f"then {RANDOM_READS} random 64 KiB reads, pages dropped first: mean "
          f"{1000 * sum(times) / len(times):.2f} ms, slowest {1000 * max(times):.2f} ms "
          f"(goal: mean at most 5 ms), the mount's processor time "
          f"{1000 * cpu / len(times):.2f} ms a read; peak resident memory {peak:.0f} MiB")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pak", default=str(ROOT / "build/native/bin/pak"))
    parser.add_argument("--keep", type=pathlib.Path, help="make the archives here and keep them")
    parser.add_argument("--only", choices=("peers", "own"))
    args = parser.parse_args()
    pak = args.pak
    work = args.keep or pathlib.Path(tempfile.mkdtemp(prefix="pak-bench-"))
    work.mkdir(parents=True, exist_ok=True)
    print(f"load average: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f}")
    try:
        if args.only != "own":
            peers(pak, work)
            large_entry(pak, work)
        if args.only == "peers":
            return
        game = work / "game"
        game.mkdir(exist_ok=True)
        if not (game / "big.pak").exists():
            (game / "big.pak").write_bytes(build(3, [Entry("big.bin", big_data(), compressed=True)]))
        if not (game / "many.pak").exists():
            tree = work / "tree"
            for d in range(100):
                folder = tree / f"dir{d:03}"
                folder.mkdir(parents=True, exist_ok=True)
                for f in range(MANY // 100):
                    (folder / f"entry{f:04}.txt").write_bytes(b"%d/%d\n" % (d, f))
            subprocess.run([pak, "create", "-o", game / "many.pak", "-C", tree, "."], check=True)
            shutil.rmtree(tree)
        null = subprocess.DEVNULL

        def pak_cat():
            subprocess.run([pak, "cat", "--dir", game, "big.bin"], stdout=null, check=True)

        def mount_cat():
            mount = Mount(pak, work, "--dir", game)
            try:
                mount.seconds = timed(lambda: subprocess.run(
                    ["cat", mount.point / "big.bin"], stdout=null, check=True))
            finally:
                mount.close()
            return mount.seconds

        cat_pak = best(3, pak_cat)
        cat_mount = min(mount_cat() for _ in range(3))
        print(f"cat of the 64 MiB entry: pak cat {cat_pak:.3f} s, through the mount "
              f"{cat_mount:.3f} s; the mount's throughput is {cat_pak / cat_mount:.2f} x "
              "pak cat's (goal: at least 0.8)")

        def pak_list():
            subprocess.run([pak, "list", game / "many.pak"], stdout=null, check=True)

        def mount_ls():
            mount = Mount(pak, work, "--archive", game / "many.pak")
            try:
                return timed(lambda: subprocess.run(["ls", "-R", mount.point], stdout=null,
                                                    check=True))
            finally:
                mount.close()

        list_pak = best(3, pak_list)
        ls_mount = min(mount_ls() for _ in range(3))
        print(f"100,000 entries: pak list {list_pak:.3f} s, ls -R of the mount {ls_mount:.3f} s;"
              f" {ls_mount / list_pak:.2f} x pak list (goal: at most 2)")

        for cache in (256, 16):
            mount = Mount(pak, work, "--dir", game, "--cache-mb", str(cache))
            try:
                seconds = timed(lambda: subprocess.run(["cat", mount.point / "big.bin"],
                                                       stdout=null, check=True))
                subprocess.run(["ls", "-R", mount.point], stdout=null, check=True)
                now, peak = mount.memory()
            finally:
                mount.close()
            print(f"--cache-mb {cache}: the cat took {seconds:.3f} s; "
                  f"resident {now:.1f} MiB after the cat and the ls -R, {peak:.1f} MiB at the "
                  f"peak; the bound is {cache + 32} MiB")
    finally:
        if args.keep is None:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
