"""Internal faults, through the test-only twin of the extension (_native_probe),
which can make a chosen step fail with RuntimeError("injected failure")."""

import os
import subprocess
import sys
import types

import pytest

from conftest import probe_path

INJECTED = "PyErr { type: <class 'RuntimeError'>, value: RuntimeError('injected failure'), traceback: None }"


def raise_fault(call):
    """Runs call(), which must end in PanicException; returns the exception."""
    try:
        try:
            call()
        except Exception:  # noqa: BLE001 - the point: this must not catch it
            pytest.fail("an internal fault was caught by `except Exception`")
    except BaseException as exc:  # noqa: BLE001
        return exc
    pytest.fail("no exception")


def test_fault_is_a_panic_exception(probe, capfd):
    registry = probe.Registry()
    exc = raise_fault(lambda: probe.fault(registry, "broken invariant: boom"))
    panic = type(exc)
    assert (panic.__module__, panic.__name__) == ("pyo3_runtime", "PanicException")
    assert panic.__bases__ == (BaseException,)
    assert "BaseException" in panic.__doc__
    assert exc.args == ("broken invariant: boom",)
    assert str(exc) == "broken invariant: boom"
    report = capfd.readouterr().err
    assert "broken invariant: boom" in report
    assert "thread" in report and "python.cpp:" in report
    # The process, the module and the instance go on.
    assert probe.borrow_count(registry) == 0
    assert registry.check("example.com").status == "yes"
    assert type(raise_fault(lambda: probe.fault(registry, "again"))) is panic


@pytest.mark.parametrize("key", ["compiled_rules", "total_known_suffixes", "registerable", "not_registerable",
                                 "restricted", "coverage_percent"])
def test_failed_stats_insertion(probe, key):
    registry = probe.Registry()
    probe.fail_next(f"set {key}")
    exc = raise_fault(registry.stats)
    assert str(exc) == f"set {key}: {INJECTED}"
    assert probe.borrow_count(registry) == 0
    assert list(registry.stats())[-1] == "coverage_percent"


def test_failed_sources_insertion(probe):
    info = probe.Registry().tld_info("de")
    probe.fail_next("failed to set source item")
    exc = raise_fault(lambda: info.sources)
    assert str(exc) == f"failed to set source item: {INJECTED}"
    assert probe.borrow_count(info) == 0
    assert list(info.sources) == ["note", "registerable", "restrictions"]


@pytest.mark.parametrize("read", [
    lambda registry, result, info: registry.rule_count(),
    lambda registry, result, info: registry.stats(),
    lambda registry, result, info: registry.check("example.com"),
    lambda registry, result, info: result.reasons,
    lambda registry, result, info: repr(result),
    lambda registry, result, info: info.banned,
    lambda registry, result, info: info.sources,
], ids=["rule_count", "stats", "check", "reasons", "text form", "banned", "sources"])
def test_object_that_cannot_be_made(probe, monkeypatch, read):
    registry = probe.Registry()
    result = registry.check("example.com")
    info = registry.tld_info("de")
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda unraisable: seen.append(unraisable.exc_value))
    probe.fail_next("new object")
    exc = raise_fault(lambda: read(registry, result, info))
    assert str(exc) == "PyObject pointer is null"
    assert [(type(e), str(e)) for e in seen] == [(RuntimeError, "injected failure")]
    assert [probe.borrow_count(o) for o in (registry, result, info)] == [0, 0, 0]
    assert read(registry, result, info) is not None


def fresh_module(all_value=None):
    module = types.ModuleType("fresh")
    if all_value is not None:
        module.__all__ = all_value
    return module


class ModuleSubclass(types.ModuleType):
    pass


class ListSubclass(list):
    pass


@pytest.mark.parametrize("make, all_after", [
    (lambda: fresh_module(), ["Registry", "CheckResult", "TldInfo"]),
    (lambda: fresh_module(["x"]), ["x", "Registry", "CheckResult", "TldInfo"]),
    (lambda: fresh_module(ListSubclass()), ["Registry", "CheckResult", "TldInfo"]),
    (lambda: ModuleSubclass("sub"), ["Registry", "CheckResult", "TldInfo"]),
])
def test_exec_step_fills_a_module(probe, make, all_after):
    module = make()
    probe.exec_module(module)
    assert module.__all__ == all_after
    for name in ["Registry", "CheckResult", "TldInfo"]:
        assert getattr(module, name) is getattr(probe, name)


def module_with_failing_getattr():
    module = fresh_module()

    def __getattr__(name):
        raise KeyError(name)

    module.__getattr__ = __getattr__
    return module


@pytest.mark.parametrize("target, error, message", [
    (lambda: None, SystemError, "attempted to fetch exception but none was set"),
    (lambda: 5, TypeError, "'int' object is not an instance of 'module'"),
    (lambda: fresh_module(("x",)), TypeError, "'tuple' object is not an instance of 'list'"),
    (lambda: fresh_module("Registry"), TypeError, "'str' object is not an instance of 'list'"),
    (module_with_failing_getattr, KeyError, "'__all__'"),
], ids=["no module", "not a module", "tuple __all__", "str __all__", "lookup error"])
def test_exec_step_failures(probe, target, error, message):
    with pytest.raises(error) as caught:
        probe.exec_module(target())
    assert type(caught.value) is error
    assert str(caught.value) == message


def test_exec_step_append_fault(probe):
    module = fresh_module()
    probe.fail_next("could not append __name__ to __all__")
    exc = raise_fault(lambda: probe.exec_module(module))
    assert str(exc) == f"could not append __name__ to __all__: {INJECTED}"
    assert module.__all__ == []


@pytest.mark.parametrize("name", ["Registry", "CheckResult", "TldInfo"])
def test_type_object_that_cannot_be_built(name):
    path, why = probe_path()
    if path is None:
        pytest.skip(why)
    script = f"""
import importlib.util
spec = importlib.util.spec_from_file_location("_native_probe", {str(path)!r})
module = importlib.util.module_from_spec(spec)
try:
    spec.loader.exec_module(module)
except RuntimeError as exc:
    print(type(exc).__name__, exc, "|", type(exc.__cause__).__name__, exc.__cause__, sep=":")
"""
    env = dict(os.environ, KORVEL_PROBE_FAIL=f"build {name}")
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
    assert out.stdout.strip() == (
        f"RuntimeError:An error occurred while initializing class {name}:|:RuntimeError:injected failure")
