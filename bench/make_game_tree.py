#!/usr/bin/env python3
"""Writes a game's file tree of the kind pak is used on, for the benchmarks.

The same arguments always give the same bytes (a fixed seed). What it holds, by share of the
bytes, as in the games this tool is for:

  scenario/  Shift-JIS scripts: dialogue lines and engine commands (about 12%)
  image/     BMP pictures: backgrounds and event pictures with gradients and grain, sprites
             with transparent margins, small interface parts (about 63%)
  sound/     music, voices and movies that are compressed already: bytes without redundancy
             (about 25%)
  GAME.INI   the settings the launcher reads

At 397 MiB (the size of a full game) the tree holds 3,001 files; smaller sizes hold
proportionally fewer.

Usage:
  make_game_tree.py DIR [--size MIB]         a game tree of about MIB MiB (default 40)
  make_game_tree.py FILE --one-file MIB      one file of MIB MiB mixing the same kinds of data
  make_game_tree.py DIR --tiny-files COUNT   COUNT small script files (for listing benchmarks)
"""
import argparse
import pathlib
import random
import struct

FULL_SIZE = 397 << 20
FULL_COUNT = 3001
SEED = 20240607

KANJI = ("日本語時間世界自分今何私彼女学校先生友達気持言葉夜空雨風花海山川町家道心声目手"
         "話見聞思知行来帰待会終始明暗光影夢約束記憶扉鍵部屋窓外中上下前後左右春夏秋冬朝昼")
KANA = ("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよ"
        "らりるれろわをんがぎぐげござじずぜぞだでどばびぶべぼぱぴぷぺぽっゃゅょー")
KATAKANA = "アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモラリルレロン"
NAMES = ["春香", "美咲", "拓海", "先生", "少女", "？？？", "ユウキ", "アヤ"]


def words(rng, count):
    out = []
    for _ in range(count):
        kind = rng.random()
        if kind < 0.45:
            out.append("".join(rng.choice(KANA) for _ in range(rng.randint(1, 5))))
        elif kind < 0.85:
            out.append("".join(rng.choice(KANJI) for _ in range(rng.randint(1, 3))))
        else:
            out.append("".join(rng.choice(KATAKANA) for _ in range(rng.randint(2, 5))))
    return out


def script_lines(rng):
    """A pool of script lines, Shift-JIS, CR LF: dialogue, narration and commands."""
    vocabulary = words(rng, 800)
    lines = []
    for i in range(6000):
        kind = rng.random()
        if kind < 0.5:
            text = "".join(rng.choice(vocabulary) for _ in range(rng.randint(4, 14)))
            line = f"【{rng.choice(NAMES)}】「{text}。」"
        elif kind < 0.8:
            line = "".join(rng.choice(vocabulary) for _ in range(rng.randint(6, 20))) + "。"
        elif kind < 0.9:
            line = (f"@bg storage=bg{rng.randint(0, 199):03d} time={rng.choice((0, 300, 500, 1000))}"
                    f" method={rng.choice(('crossfade', 'universal', 'scroll'))}")
        elif kind < 0.95:
            line = f"@se storage=se{rng.randint(0, 99):02d} buf={rng.randint(0, 3)}"
        else:
            line = f"*label_{i:04d}|{rng.choice(vocabulary)}"
        lines.append(line.encode("cp932") + b"\r\n")
    return lines


def script(rng, lines, size):
    out = bytearray()
    while len(out) < size:
        out += b"".join(rng.choices(lines, k=64))
    return bytes(out[:size])


