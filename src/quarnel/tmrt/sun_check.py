"""Measured global radiation against the sun: a wrong clock or longitude
(local time read as UTC, a missing UTC offset, a longitude of the wrong
sign) shows as sunshine with the sun down; refused, naming the offset or
the longitude sign that fits the data."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import ufunc as U
from quarnel.tmrt import clock
from quarnel.tmrt.checks import ObservationError

__all__ = ["spacing_hours", "clock_check", "CLOCK_LIGHT", "CLOCK_HANDFUL", "CLOCK_SHARE"]

FloatArray = npt.NDArray[np.float64]

#: global radiation [W m-2] that means the sun is up
CLOCK_LIGHT = 50.0
#: values above CLOCK_LIGHT with the sun down that pass in any record ...
CLOCK_HANDFUL = 12
#: ... and as a share of the values above CLOCK_LIGHT
CLOCK_SHARE = 0.02
# Where a clock is refused: the shifts of its times tried [h], and how many
# values the fits take
_SHIFTS = np.arange(-28, 29) * 0.5
_FIT_SAMPLE = 20000
# Time zones lie within a few hours of longitude / 15.
_ZONE_SPREAD = 3.5


def _zenith(utc: Any, latitude: Any, longitude: Any) -> Any:
    szeit, day = clock.solar_time(*clock.calendar(utc), longitude)
    return U.Zenitwinkel(szeit, latitude, day)


def spacing_hours(utc: npt.NDArray[np.datetime64],
                  series: npt.NDArray[np.intp] | None = None) -> float:
    """The median step between consecutive times of a series [h]; 0 for
    fewer than two."""
    ticks = utc.reshape(-1).astype("datetime64[ns]").astype(np.int64)
    codes = np.zeros(ticks.size, dtype=np.intp) if series is None or utc.ndim != 1 else series
    order = np.lexsort((ticks, codes))
    steps = np.diff(ticks[order])[codes[order][1:] == codes[order][:-1]]
    steps = steps[steps > 0]
    return float(np.median(steps)) / 3600e9 if steps.size else 0.0


def clock_check(global_radiation: Any, utc: npt.NDArray[np.datetime64], latitude: Any,
                longitude: Any, source: str, series: npt.NDArray[np.intp] | None,
                offset: float | None) -> None:
    """Measured global radiation against the sun: refused (ObservationError)
    where far more values above CLOCK_LIGHT come with the sun below the
    horizon than a record of its length may have, naming the UTC offset
    (``offset``: the one in effect, None where the times carried their own
    or vary) or the longitude's sign that fits the data best.

    The sun counts as down where it is below the horizon the spacing of
    the times (at least half an hour) before and after the time, too:
    means over the interval before or after each time pass, whichever it
    is."""
    g, t, lat, lon = (np.ravel(a) for a in np.broadcast_arrays(
        np.asarray(global_radiation, dtype=np.float64), utc, np.asarray(latitude),
        np.asarray(longitude)))
    with np.errstate(invalid="ignore"):
        lit = g > CLOCK_LIGHT
    n_lit = int(lit.sum())
    if n_lit <= CLOCK_HANDFUL:
        return
    step = spacing_hours(utc, series)
    slack = np.timedelta64(round(max(0.5, step) * 3600e9), "ns")
    tl, latl, lonl = t[lit], lat[lit], lon[lit]
    allowed = max(CLOCK_HANDFUL, CLOCK_SHARE * n_lit)

    def sun_down(shift: float = 0.0, sign: float = 1.0) -> int:
        """Values above CLOCK_LIGHT with the sun down, the times moved by
        ``shift`` [h] and the longitudes' sign by ``sign``."""
        moved, lo = tl + np.timedelta64(round(shift * 3600e9), "ns"), sign * lonl
        with np.errstate(invalid="ignore"):
            down = ((_zenith(moved, latl, lo) > 90.0) & (_zenith(moved - slack, latl, lo) > 90.0)
                    & (_zenith(moved + slack, latl, lo) > 90.0))
        return int(down.sum())

    n_down = sun_down()
    if n_down <= allowed:
        return
    detail = (f"{n_down} of {n_lit} values above {CLOCK_LIGHT:g} W/m² come with the sun below "
              "the horizon: is the clock or the longitude wrong? The ")
    fit, setting, value = _clock_fit(g, t, lat, lon, offset, step,
                                     lambda shift, sign: sun_down(shift, sign) <= allowed)
    raise ObservationError(detail + fit + " (or turn this check off: {clock_check=False})",
                           "global_radiation", source, setting=setting, value=value)


def _clock_fit(g: FloatArray, t: npt.NDArray[np.datetime64], lat: Any, lon: Any,
               offset: float | None, step: float, explains: Callable[[float, float], bool]
               ) -> tuple[str, str | None, str]:
    """What fits the data: (words, the setting they name, its value). The
    best fit counts only where it ``explains`` the sunshine: with it, no
    more values come with the sun down than a right clock's record has."""
    keep = np.flatnonzero(np.isfinite(g))
    if keep.size > _FIT_SAMPLE:
        keep = keep[np.linspace(0, keep.size - 1, _FIT_SAMPLE).astype(np.intp)]
    g, t, lat, lon = g[keep], t[keep], lat[keep], lon[keep]

    def fit(shift: float, sign: float = 1.0) -> float:
        moved = t + np.timedelta64(round(shift * 3600e9), "ns")
        with np.errstate(invalid="ignore"):
            mu = np.maximum(np.cos(np.radians(_zenith(moved, lat, sign * lon))), 0.0)
        if not (np.std(mu) > 0 and np.std(g) > 0):
            return -1.0
        return float(np.corrcoef(g, mu)[0, 1])

    shifts = _SHIFTS if offset is None else _SHIFTS[np.abs(offset - _SHIFTS) <= 14.0]
    fits = np.array([fit(float(s)) for s in shifts])
    best = float(shifts[int(np.argmax(fits))])
    here = fit(0.0)
    wrapped = (np.median(lon) + 180.0) % 360.0 - 180.0
    one_site = bool(np.all(lon == lon[0]))
    if (offset is not None and abs(offset - wrapped / 15) > _ZONE_SPREAD
            and abs(offset + wrapped / 15) <= _ZONE_SPREAD and fit(0.0, -1.0) >= fits.max() - 0.02
            and explains(0.0, -1.0)):
        if one_site:
            return ("data fit {setting} (east is positive)", "longitude",
                    f"{-((float(lon[0]) + 180.0) % 360.0 - 180.0):g}")
        return "data fit the longitudes with their sign flipped (east is positive)", None, ""
    if best == 0.0 or fits.max() < here + 0.02 or not explains(best, 1.0):
        return ("data fit no other clock better: is global_radiation in W/m², and the site "
                "right?"), None, ""
    if offset is not None:
        new = offset - best
        note = ""
        if new != round(new) and abs(step - 1.0) < 1e-9:
            note = (f" ({new - 0.5:g} if each time ends an hour's mean, {new + 0.5:g} if it "
                    "starts one)")
        return "data fit {setting}" + note, "utc_offset", f"{new:g}"
    return (f"data fit the times {abs(best):g} h {'later' if best > 0 else 'earlier'}: "
            "is their time zone right?"), None, ""
