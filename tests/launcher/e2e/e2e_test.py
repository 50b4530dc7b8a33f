#!/usr/bin/env python3
"""End-to-end tests of launcher.exe under Wine (wine64, or wine32 for the 32-bit build), with
real Windows functions and real message boxes.

Every case builds a fresh game directory (launcher.exe, the test engine as system.dll, GAME.INI
loose or inside an archive), starts the launcher there, answers its message boxes with
e2e_answer.exe and checks what the engine received (engine.cpp writes it down), what the boxes
showed and the exit code. All cases share one Wine prefix, made afresh at the start of the run
(so nothing carries over from an earlier or interrupted run), and one wineserver kept alive for
the whole run; the X display is the caller's (CMake runs this file inside xvfb-run).

Wine draws a message box but does not apply MB_TOPMOST to it, and a task-modal box looks like
any other, so the style is also read where it is given: each launcher runs with Wine's relay
trace limited to the few functions in TRACED, whose log holds every call with its arguments and
result. A box is checked on both sides: what the answerer saw on the screen (caption, text,
buttons, icon) and what the launcher asked for (owner, style). The same log shows which
libraries a launcher loaded, so a second copy can be seen to skip the DirectX check.

    e2e_test.py --launcher EXE --bin DIR --work DIR --prefix DIR --pak-generator PY
                [--wine LOADER] [--patience N] [--reuse-prefix] [unittest arguments]

--wine is Wine's loader for the build's programs (wine64 unless told). --patience multiplies
every time limit (the 32-bit build runs in an emulated PC, several times slower).
--reuse-prefix keeps an existing prefix, which saves its making when running cases by hand.
Where the environment names a ready prefix in ZK_WINE_PREFIX_TEMPLATE (the guest of
scripts/win32-vm has one in its image, and makes a prefix several times slower), a fresh copy
of it stands in for a new one.

A launcher that shows a message box nobody answers never exits, so "no message box" also shows
as "exits by itself within the time limit".
"""
import argparse
import importlib.util
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time
import unittest

WINESERVER = "/usr/lib/wine/wineserver"
# The calls that Wine's relay trace logs for the launcher.
TRACED = "user32.MessageBoxA;user32.FindWindowA;kernel32.LoadLibraryA;kernel32.LoadLibraryExA"
TRACE_CALL = re.compile(r"^[0-9a-f]+:Call (\w+)\.(\w+)\((.*)\) ret=[0-9a-f]+$", re.I)
TRACE_RETURN = re.compile(r"^[0-9a-f]+:Ret  (\w+)\.(\w+)\(\) retval=([0-9a-f]+) ", re.I)

# How long any one program may take before the case fails, how long the answerer waits for
# each box, and how long a window takes to come to the front; main() multiplies them by
# --patience.
PROCESS_SECONDS = 30
BOX_MILLISECONDS = 20000
FRONT_SECONDS = 10

IDOK, IDABORT, IDRETRY, IDIGNORE = 1, 3, 4, 5
SW_SHOWDEFAULT, SW_SHOWMINNOACTIVE = 10, 7
MB_ABORTRETRYIGNORE, MB_ICONERROR, MB_TASKMODAL, MB_TOPMOST = 0x2, 0x10, 0x2000, 0x40000


def sjis(text):
    return text.encode("cp932")


FILE_PROMPT = sjis("ファイル GAME.INI が開けません。")
FILE_PROMPT_CAPTION = sjis("ファイルエラー")
FILE_ABORTED = sjis("ファイル GAME.INI が開けませんでした。")
ERROR_CAPTION = sjis("エラーメッセージ")
DIRECTX_MISSING = sjis("DirectX8.1以降がインストールされていません。\n"
                       "DirectXをインストール後、実行してください")
DIRECTX_CAPTION = b"information"
DLL_FAILED = sjis("DLLの読み込みに失敗しました。")

# The Title carries double-byte characters whose second byte is a backslash (ソ 83 5C,
# 表 95 5C), which a byte-wise reader would take for an escape.
TITLE = sjis("ソフト表示テスト　～体験版～")

config = None  # the command-line settings, set in main()
wine = None  # the Wine of this run, set in main()


