"""The indices in the job: each output is its ufunc on the chain's own
results, with the wind brought to the index's height by the published
profiles (written out here from the papers), the shaded WBGT's
instruments without the beam, the pressure read or from the height, and
each index computed only when asked for."""

import math

import numpy as np
import pytest

from quarnel import comfort, tmrt
from quarnel import ufunc as U

INDICES = ("pet", "pet_shade", "wbgt", "wbgt_shade", "globe_temperature",
           "natural_wet_bulb_temperature", "heat_index", "humidex", "apparent_temperature",
           "wind_chill")
SITE = dict(latitude=43.6, longitude=1.4, height=150.0)


def station(n=96, seed=5, pressure=False):
    """Four days of hourly weather at a site: day and night, calm to windy,
    clear to overcast, cold mornings and hot afternoons."""
    rng = np.random.default_rng(seed)
    hours = np.arange(n)
    local = (hours + 1) % 24
    sun = np.clip(np.sin(np.pi * (local - 6) / 14), 0, None)
    obs = {
        "time": np.datetime64("2023-07-20T00:00") + hours.astype("timedelta64[h]"),
        "air_temperature": 14 + 20 * sun + rng.normal(0, 1, n) - 18 * (hours < 12),
        "relative_humidity": rng.uniform(15, 98, n),
        "cloud_cover": rng.integers(0, 9, n).astype(float),
        "wind_speed": rng.choice([0.0, 0.3, 1.5, 2.0, 2.2, 2.5, 4.0, 5.5, 7.0, 12.0], n),
        "global_radiation": 1000 * sun * rng.uniform(0.2, 1.0, n),
    }
    if pressure:
        obs["air_pressure"] = rng.uniform(940, 1030, n)
    return obs


# Liljegren et al. (2008): the EPA's solar radiation / delta-T classes
# (EPA-454/R-99-005, table 6-7) and the urban exponents of ISC3, cloud for
# the night's sign of delta-T.
URBAN = {"A": 0.15, "B": 0.15, "C": 0.20, "D": 0.25, "E": 0.30, "F": 0.30}


def srdt_class(u, g, day, octas):
    if day:
        radiation = 0 if g >= 925 else 1 if g >= 675 else 2 if g >= 175 else 3
        row = ("AABD" if u < 2 else "ABCD" if u < 3 else "BBCD" if u < 5 else "CCDD" if u < 6
               else "CDDD")
        return row[radiation]
    if math.isnan(octas) and u < 2.5:
        return None
    lapse = octas >= 4
    if u < 2:
        return "E" if lapse else "F"
    if u < 2.5:
        return "D" if lapse else "E"
    return "D"


def wind_2m_by_hand(u, g, mu, octas):
    cls = srdt_class(u, g, mu > 0, octas)
    return math.nan if cls is None else u * (2 / 10) ** URBAN[cls]


def standard_pressure(height):
    """The international standard atmosphere's troposphere [hPa]."""
    return 1013.25 * (1 - 0.0065 * height / 288.15) ** (9.80665 * 0.0289644 / (8.31446 * 0.0065))


@pytest.mark.parametrize("pressure", [False, True], ids=["from height", "measured"])
def test_each_index_is_its_ufunc_on_the_chains_results(pressure):
    obs = station(pressure=pressure)
    got = tmrt.compute(obs, **SITE)
    t, e = got["air_temperature"], got["vapour_pressure"]
    v10, n = obs["wind_speed"], obs["cloud_cover"]
    tmrt_sun, tmrt_shade = got["mean_radiant_temperature"], got["mean_radiant_temperature_shade"]

    # PET: wind at 1.1 m by the log law with z0 = 0.01 m (Broede et al. 2012).
    v11 = v10 * np.log(1.1 / 0.01) / np.log(10 / 0.01)
    np.testing.assert_allclose(got["pet"], comfort.pet(t, tmrt_sun, v11, e), rtol=1e-12)
    np.testing.assert_allclose(got["pet_shade"], comfort.pet(t, tmrt_shade, v11, e), rtol=1e-12)

    # WBGT: the sun paired with the radiation, the direct share of the
    # global radiation, the 2 m wind of the stability class.
    g, dni = got["global_radiation"], got["direct_radiation"]
    mu = np.where(got["radiation_zenith_angle"] < 90,
                  np.cos(np.radians(got["radiation_zenith_angle"])), 0.0)
    f = np.where((g > 0) & (mu >= 0.00873), np.minimum(dni * mu / np.where(g > 0, g, 1), 1), 0)
    u2 = np.array([wind_2m_by_hand(*x) for x in zip(v10, g, mu, n)])
    p = obs["air_pressure"] if pressure else standard_pressure(SITE["height"])
    want = comfort.wbgt(t, e, p, u2, g, f, mu)
    for k, w in zip(("wbgt", "globe_temperature", "natural_wet_bulb_temperature"), want):
        np.testing.assert_allclose(got[k], w, rtol=0, atol=1e-6, err_msg=k)
    assert np.isfinite(got["wbgt"]).all()
    assert (f > 0.3).sum() > 10 and (mu == 0).sum() > 20        # sun and night both tested

    # In shade the instruments see the sky's diffuse and the ground's
    # reflection of all of the global radiation (albedo 0.45), no beam: the
    # globe as under all-diffuse G (1 - f + a) / (1 + a), the wick (a
    # cylinder with its top, D/4L = 7 / (4 x 25.4)) as under all-diffuse
    # G ((1 - f)(1 + k) + a) / (1 + k + a). Each instrument's balance is its own.
    a, k = 0.45, 7 / (4 * 25.4)
    _, globe, _ = comfort.wbgt(t, e, p, u2, g * (1 - f + a) / (1 + a), 0.0, mu)
    _, _, wick = comfort.wbgt(t, e, p, u2, g * ((1 - f) * (1 + k) + a) / (1 + k + a), 0.0, mu)
    np.testing.assert_allclose(got["wbgt_shade"], 0.7 * wick + 0.2 * globe + 0.1 * t, atol=1e-6)
    sunny = f > 0.3
    assert (got["wbgt_shade"][sunny] < got["wbgt"][sunny] - 0.05).all()
    np.testing.assert_array_equal(got["wbgt_shade"][g == 0], got["wbgt"][g == 0])

    # The indices weather services publish, on the chain's humidity and the 10 m wind.
    np.testing.assert_array_equal(got["heat_index"],
                                  comfort.heat_index(t, got["relative_humidity"]))
    np.testing.assert_array_equal(got["humidex"], comfort.humidex(t, got["dew_point"]))
    np.testing.assert_array_equal(got["apparent_temperature"],
                                  comfort.apparent_temperature(t, e, v10))
    np.testing.assert_array_equal(got["wind_chill"], comfort.wind_chill(t, v10))
    assert np.isfinite(got["wind_chill"]).any() and np.isnan(got["wind_chill"]).any()


