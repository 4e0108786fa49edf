"""A year of hourly station data through quarnel.tmrt, with the model before
and after radiation was taken as measured: the table of docs/reference.md
("What the model does to the numbers").

The station year is the typical meteorological year of Greensboro, North
Carolina (TMY3 723170, 36.1° N, 79.95° W, 273 m) shipped with pvlib: global,
direct normal and diffuse radiation, total cloud in tenths, temperature,
humidity and wind. Its radiation values are means over the hour ending at
the stamp (Wilcox and Marion 2008), so they are computed with
``timestamps="interval-end"``: paired with the sun of that hour.

    python examples/station_year.py
"""

from __future__ import annotations

import os
from typing import Any

import numpy as np
import pandas as pd
import pvlib  # type: ignore[import-untyped]

from quarnel import tmrt
from quarnel import ufunc as U


def station() -> tuple[pd.DataFrame, dict[str, Any]]:
    path = os.path.join(os.path.dirname(pvlib.__file__), "data", "723170TYA.CSV")
    data, meta = pvlib.iotools.read_tmy3(path, map_variables=True)
    # TMY3 years differ by month: put the stamps on one calendar year.
    local = pd.DatetimeIndex(data.index)
    index = pd.DatetimeIndex([t.replace(year=1990) for t in local.tz_localize(None)])
    index = index.tz_localize(local.tz).tz_convert("UTC")
    frame = pd.DataFrame({
        "air_temperature": data["temp_air"].to_numpy(),
        "dew_point": data["temp_dew"].to_numpy(),
        "cloud_cover": data["TotCld (tenths)"].to_numpy() * 0.8,
        "wind_speed": data["wind_speed"].to_numpy(),
        "global_radiation": data["ghi"].to_numpy(dtype=float),
        "direct_normal_radiation": data["dni"].to_numpy(dtype=float),
        "diffuse_radiation": data["dhi"].to_numpy(dtype=float),
    }, index=pd.DatetimeIndex(index, name="time"))
    return frame.sort_index(), {"latitude": meta["latitude"], "longitude": meta["longitude"],
                                "height": meta["altitude"], "timestamps": "interval-end"}


def models(frame: pd.DataFrame, site: dict[str, Any]) -> dict[str, pd.DataFrame]:
    """The year through each model; the old one rebuilt from its parts: the
    beam from the clear sky reduced by cloud (DirStrMBew), the diffuse what
    measured global radiation leaves, the projection factor of MittlStrTemp."""
    measured_g = frame.drop(columns=["direct_normal_radiation", "diffuse_radiation"])
    modelled = tmrt.compute(measured_g.drop(columns=["global_radiation"]), **site)
    beam = U.DirStrMBew(modelled["clear_sky_direct_radiation"].to_numpy(),
                        frame["cloud_cover"].to_numpy())
    old = measured_g.assign(direct_normal_radiation=beam)
    return {
        "before: beam from cloud octas, MittlStrTemp's projection": tmrt.compute(
            old, projection_factor="module", **site),
        "now: DISC split of global radiation, published projection": tmrt.compute(
            measured_g, **site),
        "now, with MittlStrTemp's projection": tmrt.compute(
            measured_g, projection_factor="module", **site),
        "measured direct and diffuse, published projection": tmrt.compute(frame, **site),
    }


def table(frame: pd.DataFrame, runs: dict[str, pd.DataFrame]) -> str:
    reference = list(runs.values())[-1]
    day = (reference["radiation_zenith_angle"] < 90) & (frame["global_radiation"] > 0)
    rows = ["| model | Tmrt − Ta, daylight mean [K] | beam on the horizontal > global [h] | "
            "direct normal vs measured, RMS [W/m²] | Tmrt vs measured-radiation Tmrt, RMS [K] |",
            "|---|---|---|---|---|"]
    for name, out in runs.items():
        d: Any = out[day]
        mu = np.cos(np.radians(d["radiation_zenith_angle"]))
        excess = int((d["direct_radiation"] * mu > frame["global_radiation"][day] + 1e-9).sum())
        dni = np.sqrt(np.mean((d["direct_radiation"] - frame["direct_normal_radiation"][day]) ** 2))
        dt = np.sqrt(np.mean((d["mean_radiant_temperature"]
                              - reference["mean_radiant_temperature"][day]) ** 2))
        rows.append(f"| {name} | {np.mean(d['mean_radiant_temperature'] - d['air_temperature']):.1f}"
                    f" | {excess} | {dni:.0f} | {dt:.1f} |")
    return "\n".join(rows) + f"\n\n{int(day.sum())} daylight hours."


if __name__ == "__main__":
    frame, site = station()
    print(table(frame, models(frame, site)))
