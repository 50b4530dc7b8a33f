#!/usr/bin/env python3
"""Fails when code outside platform/ includes an operating system header.

The portable folders reach the operating system only through platform/platform.h. The Windows
launcher and the Windows helper programs of the tests are Windows programs by nature and are
listed by name.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
portable = ["text", "vfs", "tools", "launcher"]
windows_programs = {"launcher/win_main.cpp", "launcher/directx_probe.cpp", "launcher/directx_probe.h"}
system_header = re.compile(
    r'#\s*include\s*<(windows|winbase|winuser|unistd|dirent|fcntl|iconv|io|direct|sys/[\w/]+)\.h>')

bad = []
for folder in portable:
    for path in sorted((root / folder).rglob("*")):
        if path.suffix not in {".h", ".cpp", ".hpp", ".cc"}:
            continue
        rel = path.relative_to(root).as_posix()
        if rel in windows_programs:
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            if system_header.search(line):
                bad.append(f"{rel}:{number}: {line.strip()}")
if bad:
    print("operating system headers outside platform/:")
    print("\n".join(bad))
    sys.exit(1)
print("platform headers confined to platform/")