def test_wind_at_the_person_is_the_log_law():
    v = np.array([0.0, 0.5, 3.0, 17.0, np.nan])
    want = v * math.log10(1.1 / 0.01) / math.log10(10 / 0.01)
    np.testing.assert_allclose(tmrt.wind_at_person(v), want, rtol=1e-15)
    assert tmrt.wind_at_person(10.0) == pytest.approx(6.8046, abs=1e-4)


def test_wind_at_2m_by_the_stability_class_at_every_edge():
    speeds = [0.0, 1.99, 2.0, 2.2, 2.49, 2.5, 2.99, 3.0, 4.99, 5.0, 5.99, 6.0, 20.0]
    suns = [0.0, 174.9, 175.0, 674.9, 675.0, 924.9, 925.0, 1100.0]
    rows = [(u, g, mu, octas) for u in speeds for g in suns for mu in (0.0, 0.4)
            for octas in (0.0, 3.9, 4.0, 8.0, np.nan) if mu > 0 or g == 0]
    u, g, mu, octas = (np.array(c) for c in zip(*rows))
    want = np.array([wind_2m_by_hand(*r) for r in rows])
    np.testing.assert_allclose(tmrt.wind_at_2m(u, g, mu, octas), want, rtol=1e-15)
    classes = tmrt.pasquill_class(u, g, mu, octas)
    named = [srdt_class(r[0], r[1], r[2] > 0, r[3]) for r in rows]
    np.testing.assert_array_equal(classes, ["ABCDEF".index(c) if c else 6 for c in named])
    assert np.isnan(tmrt.wind_at_2m(np.nan, 500.0, 0.5, 2.0))


def test_wind_at_2m_as_thermofeel_by_day_and_on_clear_nights():
    # thermofeel's wind_speed_2m (Liljegren's profile, urban) takes the
    # night's delta-T as an inversion: our clear night. It raises the 2 m
    # wind to 0.13 m/s, which comfort.wbgt does for itself.
    liljegren = pytest.importorskip("thermofeel.liljegren")
    rng = np.random.default_rng(11)
    u = rng.uniform(0.25, 14, 5000)
    g = np.where(rng.uniform(size=u.size) < 0.3, 0.0, rng.uniform(0, 1150, u.size))
    mu = np.where(g > 0, rng.uniform(0.02, 1, u.size), 0.0)
    ours = tmrt.wind_at_2m(u, g, mu, np.full(u.size, 1.0))
    np.testing.assert_allclose(ours, liljegren.wind_speed_2m(u, mu, g), rtol=1e-12)


def test_wind_at_2m_stays_lazy():
    xr = pytest.importorskip("xarray")
    pytest.importorskip("dask")
    u = xr.DataArray(np.linspace(0, 9, 40), dims="x").chunk(10)
    lazy = tmrt.wind_at_2m(u, 600.0, 0.5, 8.0)
    assert lazy.chunks is not None
    np.testing.assert_array_equal(lazy.values, tmrt.wind_at_2m(u.values, 600.0, 0.5, 8.0))


