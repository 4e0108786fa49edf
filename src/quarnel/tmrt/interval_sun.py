"""The sun of an accumulation interval.

A radiation flux averaged over an interval (ERA5's hourly accumulations, a
station's hourly means) belongs with the sun of that interval, not with the
sun at its time stamp: Hogan & Hirahara (2016, Geophys. Res. Lett. 43)
pair it with the mean cosine of the zenith angle over the sunlit part of
the interval. Near sunrise and
sunset the sun at the time stamp can be far from that mean, or below the
horizon while the interval was partly sunlit.

The sun is that of :func:`quarnel.ufunc.Zenitwinkel`:
cos z = sin δ sin φ − cos φ cos δ cos(π·t/12), t the apparent solar time [h]
(12 at the highest sun), φ the latitude, δ the declination of the day
(:func:`declination`). With a = sin δ sin φ and b = cos φ cos δ ≥ 0 and the
hour angle x = π·t/12 from midnight, cos z = a − b cos x is positive on
the arcs (x₀, 2π − x₀) + 2πk, x₀ = arccos(a/b) (clipped to [−1, 1]: 0 in
polar day, π in polar night), and over a sunlit piece [p, q] of length
L = q − p with midpoint m

    ∫ (a − b cos x) dx = a·L − 2b·cos(m)·sin(L/2),

which stays accurate for short pieces. An interval is split into whole
days and a remainder of less than one day; the declination is held at the
given day over the whole interval.

Every function works element by element with broadcasting on floats,
NumPy arrays and xarray DataArrays (dask-backed ones stay lazy), and is
quiet: no NumPy warnings for night, polar night or NaN inputs.

:func:`interval_cos_zenith` is compiled
(``quarnel._kernels.interval_cos_zenith``); its NumPy form,
``_interval_cos_zenith_numpy``, is the reference it is tested against.
:func:`sunlit_middle` places the sunlit part in the interval: the sun a
shadow is cast for.
"""

from __future__ import annotations

import math

import numpy as np

from quarnel import _kernels
from quarnel._elementwise import Values, outputs, where

__all__ = ["declination", "interval_cos_zenith", "sunlit_middle"]

_RAD_PER_HOUR = math.pi / 12.0   # the hour angle advances 15° an hour
_TWO_PI = 2.0 * math.pi


def declination(dayofyear: Values) -> Values:
    """Solar declination δ [°] of a day of the year [d] (1 = 1 January).

    The formula of :func:`quarnel.ufunc.Zenitwinkel` (docs/reference.md):
    δ = arcsin(0.3978·sin(0.9856·d − 2.72 − 77.51 + 1.92·sin(0.9856·d − 2.72))),
    sine arguments in degrees; |δ| ≤ 23.44°.
    """
    anomaly = 0.9856 * dayofyear - 2.72
    longitude = 0.9856 * dayofyear - 2.72 - 77.51 + 1.92 * np.sin(np.radians(anomaly))
    return np.degrees(np.arcsin(0.3978 * np.sin(np.radians(longitude))))


def _sunlit_piece(x0: Values, x1: Values, span: Values, lo: Values, hi: Values,
                  a: Values, b: Values) -> tuple[Values, Values]:
    """Length [rad] and integral of cos z over the part of [x0, x1] (of
    length ``span``) inside the arc [lo, hi]."""
    # The length from the span less what lies outside the arc, not as a
    # difference of two large hour angles: short intervals stay exact.
    cut = np.maximum(lo - x0, 0.0) + np.maximum(x1 - hi, 0.0)
    length = np.maximum(np.minimum(span - cut, hi - lo), 0.0)
    middle = np.maximum(x0, lo) + 0.5 * length
    return length, a * length - 2.0 * b * np.cos(middle) * np.sin(0.5 * length)


def interval_cos_zenith(solar_time_end: Values, latitude: Values, dayofyear: Values,
                        hours: Values) -> tuple[Values, Values]:
    """The sun of the interval of solar time [solar_time_end − hours, solar_time_end].

    Parameters
    ----------
    solar_time_end
        Apparent solar time [h] at the end of the interval; any real number
        (the interval may cross midnight; 12 is the highest sun of the day).
    latitude
        Latitude [°], −90 to 90 (north positive).
    dayofyear
        Day of the year [d] whose declination holds over the interval.
    hours
        Length of the interval [h], ≥ 0, also more than a day.

    Returns
    -------
    (mu, sunlit_fraction)
        ``mu``: the mean cos z over the sunlit part of the interval (where
        cos z > 0) [1]; ``sunlit_fraction``: that part's length over the
        interval's [1]. An interval without sun (night, polar night) gives
        0, 0. ``hours`` = 0 gives the sun of the moment: cos z and 1 where
        the sun is up, else 0 and 0. NaN where an input is NaN or infinite,
        ``hours`` is negative or the latitude is beyond ±90°.

    The flux averaged over the interval, divided by ``sunlit_fraction``, is
    the flux while the sun was up, and ``mu`` its sun (Hogan & Hirahara 2016).
    """
    mu, fraction = outputs(_kernels.interval_cos_zenith, solar_time_end, latitude, dayofyear,
                           hours)
    return mu, fraction


