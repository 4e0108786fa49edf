"""The example chain over one day at one site, on the observations it ships."""

import importlib.util
import math
import pathlib
import sys

import pytest

import quarnel.Strahlwerk as S

CHAIN = ["Sonnenzeit", "Zenitwinkel", "Azimutwinkel", "LinkeTruebung", "RelOptLuftmasse",
         "MaxDirekteStrahlung", "MaxGlobalstrahlung", "DirStrMBew", "AtmosGegenstr",
         "OberflTemp", "MittlStrTemp"]
pytestmark = pytest.mark.skipif(not all(hasattr(S, name) for name in CHAIN),
                                reason="the example needs all eleven functions")


@pytest.fixture(scope="module")
def example():
    path = pathlib.Path(__file__).resolve().parent.parent / "examples" / "day_at_a_site.py"
    spec = importlib.util.spec_from_file_location("day_at_a_site", path)
    module = sys.modules[spec.name] = importlib.util.module_from_spec(spec)  # for its dataclasses
    try:
        spec.loader.exec_module(module)
        yield module
    finally:
        del sys.modules[spec.name]


def test_a_plausible_day_through_all_eleven_functions(example, monkeypatch):
    calls = dict.fromkeys(CHAIN, 0)
    for name in CHAIN:
        def counting(*args, _f=getattr(S, name), _name=name):
            calls[_name] += 1
            return _f(*args)
        monkeypatch.setattr(S, name, counting)
    rows = example.compute_day(*example.read_observations(example.DEFAULT_OBSERVATIONS))
    assert len(rows) == 24 and calls == dict.fromkeys(CHAIN, 24)

    day = [r for r in rows if r["zenith"] < 85]
    night = [r for r in rows if r["zenith"] > 90]
    assert len(day) >= 12 and len(night) >= 4
    assert all(math.isfinite(r["tmrt"]) and 250 < r["sky"] < 450 for r in rows)
    assert all(0 <= r["direct"] <= r["direct_clear"] for r in rows)
    # Sunshine warms a person well above the air, a clear night cools below it.
    assert max(r["tmrt"] - r["air"] for r in day) > 20
    assert all(r["tmrt"] < r["air"] for r in night)


def test_main_prints_the_table(example, capsys, tmp_path):
    assert example.main(["--plot", str(tmp_path / "day.png")]) == 0
    out = capsys.readouterr().out
    assert "Tmrt" in out and out.count("\n") > 24
    if importlib.util.find_spec("matplotlib"):
        assert (tmp_path / "day.png").stat().st_size > 10000
    else:
        assert "no plot" in out
