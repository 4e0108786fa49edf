"""quarnel.place.compute: maps of the mean radiant temperature and UTCI on
a surface model. Flat open ground is the station under an open sky; tiles
mosaic to the untiled answer; coordinates and CRS are kept; bad rasters
are refused in one line; the shadows' sun is pvlib's, that of the
radiation's interval for every kind of record; the pattern of sun
and shade, canyon and square follows the Rust SOLWEIG package's."""

import warnings

import numpy as np
import pandas as pd
import pytest

from quarnel import place, tmrt
from quarnel.place.weather import weather
from support.places import SITE, block_city, summer_day

MODEL = dict(projection_factor="published", ground_albedo=0.2, ground_emissivity=0.95,
             bowen_ratio=0.8, person_albedo=0.3, cloud_factor=0.75, cloud_exponent=3.4)


def reanalysis_cell(hours=30):
    """One cell of an ERA5-like grid: accumulated fluxes [J m-2] over the
    hour before each step, ERA5's names and units."""
    import xarray as xr

    rng = np.random.default_rng(5)
    t = pd.date_range("2023-06-20T01:00", periods=hours, freq="h")
    local = (t.hour + 1.0).to_numpy()
    sun = np.clip(np.sin((local - 5.0) / 16.0 * np.pi), 0.0, None)
    ssrd = 3600.0 * 820.0 * sun
    return xr.Dataset({
        "t2m": ("valid_time", 290.0 + 8.0 * sun, {"units": "K"}),
        "d2m": ("valid_time", np.full(hours, 283.0), {"units": "K"}),
        "tcc": ("valid_time", rng.uniform(0, 0.3, hours), {"units": "(0 - 1)"}),
        "u10": ("valid_time", np.full(hours, 2.0), {"units": "m s**-1"}),
        "v10": ("valid_time", np.full(hours, 1.0), {"units": "m s**-1"}),
        "ssrd": ("valid_time", ssrd, {"units": "J m**-2"}),
        "fdir": ("valid_time", 0.7 * ssrd, {"units": "J m**-2"}),
        "strd": ("valid_time", np.full(hours, 3600.0 * 330.0), {"units": "J m**-2"}),
        "ssr": ("valid_time", 0.8 * ssrd, {"units": "J m**-2"}),
        "str": ("valid_time", np.full(hours, -3600.0 * 80.0), {"units": "J m**-2"}),
    }, coords={"valid_time": t, "latitude": 52.5, "longitude": 13.25})


# -- one model for stations and places ---------------------------------------------------

@pytest.mark.parametrize("projection", ["published", "module"])
def test_flat_open_ground_is_the_station_under_an_open_sky(projection):
    obs = summer_day()
    maps = place.compute(np.full((30, 40), 12.0), 1.0, obs, projection_factor=projection,
                         variables=list(place.VARIABLES), **SITE)
    station = tmrt.compute(obs, sky_view_factor=1.0, projection_factor=projection, **SITE)
    for name in ("mean_radiant_temperature", "utci", "pet", "wbgt"):
        expected = station[name].to_numpy()[:, None, None]
        np.testing.assert_allclose(maps[name].values, np.broadcast_to(expected, maps[name].shape),
                                   rtol=0, atol=1e-4)
    day = (station["zenith_angle"] < 90).to_numpy()
    assert (maps.sunlit.values[day] == 1).all() and (maps.sunlit.values[~day] == 0).all()
    assert (maps.sky_view_factor.values == 1).all()
    assert maps.mean_radiant_temperature.dims == ("time", "y", "x")
    np.testing.assert_array_equal(maps.time.values, obs.index.to_numpy())


