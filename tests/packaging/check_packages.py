#!/usr/bin/env python3
"""Checks the release packages that scripts/release writes, as a user would receive them.

Usage: check_packages.py DIST --version X.Y.Z

DIST must hold exactly the three packages of version X.Y.Z (beside the mark .zk-release, by
which scripts/release knows the folder for its own):
  - zk-pak_X.Y.Z_ARCH.deb: passes lintian without errors; unpacked into a temporary root it
    holds pak, its man page, its bash completion, README, copyright and changelog, and the
    unpacked pak prints its version;
  - zk-launcher-X.Y.Z-win32.zip: launcher.exe, pak.exe, README.txt and LICENSE.txt and nothing
    else; the programs pass tests/inspect_windows_binaries.py with the version; the texts are
    UTF-8 with a byte order mark (README.txt) and CR LF line ends, as Notepad opens them;
  - zk-pak-X.Y.Z-win64.zip: pak.exe and LICENSE.txt; pak.exe runs under wine64
    (scripts/wine-run) and prints the version.
Every problem is one line; the last line counts them.
"""
import argparse
import pathlib
import subprocess
import sys
import tempfile
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[2]


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


class Check:
    def __init__(self):
        self.problems = []

    def expect(self, condition, problem):
        if not condition:
            self.problems.append(problem)
        return condition


def check_deb(deb, version, check):
    lint = run("lintian", "--fail-on", "error", str(deb))
    errors = [line for line in lint.stdout.splitlines() if line.startswith("E:")]
    check.expect(lint.returncode == 0 and not errors,
                 f"{deb.name}: lintian reports errors:\n" + lint.stdout + lint.stderr)
    with tempfile.TemporaryDirectory() as root:
        unpacked = run("dpkg", "-x", str(deb), root)
        if not check.expect(unpacked.returncode == 0, f"{deb.name}: dpkg -x: {unpacked.stderr}"):
            return
        root = pathlib.Path(root)
        for path in ("usr/bin/pak", "usr/share/man/man1/pak.1.gz",
                     "usr/share/bash-completion/completions/pak",
                     "usr/share/doc/zk-pak/README.md", "usr/share/doc/zk-pak/copyright",
                     "usr/share/doc/zk-pak/changelog.gz"):
            check.expect((root / path).is_file(), f"{deb.name}: no /{path}")
        said = run(str(root / "usr/bin/pak"), "--version")
        check.expect(said.stdout == f"pak {version}\n",
                     f"{deb.name}: pak --version says {said.stdout!r} {said.stderr!r}")


def unpack(archive, folder, expected, check):
    """Unpacks the zip into folder; returns the folder of its files, which must be expected."""
    top = archive.name[:-len(".zip")]
    with zipfile.ZipFile(archive) as z:
        names = sorted(n for n in z.namelist() if not n.endswith("/"))
        z.extractall(folder)
    check.expect(names == sorted(f"{top}/{name}" for name in expected),
                 f"{archive.name}: holds {names}, not {sorted(expected)}")
    return pathlib.Path(folder) / top


def check_windows_text(path, check, bom):
    data = path.read_bytes()
    name = f"{path.parent.name}/{path.name}"
    check.expect(data.startswith(b"\xef\xbb\xbf") == bom,
                 f"{name}: " + ("no byte order mark" if bom else "a byte order mark"))
    check.expect(data.count(b"\n") == data.count(b"\r\n") > 0, f"{name}: not CR LF line ends")
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as error:
        check.problems.append(f"{name}: not UTF-8 ({error})")


def check_win32(archive, version, check):
    with tempfile.TemporaryDirectory() as folder:
        files = unpack(archive, folder, ["launcher.exe", "pak.exe", "README.txt", "LICENSE.txt"],
                       check)
        inspected = run(sys.executable, str(ROOT / "tests/inspect_windows_binaries.py"),
                        str(files), "--version", version)
        check.expect(inspected.returncode == 0, f"{archive.name}: {inspected.stdout.strip()}")
        check_windows_text(files / "README.txt", check, bom=True)
        check_windows_text(files / "LICENSE.txt", check, bom=False)
        readme = (files / "README.txt").read_text(encoding="utf-8-sig")
        for needed in (version, "launcher.exe", "pak.exe", "ゲーム", "MIT"):
            check.expect(needed in readme, f"{archive.name}: README.txt does not mention {needed}")


def check_win64(archive, version, check):
    with tempfile.TemporaryDirectory() as folder:
        files = unpack(archive, folder, ["pak.exe", "LICENSE.txt"], check)
        check_windows_text(files / "LICENSE.txt", check, bom=False)
        said = subprocess.run([str(ROOT / "scripts/wine-run"), str(files / "pak.exe"),
                               "--version"], capture_output=True, cwd=folder)
        check.expect(said.stdout == f"pak {version}\r\n".encode(),  # text, as Windows writes it
                     f"{archive.name}: pak.exe --version under wine64 says {said.stdout!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dist")
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    dist, version = pathlib.Path(args.dist), args.version
    arch = run("dpkg", "--print-architecture").stdout.strip()
    expected = {f"zk-pak_{version}_{arch}.deb": check_deb,
                f"zk-launcher-{version}-win32.zip": check_win32,
                f"zk-pak-{version}-win64.zip": check_win64}
    check = Check()
    present = sorted(p.name for p in dist.iterdir() if p.name != ".zk-release") \
        if dist.is_dir() else []
    check.expect(present == sorted(expected), f"{dist}: holds {present}, not {sorted(expected)}")
    for name, checker in expected.items():
        if (dist / name).is_file():
            checker(dist / name, version, check)
    for problem in check.problems:
        print(problem)
    print(f"{len(expected)} packages checked, {len(check.problems)} problems")
    return 1 if check.problems else 0


if __name__ == "__main__":
    sys.exit(main())
