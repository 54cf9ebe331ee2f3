"""Long runs through the module do not grow the process.

Each road runs 200 000 times after a warm-up; the resident size may move by
allocator noise, but a leak of even a few bytes a call would show.
"""

import gc
import os

import pytest

CALLS = 200_000
WARM_UP = 20_000
LIMIT = 2 * 1024 * 1024

DOMAINS = [
    "example.com",
    "  Example.CO.UK.. ",
    "ab.co.uk",
    "ZA.sk",
    "example.de",
    "example.test",
    "shop.example.com",
    "foo.example",
    "ex\u00e4mple.com",
    "example.\u0440\u0444",
    "\u0301example.com",
    "",
]
SUFFIXES = ["de", " TEST ", "..co.uk", "\u0440\u0444", "xn--5su34j936bgsg", "*.ck", "nothing-here", ""]
TLD_ATTRIBUTES = [
    "tld", "registerable", "reason", "note", "restrictions", "min_length", "max_length",
    "length_basis", "banned", "charset", "idn_chars", "sources",
]


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def under_address_sanitizer():
    with open("/proc/self/maps") as f:
        return "libasan" in f.read()


def checks(registry, n):
    for i in range(n):
        result = registry.check(DOMAINS[i % len(DOMAINS)])
        result.status
        result.reasons
        repr(result)
        str(result)


def rule_queries(registry, n):
    for i in range(n):
        info = registry.tld_info(SUFFIXES[i % len(SUFFIXES)])
        if info is not None:
            for name in TLD_ATTRIBUTES:
                getattr(info, name)
            repr(info)


def statistics(registry, n):
    for _ in range(n):
        registry.rule_count()
        registry.stats()


def refusals(registry, n):
    # Every error leaves through the same boundary code as a result does.
    bad = [None, 5, b"example.com", "\ud800.com"]
    for i in range(n):
        arg = bad[i % len(bad)]
        for method in (registry.check, registry.tld_info):
            try:
                method(arg)
            except (TypeError, UnicodeEncodeError):
                pass


@pytest.mark.skipif(under_address_sanitizer(), reason="ASan holds freed memory in quarantine; its leak check covers this run")
@pytest.mark.parametrize("road", [checks, rule_queries, statistics, refusals], ids=lambda f: f.__name__)
def test_resident_size_stays_flat(registry, road):
    road(registry, WARM_UP)
    gc.collect()
    before = resident_bytes()
    road(registry, CALLS)
    gc.collect()
    grown = resident_bytes() - before
    assert grown < LIMIT, f"{road.__name__}: {CALLS} rounds grew the resident size by {grown} bytes"
