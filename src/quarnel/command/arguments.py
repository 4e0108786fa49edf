"""The command line: options, their units and help."""

from __future__ import annotations

import argparse
import math
import pathlib
from collections.abc import Callable, Mapping

from quarnel import __version__, tmrt
from quarnel.tmrt.settings import MODEL

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
    "shortwave_upward_radiation": "W/m², a four-component radiometer's (optional)",
    "longwave_upward_radiation": "W/m², a four-component radiometer's (optional)",
    "surface_temperature": "°C, of the ground, measured (optional)",
    "globe_temperature": "°C, of a black globe thermometer (optional; see --globe-diameter)",
    "latitude": "°N, per row (several stations; in place of --lat)",
    "longitude": "°E, per row (several stations; in place of --lon)",
    "height": "m, per row (optional)",
    "sky_view_factor": "per row (optional)",
    "utc_offset": "h, per row (optional)",
    "station": "the station of each row: its series checked apart (optional; or --group)",
    "air_pressure": "hPa (optional; else the standard atmosphere's at --height)",
}
#: the columns that may give the site row by row, and the settings they stand for
SITE_COLUMNS = ("latitude", "longitude", "height", "sky_view_factor", "utc_offset")
#: the command's name for a setting, where it is not --NAME-WITH-DASHES
OPTIONS = {"latitude": "--lat", "longitude": "--lon", "invalid": "--out-of-range",
           "clock_check": "--no-clock-check"}
#: the command's words for a setting's words, where they differ
WORDS = {"invalid": {"refuse": "raise", "missing": "mask"}}
#: what the command adds to a setting's help
NOTES = {"latitude": "needed for CSV input without latitude and longitude columns",
         "longitude": "needed for CSV input without latitude and longitude columns"}
METAVARS = {"latitude": "DEG", "longitude": "DEG", "height": "M", "utc_offset": "H",
            "accumulation": "HOW", "timezone": "ZONE", "wind_height": "M",
            "globe_diameter": "M"}
#: the settings of the site, in the order of the help (the model's: MODEL)
SITE = ("latitude", "longitude", "height", "utc_offset", "timezone")
#: the settings of the measurements, in the order of the help
MEASUREMENTS = ("timestamps", "fill_missing", "clock_check", "wind_height", "globe_diameter")


def option(name: str) -> str:
    """The command-line option of a setting."""
    return OPTIONS.get(name, "--" + name.replace("_", "-"))


def option_spelling(name: str, value: str = "") -> str:
    """A setting as the command's user writes it: ``--accumulation HOURS``;
    a flag's option alone (``--no-clock-check``)."""
    if tmrt.SETTINGS[name].flag if name in tmrt.SETTINGS else False:
        return option(name)
    return f"{option(name)} {value}".strip()


def message(error: BaseException) -> str:
    """A library error's message, the settings it names spelt as options."""
    if isinstance(error, (tmrt.SettingError, tmrt.ObservationError)):
        return error.text(option_spelling)
    if isinstance(error, KeyError) and error.args:
        return str(error.args[0])
    return str(error)


def _mapping(text: str) -> tuple[str, str]:
    quantity, sep, name = text.partition("=")
    if not sep or not name or quantity not in CSV_COLUMNS:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not QUANTITY=NAME with QUANTITY one of {', '.join(CSV_COLUMNS)}")
    return quantity, name


def _words(name: str) -> dict[str, str]:
    """The command's words of a setting -> the library's."""
    return WORDS.get(name, {w: w for w in tmrt.SETTINGS[name].words})


def _setting(name: str) -> Callable[[str], float | str]:
    """An option's type: one of the setting's words, or a number within
    the setting's range."""
    setting = tmrt.SETTINGS[name]
    words = _words(name)

    def parse(text: str) -> float | str:
        if text in words:
            return words[text]
        if setting.text:
            try:
                return str(tmrt.check_setting(name, text))
            except ValueError as e:
                raise argparse.ArgumentTypeError(f"'{text}' is not {setting.text}: "
                                                 f"{str(e).rpartition('(')[2].rstrip(')')}"
                                                 ) from None
        if not setting.takes_numbers:
            raise argparse.ArgumentTypeError(f"'{text}' is not one of {', '.join(words)}")
        try:
            value = float(text)
        except ValueError:
            raise _refused(text, setting, words, f"'{text}' is not a number") from None
        try:
            return float(tmrt.check_setting(name, value))
        except ValueError as e:
            raise _refused(text, setting, words, str(e)) from None
    parse.__name__ = name          # argparse names the type in its messages
    return parse


def _refused(text: str, setting: tmrt.Setting, words: Mapping[str, str],
             why: str) -> argparse.ArgumentTypeError:
    if not words:
        return argparse.ArgumentTypeError(why)
    return argparse.ArgumentTypeError(
        f"'{text}' is neither {', '.join(words)} nor {setting.numbers} ({why})")


def _add(group: argparse._ActionsContainer, name: str) -> None:
    """The option of a setting, from the table: its type, default and help."""
    setting = tmrt.SETTINGS[name]
    words = _words(name)
    default = setting.default
    text = setting.help + (f"; {NOTES[name]}" if name in NOTES else "")
    if setting.flag:                    # on by default: the option turns it off
        group.add_argument(option(name), dest=name, action="store_false", help=text)
        return
    if isinstance(default, str):        # in the command's words: argparse parses it
        default = next(k for k, v in words.items() if v == default)
    if default is not None:
        text += f" (default {default if isinstance(default, str) else f'{default:g}'})"
    elif setting.by_input is not None:
        text += f" (default {setting.default_text()})"
    metavar = (METAVARS.get(name, "X") if setting.takes_numbers or setting.text
               else "{" + ",".join(words) + "}")
    group.add_argument(option(name), dest=name, type=_setting(name), default=default,
                       metavar=metavar, help=text)


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


