#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets with the project's own test generators.

Usage: make_corpus.py [CORPUS_DIR]   (default: fuzz/corpus beside this file)

The archive targets (lookup, directory) get every archive the file system tests use
(tests/vfs/make_fixtures.py) and the regression inputs of the faults they found, and the
directory target, which reads every entry through its stream, entries long enough to be read
out of order and streams that break off midway; the settings
reader gets settings texts; the String target short operation scripts; the formatting target
patterns. Files are named by what they hold; an existing corpus is replaced.
"""
import pathlib
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "support"))
from pak_generator import Entry, build  # noqa: E402

INI = "[設定]\r\nName=TESTGAME\r\nTitle=テスト\r\n".encode("cp932")


def archive_regressions():
    """Archives that once crashed, hung, read foreign bytes or asked for wild memory."""
    padding = bytes(random.Random(5).getrandbits(8) for _ in range(16384))
    records = struct.pack("<i", 8) + b"GAME.INI" + struct.pack("<5I", 0, len(INI), len(INI), 0,
                                                                len(INI))
    stream = zlib.compress(records) + padding
    return {
        # A picture and a zip named *.pak: unknown versions, passed over.
        "regression-stray-png": b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" + bytes(40),
        "regression-stray-zip": b"PK\x03\x04\x14\0\0\0\x08\0" + bytes(40),
        # Data beyond 2 GiB: the seek there failed and the read went on where it stood.
        "regression-offset-beyond-2gib": build(3, [Entry("OTHER.INI", b"[a]\r\nb=other\r\n"),
                                                   Entry("GAME.INI", INI, offset=0x80000000)]),
        # A 48-byte archive whose plain entry declares 2 GiB.
        "regression-plain-size-huge": build(0, [Entry("GAME.INI", b"[a]\r\nb=cdefg\r\n",
                                                      size=0x80000000)]),
        # A directory declaring 16 MB in 16 KiB, and an entry declaring 16 MB in 16 KiB.
        "regression-directory-declares-more":
            struct.pack("<4Id", 3, 1, 16 << 20, len(stream), 0) + bytes(256) + stream + INI,
        "regression-entry-declares-more": build(3, [Entry(
            "GAME.INI", INI, compressed=True, unpacked=16 << 20,
            stream=zlib.compress(INI) + padding)]),
    }


def many_blocks(pieces):
    """A zlib stream of pieces, each ending its deflate block where it ends: block boundaries,
    most of them inside a byte, for seek points to be recorded at."""
    packer = zlib.compressobj(6)
    return b"".join(packer.compress(piece) + packer.flush(zlib.Z_BLOCK) for piece in pieces) + \
        packer.flush()


def stream_seeds():
    """Entries for the directory target's reads out of order: a compressed entry much longer
    than the recent bytes it keeps, one of many deflate blocks, one whose stream is damaged
    midway, one cut short."""
    rng = random.Random(9)
    words = [bytes(rng.getrandbits(8) % 26 + 97 for _ in range(rng.randrange(2, 9)))
             for _ in range(300)]
    text = b" ".join(rng.choice(words) for _ in range(12000))
    packed = zlib.compress(text)
    damaged = bytearray(packed)
    damaged[len(damaged) // 2] ^= 0x55
    plain = bytes(rng.getrandbits(8) for _ in range(3000))
    pieces = [text[n:n + 700] for n in range(0, 21000, 700)]
    return {
        "stream-many-blocks": build(3, [Entry("text.txt", b"".join(pieces), compressed=True,
                                              stream=many_blocks(pieces))]),
        "stream-long-entries": build(3, [Entry("text.txt", text, compressed=True),
                                         Entry("plain.bin", plain),
                                         Entry("empty.dat", b"", compressed=True)]),
        "stream-damaged-midway": build(4, [Entry("text.txt", text, compressed=True,
                                                 stream=bytes(damaged)),
                                           Entry("plain.bin", plain)]),
        "stream-cut-short": build(1, [Entry("text.txt", text, compressed=True,
                                            stream=packed[:len(packed) // 2])]),
    }


def archives(out):
    with tempfile.TemporaryDirectory() as fixtures:
        subprocess.run([sys.executable, str(HERE.parent / "tests" / "vfs" / "make_fixtures.py"),
                        fixtures], check=True)
        seeds = {}
        for path in sorted(pathlib.Path(fixtures).rglob("*.pak")):
            name = "-".join(path.relative_to(fixtures).with_suffix("").parts)
            if path.stat().st_size <= 32768:  # larger inputs only slow the mutations down
                seeds[name] = path.read_bytes()
    seeds.update(archive_regressions())
    for target in ("lookup", "directory"):
        for name, data in seeds.items():
            write(out / target / name, data)
    for name, data in stream_seeds().items():
        write(out / "directory" / name, data)


def settings(out):
    texts = {
        "game-ini": INI,
        "lf-and-cr": b"[a]\nb=c\r[x]\rk=v\n",
        "sections-and-comments": b"[one]\r\n'k=no\r\nk\t=\tv1\r\n[two\r\nk = v2 \r\n[a]\r\nb==c\r\n",
        "escapes": b"[a]\r\nb=x\\\\ny\\\\tz\r\n\\\\tb=w\r\n",
        "wrapped": b"b=before\r\n[a]\r\n[c]\r\nb=after\r\n[a]\r\nb=found\r\n",
        "double-byte": "[設定]\r\nＮａｍｅ=表ソ\r\n[表]\r\nソ=\\\r\n".encode("cp932"),
        "nul-inside": b"[a]\r\nb=c\0[a]\r\nb=d\r\n",
        "no-end": b"[a",
    }
    for name, data in texts.items():
        write(out / "ini" / name, data)


def strings(out):
    rng = random.Random(7)
    write(out / "string" / "append-search-edit",
          bytes([0, 11]) + "表ソ.txt\\\\a".encode("cp932") +
          bytes([3, 0, 6, ord("\\"), 0, 10, 2, 1, 11, 2]) + b".t" + bytes([1]) + b"T" +
          bytes([13, 1]) + b"\\" + bytes([0, 12, 1]) + b"a")
    for n in range(4):
        write(out / "string" / f"random-{n}", bytes(rng.getrandbits(8) for _ in range(96)))


def patterns(out):
    texts = {
        "paths": "%s\\%s",
        "prompt": "ファイル %s が開けません。",
        "integers": "%*d|%I64d|%08x|%-5u|%+i|% o|%#X",
        "floats": "%f|%.2f|%e|%G|%a|%10.3F|%Lf",
        "text": "%5.2s|%.3s|%c|%lc|%ls|%S|%C|%hs|%%",
        "regression-lld": "%lld|%s",
        "regression-i32": "%I32d|%s",
        "modifiers": "%hhd|%hd|%ld|%jd|%zd|%Zd|%td|%Id|%qd|%wc|%ws",
        "refused": "%y|%s|%Ld|%hS",
        "unfinished": "abc%5.",
        # A lead byte before '%': the pass took the two as one character, the formatter not.
        "regression-lead-byte-percent": b"%*d~%I64d|%08x|`%jdd|%jd|%zd|%Zd\xfc%t",
        # Star arguments below zero: the pass refused "%*.*s" with -6 and -1. After the NUL come
        # the arguments the comparison with the C library takes, in order: each star as 2
        # bytes, a text as 8, a number as 8, a double as 8.
        "regression-negative-star": b"%*.*s|%-*d|%.*f|%*.*ls|%c%c|%s\0" +
        struct.pack("<hh8sh", -6, -1, "表ソ".encode("cp932"), -4) +
        struct.pack("<qhdhh4sii8s", 7, -3, 1.5, 5, -2, b"abc", 0x41, 0, b"tail"),
    }
    for name, text in texts.items():
        write(out / "format" / name, text if isinstance(text, bytes) else text.encode("cp932"))


def write(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


def main():
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else HERE / "corpus"
    for target in ("lookup", "directory", "ini", "string", "format"):
        shutil.rmtree(out / target, ignore_errors=True)
    archives(out)
    settings(out)
    strings(out)
    patterns(out)


if __name__ == "__main__":
    main()
