import inspect

import pytest

from korvel import _native

STATS = [
    ("compiled_rules", 6946),
    ("total_known_suffixes", 6946),
    ("registerable", 6574),
    ("not_registerable", 371),
    ("restricted", 1),
    ("coverage_percent", 100.0),
]


def test_each_call_makes_a_distinct_registry_with_the_same_answers():
    a, b = _native.Registry(), _native.Registry()
    assert a is not b
    assert a.rule_count() == b.rule_count()
    assert a.stats() == b.stats()
    assert repr(a.check("example.com")) == repr(b.check("example.com"))
    assert repr(a.tld_info("de")) == repr(b.tld_info("de"))


def test_rule_count(registry):
    assert registry.rule_count() == 6946
    assert type(registry.rule_count()) is int
    assert registry.rule_count() == registry.stats()["compiled_rules"]


def test_stats(registry):
    stats = registry.stats()
    assert type(stats) is dict
    assert list(stats.items()) == STATS
    assert [type(v) for v in stats.values()] == [int] * 5 + [float]
    assert stats["registerable"] + stats["not_registerable"] + stats["restricted"] == stats["compiled_rules"]


def test_stats_returns_a_new_dict_each_call(registry):
    first = registry.stats()
    first["compiled_rules"] = 0
    first["extra"] = 1
    del first["restricted"]
    second = registry.stats()
    assert second is not first
    assert list(second.items()) == STATS


@pytest.mark.parametrize("method", ["rule_count", "stats"])
@pytest.mark.parametrize("args, kwargs", [((1,), {}), ((), {"x": 1})])
def test_no_argument_methods_refuse_arguments(registry, method, args, kwargs):
    with pytest.raises(TypeError, match=rf"Registry\.{method}\(\) takes no (keyword )?arguments"):
        getattr(registry, method)(*args, **kwargs)


def test_class_doc_and_signature():
    assert _native.Registry.__text_signature__ == "()"
    assert not _native.Registry.__doc__  # the doc holds only the signature
    assert str(inspect.signature(_native.Registry)) == "()"


def test_method_table_order_and_docs():
    methods = [name for name, value in vars(_native.Registry).items() if inspect.ismethoddescriptor(value)
               and not name.startswith("__")]
    assert methods == ["check", "tld_info", "rule_count", "stats"]
    signatures = {
        "check": "($self, domain)",
        "tld_info": "($self, tld)",
        "rule_count": "($self)",
        "stats": "($self)",
    }
    for name, text_signature in signatures.items():
        method = getattr(_native.Registry, name)
        assert method.__text_signature__ == text_signature
        assert method.__doc__ is None


def test_methods_with_a_parameter_take_it_by_keyword(registry):
    assert repr(registry.check(domain="example.com")) == repr(registry.check("example.com"))
    assert repr(registry.tld_info(tld="de")) == repr(registry.tld_info("de"))


def test_registry_has_no_attributes_or_text_form_of_its_own():
    cls = _native.Registry
    assert cls.__repr__ is object.__repr__
    assert cls.__str__ is object.__str__
    assert not [v for v in vars(cls).values() if inspect.isgetsetdescriptor(v) or inspect.ismemberdescriptor(v)]
