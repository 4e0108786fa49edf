"""The command ``quarnel``: the mean radiant temperature from a file of
weather observations (``quarnel tmrt --help``).

Errors in the input or the environment end the command with a one-line
message on standard error and exit status 1 (2 for wrong usage); outputs
are written beside their target under a temporary name and renamed into
place only when everything has succeeded.
"""

from __future__ import annotations

import argparse
import codecs
import csv
import datetime
import inspect
import io
import itertools
import math
import os
import pathlib
import re
import sys
import tempfile
import threading
from collections.abc import Callable, Iterator, Mapping, Sequence
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from quarnel import tmrt

if TYPE_CHECKING:
    import xarray as xr

PROG = "quarnel"
CSV_COLUMNS = {
    "time": "ISO 8601 date and time, with or without UTC offset (or 2023071214, 12.07.2023 14:00)",
    "air_temperature": "°C",
    "relative_humidity": "%",
    "vapour_pressure": "hPa (optional)",
    "dew_point": "°C (optional)",
    "cloud_cover": "octas, 0 to 8",
    "wind_speed": "m/s",
    "global_radiation": "W/m² (optional)",
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
PLOT_TEMPERATURES = [
    ("mean_radiant_temperature", "mean radiant temperature", "o-", "tab:red"),
    ("surface_temperature", "ground surface", "s--", "tab:brown"),
    ("air_temperature", "air", "^-", "tab:blue"),
]
PLOT_FLUXES = [
    ("global_radiation", "global radiation", "-"),
    ("direct_radiation", "direct radiation under cloud, normal to the beam", "-"),
    ("diffuse_radiation", "diffuse radiation", "--"),
    ("counter_radiation", "counter-radiation of the sky", "-."),
    ("ground_radiation_balance", "radiation balance of the ground", ":"),
]
PLOTTED = [k for k, *_ in PLOT_TEMPERATURES] + [k for k, *_ in PLOT_FLUXES]


class Failure(Exception):
    """A one-line message for the user; exit status 1."""


# Outputs written under a temporary name, renamed together at the end -------

class Staging:
    def __init__(self) -> None:
        self.pending: list[tuple[pathlib.Path, pathlib.Path]] = []

    def temporary(self, target: pathlib.Path) -> pathlib.Path:
        folder = target.parent
        try:
            fd, name = tempfile.mkstemp(dir=folder, prefix=f".{target.name}.", suffix=".part")
        except OSError as e:
            raise Failure(f"{target}: cannot write in {folder}/: {e.strerror}") from None
        os.close(fd)
        tmp = pathlib.Path(name)
        self.pending.append((tmp, target))
        return tmp

    def commit(self) -> None:
        for tmp, target in self.pending:
            try:
                os.chmod(tmp, 0o666 & ~_umask())
                os.replace(tmp, target)
            except OSError as e:
                raise Failure(f"{target}: cannot write: {e.strerror}") from None
        self.pending.clear()

    def abort(self) -> None:
        for tmp, _ in self.pending:
            tmp.unlink(missing_ok=True)
        self.pending.clear()


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


# CSV -----------------------------------------------------------------------

# Column separators a CSV file may use: the comma, or the semicolon and the
# tab of spreadsheets in locales whose decimal mark is the comma.
DELIMITERS = (",", ";", "\t")


def _decode(raw: bytes) -> str:
    """The text of a CSV file: UTF-8, or UTF-16 with its byte-order mark (a
    spreadsheet's "Unicode text"), or else Windows-1252 (a spreadsheet's CSV
    on Windows in western Europe; its numbers are ASCII either way)."""
    if raw.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        try:
            return raw.decode("utf-16")
        except UnicodeDecodeError:
            pass
    try:
        return raw.decode("utf-8-sig")
    except UnicodeDecodeError:
        pass
    try:
        return raw.decode("cp1252")
    except UnicodeDecodeError:
        return raw.decode("latin-1")


def _delimiter(text: str) -> str:
    """The separator of the header line (the first line neither empty nor a
    comment): whichever of DELIMITERS it holds most of, the comma on a tie."""
    for line in text.splitlines():
        if line.strip() and not line.lstrip().startswith("#"):
            return max(DELIMITERS, key=line.count)
    return ","


class CsvTable:
    """The rows of a CSV file as text, with their line numbers.

    The text is decoded as `_decode` says. Columns are separated by commas,
    semicolons or tabs, as the header line shows. Where they are not
    separated by commas, a number may be written with a decimal comma
    (``20,5``); the output then keeps both conventions.
    """

    def __init__(self, path: pathlib.Path) -> None:
        self.path = path
        self.decimal_comma = False
        try:
            text = _decode(path.read_bytes())
            if "\0" in text:
                raise Failure(f"{path}: neither CSV text nor NetCDF")
            self.delimiter = _delimiter(text)
            reader = csv.reader(io.StringIO(text, newline=""), delimiter=self.delimiter)
            rows = []
            for row in reader:
                if not row or not "".join(row).strip() or row[0].lstrip().startswith("#"):
                    continue
                rows.append((reader.line_num, [cell.strip() for cell in row]))
        except csv.Error as e:
            raise Failure(f"{path}: not CSV ({e})") from None
        if not rows:
            raise Failure(f"{path}: no header line")
        self.header_line, self.header = rows[0]
        self.lines = [n for n, _ in rows[1:]]
        self.rows = [r for _, r in rows[1:]]
        if not self.rows:
            raise Failure(f"{path}: no observations below the header")
        # Spreadsheets end lines with empty fields beyond the last column.
        while len(self.header) > 1 and self.header[-1] == "":
            self.header.pop()
        for n, r in zip(self.lines, self.rows):
            while len(r) > len(self.header) and r[-1] == "":
                r.pop()
            if len(r) != len(self.header):
                raise Failure(f"{path}, line {n}: {len(r)} fields where the header has "
                              f"{len(self.header)}")

    def where(self, row: int, column: str) -> str:
        return f"{self.path}, line {self.lines[row]}, column '{column}'"

    def column(self, name: str) -> list[str]:
        i = self.header.index(name)
        return [r[i] for r in self.rows]

    def numbers(self, name: str, missing: Sequence[float] = ()) -> npt.NDArray[np.float64]:
        """The column's numbers; empty cells, NA and the `missing` markers are NaN."""
        values = np.empty(len(self.rows))
        for k, cell in enumerate(self.column(name)):
            if cell == "" or cell.lower() in ("na", "nan"):
                values[k] = math.nan
                continue
            text = cell
            if self.delimiter != "," and cell.count(",") == 1 and "." not in cell:
                text = cell.replace(",", ".")
                self.decimal_comma = True
            try:
                values[k] = float(text)
            except ValueError:
                raise Failure(f"{self.where(k, name)}: '{cell}' is not a number") from None
            if values[k] in missing:
                values[k] = math.nan
        return values

    def times(self, name: str, utc_offset: float) -> npt.NDArray[np.datetime64]:
        """UTC times; a time without offset is on the clock of utc_offset."""
        out = np.empty(len(self.rows), dtype="datetime64[us]")
        clock = datetime.timezone(datetime.timedelta(hours=utc_offset))
        for k, cell in enumerate(self.column(name)):
            t = _time(cell)
            if t is None:
                raise Failure(f"{self.where(k, name)}: '{cell}' is not an ISO 8601 time") from None
            if t.tzinfo is None:
                t = t.replace(tzinfo=clock)
            out[k] = np.datetime64(t.astimezone(datetime.UTC).replace(tzinfo=None), "us")
        return out


# Times other than ISO 8601 that station records and spreadsheets write, all
# without offset and none ambiguous: the hour stamps of weather services
# (2023071214, with or without minutes) and the dotted day-month-year.
OTHER_TIMES = {
    re.compile(r"\d{10}"): "%Y%m%d%H",
    re.compile(r"\d{12}"): "%Y%m%d%H%M",
    re.compile(r"\d{1,2}\.\d{1,2}\.\d{4} \d{1,2}:\d{2}"): "%d.%m.%Y %H:%M",
    re.compile(r"\d{1,2}\.\d{1,2}\.\d{4} \d{1,2}:\d{2}:\d{2}"): "%d.%m.%Y %H:%M:%S",
}


def _time(cell: str) -> datetime.datetime | None:
    try:
        return datetime.datetime.fromisoformat(cell)
    except ValueError:
        pass
    for pattern, form in OTHER_TIMES.items():
        if pattern.fullmatch(cell):
            try:
                return datetime.datetime.strptime(cell, form)
            except ValueError:
                return None
    return None


def _csv_run(args: argparse.Namespace, names: dict[str, str], model: dict[str, float],
             staging: Staging) -> None:
    table = CsvTable(args.input)
    for q in ("time", *tmrt.REQUIRED):
        if names.get(q, q) not in table.header:
            raise Failure(f"{args.input}, line {table.header_line}: no column '{names.get(q, q)}' "
                          f"({CSV_COLUMNS.get(q, '')}; columns: {', '.join(table.header)})")
    if not any(names.get(q, q) in table.header for q in tmrt.HUMIDITY):
        raise Failure(f"{args.input}, line {table.header_line}: no humidity column: one of "
                      + ", ".join(f"'{names.get(q, q)}'" for q in tmrt.HUMIDITY))
    observations: dict[str, Any] = {names.get("time", "time"): table.times(names.get("time", "time"),
                                                                       args.utc_offset)}
    for q in tmrt.INPUTS:
        source = names.get(q, q)
        if source in table.header:
            observations[source] = table.numbers(source, args.missing_value)
    try:
        result = tmrt.compute(observations, latitude=args.lat, longitude=args.lon,
                              height=args.height, utc_offset=0.0, names=names,
                              invalid="mask" if args.out_of_range == "missing" else "raise",
                              **model)
    except tmrt.ObservationError as e:
        where = table.where(e.row, e.source) if e.row is not None else f"{args.input}: {e.source}"
        raise Failure(f"{where}: {e.detail} (if it marks a missing value: --missing-value)") from None

    # Input columns as they were, but those the chain fills in (humidity,
    # global radiation) with what it used; then the new quantities.
    replaced = {i: k for i, k in enumerate(table.header)
                if k in result and (k in tmrt.OUTPUTS or k in tmrt.HUMIDITY)}
    header = table.header + [k for k in result if k not in table.header and k not in observations]
    tmp = staging.temporary(args.output)
    with open(tmp, "w", newline="", encoding="utf-8") as f:
        writer = csv.writer(f, delimiter=table.delimiter, lineterminator="\n")
        writer.writerow(header)
        comma = table.decimal_comma
        for k, row in enumerate(table.rows):
            cells = list(row)
            for i, name in replaced.items():
                cells[i] = _number(result[name][k], comma)
            cells += [_number(result[name][k], comma) for name in header[len(row):]]
            writer.writerow(cells)
        f.flush()
        os.fsync(f.fileno())
    if args.plot is not None:
        utc = observations[names.get("time", "time")]
        series = {k: np.asarray(result[k]) for k in PLOTTED if k in result}
        series["air_temperature"] = observations[names.get("air_temperature", "air_temperature")]
        plot(utc, series, f"{args.input.name}: {args.lat:g}° N, {args.lon:g}° E",
              staging.temporary(args.plot))


def _number(x: float, decimal_comma: bool = False) -> str:
    # The shortest text that reads back as the same float: nothing of the
    # computed value is lost in the file.
    text = "" if math.isnan(x) else repr(float(x))
    return text.replace(".", ",") if decimal_comma else text


# NetCDF --------------------------------------------------------------------

NETCDF_MAGIC = (b"CDF\x01", b"CDF\x02", b"CDF\x05", b"\x89HDF\r\n\x1a\n")


def _is_netcdf(path: pathlib.Path) -> bool:
    try:
        with open(path, "rb") as f:
            return f.read(8).startswith(NETCDF_MAGIC)
    except OSError:
        return False


def _netcdf_modules() -> None:
    try:
        import dask  # noqa: F401
        import netCDF4  # noqa: F401
        import xarray  # noqa: F401
    except ImportError as e:
        raise Failure(f"NetCDF files need xarray, dask and netCDF4 ({e.name} is missing): "
                      "pip install 'quarnel[netcdf]'") from None


def _open(path: pathlib.Path) -> xr.Dataset:
    import xarray as xr
    try:
        return xr.open_dataset(path, engine="netcdf4", chunks=None)
    except (OSError, ValueError, RuntimeError) as e:
        raise Failure(f"{path}: cannot read as NetCDF: {e}") from None


_READ_LOCK = threading.Lock()


def netcdf_region(path: str, region: Mapping[str, tuple[int, int]], kwargs: Mapping[str, Any],
                  dims: Mapping[str, tuple[str, ...]]) -> dict[str, npt.NDArray[Any]]:
    """One block of the output: reads the block of the input, computes it.
    Runs in dask's threads or on distributed workers."""
    import xarray as xr
    # The netCDF and HDF5 libraries are not safe for threads: one reader at
    # a time in a process, the computing in parallel.
    with _READ_LOCK, xr.open_dataset(path, engine="netcdf4", chunks=None) as ds:
        block = ds.isel({d: slice(lo, hi) for d, (lo, hi) in region.items()}).load()
    out = tmrt.compute(block, **kwargs)
    return {name: out[name].transpose(*d).values for name, d in dims.items()}


def _netcdf_run(args: argparse.Namespace, names: dict[str, str], model: dict[str, float],
                staging: Staging) -> None:
    _netcdf_modules()
    import netCDF4
    from dask.base import compute
    from dask.delayed import delayed

    kwargs: dict[str, Any] = dict(latitude=args.lat, longitude=args.lon, height=args.height,
                                  utc_offset=args.utc_offset, names=names,
                                  invalid="mask" if args.out_of_range == "missing" else "raise",
                                  **model)
    path = str(args.input)
    with _open(args.input) as ds:
        sizes = {str(d): int(n) for d, n in ds.sizes.items()}
        if any(n == 0 for n in sizes.values()):
            raise Failure(f"{args.input}: empty dimension")
        probe = ds.isel({d: slice(0, 1) for d in sizes}).load()
        coords = {str(d): ds[d] for d in sizes if d in ds.coords}
        global_attrs = dict(ds.attrs)
    try:
        first = tmrt.compute(probe, **kwargs)
    except (KeyError, ValueError) as e:
        message = e.args[0] if isinstance(e, KeyError) else str(e)
        raise Failure(f"{args.input}: {message}") from None
    variables = {str(k): v for k, v in first.data_vars.items()}
    dims = {k: tuple(str(d) for d in v.dims) for k, v in variables.items()}
    chunk = {d: args.chunks.get(d, 24 if d in ("time", "valid_time") else 128) for d in sizes}
    starts = {d: range(0, sizes[d], max(1, chunk[d])) for d in sizes}
    regions = [{d: (lo, min(lo + chunk[d], sizes[d])) for d, lo in zip(sizes, combo)}
               for combo in itertools.product(*starts.values())]

    time_dim = next((d for d in ("time", "valid_time") if d in sizes), None)
    ntime = sizes[time_dim] if time_dim else 0
    sums = {k: np.zeros(ntime) for k in PLOTTED if k in variables and time_dim in dims[k]}
    counts = {k: np.zeros(ntime) for k in sums}

    tmp = staging.temporary(args.output)
    client = _client(args.scheduler) if args.scheduler else None
    try:
        with netCDF4.Dataset(tmp, "w", format="NETCDF4") as nc:
            nc.setncatts({k: v for k, v in global_attrs.items() if not k.startswith("_")})
            nc.setncattr("history", f"{_now()} quarnel tmrt {args.input.name}")
            for d, n in sizes.items():
                nc.createDimension(d, n)
            for d, coord in coords.items():
                _write_coordinate(nc, d, coord)
            for k, v in variables.items():
                var = nc.createVariable(k, v.dtype if v.dtype.kind == "f" else np.float64, dims[k],
                                        zlib=True, complevel=1, fill_value=np.nan,
                                        chunksizes=[min(chunk[d], sizes[d]) for d in dims[k]])
                var.setncatts({a: val for a, val in v.attrs.items()
                               if not a.startswith("_") and a not in ("scale_factor", "add_offset")})
            width = client_threads(client) if client else (os.cpu_count() or 1)
            progress = _Progress(len(regions), sys.stderr.isatty())
            for batch in _batched(regions, 2 * width):
                tasks = [delayed(netcdf_region, pure=True)(path, r, kwargs, dims) for r in batch]
                try:
                    if client is not None:
                        results = client.gather(client.compute(tasks))
                    else:
                        results = compute(*tasks, scheduler="threads")
                except tmrt.ObservationError as e:
                    raise Failure(f"{args.input}: {e}") from None
                for region, result in zip(batch, results):
                    for k, values in result.items():
                        nc[k][tuple(slice(*region[d]) for d in dims[k])] = values
                        if k in sums:
                            _accumulate(sums[k], counts[k], values, dims[k], time_dim,
                                        region[time_dim][0])
                progress.advance(len(batch))
            progress.done()
    finally:
        if client is not None:
            client.close()
    if args.plot is not None and time_dim is not None:
        with np.errstate(invalid="ignore", divide="ignore"):
            series = {k: sums[k] / counts[k] for k in sums}
        times = np.asarray(coords[time_dim].values) if time_dim in coords else np.arange(ntime)
        grid = math.prod(sizes.values()) > ntime
        plot(times, series, args.input.name + (", mean over the grid" if grid else ""),
              staging.temporary(args.plot))


def client_threads(client: Any) -> int:
    return max(1, sum(int(n) for n in client.nthreads().values()))


def _client(address: str) -> Any:
    try:
        from distributed import Client
    except ImportError:
        raise Failure("--scheduler needs dask.distributed: pip install 'quarnel[dask]'") from None
    try:
        return Client(address, timeout="10s")
    except (OSError, TimeoutError, ValueError) as e:
        raise Failure(f"cannot reach the dask scheduler at {address}: {e}") from None


def _accumulate(total: npt.NDArray[np.float64], count: npt.NDArray[np.float64],
                values: npt.NDArray[Any], dims: tuple[str, ...], time_dim: str | None,
                start: int) -> None:
    axis = dims.index(str(time_dim))
    moved = np.moveaxis(np.asarray(values, dtype=np.float64), axis, 0).reshape(values.shape[axis], -1)
    ok = ~np.isnan(moved)
    total[start:start + moved.shape[0]] += np.where(ok, moved, 0.0).sum(axis=1)
    count[start:start + moved.shape[0]] += ok.sum(axis=1)


def _write_coordinate(nc: Any, dim: str, coord: xr.DataArray) -> None:
    values = np.asarray(coord.values)
    attrs = {a: v for a, v in coord.attrs.items() if not a.startswith("_")}
    if np.issubdtype(values.dtype, np.datetime64):
        var = nc.createVariable(dim, np.int64, (dim,))
        var[:] = values.astype("datetime64[s]").astype(np.int64)
        attrs.update(units="seconds since 1970-01-01 00:00:00", calendar="proleptic_gregorian")
    else:
        var = nc.createVariable(dim, values.dtype, (dim,))
        var[:] = values
    var.setncatts(attrs)


def _batched(items: Sequence[Any], n: int) -> Iterator[Sequence[Any]]:
    for i in range(0, len(items), n):
        yield items[i:i + n]


def _now() -> str:
    return datetime.datetime.now(datetime.UTC).strftime("%Y-%m-%dT%H:%M:%SZ")


class _Progress:
    """A bar on standard error, when that is a terminal."""

    def __init__(self, total: int, enabled: bool) -> None:
        self.total, self.done_, self.enabled = total, 0, enabled

    def advance(self, n: int) -> None:
        self.done_ += n
        if self.enabled:
            filled = 30 * self.done_ // max(self.total, 1)
            sys.stderr.write(f"\r{PROG}: [{'#' * filled}{'.' * (30 - filled)}] "
                             f"{self.done_}/{self.total} blocks")
            sys.stderr.flush()

    def done(self) -> None:
        if self.enabled:
            sys.stderr.write("\n")


# The plot ------------------------------------------------------------------

def _check_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise Failure("--plot needs matplotlib: pip install 'quarnel[plot]'") from None


def plot(times: npt.NDArray[Any], series: Mapping[str, npt.NDArray[Any]], title: str,
          path: pathlib.Path) -> None:
    """Temperatures above, fluxes below, over time [UTC], as PNG."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    x = np.asarray(times)
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(9, 7), constrained_layout=True)
    for key, label, style, color in PLOT_TEMPERATURES:
        if key in series:
            top.plot(x, series[key], style, color=color, label=label)
    top.set_ylabel("temperature [°C]")
    top.legend(loc="upper left")
    top.grid(alpha=0.3)
    top.set_title(title)
    for key, label, style in PLOT_FLUXES:
        if key in series:
            bottom.plot(x, series[key], style, label=label)
    bottom.axhline(0, color="black", linewidth=0.5)
    bottom.set_xlabel("time [UTC]")
    bottom.set_ylabel("flux [W/m²]")
    bottom.legend(loc="upper left", fontsize="small")
    bottom.grid(alpha=0.3)
    fig.autofmt_xdate()
    fig.savefig(path, dpi=120, format="png")
    plt.close(fig)


# Arguments -----------------------------------------------------------------

def _mapping(text: str) -> tuple[str, str]:
    quantity, sep, name = text.partition("=")
    if not sep or not name or quantity not in CSV_COLUMNS:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not QUANTITY=NAME with QUANTITY one of {', '.join(CSV_COLUMNS)}")
    return quantity, name


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
    commands = top.add_subparsers(dest="command", metavar="COMMAND", required=True)
    columns = "\n".join(f"  {name:<18} {unit}" for name, unit in CSV_COLUMNS.items())
    p = commands.add_parser(
        "tmrt", help="mean radiant temperature from weather observations",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Computes the mean radiant temperature of a person standing outdoors, and "
                    "every radiation term on the way, from weather observations at a site (CSV) "
                    "or on a grid (NetCDF).",
        epilog=f"CSV input: a header line naming the columns (lines starting with # are "
               f"skipped; empty cells are missing values); columns separated by commas, or "
               f"by semicolons or tabs, then with decimal commas allowed (kept in the "
               f"output); UTF-8, UTF-16 with byte-order mark or Windows-1252\n{columns}\n"
               "Humidity: at least one of relative_humidity, vapour_pressure, dew_point; the "
               "others follow through the Magnus formula. Measured global_radiation is used "
               "where given, else modelled from the clear sky and the cloud.\n\n"
               "NetCDF input: ERA5 single-level variables t2m and d2m [K], tcc [0 - 1], u10 and "
               "v10 [m/s], optionally ssrd [J/m² accumulated over the hour before each time], "
               "on time x latitude x longitude; the standard names above with units "
               "attributes work too.\n\n"
               "Output: the input plus solar_time [h], zenith_angle and azimuth_angle [°], "
               "linke_turbidity, relative_air_mass, the radiation terms [W/m²], "
               "surface_temperature and mean_radiant_temperature [°C]; CSV for CSV input, "
               "NetCDF with units and long_name attributes for NetCDF input.")
    p.add_argument("input", type=pathlib.Path, metavar="INPUT",
                   help="observations: a CSV file or a NetCDF file")
    p.add_argument("-o", "--output", type=pathlib.Path, required=True, metavar="OUTPUT",
                   help="file to write, of the input's kind (.csv or .nc); replaced only when "
                        "the whole computation has succeeded")
    site = p.add_argument_group("the site (a NetCDF grid takes latitude and longitude from its coordinates)")
    site.add_argument("--lat", type=float, metavar="DEG",
                      help="latitude [°, north positive]; needed for CSV input")
    site.add_argument("--lon", type=float, metavar="DEG",
                      help="longitude [°, east positive]; needed for CSV input")
    site.add_argument("--height", type=float, default=0.0, metavar="M",
                      help="height above sea level [m] (default 0)")
    site.add_argument("--utc-offset", type=float, default=0.0, metavar="H",
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
        model.add_argument("--" + name.replace("_", "-"), type=float, default=default,
                           metavar="X", help=f"{text} (default {default:g})")
    grid = p.add_argument_group("NetCDF")
    grid.add_argument("--chunks", type=_chunks, default={}, metavar="DIM=N,...",
                      help="block size per dimension, computed and written one block at a "
                           "time (default time=24 and 128 along the others)")
    grid.add_argument("--scheduler", metavar="ADDRESS",
                      help="run on the dask.distributed scheduler at ADDRESS (e.g. "
                           "tcp://10.0.0.5:8786) instead of this machine's threads; the workers "
                           "must be able to read INPUT at the same path")
    return top


def main(argv: Sequence[str] | None = None) -> int:
    top = parser()
    args = top.parse_args(argv)
    names = dict(args.column)
    model = {name: getattr(args, name) for name in MODEL_OPTIONS}
    if args.output.resolve() == args.input.resolve():
        top.error("OUTPUT is INPUT: write the results to another file")
    if not args.input.is_file():
        return _fail(f"{args.input}: no such file" if not args.input.exists()
                     else f"{args.input}: not a file")
    netcdf = _is_netcdf(args.input)
    out_suffix = args.output.suffix.lower()
    if netcdf and out_suffix not in (".nc", ".nc4", ".netcdf"):
        top.error("the output of a NetCDF input is NetCDF: name it .nc")
    if not netcdf and out_suffix != ".csv":
        top.error("the output of a CSV input is CSV: name it .csv")
    if netcdf and args.missing_value:
        top.error("--missing-value is for CSV input: NetCDF marks missing values itself "
                  "(_FillValue)")
    if not netcdf and (args.lat is None or args.lon is None):
        top.error("a CSV input needs the site: --lat and --lon")
    if args.plot is not None and args.plot.suffix.lower() != ".png":
        top.error("--plot writes PNG: name it .png")

    staging = Staging()
    try:
        if args.plot is not None:
            _check_matplotlib()
        run: Callable[..., None] = _netcdf_run if netcdf else _csv_run
        run(args, names, model, staging)
        staging.commit()
    except Failure as e:
        staging.abort()
        return _fail(str(e))
    except KeyboardInterrupt:
        staging.abort()
        return _fail("interrupted", 130)
    except OSError as e:
        staging.abort()
        return _fail(f"{e.filename or args.input}: {e.strerror or e}")
    except Exception as e:  # noqa: BLE001 - the promise is a message, never a traceback
        staging.abort()
        return _fail(f"{args.input}: {type(e).__name__}: {e}")
    print(f"wrote {args.output}" + (f" and {args.plot}" if args.plot else ""), file=sys.stderr)
    return 0


def _fail(message: str, status: int = 1) -> int:
    print(f"{PROG}: error: {message.splitlines()[0] if message else 'failed'}", file=sys.stderr)
    return status
