"""Times check() on 10 MB texts of the shapes that once cost quadratic time.

    python bench/long_texts.py             print the time of each family
    python bench/long_texts.py --limit 60  also fail when the whole run takes longer

Each family's verdict is checked too, so a fast wrong answer does not pass.
"""

import argparse
import sys
import time

from korvel._native import Registry

MB = 1024 * 1024
TOO_LONG = "DNS syntax: domain exceeds 253 characters"
INVALID = "DNS syntax: invalid IDNA input"


def repeat(unit, size=10 * MB):
    return unit * (size // len(unit.encode()))


FAMILIES = [
    ("rejected xn-- labels", repeat("xn--a."), INVALID),
    ("valid xn-- labels", repeat("xn--4ca."), TOO_LONG),
    ("a. repeated", repeat("a."), TOO_LONG),
    ("\u00e4. repeated", repeat("\u00e4."), TOO_LONG),
    ("one ASCII label", repeat("a"), TOO_LONG),
    ("one internationalised label", repeat("\u00e4"), TOO_LONG),
    ("one xn-- label, well-formed", "xn--4ca" + repeat("a", 10 * MB - 7), TOO_LONG),  # "\u00e4" repeated
    ("one xn-- label, malformed", "xn--" + repeat("9", 10 * MB - 4), INVALID),
    ("right-to-left among left-to-right", repeat("\u05d0.ab."), TOO_LONG),
    ("right-to-left, one label breaks the rule", repeat("\u05d0.ab.") + "1a", INVALID),
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
        if result.reasons != [reason]:
            wrong.append(f"{name}: {result.reasons} (expected {[reason]})")
    print(f"{'all':42} {'':8} {total * 1000:9.1f} ms")
    for line in wrong:
        print(f"wrong verdict: {line}", file=sys.stderr)
    if args.limit is not None and total > args.limit:
        print(f"the run took {total:.1f} s, over its limit of {args.limit:.0f} s", file=sys.stderr)
    return 1 if wrong or (args.limit is not None and total > args.limit) else 0


if __name__ == "__main__":
    sys.exit(main())
