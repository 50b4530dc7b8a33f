#!/usr/bin/env python3
"""Checks a DLL's export table by name, after every link of an engine.

    check_exports.py OBJDUMP DLL STAMP [--has NAME]... [--lacks NAME]...

A 32-bit stdcall function gets decorated by the compiler, and a .def file that forgets it still
links, so the names the launcher looks up are checked in the finished file. STAMP is touched
when every check passes.
"""
import argparse
import pathlib
import re
import subprocess
import sys


def exported_names(objdump, dll):
    dump = subprocess.run([objdump, "-p", dll], capture_output=True, text=True, check=True).stdout
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return set()
    names = set()
    for line in table[1].splitlines()[1:]:
        match = re.match(r"\s+\[\s*\d+\]\s+(\S+)\s*$", line)
        if not match:
            break
        names.add(match.group(1))
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("objdump")
    parser.add_argument("dll")
    parser.add_argument("stamp")
    parser.add_argument("--has", action="append", default=[])
    parser.add_argument("--lacks", action="append", default=[])
    args = parser.parse_args()
    names = exported_names(args.objdump, args.dll)
    problems = [f"{args.dll} does not export {n}" for n in args.has if n not in names]
    problems += [f"{args.dll} exports {n}" for n in args.lacks if n in names]
    if problems:
        print("\n".join(problems + [f"exports: {sorted(names)}"]))
        return 1
    pathlib.Path(args.stamp).touch()
    return 0


if __name__ == "__main__":
    sys.exit(main())
