"""Checks a handful of names and prints each verdict.

    .venv/bin/python examples/check_names.py
"""

from korvel import Registry

NAMES = ["example.com", "shop.example.com", "ab.co.uk", "example.de", "ZA.sk", "exämple.com", "example.test"]


def main() -> None:
    registry = Registry()
    for name in NAMES:
        print(f"{name}: {registry.check(name)}")


if __name__ == "__main__":
    main()