@pytest.mark.parametrize("container", ["frame", "dataset"])
def test_renamed_columns_humidity_the_chain_completes_and_wind_at_2m(container):
    """The station's UTCI too: its vapour pressure where measured, else from
    the relative humidity, whatever the columns are called; the wind
    measured at 2 m brought to 10 m as the job brings it."""
    obs = summer_day(hours=(12, 13)).rename(columns={"air_temperature": "T",
                                                     "relative_humidity": "RH"})
    obs["e"] = [np.nan, 15.0]
    if container == "dataset":
        obs = obs.rename_axis("time").to_xarray()
    names = {"air_temperature": "T", "relative_humidity": "RH", "vapour_pressure": "e"}
    maps = place.compute(np.zeros((4, 4)), 1.0, obs, names=names, wind_height=2.0, **SITE)
    station = tmrt.compute(obs, names=names, wind_height=2.0, sky_view_factor=1.0, **SITE)
    np.testing.assert_allclose(maps.utci.values[:, 2, 2], station.utci.values, atol=1e-4)


def test_flat_ground_under_a_reanalysis_cell_is_its_station_run():
    """Accumulated fluxes: the interval's sun, ERA5's own long-wave terms."""
    cell = reanalysis_cell()
    maps = place.compute(np.zeros((12, 12)), 2.0, cell, latitude=52.5, longitude=13.4)
    station = tmrt.compute(cell.drop_vars(["latitude", "longitude"]), latitude=52.5,
                           longitude=13.4, sky_view_factor=1.0)
    expected = station.mean_radiant_temperature.values[:, None, None]
    np.testing.assert_allclose(maps.mean_radiant_temperature.values,
                               np.broadcast_to(expected, maps.mean_radiant_temperature.shape),
                               rtol=0, atol=1e-4)


def pvlib_sunlit_middle(pvlib, stamps, hours, end, latitude, longitude):
    """pvlib's azimuth [°] in the middle of the sunlit part of each interval
    of ``hours`` ending ``end`` hours after the stamps (UTC), from its sun
    every 20 s (NaN: no sun); the stamp's for ``hours`` 0."""
    step = pd.Timedelta(seconds=20)
    ends = stamps + pd.Timedelta(hours=end)
    n = int(round(hours * 3600 / 20)) + 1
    fine = (ends.to_numpy()[:, None] - pd.Timedelta(hours=hours).to_numpy()
            + step.to_numpy() * np.arange(n))
    times = pd.DatetimeIndex(fine.ravel()).tz_localize("UTC")
    up = (pvlib.solarposition.get_solarposition(times, latitude, longitude)
          .elevation.to_numpy().reshape(fine.shape) > 0)
    first = np.argmax(up, axis=1)
    last = n - 1 - np.argmax(up[:, ::-1], axis=1)
    middle = fine[np.arange(len(fine)), first] + (fine[np.arange(len(fine)), last]
                                                  - fine[np.arange(len(fine)), first]) / 2
    ref = pvlib.solarposition.get_solarposition(pd.DatetimeIndex(middle).tz_localize("UTC"),
                                                latitude, longitude).azimuth.to_numpy()
    return np.where(up.any(axis=1), ref, np.nan)


def clear_hourly_means(pvlib, start, hours, latitude, longitude):
    """A clear day's hourly means [W m-2] ending at each UTC stamp (pvlib's
    sun every minute), as a station's record: a DataFrame on UTC stamps."""
    stamps = pd.date_range(start, periods=hours, freq="h")
    minutes = pd.date_range(stamps[0] - pd.Timedelta(minutes=59), stamps[-1], freq="min",
                            tz="UTC")
    cos_z = np.cos(np.radians(pvlib.solarposition.get_solarposition(
        minutes, latitude, longitude).zenith.to_numpy()))
    g = 1000.0 * np.maximum(cos_z, 0.0) ** 1.2
    means = g.reshape(hours, 60).mean(axis=1)
    return pd.DataFrame({"air_temperature": 16.0, "relative_humidity": 60.0, "cloud_cover": 0.0,
                         "wind_speed": 2.0, "global_radiation": np.round(means, 1)},
                        index=stamps)


