#!/usr/bin/env python3
"""Writes src/escape_ranges.inc: the code points that the quoted form of a
reason (CheckResult's text form) writes as a \\u{...} escape.

A code point is escaped when it has the property Grapheme_Extend, or when its
general category is Cc, Cf, Cs, Co, Cn, Zl, Zp or Zs, except U+0020 SPACE.
Code points that DerivedGeneralCategory.txt does not list are Cn.

Usage:
    python3 tools/gen_escapes.py --ucd /work/shared/ucd-17.0.0 [--out src/escape_ranges.inc]

--ucd is a folder holding DerivedCoreProperties.txt and DerivedGeneralCategory.txt
of one Unicode version; both must name the same version. The output holds one
"{first, last}," row per maximal range, ascending, for a binary search.
Standard library only.
"""

import argparse
import pathlib
import re
import sys

ESCAPED_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"}
MAX_CODE_POINT = 0x10FFFF


def read_version(path):
    first = path.read_text(encoding="utf-8").splitlines()[0]
    match = re.fullmatch(r"# \w+-(\d+\.\d+\.\d+)\.txt", first.strip())
    if not match:
        sys.exit(f"{path}: no version line at the top")
    return match.group(1)


def records(path):
    """(first, last, fields) for every data line."""
    for line in path.read_text(encoding="utf-8").splitlines():
        data = line.split("#", 1)[0].strip()
        if not data:
            continue
        fields = [f.strip() for f in data.split(";")]
        span = fields[0].split("..")
        first = int(span[0], 16)
        last = int(span[-1], 16)
        yield first, last, fields[1:]


def escaped_set(core_path, category_path):
    escaped = bytearray(MAX_CODE_POINT + 1)

    for first, last, fields in records(core_path):
        if fields == ["Grapheme_Extend"]:
            escaped[first:last + 1] = b"\1" * (last - first + 1)

    listed = bytearray(MAX_CODE_POINT + 1)
    for first, last, fields in records(category_path):
        category = fields[0]
        listed[first:last + 1] = b"\1" * (last - first + 1)
        if category in ESCAPED_CATEGORIES:
            escaped[first:last + 1] = b"\1" * (last - first + 1)
    for cp in range(MAX_CODE_POINT + 1):
        if not listed[cp]:  # unlisted: Cn
            escaped[cp] = 1

    escaped[0x20] = 0
    return escaped


def ranges(flags):
    out = []
    cp = 0
    while cp <= MAX_CODE_POINT:
        if flags[cp]:
            start = cp
            while cp + 1 <= MAX_CODE_POINT and flags[cp + 1]:
                cp += 1
            out.append((start, cp))
        cp += 1
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ucd", required=True, type=pathlib.Path)
    parser.add_argument("--out", type=pathlib.Path,
                        default=pathlib.Path(__file__).resolve().parent.parent / "src" / "escape_ranges.inc")
    args = parser.parse_args()

    core = args.ucd / "DerivedCoreProperties.txt"
    categories = args.ucd / "DerivedGeneralCategory.txt"
    version = read_version(core)
    if read_version(categories) != version:
        sys.exit("the two files are of different Unicode versions")

    table = ranges(escaped_set(core, categories))
    # Checks that guard the rows the quoted form relies on.
    def contains(cp):
        return any(a <= cp <= b for a, b in table)
    for cp in (0x0, 0x7F, 0xA0, 0x301, 0x200B, 0xFEFF, 0xE000, 0xFF9E, 0x10FFFF):
        assert contains(cp), hex(cp)
    for cp in (0x20, 0x27, 0x41, 0x2014, 0x1F3FB):
        assert not contains(cp), hex(cp)

    lines = [
        f"// Written by tools/gen_escapes.py from Unicode {version} (DerivedCoreProperties.txt,",
        "// DerivedGeneralCategory.txt). Do not edit; run the script again instead.",
        "// Code points that a quoted reason writes as \\u{...}: Grapheme_Extend, and the general",
        f"// categories Cc Cf Cs Co Cn Zl Zp Zs except U+0020. {len(table)} ranges, ascending.",
    ]
    row = []
    for first, last in table:
        row.append(f"{{0x{first:X}, 0x{last:X}}},")
        if len(row) == 6:
            lines.append(" ".join(row))
            row = []
    if row:
        lines.append(" ".join(row))
    args.out.write_text("\n".join(lines) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
