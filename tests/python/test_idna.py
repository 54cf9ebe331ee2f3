"""The IDNA stage: Unicode 17.0 data carried by the module, and no length judged
by the conversion."""

import pathlib
import shutil
import subprocess

import pytest

from korvel import _native

TOO_LONG = "DNS syntax: domain exceeds 253 characters"
INVALID = "DNS syntax: invalid IDNA input"


def a_label(u_label):
    """Independent of the module's converter: Python's own Punycode codec."""
    return "xn--" + u_label.encode("punycode").decode("ascii")


def subdomain(name, registrable):
    return f"'{name}' is a subdomain of '{registrable}' \u2014 retry with '{registrable}'"


def example_com():
    return _native.Registry().check("example.com").reasons


# Where Unicode 15.0 data and current data part ways, current data's answer.
@pytest.mark.parametrize(
    "text, mapped",
    [
        ("www.STRA\u1e9eE.de", "stra\u00dfe.de"),  # capital sharp s maps to U+00DF since 15.1
        ("www.\u10a0bc.com", "\u2d00bc.com"),  # Georgian capitals map to lower case
        ("www.\u1c89.com", "\u1c8a.com"),  # new in 16.0
        ("www.\ua7ce.com", "\ua7cf.com"),  # new in 17.0
    ],
    ids=["sharp_s", "georgian", "unicode16", "unicode17"],
)
def test_current_mappings(registry, text, mapped):
    label, suffix = mapped.split(".", 1)
    name = f"{a_label(label)}.{suffix}"
    result = registry.check(text)
    assert result.status == "no"
    assert result.reasons == [subdomain(f"www.{name}", name)]


@pytest.mark.parametrize("char", ["\u180e", "\u17b4", "\u115f", "\u1160", "\u3164", "\uffa0"])
def test_ignored_characters_vanish(registry, char):
    assert registry.check(f"example.com{char}").reasons == example_com()
    # Inside a label too; the first label is left alone, as the IDN test reads it.
    assert registry.check(f"www.exa{char}mple.com").reasons == [subdomain("www.example.com", "example.com")]


# ICU's Punycode encoder refuses labels over 1000 UTF-16 units; such a label can
# only make the name too long, so the answer is the syntax stage's.
@pytest.mark.parametrize(
    "text, reason",
    [
        ("a" * 999 + "\u00e4.com", TOO_LONG),
        ("a" * 1000 + "\u00e4.com", TOO_LONG),
        ("a" * 5000 + "\u00e4.com", TOO_LONG),
        ("b." * 3000 + "a" * 1000 + "\u00e4.com", TOO_LONG),
        ("a" * 1000 + "\u00e4.\u0301x.com", INVALID),
        ("\u05d0.1" + "a" * 1000 + "\u00e4", INVALID),
    ],
    ids=["999", "1000", "5000", "among_labels", "other_label_invalid", "bidi_broken"],
)
def test_label_length_is_not_judged_by_the_conversion(registry, text, reason):
    result = registry.check(text)
    assert result.status == "no"
    assert result.reasons == [reason]


# ICU decodes at most 2000 Punycode characters; a longer well-formed "xn--"
# label stays as it is and makes the name too long, while an invalid one is refused.
@pytest.mark.parametrize(
    "u_label, reason",
    [
        ("\u00e4" * 3000, TOO_LONG),
        ("a" * 500 + "\u00e4\u00f6\u00fc" * 700, TOO_LONG),
        ("\u4e00\u0434\u03b1" * 800, TOO_LONG),
        ("\u00c4" * 3000, INVALID),  # a capital: not as the mapping leaves it
        ("\u0301" + "\u00e4" * 3000, INVALID),  # begins with a combining mark
        ("\u00e4" * 1500 + "\u3002" + "\u00e4" * 1500, INVALID),  # a full stop inside
        ("a\u200db" + "\u00e4" * 3000, INVALID),  # a joiner out of context
    ],
    ids=["umlauts", "mixed", "three_scripts", "capital", "combining_mark", "full_stop", "joiner"],
)
def test_long_ace_labels(registry, u_label, reason):
    label = a_label(u_label)
    assert len(label) > 2004
    full_width = "".join(chr(ord(c) + 0xFEE0) for c in label.upper())  # maps back to the label
    for text in (label, label.upper(), f"www.{label}", "b." * 3000 + label, full_width):
        assert registry.check(f"{text}.com").reasons == [reason]


@pytest.mark.parametrize(
    "text",
    [
        "xn--" + "a" * 3000 + "-",  # decodes to ASCII only
        "xn--" + "9" * 3000,  # overflows
        "xn--" + "\u00e4" * 3000,  # not ASCII after the prefix
        "\u05d0.xn--" + a_label("1" + "\u00e4" * 3000)[4:],  # breaks the bidi rule in a right-to-left name
    ],
    ids=["ascii_only", "overflow", "non_ascii", "bidi"],
)
def test_long_ace_labels_refused(registry, text):
    assert registry.check(text).reasons == [INVALID]


@pytest.mark.skipif(shutil.which("readelf") is None, reason="needs readelf (binutils)")
def test_module_needs_no_icu_library():
    dynamic = subprocess.run(
        ["readelf", "-d", pathlib.Path(_native.__file__)], capture_output=True, text=True, check=True
    ).stdout
    needed = [line for line in dynamic.splitlines() if "(NEEDED)" in line]
    assert needed
    assert not [line for line in needed if "icu" in line.lower()]
