"""One day at one site, hour by hour: from weather observations to the mean
radiant temperature of a person standing outdoors, with quarnel.tmrt.

    python examples/day_at_a_site.py [observations.csv] [--plot PATH | --no-plot]

The observations (examples/data/greenwich_2023-07-12.csv by default: a park
in Greenwich, 51.477° N, 0° E, 40 m, times in UTC) are read into a pandas
DataFrame with a time index; quarnel.tmrt.compute adds the solar time, the
sun's position, the radiation terms and the mean radiant temperature, with
the model's default assumptions (a summer lawn in a park; see the "Mean
radiant temperature from observations" section of docs/reference.md).
The command `quarnel tmrt` does the same for files:

    quarnel tmrt examples/data/greenwich_2023-07-12.csv -o day.csv \\
        --lat 51.477 --lon 0 --height 40 --plot day_at_a_site.png
"""

from __future__ import annotations

import argparse
import pathlib
import sys

import pandas as pd

from quarnel import tmrt

HERE = pathlib.Path(__file__).resolve().parent
DEFAULT_OBSERVATIONS = HERE / "data" / "greenwich_2023-07-12.csv"
DEFAULT_PLOT = pathlib.Path("day_at_a_site.png")

COLUMNS = {   # column: heading, format
    "solar_time": ("szeit", "{:5.2f}"), "zenith_angle": ("zenith", "{:6.1f}"),
    "azimuth_angle": ("azim", "{:5.0f}"), "linke_turbidity": ("Linke", "{:5.2f}"),
    "clear_sky_direct_radiation": ("Imax", "{:4.0f}"), "direct_radiation": ("I", "{:4.0f}"),
    "global_radiation": ("G", "{:4.0f}"), "diffuse_radiation": ("D", "{:4.0f}"),
    "counter_radiation": ("Ldown", "{:5.0f}"), "air_temperature": ("Tair", "{:5.1f}"),
    "surface_temperature": ("Tsurf", "{:5.1f}"), "mean_radiant_temperature": ("Tmrt", "{:5.1f}"),
    "mean_radiant_temperature_shade": ("shade", "{:5.1f}"), "utci": ("UTCI", "{:5.1f}"),
}


def read_observations(path: pathlib.Path) -> pd.DataFrame:
    return pd.read_csv(path, comment="#", index_col="time", parse_dates=["time"])


def compute_day(observations: pd.DataFrame) -> pd.DataFrame:
    return tmrt.compute(observations, latitude=51.477, longitude=0.0, height=40.0)


def format_table(day: pd.DataFrame) -> str:
    table = day[list(COLUMNS)].rename(columns={k: h for k, (h, _) in COLUMNS.items()})
    formats = {h: f.format for h, f in COLUMNS.values()}
    return table.to_string(formatters=formats, index_names=False)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    parser.add_argument("observations", nargs="?", type=pathlib.Path, default=DEFAULT_OBSERVATIONS)
    parser.add_argument("--plot", type=pathlib.Path, default=DEFAULT_PLOT, help="PNG to write")
    parser.add_argument("--no-plot", action="store_true", help="print the table only")
    args = parser.parse_args(argv)

    day = compute_day(read_observations(args.observations))
    print(format_table(day))
    if not args.no_plot:
        from quarnel.cli import PLOTTED, plot
        plot(day.index.to_numpy(), {k: day[k].to_numpy() for k in PLOTTED},
              "Greenwich park, 2023-07-12", args.plot)
        print(f"\nplot written to {args.plot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
