"""CSV observations in, CSV results out: every column to the last digit."""

from __future__ import annotations

import argparse
import codecs
import csv
import datetime
import difflib
import io
import math
import os
import pathlib
import re
import sys
from collections.abc import Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import comfort, tmrt
from quarnel.command.arguments import CSV_COLUMNS, PROG, SITE_COLUMNS, option_spelling
from quarnel.command.failure import Failure, UsageError
from quarnel.command.plot import PLOTTED, plot, site
from quarnel.command.staging import Staging
from quarnel.tmrt import checks as tmrt_checks
from quarnel.tmrt import clock as tmrt_clock
from quarnel.tmrt.names import needed
from quarnel.tmrt.quantities import HUMIDITY


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

    def times(self, name: str) -> tuple[npt.NDArray[np.datetime64], npt.NDArray[np.float64]]:
        """The times as written (on their own clocks), and the UTC offset [h]
        of those that carry one (NaN: none)."""
        local = np.empty(len(self.rows), dtype="datetime64[us]")
        own = np.full(len(self.rows), math.nan)
        cells = self.column(name)
        if name != DATE and DATE in self.header and all(TIME_OF_DAY.fullmatch(c) for c in cells):
            # a logger's date and time of day in two columns
            cells = [f"{d} {c}" for d, c in zip(self.column(DATE), cells)]
        for k, cell in enumerate(cells):
            t = _time(cell)
            if t is None:
                raise Failure(f"{self.where(k, name)}: '{cell}' is not an ISO 8601 time "
                              f"({TIME_FORMS})") from None
            offset = t.utcoffset()
            if offset is not None:
                own[k] = offset.total_seconds() / 3600.0
            local[k] = np.datetime64(t.replace(tzinfo=None), "us")
        return local, own


# Times other than ISO 8601 that station records and spreadsheets write, all
# without offset and none ambiguous: the hour stamps of weather services
# (2023071214, with or without minutes) and the dotted day-month-year.
OTHER_TIMES = {
    re.compile(r"\d{10}"): "%Y%m%d%H",
    re.compile(r"\d{12}"): "%Y%m%d%H%M",
    re.compile(r"\d{1,2}\.\d{1,2}\.\d{4} \d{1,2}:\d{2}"): "%d.%m.%Y %H:%M",
    re.compile(r"\d{1,2}\.\d{1,2}\.\d{4} \d{1,2}:\d{2}:\d{2}"): "%d.%m.%Y %H:%M:%S",
}


#: the forms of time read besides ISO 8601, in words
TIME_FORMS = ("as 2023-07-12T14:00 or 2023-07-12 14:00+02:00; read too: 2023071214, "
              "12.07.2023 14:00, and a time of day beside a 'date' column")
#: a column of the dates that a time column of times of day alone goes with
DATE = "date"
TIME_OF_DAY = re.compile(r"\d{1,2}:\d{2}(:\d{2})?")


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


def csv_run(args: argparse.Namespace, names: dict[str, str], model: dict[str, Any],
             staging: Staging) -> None:
    table = CsvTable(args.input)
    if args.group is not None:
        if args.group not in table.header:
            raise Failure(f"{args.input}, line {table.header_line}: --group: no column "
                          f"'{args.group}' (columns: {', '.join(table.header)})")
        names = {**names, "station": args.group}
    place = _site(table, args, names)
    if args.plot is not None and np.ndim(place["latitude"]):
        raise UsageError("--plot draws one station's record: this CSV has a site per row")
    unused = _columns(table, names)
    time_name = names.get("time", "time")
    local, own = table.times(time_name)
    observations: dict[str, Any] = {time_name: local}
    clock = _clock(table, time_name, local, own, place.pop("utc_offset"), args.timezone)
    place_model = {k: place.pop(k) for k in ("sky_view_factor",) if k in place}
    for q in tmrt.INPUTS:
        source = names.get(q, q)
        if source in table.header:
            observations[source] = table.numbers(source, args.missing_value)
    station = names.get("station", "station")
    if station in table.header:
        observations[station] = np.array(table.column(station))
    try:
        result = tmrt.compute(observations, **place, **clock, names=names,
                              invalid=args.invalid, accumulation=args.accumulation,
                              **{**model, **place_model})
    except tmrt.ObservationError as e:
        raise observation_failure(args, table, e) from None
    if unused:
        # Only quantities no column gives are suggested, and never for a
        # name of ours (an output column read back in).
        absent = [q for q in ("time", *tmrt.INPUTS) if names.get(q, q) not in table.header]
        notes = []
        for column in unused:
            meant = None if column in tmrt.OUTPUTS else _meant(column, absent)
            notes.append(f"{column} (did you mean {meant}?)" if meant else column)
        print(f"{PROG}: note: columns not used: {', '.join(notes)}", file=sys.stderr)

    # Input columns as they were, but those the chain fills in (humidity,
    # global radiation) with what it used; then the new quantities.
    replaced = {i: k for i, k in enumerate(table.header)
                if k in result and (k in tmrt.OUTPUTS or k in HUMIDITY)}
    added = [k for k in result if k not in table.header and k not in observations]
    header = table.header + _written(added, list(table.header), args.variables)
    tmp = staging.temporary(args.output)
    with open(tmp, "w", newline="", encoding="utf-8") as f:
        writer = csv.writer(f, delimiter=table.delimiter, lineterminator="\n")
        writer.writerow(header)
        text = {name: _texts(result[name], table.decimal_comma)
                for name in [*replaced.values(), *header[len(table.header):]]}
        for k, row in enumerate(table.rows):
            cells = list(row)
            for i, name in replaced.items():
                cells[i] = text[name][k]
            cells += [text[name][k] for name in header[len(row):]]
            writer.writerow(cells)
        f.flush()
        os.fsync(f.fileno())
    if args.plot is not None:
        utc = tmrt_checks.checked_utc(local, clock["utc_offset"], clock["timezone"], None,
                                      time_name)
        series = {k: np.asarray(result[k]) for k in PLOTTED if k in result}
        series["air_temperature"] = observations[names.get("air_temperature", "air_temperature")]
        plot(utc, series, f"{args.input.name}: {site(args.latitude, args.longitude)}",
             staging.temporary(args.plot))


