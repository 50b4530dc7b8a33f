#!/usr/bin/env python3
"""Inspects the 32-bit Windows build, which this machine cannot run.

Usage: inspect_windows_binaries.py FOLDER [--version X.Y.Z]

Every .exe and .dll in the folder must be a PE32 image for i386 whose imports are system DLLs
only (the C and C++ runtimes and zlib are linked in). launcher.exe must also be a GUI program
carrying group icon 200 in Japanese and a version-information resource. With --version (the
programs as they ship), every .exe must carry version information that gives that version, in
its numbers and its texts. Uses objdump from mingw-w64's binutils and reads the resource
directory itself.
"""
import argparse
import pathlib
import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll",
               "shell32.dll", "ole32.dll", "comctl32.dll", "ws2_32.dll"}
RT_VERSION, RT_GROUP_ICON = 16, 14
LANG_JAPANESE = 0x411


def resources(image):
    """{(type, id, language): the resource's bytes} of the PE image (bytes)."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(sections):
        name, _, va, raw_size, raw = struct.unpack_from("<8sIIII", image, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            base = raw
            break
    else:
        return {}

    def entries(offset):
        named, ids = struct.unpack_from("<HH", image, base + offset + 12)
        for k in range(named + ids):
            key, target = struct.unpack_from("<II", image, base + offset + 16 + 8 * k)
            yield key, target & 0x7FFFFFFF

    found = {}
    for rtype, level2 in entries(0):
        for rid, level3 in entries(level2):
            for lang, leaf in entries(level3):
                rva, size = struct.unpack_from("<II", image, base + leaf)
                found[(rtype, rid, lang)] = image[rva - va + raw:rva - va + raw + size]
    return found


def version_of(block):
    """From a version resource: (file version, product version) as "a.b.c.d" from its fixed part,
    and its texts {key: value}."""
    start = block.find(struct.pack("<I", 0xFEEF04BD))
    if start < 0:
        return None, None, {}
    numbers = struct.unpack_from("<4I", block, start + 8)
    dotted = [f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
              for ms, ls in (numbers[:2], numbers[2:])]
    texts = {}
    for key in ("FileVersion", "ProductVersion"):
        at = block.find((key + "\0").encode("utf-16-le"))
        if at < 0:
            continue
        at += 2 * (len(key) + 1)
        at += -at % 4  # values are aligned to 32 bits
        end = at
        while block[end:end + 2] not in (b"\0\0", b""):
            end += 2
        texts[key] = block[at:end].decode("utf-16-le")
    return dotted[0], dotted[1], texts


def objdump(binary):
    """objdump's private headers of binary, or "" when it cannot read them."""
    run = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(binary)],
                         capture_output=True, text=True)
    return run.stdout if run.returncode == 0 else ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--version", help="the version every program must carry")
    args = parser.parse_args()
    folder = pathlib.Path(args.folder)
    binaries = sorted(p for p in folder.iterdir() if p.suffix.lower() in {".exe", ".dll"})
    if not binaries:
        print(f"no Windows binaries in {folder}")
        return 1
    problems = []
    for binary in binaries:
        dump = objdump(binary)
        if "file format pei-i386" not in dump:
            problems.append(f"{binary.name}: not a PE32 image for i386")
        if not re.search(r"^Magic\s+010b\s", dump, re.M):
            problems.append(f"{binary.name}: optional header is not PE32")
        for dll in re.findall(r"DLL Name: (\S+)", dump):
            if dll.lower() not in SYSTEM_DLLS:
                problems.append(f"{binary.name}: imports {dll}, which is not a system DLL")
        if args.version and binary.suffix.lower() == ".exe":
            blocks = [data for (t, _, _), data in resources(binary.read_bytes()).items()
                      if t == RT_VERSION]
            found = version_of(blocks[0]) if blocks else (None, None, {})
            wanted = (args.version + ".0", args.version + ".0",
                      {"FileVersion": args.version, "ProductVersion": args.version})
            if found != wanted:
                problems.append(f"{binary.name}: version information {found}, not {wanted}")
    launcher = folder / "launcher.exe"
    if not launcher.exists():
        problems.append("launcher.exe was not built")
    else:
        dump = objdump(launcher)
        if not re.search(r"^Subsystem\s+00000002", dump, re.M):
            problems.append("launcher.exe: not a Windows GUI program")
        found = resources(launcher.read_bytes())
        if (RT_GROUP_ICON, 200, LANG_JAPANESE) not in found:
            problems.append("launcher.exe: no group icon 200 in Japanese")
        if not any(t == RT_VERSION for t, _, _ in found):
            problems.append("launcher.exe: no version information")
    for problem in problems:
        print(problem)
    print(f"{len(binaries)} binaries inspected, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
