import importlib.util
import os
import pathlib

import pytest

from korvel import _native

PROBE_ENV = "KORVEL_TEST_BUILD"


def probe_path():
    """The test-only twin of the extension, built beside the C++ tests."""
    build = os.environ.get(PROBE_ENV)
    if not build:
        return None, f"{PROBE_ENV} is not set; scripts/test sets it to the CMake test build"
    found = sorted(pathlib.Path(build, "probe").glob("_native_probe*.so"))
    if not found:
        return None, f"no _native_probe extension under {build}/probe; build the test tree first"
    return found[0], None


_probe_module = None


@pytest.fixture(scope="session")
def probe():
    global _probe_module
    path, why = probe_path()
    if path is None:
        pytest.skip(why)
    if _probe_module is None:
        spec = importlib.util.spec_from_file_location("_native_probe", path)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        _probe_module = module
    return _probe_module


@pytest.fixture(scope="session")
def native():
    return _native


@pytest.fixture
def registry():
    return _native.Registry()
