"""quarnel tmrt WEATHER --dsm DSM.tif -o MAP.nc: maps from a station's CSV
or a reanalysis grid's nearest cell on a GeoTIFF written here, the same as
quarnel.place.compute, with the DSM's coordinates and CRS; bad rasters end
in one line."""

import numpy as np
import pytest

from quarnel import place
from support.cli import era5, run
from support.places import block_city, geotiff, summer_day

pytest.importorskip("rasterio")
rioxarray = pytest.importorskip("rioxarray")
xr = pytest.importorskip("xarray")


def station_csv(path, obs):
    lines = ["time,air_temperature,relative_humidity,cloud_cover,wind_speed,global_radiation"]
    for t, r in obs.iterrows():
        lines.append(f"{t.isoformat()}+02:00,{r.air_temperature},{r.relative_humidity},"
                     f"{r.cloud_cover},{r.wind_speed},{r.global_radiation}")
    path.write_text("\n".join(lines) + "\n")
    return path


def centre(crs, x, y):
    from pyproj import Transformer
    lon, lat = Transformer.from_crs(crs, "EPSG:4326", always_xy=True).transform(x, y)
    return lat, lon


def test_a_station_and_a_geotiff_make_the_librarys_maps(tmp_path, capsys):
    z = block_city(100)
    z[40:44, 3:9] = np.nan
    geotiff(tmp_path / "dsm.tif", z)
    obs = summer_day(hours=(6, 12, 19))
    station_csv(tmp_path / "station.csv", obs)
    status, err = run([tmp_path / "station.csv", "--dsm", tmp_path / "dsm.tif", "-o",
                       tmp_path / "map.nc", "--tile", "64", "--max-distance", "30"], capsys)
    assert status == 0, err
    maps = xr.open_dataset(tmp_path / "map.nc", decode_coords="all")
    assert maps.rio.crs.to_epsg() == 32633
    np.testing.assert_allclose(maps.x.values, 390000.5 + np.arange(100))
    np.testing.assert_allclose(maps.y.values, 5819999.5 - np.arange(100))
    assert maps.rio.transform().a == 1.0 and maps.rio.transform().e == -1.0
    lat, lon = centre("EPSG:32633", 390050.0, 5819950.0)
    want = place.compute(z.astype(np.float32), 1.0, obs, latitude=lat, longitude=lon,
                         utc_offset=2.0, max_distance=30.0)
    for name in want.data_vars:
        np.testing.assert_allclose(maps[name].values, want[name].values, rtol=0, atol=1e-5,
                                   err_msg=name)
    assert maps.mean_radiant_temperature.attrs["units"] == "degC"
    assert np.isnan(maps.utci.values[:, 40:44, 3:9]).all()

    # A window of the DSM: its own coordinates, the maps of that window.
    status, err = run([tmp_path / "station.csv", "--dsm", tmp_path / "dsm.tif", "-o",
                       tmp_path / "window.nc", "--bbox", "390010,5819940,390050,5819990",
                       "--max-distance", "30", "--lat", str(lat), "--lon", str(lon)], capsys)
    assert status == 0, err
    window = xr.open_dataset(tmp_path / "window.nc")
    np.testing.assert_allclose(window.x.values, 390010.5 + np.arange(40))
    np.testing.assert_allclose(window.y.values, 5819989.5 - np.arange(50))
    want = place.compute(z[10:60, 10:50].astype(np.float32), 1.0, obs, latitude=lat,
                         longitude=lon, utc_offset=2.0, max_distance=30.0)
    np.testing.assert_allclose(window.mean_radiant_temperature.values,
                               want.mean_radiant_temperature.values, rtol=0, atol=1e-5)


def test_the_nearest_cell_of_a_reanalysis_makes_a_zarr_map(tmp_path, capsys):
    pytest.importorskip("zarr")
    grid = era5(tmp_path / "era5.nc")
    from pyproj import Transformer
    x, y = Transformer.from_crs("EPSG:4326", "EPSG:32632", always_xy=True).transform(10.2, 50.1)
    z = block_city(60, seed=4)
    geotiff(tmp_path / "dsm.tif", z, crs="EPSG:32632", origin=(round(x), round(y)))
    status, err = run([tmp_path / "era5.nc", "--dsm", tmp_path / "dsm.tif", "-o",
                       tmp_path / "map.zarr", "--variables", "mean_radiant_temperature,sunlit"],
                      capsys)
    assert status == 0, err
    maps = xr.open_zarr(tmp_path / "map.zarr", decode_coords="all")
    assert set(maps.data_vars) == {"mean_radiant_temperature", "sunlit"}
    assert maps.rio.crs.to_epsg() == 32632
    lat, lon = centre("EPSG:32632", round(x) + 30.0, round(y) - 30.0)
    cell = grid.sel(latitude=50.0, longitude=10.0)
    want = place.compute(z.astype(np.float32), 1.0, cell, latitude=lat, longitude=lon,
                         variables=["mean_radiant_temperature"])
    np.testing.assert_allclose(maps.mean_radiant_temperature.values,
                               want.mean_radiant_temperature.values, rtol=0, atol=1e-5)


