#!/usr/bin/env python3
"""pak against the tools people would use instead, side by side on the same machine.

Each case runs its commands once to warm up (the page cache, Wine's server), then several times
interleaved (run 1 of every command, then run 2, ...; each round starting with another
command), so that a change in the machine's load hits them all alike. Each run is timed as a
whole process, and /usr/bin/time gives its peak resident memory. The table shows the medians
and each command's ratio to the case's first command (pak): above 1, the command takes longer
than pak.

Commands that write files write them into a fresh directory per run, removed when the case is
done: a directory emptied right before a run would make the file system slow to create files
for whoever comes next (ext4 passes over recently freed inodes).

The inputs are made once in the work directory and kept for later runs: the game tree of
make_game_tree.py, one large file, many small files, and the archives of each tool.

Usage: run_bench.py [--pak PROGRAM] [--baseline PROGRAM] [--size MIB] [--large MIB]
                    [--runs N] [--work DIR] [--cases NAME,...] [--wine PROGRAM.exe]
                    [--wine-baseline PROGRAM.exe]
  --baseline        another pak (an older build) to run beside pak in every case
  --wine            the Windows build, for the wine case (run by scripts/wine-run)
Cases: create, extract, verify, create-large, extract-large, verify-large, list, lookup, wine.
The peers come from Debian: zip unzip libarchive-tools pigz libdeflate-tools (scripts/setup
--bench installs them); the lookup case compiles bare_lookup.c with cc and zlib.
"""
import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
TIME = "/usr/bin/time"
ALL_CASES = ("create", "extract", "verify", "create-large", "extract-large", "verify-large",
             "list", "lookup", "wine")


class Command:
    """One command of a case. argv may hold the placeholder FRESH, which each run replaces by
    a new directory below fresh."""

    def __init__(self, label, argv, cwd=None, fresh=None, stdout=None, output=None,
                 remove_after=False):
        self.label, self.argv, self.cwd = label, argv, cwd
        self.fresh = fresh      # where the per-run directories go
        self.remove_after = remove_after  # each run's directory goes right after it
        self.stdout = stdout    # a file for standard output (may hold FRESH); /dev/null if None
        self.output = output    # the file made (may hold FRESH), whose size is shown
        self.seconds, self.kib, self.sizes = [], [], []
        self.count = 0

    def run(self, timed=True):
        self.count += 1
        place = None
        if self.fresh is not None:
            place = self.fresh / f"{id(self)}-{self.count}"
            place.mkdir(parents=True)

        def at(item):
            return str(item).replace("FRESH", str(place)) if place is not None else str(item)

        argv = [at(a) for a in self.argv]
        report = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / f"bench-time-{os.getpid()}"
        stdout = at(self.stdout) if self.stdout is not None else os.devnull
        with open(stdout, "wb") as out:
            start = time.perf_counter()
            done = subprocess.run([TIME, "-f", "%M", "-o", str(report)] + argv, cwd=self.cwd,
                                  stdout=out, stderr=subprocess.PIPE)
            seconds = time.perf_counter() - start
        kib = int(report.read_text().split()[-1])
        report.unlink()
        if done.returncode not in (0, 1):  # a missed lookup ends with 1 on purpose
            sys.exit(f"{self.label} failed ({done.returncode}): "
                     f"{done.stderr.decode(errors='replace')[-2000:]}")
        if timed:
            self.seconds.append(seconds)
            self.kib.append(kib)
            if self.output is not None:
                self.sizes.append(pathlib.Path(at(self.output)).stat().st_size)
        if place is not None and self.output is not None:
            # Only the size was wanted: the archive goes at once.
            pathlib.Path(at(self.output)).unlink(missing_ok=True)
        if place is not None and self.remove_after:
            shutil.rmtree(place)


