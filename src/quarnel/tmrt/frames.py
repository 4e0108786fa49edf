"""The chain on a pandas DataFrame: its columns as arrays, the results as
new columns."""

from __future__ import annotations

from dataclasses import replace
from typing import TYPE_CHECKING, Any

import numpy as np

from quarnel.tmrt.accumulation import mean_interval
from quarnel.tmrt.arrays import compute_arrays
from quarnel.tmrt.chain import sources
from quarnel.tmrt.names import present
from quarnel.tmrt.quantities import HUMIDITY, INPUTS, OUTPUTS
from quarnel.tmrt.settings import Assumptions, Invalid, Reading

if TYPE_CHECKING:
    import pandas as pd

__all__ = ["compute_frame"]


def compute_frame(df: pd.DataFrame, latitude: Any, longitude: Any, height: Any,
                  utc_offset: Any, names: dict[str, str], invalid: Invalid,
                  assumptions: Assumptions, reading: Reading = Reading()) -> pd.DataFrame:
    """compute() on a DataFrame with a time index or a time column."""
    import pandas as pd

    time_name = names.get("time", "time")
    if isinstance(df.index, pd.DatetimeIndex):
        index = df.index
    elif time_name in df.columns:
        index = pd.DatetimeIndex(pd.to_datetime(df[time_name], format="ISO8601"))
    else:
        raise KeyError(f"no times: expected a time index or a column '{time_name}'")
    aware = index.tz is not None
    if aware:
        index, utc_offset = index.tz_convert("UTC").tz_localize(None), 0.0
        reading = replace(reading, timezone=None)         # the times carry their own
    station = names.get("station", "station")
    read = set(names.values()) | set(INPUTS)
    columns: dict[str, Any] = {str(c): df[c].to_numpy(dtype=np.float64, na_value=np.nan)
                               for c in df.columns
                               if c in read and c != time_name and c != station}
    columns[time_name] = index.to_numpy(dtype="datetime64[ns]")
    if station in df.columns:
        columns[station] = df[station].to_numpy()
    result = compute_arrays(columns, latitude, longitude, height, utc_offset, names, invalid,
                            assumptions, labels=lambda i: f"{df.index[i[0]]}", reading=reading,
                            aware=aware)
    hours, end = mean_interval(reading.timestamps, reading.accumulation, columns[time_name])
    out = df.copy()
    for k, v in result.items():
        if k not in (time_name, station) and (k not in columns or k in OUTPUTS or k in HUMIDITY):
            out[k] = v
    out.attrs["sources"] = sources(present(columns, names), hours, assumptions.projection_factor,
                                   end, globe_diameter=assumptions.globe_diameter,
                                   wind_height=reading.wind_height,
                                   fill_missing=assumptions.fill_missing)
    return out