def _columns(table: CsvTable, names: dict[str, str]) -> list[str]:
    """The columns the computation needs, checked; the header's columns it
    does not read."""
    unused = _unused(table.header, names)
    given = {q for q in tmrt.INPUTS if names.get(q, q) in table.header}
    for q in ("time", *needed(given)):
        if names.get(q, q) not in table.header:
            raise Failure(f"{table.path}, line {table.header_line}: no column '{names.get(q, q)}' "
                          f"({CSV_COLUMNS.get(q, '')}; columns: {', '.join(table.header)})"
                          + _instead(unused, (q,)))
    if not any(names.get(q, q) in table.header for q in HUMIDITY):
        raise Failure(f"{table.path}, line {table.header_line}: no humidity column: one of "
                      + ", ".join(f"'{names.get(q, q)}'" for q in HUMIDITY)
                      + _instead(unused, HUMIDITY))
    return unused


def observation_failure(args: argparse.Namespace, table: CsvTable,
                        e: tmrt.ObservationError) -> Failure:
    """An observation refused, where it is in the file."""
    where = table.where(e.row, e.source) if e.row is not None else f"{args.input}: {e.source}"
    marker = (" (if it marks a missing value: --missing-value)"
              if e.out_of_range and not e.other_unit else "")
    return Failure(f"{where}: {e.detail_text(option_spelling)}{marker}")


def csv_weather(args: argparse.Namespace, names: dict[str, str]
                ) -> tuple[CsvTable, dict[str, Any], dict[str, Any]]:
    """One station's CSV as the maps take it: its observations (the times
    as written, the numbers) and how its times are read (``utc_offset``,
    ``timezone``); the site is the map's."""
    table = CsvTable(args.input)
    rows = [c for c in SITE_COLUMNS if names.get(c, c) in table.header]
    if args.group is not None or rows:
        raise UsageError("maps (--dsm) take one station's weather: the site is the DSM's (or "
                         f"--lat and --lon), not the CSV's ({', '.join(rows) or '--group'})")
    _columns(table, names)
    time_name = names.get("time", "time")
    local, own = table.times(time_name)
    observations: dict[str, Any] = {time_name: local}
    clock = _clock(table, time_name, local, own, args.utc_offset, args.timezone)
    for q in tmrt.INPUTS:
        source = names.get(q, q)
        if source in table.header:
            observations[source] = table.numbers(source, args.missing_value)
    return table, observations, clock


