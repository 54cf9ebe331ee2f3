import ctypes
import importlib
import sys
import types
import weakref

import pytest

import korvel
from korvel import _native

CLASSES = ["Registry", "CheckResult", "TldInfo"]

# Type flags as the interpreter defines them.
DISALLOW_INSTANTIATION = 1 << 7
IMMUTABLETYPE = 1 << 8
HEAPTYPE = 1 << 9
BASETYPE = 1 << 10
HAVE_GC = 1 << 14

STANDARD_MODULE_ATTRIBUTES = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}


def instances():
    registry = _native.Registry()
    return {
        "Registry": registry,
        "CheckResult": registry.check("example.com"),
        "TldInfo": registry.tld_info("de"),
    }


def test_module_contents():
    assert _native.__all__ == CLASSES
    assert type(_native.__all__) is list
    assert _native.__doc__ == ""
    assert set(vars(_native)) - STANDARD_MODULE_ATTRIBUTES == {"__all__", *CLASSES}
    assert all(isinstance(getattr(_native, name), type) for name in CLASSES)
    assert korvel.__all__ == CLASSES


def test_entry_point_is_the_only_exported_symbol():
    library = ctypes.CDLL(_native.__file__)
    assert hasattr(library, "PyInit__native")
    assert not hasattr(library, "_ZN6korvel9generated9TLD_RULESE")  # korvel::generated::TLD_RULES


def test_reimport_gives_new_module_with_the_same_types():
    old = sys.modules.pop("korvel._native")
    try:
        new = importlib.import_module("korvel._native")
        assert new is not old
        assert new.__all__ == CLASSES
        assert new.__all__ is not old.__all__
        for name in CLASSES:
            assert getattr(new, name) is getattr(old, name)
    finally:
        sys.modules["korvel._native"] = old
        korvel._native = old


@pytest.mark.parametrize("kind", ["legacy", "isolated"])
def test_subinterpreters_cannot_import_the_module(kind):
    interpreters = pytest.importorskip("_interpreters")
    types_before = [getattr(_native, name) for name in CLASSES]
    interp = interpreters.create(kind)
    try:
        # The main interpreter's path, so that only the refusal can make the import fail.
        interpreters.set___main___attrs(interp, {"path": tuple(sys.path)})
        failure = interpreters.exec(interp, "import sys; sys.path[:] = path; import korvel._native")
        assert failure is not None
        assert failure.type.__name__ == "ImportError"
        assert failure.msg == "module korvel._native does not support loading in subinterpreters"
        # Nothing half-made is left behind, so a second attempt meets the same refusal.
        assert interpreters.exec(interp, "assert 'korvel._native' not in sys.modules") is None
        again = interpreters.exec(interp, "import korvel._native")
        assert again is not None and again.msg == failure.msg
    finally:
        interpreters.destroy(interp)
    assert sys.modules["korvel._native"] is _native
    assert [getattr(_native, name) for name in CLASSES] == types_before
    assert _native.Registry().check("example.com").status == "yes"


@pytest.mark.parametrize("name", CLASSES)
def test_class_names(name):
    cls = getattr(_native, name)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__bases__ == (object,)


@pytest.mark.parametrize("name", CLASSES)
def test_class_flags_and_layout(name):
    cls = getattr(_native, name)
    flags = cls.__flags__
    assert flags & HEAPTYPE
    assert not flags & (BASETYPE | HAVE_GC | IMMUTABLETYPE)
    assert bool(flags & DISALLOW_INSTANTIATION) == (name != "Registry")
    assert cls.__dictoffset__ == 0
    assert cls.__weakrefoffset__ == 0
    assert "__dict__" not in vars(cls)


@pytest.mark.parametrize("name", CLASSES)
def test_not_subclassable(name):
    with pytest.raises(TypeError, match="not an acceptable base type"):
        types.new_class("Derived", (getattr(_native, name),))