def test_the_shadows_sun_is_pvlibs():
    """At the stamp for a station, in the middle of the hour for fluxes
    accumulated over it (pvlib's solar position, an independent
    implementation; the module's formulas are within about 0.6°)."""
    pvlib = pytest.importorskip("pvlib")
    obs = summer_day(hours=(8, 10, 12, 14, 16, 18))
    w = weather(obs, latitude=52.5, longitude=13.4, height=0.0, utc_offset=2.0, invalid="raise",
                accumulation="interval", names=None, model=MODEL)
    utc = obs.index - pd.Timedelta(hours=2)
    ref = pvlib.solarposition.get_solarposition(utc.tz_localize("UTC"), 52.5, 13.4)
    np.testing.assert_allclose(w.sun_azimuth, ref.azimuth, atol=1.0)
    np.testing.assert_allclose(w.sun_elevation, ref.apparent_elevation, atol=1.0)

    cell = reanalysis_cell()
    w = weather(cell, latitude=52.5, longitude=13.4, height=0.0, utc_offset=0.0,
                invalid="raise", accumulation="interval", names=None, model=MODEL)
    middle = pd.DatetimeIndex(cell.valid_time.values).tz_localize("UTC") - pd.Timedelta(minutes=30)
    ref = pvlib.solarposition.get_solarposition(middle, 52.5, 13.4)
    whole = (ref.apparent_elevation.to_numpy() > 8) & (np.roll(ref.apparent_elevation.to_numpy(), -1) > 8)
    assert whole.sum() > 10
    np.testing.assert_allclose(w.sun_azimuth[whole], ref.azimuth[whole], atol=1.0)


@pytest.mark.parametrize("container,timestamps", [
    ("mapping", "interval-end"), ("mapping", "interval-start"), ("frame", "interval-middle"),
    ("dataset", "interval-end"), ("frame", "instant")])
def test_the_shadows_sun_is_the_radiations_for_every_record(container, timestamps):
    """pvlib's TMY3 (Greensboro, hourly means ending at the stamp) stamped
    as each kind of record says: the shadows' azimuth is pvlib's in the
    middle of the sunlit part of the hour, sunrise and sunset hours too,
    and the elevation the one the chain paired the radiation with; for
    instants the chain's sun at the stamp, bit for bit."""
    pvlib = pytest.importorskip("pvlib")
    from support.station_year import UTC_OFFSET, tmy3

    year, where = tmy3()
    june = slice(24 * 160, 24 * 163)
    obs = {k: v[june] for k, v in year.items()}
    shift = {"interval-end": 0.0, "interval-start": -1.0, "interval-middle": -0.5,
             "instant": 0.0}[timestamps]
    obs["time"] = obs["time"] + np.timedelta64(int(shift * 60), "m")
    if container != "mapping":
        frame = pd.DataFrame({k: v for k, v in obs.items() if k != "time"},
                             index=pd.DatetimeIndex(obs["time"], name="time"))
        obs = frame if container == "frame" else frame.to_xarray()
    site = dict(latitude=where["latitude"], longitude=where["longitude"], height=where["height"],
                utc_offset=UTC_OFFSET)
    w = weather(obs, **site, invalid="raise", accumulation="interval", names=None,
                model={**MODEL, "timestamps": timestamps, "clock_check": False})
    station = tmrt.compute(obs, **site, sky_view_factor=1.0, timestamps=timestamps,
                           clock_check=False)
    paired = np.asarray(station["radiation_zenith_angle"])
    np.testing.assert_array_equal(w.sun_elevation, 90.0 - paired)
    if timestamps == "instant":
        np.testing.assert_array_equal(w.sun_azimuth, np.asarray(station["azimuth_angle"]))
        return
    utc = pd.DatetimeIndex(year["time"][june]) - pd.Timedelta(hours=UTC_OFFSET)
    ref = pvlib_sunlit_middle(pvlib, utc, 1.0, 0.0, where["latitude"], where["longitude"])
    lit = np.asarray(station["sunlit_fraction"]) > 0
    edge = lit & (np.asarray(station["sunlit_fraction"]) < 1)
    assert edge.sum() >= 5                       # sunrise and sunset hours
    np.testing.assert_allclose(w.sun_azimuth[lit], ref[lit], rtol=0, atol=0.5)
    if timestamps != "interval-middle":
        # Not the stamp's sun: half an hour away, 5° and more in June's mornings.
        assert np.abs(w.sun_azimuth - np.asarray(station["azimuth_angle"]))[lit].max() > 5.0


