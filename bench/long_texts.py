"""Times check() on long texts of the shapes that once cost quadratic time.

    python bench/long_texts.py             print the time of each family
    python bench/long_texts.py --limit 60  also fail when the whole run takes longer

Each family's verdict is checked too, so a fast wrong answer does not pass.
Most families are 10 MB. The last ones hold labels that the conversion accepts
but that ICU converts slowly (its normaliser and Punycode coder cost time in
the square of a label's length, and a label may hold up to 1000 code points):
their cost is linear in the text, at several milliseconds a label, so they run
at 1 MB.
"""

import argparse
import sys
import time

from korvel._native import Registry

MB = 1024 * 1024
TOO_LONG = "DNS syntax: domain exceeds 253 characters"
INVALID = "DNS syntax: invalid IDNA input"

# Fifteen combining marks, their canonical classes descending from 240 to 34.
DESCENDING_MARKS = "\u0345\u035d\u035c\u0315\u0301\u05ae\u059a\u0316\u302a\u031b\u1dce\u0327\u0711\u0670\u0652"


def repeat(unit, size=10 * MB):
    return unit * (size // len(unit.encode()))


def ace(u_label):
    return "xn--" + u_label.encode("punycode").decode("ascii")


FAMILIES = [
    ("rejected xn-- labels", repeat("xn--a."), INVALID),
    ("valid xn-- labels", repeat("xn--4ca."), TOO_LONG),
    ("a. repeated", repeat("a."), TOO_LONG),
    ("\u00e4. repeated", repeat("\u00e4."), TOO_LONG),
    ("one ASCII label", repeat("a"), TOO_LONG),
    ("one full-width ASCII label", repeat("\uff41"), TOO_LONG),
    ("one internationalised label", repeat("\u00e4"), INVALID),
    ("one xn-- label, well-formed", "xn--4ca" + repeat("a", 10 * MB - 7), INVALID),
    ("one xn-- label, malformed", "xn--" + repeat("9", 10 * MB - 4), INVALID),
    ("right-to-left among left-to-right", repeat("\u05d0.ab."), TOO_LONG),
    ("right-to-left, one label breaks the rule", repeat("\u05d0.ab.") + "1a", INVALID),
    # A stretch between two composition boundaries: ICU's normaliser is quadratic in it.
    ("marks out of order", "a" + repeat("\u0301\u0316") + ".com", INVALID),
    ("fifteen classes descending", "a" + repeat(DESCENDING_MARKS) + ".com", INVALID),
    ("U+0F73 (decomposes into two marks)", repeat("\u0f73"), INVALID),
    ("U+0344 with U+0316", repeat("\u0344\u0316"), INVALID),
    ("U+16D67 (pairs compose)", repeat("\U00016d67"), INVALID),
    ("U+16D68 (composed already)", repeat("\U00016d68"), INVALID),
    ("U+11392 then U+113C5", "\U00011392" + repeat("\U000113c5"), INVALID),
    ("U+16104 then U+16121", "\U00016104" + repeat("\U00016121"), INVALID),
    ("U+16D67 and U+00AD (mapped to nothing)", repeat("\U00016d67\u00ad"), INVALID),
    ("250 mark pairs, U+00AD", repeat("\u0301\u0316" * 250 + "\u00ad"), INVALID),
    ("many labels, then marks out of order", repeat("ab.", 5 * MB) + "a" + repeat("\u0301\u0316", 5 * MB), INVALID),
    ("xn-- labels decoding to 1997 U+16D68", repeat("xn--bj0f" + "a" * 1996 + ".") + "com", INVALID),
    ("one xn-- label decoding to U+16D68", "xn--bj0f" + repeat("a", 10 * MB - 8), INVALID),
    ("U+FDFA (maps to 18 characters)", repeat("\ufdfa"), INVALID),
    ("U+00AD around one letter", "a" + repeat("\u00ad") + ".com", "TLD rule: .com does not support IDN (charset is ASCII only)"),
    # Accepted labels at the limit, slow in ICU itself.
    ("labels of 1000 U+16D68", repeat("\U00016d68" * 1000 + ".", MB), TOO_LONG),
    ("xn-- labels decoding to 997 U+16D68", repeat("xn--bj0f" + "a" * 996 + ".", MB), TOO_LONG),
    ("labels of 1000 distinct CJK ideographs", repeat("".join(map(chr, range(0x4E00, 0x4E00 + 1000))) + ".", MB),
     TOO_LONG),
    ("their A-labels (960, Punycode at its limit)", repeat(ace("".join(map(chr, range(0x4E00, 0x4E00 + 960)))) + ".", MB),
     TOO_LONG),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=float, help="seconds the whole run may take")
    args = parser.parse_args()

    registry = Registry()
    total = 0.0
    wrong = []
    for name, text, reason in FAMILIES:
        start = time.perf_counter()
        result = registry.check(text)
        elapsed = time.perf_counter() - start
        total += elapsed
        print(f"{name:42} {len(text.encode()) / MB:5.1f} MB {elapsed * 1000:9.1f} ms")
        if result.reasons[0] != reason:
            wrong.append(f"{name}: {result.reasons} (expected {reason!r} first)")
    print(f"{'all':42} {'':8} {total * 1000:9.1f} ms")
    for line in wrong:
        print(f"wrong verdict: {line}", file=sys.stderr)
    if args.limit is not None and total > args.limit:
        print(f"the run took {total:.1f} s, over its limit of {args.limit:.0f} s", file=sys.stderr)
    return 1 if wrong or (args.limit is not None and total > args.limit) else 0


if __name__ == "__main__":
    sys.exit(main())