def _site(table: CsvTable, args: argparse.Namespace, names: dict[str, str]) -> dict[str, Any]:
    """The site's settings: per row from latitude and longitude columns
    (several stations; with height, sky view factor and UTC offset columns
    where there are), else the options."""
    columns = {k: names.get(k, k) for k in SITE_COLUMNS if names.get(k, k) in table.header}
    site: dict[str, Any] = {k: getattr(args, k) for k in SITE_COLUMNS if k != "sky_view_factor"}
    if "latitude" not in columns and "longitude" not in columns:
        if args.latitude is None or args.longitude is None:
            raise UsageError("a CSV input needs the site: --lat and --lon, or latitude and "
                             "longitude columns")
        return site
    for k in ("latitude", "longitude"):
        if k not in columns:
            raise Failure(f"{table.path}, line {table.header_line}: a {k} column is needed "
                          f"beside the {({'latitude', 'longitude'} - {k}).pop()} column")
    for k, column in columns.items():
        default = tmrt.SETTINGS[k].default
        if getattr(args, k) != default:
            raise UsageError(f"{option_spelling(k)}: the CSV gives {k} row by row (column "
                             f"'{column}'); give one or the other")
        values = table.numbers(column)
        bad = np.flatnonzero(np.isnan(values))
        if bad.size:
            raise Failure(f"{table.where(int(bad[0]), column)}: no {k} (each row needs its site)")
        try:
            site[k] = tmrt.check_setting(k, values)
        except ValueError:
            s = tmrt.SETTINGS[k]
            row = int(np.flatnonzero((values < s.low) | (values > s.high))[0])
            raise Failure(f"{table.where(row, column)}: {values[row]:g} is not a {k} "
                          f"({s.range_text()})") from None
    return site


def _clock(table: CsvTable, name: str, local: npt.NDArray[np.datetime64],
           own: npt.NDArray[np.float64], utc_offset: Any, timezone: str | None) -> dict[str, Any]:
    """How compute reads the times: each on its own offset where it carries
    one (per row), the others on --utc-offset (the column's) or --timezone."""
    aware = ~np.isnan(own)
    if not aware.any():
        return {"utc_offset": utc_offset, "timezone": timezone}
    offsets = np.where(aware, own, utc_offset)
    if timezone is not None and not aware.all():
        zoned, skipped = tmrt_clock.zone_offsets(local[~aware].astype("datetime64[ns]"), timezone)
        if skipped.any():
            row = int(np.flatnonzero(~aware)[np.argmax(skipped)])
            raise Failure(f"{table.where(row, name)}: '{table.column(name)[row]}' does not exist "
                          f"in {timezone} (the clocks go forward then)")
        offsets[~aware] = zoned
    return {"utc_offset": offsets, "timezone": None}


def _written(added: list[str], inputs: list[str], variables: list[str] | None) -> list[str]:
    """The computed columns written: all, or those --variables names (in the
    order of the chain); the input's columns are always kept, and the
    record of what the model filled wherever it fills."""
    if variables is None or "all" in variables:
        return added
    unknown = [k for k in variables if k not in added and k not in inputs]
    if unknown:
        raise UsageError(f"--variables: no quantity {', '.join(repr(k) for k in unknown)}; "
                         f"valid: all, {', '.join(added)}")
    return [k for k in added if k in variables or k == tmrt.FILLED]


def _unused(header: list[str], names: dict[str, str]) -> list[str]:
    """The header's columns the computation does not read (they are copied
    to the output all the same): a misspelt name is easily one of them."""
    read = {names.get(q, q) for q in ("time", "station", *tmrt.INPUTS, *SITE_COLUMNS)} | set(
        names.values()) | {DATE}
    return [k for k in header if k.strip() and k not in read]


def _meant(column: str, quantities: Sequence[str]) -> str | None:
    """The quantity a column's name is a near miss of (case, spaces and
    hyphens aside), if any."""
    plain = re.sub(r"[\s-]+", "_", column.strip().lower())
    close = difflib.get_close_matches(plain, quantities, n=1, cutoff=0.75)
    return close[0] if close else None


def _instead(unused: list[str], quantities: Sequence[str]) -> str:
    """A hint for a missing quantity: an unused column whose name is close."""
    for q in quantities:
        for k in unused:
            if _meant(k, [q]):
                return f" (did you mean '{k}'? --column {q}={k})"
    return ""


def _texts(values: npt.NDArray[Any], decimal_comma: bool) -> list[str]:
    """A column's cells: integers (the UTCI categories) as integers, their
    fill value empty; floats as `_number` writes them."""
    values = np.asarray(values)
    if np.issubdtype(values.dtype, np.integer):
        return ["" if v == comfort.UTCI_CATEGORY_FILL else str(v) for v in values.tolist()]
    return [_number(v, decimal_comma) for v in values.tolist()]


def _number(x: float, decimal_comma: bool = False) -> str:
    # The shortest text that reads back as the same float: nothing of the
    # computed value is lost in the file.
    text = "" if math.isnan(x) else repr(float(x))
    return text.replace(".", ",") if decimal_comma else text