def test_an_east_west_wall_casts_the_shadow_of_its_hours_sun():
    """15 April at 41.3°N on Greenwich's meridian: the sun stands due east
    at about 06:45 (pvlib). The hour ending at 07:00 had the sun north of
    east (06:30), so the wall shades its south side and the north side
    sees its sunlit face; instantaneous values at 07:00 the other way
    round. The same hour stamped at its start or middle gives the same
    maps."""
    pvlib = pytest.importorskip("pvlib")
    site = dict(latitude=41.3, longitude=0.0)
    east = pd.date_range("2023-04-15T06:30", "2023-04-15T07:00", freq="min", tz="UTC")
    azimuth = pvlib.solarposition.get_solarposition(east, **site).azimuth.to_numpy()
    crossing = east[np.argmax(azimuth > 90.0)]
    assert pd.Timestamp("2023-04-15T06:38Z") < crossing < pd.Timestamp("2023-04-15T06:52Z")
    obs = clear_hourly_means(pvlib, "2023-04-15T01:00", 23, **site)
    # A 30 m wall along the raster: with the sun 2.5° off east, a point 3 m
    # from it sees it 70 m along.
    dsm = np.zeros((60, 300))
    dsm[28:32, :] = 30.0
    at = int(np.flatnonzero(obs.index == pd.Timestamp("2023-04-15T07:00"))[0])
    names = ["mean_radiant_temperature", "sunlit"]

    def maps(timestamps, shift_hours=0.0):
        shifted = obs.set_axis(obs.index + pd.Timedelta(hours=shift_hours))
        return place.compute(dsm, 1.0, shifted, timestamps=timestamps, variables=names, **site)

    means = maps("interval-end")
    south, north = means.sunlit.values[at, 33:36, 10:150], means.sunlit.values[at, 25:28, 10:150]
    assert (south == 0).all() and (north == 1).all()
    tmrt_ = means.mean_radiant_temperature.values[at]
    assert tmrt_[26, 80] > tmrt_[34, 80] + 10.0           # beside the sunlit face vs in shade
    moment = maps("instant")
    assert (moment.sunlit.values[at, 33:36, 10:150] == 1).all()
    assert (moment.sunlit.values[at, 25:28, 10:150] == 0).all()
    for timestamps, shift in (("interval-start", -1.0), ("interval-middle", -0.5)):
        same = maps(timestamps, shift)
        np.testing.assert_array_equal(same.sunlit.values, means.sunlit.values)
        np.testing.assert_allclose(same.mean_radiant_temperature.values,
                                   means.mean_radiant_temperature.values, rtol=0, atol=1e-6)


def test_hourly_means_flat_ground_is_the_station_with_the_hours_sun():
    """place.compute hands timestamps and fill_missing to the job: on flat
    open ground the maps are the station's under an open sky, its
    radiation the hour's (not the instant's), a gap filled from the model
    where asked."""
    from support.station_year import UTC_OFFSET, tmy3

    year, where = tmy3()
    obs = {k: v[24 * 170:24 * 171] for k, v in year.items()}
    obs["global_radiation"] = obs["global_radiation"].copy()
    obs["global_radiation"][12] = np.nan
    site = dict(latitude=where["latitude"], longitude=where["longitude"], height=where["height"],
                utc_offset=UTC_OFFSET)
    flat = np.full((6, 6), 50.0)
    for fill in ("none", "model"):
        maps = place.compute(flat, 1.0, obs, timestamps="interval-end", fill_missing=fill,
                             **site).mean_radiant_temperature.values
        station = tmrt.compute(obs, sky_view_factor=1.0, timestamps="interval-end",
                               fill_missing=fill, **site)["mean_radiant_temperature"]
        np.testing.assert_allclose(maps, np.broadcast_to(station[:, None, None], maps.shape),
                                   rtol=0, atol=1e-4)
        assert np.isnan(maps[12]).all() == (fill == "none")
    instant = place.compute(flat, 1.0, obs, **site).mean_radiant_temperature.values
    assert np.nanmax(np.abs(instant - maps)) > 3.0


