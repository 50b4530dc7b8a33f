#!/usr/bin/env python3
"""Writes the code page 932 tables of base/ from what Windows itself reports, or checks them.

    scripts/cp932_tables.py generate [--reference FILE]   rewrites the two table files
    scripts/cp932_tables.py check [--reference FILE]      fails when they differ from Windows

Windows speaks through tests/differential/cp932_reference.cpp (built by the mingw64 preset as
cp932_reference.exe), run under scripts/wine-run unless --reference names a file that holds its
output already. Two files come out:

  base/cp932_unicode_table.cpp  Microsoft's code page 932: the UTF-16 unit of every code as
                                MultiByteToWideChar gives it, and what WideCharToMultiByte
                                (without best fit) chooses where two codes share a character
  base/word_sort_table.cpp      the weights behind Windows' word sort of names (lstrcmpiA and
                                CompareString in the Japanese locale), per code, packed as
                                base/word_sort.cpp reads them

Every fact the tables rest on is asserted on the way, so a Windows (or Wine) that behaves
differently stops the script instead of producing a table that is silently wrong.
"""
import argparse
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
UNICODE_TABLE = ROOT / "base" / "cp932_unicode_table.cpp"
SORT_TABLE = ROOT / "base" / "word_sort_table.cpp"
REFERENCE_PROGRAM = ROOT / "build" / "mingw64" / "bin" / "cp932_reference.exe"

NONE = 0xFFFF  # no character
DEFAULT_UNIT = 0x30FB  # what MultiByteToWideChar puts for a code without a character

# Packing of the sort weights (see base/word_sort.cpp).
IGNORED, NORMAL, EXPANSION, PUNCTUATION, NONSPACE, KANA, MARK = range(7)
PUA_SCRIPTS = range(0xA9, 0xB0)  # private use: a third primary byte in place of the diacritic
KANA_SCRIPT = 0x22


def is_lead(byte):
    return 0x81 <= byte <= 0x9F or 0xE0 <= byte <= 0xFC


def slot_of(code):
    """The table index of a code: single bytes first, then each lead byte's trails 0x40-0xFF."""
    if code < 0x100:
        return code
    lead, trail = code >> 8, code & 0xFF
    assert is_lead(lead) and trail >= 0x40
    return 256 + (lead - 0x81 if lead <= 0x9F else lead - 0xE0 + 31) * 192 + trail - 0x40


SLOT_COUNT = 256 + 60 * 192


def run_reference(program=REFERENCE_PROGRAM, runner=ROOT / "scripts" / "wine-run"):
    """The output of cp932_reference.exe, run under Wine."""
    if not pathlib.Path(program).exists():
        sys.exit(f"{program} is missing: build the mingw64 preset first")
    return subprocess.run([str(runner), str(program)], check=True, capture_output=True,
                          text=True).stdout


def parse(text):
    decode, encode, keys = {}, {}, {}
    unit = lambda field: None if field == "-" else int(field, 16)
    for line in text.splitlines():
        fields = line.split()
        if fields[0] == "decode":
            decode[int(fields[1], 16)] = (unit(fields[2]), unit(fields[3]))
        elif fields[0] == "encode":
            encode[int(fields[1], 16)] = int(fields[2], 16)
        elif fields[0] == "key":
            keys[int(fields[1], 16)] = [bytes.fromhex(k) if k != "-" else b"" for k in fields[2:]]
    assert len(decode) == SLOT_COUNT, "the reference output is incomplete"
    return decode, encode, keys


# ---- Conversion -------------------------------------------------------------------------------

def conversion_tables(decode, encode):
    units = [NONE] * SLOT_COUNT
    for code, (strict, _) in decode.items():
        if strict is not None:
            units[slot_of(code)] = strict
    for byte in range(0x80):
        assert decode[byte] == (byte, byte) and encode[byte] == byte, "ASCII is not itself"
    # Codes that decode to a unit whose own code is another one (NEC and IBM duplicates).
    decode_only = []
    for code, (strict, _) in sorted(decode.items()):
        if strict is None:
            continue
        assert strict in encode, f"{code:x} decodes to {strict:04x}, which does not encode"
        chosen = encode[strict]
        assert decode[chosen][0] == strict
        if chosen != code:
            decode_only.append(code)
    # Codes that only decode loosely (in file names) and that the encoder writes all the same.
    loose_only = []
    for code, (strict, loose) in sorted(decode.items()):
        if strict is None and loose is not None and loose != DEFAULT_UNIT:
            assert encode.get(loose) == code, f"{code:x} decodes loosely to a unit of its own"
            loose_only.append((code, loose))
    # Everything the encoder writes is accounted for.
    for unit, code in encode.items():
        strict, loose = decode[code]
        assert strict == unit or (strict is None and (code, unit) in loose_only), f"{unit:04x}"
    return units, decode_only, loose_only