def test_an_index_is_computed_only_when_asked_for(monkeypatch):
    obs = station()
    whole = tmrt.compute(obs, **SITE)

    def refused(*args, **kwargs):
        raise AssertionError("computed though not asked for")

    for name in ("wbgt", "pet", "heat_index", "humidex", "apparent_temperature", "wind_chill"):
        monkeypatch.setattr(comfort, name, refused)
    # Nor the azimuth nor, with global radiation measured throughout, the clear sky.
    for name in ("Azimutwinkel", "LinkeTruebung", "RelOptLuftmasse", "MaxDirekteStrahlung",
                 "MaxGlobalstrahlung", "DirStrMBew"):
        monkeypatch.setattr(U, name, refused)
    some = tmrt.compute(obs, variables=["utci", "mean_radiant_temperature"], **SITE)
    assert not set(INDICES) & set(some)
    for k in ("utci", "mean_radiant_temperature"):
        np.testing.assert_array_equal(some[k], whole[k])
    monkeypatch.undo()

    # A missing measurement: the clear sky fills it where asked, the rest as before.
    obs["global_radiation"][40] = np.nan
    monkeypatch.setattr(U, "Azimutwinkel", refused)
    assert np.isnan(tmrt.compute(obs, variables=["wbgt"], **SITE)["wbgt"][40])
    gap = tmrt.compute(obs, variables=["wbgt"], fill_missing="model", **SITE)
    np.testing.assert_array_equal(np.delete(gap["wbgt"], 40), np.delete(whole["wbgt"], 40))
    assert np.isfinite(gap["wbgt"][40]) and gap["wbgt"][40] != whole["wbgt"][40]
    assert set(gap) - set(obs) == {"wbgt", "vapour_pressure", "dew_point", tmrt.FILLED}


def test_pressure_from_era5_sp_in_pascal_for_wbgt_and_the_split():
    xr = pytest.importorskip("xarray")
    obs = station()
    time = obs.pop("time")
    ds = xr.Dataset({k: ("time", v) for k, v in obs.items()}, coords={"time": time})
    low = ds.assign(sp=("time", np.full(time.size, 70000.0), {"units": "Pa"}))
    got = tmrt.compute(low, **SITE)
    assert got["air_pressure"].attrs["units"] == "hPa"
    np.testing.assert_array_equal(got["air_pressure"], 700.0)
    same = tmrt.compute(ds.assign(air_pressure=("time", np.full(time.size, 700.0))), **SITE)
    for k in ("direct_radiation", "wbgt", "natural_wet_bulb_temperature"):
        np.testing.assert_array_equal(got[k], same[k], err_msg=k)
    sea = tmrt.compute(ds, **SITE)
    day = sea["global_radiation"] > 200
    assert (got["direct_radiation"][day] != sea["direct_radiation"][day]).all()
    assert abs(got["natural_wet_bulb_temperature"] - sea["natural_wet_bulb_temperature"]).max() > 0.3
    with pytest.raises(tmrt.ObservationError, match="air pressure"):
        tmrt.compute(ds.assign(sp=("time", np.full(time.size, 101325.0), {"units": "hPa"})),
                     **SITE)


def test_indices_carry_their_units_names_and_sources():
    xr = pytest.importorskip("xarray")
    obs = station(24)
    time = obs.pop("time")
    ds = xr.Dataset({k: ("time", v) for k, v in obs.items()}, coords={"time": time})
    got = tmrt.compute(ds, **SITE)
    for k in INDICES:
        q = tmrt.OUTPUTS[k]
        assert got[k].attrs["units"] == "degC" == q.unit
        assert got[k].attrs["long_name"] == q.long_name
        assert got[k].attrs["source"], k
    assert got["heat_index"].attrs["standard_name"] == "heat_index_of_air_temperature"
    assert got["wind_chill"].attrs["standard_name"] == "wind_chill_of_air_temperature"
    assert "1.1 m" in got["pet"].attrs["source"]
    assert "Pasquill" in got["wbgt"].attrs["source"]
    assert "standard atmosphere" in got["wbgt"].attrs["source"]


def test_a_measured_globe_is_the_globe_and_makes_wbgt_by_iso_7243():
    obs = station(24)
    modelled = tmrt.compute(obs, **SITE)
    globe = np.where(np.arange(24) % 3 == 0, np.nan, obs["air_temperature"] + 12.0)
    got = tmrt.compute({**obs, "globe_temperature": globe}, **SITE)
    read = ~np.isnan(globe)
    np.testing.assert_array_equal(got["globe_temperature"][read], globe[read])
    np.testing.assert_array_equal(got["globe_temperature"][~read],
                                  modelled["globe_temperature"][~read])
    np.testing.assert_array_equal(got["natural_wet_bulb_temperature"],
                                  modelled["natural_wet_bulb_temperature"])
    want = 0.7 * got["natural_wet_bulb_temperature"] + 0.2 * globe + 0.1 * obs["air_temperature"]
    np.testing.assert_allclose(got["wbgt"][read], want[read], rtol=1e-15)
    np.testing.assert_array_equal(got["wbgt"][~read], modelled["wbgt"][~read])
    assert "ISO 7243" in tmrt.sources(["globe_temperature"])["wbgt"]