@pytest.mark.parametrize("name", ["CheckResult", "TldInfo"])
def test_classes_without_constructor_cannot_be_called(name):
    with pytest.raises(TypeError, match=f"cannot create 'builtins.{name}' instances"):
        getattr(_native, name)()


@pytest.mark.parametrize("name", CLASSES)
def test_instances_take_no_new_attributes_and_no_weak_references(name):
    obj = instances()[name]
    with pytest.raises(AttributeError):
        obj.anything = 1
    with pytest.raises(TypeError, match="cannot create weak reference"):
        weakref.ref(obj)


@pytest.mark.parametrize("name", CLASSES)
def test_equality_and_hash_by_identity(name):
    a, b = instances()[name], instances()[name]
    assert a == a and a != b
    assert hash(a) == hash(a)
    assert type(a).__eq__ is object.__eq__
    assert type(a).__hash__ is object.__hash__


_registry = _native.Registry()

# (call, message): every argument error that the module's methods produce.
ARGUMENT_ERRORS = [
    (lambda: _registry.check(), "Registry.check() missing 1 required positional argument: 'domain'"),
    (lambda: _registry.tld_info(), "Registry.tld_info() missing 1 required positional argument: 'tld'"),
    (lambda: _registry.check("a", "b"), "Registry.check() takes 1 positional arguments but 2 were given"),
    (lambda: _registry.check("a", domain="b"), "Registry.check() got multiple values for argument 'domain'"),
    (lambda: _registry.check(name="a"), "Registry.check() got an unexpected keyword argument 'name'"),
    (lambda: _registry.check(5), "argument 'domain': 'int' object is not an instance of 'str'"),
    (lambda: _registry.tld_info(None), "argument 'tld': 'None' is not an instance of 'str'"),
    (lambda: _native.Registry(None), "Registry.__new__() takes 0 positional arguments but 1 was given"),
    (lambda: _native.Registry(x=1), "Registry.__new__() got an unexpected keyword argument 'x'"),
    # The same rules on the other paths through them.
    (lambda: _registry.tld_info("a", "b", "c"), "Registry.tld_info() takes 1 positional arguments but 3 were given"),
    (lambda: _registry.tld_info("a", tld="b"), "Registry.tld_info() got multiple values for argument 'tld'"),
    (lambda: _registry.check("a", name="b"), "Registry.check() got an unexpected keyword argument 'name'"),
    (lambda: _registry.check(domain="a", **{"é\x00": 1}), "Registry.check() got an unexpected keyword argument 'é\x00'"),
    (lambda: _native.Registry(1, 2), "Registry.__new__() takes 0 positional arguments but 2 were given"),
    (lambda: _registry.check(b"example.com"), "argument 'domain': 'bytes' object is not an instance of 'str'"),
    (lambda: _registry.check(domain=None), "argument 'domain': 'None' is not an instance of 'str'"),
    (lambda: _registry.tld_info(["de"]), "argument 'tld': 'list' object is not an instance of 'str'"),
]


@pytest.mark.parametrize("call, message", ARGUMENT_ERRORS, ids=[ascii(m) for _, m in ARGUMENT_ERRORS])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert type(caught.value) is TypeError
    assert str(caught.value) == message
    assert caught.value.__cause__ is None


@pytest.mark.parametrize("method", ["check", "tld_info"])
def test_lone_surrogate_raises_the_interpreters_encode_error(method):
    with pytest.raises(UnicodeEncodeError):
        getattr(_registry, method)("exa\ud800mple.com")


def test_receiver_of_another_class(probe):
    with pytest.raises(TypeError) as caught:
        probe.receiver_check(5)
    assert str(caught.value) == "'int' object is not an instance of 'Registry'"
    with pytest.raises(TypeError) as caught:
        probe.receiver_check(probe.Registry().check("example.com"))
    assert str(caught.value) == "'CheckResult' object is not an instance of 'Registry'"
