"""The command line: options, their units and help."""

from __future__ import annotations

import argparse
import inspect
import pathlib
from collections.abc import Callable

from quarnel import __version__, tmrt

PROG = "quarnel"
CSV_COLUMNS = {
    "time": "ISO 8601 date and time, with or without UTC offset (or 2023071214, 12.07.2023 14:00)",
    "air_temperature": "°C",
    "relative_humidity": "%",
    "vapour_pressure": "hPa (optional)",
    "dew_point": "°C (optional)",
    "cloud_cover": "octas, 0 to 8",
    "wind_speed": "m/s",
    "global_radiation": "W/m² (optional; split into direct and diffuse by DISC)",
    "direct_normal_radiation": "W/m² (optional)",
    "diffuse_radiation": "W/m², on the horizontal (optional)",
    "longwave_downward_radiation": "W/m² (optional)",
}
MODEL_OPTIONS = {
    "ground_albedo": "short-wave albedo of the ground [1]",
    "ground_emissivity": "long-wave emissivity of the ground [1]",
    "bowen_ratio": "Bowen ratio of the ground, sensible over latent heat flux [1]",
    "person_albedo": "short-wave albedo of the person [1]",
    "sky_view_factor": "share of the upper hemisphere that is sky [1]; the rest is at air temperature",
    "cloud_factor": "a in the cloud reduction of global radiation 1 - a (N/8)^b [1]",
    "cloud_exponent": "b in the cloud reduction of global radiation [1]",
}


def _mapping(text: str) -> tuple[str, str]:
    quantity, sep, name = text.partition("=")
    if not sep or not name or quantity not in CSV_COLUMNS:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not QUANTITY=NAME with QUANTITY one of {', '.join(CSV_COLUMNS)}")
    return quantity, name


def _setting(name: str) -> Callable[[str], float]:
    """An option's type: a number within the setting's physical range."""
    def parse(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"'{text}' is not a number") from None
        try:
            tmrt.check_setting(name, value)
        except ValueError as e:
            raise argparse.ArgumentTypeError(str(e)) from None
        return value
    parse.__name__ = name          # argparse names the type in its messages
    return parse


def _accumulation(text: str) -> str | float:
    if text in ("interval", "since-00utc"):
        return text
    try:
        return _setting("accumulation")(text)
    except argparse.ArgumentTypeError as e:
        raise argparse.ArgumentTypeError(
            f"'{text}' is neither interval, since-00utc nor a number of hours ({e})") from None


def _names(text: str) -> list[str]:
    names = [n.strip() for n in text.split(",") if n.strip()]
    if not names:
        raise argparse.ArgumentTypeError("no variable named")
    return names