def _interval_cos_zenith_numpy(solar_time_end: Values, latitude: Values, dayofyear: Values,
                               hours: Values) -> tuple[Values, Values]:
    """:func:`interval_cos_zenith` in NumPy: the reference of the compiled one."""
    bad = ~(np.isfinite(solar_time_end) & np.isfinite(latitude) & np.isfinite(dayofyear)
            & np.isfinite(hours)) | (hours < 0) | (np.abs(latitude) > 90)
    # Bad elements compute on harmless zeros (no warnings) and become NaN at the end.
    t = where(bad, 0.0, solar_time_end)
    phi = np.radians(where(bad, 0.0, latitude))
    h = where(bad, 0.0, hours)
    delta = np.radians(declination(where(bad, 0.0, dayofyear)))

    a = np.sin(delta) * np.sin(phi)
    b = np.cos(phi) * np.cos(delta)
    # Sunrise hour angle from midnight; at a pole (b = 0) cos z = a all day.
    up = b > 0
    ratio = where(up, a / where(up, b, 1.0), where(a > 0, 1.0, -1.0))
    rise = np.arccos(np.minimum(np.maximum(ratio, -1.0), 1.0))
    day_length = _TWO_PI - 2.0 * rise
    day_integral = a * day_length + 2.0 * b * np.sin(rise)

    # Whole days, then the rest of the interval ending at solar_time_end.
    days = np.floor(h / 24.0)
    rest = h - 24.0 * days
    x0 = np.mod(t - rest, 24.0) * _RAD_PER_HOUR
    span = rest * _RAD_PER_HOUR
    x1 = x0 + span
    # x0 in [0, 2π], x1 < 4π: today's and tomorrow's sunlit arcs.
    len1, int1 = _sunlit_piece(x0, x1, span, rise, _TWO_PI - rise, a, b)
    len2, int2 = _sunlit_piece(x0, x1, span, _TWO_PI + rise, 2.0 * _TWO_PI - rise, a, b)
    length = days * day_length + len1 + len2
    integral = days * day_integral + int1 + int2

    sunlit = length > 0
    mu = where(sunlit, np.maximum(integral, 0.0) / where(sunlit, length, 1.0), 0.0)
    # The moment itself, also for hours so short that the angle rounds to 0.
    whole = h * _RAD_PER_HOUR
    moment = ~(whole > 0)
    fraction = np.minimum(length / where(moment, 1.0, whole), 1.0)

    cos_now = a - b * np.cos(t * _RAD_PER_HOUR)
    mu = where(moment, np.maximum(cos_now, 0.0), mu)
    fraction = where(moment, where(cos_now > 0, 1.0, 0.0), fraction)
    return where(bad, np.nan, mu), where(bad, np.nan, fraction)


def sunlit_middle(solar_time_end: Values, latitude: Values, dayofyear: Values,
                  hours: Values) -> Values:
    """The middle of the sunlit part of the interval of solar time
    [solar_time_end − hours, solar_time_end]: the time [h, apparent solar
    time on the interval's clock] whose sun casts the shadows of the
    interval's beam.

    The sunlit part is the one :func:`interval_cos_zenith` averages over
    (cos z > 0, the declination of ``dayofyear``): with a sunrise in the
    interval it ends the interval, with a sunset it begins it, with both
    (a short winter day in a long interval) it lies inside. Where it is
    two pieces (a sunset and the next sunrise), the middle of the longer;
    in polar day, the interval's middle. An interval without sun gives
    the time nearest to the sun, on its edge (no shadow is cast then).
    ``hours`` up to 24, the longest interval the settings take (longer
    ones: the longest piece of their first two days); 0 gives the stamp.
    NaN where an input is NaN or infinite, ``hours`` is negative or the
    latitude is beyond ±90°.
    """
    bad = ~(np.isfinite(solar_time_end) & np.isfinite(latitude) & np.isfinite(dayofyear)
            & np.isfinite(hours)) | (hours < 0) | (np.abs(latitude) > 90)
    end = where(bad, 0.0, solar_time_end)
    h = where(bad, 0.0, hours)
    phi = np.radians(where(bad, 0.0, latitude))
    delta = np.radians(declination(where(bad, 0.0, dayofyear)))
    a = np.sin(delta) * np.sin(phi)
    b = np.cos(phi) * np.cos(delta)
    up = b > 0
    ratio = where(up, a / where(up, b, 1.0), where(a > 0, 1.0, -1.0))
    rise = np.arccos(np.minimum(np.maximum(ratio, -1.0), 1.0)) / _RAD_PER_HOUR   # [h]
    start = end - h
    # The days' sunlit arcs [24k + rise, 24k + 24 - rise] that can meet the
    # interval: the one of its first day, the days before and after.
    first = 24.0 * np.floor(start / 24.0)
    longest = np.full(np.shape(start), -np.inf)
    middle = start + 0.5 * h
    for day in (first - 24.0, first, first + 24.0):
        lo = np.maximum(start, day + rise)
        hi = np.minimum(end, day + 24.0 - rise)
        # An arc that misses the interval: its nearest edge (length < 0).
        longer = hi - lo > longest
        longest = where(longer, hi - lo, longest)
        middle = where(longer, np.minimum(np.maximum(0.5 * (lo + hi), start), end), middle)
    middle = where(rise <= 0.0, start + 0.5 * h, middle)          # polar day
    return where(bad, np.nan, middle)
