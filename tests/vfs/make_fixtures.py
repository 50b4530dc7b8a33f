#!/usr/bin/env python3
"""Writes the archives the file system tests read, with the independent test generator.

Usage: make_fixtures.py OUTDIR. Each scenario is a folder of OUTDIR whose files a test copies
into a fresh game directory.
"""
import pathlib
import random
import struct
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
from pak_generator import Entry, build  # noqa: E402

# Settings text in code page 932: section 設定, Name and Title.
INI = "[設定]\r\nName=TESTGAME\r\nTitle=テスト\r\n".encode("cp932")
OTHER_INI = "[設定]\r\nName=OTHER\r\nTitle=ほか\r\n".encode("cp932")
BIG = bytes(random.Random(1).getrandbits(8) for _ in range(20000))  # packs to > 4096 bytes
HYOU_SO = "表\\ソ.txt"  # both characters end in the byte 0x5C
FULL_WIDTH = "ＡＢ.TXT"


def write(out, scenario, files):
    folder = out / scenario
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in files.items():
        (folder / name).write_bytes(data)


def mixed(size):
    """Text and runs of noise, so that deflate makes many blocks of all three kinds."""
    rng = random.Random(2)
    words = [bytes(rng.choices(b"abcdefghij ", k=rng.randint(2, 9))) for _ in range(300)]
    out = bytearray()
    while len(out) < size:
        out += rng.randbytes(rng.randint(1, 3000)) if rng.random() < 0.3 else \
            b" ".join(rng.choices(words, k=rng.randint(10, 2000)))
    return bytes(out[:size])


def version_archive(version):
    compressed = version != 0
    entries = [
        Entry("GAME.INI", INI),
        Entry(HYOU_SO, b"hyou-so"),
        Entry(FULL_WIDTH, b"full width", compressed=compressed),
        Entry("big.bin", BIG, compressed=compressed),
        Entry("empty.dat", b""),
        Entry("zeros.bin", bytes(100000), compressed=compressed),
        Entry("next.txt", b"NEXT"),
    ]
    return build(version, entries, archive_name="MAIN" if version >= 2 else "", value=7)


def v3(*entries, **header):
    return build(3, list(entries), **header)


def main():
    out = pathlib.Path(sys.argv[1])
    for version in range(5):
        write(out, f"versions/v{version}", {"data.pak": version_archive(version)})
    write(out, "reference", {"big.bin": BIG})
    write(out, "seek", {"data.pak": v3(Entry("mixed.bin", mixed(600000), compressed=True))})

    write(out, "order/data-patch", {
        "data.pak": v3(Entry("GAME.INI", b"data")),
        "patch.pak": build(1, [Entry("GAME.INI", b"patch", compressed=True)]),
    })
    write(out, "order/numbered", {
        "data2.pak": v3(Entry("GAME.INI", b"two")),
        "data1.pak": build(4, [Entry("GAME.INI", b"one", compressed=True)]),
    })
    write(out, "order/prefix", {
        "a.pak": v3(Entry("GAME.INI.BAK", b"backup")),
        "b.pak": v3(Entry("GAME.INI", b"real")),
    })
    write(out, "order/second-only", {
        "a.pak": v3(Entry("other.txt", b"other")),
        "b.pak": build(0, [Entry("game.ini", b"lower")]),
    })
    write(out, "names", {
        "data.pak": v3(Entry("titlebar.txt", b"bar"), Entry("title.bmp", b"bmp"),
                       Entry("TITLE.PNG", b"png"), Entry("data\\X.bmp", b"x")),
    })
    write(out, "keys", {
        "k1.pak": build(1, [Entry("GAME.INI", b"v1")]),
        "k2.pak": build(3, [Entry("GAME.INI", b"other")], archive_name="OTHER"),
        "k3.pak": build(4, [Entry("GAME.INI", b"main")], archive_name="main"),
    })

    good = v3(Entry("GAME.INI", INI, compressed=True))
    directory_start = 280
    malformed = {
        "truncated-header": good[:100],
        "truncated-directory": good[:directory_start + 10],
        "corrupt-directory": v3(Entry("GAME.INI", INI),
                                directory_stream=b"\x78\x9c" + b"\xff" * 30),
        "directory-size-huge": v3(Entry("GAME.INI", INI), directory_size=0x7FFFFFFF),
        "directory-size-short": v3(Entry("GAME.INI", INI), directory_size=10),
        "negative-name-length": v3(Entry("GAME.INI", INI, name_length=-5)),
        "huge-name-length": v3(Entry("GAME.INI", INI, name_length=0x7FFFFFF0)),
        "v0-negative-name-length": build(0, [Entry("GAME.INI", INI, name_length=-5)]),
        "v0-huge-name-length": build(0, [Entry("GAME.INI", INI, name_length=0x7FFFFFF0)]),
        "entry-beyond-end": v3(Entry("GAME.INI", INI, offset=1000000)),
        "compressed-beyond-end": v3(Entry("GAME.INI", INI, compressed=True, offset=1000000)),
        "inflates-to-more": v3(Entry("GAME.INI", INI, compressed=True, unpacked=len(INI) - 10)),
        "inflates-to-fewer": v3(Entry("GAME.INI", INI, compressed=True, unpacked=len(INI) + 50)),
        "unpacked-huge": v3(Entry("GAME.INI", INI, compressed=True, unpacked=0x7FFFFFFF)),
        "entry-count-too-large": v3(Entry("a.txt", b"a"), entry_count=100000000),
        "empty-archive": v3(),
        "unknown-version": struct.pack("<II", 9, 1) + b"\0" * 64,
        # Data beyond 2 GiB: a seek there must not leave the read at the entry before it.
        "offset-beyond-2gib": v3(Entry("OTHER.INI", OTHER_INI),
                                 Entry("GAME.INI", INI, offset=0x80000000)),
        # A 48-byte archive whose plain entry declares 2 GiB.
        "plain-size-huge": build(0, [Entry("GAME.INI", b"[a]\r\nb=cdefg\r\n", size=0x80000000)]),
    }
    for case, data in malformed.items():
        write(out, f"malformed/{case}", {"data.pak": data})
    # Files that only carry the archives' extension (a PNG, a zip) before a sound archive.
    write(out, "malformed/stray-files", {
        "data.pak": b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" + bytes(40),
        "data1.pak": b"PK\x03\x04\x14\0\0\0\x08\0" + bytes(40),
        "data2.pak": good,
    })
    (out / "stamp").write_text("ok\n")


if __name__ == "__main__":
    main()
