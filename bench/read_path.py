#!/usr/bin/env python3
"""The game's lookup reading an archive, measured against the least it could do, in one run.

  1. pak cat of a 64 MiB compressed entry (the game's lookup: the directory, then the entry's
     stream inflated and written to standard output), against bare_inflate.c, which reads the
     same zlib stream whole, inflates it in one call of zlib and writes it out. The goal: at most
     1.05 times the bare inflate.
  2. pak cat of the last of 100,000 entries of one archive (the lookup inflates the directory
     and walks every record), against the same command of another build (--baseline), and
     against bare_lookup.c. The goal: within 1.15 times the baseline.

Every command writes to /dev/null. The commands of one case run interleaved, round after
round, and each figure is the best of --runs rounds, as wall time and as CPU time (user and
system), which a busy machine disturbs less. The archives are made once in --work.

Usage: bench/read_path.py [--pak build/native/bin/pak] [--baseline OLD/pak] [--runs 7]
"""
import argparse
import json
import os
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "bench"))
from mount import big_data  # noqa: E402
from pak_generator import Entry, build  # noqa: E402

MANY = 100_000


def compile_c(source, work):
    program = work / source.stem
    if not program.exists() or program.stat().st_mtime < source.stat().st_mtime:
        subprocess.run(["cc", "-O2", "-o", program, source, "-lz"], check=True)
    return program


def run(argv):
    """The wall time and the CPU time (user and system) of one run of argv."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise SystemExit(f"{argv[0]} failed ({process.returncode})")
    return wall, usage.ru_utime + usage.ru_stime


def interleaved(commands, runs):
    """The best wall time and the best CPU time of each command, the commands taking turns to
    go first."""
    best = {label: [float("inf"), float("inf")] for label, _ in commands}
    for round_ in range(runs):
        for label, argv in commands[round_ % len(commands):] + commands[:round_ % len(commands)]:
            wall, cpu = run(argv)
            best[label] = [min(best[label][0], wall), min(best[label][1], cpu)]
    return best


def table(title, best, reference):
    print(f"\n{title}\n\n| command | best wall s | ratio | best CPU s | ratio |\n"
          "|---|---:|---:|---:|---:|")
    wall, cpu = best[reference]
    for label, (seconds, used) in best.items():
        print(f"| {label} | {seconds:.4f} | {seconds / wall:.3f} | {used:.4f} | {used / cpu:.3f} |")
    print(f"\n(ratios to {reference})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pak", default=str(ROOT / "build/native/bin/pak"))
    parser.add_argument("--baseline")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--work", type=pathlib.Path, default=ROOT / "build/bench/read_path")
    args = parser.parse_args()
    work = args.work
    (work / "big").mkdir(parents=True, exist_ok=True)
    (work / "many").mkdir(parents=True, exist_ok=True)
    big, many = work / "big" / "big.pak", work / "many" / "many.pak"
    if not big.exists():
        big.write_bytes(build(3, [Entry("big.bin", big_data(), compressed=True)]))
    if not many.exists():
        entries = [Entry(f"dir{i // 1000:03}\\entry{i % 1000:04}.txt", b"%d\n" % i,
                         compressed=True) for i in range(MANY)]
        many.write_bytes(build(3, entries))
    bare_inflate = compile_c(ROOT / "bench" / "bare_inflate.c", work)
    bare_lookup = compile_c(ROOT / "bench" / "bare_lookup.c", work)
    listed = json.loads(subprocess.run([args.pak, "list", "--json", big], check=True,
                                       capture_output=True).stdout)[0]
    last = f"dir{(MANY - 1) // 1000:03}\\entry{(MANY - 1) % 1000:04}.txt"
    print(f"load average: {os.getloadavg()[0]:.2f} {os.getloadavg()[1]:.2f}")

    paks = [("pak", args.pak)] + ([("pak (baseline)", args.baseline)] if args.baseline else [])
    cat = [(f"{label} cat, 64 MiB entry", [pak, "cat", "--dir", big.parent, "big.bin"])
           for label, pak in paks]
    cat.append(("bare zlib inflate (bare_inflate.c)",
                [bare_inflate, big, str(listed["offset"]), str(listed["packed"]),
                 str(listed["size"])]))
    table("pak cat of one 64 MiB compressed entry", interleaved(cat, args.runs), cat[-1][0])

    lookup = [(f"{label} cat, last of {MANY:,} entries", [pak, "cat", "--dir", many.parent, last])
              for label, pak in paks]
    lookup.append(("bare lookup (bare_lookup.c)", [bare_lookup, many, last]))
    table(f"the lookup of one entry among {MANY:,}", interleaved(lookup, args.runs),
          lookup[1][0] if args.baseline else lookup[-1][0])


if __name__ == "__main__":
    main()
