"""pvlib's TMY3 year (Greensboro, North Carolina) as a station's record
comes: hourly means ending at each stamp, on the clock of UTC-5."""

import os

import numpy as np
import pytest

#: the station's clock [h]
UTC_OFFSET = -5.0


def tmy3():
    """The year as a mapping of arrays (naive local stamps on one calendar
    year, the quantities by our names) and its site."""
    pvlib = pytest.importorskip("pvlib")
    path = os.path.join(os.path.dirname(pvlib.__file__), "data", "723170TYA.CSV")
    data, meta = pvlib.iotools.read_tmy3(path, map_variables=True)
    # TMY3 takes each month from another year: one calendar year.
    local = np.array([t.replace(year=1990) for t in data.index.tz_localize(None)],
                     dtype="datetime64[m]")
    obs = {"time": local,
           "air_temperature": data["temp_air"].to_numpy(float),
           "relative_humidity": data["relative_humidity"].to_numpy(float),
           "cloud_cover": data["TotCld (tenths)"].to_numpy(float) * 0.8,
           "wind_speed": data["wind_speed"].to_numpy(float),
           "global_radiation": data["ghi"].to_numpy(float)}
    site = {"latitude": meta["latitude"], "longitude": meta["longitude"],
            "height": meta["altitude"]}
    return obs, site