def _bbox(text: str) -> tuple[float, float, float, float]:
    try:
        values = tuple(float(v) for v in text.split(","))
    except ValueError:
        values = ()
    if len(values) != 4 or not all(math.isfinite(v) for v in values):
        raise argparse.ArgumentTypeError(f"'{text}' is not MINX,MINY,MAXX,MAXY (four numbers)")
    return values[0], values[1], values[2], values[3]


def _length(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not (math.isfinite(value) and value >= 0):
        raise argparse.ArgumentTypeError(f"'{text}' is not a length >= 0 [m]")
    return value


def _tile(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 64 or value % 64:
        raise argparse.ArgumentTypeError(f"'{text}' is not a multiple of 64 pixels")
    return value


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
               "stamp, or of the interval the stamp ends, starts or centres (--timestamps; "
               "hourly means ending at the stamp: --timestamps interval-end); cloud_cover is "
               "not needed where global (or direct and diffuse) and "
               "long-wave downward radiation are given. A globe_temperature gives the mean "
               "radiant temperature in the sun (ISO 7726). Several stations in one file: "
               "latitude and longitude columns (and height, sky_view_factor, utc_offset) give "
               "each row its site, a station column (--group) tells their series apart.\n\n"
               "Grid input (a NetCDF file, a Zarr store, or GRIB through cfgrib): ERA5 "
               "single-level variables t2m and d2m [K], tcc [0 - 1], u10 and v10 [m/s], "
               "optionally ssrd, fdir, strd, ssr and str [J/m² accumulated over the interval "
               "before each time, see --accumulation; paired with the interval's mean sun] and "
               "sp [Pa], on "
               "time x latitude x longitude, or the same under ERA5's long names "
               "(2m_temperature, 10m_u_component_of_wind, surface_solar_radiation_downwards, "
               "...); the standard names above with units attributes work too (a climate "
               "model's tas, hurs, sfcWind, rsds, rlds; W/m² fluxes whose cell_methods say "
               "time: mean are paired with the sun of their time bounds); the orography "
               "z (geopotential) gives the height.\n\n"
               f"Output variables (--variables): {quantities}; the derived humidity "
               "quantities and the inputs under their standard names and as they were. The "
               "format follows OUTPUT's suffix: .csv for CSV input (every input column and "
               "every quantity, each to the last digit); .nc (NetCDF-4) or .zarr for a grid "
               "(by default " + ", ".join(tmrt.HEADLINE) + " in float32, CF attributes).")
    p.add_argument("input", type=pathlib.Path, metavar="INPUT",
                   help="observations: a CSV file, a NetCDF file, a Zarr store or a GRIB file")
    p.add_argument("-o", "--output", type=pathlib.Path, required=True, metavar="OUTPUT",
                   help="file or store to write: .csv for CSV input, .nc or .zarr for a grid; "
                        "replaced only when the whole computation has succeeded")
    site = p.add_argument_group("the site (a grid takes latitude and longitude from its coordinates)")
    for name in SITE:
        _add(site, name)
    site.add_argument("--group", metavar="COLUMN",
                      help="the CSV column naming each row's station (default: a column "
                           "'station', where there is one): each station's times are checked "
                           "apart (each once, their spacing)")
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
    _add(p, "invalid")
    measured = p.add_argument_group("the measurements")
    for name in MEASUREMENTS:
        _add(measured, name)
    model = p.add_argument_group("model assumptions (defaults: a summer lawn in a park)")
    for name in MODEL:
        _add(model, name)
    p.add_argument("--variables", type=_names, metavar="NAME,...",
                   help="the quantities to write (names below), or 'all' (every input and "
                        "quantity); default for a grid: " + ", ".join(tmrt.HEADLINE) + "; for CSV "
                        "all (the input columns are always kept)")
    maps = p.add_argument_group(
        "maps from a surface model (--dsm): the weather of INPUT (a station's CSV, or the grid "
        "cell of a reanalysis nearest the site) at every pixel, written to a .nc or .zarr OUTPUT")
    maps.add_argument("--dsm", type=pathlib.Path, metavar="DSM.tif",
                      help="digital surface model: heights of ground and roofs [m] on square "
                           "pixels in a projected CRS (GeoTIFF or any raster GDAL reads; a CRS "
                           "in feet is converted); the site is its centre unless --lat and --lon "
                           "are given. The maps: mean_radiant_temperature, utci, sunlit (time, y, "
                           "x) and sky_view_factor (y, x), or those --variables names, also pet "
                           "and wbgt")
    maps.add_argument("--bbox", type=_bbox, metavar="MINX,MINY,MAXX,MAXY",
                      help="the window of the DSM to map, in its CRS")
    maps.add_argument("--max-distance", type=_length, default=500.0, metavar="M",
                      help="how far shadows and horizons reach [m] (default 500)")
    maps.add_argument("--tile", type=_tile, default=1024, metavar="PIXELS",
                      help="maps are made in tiles this many pixels square, each read with a "
                           "margin of --max-distance, and written a day at a time: memory stays "
                           "bounded (default 1024; a multiple of 64)")
    grid = p.add_argument_group("grids (NetCDF, Zarr, GRIB)")
    grid.add_argument("--dtype", choices=["float32", "float64"],
                      help="precision of the floating-point outputs (default float32, the "
                           "precision of ERA5; integer quantities stay integer)")
    _add(grid, "accumulation")
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
