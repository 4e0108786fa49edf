"""Writes small GRIB 1 files as ERA5 delivers its single levels, through
ecCodes, for the command's tests."""

import numpy as np


def write_grib(path, fields, times, latitudes, longitudes):
    """fields: GRIB short name (2t, 2d, tcc, 10u, 10v, ...) -> values over
    (time, latitude, longitude), latitudes descending."""
    import eccodes

    with open(path, "wb") as f:
        for k, t in enumerate(times):
            for short, values in fields.items():
                h = eccodes.codes_grib_new_from_samples("regular_ll_sfc_grib1")
                try:
                    for key, value in {
                        "centre": "ecmf", "Ni": len(longitudes), "Nj": len(latitudes),
                        "latitudeOfFirstGridPointInDegrees": float(latitudes[0]),
                        "latitudeOfLastGridPointInDegrees": float(latitudes[-1]),
                        "longitudeOfFirstGridPointInDegrees": float(longitudes[0]),
                        "longitudeOfLastGridPointInDegrees": float(longitudes[-1]),
                        "iDirectionIncrementInDegrees": float(abs(longitudes[1] - longitudes[0])),
                        "jDirectionIncrementInDegrees": float(abs(latitudes[1] - latitudes[0])),
                        "dataDate": int(t.strftime("%Y%m%d")), "dataTime": int(t.strftime("%H%M")),
                        "shortName": short,
                    }.items():
                        eccodes.codes_set(h, key, value)
                    eccodes.codes_set_values(h, np.asarray(values[k], dtype=float).ravel())
                    eccodes.codes_write(h, f)
                finally:
                    eccodes.codes_release(h)
