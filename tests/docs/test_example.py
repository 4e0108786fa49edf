"""The example chain over one day at one site, on the observations it ships."""

import importlib.util
import pathlib
import sys

import numpy as np
import pytest

import quarnel.ufunc

pytest.importorskip("pandas")

CHAIN = ["Sonnenzeit", "Zenitwinkel", "Azimutwinkel", "LinkeTruebung", "RelOptLuftmasse",
         "MaxDirekteStrahlung", "MaxGlobalstrahlung", "DirStrMBew", "AtmosGegenstr",
         "OberflTemp", "MittlStrTemp"]


@pytest.fixture(scope="module")
def example():
    path = pathlib.Path(__file__).resolve().parents[2] / "examples" / "day_at_a_site.py"
    module_spec = importlib.util.spec_from_file_location("day_at_a_site", path)
    module = sys.modules[module_spec.name] = importlib.util.module_from_spec(module_spec)
    try:
        module_spec.loader.exec_module(module)
        yield module
    finally:
        del sys.modules[module_spec.name]


def test_a_plausible_day_through_the_chain(example, monkeypatch):
    calls = dict.fromkeys(CHAIN, 0)
    for name in CHAIN:
        def counting(*args, _f=getattr(quarnel.ufunc, name), _name=name):
            calls[_name] += 1
            return _f(*args)
        monkeypatch.setattr(quarnel.ufunc, name, counting)
    day = example.compute_day(example.read_observations(example.DEFAULT_OBSERVATIONS))
    # Once each, on the whole day; the person is the published one, not
    # MittlStrTemp's, the ground's balance the job's own, not OberflTemp's,
    # and the modelled beam DISC's split of the modelled global radiation,
    # not DirStrMBew's.
    assert len(day) == 24 and calls == {**dict.fromkeys(CHAIN, 1), "MittlStrTemp": 0,
                                        "OberflTemp": 0, "DirStrMBew": 0}

    sun = day[day["zenith_angle"] < 85]
    night = day[day["zenith_angle"] > 90]
    assert len(sun) >= 12 and len(night) >= 4
    assert np.isfinite(day["mean_radiant_temperature"]).all()
    assert day["counter_radiation"].between(250, 450).all()
    # the beam on the horizontal within the global radiation it is split off
    horizontal = day["direct_radiation"] * np.cos(np.radians(day["radiation_zenith_angle"]))
    assert (horizontal <= day["global_radiation"]).all()
    assert (day["direct_radiation"] >= 0).all()
    # Sunshine warms a person well above the air, a clear night cools below it.
    assert (sun["mean_radiant_temperature"] - sun["air_temperature"]).max() > 20
    assert (night["mean_radiant_temperature"] < night["air_temperature"]).all()
    assert (day["mean_radiant_temperature_shade"] <= day["mean_radiant_temperature"]).all()
    assert (day["utci_category"] >= 5).any() and day["utci"].between(0, 46).all()


def test_main_prints_the_table(example, capsys, tmp_path):
    if importlib.util.find_spec("matplotlib") is None:
        pytest.skip("matplotlib is not installed")
    assert example.main(["--plot", str(tmp_path / "day.png")]) == 0
    out = capsys.readouterr().out
    assert "Tmrt" in out and out.count("\n") > 24
    assert (tmp_path / "day.png").stat().st_size > 10000