def run_case(title, commands, runs, note=""):
    for command in commands:
        command.run(timed=False)
    for i in range(runs):
        for command in commands[i % len(commands):] + commands[:i % len(commands)]:
            command.run()
    for command in commands:
        if command.fresh is not None:
            shutil.rmtree(command.fresh, ignore_errors=True)
    first = statistics.median(commands[0].seconds)
    print(f"\n### {title}\n")
    if note:
        print(note + "\n")
    print("| command | median s | ratio to pak | peak MiB | output MiB |")
    print("|---|---:|---:|---:|---:|")
    for c in commands:
        median = statistics.median(c.seconds)
        size = f"{statistics.median(c.sizes) / (1 << 20):.1f}" if c.sizes else ""
        print(f"| {c.label} | {median:.3f} | {median / first:.2f} | {max(c.kib) / 1024:.1f} | "
              f"{size} |")
    sys.stdout.flush()


def make(path, build):
    """Makes path with build(path) unless it is there already (inputs are kept)."""
    if path.exists():
        return path
    partial = path.with_name(path.name + ".partial")
    if partial.is_dir():
        shutil.rmtree(partial)
    elif partial.exists():
        partial.unlink()
    build(partial)
    partial.rename(path)
    return path


def check(argv, **kwargs):
    subprocess.run([str(a) for a in argv], check=True, stdout=subprocess.DEVNULL, **kwargs)


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pak", default=str(ROOT / "build/native/bin/pak"))
    parser.add_argument("--baseline")
    parser.add_argument("--size", type=float, default=40, help="MiB of the game tree")
    parser.add_argument("--large", type=float, default=256, help="MiB of the one large file")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--work", default=str(ROOT / "build/bench"))
    parser.add_argument("--cases", default=",".join(c for c in ALL_CASES if c != "wine"))
    parser.add_argument("--wine")
    parser.add_argument("--wine-baseline")
    args = parser.parse_args()
    pak = pathlib.Path(args.pak).resolve()
    baseline = pathlib.Path(args.baseline).resolve() if args.baseline else None
    work = pathlib.Path(args.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    cases = args.cases.split(",")
    unknown = set(cases) - set(ALL_CASES)
    if unknown:
        sys.exit(f"unknown cases: {', '.join(sorted(unknown))}")
    generator = [sys.executable, HERE / "make_game_tree.py"]
    runs_dir = work / "runs"

    def paks(label, *arguments, **options):
        """pak, and the baseline after it when there is one."""
        made = [Command(label, [pak, *arguments], **options)]
        if baseline:
            made.append(Command(label + " (baseline)", [baseline, *arguments], **options))
        return made

    print(f"machine: {os.cpu_count()} processors, Linux {os.uname().release}; "
          f"load average at start {load()}")

    size_tag = f"{args.size:g}"
    tree = make(work / f"tree-{size_tag}", lambda p: check(generator + [p, "--size", args.size]))
    files = sum(1 for p in tree.rglob("*") if p.is_file())
    volume = sum(p.stat().st_size for p in tree.rglob("*") if p.is_file()) / (1 << 20)
    print(f"game tree: {files} files, {volume:.0f} MiB")
    game_pak = make(work / f"game-{size_tag}.pak",
                    lambda p: check([pak, "create", "-o", p, "-C", tree, "."]))
    game_zip = make(work / f"game-{size_tag}.zip",
                    lambda p: check(["zip", "-q", "-r", "-6", p, "."], cwd=tree))
    game_tgz = make(work / f"game-{size_tag}.tar.gz",
                    lambda p: check(["tar", "-I", "pigz", "-cf", p, "-C", tree, "."]))

    if "create" in cases:
        fresh = runs_dir / "create"
        run_case(f"create: the game tree ({files} files, {volume:.0f} MiB)", [
            *paks("pak create", "create", "-o", "FRESH/a.pak", "-C", tree, ".", fresh=fresh,
                  output="FRESH/a.pak"),
            Command("zip -r -6", ["zip", "-q", "-r", "-6", "FRESH/a.zip", "."], cwd=tree,
                    fresh=fresh, output="FRESH/a.zip"),
            Command("tar -czf (gzip -6)", ["tar", "-czf", "FRESH/a.tgz", "-C", tree, "."],
                    fresh=fresh, output="FRESH/a.tgz"),
            Command("tar -I pigz (-6)", ["tar", "-I", "pigz", "-cf", "FRESH/a.tgz", "-C", tree,
                                         "."], fresh=fresh, output="FRESH/a.tgz"),
            Command("tar -I 'libdeflate-gzip -6'",
                    ["tar", "-I", "libdeflate-gzip -6", "-cf", "FRESH/a.tgz", "-C", tree, "."],
                    fresh=fresh, output="FRESH/a.tgz"),
        ], args.runs)

    if "extract" in cases:
        fresh = runs_dir / "extract"
        run_case(f"extract: the game tree ({files} files)", [
            *paks("pak extract", "extract", "-C", "FRESH", game_pak, fresh=fresh),
            Command("bsdtar -xf (zip)", ["bsdtar", "-xf", game_zip, "-C", "FRESH"], fresh=fresh),
            Command("unzip -q", ["unzip", "-q", game_zip, "-d", "FRESH"], fresh=fresh),
            Command("tar -xzf", ["tar", "-xzf", game_tgz, "-C", "FRESH"], fresh=fresh),
        ], args.runs)

    if "verify" in cases:
        run_case(f"verify: the game tree ({files} entries)", [
            *paks("pak verify", "verify", game_pak),
            Command("bsdtar -xOf (zip) > /dev/null", ["bsdtar", "-xOf", game_zip]),
            Command("unzip -tq", ["unzip", "-tq", game_zip]),
            Command("gzip -t (tar.gz)", ["gzip", "-t", game_tgz]),
        ], args.runs)

    if any(c.endswith("-large") for c in cases):
        large_tag = f"{args.large:g}"
        large_dir = make(work / f"large-{large_tag}", lambda p: check(
            generator + [p / "large.bin", "--one-file", args.large]))
        large = large_dir / "large.bin"
        large_pak = make(work / f"large-{large_tag}.pak", lambda p: check(
            [pak, "create", "-o", p, "-C", large_dir, "large.bin"]))
        large_zip = make(work / f"large-{large_tag}.zip", lambda p: check(
            ["zip", "-q", "-6", p, "large.bin"], cwd=large_dir))
        large_gz = make(work / f"large-{large_tag}.gz", lambda p: check(
            ["sh", "-c", f"pigz -6 -c '{large}' > '{p}'"]))
        title = f"one entry of {args.large:g} MiB"
        if "create-large" in cases:
            fresh = runs_dir / "create-large"
            run_case(f"create: {title}", [
                *paks("pak create", "create", "-o", "FRESH/a.pak", "-C", large_dir, "large.bin",
                      fresh=fresh, output="FRESH/a.pak"),
                Command("zip -6", ["zip", "-q", "-6", "FRESH/a.zip", "large.bin"], cwd=large_dir,
                        fresh=fresh, output="FRESH/a.zip"),
                Command("pigz -6 -c", ["pigz", "-6", "-c", large], fresh=fresh,
                        stdout="FRESH/a.gz", output="FRESH/a.gz"),
                Command("gzip -6 -c", ["gzip", "-6", "-c", large], fresh=fresh,
                        stdout="FRESH/a.gz", output="FRESH/a.gz"),
            ], args.runs)
        if "extract-large" in cases:
            fresh = runs_dir / "extract-large"
            run_case(f"extract: {title}", [
                *paks("pak extract", "extract", "-C", "FRESH", large_pak, fresh=fresh,
                      remove_after=True),
                Command("unzip -q", ["unzip", "-q", large_zip, "-d", "FRESH"], fresh=fresh,
                        remove_after=True),
                Command("bsdtar -xf (zip)", ["bsdtar", "-xf", large_zip, "-C", "FRESH"],
                        fresh=fresh, remove_after=True),
                Command("gzip -dc > file", ["gzip", "-dc", large_gz], fresh=fresh,
                        stdout="FRESH/large.bin", remove_after=True),
            ], args.runs)
        if "verify-large" in cases:
            run_case(f"verify: {title}", [
                *paks("pak verify", "verify", large_pak),
                Command("bsdtar -xOf (zip) > /dev/null", ["bsdtar", "-xOf", large_zip]),
                Command("unzip -tq", ["unzip", "-tq", large_zip]),
                Command("gzip -t", ["gzip", "-t", large_gz]),
            ], args.runs)

    if "list" in cases or "wine" in cases:
        tiny = make(work / "tiny-100000", lambda p: check(generator + [p, "--tiny-files",
                                                                        "100000"]))
        many = make(work / "many-100000.pak", lambda p: check(
            [pak, "create", "--store", "-o", p, "-C", tiny, "."]))
        many_zip = make(work / "many-100000.zip", lambda p: check(
            ["zip", "-q", "-r", "-0", p, "."], cwd=tiny))
    if "list" in cases:
        run_case("list: 100,000 entries, to /dev/null", [
            *paks("pak list", "list", many),
            Command("unzip -l", ["unzip", "-l", many_zip]),
            Command("bsdtar -tvf (zip)", ["bsdtar", "-tvf", many_zip]),
        ], args.runs)

    if "lookup" in cases:
        names = make(work / "tiny-40000", lambda p: check(generator + [p, "--tiny-files",
                                                                        "40000"]))
        folders = {}
        for version in (0, 3):
            folders[version] = make(work / f"lookup-v{version}", lambda p, v=version: (
                p.mkdir(), check([pak, "create", "--format", v, "-o", p / "data.pak", "-C",
                                  names, "."])))
        bare = make(work / "bare_lookup", lambda p: check(
            ["cc", "-O2", "-o", p, HERE / "bare_lookup.c", "-lz"]))
        missing = "no-such-entry.txt"
        commands = []
        for version in (3, 0):
            commands += paks(f"pak cat, version {version}", "cat", "--dir", folders[version],
                             missing)
        commands.append(Command("bare zlib inflate and scan, version 3",
                                [bare, folders[3] / "data.pak", missing]))
        run_case("lookup: a name that no entry has, 40,000 entries, whole process",
                 commands, max(args.runs, 21),
                 "pak cat makes the game's own lookup (a loose file first, then the archives of "
                 "the directory); the bare lookup only inflates the directory and compares.")

    if "wine" in cases:
        if not args.wine:
            sys.exit("the wine case needs --wine PROGRAM.exe")
        wine_run = str(ROOT / "scripts/wine-run")

        def windows(path):
            return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")

        exes = [("pak.exe", args.wine)]
        if args.wine_baseline:
            exes.append(("pak.exe (baseline)", args.wine_baseline))
        listing = runs_dir / "wine" / "listing.txt"
        listing.parent.mkdir(parents=True, exist_ok=True)
        commands = [Command("pak list (Linux), to a file", [pak, "list", many], stdout=listing)]
        for label, exe in exes:
            commands += [
                Command(f"{label} --version (Wine's start-up)", [wine_run, exe, "--version"]),
                Command(f"{label} list, to a file", [wine_run, exe, "list", windows(many)],
                        stdout=listing),
                Command(f"{label} list, to a pipe", ["sh", "-c", f"'{wine_run}' '{exe}' list "
                                                     f"'{windows(many)}' | cat > /dev/null"]),
                Command(f"{label} list > NUL (cmd /c)",
                        [wine_run, "cmd", "/c", f"{windows(exe)} list {windows(many)} > NUL"]),
            ]
        run_case("list under wine64: 100,000 entries", commands, args.runs,
                 "Wine's server is kept running between runs, as it is when one command follows "
                 "another.")
        commands = []
        for label, exe in exes:
            commands += [
                Command(f"{label} --version > NUL (cmd /c)",
                        [wine_run, "cmd", "/c", f"{windows(exe)} --version > NUL"]),
                Command(f"{label} list > NUL (cmd /c)",
                        [wine_run, "cmd", "/c", f"{windows(exe)} list {windows(game_pak)} > NUL"]),
            ]
        run_case(f"list under wine64: the game tree ({files} entries) > NUL", commands, args.runs)

    print(f"\nload average at end {load()}")


if __name__ == "__main__":
    main()
