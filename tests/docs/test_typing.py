"""The type stub against the built module (stubtest) and in use: mypy
--strict on the examples, on the typed modules quarnel.tmrt and quarnel.cli,
and on tests/docs/typing/, whose assert_type lines are the expectations."""

import os
import pathlib
import site
import subprocess
import sys

import pytest

import quarnel

pytest.importorskip("mypy")
ROOT = pathlib.Path(__file__).resolve().parents[2]
PACKAGE_PARENT = pathlib.Path(quarnel.__file__).resolve().parent.parent


@pytest.fixture(scope="module")
def cache(tmp_path_factory):
    return tmp_path_factory.mktemp("mypy-cache")


def run_mypy_tool(*args, cache):
    env = dict(os.environ, MYPY_CACHE_DIR=str(cache))
    installed = {pathlib.Path(p).resolve() for p in site.getsitepackages()}
    if PACKAGE_PARENT not in installed:  # a development build beside the sources
        env["MYPYPATH"] = str(PACKAGE_PARENT)
    return subprocess.run([sys.executable, "-m", *args], cwd=ROOT, env=env, capture_output=True, text=True, timeout=300)


def test_the_stub_ships_beside_the_module():
    here = pathlib.Path(quarnel.__file__).parent
    assert (here / "py.typed").is_file() and (here / "Strahlwerk.pyi").is_file()
    assert (here / "_ufunc.pyi").is_file() and (here / "_kernels.pyi").is_file()
    assert (here / "_place.pyi").is_file()


def test_stub_agrees_with_the_module(cache):
    done = run_mypy_tool("mypy.stubtest", "quarnel.Strahlwerk", "quarnel._ufunc", "quarnel._kernels",
                         "quarnel._place", cache=cache)
    assert done.returncode == 0, done.stdout + done.stderr


def test_examples_and_typed_use_pass_strict_mypy(cache):
    pytest.importorskip("xarray")
    pytest.importorskip("pandas")
    done = run_mypy_tool("mypy", "--strict", "examples", "tests/docs/typing", "src/quarnel/tmrt",
                         "src/quarnel/ufunc.py", "src/quarnel/cli.py", "src/quarnel/command",
                         "src/quarnel/__main__.py", "src/quarnel/era5_names.py",
                         "src/quarnel/interval_sun.py", "src/quarnel/decomposition.py",
                         "src/quarnel/_elementwise.py", "src/quarnel/comfort.py",
                         "benchmarks/utci.py", "benchmarks/job.py", "benchmarks/wbgt.py", "src/quarnel/place",
                         "benchmarks/place.py", cache=cache)
    assert done.returncode == 0, done.stdout + done.stderr
