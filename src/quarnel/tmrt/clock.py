"""The clock: times to UTC, the calendar, and apparent solar time.

Solar time is apparent solar time from the clock: the time of day in UTC,
plus longitude / 15 hours, plus the equation of time of ``Sonnenzeit``
(docs/reference.md), on the local day.
"""

from __future__ import annotations

import datetime
import zoneinfo
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import ufunc as U

__all__ = ["equation_of_time", "as_datetime64", "EXACT_CALENDARS", "utc", "zone_offsets", "calendar", "solar_time",
           "wrapped_longitude"]

FloatArray = npt.NDArray[np.float64]


def equation_of_time(dayofyear: Any) -> Any:
    """Apparent minus mean solar time [h] on a day of the year: the
    approximation inside ``Sonnenzeit`` (docs/reference.md)."""
    b = 2 * np.pi * (dayofyear - 81) / 364
    return (9.87 * np.sin(2 * b) - 7.53 * np.cos(b) - 1.5 * np.sin(b)) / 60


#: CF calendars (CF conventions 4.4.1) each of whose dates is a day of the
#: Gregorian calendar: a climate model's 365-day year lacks 29 February,
#: and is otherwise the real year's, with its sun
EXACT_CALENDARS = ("standard", "gregorian", "proleptic_gregorian", "noleap", "365_day")


def as_datetime64(times: Any, source: str = "time") -> npt.NDArray[Any]:
    """Times as datetime64: cftime dates (xarray's for a model's calendar)
    of a calendar of ``EXACT_CALENDARS`` as the same dates; dates of a
    360-day or 366-day year, which the sun's calendar does not have, are
    refused with the conversion that places them. Anything else as given."""
    values = np.asarray(times)
    if values.dtype != object or values.size == 0:
        return values
    calendar = getattr(values.flat[0], "calendar", None)
    if calendar is None:
        return values
    if calendar not in EXACT_CALENDARS:
        raise ValueError(
            f"{source}: dates of the {calendar!r} calendar are not days of the real year, "
            "whose sun the model needs: convert them first, e.g. with xarray "
            "ds.convert_calendar('standard', align_on='year')")
    stamps = [t.strftime("%Y-%m-%dT%H:%M:%S.%f") for t in values.reshape(-1)]
    return np.array(stamps, dtype="datetime64[us]").astype("datetime64[ns]").reshape(
        values.shape)


def utc(times: Any, utc_offset: Any) -> npt.NDArray[np.datetime64]:
    """Times on the clock of ``utc_offset`` [h] (a number, or an array
    that broadcasts with the times) as UTC, datetime64[ns]; the dates of
    a model's calendar as ``as_datetime64`` reads them."""
    times = as_datetime64(times)
    if not np.issubdtype(times.dtype, np.datetime64):
        raise ValueError(f"times must be datetime64 values, not {times.dtype}")
    offset: Any
    if np.ndim(utc_offset) == 0:
        offset = np.timedelta64(round(float(utc_offset) * 3600e9), "ns")
    else:
        offset = np.round(np.asarray(utc_offset, dtype=np.float64) * 3600e9).astype(
            "timedelta64[ns]")
    out: npt.NDArray[np.datetime64] = times.astype("datetime64[ns]") - offset
    return out


def zone_offsets(local: npt.NDArray[np.datetime64], zone: str,
                 series: npt.NDArray[np.intp] | None = None
                 ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.bool_]]:
    """The UTC offset [h] of local times (1-D, no offset of their own) in
    the time zone ``zone`` (an IANA name, through zoneinfo), and where a
    time does not exist there (the clocks skipped it).

    A time the clocks pass twice (when they go back) is read in the order
    of the series (``series``: a code per time for several stations): the
    first pass in summer time, and from the first time that does not
    follow on the one before, winter time."""
    zone_info = zoneinfo.ZoneInfo(zone)
    seconds = local.astype("datetime64[s]")
    valid = ~np.isnat(seconds)
    unique, inverse = np.unique(seconds[valid], return_inverse=True)
    offsets = np.empty((2, unique.size))
    skipped_unique = np.zeros(unique.size, dtype=bool)
    for k, value in enumerate(unique.tolist()):
        for fold in (0, 1):
            t = value.replace(tzinfo=zone_info, fold=fold)
            offset = t.utcoffset()
            assert offset is not None
            offsets[fold, k] = offset.total_seconds() / 3600.0
        there = value.replace(tzinfo=zone_info)
        skipped_unique[k] = there.astimezone(datetime.UTC).astimezone(zone_info).replace(
            tzinfo=None) != value
    first, second = np.full(local.shape, np.nan), np.full(local.shape, np.nan)
    skipped = np.zeros(local.shape, dtype=bool)
    first[valid], second[valid] = offsets[0][inverse], offsets[1][inverse]
    skipped[valid] = skipped_unique[inverse]
    twice = valid & (first != second) & ~skipped
    later = np.zeros(local.shape, dtype=bool)
    if twice.any():
        # In each series' order: runs of times passed twice; from the first
        # step back within a run on, the second pass.
        order = np.argsort(series, kind="stable") if series is not None else np.arange(local.size)
        t, amb = seconds[order].astype(np.int64), twice[order]
        same = np.ones(local.size, dtype=bool) if series is None else np.r_[
            False, series[order][1:] == series[order][:-1]]
        same[0] = False
        back = np.r_[False, (t[1:] <= t[:-1]) & amb[1:] & amb[:-1]] & same
        run = np.cumsum(~amb | ~same)          # a new run at each time not passed twice
        counted = np.cumsum(back)
        start = np.r_[0, np.flatnonzero(np.diff(run)) + 1]
        base = np.repeat(counted[start] - back[start], np.diff(np.r_[start, local.size]))
        later[order] = amb & (counted - base > 0)
    return np.where(later, second, first), skipped