# -- a place --------------------------------------------------------------------------------

def test_shade_walls_and_ground_on_a_single_building():
    """Noon beside a 20 m box: north of it the person is in its shadow
    (no beam, shaded ground), far from it in the open (the station);
    south of it in the sun before the sunlit south face."""
    obs = summer_day(hours=(13.5,))
    dsm = np.zeros((160, 160))
    dsm[60:100, 60:100] = 20.0
    maps = place.compute(dsm, 1.0, obs, variables=["mean_radiant_temperature", "sunlit", "wbgt"],
                         **SITE).isel(time=0)
    station = tmrt.compute(obs, sky_view_factor=1.0, **SITE).iloc[0]
    # WBGT's instruments in the shadow are the job's shaded ones, in the open its sunlit ones.
    assert maps.wbgt.values[55, 80] == pytest.approx(station.wbgt_shade, abs=1e-4)
    assert maps.wbgt.values[5, 5] == pytest.approx(station.wbgt, abs=1e-4)
    t = maps.mean_radiant_temperature.values
    assert abs(t[5, 5] - station.mean_radiant_temperature) < 0.3        # open corner
    assert maps.sunlit.values[55, 80] == 0 and maps.sunlit.values[104, 80] == 1
    # In the shadow: colder than the station in shade (no beam, shaded ground below) ...
    assert t[55, 80] < station.mean_radiant_temperature_shade + 3.0
    assert t[55, 80] < station.mean_radiant_temperature - 15.0
    # ... before the sunlit south face: warmer than in the open.
    assert t[101, 80] > t[5, 5]


def test_nan_holes_are_nan_out_quietly():
    dsm = block_city(120)
    dsm[50:60, 30:45] = np.nan
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        maps = place.compute(dsm, 1.0, summer_day(hours=(12, 22)), **SITE)
    for name in ("mean_radiant_temperature", "utci", "sunlit"):
        values = maps[name].values
        assert np.isnan(values[:, 50:60, 30:45]).all()
        assert np.isfinite(np.delete(values.reshape(2, -1), np.flatnonzero(np.isnan(dsm)), 1)).all()


def test_tiles_mosaic_to_the_untiled_answer():
    dsm = block_city(230)[:190]
    dsm[100:104, 7:20] = np.nan
    obs = summer_day(hours=(8, 12, 18))
    whole = place.compute(dsm, 1.0, obs, max_distance=40.0, **SITE)
    tiled = place.compute(dsm, 1.0, obs, max_distance=40.0, tile_size=64, **SITE)
    for name in whole.data_vars:
        np.testing.assert_array_equal(tiled[name].values, whole[name].values, err_msg=name)


# -- rasters ---------------------------------------------------------------------------------

def _dataarray(z, crs="EPSG:32633", pixel=1.0, origin=(390000.0, 5820000.0), units=None):
    import xarray as xr
    pytest.importorskip("rioxarray")

    rows, cols = z.shape
    x = origin[0] + (np.arange(cols) + 0.5) * pixel
    y = origin[1] - (np.arange(rows) + 0.5) * pixel
    da = xr.DataArray(z, dims=("y", "x"), coords={"y": y, "x": x},
                      attrs={"units": units} if units else {})
    return da.rio.write_crs(crs) if crs else da


