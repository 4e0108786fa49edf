"""The command line: options, their units and help."""

from __future__ import annotations

import argparse
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
}
#: the command's name for a setting, where it is not --NAME-WITH-DASHES
OPTIONS = {"latitude": "--lat", "longitude": "--lon", "invalid": "--out-of-range"}
#: the command's words for a setting's words, where they differ
WORDS = {"invalid": {"refuse": "raise", "missing": "mask"}}
#: what the command adds to a setting's help
NOTES = {"latitude": "needed for CSV input", "longitude": "needed for CSV input"}
METAVARS = {"latitude": "DEG", "longitude": "DEG", "height": "M", "utc_offset": "H",
            "accumulation": "HOW"}
#: the settings of the site, in the order of the help (the model's: MODEL)
SITE = ("latitude", "longitude", "height", "utc_offset")


def option(name: str) -> str:
    """The command-line option of a setting."""
    return OPTIONS.get(name, "--" + name.replace("_", "-"))


def option_spelling(name: str, value: str = "") -> str:
    """A setting as the command's user writes it: ``--accumulation HOURS``."""
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
    if isinstance(default, str):        # in the command's words: argparse parses it
        default = next(k for k, v in words.items() if v == default)
    text = setting.help + (f"; {NOTES[name]}" if name in NOTES else "")
    if default is not None:
        text += f" (default {default if isinstance(default, str) else f'{default:g}'})"
    metavar = METAVARS.get(name, "X") if setting.takes_numbers else "{" + ",".join(words) + "}"
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
               "(by default " + ", ".join(tmrt.HEADLINE) + " in float32, CF attributes).")
    p.add_argument("input", type=pathlib.Path, metavar="INPUT",
                   help="observations: a CSV file, a NetCDF file, a Zarr store or a GRIB file")
    p.add_argument("-o", "--output", type=pathlib.Path, required=True, metavar="OUTPUT",
                   help="file or store to write: .csv for CSV input, .nc or .zarr for a grid; "
                        "replaced only when the whole computation has succeeded")
    site = p.add_argument_group("the site (a grid takes latitude and longitude from its coordinates)")
    for name in SITE:
        _add(site, name)
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
    model = p.add_argument_group("model assumptions (defaults: a summer lawn in a park)")
    for name in MODEL:
        _add(model, name)
    p.add_argument("--variables", type=_names, metavar="NAME,...",
                   help="the quantities to write (names below), or 'all' (every input and "
                        "quantity); default for a grid: " + ", ".join(tmrt.HEADLINE) + "; for CSV "
                        "all (the input columns are always kept)")
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
