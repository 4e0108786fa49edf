"""A climate model's output as CMIP and CORDEX write it: tas, hurs,
sfcWind, rsds and rlds, the fluxes means over the time bounds."""

import numpy as np

from support.sky import SIGMA

LATITUDE = [52.0, 40.0]
LONGITUDE = [-5.0, 13.0, 30.0]


def mean_cos_zenith(start, end, latitude, longitude, steps=180):
    """The mean of max(cos z, 0) over [start, end] (UTC), sampled: the
    textbook declination (Cooper 1969) and hour angle, no equation of
    time. Shape: times x latitudes x longitudes."""
    start = np.asarray(start, dtype="datetime64[s]")
    span = (np.asarray(end, dtype="datetime64[s]") - start).astype(float)
    total = 0.0
    for k in range(steps):
        t = start + ((k + 0.5) / steps * span).astype("timedelta64[s]")
        day = (t.astype("datetime64[D]") - t.astype("datetime64[Y]")).astype(float) + 1
        hour = (t - t.astype("datetime64[D]")).astype(float) / 3600.0
        decl = np.radians(23.45 * np.sin(2 * np.pi * (284 + day) / 365))[:, None, None]
        phi = np.radians(np.asarray(latitude, dtype=float))[None, :, None]
        omega = np.radians(15.0 * (hour[:, None, None] + np.asarray(longitude)[None, None, :]
                                   / 15.0 - 12.0))
        total = total + np.maximum(np.sin(phi) * np.sin(decl)
                                   + np.cos(phi) * np.cos(decl) * np.cos(omega), 0.0)
    return total / steps


def cmip(hours=1, steps=48, start="2021-06-20T00:00", place="middle", seed=5):
    """``steps`` means over ``hours`` from ``start`` (UTC), stamped at the
    middle, start or end of their bounds; rsds the interval's sun could
    give, rlds 0.7 to 1 of the air's black-body emission."""
    import xarray as xr

    rng = np.random.default_rng(seed)
    step = np.timedelta64(int(hours * 3600), "s")
    lower = np.datetime64(start, "s") + step * np.arange(steps)
    bounds = np.stack([lower, lower + step], axis=1).astype("datetime64[ns]")
    stamps = bounds[:, 0] + {"start": 0, "middle": 1, "end": 2}[place] * (step // 2)
    shape = (steps, len(LATITUDE), len(LONGITUDE))
    dims = ("time", "lat", "lon")
    tas = 288.0 + 8.0 * rng.uniform(0, 1, shape)
    sky = mean_cos_zenith(bounds[:, 0], bounds[:, 1], LATITUDE, LONGITUDE)
    mean = {"units": "W m-2", "cell_methods": "area: time: mean"}
    ds = xr.Dataset({
        "tas": (dims, tas.astype("f4"), {"units": "K", "standard_name": "air_temperature",
                                          "cell_methods": "area: mean time: point"}),
        "hurs": (dims, rng.uniform(30, 90, shape).astype("f4"),
                 {"units": "%", "standard_name": "relative_humidity"}),
        "sfcWind": (dims, rng.uniform(0.5, 8, shape).astype("f4"),
                    {"units": "m s-1", "standard_name": "wind_speed"}),
        "rsds": (dims, (rng.uniform(0.4, 0.9, shape) * 1300.0 * sky).astype("f4"),
                 {**mean, "standard_name": "surface_downwelling_shortwave_flux_in_air"}),
        "rlds": (dims, ((0.7 + 0.3 * rng.uniform(0, 1, shape)) * SIGMA * tas ** 4).astype("f4"),
                 {**mean, "standard_name": "surface_downwelling_longwave_flux_in_air"}),
        "time_bnds": (("time", "bnds"), bounds),
        "lat_bnds": (("lat", "bnds"), np.array([[y - 1.0, y + 1.0] for y in LATITUDE])),
        "lon_bnds": (("lon", "bnds"), np.array([[x - 1.0, x + 1.0] for x in LONGITUDE])),
    }, coords={"time": ("time", stamps, {"bounds": "time_bnds", "axis": "T",
                                         "standard_name": "time"}),
               "lat": ("lat", LATITUDE, {"bounds": "lat_bnds", "units": "degrees_north"}),
               "lon": ("lon", LONGITUDE, {"bounds": "lon_bnds", "units": "degrees_east"})},
        attrs={"Conventions": "CF-1.7 CMIP-6.2", "frequency": f"{hours:g}hr"})
    return ds


def as_instants(ds):
    """The same values with nothing saying they are means."""
    out = ds.drop_vars(["time_bnds", "lat_bnds", "lon_bnds"], errors="ignore").copy(deep=True)
    for v in ("rsds", "rlds", "time", "lat", "lon"):
        out[v].attrs = {k: a for k, a in ds[v].attrs.items() if k not in ("cell_methods", "bounds")}
    return out


def to_netcdf(ds, path):
    """As a model writes it: times in floating-point days since 1850."""
    ds = ds.copy()
    for v in [v for v in ("time", "time_bnds") if v in ds]:
        ds[v].encoding.update(units="days since 1850-01-01", calendar="proleptic_gregorian",
                              dtype="float64")
    ds.to_netcdf(path)
    return path
