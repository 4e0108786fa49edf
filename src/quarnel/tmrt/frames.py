"""The chain on a pandas DataFrame: its columns as arrays, the results as
new columns."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy as np

from quarnel.tmrt.arrays import compute_arrays
from quarnel.tmrt.chain import sources
from quarnel.tmrt.names import present
from quarnel.tmrt.quantities import HUMIDITY, INPUTS, OUTPUTS
from quarnel.tmrt.settings import Assumptions, Invalid

if TYPE_CHECKING:
    import pandas as pd

__all__ = ["compute_frame"]


def compute_frame(df: pd.DataFrame, latitude: Any, longitude: Any, height: Any,
                  utc_offset: float, names: dict[str, str], invalid: Invalid,
                  assumptions: Assumptions) -> pd.DataFrame:
    """compute() on a DataFrame with a time index or a time column."""
    import pandas as pd

    time_name = names.get("time", "time")
    if isinstance(df.index, pd.DatetimeIndex):
        index = df.index
    elif time_name in df.columns:
        index = pd.DatetimeIndex(pd.to_datetime(df[time_name], format="ISO8601"))
    else:
        raise KeyError(f"no times: expected a time index or a column '{time_name}'")
    if index.tz is not None:
        index, utc_offset = index.tz_convert("UTC").tz_localize(None), 0.0
    read = set(names.values()) | set(INPUTS)
    columns: dict[str, Any] = {str(c): df[c].to_numpy(dtype=np.float64, na_value=np.nan)
                               for c in df.columns if c in read and c != time_name}
    columns[time_name] = index.to_numpy(dtype="datetime64[ns]")
    result = compute_arrays(columns, latitude, longitude, height, utc_offset, names, invalid,
                            assumptions, labels=lambda i: f"{df.index[i[0]]}")
    out = df.copy()
    for k, v in result.items():
        if k != time_name and (k not in columns or k in OUTPUTS or k in HUMIDITY):
            out[k] = v
    out.attrs["sources"] = sources(present(columns, names), 0.0, assumptions.projection_factor)
    return out