class Wine:
    """The shared prefix and wineserver of this run."""

    def __init__(self, prefix):
        self.prefix = pathlib.Path(prefix)

    def environment(self, overrides=(), debug="-all"):
        # mscoree and mshtml off, as in scripts/wine-run: no installer dialogs.
        dlls = ";".join(["mscoree=", "mshtml=", *overrides])
        return dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG=debug,
                    LC_ALL="ja_JP.UTF-8", WINEDLLOVERRIDES=dlls)

    def prepare(self, reuse):
        if not reuse or not (self.prefix / "system.reg").exists():
            # A wineserver left behind by an interrupted run would still serve the old files.
            subprocess.run([WINESERVER, "-k"], env=self.environment(), timeout=30,
                           stderr=subprocess.DEVNULL)
            shutil.rmtree(self.prefix, ignore_errors=True)
            started = time.monotonic()
            template = os.environ.get("ZK_WINE_PREFIX_TEMPLATE")
            if template:
                shutil.copytree(template, self.prefix, symlinks=True)
            else:
                self.prefix.mkdir(parents=True)
                subprocess.run([config.wine, "wineboot", "-i"], env=self.environment(),
                               timeout=180, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                subprocess.run([WINESERVER, "-w"], env=self.environment(), timeout=120)
            print(f"made the Wine prefix in {time.monotonic() - started:.1f} s", file=sys.stderr)
        # Kept alive until shutdown(), so that no case pays for starting it again.
        subprocess.run([WINESERVER, "-p"], env=self.environment(), timeout=30)
        # The relay trace's selection is a setting of the prefix.
        subprocess.run([config.wine, "reg", "add", r"HKCU\Software\Wine\Debug", "/v",
                        "RelayInclude", "/t", "REG_SZ", "/d", TRACED, "/f"],
                       env=self.environment(), timeout=60, stdout=subprocess.DEVNULL, check=True)

    def shutdown(self):
        subprocess.run([WINESERVER, "-k"], env=self.environment(), timeout=30)

    def start(self, program, arguments, cwd, log, overrides=(), traced=False):
        debug = "-all,+relay" if traced else "-all"
        with open(log, "ab") as output:
            process = subprocess.Popen([config.wine, str(program), *map(str, arguments)],
                                       cwd=cwd, env=self.environment(overrides, debug),
                                       stdout=output, stderr=subprocess.STDOUT)
        return Started(process, log)


class Started:
    """A program started under Wine, and the file its output and trace go to."""

    def __init__(self, process, log):
        self.process = process
        self.log = pathlib.Path(log)

    def calls(self, function):
        """The argument lists of the traced calls of function, in order, as logged."""
        return self._trace(TRACE_CALL, function)

    def results(self, function):
        """The values the traced calls of function returned, in order."""
        return [int(value, 16) for value in self._trace(TRACE_RETURN, function)]

    def _trace(self, pattern, function):
        found = []
        for line in self.log.read_bytes().decode("latin-1").splitlines():
            match = pattern.match(line)
            if match and match.group(2) == function:
                found.append(match.group(3))
        return found

    def message_boxes(self):
        """(owner, style) of each MessageBoxA call: the first and last arguments."""
        return [(int(a.split(",", 1)[0], 16), int(a.rsplit(",", 1)[1], 16))
                for a in self.calls("MessageBoxA")]

    def libraries_loaded(self):
        names = []
        for function in ("LoadLibraryA", "LoadLibraryExA"):
            names += [m.group(1).lower() for a in self.calls(function)
                      if (m := re.match(r'[0-9a-f]+ "(.*?)"', a))]
        return names


def load_pak_generator():
    spec = importlib.util.spec_from_file_location("pak_generator", config.pak_generator)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def windows_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def ini(name, title):
    return b"[" + sjis("設定") + b"]\r\nName=" + name + b"\r\nTitle=" + title + b"\r\n"


def parse_lines(data):
    record = {}
    for line in data.decode("ascii").splitlines():
        key, _, value = line.partition("=")
        if key:
            record[key] = value
    return record


class Game:
    """One game directory and the programs started in it."""

    def __init__(self, name):
        self.dir = pathlib.Path(config.work) / name
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)
        shutil.copy(config.launcher, self.dir / "launcher.exe")
        self.started = []

    def write(self, name, data):
        (self.dir / name).write_bytes(data)

    def put_engine(self, variant="e2e_engine"):
        shutil.copy(pathlib.Path(config.bin) / f"{variant}.dll", self.dir / "system.dll")

    def put_archive(self, file_name, version, files, compressed=True):
        pak = load_pak_generator()
        entries = [pak.Entry(n, data, compressed=compressed) for n, data in files.items()]
        self.write(file_name, pak.build(version, entries))

    def tell_engine_name(self, name):
        self.write("engine-name.txt", name)

    def release_engine(self):
        self.write("engine-release", b"")

    def launch(self, overrides=(), show=None):
        """Starts the launcher from the game directory, traced; with show, through e2e_start.exe
        with that show command."""
        if show is None:
            program, arguments = self.dir / "launcher.exe", []
        else:
            program = pathlib.Path(config.bin) / "e2e_start.exe"
            arguments = [show, windows_path(self.dir / "launcher.exe")]
        log = self.dir / f"launcher-{len(self.started)}.log"
        started = wine.start(program, arguments, self.dir, log, overrides, traced=True)
        self.started.append(started)
        return started

    def answer(self, *steps):
        """Starts the answerer; each step is (caption bytes, button[, gate file])."""
        arguments = ["answers.txt", BOX_MILLISECONDS]
        for step in steps:
            arguments.append(":".join([step[0].hex(), str(step[1]), *step[2:]]))
        started = wine.start(pathlib.Path(config.bin) / "e2e_answer.exe", arguments, self.dir,
                             self.dir / "answer.log")
        self.started.append(started)
        return started

    def boxes(self):
        path = self.dir / "answers.txt"
        if not path.exists():
            return []
        blocks = path.read_bytes().split(b"\n\n")
        return [parse_lines(b) for b in blocks if b.strip()]

    def wait_for_boxes(self, count):
        deadline = time.monotonic() + BOX_MILLISECONDS / 1000
        while len(self.boxes()) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return len(self.boxes()) >= count

    def runs(self):
        return [parse_lines(p.read_bytes()) for p in sorted(self.dir.glob("run-*.txt"))]

    def wait_for_runs(self, count):
        deadline = time.monotonic() + PROCESS_SECONDS
        while len(self.runs()) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.runs()

    def front_log(self, pid):
        path = self.dir / f"front-{pid}.txt"
        return path.read_text().splitlines() if path.exists() else []

    def wait_for_front(self, pid, wanted):
        deadline = time.monotonic() + FRONT_SECONDS
        while time.monotonic() < deadline:
            log = self.front_log(pid)
            if log and log[-1] == wanted:
                return log
            time.sleep(0.05)
        return self.front_log(pid)

    def close(self):
        for started in self.started:
            if started.process.poll() is None:
                started.process.kill()
                started.process.wait()


