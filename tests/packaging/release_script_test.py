#!/usr/bin/env python3
"""scripts/release deciding what it may empty and whether it made every package.

Usage: release_script_test.py [unittest args]

The script runs from a copy of itself in a temporary project root, with the build tools
replaced by stand-ins: scripts/setup and cmake do nothing (cmake makes the build folder),
cpack makes the package of the preset it runs in unless SKIP names that preset. That gives the
one case the real builds never show, a package that was not made; scripts/test makes the
packages for real with the real tools and checks them (check_packages.py).
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PACKAGES = [".zk-release", "zk-launcher-1.0.0-win32.zip", "zk-pak-1.0.0-win64.zip",
            "zk-pak_1.0.0_amd64.deb"]
STAND_INS = {
    "scripts/setup": "exit 0\n",
    "bin/cmake": '[ "$1" = --preset ] && mkdir -p "build/$2"\nexit 0\n',
    "bin/cpack": """# cpack -B DIR, run in build/PRESET
preset=$(basename "$PWD")
case " $SKIP " in *" $preset "*) exit 0 ;; esac
case $preset in
  mingw32) name=zk-launcher-1.0.0-win32.zip ;;
  mingw64) name=zk-pak-1.0.0-win64.zip ;;
  native) name=zk-pak_1.0.0_amd64.deb ;;
esac
mkdir -p "$2" && echo package >"$2/$name"
""",
}


class Release(unittest.TestCase):
    def setUp(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="release-test-"))
        self.addCleanup(shutil.rmtree, self.root)
        (self.root / "scripts").mkdir()
        shutil.copy(ROOT / "scripts" / "release", self.root / "scripts" / "release")
        for name, text in STAND_INS.items():
            path = self.root / name
            path.parent.mkdir(exist_ok=True)
            path.write_text("#!/bin/sh\n" + text)
            path.chmod(0o755)

    def release(self, dist, skip=""):
        env = dict(os.environ, PATH=f"{self.root / 'bin'}:{os.environ['PATH']}", SKIP=skip)
        return subprocess.run([self.root / "scripts" / "release", dist], env=env,
                              capture_output=True, text=True, timeout=60)

    def test_what_it_empties_and_what_it_must_make(self):
        def earlier(dist):  # a folder an earlier run filled, and a file put there since
            self.assertEqual(self.release(dist).returncode, 0)
            (dist / "old.zip").write_bytes(b"old")

        cases = [  # what DIR is, presets whose package is not made: exit code, DIR afterwards
            ("none", lambda dist: None, "", 0, PACKAGES),
            ("empty", lambda dist: dist.mkdir(), "", 0, PACKAGES),
            ("earlier", earlier, "", 0, PACKAGES),
            ("foreign", lambda dist: (dist.mkdir(), (dist / "notes.txt").write_text("mine")),
             "", 2, ["notes.txt"]),
            ("a file", lambda dist: dist.write_text("mine"), "", 2, "mine"),
            ("no win64 zip", lambda dist: None, "mingw64", 1, None),
            ("no deb", lambda dist: None, "native", 1, None),
        ]
        for name, prepare, skip, code, after in cases:
            with self.subTest(dist=name):
                dist = self.root / name.replace(" ", "-")
                prepare(dist)
                done = self.release(dist, skip)
                self.assertEqual(done.returncode, code, done.stdout + done.stderr)
                if code != 0:
                    self.assertIn("release: ", done.stderr)
                if isinstance(after, list):
                    self.assertEqual(sorted(p.name for p in dist.iterdir()), after)
                elif after is not None:
                    self.assertEqual(dist.read_text(), after)


if __name__ == "__main__":
    unittest.main(argv=sys.argv, verbosity=2)
