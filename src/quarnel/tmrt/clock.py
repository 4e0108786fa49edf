"""The clock: times to UTC, the calendar, and apparent solar time.

Solar time is apparent solar time from the clock: the time of day in UTC,
plus longitude / 15 hours, plus the equation of time of ``Sonnenzeit``
(docs/reference.md), on the local day.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import ufunc as U

__all__ = ["equation_of_time", "utc", "calendar", "solar_time"]

FloatArray = npt.NDArray[np.float64]


def equation_of_time(dayofyear: Any) -> Any:
    """Apparent minus mean solar time [h] on a day of the year: the
    approximation inside ``Sonnenzeit`` (docs/reference.md)."""
    b = 2 * np.pi * (dayofyear - 81) / 364
    return (9.87 * np.sin(2 * b) - 7.53 * np.cos(b) - 1.5 * np.sin(b)) / 60


def utc(times: Any, utc_offset: float) -> npt.NDArray[np.datetime64]:
    """Times on the clock of ``utc_offset`` [h] as UTC, datetime64[ns]."""
    times = np.asarray(times)
    if not np.issubdtype(times.dtype, np.datetime64):
        raise ValueError(f"times must be datetime64 values, not {times.dtype}")
    offset = np.timedelta64(round(utc_offset * 3600e9), "ns")
    out: npt.NDArray[np.datetime64] = times.astype("datetime64[ns]") - offset
    return out


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


def solar_time(hours: Any, doy: Any, ndays: Any, nprev: Any, longitude: Any) -> tuple[Any, Any]:
    """Apparent solar time [h, in the day] and the day of the year at the
    site: UTC time of day + longitude / 15 h + the equation of time, the day
    being the local one (a day later east of Greenwich when UTC is still
    the evening before)."""
    local = hours + longitude / 15.0
    shift = np.floor(local / 24.0)
    local = local - 24.0 * shift
    day = doy + shift
    day = day - ndays * (day > ndays) + nprev * (day < 1)
    szeit = U.Sonnenzeit(local + _equation_of_time_of_days(day), 0.0, 0.0, day)
    return szeit, day


def _equation_of_time_of_days(day: Any) -> Any:
    """equation_of_time(day), looked up for whole days 0 to 367 (those of
    the chain's NumPy path), the same values."""
    if isinstance(day, np.ndarray) and day.size >= 1024:
        whole = day.astype(np.intp)
        if ((whole == day) & (whole >= 0) & (whole <= 367)).all():
            return _EOT_OF_DAYS[whole]
    return equation_of_time(day)


_EOT_OF_DAYS = equation_of_time(np.arange(368, dtype=np.float64))
