"""Surface models and weather for the maps' tests: a block city (with an
open square if asked), a summer day at a station, a GeoTIFF written with
rasterio."""

import numpy as np

SITE = {"latitude": 52.5, "longitude": 13.4, "utc_offset": 2.0}


def block_city(n, pixel=1.0, seed=3, square=False):
    """Blocks 40 m square split into 1-3 buildings 6-30 m high, 14 m
    streets; with ``square`` an open square 120 m wide in the middle."""
    rng = np.random.default_rng(seed)
    dsm = np.zeros((n, n))
    block, street = int(40 / pixel), int(14 / pixel)
    for r0 in range(street // 2, n, block + street):
        for c0 in range(street // 2, n, block + street):
            cuts = sorted(rng.integers(5, block - 5, rng.integers(0, 3)))
            for a, b in zip([0, *cuts], [*cuts, block]):
                dsm[r0:r0 + block, c0 + a:c0 + b] = rng.uniform(6, 30)
    if square:
        m, h = n // 2, int(60 / pixel)
        dsm[m - h:m + h, m - h:m + h] = 0.0
    return dsm


def summer_day(hours=(4, 7, 9, 12, 15, 17, 21), year=2023):
    """A clear summer day at a station (local times, UTC+2): temperature,
    humidity, cloud, wind and measured global radiation."""
    import pandas as pd

    hours = np.asarray(hours, dtype=float)
    times = pd.DatetimeIndex([pd.Timestamp(year, 7, 15) + pd.Timedelta(hours=h) for h in hours])
    sun = np.clip(np.sin((hours - 5.0) / 16.0 * np.pi), 0.0, None)
    return pd.DataFrame({"air_temperature": 18.0 + 12.0 * sun, "relative_humidity": 50.0,
                         "cloud_cover": 1.0, "wind_speed": 2.0,
                         "global_radiation": np.round(860.0 * sun**1.3, 1)}, index=times)


def geotiff(path, z, crs="EPSG:32633", pixel=(1.0, 1.0), origin=(390000.0, 5820000.0),
            units=None, nodata=-9999.0):
    """A single-band float32 GeoTIFF of heights ``z`` (row 0 north)."""
    import rasterio
    from rasterio.transform import from_origin

    z = np.asarray(z, dtype=np.float32)
    with rasterio.open(path, "w", driver="GTiff", height=z.shape[0], width=z.shape[1], count=1,
                       dtype="float32", crs=crs, nodata=nodata,
                       transform=from_origin(origin[0], origin[1], *pixel)) as dst:
        dst.write(np.where(np.isnan(z), nodata, z), 1)
        if units:
            dst.units = (units,)
    return path
