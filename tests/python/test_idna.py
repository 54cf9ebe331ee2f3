"""The IDNA stage: Unicode 17.0 data carried by the module, and the label limits
of the reference conversion."""

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


def cjk_label(ideographs, letters):
    """A valid label: some "a"s, then distinct CJK ideographs (about three Punycode characters each)."""
    return "a" * letters + "".join(chr(0x4E00 + (i * 7919) % 20000) for i in range(ideographs))


ACE_2000 = a_label(cjk_label(671, 2))
ACE_2001 = a_label(cjk_label(670, 4))


# The reference conversion refuses a label that is not ASCII after mapping and
# normalisation beyond 1000 code points, and an "xn--" label beyond 2000
# Punycode characters or decoding to more than 1000 code points. An accepted
# label of that size only makes the name too long.
@pytest.mark.parametrize(
    "text, reason",
    [
        ("a" * 999 + "\u00e4.com", TOO_LONG),
        ("a" * 1000 + "\u00e4.com", INVALID),
        ("\u00e4" * 1000 + ".com", TOO_LONG),
        ("\u00e4" * 1001 + ".com", INVALID),
        ("\U00010400" * 501 + ".com", TOO_LONG),  # beyond ICU's encoder, which counts UTF-16 units
        ("\U00010400" * 1000 + ".com", TOO_LONG),
        ("\U00010400" * 1001 + ".com", INVALID),
        ("a" * 1001 + ".com", TOO_LONG),  # ASCII has no limit
        ("\u00ad" * 5000 + "\u00e4.com", "TLD rule: .com does not support IDN (charset is ASCII only)"),
        ("a" + "\u0301\u0316" * 500 + ".com", TOO_LONG),  # NFC: "\u00e1" and 999 marks
        ("a" + "\u0301\u0316" * 501 + ".com", INVALID),
        ("\U00016D67" * 2000 + ".com", TOO_LONG),  # pairs compose: 1000 code points
        ("\U00016D67" * 2002 + ".com", INVALID),
        (ACE_2000 + ".com", TOO_LONG),
        (ACE_2001 + ".com", INVALID),
        (ACE_2000.upper() + ".com", TOO_LONG),  # the limits are the mapped text's
        ("".join(chr(ord(c) + 0xFEE0) for c in ACE_2000.upper()) + ".com", TOO_LONG),
        ("".join(chr(ord(c) + 0xFEE0) for c in ACE_2001.upper()) + ".com", INVALID),
        (a_label("a" * 999 + "\u00e4") + ".com", TOO_LONG),
        (a_label("a" * 1000 + "\u00e4") + ".com", INVALID),  # decodes to 1001 code points
        ("b." * 3000 + "a" * 1000 + "\u00e4.com", INVALID),  # in pieces
        ("b." * 3000 + "a" * 999 + "\u00e4." + "b." * 3000 + "com", TOO_LONG),
    ],
    ids=["1000", "1001", "umlauts_1000", "umlauts_1001", "astral_501", "astral_1000", "astral_1001",
         "ascii_1001", "removed_by_mapping", "marks_1000", "marks_1001", "composed_1000", "composed_1001",
         "ace_2000", "ace_2001", "ace_upper", "ace_full_width_2000", "ace_full_width_2001",
         "ace_decodes_to_1000", "ace_decodes_to_1001", "pieces_1001", "pieces_1000"],
)
def test_label_limits(registry, text, reason):
    assert len(ACE_2000) == 2004 and len(ACE_2001) == 2005
    assert registry.check(text).reasons == [reason]


@pytest.mark.parametrize(
    "text",
    [
        "xn--" + "9" * 300,  # overflows
        "xn--" + "a" * 300 + "-",  # decodes to ASCII only
        "\u05d0.xn--" + a_label("1" + "\u00e4" * 500)[4:],  # breaks the bidi rule in a right-to-left name
        "\u05d0." + "b." * 3000 + "1" + "\u00e4" * 500,  # the same, in pieces
        "\u05d0." + "b." * 3000 + a_label("1" + "\u00e4" * 500),
    ],
    ids=["overflow", "ascii_only", "bidi", "bidi_in_pieces", "bidi_ace_in_pieces"],
)
def test_long_labels_refused_for_more_than_length(registry, text):
    assert registry.check(text).reasons == [INVALID]


@pytest.mark.skipif(shutil.which("readelf") is None, reason="needs readelf (binutils)")
def test_module_needs_no_icu_library():
    dynamic = subprocess.run(
        ["readelf", "-d", pathlib.Path(_native.__file__)], capture_output=True, text=True, check=True
    ).stdout
    needed = [line for line in dynamic.splitlines() if "(NEEDED)" in line]
    assert needed
    assert not [line for line in needed if "icu" in line.lower()]