def test_coordinates_and_crs_are_kept_and_the_site_is_the_dsms_centre():
    from pyproj import Transformer

    z = block_city(90)
    da = _dataarray(z)
    obs = summer_day(hours=(10, 16))
    maps = place.compute(da, None, obs, utc_offset=2.0)
    np.testing.assert_array_equal(maps.x.values, da.x.values)
    np.testing.assert_array_equal(maps.y.values, da.y.values)
    assert maps.rio.crs.to_epsg() == 32633
    assert maps.mean_radiant_temperature.attrs["grid_mapping"] == "spatial_ref"
    assert maps.x.attrs["standard_name"] == "projection_x_coordinate"
    lon, lat = Transformer.from_crs("EPSG:32633", "EPSG:4326", always_xy=True).transform(
        float(da.x.mean()), float(da.y.mean()))
    given = place.compute(z, 1.0, obs, latitude=lat, longitude=lon, utc_offset=2.0)
    np.testing.assert_array_equal(maps.mean_radiant_temperature.values,
                                  given.mean_radiant_temperature.values)
    # Stored south-up: the same maps, in the DataArray's own order.
    up = place.compute(da.isel(y=slice(None, None, -1)), None, obs, utc_offset=2.0)
    np.testing.assert_array_equal(up.mean_radiant_temperature.values,
                                  maps.mean_radiant_temperature.values[:, ::-1])
    np.testing.assert_array_equal(up.y.values, da.y.values[::-1])


def test_a_dsm_in_feet_is_converted():
    """EPSG:2263 (US survey feet): pixels and heights in feet give the maps
    of the same city in metres."""
    foot = 1200.0 / 3937.0
    z = block_city(60, seed=8)
    obs = summer_day(hours=(11,))
    metres = place.compute(z, 1.0, obs, latitude=40.7, longitude=-74.0, utc_offset=-4.0)
    feet = place.compute(_dataarray(z / foot, crs="EPSG:2263", pixel=1.0 / foot,
                                    origin=(980000.0, 200000.0)), None, obs, latitude=40.7,
                         longitude=-74.0, utc_offset=-4.0)
    np.testing.assert_allclose(feet.mean_radiant_temperature.values,
                               metres.mean_radiant_temperature.values, atol=1e-3)
    np.testing.assert_array_equal(feet.sunlit.values, metres.sunlit.values)


@pytest.mark.parametrize("make,match", [
    (lambda: _dataarray(np.zeros((10, 10)), crs="EPSG:4326", pixel=1e-5), "geographic"),
    (lambda: _dataarray(np.zeros((10, 10))).assign_coords(x=390000.0 + 2.0 * np.arange(10)),
     "not square"),
    (lambda: np.zeros((0, 5)), "empty"),
    (lambda: np.full((5, 5), np.nan), "no heights"),
    (lambda: np.zeros((5, 5, 2)), "2-D"),
    (lambda: _dataarray(np.zeros((10, 10)), units="fathoms"), "fathoms"),
])
def test_bad_rasters_are_refused_in_one_line(make, match):
    with pytest.raises(place.RasterError, match=match) as info:
        place.compute(make(), None if hasattr(make(), "dims") else 1.0, summer_day(hours=(12,)),
                      latitude=52.5, longitude=13.4)
    assert "\n" not in str(info.value)


def test_bad_calls_are_refused():
    obs = summer_day(hours=(12,))
    with pytest.raises(ValueError, match="latitude and longitude"):
        place.compute(np.zeros((5, 5)), 1.0, obs)
    with pytest.raises(ValueError, match="variables"):
        place.compute(np.zeros((5, 5)), 1.0, obs, variables=["tmrt"], **SITE)
    with pytest.raises(ValueError, match="finite max_distance"):
        place.compute(np.zeros((5, 5)), 1.0, obs, max_distance=None, tile_size=2, **SITE)
    with pytest.raises(TypeError):
        place.compute(np.zeros((5, 5)), 1.0, obs, sky_view_factor=0.5, **SITE)
    with pytest.raises(ValueError, match="one place"):
        cell = reanalysis_cell().expand_dims(latitude=[52.0, 53.0])
        place.compute(np.zeros((5, 5)), 1.0, cell, latitude=52.5, longitude=13.4)
    with pytest.raises(tmrt.ObservationError):
        place.compute(np.zeros((5, 5)), 1.0, obs.assign(cloud_cover=9.0), **SITE)