# ---- Sort weights -----------------------------------------------------------------------------

def split_key(key):
    """The levels of a sort key: primary weights (a list of 2- or 3-byte tuples), diacritic,
    case, the kana levels (a list of four, or None) and the special (punctuation) weights."""
    i, primary = 0, []
    while key[i] != 1:
        width = 3 if key[i] in PUA_SCRIPTS else 2
        primary.append(tuple(key[i:i + width]))
        i += width
    levels = []
    for _ in range(3):
        j = key.index(1, i + 1)
        levels.append(key[i + 1:j])
        i = j
    diacritic, case, extra = levels
    special = key[i + 1:-1]
    kana = None
    if extra:  # E0 ff E1 02 E2 ff E3 ff
        e0, rest = extra.split(b"\xff", 1)
        e1, rest = rest.split(b"\x02", 1)
        e2, e3, tail = rest.split(b"\xff")
        assert tail == b""
        kana = [list(e0), list(e1), list(e2), list(e3)]
    return primary, list(diacritic), list(case), kana, special


def padded(values, count, default):
    return list(values) + [default] * (count - len(values))


def normal_word(primary, diacritic, case):
    assert case < 32, f"case weight {case:#x} does not fit"
    third = primary[2] if len(primary) == 3 else diacritic
    return NORMAL << 29 | case << 24 | third << 16 | primary[0] << 8 | primary[1]


def sort_weights(unit, keys, expansions):
    alone, ignoring_case, after_ka, after_half_ka, before_mark = keys[unit]
    primary, diacritic, case, kana, special = split_key(alone)
    _, _, case_ignored, _, special_ignored = split_key(ignoring_case)
    assert special == special_ignored
    if not primary and not special and not diacritic:
        return IGNORED << 29
    if not primary and special:
        assert special[:2] == b"\xff\xff" and len(special) == 4
        weight, mixed = special[2], special[3]
        return PUNCTUATION << 29 | (mixed & 7) << 24 | (mixed >> 3) << 16 | weight
    if not primary:
        assert len(diacritic) == 1
        return NONSPACE << 29 | diacritic[0] << 16
    if primary == [(0xFF, 0xFF)]:
        # A prolonged sound or repeat mark: it takes its weights from the kana before it.
        _, kana_diacritic, _, marked, _ = split_key(after_ka)
        _, _, _, half_marked, _ = split_key(after_half_ka)
        shape = padded(marked[1], 2, 3)[1] - 4
        assert shape in (0, 1)
        own_width = padded(half_marked[3], 2, 0xC5)[1] & 1 if shape == 1 else 0
        return MARK << 29 | padded(kana_diacritic, 2, 2)[1] << 16 | own_width << 8 | shape
    if kana is not None:
        assert len(primary) == 1 and primary[0][0] == KANA_SCRIPT
        e0 = padded(kana[0], 1, 0xC6)[0]
        e2 = padded(kana[2], 1, 0xE4)[0]
        e3 = padded(kana[3], 1, 0xC5)[0]
        assert e0 in (0xC4, 0xC6) and e2 in (0xC4, 0xE4) and e3 in (0xC4, 0xC5)
        extra = (e0 - 0xC4) | (e2 - 0xC4) | (e3 - 0xC4)
        return KANA << 29 | padded(diacritic, 1, 2)[0] << 16 | extra << 8 | primary[0][1]
    diacritics = padded(diacritic, len(primary), 2)
    cases = padded(case, len(primary), 2)
    for case_weight, ignored in zip(cases, padded(case_ignored, len(primary), 2)):
        assert ignored == case_weight & ~0x18, "NORM_IGNORECASE clears other bits than expected"
    words = []
    d = 0
    for element, case_weight in zip(primary, cases):
        words.append(normal_word(element, diacritics[d] if len(element) == 2 else 0, case_weight))
        d += len(element) == 2
    # Whether a mark after the character copies its weights or finds nothing to copy.
    mark_primary = split_key(before_mark)[0][len(primary):]
    blocks = mark_primary == [(0xFF, 0xFF)]
    assert blocks or mark_primary == primary[:1], f"{unit:04x}: unexpected mark behaviour"
    if len(words) == 1 and not blocks:
        return words[0]
    assert 0 < len(words) < 16
    first = len(expansions)
    expansions.extend(words)
    return EXPANSION << 29 | len(words) << 16 | first