def test_a_dsm_in_feet_is_converted_with_a_note(tmp_path, capsys):
    foot = 1200.0 / 3937.0
    z = block_city(40, seed=2)
    geotiff(tmp_path / "feet.tif", z / foot, crs="EPSG:2263", pixel=(1 / foot, 1 / foot),
            origin=(980000.0, 200000.0))
    station_csv(tmp_path / "station.csv", summer_day(hours=(12,)))
    status, err = run([tmp_path / "station.csv", "--dsm", tmp_path / "feet.tif", "-o",
                       tmp_path / "map.nc"], capsys)
    assert status == 0, err
    assert "note:" in err and "foot" in err and "converted to metres" in err


def test_a_station_years_hourly_means_make_maps_with_their_hours_sun(tmp_path, capsys):
    """TMY3's hourly means ending at each stamp (pvlib's Greensboro year):
    --timestamps interval-end (with --accumulation 1 the same), and
    --fill-missing, reach the maps as place.compute takes them; without
    them the maps are the instant's. --accumulation alone is refused."""
    from support.station_year import UTC_OFFSET, tmy3

    year, where = tmy3()
    day = slice(24 * 171 + 4, 24 * 171 + 18)          # 05:00 to 18:00: the sunrise hour and the day
    obs = {k: v[day] for k, v in year.items()}
    obs["global_radiation"][8] = np.nan
    names = [k for k in obs if k != "time"]
    lines = [",".join(["time", *names])]
    lines += [",".join([str(t)] + [repr(float(obs[k][i])) for k in names])
              for i, t in enumerate(obs["time"])]
    (tmp_path / "tmy.csv").write_text("\n".join(lines) + "\n")
    z = block_city(64, seed=6)
    geotiff(tmp_path / "dsm.tif", z)
    site = ["--lat", where["latitude"], "--lon", where["longitude"], "--height", where["height"],
            "--utc-offset", UTC_OFFSET]
    common = [tmp_path / "tmy.csv", "--dsm", tmp_path / "dsm.tif", *site, "--max-distance", "60"]
    kw = dict(latitude=where["latitude"], longitude=where["longitude"], height=where["height"],
              utc_offset=UTC_OFFSET, max_distance=60.0)
    got = {}
    for name, options in (("end", ["--timestamps", "interval-end"]),
                          ("hours", ["--timestamps", "interval-end", "--accumulation", "1"]),
                          ("filled", ["--timestamps", "interval-end", "--fill-missing", "model"]),
                          ("instant", [])):
        status, err = run([*common, "-o", tmp_path / f"{name}.nc", *options], capsys)
        assert status == 0, err
        got[name] = xr.open_dataset(tmp_path / f"{name}.nc")
    for name, settings in (("end", {"timestamps": "interval-end"}),
                           ("filled", {"timestamps": "interval-end", "fill_missing": "model"})):
        want = place.compute(z.astype(np.float32), 1.0, obs, **settings, **kw)
        for var in want.data_vars:
            np.testing.assert_allclose(got[name][var].values, want[var].values, rtol=0,
                                       atol=1e-5, err_msg=f"{name} {var}")
    np.testing.assert_array_equal(got["hours"].mean_radiant_temperature.values,
                                  got["end"].mean_radiant_temperature.values)
    assert np.isnan(got["end"].mean_radiant_temperature.values[8]).all()
    assert np.isfinite(got["filled"].mean_radiant_temperature.values[8]).any()
    # The instant's sun is half an hour off: other shadows, other radiation.
    assert (got["instant"].sunlit.values != got["end"].sunlit.values).mean() > 0.01
    with pytest.raises(SystemExit) as stop:
        run([*common, "-o", tmp_path / "refused.nc", "--accumulation", "1"], capsys)
    assert stop.value.code == 2 and "--timestamps interval-" in capsys.readouterr().err


@pytest.mark.parametrize("case,options,status,words", [
    ("geographic", [], 1, "geographic"),
    ("rectangular", [], 1, "not square"),
    ("nodata", [], 1, "no heights"),
    ("plain", ["--bbox", "0,0,10,10"], 1, "empty window"),
    ("plain", ["--bbox", "1,2,3"], 2, "MINX,MINY,MAXX,MAXY"),
    ("no crs", [], 2, "--lat and --lon"),
    ("plain", ["--plot", "p.png"], 2, "--plot"),
    ("plain", ["--sky-view-factor", "0.5"], 2, "each pixel's own"),
    ("plain", ["--tile", "100"], 2, "multiple of 64"),
])
def test_bad_rasters_and_options_end_in_one_line(tmp_path, capsys, case, options, status, words):
    z = np.zeros((20, 20))
    crs, pixel = "EPSG:32633", (1.0, 1.0)
    if case == "geographic":
        crs, pixel = "EPSG:4326", (1e-5, 1e-5)
    elif case == "rectangular":
        pixel = (1.0, 2.0)
    elif case == "nodata":
        z = np.full((20, 20), np.nan)
    elif case == "no crs":
        crs = None
    geotiff(tmp_path / "dsm.tif", z, crs=crs, pixel=pixel)
    station_csv(tmp_path / "station.csv", summer_day(hours=(12,)))
    out = tmp_path / "map.nc"
    args = [tmp_path / "station.csv", "--dsm", tmp_path / "dsm.tif", "-o", out, *options]
    if status == 2:
        with pytest.raises(SystemExit) as stop:
            run(args, capsys)
        got, err = stop.value.code, capsys.readouterr().err
        err = err.strip().splitlines()[-1]             # after argparse's usage
    else:
        got, err = run(args, capsys)
        assert len(err.strip().splitlines()) == 1
    assert got == status
    assert words in err
    assert not out.exists()
    assert not list(tmp_path.glob(".map.nc.*"))
