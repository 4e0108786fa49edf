"""Typed use of quarnel.tmrt: checked by mypy --strict in tests/test_typing.py.
Each container kind comes back as itself."""

from typing import Any, assert_type

import numpy as np
import numpy.typing as npt
import pandas as pd
import xarray as xr

from quarnel import tmrt

times = np.arange("2023-07-12T00", "2023-07-13T00", dtype="datetime64[h]")
columns = {"air_temperature": np.full(24, 20.0), "relative_humidity": np.full(24, 60.0),
           "cloud_cover": np.full(24, 2.0), "wind_speed": np.full(24, 2.0)}

arrays = tmrt.compute({"time": times, **columns}, latitude=51.5, longitude=0.0,
                      projection_factor="module", accumulation=3.0)
assert_type(arrays, dict[str, npt.NDArray[Any]])     # float64, the categories int8

frame = tmrt.compute(pd.DataFrame(columns, index=pd.DatetimeIndex(times)), latitude=51.5,
                     longitude=0.0, height=40.0, utc_offset=1.0, sky_view_factor=0.6)
assert_type(frame, pd.DataFrame)

grid = tmrt.compute(xr.Dataset({k: ("time", v) for k, v in columns.items()},
                               coords={"time": times}), latitude=51.5, longitude=0.0,
                    invalid="mask", names={"cloud_cover": "cloud_cover"},
                    variables=["utci", "mean_radiant_temperature"])
assert_type(grid, xr.Dataset)
assert_type(tmrt.OUTPUTS["mean_radiant_temperature"].unit, str)
assert_type(tmrt.SETTINGS["sky_view_factor"].default, float | str | None)