class Box:
    """A message box the launcher should show: what the user sees, and the style asked for."""

    def __init__(self, caption, text, buttons, icon, style):
        self.caption, self.text, self.buttons = caption, text, buttons
        self.icon, self.style = icon, style


FILE_PROMPT_BOX = Box(FILE_PROMPT_CAPTION, FILE_PROMPT, [IDABORT, IDRETRY, IDIGNORE], "none",
                      MB_ABORTRETRYIGNORE | MB_TOPMOST)
ABORTED_BOX = Box(ERROR_CAPTION, FILE_ABORTED, [IDOK], "hand", MB_TOPMOST | MB_ICONERROR)
DIRECTX_BOX = Box(DIRECTX_CAPTION, DIRECTX_MISSING, [IDOK], "none", MB_TASKMODAL)
DLL_FAILED_BOX = Box(ERROR_CAPTION, DLL_FAILED, [IDOK], "hand", MB_TOPMOST | MB_ICONERROR)


class LauncherCase(unittest.TestCase):
    """A fresh game directory per test, named after the test; every process it started is
    gone when the test ends."""

    def setUp(self):
        self.game = Game(self.id().split(".", 1)[1])
        # A Name of its own per case, so that no case sees another one's event or window.
        self.name = sjis("ＺＫテスト_") + self._testMethodName.encode("ascii")[-24:]

    def tearDown(self):
        self.game.close()

    def finish(self, started, code, what="the launcher"):
        try:
            self.assertEqual(started.process.wait(timeout=PROCESS_SECONDS), code,
                             f"exit code of {what}")
        except subprocess.TimeoutExpired:
            self.fail(f"{what} did not exit within {PROCESS_SECONDS} s "
                      f"(a message box nobody answers?); boxes seen: {self.game.boxes()}")

    def assert_boxes(self, launch, *expected):
        """The launcher (finished) called MessageBoxA once per expected box, and the answerer
        saw each box as expected."""
        called = launch.message_boxes()
        seen = self.game.boxes()
        self.assertEqual(len(called), len(expected), f"MessageBoxA calls: {called}")
        self.assertEqual(len(seen), len(expected), f"boxes answered: {seen}")
        for box, (owner, style), want in zip(seen, called, expected):
            with self.subTest(box=box.get("box")):
                self.assertEqual(bytes.fromhex(box["caption"]), want.caption)
                self.assertEqual(bytes.fromhex(box["text"]), want.text)
                self.assertEqual(box["buttons"], ",".join(map(str, want.buttons)), "buttons")
                self.assertEqual(box["icon"], want.icon, "icon shown")
                self.assertEqual(box["owner"], "0", "no owner window")
                self.assertEqual(owner, 0, "no owner window")
                self.assertEqual(hex(style), hex(want.style), "style passed to MessageBoxA")

    def assert_run(self, record, title, event="none", show=SW_SHOWDEFAULT):
        self.assertEqual(record["instance"], "own", "run's instance is the launcher's module")
        self.assertEqual(record["show"], str(show))
        expected = "null" if title is None else "hex:" + title.hex()
        self.assertEqual(record["title"], expected, f"title bytes (expected {title!r})")
        self.assertEqual(record["event"], event, "the game's event as the engine finds it")

    def start_and_run(self, **launch):
        """Starts the launcher with an engine that returns at once; returns the one run."""
        self.game.put_engine()
        self.game.release_engine()
        launcher = self.game.launch(**launch)
        self.finish(launcher, 0)
        self.assert_boxes(launcher)
        runs = self.game.runs()
        self.assertEqual(len(runs), 1, "run called once")
        return runs[0]


