"""The outputs the job layer and the command are pinned to.

Each case is a computation on recorded inputs (``tests/data/pinned/inputs.npz``)
that gives named arrays; ``scripts/pin_outputs.py`` records them in
``outputs.npz`` and ``tests/test_pinned_outputs.py`` recomputes them and
compares, bit for bit where the recording machine's NumPy is the one in
use (NumPy picks its exp and power by processor).

The cases cover the three containers and the command, each way radiation
comes (none, global, direct and diffuse, ERA5's accumulations as interval,
given hours and running totals), each humidity input, the air pressure
measured or not, every setting moved from its default, and outputs chosen.
"""

from __future__ import annotations

import json
import pathlib
from collections.abc import Callable
from typing import Any

import numpy as np

from support import sky

TESTS = pathlib.Path(__file__).resolve().parents[1]
PINNED = TESTS / "data" / "pinned"
ROOT = TESTS.parent
SHIPPED = ROOT / "examples" / "data" / "greenwich_2023-07-12.csv"

SITE = dict(latitude=52.2, longitude=14.1, height=100.0)
STATION = 24          # rows of the station records
GRID = (24, 2, 2)     # time, latitude, longitude
#: outputs of cases larger than this are pinned by a digest and a sample
DIGEST_FROM = 20000


def make_inputs(seed: int = 26) -> dict[str, np.ndarray]:
    """The recorded inputs (run once, by scripts/pin_outputs.py)."""
    rng = np.random.default_rng(seed)
    n = STATION
    minutes = np.sort(rng.integers(0, 365 * 24 * 60, n))
    t = rng.uniform(-10, 35, n)
    rh = rng.uniform(20, 100, n)
    sat = 6.112 * np.exp(17.62 * t / (243.12 + t))

    def holes(x: np.ndarray, share: float = 0.15) -> np.ndarray:
        x = x.copy()
        x[rng.uniform(size=x.shape) < share] = np.nan
        return x

    g = rng.uniform(0, 950, n)
    out = {
        "st_time": np.datetime64("2023-01-01T00:00") + minutes.astype("timedelta64[m]"),
        "st_air_temperature": t,
        "st_relative_humidity": rh,
        "st_vapour_pressure": holes(rh / 100 * sat * rng.uniform(0.9, 1.0, n)),
        "st_dew_point": holes(t - rng.uniform(0, 15, n)),
        "st_cloud_cover": rng.integers(0, 9, n).astype(np.float64),
        "st_wind_speed": rng.uniform(0, 12, n),
        "st_global_radiation": holes(g),
        "st_direct_normal_radiation": holes(rng.uniform(0, 1.2, n) * g),
        "st_diffuse_radiation": holes(rng.uniform(0.1, 0.9, n) * g),
        "st_direct_horizontal_radiation": holes(rng.uniform(0, 0.8, n) * g),
        "st_longwave_downward_radiation": holes(rng.uniform(230, 420, n)),
        "st_net_shortwave_radiation": holes(0.8 * g),
        "st_net_longwave_radiation": holes(rng.uniform(-120, 10, n)),
        "st_latitude": rng.uniform(-60, 70, n),
        "st_height": rng.uniform(-20, 2500, n),
        # a grid as ERA5 gives it: float32, K, 0 - 1, J m-2 over each hour
        "gr_t2m": (275 + rng.normal(0, 8, GRID)).astype("f4"),
        "gr_dd": rng.uniform(0, 12, GRID).astype("f4"),
        "gr_tcc": rng.uniform(0, 1, GRID).astype("f4"),
        "gr_u10": rng.normal(0, 4, GRID).astype("f4"),
        "gr_v10": rng.normal(0, 4, GRID).astype("f4"),
        "gr_ssrd": rng.uniform(0, 3.0e6, GRID).astype("f4"),
        "gr_fdir_share": rng.uniform(0, 0.8, GRID).astype("f4"),
        "gr_strd": rng.uniform(0.9e6, 1.4e6, GRID).astype("f4"),
        "gr_str": rng.uniform(-4e5, 0, GRID).astype("f4"),
        "gr_orography": rng.uniform(0, 1500, GRID[1:]),
    }
    return out


# Containers made of the inputs --------------------------------------------

QUANTITIES = ("air_temperature", "relative_humidity", "vapour_pressure", "dew_point",
              "cloud_cover", "wind_speed", "global_radiation", "direct_normal_radiation",
              "diffuse_radiation", "direct_horizontal_radiation", "longwave_downward_radiation",
              "net_shortwave_radiation", "net_longwave_radiation")