# -- against the Rust SOLWEIG package -----------------------------------------------------

def test_sun_and_shade_canyon_and_square_follow_solweig(tmp_path):
    """Isotropic sky, the same weather (direct and diffuse, sun position):
    per hour the ground's Tmrt maps correlate, sun and shade are as far
    apart, and canyon and square in shade differ alike. (In the sun the
    peer's canyon is about 3 K warmer than its square and ours not: its
    walls, shaded ones too, are far warmer than the air; see
    docs/reference.md.)"""
    solweig = pytest.importorskip("solweig")
    rasterio = pytest.importorskip("rasterio")
    import logging
    solweig.disable_gpu()
    logging.disable(logging.INFO)
    try:
        n = 240
        dsm = block_city(n, square=True)
        obs = summer_day(hours=(9, 12, 15, 17))
        ours = place.compute(dsm, 1.0, obs, **SITE)
        station = tmrt.compute(obs, sky_view_factor=1.0, **SITE)
        surface = solweig.SurfaceData.prepare(dsm=dsm.astype(np.float32), pixel_size=1.0)
        weather_ = [solweig.Weather(
            datetime=t.to_pydatetime(), ta=float(o.air_temperature), rh=float(o.relative_humidity),
            global_rad=float(o.global_radiation), ws=float(o.wind_speed),
            measured_direct_rad=float(s.direct_radiation), measured_diffuse_rad=float(s.diffuse_radiation),
            precomputed_sun_altitude=90.0 - float(s.zenith_angle),
            precomputed_sun_azimuth=float(s.azimuth_angle))
            for (t, o), (_, s) in zip(obs.iterrows(), station.iterrows())]
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            solweig.calculate(surface, weather_, solweig.Location(latitude=52.5, longitude=13.4,
                                                                  utc_offset=2),
                              output_dir=tmp_path, use_anisotropic_sky=False,
                              outputs=["tmrt", "shadow"])
            theirs = [rasterio.open(f).read(1) for f in sorted((tmp_path / "tmrt").glob("*.tif"))]
            their_sun = [rasterio.open(f).read(1) for f in sorted((tmp_path / "shadow").glob("*.tif"))]
    finally:
        logging.disable(logging.NOTSET)
    assert len(theirs) == 4
    ground = dsm == 0
    ground[:20], ground[-20:], ground[:, :20], ground[:, -20:] = False, False, False, False
    m = n // 2
    square = np.zeros_like(ground)
    square[m - 45:m + 45, m - 45:m + 45] = True
    canyon = ground & ~square & (ours.sky_view_factor.values < 0.5)
    for k in range(4):
        o, th = ours.mean_radiant_temperature.values[k], theirs[k]
        lit, their_lit = ours.sunlit.values[k] == 1, their_sun[k] == 1
        assert (lit[ground] == their_lit[ground]).mean() > 0.95
        assert np.corrcoef(o[ground], th[ground])[0, 1] > 0.9
        assert (np.sign(o[ground] - o[ground].mean())
                == np.sign(th[ground] - th[ground].mean())).mean() > 0.85
        gap, their_gap = (o[ground & lit].mean() - o[ground & ~lit].mean(),
                          th[ground & their_lit].mean() - th[ground & ~their_lit].mean())
        assert gap > 4.0 and their_gap > 4.0 and abs(gap - their_gap) < 0.25 * their_gap
    for k in (0, 3):       # morning and evening: the square has shade too
        o, th = ours.mean_radiant_temperature.values[k], theirs[k]
        lit, their_lit = ours.sunlit.values[k] == 1, their_sun[k] == 1
        ours_order = o[canyon & ~lit].mean() - o[square & ~lit].mean()
        their_order = th[canyon & ~their_lit].mean() - th[square & ~their_lit].mean()
        assert abs(ours_order - their_order) < 1.0
