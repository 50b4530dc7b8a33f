#!/usr/bin/env python3
"""Inspects the 32-bit Windows build, which this machine cannot run.

Every .exe and .dll in the folder must be a PE32 image for i386 whose imports are system DLLs
only (the C and C++ runtimes and zlib are linked in). Uses objdump from mingw-w64's binutils.
"""
import pathlib
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll",
               "shell32.dll", "ole32.dll", "comctl32.dll", "ws2_32.dll"}

folder = pathlib.Path(sys.argv[1])
binaries = sorted(p for p in folder.iterdir() if p.suffix.lower() in {".exe", ".dll"})
if not binaries:
    print(f"no Windows binaries in {folder}")
    sys.exit(1)
problems = []
for binary in binaries:
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(binary)],
                          capture_output=True, text=True, check=True).stdout
    if "file format pei-i386" not in dump:
        problems.append(f"{binary.name}: not a PE32 image for i386")
    if not re.search(r"^Magic\s+010b\s", dump, re.M):
        problems.append(f"{binary.name}: optional header is not PE32")
    for dll in re.findall(r"DLL Name: (\S+)", dump):
        if dll.lower() not in SYSTEM_DLLS:
            problems.append(f"{binary.name}: imports {dll}, which is not a system DLL")
for problem in problems:
    print(problem)
print(f"{len(binaries)} binaries inspected, {len(problems)} problems")
sys.exit(1 if problems else 0)
