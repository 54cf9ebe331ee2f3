import pytest

from korvel import _native

EXAMPLE_COM = (
    "CheckResult(status='yes', reasons=["
    '"DNS syntax: ok", "TLD rule: label length ok (1-63)", "TLD rule: label not in banned list"])'
)

SUBDOMAIN = "'shop.example.com' is a subdomain of 'example.com' \u2014 retry with 'example.com'"


def test_result_of_example_com(registry):
    result = registry.check("example.com")
    assert type(result) is _native.CheckResult
    assert result.status == "yes"
    assert result.reasons == ["DNS syntax: ok", "TLD rule: label length ok (1-63)", "TLD rule: label not in banned list"]
    assert repr(result) == EXAMPLE_COM
    assert str(result) == EXAMPLE_COM


def test_subdomain_reason_keeps_apostrophes_and_em_dash(registry):
    result = registry.check("shop.example.com")
    assert (result.status, result.reasons) == ("no", [SUBDOMAIN])
    assert repr(result) == f'CheckResult(status=\'no\', reasons=["{SUBDOMAIN}"])'


def test_position_and_keyword_give_equal_results(registry):
    by_position = registry.check("ab.co.uk")
    by_keyword = registry.check(domain="ab.co.uk")
    assert (by_position.status, by_position.reasons) == (by_keyword.status, by_keyword.reasons)


@pytest.mark.parametrize("text", ["", "   ", "\t\n", "a..b", "-bad-.com", "example.com\x00", "\x00", "x" * 10_000])
def test_malformed_text_is_a_verdict_not_an_error(registry, text):
    result = registry.check(text)
    assert result.status == "no"
    assert len(result.reasons) == 1


def test_nul_characters_are_passed_on_whole(registry):
    assert registry.check("example.com").status == "yes"
    assert registry.check("example.com\x00").status == "no"


def test_str_subclass_is_taken_by_its_own_characters(registry):
    class Sneaky(str):
        def __str__(self):
            return "shop.example.com"

        def encode(self, *args, **kwargs):
            raise AssertionError("must not be called")

    result = registry.check(Sneaky("example.com"))
    assert repr(result) == EXAMPLE_COM


def test_attribute_reads_are_new_objects(registry):
    result = registry.check("example.com")
    assert result.status == result.status
    first = result.reasons
    second = result.reasons
    assert first == second and first is not second
    first.append("changed")
    first[0] = "changed"
    assert result.reasons == second


def test_checks_make_distinct_objects(registry):
    a, b = registry.check("example.com"), registry.check("example.com")
    assert a is not b
    assert a != b
    assert (a.status, a.reasons) == (b.status, b.reasons)


@pytest.mark.parametrize("text", ["example.com", "shop.example.com", "example.de", "ZA.sk", "example.test",
                                  "exämple.com", "", "nope.invalid-tld-xyz"])
def test_every_result_has_reasons_and_one_text_form(registry, text):
    result = registry.check(text)
    assert result.status in {"yes", "no", "restricted", "unknown"}
    assert result.reasons
    assert repr(result) == str(result)
    assert not repr(result).endswith("reasons=[])")
    if result.status != "yes":
        assert len(result.reasons) == 1


@pytest.mark.parametrize("attribute", ["status", "reasons"])
def test_attributes_are_read_only(registry, attribute):
    result = registry.check("example.com")
    with pytest.raises(AttributeError):
        setattr(result, attribute, "x")
    with pytest.raises(AttributeError):
        delattr(result, attribute)
    assert result.status == "yes"


def test_attribute_table_order():
    names = [n for n, v in vars(_native.CheckResult).items() if type(v).__name__ == "getset_descriptor"
             and not n.startswith("__")]
    assert names == ["status", "reasons"]


# (character, its quoted form). The quoted form is reached through the probe:
# no shipped rule produces a reason with such characters.
QUOTED = [
    ("\x00", r"\0"),
    ("\t", r"\t"),
    ("\n", r"\n"),
    ("\r", r"\r"),
    ("\\", r"\\"),
    ('"', r"\""),
    ("'", "'"),
    (" ", " "),
    ("\x01", r"\u{1}"),  # Cc
    ("\x7f", r"\u{7f}"),  # Cc
    ("\u00a0", r"\u{a0}"),  # Zs
    ("\u00ad", r"\u{ad}"),  # Cf
    ("\u0301", r"\u{301}"),  # Grapheme_Extend (Mn)
    ("\uff9e", r"\u{ff9e}"),  # Grapheme_Extend although Lm
    ("\U0001f3fb", "\U0001f3fb"),  # Sk, not Grapheme_Extend
    ("\u200b", r"\u{200b}"),  # Cf
    ("\u200d", r"\u{200d}"),  # Cf and Grapheme_Extend
    ("\ufeff", r"\u{feff}"),  # Cf
    ("\u2014", "\u2014"),  # Pd
    ("\u2028", r"\u{2028}"),  # Zl
    ("\u2029", r"\u{2029}"),  # Zp
    ("\u3000", r"\u{3000}"),  # Zs
    ("\u0378", r"\u{378}"),  # unassigned
    ("\U0010ffff", r"\u{10ffff}"),  # unassigned
    ("\ue000", r"\u{e000}"),  # Co
    ("\U000f0000", r"\u{f0000}"),  # Co
    ("\U00010940", "\U00010940"),  # Lo, new in Unicode 17.0 (unassigned in older tables)
    ("\U00016ea0", "\U00016ea0"),  # Lu, new in Unicode 17.0
    ("é", "é"),
    ("рф", "рф"),
    ("a\u0301b", r"a\u{301}b"),
]


@pytest.mark.parametrize("text, written", QUOTED, ids=[ascii(t) for t, _ in QUOTED])
def test_quoted_form(probe, text, written):
    assert probe.quote(text) == f'"{written}"'


def test_quoted_form_of_a_whole_reason(probe):
    assert probe.quote(SUBDOMAIN) == f'"{SUBDOMAIN}"'
    assert probe.quote("") == '""'