def bmp(width, height, bits, rows):
    row_size = (width * bits // 8 + 3) & ~3
    pixels = b"".join(row.ljust(row_size, b"\0")[:row_size] for row in rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(info) + len(pixels), 0, 0, 14 + len(info)) + \
        info + pixels


# Grain: random bytes mapped to the low bits to flip, on a share of the bytes (1/256 steps).
def grain_table(share):
    return bytes((b & 3) if b < share else 0 for b in range(256))


GRAIN = {share: grain_table(share) for share in (24, 48, 96, 160)}


def gradient(a, b, length, channels):
    """length pixels fading from colour a to colour b."""
    out = bytearray()
    for i in range(length):
        t = i / max(1, length - 1)
        out += bytes(int(x + (y - x) * t) for x, y in zip(a, b))
        if channels == 4:
            out.append(255)
    return bytes(out)


def drawing(rng, width, height, channels, grain, transparent_margin=0):
    """A drawn picture, row by row: spans of flat colour and of gradients between a handful of
    colours, whose edges drift a little from one row to the next, as the outlines of drawn
    shapes do; with grain, a photographic background's fine noise on top."""
    palette = [rng.randbytes(3) for _ in range(rng.randint(8, 24))]
    pixel = [c + (b"\xff" if channels == 4 else b"") for c in palette]
    strips = [gradient(rng.choice(palette), rng.choice(palette), n, channels)
              for n in (rng.randint(8, 160) for _ in range(12))]
    inner = width - 2 * transparent_margin
    edges = sorted(rng.sample(range(1, inner), min(inner - 1, rng.randint(4, 20))))
    kinds = [rng.randrange(len(pixel) + len(strips)) for _ in range(len(edges) + 1)]
    blank = bytes(transparent_margin * channels)
    rows = []
    for y in range(height):
        if y % rng.choice((1, 2, 4)) == 0:  # the outlines move
            edges = sorted(min(inner - 1, max(1, e + rng.randint(-2, 2))) for e in edges)
            if rng.random() < 0.05:
                kinds[rng.randrange(len(kinds))] = rng.randrange(len(pixel) + len(strips))
        parts, x = [], 0
        for edge, kind in zip(edges + [inner], kinds):
            n = edge - x
            if n <= 0:
                continue
            if kind < len(pixel):
                parts.append(pixel[kind] * n)
            else:
                strip = strips[kind - len(pixel)]
                parts.append((strip * (n * channels // len(strip) + 1))[:n * channels])
            x = edge
        row = b"".join(parts)
        if grain:
            noise = rng.randbytes(len(row)).translate(GRAIN[grain])
            row = (int.from_bytes(row, "little") ^ int.from_bytes(noise, "little")).to_bytes(
                len(row), "little")
        rows.append(blank + row + blank)
    return bmp(width, height, channels * 8, rows)


def picture(rng, width, height, grain):
    """A background or an event picture (24-bit); grain: 0 or a key of GRAIN."""
    return drawing(rng, width, height, 3, grain)


def sprite(rng, width, height):
    """A character with transparent margins (32-bit, alpha)."""
    return drawing(rng, width, height, 4, 24, transparent_margin=width // 5)


def image(rng):
    kind = rng.random()
    if kind < 0.05:
        return "bg", picture(rng, 800, 600, rng.choice((96, 160)))
    if kind < 0.08:
        return "ev", picture(rng, 800, 600, rng.choice((24, 48)))
    if kind < 0.28:
        return "ch", sprite(rng, rng.choice((256, 400)), rng.choice((512, 600)))
    w, h = rng.choice(((64, 32), (128, 48), (200, 60), (32, 32), (320, 120)))
    return "ui", picture(rng, w, h, 24)


def media(rng, size):
    return b"OggS" + rng.randbytes(size - 4)


def game_tree(root, size, count=None):
    """count: the files, when not those of a full game in proportion to size."""
    rng = random.Random(SEED)
    lines = script_lines(rng)
    count = count or max(30, round(FULL_COUNT * size / FULL_SIZE))
    budget = {"scenario": size * 0.12, "image": size * 0.63, "sound": size * 0.25}
    counts = {"scenario": int(count * 0.6), "image": int(count * 0.3)}
    counts["sound"] = count - 1 - counts["scenario"] - counts["image"]
    root.mkdir(parents=True, exist_ok=True)
    (root / "GAME.INI").write_bytes("[設定]\r\nName=BENCH\r\nTitle=ベンチマーク\r\n".encode("cp932"))

    written = {"scenario": 0, "image": 0, "sound": 0}
    scenario = root / "scenario"
    scenario.mkdir(exist_ok=True)
    for i in range(counts["scenario"]):
        average = budget["scenario"] / counts["scenario"]
        chapter = f"第{i // 100 + 1}章"
        (scenario / chapter).mkdir(exist_ok=True)
        data = script(rng, lines, max(200, int(rng.uniform(0.2, 1.8) * average)))
        (scenario / chapter / f"シーン{i:04d}.ks").write_bytes(data)
        written["scenario"] += len(data)

    images = root / "image"
    for i in range(counts["image"]):
        kind, data = image(rng)
        (images / kind).mkdir(parents=True, exist_ok=True)
        (images / kind / f"{kind}{i:04d}.bmp").write_bytes(data)
        written["image"] += len(data)

    sound = root / "sound"
    sound.mkdir(exist_ok=True)
    left = max(0, size - written["scenario"] - written["image"])
    for i in range(counts["sound"]):
        average = left / (counts["sound"] - i)
        data = media(rng, max(64, int(rng.uniform(0.3, 1.7) * average)))
        (sound / f"{rng.choice(('bgm', 'voice', 'se'))}{i:04d}.ogg").write_bytes(data)
        left -= len(data)


def one_file(path, size):
    """One file of the same kinds of data, in pieces of about a mebibyte."""
    rng = random.Random(SEED + 1)
    lines = script_lines(rng)
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as out:
        written = 0
        while written < size:
            kind = rng.random()
            if kind < 0.12:
                piece = script(rng, lines, 1 << 20)
            elif kind < 0.75:
                piece = picture(rng, 640, 480, rng.choice((24, 48, 96, 160)))
            else:
                piece = media(rng, 1 << 20)
            piece = piece[:size - written]
            out.write(piece)
            written += len(piece)


def tiny_files(root, count):
    rng = random.Random(SEED + 2)
    lines = script_lines(rng)
    for i in range(count):
        folder = root / f"d{i // 1000:03d}"
        if i % 1000 == 0:
            folder.mkdir(parents=True, exist_ok=True)
        (folder / f"f{i:06d}.txt").write_bytes(rng.choice(lines))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("target", type=pathlib.Path)
    parser.add_argument("--size", type=float, default=40, help="MiB of the game tree")
    parser.add_argument("--one-file", type=float, metavar="MIB", help="one file of MIB MiB")
    parser.add_argument("--tiny-files", type=int, metavar="COUNT", help="COUNT small files")
    args = parser.parse_args()
    if args.one_file is not None:
        one_file(args.target, int(args.one_file * (1 << 20)))
    elif args.tiny_files is not None:
        tiny_files(args.target, args.tiny_files)
    else:
        game_tree(args.target, int(args.size * (1 << 20)))


if __name__ == "__main__":
    main()
