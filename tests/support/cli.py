"""Running the command in-process, and a small ERA5-like file to run it on."""

import numpy as np

from quarnel import cli
from support.sky import hourly_global


def run(args, capsys):
    status = cli.main(["tmrt", *(str(a) for a in args)])
    return status, capsys.readouterr().err


def era5(path, bad_at=None):
    """A small ERA5-like file: names, units and attributes as ERA5 writes them."""
    import pandas as pd
    import xarray as xr

    rng = np.random.default_rng(3)
    shape = (30, 5, 4)
    dims = ("valid_time", "latitude", "longitude")
    ds = xr.Dataset({
        "t2m": (dims, (290 + rng.normal(0, 3, shape)).astype("f4"),
                {"units": "K", "long_name": "2 metre temperature"}),
        "d2m": (dims, (281 + rng.normal(0, 1, shape)).astype("f4"), {"units": "K"}),
        "tcc": (dims, rng.uniform(0, 1, shape).astype("f4"), {"units": "(0 - 1)"}),
        "u10": (dims, rng.normal(0, 3, shape).astype("f4"), {"units": "m s**-1"}),
        "v10": (dims, rng.normal(0, 3, shape).astype("f4"), {"units": "m s**-1"}),
        "ssrd": (dims, rng.uniform(0, 1, shape), {"units": "J m**-2"}),
    }, coords={"valid_time": pd.date_range("2023-03-20T12:00", periods=30, freq="h"),
               "latitude": ("latitude", [60.0, 55.0, 50.0, 45.0, 40.0], {"units": "degrees_north"}),
               "longitude": ("longitude", [-10.0, 0.0, 10.0, 20.0], {"units": "degrees_east"})},
        attrs={"Conventions": "CF-1.7"})
    # what the sun of each hour allows
    ds["ssrd"].values = hourly_global(ds["ssrd"].values, ds["valid_time"].values,
                                      ds["latitude"].values, ds["longitude"].values)
    ds["ssrd"] = ds["ssrd"].astype("f4")
    ds["d2m"] = np.minimum(ds["d2m"], ds["t2m"]).assign_attrs(units="K")   # never above saturation
    if bad_at is not None:
        ds["t2m"][bad_at] = 400.0
    ds.to_netcdf(path)
    return ds
