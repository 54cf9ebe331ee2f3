"""Hostile and odd arguments at the boundary: each gives a CheckResult, None or
the boundary's exact error, and the interpreter carries on as before."""

import pytest

from korvel._native import CheckResult

MB = 1024 * 1024


@pytest.fixture(autouse=True)
def still_usable(registry):
    yield
    assert registry.check("example.com").status == "yes"
    assert registry.tld_info("de").tld == "de"


def assert_verdict(result):
    assert type(result) is CheckResult
    assert result.status in ("yes", "no", "restricted", "unknown")
    assert result.reasons
    if result.status != "yes":
        assert len(result.reasons) == 1
    assert repr(result) == str(result)


@pytest.mark.parametrize(
    "text, reason",
    [
        ("a" * (10 * MB), "DNS syntax: domain exceeds 253 characters"),
        ("ab." * (10 * MB // 3), "DNS syntax: domain exceeds 253 characters"),
        ("." * (10 * MB), "DNS syntax: empty domain"),
        (" \u3000" * (10 * MB // 4), "DNS syntax: empty domain"),
        ("\u00e4" * (5 * MB), "DNS syntax: invalid IDNA input"),
        ("\u00e4" * (5 * MB - 9) + ".example.com", "DNS syntax: invalid IDNA input"),
        ("\u00e4." * (10 * MB // 3), "DNS syntax: domain exceeds 253 characters"),
        ("\u05d0\u3002" * (10 * MB // 5), "DNS syntax: domain exceeds 253 characters"),
        ("\u05d0.ab." * (10 * MB // 6) + "1a", "DNS syntax: invalid IDNA input"),
        ("xn--a." * (10 * MB // 6), "DNS syntax: invalid IDNA input"),
        ("xn--4ca." * (10 * MB // 8), "DNS syntax: domain exceeds 253 characters"),
        # Stretches that ICU's normaliser takes quadratic time over; some behind many labels.
        ("a" + "\u0301\u0316" * (10 * MB // 4) + ".com", "DNS syntax: invalid IDNA input"),
        ("ab." * (MB // 3) + "\u0f73" * (3 * MB), "DNS syntax: invalid IDNA input"),
        ("\U00016d68" * (10 * MB // 4), "DNS syntax: invalid IDNA input"),
        ("ab." * (MB // 3) + "\U00016d67\u00ad" * (10 * MB // 6), "DNS syntax: invalid IDNA input"),
        (("xn--bj0f" + "a" * 1996 + ".") * (10 * MB // 2005) + "com", "DNS syntax: invalid IDNA input"),
        ("xn--bj0f" + "a" * (10 * MB), "DNS syntax: invalid IDNA input"),
        ("\ufdfa" * (10 * MB // 3), "DNS syntax: invalid IDNA input"),
    ],
    ids=["ascii", "labels", "dots", "white_space", "idn_label", "idn_label_under_com", "idn_labels", "rtl_labels",
         "rtl_rule_broken", "rejected_ace_labels", "valid_ace_labels", "marks_reordered", "decomposing_marks",
         "composing_vowel_signs", "vowel_signs_and_removed", "ace_labels_decoding_long", "one_ace_label_decoding_long",
         "long_mappings"],
)
def test_ten_megabytes(registry, text, reason):
    result = registry.check(text)
    assert_verdict(result)
    assert result.status == "no"
    if reason is not None:
        assert result.reasons == [reason]
    else:
        assert result.reasons[0].startswith("DNS syntax: ")
    assert registry.tld_info(text) is None


@pytest.mark.parametrize(
    "text",
    ["example.com\0", "exa\0mple.com", "\0example.com", "\0", "example.com\0\0.net"],
)
def test_nul_is_a_character_not_an_end(registry, text):
    # A NUL that cut the text short would turn some of these into "yes".
    assert registry.check(text).reasons == ["DNS syntax: label contains invalid characters"]


@pytest.mark.parametrize("text", ["de\0", "\0de", "\0", "d\0e"])
def test_nul_in_a_suffix_finds_nothing(registry, text):
    assert registry.tld_info(text) is None


# One character from each of the 17 planes: assigned ones, unassigned ones, a
# variation selector (which the conversion drops) and private use.
PLANES = [
    "\u00e9", "\U0001f600", "\U00020000", "\U00030000", "\U00040000", "\U00050000",
    "\U00060000", "\U00070000", "\U00080000", "\U00090000", "\U000a0000", "\U000b0000",
    "\U000c0000", "\U000d0000", "\U000e0100", "\U000f0000", "\U0010fffd",
]


@pytest.mark.parametrize("char", PLANES, ids=[f"plane{n}" for n in range(17)])
def test_a_character_of_every_plane(registry, char):
    # .com takes ASCII labels only, so none of these may pass.
    result = registry.check(f"{char}.com")
    assert_verdict(result)
    assert result.status == "no"
    for text in (char, f"example.{char}", f"{char}{char}.{char}"):
        assert_verdict(registry.check(text))
    assert registry.tld_info(char) is None


@pytest.mark.parametrize("text", ["\ud800", "\udfff", "a\udc80.com", "example.com\ud83d"])
@pytest.mark.parametrize("method, keyword", [("check", "domain"), ("tld_info", "tld")])
def test_lone_surrogates_raise_the_encoding_error(registry, text, method, keyword):
    call = getattr(registry, method)
    for args, kwargs in (((text,), {}), ((), {keyword: text})):
        with pytest.raises(UnicodeEncodeError) as raised:
            call(*args, **kwargs)
        assert type(raised.value) is UnicodeEncodeError


@pytest.mark.parametrize(
    "value, message",
    [
        (b"example.com", "'bytes' object is not an instance of 'str'"),
        (bytearray(b"example.com"), "'bytearray' object is not an instance of 'str'"),
        (5, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
    ],
    ids=["bytes", "bytearray", "int", "None"],
)
@pytest.mark.parametrize("method, keyword", [("check", "domain"), ("tld_info", "tld")])
def test_other_types_raise_the_boundary_error(registry, value, message, method, keyword):
    with pytest.raises(TypeError) as raised:
        getattr(registry, method)(value)
    assert type(raised.value) is TypeError
    assert str(raised.value) == f"argument '{keyword}': {message}"
    assert raised.value.__cause__ is None


class Liar(str):
    """A str whose every conversion tells a different story from its text."""

    def __str__(self):
        return "example.com"

    def __repr__(self):
        return "'example.com'"

    def __format__(self, spec):
        return "example.com"

    def encode(self, *args, **kwargs):
        return b"example.com"

    def __len__(self):
        return 0

    def __getitem__(self, index):
        return "x"

    def __iter__(self):
        return iter("example.com")


def test_a_lying_str_subclass_is_taken_by_its_text(registry):
    assert registry.check(Liar("ZA.sk")).reasons == registry.check("ZA.sk").reasons
    assert registry.check(Liar("ZA.sk")).status == "no"
    assert registry.tld_info(Liar(" DE ")).tld == "de"
    assert registry.tld_info(Liar("example.com")) is None
    with pytest.raises(UnicodeEncodeError):
        registry.check(Liar("\ud800"))