def sort_tables(decode, keys):
    expansions, weights = [], [0] * SLOT_COUNT
    default = sort_weights(DEFAULT_UNIT, keys, expansions)
    cache = {}
    for code, (_, loose) in decode.items():
        if loose is None:
            weights[slot_of(code)] = default
            continue
        if loose not in cache:
            cache[loose] = sort_weights(loose, keys, expansions)
        weights[slot_of(code)] = cache[loose]
    return weights, expansions, default


# ---- Output -----------------------------------------------------------------------------------

HEADER = """// Generated by scripts/cp932_tables.py from what Windows reports (under Wine); do not edit.
// The differential test regenerates it and fails when Windows and this file disagree.
"""


def rows(values, per_line, width):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append("    " + " ".join(f"0x{v:0{width}x}," for v in values[i:i + per_line]))
    return "\n".join(lines)


def unicode_source(units, decode_only, loose_only):
    pairs = " ".join(f"{{0x{c:x}, 0x{u:04x}}}," for c, u in loose_only)
    return f"""{HEADER}#include "base/cp932_tables.h"

namespace cp932::tables {{

// clang-format off
const uint16_t kUnicode[kSlotCount] = {{
{rows(units, 12, 4)}
}};

const uint16_t kDecodeOnly[kDecodeOnlyCount] = {{
{rows(decode_only, 12, 4)}
}};

const uint16_t kLooseOnly[kLooseOnlyCount][2] = {{
    {pairs}
}};
// clang-format on

}} // namespace cp932::tables
""", len(decode_only), len(loose_only)


def sort_source(weights, expansions):
    return f"""{HEADER}#include "base/cp932_tables.h"

namespace cp932::tables {{

// clang-format off
const uint32_t kSortWeights[kSlotCount] = {{
{rows(weights, 8, 8)}
}};

const uint32_t kSortExpansions[kSortExpansionCount] = {{
{rows(expansions, 8, 8)}
}};
// clang-format on

}} // namespace cp932::tables
"""


def build(reference_text):
    decode, encode, keys = parse(reference_text)
    units, decode_only, loose_only = conversion_tables(decode, encode)
    weights, expansions, _ = sort_tables(decode, keys)
    unicode_text, decode_only_count, loose_only_count = unicode_source(units, decode_only,
                                                                       loose_only)
    counts = {"kDecodeOnlyCount": decode_only_count, "kLooseOnlyCount": loose_only_count,
              "kSortExpansionCount": len(expansions)}
    return {UNICODE_TABLE: unicode_text, SORT_TABLE: sort_source(weights, expansions)}, counts


def stale_files(reference_text):
    """The table files (and counts in cp932_tables.h) that differ from what reference_text says,
    as a list of problems, and the files as they should be."""
    files, counts = build(reference_text)
    header = (ROOT / "base" / "cp932_tables.h").read_text()
    problems = [f"base/cp932_tables.h: {name} should be {value}"
                for name, value in counts.items() if f"{name} = {value};" not in header]
    problems += [f"{path.relative_to(ROOT)} differs from what Windows reports"
                 for path, text in files.items() if not path.exists() or path.read_text() != text]
    return problems, files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("action", choices=["generate", "check"])
    parser.add_argument("--reference", type=pathlib.Path,
                        help="output of cp932_reference.exe (run it under Wine otherwise)")
    args = parser.parse_args()
    text = args.reference.read_text() if args.reference else run_reference()
    problems, files = stale_files(text)
    if args.action == "check":
        if problems:
            sys.exit("\n".join(problems))
        print("the code page 932 tables agree with Windows")
        return 0
    for path, content in files.items():
        if not path.exists() or path.read_text() != content:
            path.write_text(content)
            print(f"wrote {path.relative_to(ROOT)}")
    for problem in problems:
        if problem.startswith("base/cp932_tables.h"):
            print(problem + " (edit it by hand)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