def _chunks(text: str) -> dict[str, int]:
    out = {}
    for part in text.split(","):
        dim, sep, n = part.partition("=")
        try:
            if not sep or int(n) < 1:
                raise ValueError
            out[dim.strip()] = int(n)
        except ValueError:
            raise argparse.ArgumentTypeError(f"'{part}' is not DIM=N with N a positive integer") from None
    return out


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(
        prog=PROG, description="Radiation and thermal comfort of people outdoors.")
    top.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    commands = top.add_subparsers(dest="command", metavar="COMMAND", required=True)
    quantities = ", ".join(tmrt.OUTPUTS)
    columns = "\n".join(f"  {name:<28} {unit}" for name, unit in CSV_COLUMNS.items())
    p = commands.add_parser(
        "tmrt", help="mean radiant temperature from weather observations",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Computes the mean radiant temperature of a person standing outdoors, and "
                    "every radiation term on the way, from weather observations at a site (CSV) "
                    "or on a grid (NetCDF, Zarr or GRIB).",
        epilog=f"CSV input: a header line naming the columns (lines starting with # are "
               f"skipped; empty cells are missing values); columns separated by commas, or "
               f"by semicolons or tabs, then with decimal commas allowed (kept in the "
               f"output); UTF-8, UTF-16 with byte-order mark or Windows-1252\n{columns}\n"
               "Humidity: at least one of relative_humidity, vapour_pressure, dew_point; the "
               "others follow through the Magnus formula. Radiation is used as given: direct "
               "and diffuse where measured, else split off the measured global radiation "
               "(DISC), else modelled from the clear sky and the cloud; the sun of each time "
               "stamp.\n\n"
               "Grid input (a NetCDF file, a Zarr store, or GRIB through cfgrib): ERA5 "
               "single-level variables t2m and d2m [K], tcc [0 - 1], u10 and v10 [m/s], "
               "optionally ssrd, fdir, strd, ssr and str [J/m² accumulated over the interval "
               "before each time, see --accumulation; paired with the interval's mean sun], on "
               "time x latitude x longitude, or the same under ERA5's long names "
               "(2m_temperature, 10m_u_component_of_wind, surface_solar_radiation_downwards, "
               "...); the standard names above with units attributes work too.\n\n"
               f"Output variables (--variables): {quantities}; the derived humidity "
               "quantities and the inputs under their standard names and as they were. The "
               "format follows OUTPUT's suffix: .csv for CSV input (every input column and "
               "every quantity, each to the last digit); .nc (NetCDF-4) or .zarr for a grid "
               "(by default " + ", ".join(_headline()) + " in float32, CF attributes).")
    p.add_argument("input", type=pathlib.Path, metavar="INPUT",
                   help="observations: a CSV file, a NetCDF file, a Zarr store or a GRIB file")
    p.add_argument("-o", "--output", type=pathlib.Path, required=True, metavar="OUTPUT",
                   help="file or store to write: .csv for CSV input, .nc or .zarr for a grid; "
                        "replaced only when the whole computation has succeeded")
    site = p.add_argument_group("the site (a grid takes latitude and longitude from its coordinates)")
    site.add_argument("--lat", type=_setting("latitude"), metavar="DEG",
                      help="latitude [°, north positive]; needed for CSV input")
    site.add_argument("--lon", type=_setting("longitude"), metavar="DEG",
                      help="longitude [°, east positive]; needed for CSV input")
    site.add_argument("--height", type=_setting("height"), default=0.0, metavar="M",
                      help="height above sea level [m] (default 0)")
    site.add_argument("--utc-offset", type=_setting("utc_offset"), default=0.0, metavar="H",
                      help="offset from UTC [h] of the clock of times that carry none, e.g. 1 "
                           "for UTC+1 (default 0: UTC); times with an offset keep theirs")
    p.add_argument("--column", type=_mapping, action="append", default=[],
                   metavar="QUANTITY=NAME",
                   help="read QUANTITY (a name listed below) from the column or variable NAME; "
                        "repeatable")
    p.add_argument("--plot", type=pathlib.Path, metavar="FILE.png",
                   help="also write a plot of the temperatures and radiation terms over time "
                        "(for a grid, their mean over it); needs matplotlib")
    p.add_argument("--missing-value", type=float, action="append", default=[], metavar="X",
                   help="a number that marks a missing observation in CSV input, e.g. -999; "
                        "repeatable")
    p.add_argument("--out-of-range", choices=["refuse", "missing"], default="refuse",
                   help="observations outside their physical range (e.g. cloud cover above 8 "
                        "octas): refuse the input (default) or treat them as missing values")
    model = p.add_argument_group("model assumptions (defaults: a summer lawn in a park)")
    defaults = inspect.signature(tmrt.compute).parameters
    for name, text in MODEL_OPTIONS.items():
        default = defaults[name].default
        model.add_argument("--" + name.replace("_", "-"), type=_setting(name), default=default,
                           metavar="X", help=f"{text} (default {default:g})")
    model.add_argument("--projection-factor", choices=["published", "module"],
                       default="published",
                       help="the standing person's projection factor for the direct beam: "
                            "published (Jendritzky et al. 1990, VDI 3787-2; default) or module "
                            "(MittlStrTemp's own)")
    p.add_argument("--variables", type=_names, metavar="NAME,...",
                   help="the quantities to write (names below), or 'all' (every input and "
                        "quantity); default for a grid: " + ", ".join(_headline()) + "; for CSV "
                        "all (the input columns are always kept)")
    grid = p.add_argument_group("grids (NetCDF, Zarr, GRIB)")
    grid.add_argument("--dtype", choices=["float32", "float64"],
                      help="precision of the floating-point outputs (default float32, the "
                           "precision of ERA5; integer quantities stay integer)")
    grid.add_argument("--accumulation", type=_accumulation, metavar="HOW",
                      help="how fluxes in J/m² were accumulated: interval (over the spacing of "
                           "the time steps, ending at each: ERA5's hourly reanalysis, 3-hourly "
                           "ensemble; default), HOURS (over that many hours before each step), "
                           "or since-00utc (running totals since 00 UTC, as ERA5-Land)")
    grid.add_argument("--chunks", type=_chunks, default={}, metavar="DIM=N,...",
                      help="block size per dimension, computed and written one block at a "
                           "time (default: whole chunks of the input, some 500,000 "
                           "site-hours)")
    grid.add_argument("--scheduler", metavar="ADDRESS",
                      help="run on the dask.distributed scheduler at ADDRESS (e.g. "
                           "tcp://10.0.0.5:8786) instead of this machine's threads; the workers "
                           "must be able to read INPUT at the same path; with a .zarr OUTPUT the "
                           "workers write their blocks themselves (they must see OUTPUT's folder "
                           "too), with a .nc OUTPUT they compute and compress and this machine "
                           "writes")
    return top



def _headline() -> tuple[str, ...]:
    return tuple(getattr(tmrt, "HEADLINE", ("mean_radiant_temperature",)))