class SettingsSources(LauncherCase):
    """Name and Title wherever GAME.INI is found."""

    def test_loose_file(self):
        self.game.write("GAME.INI", ini(self.name, TITLE))
        self.game.tell_engine_name(self.name)
        self.assert_run(self.start_and_run(), TITLE, event="set-manual")

    def test_compressed_entry_of_version_3_archive(self):
        self.game.put_archive("data.pak", 3, {"GAME.INI": ini(self.name, TITLE)})
        self.game.tell_engine_name(self.name)
        self.assert_run(self.start_and_run(), TITLE, event="set-manual")

    def test_version_0_archive_of_any_name(self):
        files = {"readme.txt": b"-", "GAME.INI": ini(self.name, TITLE)}
        self.game.put_archive("old.pak", 0, files, compressed=False)
        self.game.tell_engine_name(self.name)
        self.assert_run(self.start_and_run(), TITLE, event="set-manual")

    def test_loose_file_wins_over_archive(self):
        self.game.write("GAME.INI", ini(self.name, TITLE))
        self.game.put_archive("data.pak", 3, {"GAME.INI": ini(b"Other", b"Archived")})
        self.game.tell_engine_name(self.name)
        self.assert_run(self.start_and_run(), TITLE, event="set-manual")

    def test_show_command_of_the_starter_reaches_run(self):
        self.game.write("GAME.INI", ini(self.name, TITLE))
        record = self.start_and_run(show=SW_SHOWMINNOACTIVE)
        self.assert_run(record, TITLE, show=SW_SHOWMINNOACTIVE)