def calendar(utc: npt.NDArray[np.datetime64]
             ) -> tuple[FloatArray, FloatArray, FloatArray, FloatArray]:
    """Hour of the day, day of the year, and the lengths of the year and of
    the one before, of UTC times."""
    seconds = utc.astype("datetime64[s]")
    day = seconds.astype("datetime64[D]")
    hours = (seconds - day).astype(np.float64) / 3600.0
    doy, ndays, nprev = _by_date(day, _date_terms)
    return hours, doy, ndays, nprev


def _date_terms(day: npt.NDArray[np.datetime64]) -> tuple[FloatArray, ...]:
    year = day.astype("datetime64[Y]")
    start = year.astype("datetime64[D]")
    doy = (day - start).astype(np.float64) + 1.0
    ndays = ((year + np.timedelta64(1, "Y")).astype("datetime64[D]") - start).astype(np.float64)
    nprev = (start - (year - np.timedelta64(1, "Y")).astype("datetime64[D]")).astype(np.float64)
    return doy, ndays, nprev


def _by_date(day: npt.NDArray[np.datetime64],
             terms: Callable[[npt.NDArray[np.datetime64]], tuple[FloatArray, ...]]
             ) -> tuple[FloatArray, ...]:
    """terms(day), computed once per date and looked up where the values
    span far fewer dates than they are (hours of a series): the calendar's
    conversions cost more than a look-up."""
    if day.size >= 1024 and not np.isnat(day).any():
        number = day.view(np.int64)
        first, last = int(number.min()), int(number.max())
        if last - first < day.size // 8:
            dates = np.arange(first, last + 1).astype("datetime64[D]")
            index = number - first
            return tuple(t[index] for t in terms(dates))
    return terms(day)


def wrapped_longitude(longitude: Any) -> Any:
    """The longitude [°E] in [−180, 180): 0–360 longitudes (ERA5's global
    grids) beyond 180° are the same meridians west of Greenwich, whose
    local date is a day earlier. Longitudes already in range are kept
    bit for bit."""
    return longitude - 360.0 * np.floor((longitude + 180.0) / 360.0)


def solar_time(hours: Any, doy: Any, ndays: Any, nprev: Any, longitude: Any) -> tuple[Any, Any]:
    """Apparent solar time [h, in the day] and the day of the year at the
    site: UTC time of day + longitude / 15 h + the equation of time, the day
    being the local one (a day later east of Greenwich when UTC is still
    the evening before); longitudes as 0–360 are taken in [−180, 180)."""
    local = hours + wrapped_longitude(longitude) / 15.0
    shift = np.floor(local / 24.0)
    local = local - 24.0 * shift
    day = doy + shift
    day = day - ndays * (day > ndays) + nprev * (day < 1)
    szeit = U.Sonnenzeit(local + _equation_of_time_of_days(day), 0.0, 0.0, day)
    return szeit, day


def _equation_of_time_of_days(day: Any) -> Any:
    """equation_of_time(day), looked up for whole days 0 to 367 (those of
    the chain's NumPy path), the same values whatever the array's size."""
    if isinstance(day, (np.ndarray, np.floating)):
        whole = np.asarray(day).astype(np.intp)
        if ((whole == day) & (whole >= 0) & (whole <= 367)).all():
            return _EOT_OF_DAYS[whole]
    return equation_of_time(day)


_EOT_OF_DAYS = equation_of_time(np.arange(368, dtype=np.float64))
