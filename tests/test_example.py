"""The example chain over one day at one site, on the observations it ships."""

import importlib.util
import math
import pathlib
import sys

import pytest

import quarnel.Strahlwerk as S

ROOT = pathlib.Path(__file__).resolve().parent.parent
CHAIN = ["Sonnenzeit", "Zenitwinkel", "Azimutwinkel", "LinkeTruebung", "RelOptLuftmasse",
         "MaxDirekteStrahlung", "MaxGlobalstrahlung", "DirStrMBew", "AtmosGegenstr",
         "OberflTemp", "MittlStrTemp"]

pytestmark = pytest.mark.skipif(not all(hasattr(S, name) for name in CHAIN),
                                reason="the example needs all eleven functions")


@pytest.fixture(scope="module")
def example():
    spec = importlib.util.spec_from_file_location("day_at_a_site",
                                                  ROOT / "examples" / "day_at_a_site.py")
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module  # its dataclasses look their module up
    try:
        spec.loader.exec_module(module)
        yield module
    finally:
        del sys.modules[spec.name]


def test_every_hour_runs_through_all_eleven_functions(example, monkeypatch):
    calls = dict.fromkeys(CHAIN, 0)
    for name in CHAIN:
        def counting(*args, _f=getattr(S, name), _name=name):
            calls[_name] += 1
            return _f(*args)
        monkeypatch.setattr(S, name, counting)
    site, observations = example.read_observations(example.DEFAULT_OBSERVATIONS)
    rows = example.compute_day(site, observations)
    assert len(rows) == 24 and calls == dict.fromkeys(CHAIN, 24)


def test_the_day_is_plausible(example):
    site, observations = example.read_observations(example.DEFAULT_OBSERVATIONS)
    rows = example.compute_day(site, observations)
    day = [r for r in rows if r["zenith"] < 85]
    night = [r for r in rows if r["zenith"] > 90]
    assert len(day) >= 12 and len(night) >= 4
    assert all(math.isfinite(r["tmrt"]) for r in rows)
    # Sunshine warms a person well above the air, a clear night cools below it.
    assert max(r["tmrt"] - r["air"] for r in day) > 20
    assert all(r["tmrt"] < r["air"] for r in night)
    for r in rows:
        assert 0 <= r["direct"] <= r["direct_clear"] and r["global"] <= r["global_clear"]
        assert 250 < r["sky"] < 450
    noon = min(rows, key=lambda r: r["zenith"])
    assert 11 <= noon["hour"] <= 13 and 160 < noon["azimuth"] < 200


def test_main_prints_the_table(example, capsys, tmp_path):
    assert example.main(["--plot", str(tmp_path / "day.png")]) == 0
    out = capsys.readouterr().out
    assert "Tmrt" in out and out.count("\n") > 24
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        assert "no plot" in out
    else:
        assert (tmp_path / "day.png").stat().st_size > 10000