class MissingSettings(LauncherCase):
    """The file prompt: one per read of GAME.INI, Name first, then Title."""

    def test_ignore_twice_leaves_both_empty(self):
        self.game.put_engine()
        self.game.release_engine()
        launcher = self.game.launch()
        answerer = self.game.answer((FILE_PROMPT_CAPTION, IDIGNORE),
                                    (FILE_PROMPT_CAPTION, IDIGNORE))
        self.finish(answerer, 0, "the answerer")
        self.finish(launcher, 0)
        self.assert_boxes(launcher, FILE_PROMPT_BOX, FILE_PROMPT_BOX)
        runs = self.game.runs()
        self.assertEqual(len(runs), 1)
        self.assert_run(runs[0], None)

    def test_retry_finds_the_file_put_in_place(self):
        self.game.put_engine()
        self.game.release_engine()
        self.game.tell_engine_name(self.name)
        launcher = self.game.launch()
        answerer = self.game.answer((FILE_PROMPT_CAPTION, IDRETRY, "go"))
        self.assertTrue(self.game.wait_for_boxes(1), "no file prompt")
        self.game.write("GAME.INI", ini(self.name, TITLE))
        self.game.write("go", b"")
        self.finish(answerer, 0, "the answerer")
        self.finish(launcher, 0)
        # The Title read opens the file anew and finds it: no second prompt.
        self.assert_boxes(launcher, FILE_PROMPT_BOX)
        runs = self.game.runs()
        self.assertEqual(len(runs), 1)
        self.assert_run(runs[0], TITLE, event="set-manual")

    def test_ignore_then_retry_reads_only_the_title(self):
        self.game.put_engine()
        self.game.release_engine()
        self.game.tell_engine_name(self.name)
        launcher = self.game.launch()
        answerer = self.game.answer((FILE_PROMPT_CAPTION, IDIGNORE),
                                    (FILE_PROMPT_CAPTION, IDRETRY, "go"))
        self.assertTrue(self.game.wait_for_boxes(2), "no second file prompt")
        self.game.write("GAME.INI", ini(self.name, TITLE))
        self.game.write("go", b"")
        self.finish(answerer, 0, "the answerer")
        self.finish(launcher, 0)
        self.assert_boxes(launcher, FILE_PROMPT_BOX, FILE_PROMPT_BOX)
        runs = self.game.runs()
        self.assertEqual(len(runs), 1)
        # The Name stayed empty, so the event has no name and none by the game's Name exists.
        self.assert_run(runs[0], TITLE, event="missing")

    def test_abort_reports_and_exits_with_1(self):
        self.game.put_engine()
        launcher = self.game.launch()
        answerer = self.game.answer((FILE_PROMPT_CAPTION, IDABORT), (ERROR_CAPTION, IDOK))
        self.finish(answerer, 0, "the answerer")
        self.finish(launcher, 1)
        self.assert_boxes(launcher, FILE_PROMPT_BOX, ABORTED_BOX)
        self.assertEqual(self.game.runs(), [], "run is never called")
        self.assertNotIn("system.dll", launcher.libraries_loaded())


class SingleInstance(LauncherCase):
    """The named event lets one copy of a game run; an empty Name guards nothing."""

    def test_second_start_brings_the_first_window_back(self):
        self.game.write("GAME.INI", ini(self.name, TITLE))
        self.game.put_engine()
        self.game.tell_engine_name(self.name)
        self.game.write("engine-decoy", b"")
        first = self.game.launch()
        runs = self.game.wait_for_runs(1)
        self.assertEqual(len(runs), 1, "the first copy's engine did not start")
        pid = runs[0]["pid"]
        self.assertEqual(self.game.wait_for_front(pid, "decoy")[-1:], ["decoy"])

        # Without D3D8, a launcher that went on to its DirectX check would stop at a box.
        second = self.game.launch(overrides=["d3d8="])
        self.finish(second, 0, "the second launcher")
        self.assert_boxes(second)
        self.assertEqual(second.libraries_loaded(), [], "no DirectX check, no engine")
        self.assertEqual(self.game.wait_for_front(pid, "main")[-1:], ["main"],
                         "the window with the game's class and Title comes to the front")
        self.assertEqual(len(self.game.runs()), 1, "the second copy never calls run")

        self.game.release_engine()
        self.finish(first, 0, "the first launcher")
        probed = [n for n in first.libraries_loaded() if n in ("d3d8.dll", "dpnhpast.dll")]
        self.assertEqual(probed, ["d3d8.dll", "dpnhpast.dll"], "the first copy checks DirectX")

    def test_second_start_after_the_first_ended(self):
        self.game.write("GAME.INI", ini(self.name, TITLE))
        self.game.tell_engine_name(self.name)
        self.start_and_run()
        second = self.game.launch()
        self.finish(second, 0, "the second launcher")
        self.assert_boxes(second)
        runs = self.game.runs()
        self.assertEqual(len(runs), 2, "the second copy runs too")
        self.assertNotEqual(runs[0]["pid"], runs[1]["pid"])
        for record in runs:
            self.assert_run(record, TITLE, event="set-manual")

    def test_empty_name_lets_two_copies_run_side_by_side(self):
        self.game.write("GAME.INI", ini(b"", TITLE))
        self.game.put_engine()
        first = self.game.launch()
        self.assertEqual(len(self.game.wait_for_runs(1)), 1)
        second = self.game.launch()
        runs = self.game.wait_for_runs(2)
        self.assertEqual(len(runs), 2, "both copies are inside run at once")
        self.game.release_engine()
        self.finish(first, 0, "the first launcher")
        self.finish(second, 0, "the second launcher")
        for record in runs:
            self.assert_run(record, TITLE)