BASE = ("air_temperature", "relative_humidity", "cloud_cover", "wind_speed")


def station(i: dict[str, np.ndarray], *extra: str, humidity: tuple[str, ...] | None = None
            ) -> dict[str, np.ndarray]:
    keep = [q for q in BASE if humidity is None or q != "relative_humidity"]
    keep += list(humidity or ()) + list(extra)
    return {"time": i["st_time"], **{q: i[f"st_{q}"] for q in keep}}


def era5(i: dict[str, np.ndarray], fluxes: tuple[str, ...] = ("ssrd", "fdir", "strd", "ssr", "str"),
         every: int = 1, long_names: bool = False) -> Any:
    import pandas as pd
    import xarray as xr

    dims = ("valid_time", "latitude", "longitude")
    sl = slice(None, None, every)
    k = {name: i[f"gr_{name}"][sl] for name in ("t2m", "dd", "tcc", "u10", "v10", "ssrd",
                                                 "fdir_share", "strd", "str")}
    # accumulations over `every` hours: the hourly ones summed; the recorded
    # shares of global and long-wave radiation made what each hour allows
    times = pd.date_range("2023-03-20T01:00", periods=GRID[0], freq="h")
    lat, lon = [62.0, -20.0], [-75.0, 135.0]
    hourly = {
        "ssrd": sky.hourly_global(i["gr_ssrd"] / 3.0e6, times.values, lat, lon),
        "strd": sky.hourly_longwave((i["gr_strd"] - 0.9e6) / 0.5e6, i["gr_t2m"]),
        "str": i["gr_str"].astype(np.float64)}
    acc = {name: np.add.reduceat(v, np.arange(0, v.shape[0], every), axis=0)
           for name, v in hourly.items()} if every > 1 else hourly
    values = {
        "t2m": (k["t2m"], "K"), "d2m": ((k["t2m"] - k["dd"]).astype("f4"), "K"),
        "tcc": (k["tcc"], "(0 - 1)"), "u10": (k["u10"], "m s**-1"), "v10": (k["v10"], "m s**-1"),
        "ssrd": (acc["ssrd"].astype("f4"), "J m**-2"),
        "fdir": ((acc["ssrd"] * k["fdir_share"]).astype("f4"), "J m**-2"),
        "strd": (acc["strd"].astype("f4"), "J m**-2"),
        "ssr": ((0.8 * acc["ssrd"]).astype("f4"), "J m**-2"),
        "str": (acc["str"].astype("f4"), "J m**-2"),
    }
    long = {"t2m": "2m_temperature", "d2m": "2m_dewpoint_temperature",
            "tcc": "total_cloud_cover", "u10": "10m_u_component_of_wind",
            "v10": "10m_v_component_of_wind", "ssrd": "surface_solar_radiation_downwards",
            "fdir": "total_sky_direct_solar_radiation_at_surface",
            "strd": "surface_thermal_radiation_downwards", "ssr": "surface_net_solar_radiation",
            "str": "surface_net_thermal_radiation"}
    wanted = ("t2m", "d2m", "tcc", "u10", "v10", *fluxes)
    times = times[every - 1::every]
    return xr.Dataset(
        {long[n] if long_names else n: (dims, values[n][0], {"units": values[n][1]})
         for n in wanted},
        coords={"valid_time": times,
                "latitude": ("latitude", lat, {"units": "degrees_north"}),
                "longitude": ("longitude", lon, {"units": "degrees_east"})})


def running_totals(ds: Any) -> Any:
    """The hourly accumulations as ERA5-Land's running totals since 00 UTC."""
    hours = ds["valid_time"].dt.hour.values
    out = ds.copy()
    for name in ("ssrd", "fdir", "strd", "ssr", "str"):
        hourly = ds[name].values.astype(np.float64)
        running = np.empty_like(hourly)
        for k in range(len(hours)):
            start = k
            while start > 0 and hours[start] != 1:
                start -= 1
            running[k] = hourly[start:k + 1].sum(axis=0)
        out[name] = (ds[name].dims, running.astype("f4"), ds[name].attrs)
    return out


