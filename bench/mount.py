#!/usr/bin/env python3
"""How pak mount compares with pak's own commands, measured in one run on this machine.

  1. Sequential cat of a 64 MiB compressed entry through a fresh mount, against pak cat of the
     same entry: the mount's throughput as a share of pak cat's (the goal: at least 0.8).
  2. ls -R of a mounted archive of 100,000 entries, against pak list of it: the time as a
     multiple of pak list's (the goal: at most 2).
  3. The resident memory of the serving process, at its peak, after both of the above in one
     mount, with the default cache (256 MiB) and with a small one (16 MiB, so that the large
     entry is streamed; that cat is timed too): the goal is at most the cache bound plus
     32 MiB.

Every timing is the best of three, each on a fresh mount, so neither pak's cache nor the
kernel's page cache carries over. Needs /dev/fuse and root or fusermount3; run it when the
machine is quiet (the load average is printed first).

Usage: bench/mount.py [--pak build/native/bin/pak] [--keep DIR]
"""
import argparse
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
from pak_generator import Entry, build  # noqa: E402

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
    def __init__(self, pak, work, *options):
        self.point = pathlib.Path(tempfile.mkdtemp(dir=work, prefix="mnt"))
        self.process = subprocess.Popen([pak, "mount", "-f", *options, self.point],
                                        stdout=subprocess.DEVNULL)
        end = time.monotonic() + 60
        while not os.path.ismount(self.point):
            if self.process.poll() is not None or time.monotonic() > end:
                raise SystemExit("pak mount did not mount")
            time.sleep(0.01)

    def memory(self):
        """The process's resident memory now and at its peak, in MiB."""
        status = pathlib.Path(f"/proc/{self.process.pid}/status").read_text()
        values = dict(line.split(":", 1) for line in status.splitlines())
        return tuple(int(values[key].split()[0]) / 1024 for key in ("VmRSS", "VmHWM"))

    def close(self):
        subprocess.run(["fusermount3", "-u", str(self.point)], check=True)
        if self.process.wait(timeout=60) != 0:
            raise SystemExit("pak mount ended with an error")
        self.point.rmdir()


def best(times, run):
    return min(timed(run) for _ in range(times))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pak", default=str(ROOT / "build/native/bin/pak"))
    parser.add_argument("--keep", type=pathlib.Path, help="make the archives here and keep them")
    args = parser.parse_args()
    pak = args.pak
    work = args.keep or pathlib.Path(tempfile.mkdtemp(prefix="pak-bench-"))
    work.mkdir(parents=True, exist_ok=True)
    print(f"load average: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f}")
    try:
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
            print(f"--cache-mb {cache}: the cat took {seconds:.3f} s"
                  f"{' (streamed: the entry is larger than the cache)' if cache < 64 else ''}; "
                  f"resident {now:.1f} MiB after the cat and the ls -R, {peak:.1f} MiB at the "
                  f"peak; the bound is {cache + 32} MiB")
    finally:
        if args.keep is None:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
