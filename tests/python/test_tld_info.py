import pytest

from korvel import _native

ATTRIBUTES = ["tld", "registerable", "reason", "note", "restrictions", "min_length", "max_length",
              "length_basis", "banned", "charset", "idn_chars", "sources"]

BRAND_NOTE = "ICANN Spec 13 brand TLD; not open for public registration"


def fields(info):
    return {name: getattr(info, name) for name in ATTRIBUTES}


def test_de(registry):
    info = registry.tld_info("de")
    assert type(info) is _native.TldInfo
    assert {k: v for k, v in fields(info).items() if k != "sources"} == {
        "tld": "de",
        "registerable": "restricted",
        "reason": None,
        "note": ".de requires eligibility (resident)",
        "restrictions": ["resident"],
        "min_length": 1,
        "max_length": 63,
        "length_basis": "ascii",
        "banned": [],
        "charset": "ascii",
        "idn_chars": "",
    }
    assert list(info.sources) == ["note", "registerable", "restrictions"]
    assert repr(info) == str(info) == "TldInfo(tld='de', registerable='restricted')"


@pytest.mark.parametrize("tld, expected, source_keys", [
    ("co.uk", {"min_length": 3, "registerable": "yes"}, ["min_length", "registerable"]),
    ("sk", {"banned": ["za"]}, ["banned", "registerable"]),
    ("test", {"registerable": "no", "reason": "infrastructure"}, ["note", "reason", "registerable"]),
    ("google", {"registerable": "no", "reason": "brand_tld", "note": BRAND_NOTE, "min_length": 1,
                "max_length": 63, "length_basis": "ascii", "charset": "ascii"}, ["note", "reason", "registerable"]),
    ("com", {"registerable": "yes", "reason": None, "note": None, "restrictions": [], "banned": []},
     ["registerable"]),
])
def test_rules(registry, tld, expected, source_keys):
    info = registry.tld_info(tld)
    assert info.tld == tld
    assert {k: getattr(info, k) for k in expected} == expected
    assert list(info.sources) == source_keys
    assert all(type(v) is str and v.startswith("https://") for v in info.sources.values())


# (typed text, the key whose rule is found, or None)
LOOKUPS = [
    ("test", "test"), ("TEST", "test"), ("Test", "test"),
    (" \ttest\u00a0\u3000", "test"), (".test", "test"), ("...test", "test"), ("  ..test", "test"),
    ("test.", None), ("test. ", None), (". test", None),
    ("\u200btest", None), ("\ufefftest", None),
    ("example.test", None), ("", None), ("   ", None), ("...", None),
    ("рф", "рф"), ("xn--p1ai", None), ("РФ", None),
    ("*.ck", "*.ck"), ("www.ck", "www.ck"), ("ck", None), ("!www.ck", None),
    ("de\x00", None),
]


@pytest.mark.parametrize("typed, key", LOOKUPS, ids=[ascii(t) for t, _ in LOOKUPS])
def test_lookup_as_typed(registry, typed, key):
    info = registry.tld_info(typed)
    if key is None:
        assert info is None
    else:
        assert info.tld == key


def test_unicode_and_a_label_keys_of_one_brand_are_two_records(registry):
    unicode_form = registry.tld_info("香格里拉")
    a_label = registry.tld_info("xn--5su34j936bgsg")
    assert (unicode_form.tld, unicode_form.registerable, unicode_form.reason) == ("香格里拉", "yes", None)
    assert (a_label.tld, a_label.registerable, a_label.reason) == ("xn--5su34j936bgsg", "no", "brand_tld")


def test_text_form_writes_values_as_stored(registry):
    assert repr(registry.tld_info("рф")) == "TldInfo(tld='рф', registerable='yes')"
    assert str(registry.tld_info("*.ck")) == "TldInfo(tld='*.ck', registerable='yes')"


def test_every_rule_is_found_by_its_own_key(registry, probe):
    keys = probe.rule_keys()
    assert len(keys) == len(set(keys)) == registry.rule_count()
    for key in keys:
        info = registry.tld_info(key)
        assert info.tld == key
        assert info.registerable in {"yes", "no", "restricted"}
        assert "registerable" in info.sources
        assert list(info.sources) == sorted(info.sources, key=lambda k: k.encode())
        if info.registerable == "yes":
            assert (info.reason, info.note) == (None, None)


@pytest.mark.parametrize("attribute", ["sources", "restrictions", "banned"])
def test_reads_are_independent_of_the_object(registry, attribute):
    info = registry.tld_info("de")
    first, second = getattr(info, attribute), getattr(info, attribute)
    assert first == second and first is not second
    if isinstance(first, dict):
        first["note"] = "changed"
        first["new"] = "x"
        first.pop("registerable")
    else:
        first.append("changed")
        first.clear()
    assert getattr(info, attribute) == second


def test_calls_make_distinct_objects(registry):
    a, b = registry.tld_info("de"), registry.tld_info("de")
    assert a is not b and a != b
    assert fields(a) == fields(b)


def test_attributes_read_only_and_no_constructor(registry):
    info = registry.tld_info("de")
    with pytest.raises(AttributeError):
        info.tld = "com"
    with pytest.raises(AttributeError):
        del info.note
    assert info.tld == "de"
    with pytest.raises(TypeError):
        _native.TldInfo()


def test_attribute_table_order():
    names = [n for n, v in vars(_native.TldInfo).items() if type(v).__name__ == "getset_descriptor"
             and not n.startswith("__")]
    assert names == ATTRIBUTES
    assert _native.TldInfo.__str__ is object.__str__  # str() falls back to repr()