def arrays(result: Any) -> dict[str, np.ndarray]:
    """The computed arrays of a result, whatever its container (text as text)."""
    if isinstance(result, dict):
        out = {k: np.asarray(v) for k, v in result.items()}
    elif hasattr(result, "data_vars"):
        out = {str(k): np.asarray(v.values) for k, v in result.data_vars.items()}
    else:
        out = {str(k): result[k].to_numpy() for k in result.columns}
    return {k: v.astype(str) if v.dtype == object else v for k, v in out.items()}


# The cases ----------------------------------------------------------------

Case = Callable[[dict[str, np.ndarray], pathlib.Path], dict[str, np.ndarray]]
CASES: dict[str, Case] = {}


def case(name: str) -> Callable[[Case], Case]:
    def register(fn: Case) -> Case:
        CASES[name] = fn
        return fn
    return register


def _numpy_case(name: str, extra: tuple[str, ...] = (), humidity: tuple[str, ...] | None = None,
                **settings: Any) -> None:
    def run(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
        from quarnel import tmrt
        obs = station(i, *extra, humidity=humidity)
        return arrays(tmrt.compute(obs, **{**SITE, **settings}))
    CASES[name] = run


_numpy_case("numpy/model")
_numpy_case("numpy/global", ("global_radiation",))
_numpy_case("numpy/direct_diffuse", ("global_radiation", "direct_normal_radiation",
                                     "diffuse_radiation"))
_numpy_case("numpy/direct_diffuse_no_global", ("direct_normal_radiation", "diffuse_radiation"))
_numpy_case("numpy/horizontal", ("direct_horizontal_radiation", "diffuse_radiation",
                                 "global_radiation"))
_numpy_case("numpy/all_fluxes", QUANTITIES[6:])
_numpy_case("numpy/vapour_pressure", ("global_radiation",), humidity=("vapour_pressure",))
_numpy_case("numpy/dew_point", (), humidity=("dew_point",))
_numpy_case("numpy/humidity_all", (), humidity=("vapour_pressure", "dew_point",
                                                "relative_humidity"))
for _setting, _value in (("ground_albedo", 0.35), ("ground_emissivity", 0.9),
                         ("bowen_ratio", 2.5), ("person_albedo", 0.2),
                         ("sky_view_factor", 0.45), ("cloud_factor", 0.6),
                         ("cloud_exponent", 2.0), ("projection_factor", "module"),
                         ("utc_offset", -5.5), ("height", 1800.0), ("longitude", 300.0)):
    _numpy_case(f"numpy/{_setting}", ("global_radiation", "longwave_downward_radiation"),
                **{_setting: _value})
_numpy_case("numpy/projection_module_model", (), projection_factor="module")
_numpy_case("numpy/variables", ("global_radiation",),
            variables=["utci", "mean_radiant_temperature", "surface_temperature"])


_numpy_case("numpy/indices_only", ("global_radiation", "direct_normal_radiation"),
            variables=["pet_shade", "wbgt_shade", "globe_temperature", "heat_index",
                       "wind_chill"])


@case("numpy/air_pressure")
def _air_pressure(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
    from quarnel import tmrt
    obs = station(i, "global_radiation")
    obs["air_pressure"] = 1013.25 * (1 - 0.0065 * i["st_height"] / 288.15) ** 5.255
    obs["air_pressure"][::5] = np.nan           # from the height there
    return arrays(tmrt.compute(obs, latitude=i["st_latitude"], longitude=20.0,
                               height=i["st_height"]))


@case("numpy/site_per_row")
def _site_per_row(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
    from quarnel import tmrt
    return arrays(tmrt.compute(station(i, "global_radiation"), latitude=i["st_latitude"],
                               longitude=-3.0, height=i["st_height"]))


@case("numpy/masked")
def _masked(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
    from quarnel import tmrt
    obs = station(i, "global_radiation")
    obs["cloud_cover"] = obs["cloud_cover"] * 1.3          # some above 8 octas
    obs["global_radiation"] = obs["global_radiation"] * 1.8
    return arrays(tmrt.compute(obs, invalid="mask", **SITE))


@case("numpy/sites_by_hours")
def _sites_by_hours(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
    from quarnel import tmrt
    obs = {q: np.stack([v, v[::-1], np.roll(v, 7)], axis=1)
           for q, v in station(i, "global_radiation").items() if q != "time"}
    obs["time"] = i["st_time"][:, None]
    # random radiation at random hours: sunshine at night, past the clock's check
    return arrays(tmrt.compute(obs, latitude=np.array([40.0, 52.0, 68.0]), longitude=10.0,
                               clock_check=False))


@case("numpy/years")
def _years(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
    # Long enough for the blocks, the dates looked up and the equation of time's table.
    from quarnel import tmrt
    n = 5 * 8760 + 24
    obs = {q: np.resize(v, n) for q, v in station(i, "global_radiation",
                                                   "longwave_downward_radiation").items()
           if q != "time"}
    obs["time"] = np.datetime64("2019-01-01T00:30") + np.arange(n).astype("timedelta64[h]")
    return arrays(tmrt.compute(obs, latitude=48.1, longitude=-122.0, utc_offset=-8.0,
                               clock_check=False))


@case("pandas/aware_index")
def _aware_index(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
    import pandas as pd

    from quarnel import tmrt
    obs = station(i, "global_radiation", "diffuse_radiation")
    index = pd.DatetimeIndex(obs.pop("time")).tz_localize("UTC").tz_convert("Etc/GMT-2")
    df = pd.DataFrame(obs, index=index)
    return arrays(tmrt.compute(df, utc_offset=7.0, sky_view_factor=0.6, **SITE))


@case("pandas/time_column_named")
def _time_column(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
    import pandas as pd

    from quarnel import tmrt
    obs = station(i, "global_radiation")
    df = pd.DataFrame({"stamp": obs.pop("time").astype(str), "ta": obs.pop("air_temperature"),
                       **obs, "note": "x"})
    return arrays(tmrt.compute(df, names={"time": "stamp", "air_temperature": "ta"},
                               utc_offset=1.0, clock_check=False, **SITE))


def _xarray_case(name: str, build: Callable[[dict[str, np.ndarray]], Any], chunks: Any = None,
                 **settings: Any) -> None:
    def run(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
        from quarnel import tmrt
        ds = build(i)
        if chunks is not None:
            ds = ds.chunk(chunks)
        return arrays(tmrt.compute(ds, **settings).compute())
    CASES[name] = run


_xarray_case("xarray/era5_interval", era5)
_xarray_case("xarray/era5_interval_dask", era5, chunks={"valid_time": 7, "latitude": 2})
_xarray_case("xarray/era5_three_hours", lambda i: era5(i, every=3), accumulation=3.0)
_xarray_case("xarray/era5_three_hourly_interval", lambda i: era5(i, every=3))
_xarray_case("xarray/era5_land_running", lambda i: running_totals(era5(i)),
             accumulation="since-00utc")
_xarray_case("xarray/era5_land_running_dask", lambda i: running_totals(era5(i)),
             chunks={"valid_time": 5}, accumulation="since-00utc")
_xarray_case("xarray/era5_ssrd_only", lambda i: era5(i, ("ssrd",)), sky_view_factor=1.0,
             projection_factor="module")
_xarray_case("xarray/era5_long_names_no_flux", lambda i: era5(i, (), long_names=True),
             height=400.0, ground_albedo=0.15)
_xarray_case("xarray/era5_masked", lambda i: era5(i).assign(
    tcc=lambda d: d["tcc"] * 1.1), invalid="mask")
_xarray_case("xarray/era5_variables", era5, variables=["utci", "utci_category_shade",
                                                   "direct_radiation"])


@case("xarray/era5_height_grid")
def _height_grid(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
    import xarray as xr

    from quarnel import tmrt
    ds = era5(i, ("ssrd", "strd"))
    height = xr.DataArray(i["gr_orography"], dims=("latitude", "longitude"))
    return arrays(tmrt.compute(ds, height=height, bowen_ratio=0.4))


@case("xarray/station_standard_names")
def _station_dataset(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
    import xarray as xr

    from quarnel import tmrt
    obs = station(i, "global_radiation", "longwave_downward_radiation",
                  humidity=("dew_point",))
    time = obs.pop("time")
    units = {"air_temperature": "K", "dew_point": "degC", "cloud_cover": "%",
             "wind_speed": "km h-1", "global_radiation": "W m-2",
             "longwave_downward_radiation": "W m-2"}
    scale = {"air_temperature": (1.0, 273.15), "cloud_cover": (12.5, 0.0),
             "wind_speed": (3.6, 0.0)}
    ds = xr.Dataset({
        f"v{k}": ("time", v * scale.get(q, (1.0, 0.0))[0] + scale.get(q, (1.0, 0.0))[1],
                  {"units": units[q], "standard_name": tmrt.INPUTS[q].attrs.get(
                      "standard_name", q)})
        for k, (q, v) in enumerate(obs.items())}, coords={"time": time})
    names = {q: f"v{k}" for k, q in enumerate(obs) if q == "cloud_cover"}
    return arrays(tmrt.compute(ds, names=names, **SITE))


# The command ------------------------------------------------------------------

def _command(args: list[Any]) -> None:
    from quarnel import cli
    status = cli.main(["tmrt", *(str(a) for a in args)])
    if status != 0:
        raise RuntimeError(f"the command failed ({status}): {args}")


def _csv_case(name: str, *options: str) -> None:
    def run(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
        out = tmp / "out.csv"
        _command([SHIPPED, "-o", out, "--lat", "51.477", "--lon", "0", "--height", "40",
                  *options])
        return {"text": np.array(out.read_text(encoding="utf-8"))}
    CASES[name] = run


_csv_case("command/csv")
_csv_case("command/csv_settings", "--sky-view-factor", "0.5", "--ground-albedo", "0.25",
          "--ground-emissivity", "0.97", "--bowen-ratio", "1.2", "--person-albedo", "0.35",
          "--cloud-factor", "0.7", "--cloud-exponent", "3", "--projection-factor", "module",
          "--utc-offset", "1")
_csv_case("command/csv_variables", "--variables", "utci,surface_temperature")


def _grid_case(name: str, build: Callable[[dict[str, np.ndarray]], Any], *options: str,
               suffix: str = ".nc") -> None:
    def run(i: dict[str, np.ndarray], tmp: pathlib.Path) -> dict[str, np.ndarray]:
        import xarray as xr
        src, out = tmp / "in.nc", tmp / f"out{suffix}"
        build(i).to_netcdf(src)
        _command([src, "-o", out, *options])
        with (xr.open_zarr(out) if suffix == ".zarr" else xr.open_dataset(out)) as ds:
            return arrays(ds.load())
    CASES[name] = run


_grid_case("command/grid_default", era5, "--chunks", "valid_time=5,latitude=2")
_grid_case("command/grid_all", era5, "--variables", "all", "--dtype", "float64", "--height",
           "250", "--sky-view-factor", "0.7")
_grid_case("command/grid_three_hours", lambda i: era5(i, every=3), "--accumulation", "3",
           "--variables", "mean_radiant_temperature,direct_radiation,utci", "--dtype", "float64")
_grid_case("command/grid_running_zarr", lambda i: running_totals(era5(i)), "--accumulation",
           "since-00utc", "--chunks", "valid_time=4", "--variables", "all", "--dtype", "float64",
           suffix=".zarr")


# Recording and comparing ------------------------------------------------------

def fingerprint() -> dict[str, Any]:
    """What decides the bits of NumPy's own exp, power, sin and cos."""
    from numpy._core._multiarray_umath import __cpu_dispatch__, __cpu_features__
    return {"numpy": np.__version__,
            "features": sorted(k for k in __cpu_dispatch__ if __cpu_features__.get(k))}


def digest(values: np.ndarray) -> str:
    import hashlib
    if values.dtype.kind in "US":
        return hashlib.sha256(str(values).encode()).hexdigest()
    plain = np.ascontiguousarray(values)
    if plain.dtype.kind == "f":         # one NaN for every NaN
        plain = np.where(np.isnan(plain), np.nan, plain)
    return hashlib.sha256(plain.tobytes()).hexdigest() + str(plain.dtype) + str(plain.shape)


def pinned(results: dict[str, np.ndarray]) -> dict[str, np.ndarray]:
    """What is recorded of a case: small arrays whole; large ones as their
    digest and every 1009th element."""
    out: dict[str, np.ndarray] = {}
    for k, v in results.items():
        if v.size >= DIGEST_FROM and v.dtype.kind not in "US":
            out[f"{k}#digest"] = np.array(digest(v))
            out[f"{k}#sample"] = v.reshape(-1)[::1009].copy()
        else:
            out[k] = v
    return out


def load(name: str) -> dict[str, np.ndarray]:
    with np.load(PINNED / name, allow_pickle=False) as f:
        return {k: f[k] for k in f.files}


def load_meta() -> dict[str, Any]:
    meta: dict[str, Any] = json.loads((PINNED / "meta.json").read_text(encoding="utf-8"))
    return meta
