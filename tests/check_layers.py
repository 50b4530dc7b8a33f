#!/usr/bin/env python3
"""Fails when a source file reaches past its layer.

The libraries are layers, lowest first: base, platform, text, vfs, settings, archive (reading
and writing archives for the tools), tools/mount (the mount of pak), and on top the programs
launcher, tools/pak and samples, which sit side by side and never include each other. A file
may include headers of its own folder and of the layers below it, by folder ("vfs/x.h"), never
through "..". The build already refuses most upward includes (each library sees only the
folders of what it links); this check also covers what the build cannot see, such as a header
that no file of the wrong layer happens to compile yet.

Only platform/ includes operating system headers, FUSE's among them. The Windows launcher and
the sample engine are Windows programs by nature and their files are listed by name.

Some headers of platform/ are its own: the table of system calls, which only the back ends and
the tests (tests/, fuzz/) may reach, and what the back ends share among themselves.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
LAYERS = {"base": 0, "platform": 1, "text": 2, "vfs": 3, "settings": 4, "archive": 5,
          "tools/mount": 6, "launcher": 7, "tools/pak": 7, "samples": 7}
WINDOWS_PROGRAMS = {"launcher/win_main.cpp", "launcher/directx_probe.cpp",
                    "launcher/directx_probe.h", "launcher/engine_entry.h",
                    "samples/sample_engine.cpp"}
SYSTEM_HEADER = re.compile(
    r'#\s*include\s*<(windows|winbase|winuser|unistd|dirent|fcntl|iconv|io|direct|sys/[\w/]+|fuse\w*)\.h>')
QUOTED = re.compile(r'#\s*include\s*"([^"]+)"')
PLATFORM_OWN = {"platform/system_calls.h", "platform/backend.h", "platform/posix_paths.h",
                "platform/posix_directory_names.h", "platform/wildcard.h"}


def layer_of(path):
    """The layer folder that holds path (a path relative to the root), or None."""
    for folder in sorted(LAYERS, key=len, reverse=True):
        if path == folder or path.startswith(folder + "/"):
            return folder
    return None


problems = []
for folder, level in LAYERS.items():
    for path in sorted((root / folder).rglob("*")):
        if path.suffix not in {".h", ".cpp", ".hpp", ".cc"}:
            continue
        rel = path.relative_to(root).as_posix()
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            where = f"{rel}:{number}: {line.strip()}"
            if folder != "platform" and rel not in WINDOWS_PROGRAMS and SYSTEM_HEADER.search(line):
                problems.append(f"{where}  (operating system header outside platform/)")
            match = QUOTED.search(line)
            if not match:
                continue
            target = match.group(1)
            if ".." in target.split("/"):
                problems.append(f"{where}  (include through '..')")
                continue
            if target in PLATFORM_OWN and folder != "platform":
                problems.append(f"{where}  ({target} is for platform/ and the tests only)")
                continue
            top = layer_of(target)
            if top is None:
                continue  # a generated header of the build, such as fixture_dir.h
            if LAYERS[top] > level or (LAYERS[top] == level and top != folder):
                problems.append(f"{where}  ({folder}/ may not include {top}/)")
if problems:
    print("includes against the layers (base → platform → text → vfs → settings → archive → "
          "tools/mount → programs):")
    print("\n".join(problems))
    sys.exit(1)
print("every include points down a layer or stays in its folder")
