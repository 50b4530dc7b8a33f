#!/usr/bin/env python3
"""An independent writer of pak archives, for the tests.

Written from the byte layout of the format alone (standard library only: struct and zlib), so
that the reader is never tested only against a writer of its own.

Layout: little-endian 32-bit numbers; no magic. Header: version, entryCount, then for versions
1-4 directorySize and packedDirectorySize; version 2 adds a 32-bit value and a 256-byte archive
name (276 bytes in all), versions 3 and 4 an 8-byte double and the name (280 bytes). Version 0
records follow its 8-byte header directly and give absolute data offsets; versions 1-4 store the
records as one zlib stream after the header and give offsets within the data area behind it.
Record: signed 32-bit name length, name bytes, then numbers: version 0 (offset, unused, size);
versions 1-3 (offset, unpacked size, size, compressed flag, packed size); version 4 (unused,
offset, size, unused, compressed flag, packed size).

Command line: pak_generator.py OUT.pak [--version V] [--store] [--archive-name TEXT]
NAME=FILE...  (NAME in UTF-8, stored as code page 932; entries are compressed unless --store).
"""
import argparse
import struct
import zlib

HEADER_SIZE = {0: 8, 1: 16, 2: 276, 3: 280, 4: 280}


class Entry:
    """One entry. name and data are bytes; fields in `override` replace the computed numbers
    (keys: offset, unpacked, size, flag, packed, name_length) to make corrupt records."""

    def __init__(self, name, data, compressed=False, stream=None, **override):
        self.name = name.encode("cp932") if isinstance(name, str) else name
        self.data = data
        self.compressed = compressed
        self.stream = stream  # stored bytes to use instead of zlib.compress(data)
        self.override = override


def _record(version, entry, offset, stored):
    o = entry.override
    size = o.get("size", len(entry.data))
    unpacked = o.get("unpacked", len(entry.data))
    flag = o.get("flag", 1 if entry.compressed else 0)
    packed = o.get("packed", len(stored))
    offset = o.get("offset", offset)
    name_length = o.get("name_length", len(entry.name))
    head = struct.pack("<i", name_length) + entry.name
    if version == 0:
        return head + struct.pack("<III", offset, 0, size)
    if version in (1, 2, 3):
        return head + struct.pack("<IIIII", offset, unpacked, size, flag, packed)
    return head + struct.pack("<IIIIII", 0xDEADBEEF, offset, size, 0, flag, packed)


def build(version, entries, archive_name=b"", value=0, **header_override):
    """The bytes of an archive. header_override may set entry_count, directory_size,
    packed_directory_size or directory_stream (the stored directory bytes)."""
    if isinstance(archive_name, str):
        archive_name = archive_name.encode("cp932")
    stored = []
    for e in entries:
        if e.stream is not None:
            stored.append(e.stream)
        elif e.compressed and version != 0:
            stored.append(zlib.compress(e.data))
        else:
            stored.append(e.data)
    count = header_override.get("entry_count", len(entries))

    if version == 0:
        directory_length = sum(len(_record(0, e, 0, s)) for e, s in zip(entries, stored))
        offset = 8 + directory_length
        records, data = b"", b""
        for e, s in zip(entries, stored):
            records += _record(0, e, offset + len(data), s)
            data += s
        return struct.pack("<II", version, count) + records + data

    records, data = b"", b""
    for e, s in zip(entries, stored):
        records += _record(version, e, len(data), s)
        data += s
    directory = header_override.get("directory_stream", zlib.compress(records))
    header = struct.pack("<IIII", version, count,
                         header_override.get("directory_size", len(records)),
                         header_override.get("packed_directory_size", len(directory)))
    name_field = archive_name.ljust(256, b"\0")[:256]
    if version == 2:
        header += struct.pack("<I", value) + name_field
    elif version in (3, 4):
        header += struct.pack("<d", value) + name_field
    return header + directory + data


def main():
    parser = argparse.ArgumentParser(description="Write a pak archive.")
    parser.add_argument("out")
    parser.add_argument("--version", type=int, default=3, choices=range(5))
    parser.add_argument("--store", action="store_true", help="store entries plain")
    parser.add_argument("--archive-name", default="")
    parser.add_argument("entries", nargs="+", metavar="NAME=FILE")
    args = parser.parse_args()
    entries = []
    for spec in args.entries:
        name, _, path = spec.partition("=")
        with open(path, "rb") as f:
            entries.append(Entry(name, f.read(), compressed=not args.store))
    with open(args.out, "wb") as f:
        f.write(build(args.version, entries, args.archive_name))


if __name__ == "__main__":
    main()