class DirectXCheck(LauncherCase):
    """Without D3D8 or the DirectPlay NAT helper the launcher says so and stops."""

    def check_refusal(self, override):
        self.game.write("GAME.INI", ini(self.name, TITLE))
        self.game.put_engine()
        self.game.release_engine()
        launcher = self.game.launch(overrides=[override])
        answerer = self.game.answer((DIRECTX_CAPTION, IDOK))
        self.finish(answerer, 0, "the answerer")
        self.finish(launcher, 0)
        self.assert_boxes(launcher, DIRECTX_BOX)
        self.assertNotIn("system.dll", launcher.libraries_loaded(), "the engine is never loaded")
        self.assertEqual(self.game.runs(), [], "the engine is never called")

    def test_without_d3d8(self):
        self.check_refusal("d3d8=")

    def test_without_dpnhpast(self):
        self.check_refusal("dpnhpast=")


class EngineLoading(LauncherCase):
    """system.dll and its run export."""

    def test_missing_system_dll(self):
        self.game.write("GAME.INI", ini(self.name, TITLE))
        launcher = self.game.launch()
        answerer = self.game.answer((ERROR_CAPTION, IDOK))
        self.finish(answerer, 0, "the answerer")
        self.finish(launcher, 0)
        self.assert_boxes(launcher, DLL_FAILED_BOX)

    def test_system_dll_without_the_export(self):
        self.game.write("GAME.INI", ini(self.name, TITLE))
        self.game.put_engine("e2e_engine_noexport")
        self.game.release_engine()
        launcher = self.game.launch()
        self.finish(launcher, 0)
        self.assert_boxes(launcher)
        self.assertIn("system.dll", launcher.libraries_loaded())
        self.assertEqual(self.game.runs(), [], "nothing is called by another name")


class SampleGame(LauncherCase):
    """The sample game's engine (samples/) behind the real launcher, set up as scripts/demo
    sets it up: GAME.INI compressed in data.pak."""

    def engine_log(self):
        path = self.game.dir / "sample-engine.log"
        lines = path.read_bytes().split(b"\r\n") if path.exists() else []
        return dict(line.split(b": ", 1) for line in lines if b": " in line)

    def test_window_is_the_games_and_closes_by_itself(self):
        self.game.put_archive("data.pak", 3, {"GAME.INI": ini(self.name, TITLE)})
        self.game.put_engine("sample_engine")
        first = self.game.launch()
        deadline = time.monotonic() + PROCESS_SECONDS
        while b"window" not in self.engine_log() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertIn(b"window", self.engine_log(), "the sample's window never opened")

        # The second start finds the window only by the game's class and caption.
        second = self.game.launch()
        self.finish(second, 0, "the second launcher")
        self.assertEqual(len(second.results("FindWindowA")), 1)
        self.assertNotEqual(second.results("FindWindowA")[0], 0, "window not found")

        self.finish(first, 0, "the sample game")
        self.assert_boxes(first)
        log = self.engine_log()
        self.assertEqual(log[b"title"], TITLE)
        self.assertEqual(log[b"name"], self.name)
        self.assertEqual(log[b"show command"], str(SW_SHOWDEFAULT).encode())
        self.assertTrue(log[b"closed"].startswith(b"after"), log[b"closed"])


def main():
    global config, wine, PROCESS_SECONDS, BOX_MILLISECONDS, FRONT_SECONDS
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--bin", required=True, help="folder of the test engine and helpers")
    parser.add_argument("--work", required=True, help="folder for the game directories")
    parser.add_argument("--prefix", required=True, help="the Wine prefix of the run")
    parser.add_argument("--pak-generator", required=True)
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--patience", type=int, default=1)
    parser.add_argument("--reuse-prefix", action="store_true")
    config, rest = parser.parse_known_args()
    PROCESS_SECONDS *= config.patience
    BOX_MILLISECONDS *= config.patience
    FRONT_SECONDS *= config.patience
    for key in ("launcher", "bin", "work", "prefix", "pak_generator"):
        setattr(config, key, pathlib.Path(getattr(config, key)).resolve())
    if not os.environ.get("DISPLAY"):
        print("no X display: run this inside xvfb-run", file=sys.stderr)
        return 1
    wine = Wine(config.prefix)
    wine.prepare(config.reuse_prefix)
    try:
        program = unittest.main(argv=[sys.argv[0], *rest], verbosity=2, exit=False)
    finally:
        wine.shutdown()
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
