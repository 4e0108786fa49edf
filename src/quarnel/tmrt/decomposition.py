"""Direct and diffuse solar radiation from measured or reanalysed global radiation.

The direct beam must come from the global radiation itself, not from a
clear sky reduced by cloud cover: only then does the beam on the
horizontal stay within the global radiation. The model is DISC (Maxwell
1987, "A quasi-physical model for converting hourly global horizontal to
direct normal insolation", SERI/TR-215-3087) as pvlib implements it
(``pvlib.irradiance.disc``, v0.16): extraterrestrial radiation by Spencer
(1971) with a solar constant of 1370 W/m², clearness index with cos z
bounded below by 0.065 and capped at 1, Kasten (1966) relative air mass
made absolute with the pressure and capped at 12, no direct radiation
beyond a zenith angle of 87° or where the model turns negative.

Every function works element by element with broadcasting on floats,
NumPy arrays and xarray DataArrays (dask-backed ones stay lazy), and is
quiet for night and NaN inputs. NaN in any input gives NaN.

:func:`split_global`, which the job layer calls for every site-hour, is
compiled (``quarnel._kernels.split_global``); its NumPy form,
``_split_global_numpy`` on :func:`disc`'s terms, is the reference it is
tested against. The two differ only by the C library's exp, pow, acos, sin
and cos against NumPy's, in the last bits of the terms.
"""

from __future__ import annotations

import math

import numpy as np

from quarnel import _kernels
from quarnel._elementwise import Values, outputs, where

__all__ = ["extraterrestrial_normal", "station_pressure", "disc", "split_global"]

SOLAR_CONSTANT = 1370.0          # [W/m²], as pvlib's disc
STANDARD_PRESSURE = 101325.0     # [Pa]
MIN_COS_ZENITH = 0.065           # bound of cos z in the clearness index (z ≈ 86.3°)
MAX_ZENITH = 87.0                # [°] no direct radiation beyond
MAX_AIRMASS = 12.0               # the range DISC was fitted over


def extraterrestrial_normal(dayofyear: Values) -> Values:
    """Extraterrestrial irradiance normal to the sun [W/m²] on a day of the
    year [d]: 1370 W/m² times the inverse square of the Earth–Sun distance
    by Spencer (1971), as ``pvlib.irradiance.get_extra_radiation(doy, 1370,
    'spencer')``."""
    day_angle = (2.0 * math.pi / 365.0) * (dayofyear - 1)
    return SOLAR_CONSTANT * (1.00011 + 0.034221 * np.cos(day_angle)
                             + 0.00128 * np.sin(day_angle)
                             + 0.000719 * np.cos(2 * day_angle)
                             + 7.7e-05 * np.sin(2 * day_angle))


def station_pressure(height: Values) -> Values:
    """Air pressure [Pa] of the standard atmosphere at a height [m] above sea
    level, as ``pvlib.atmosphere.alt2pres``; 0 above 44331.5 m, where the
    formula ends."""
    base = np.maximum((44331.514 - height) / 11880.516, 0.0)
    return 100 * base ** (1 / 0.1902632)


def _clearness_index(global_radiation: Values, cos_zenith: Values, i0: Values) -> Values:
    kt = global_radiation / (i0 * np.maximum(cos_zenith, MIN_COS_ZENITH))
    return np.minimum(np.maximum(kt, 0.0), 1.0)


def _disc_direct(kt: Values, cos_zenith: Values, i0: Values,
                 pressure: Values) -> tuple[Values, Values]:
    """DISC's direct normal radiation [W/m²] for a clearness index, before
    the cut-offs, and the zenith angle [°]; cos_zenith within [−1, 1]."""
    zenith = np.degrees(np.arccos(cos_zenith))
    # Beyond 87° the result is discarded anyway; bounding the angle keeps
    # Kasten's power and the division quiet below the horizon.
    z = np.minimum(zenith, 90.0)
    relative = 1.0 / (np.maximum(cos_zenith, 0.0) + 0.15 * (93.885 - z) ** -1.253)
    am = np.minimum(relative * pressure / STANDARD_PRESSURE, MAX_AIRMASS)

    cloudy = kt <= 0.6
    a = where(cloudy, 0.512 + kt * (-1.56 + kt * (2.286 - 2.222 * kt)),
              -5.743 + kt * (21.77 + kt * (-27.49 + 11.56 * kt)))
    b = where(cloudy, 0.37 + 0.962 * kt,
              41.4 + kt * (-118.5 + kt * (66.05 + 31.9 * kt)))
    c = where(cloudy, -0.28 + kt * (0.932 - 2.048 * kt),
              -47.01 + kt * (184.2 + kt * (-222.0 + 73.81 * kt)))
    delta_kn = a + b * np.exp(c * am)
    knc = 0.866 + am * (-0.122 + am * (0.0121 + am * (-0.000653 + 1.4e-05 * am)))
    return (knc - delta_kn) * i0, zenith


def _any_nan(*values: Values) -> Values:
    nan = np.isnan(values[0])
    for v in values[1:]:
        nan = nan | np.isnan(v)
    return nan


def disc(global_radiation: Values, cos_zenith: Values, dayofyear: Values,
         pressure: Values = STANDARD_PRESSURE) -> Values:
    """Direct normal radiation [W/m²] from global radiation by DISC (Maxwell 1987).

    Parameters
    ----------
    global_radiation
        Global radiation on the horizontal [W/m²].
    cos_zenith
        Cosine of the solar zenith angle [1] (values rounded past ±1 count as ±1).
    dayofyear
        Day of the year [d].
    pressure
        Air pressure at the site [Pa] (:func:`station_pressure`).

    Equal to ``pvlib.irradiance.disc(global_radiation, degrees(arccos(cos_zenith)),
    dayofyear, pressure)["dni"]``, except that NaN in any input gives NaN
    (pvlib gives 0 for missing global radiation with the sun beyond 87°).
    0 beyond 87° from the zenith, for negative global radiation and where
    the model turns negative.
    """
    cos_zenith = np.minimum(np.maximum(cos_zenith, -1.0), 1.0)
    i0 = extraterrestrial_normal(dayofyear)
    kt = _clearness_index(global_radiation, cos_zenith, i0)
    dni, zenith = _disc_direct(kt, cos_zenith, i0, pressure)
    dni = where((zenith > MAX_ZENITH) | (global_radiation < 0) | (dni < 0), 0.0, dni)
    return where(_any_nan(global_radiation, cos_zenith, dayofyear, pressure), np.nan, dni)


def split_global(global_radiation: Values, cos_zenith: Values, sunlit_fraction: Values,
                 dayofyear: Values, pressure: Values = STANDARD_PRESSURE
                 ) -> tuple[Values, Values]:
    """Direct normal and diffuse radiation [W/m²] from global radiation [W/m²]
    averaged over an interval.

    Parameters
    ----------
    global_radiation
        G, the mean global radiation on the horizontal over the interval
        [W/m²]; negative values (left by differences of accumulated fields)
        count as 0.
    cos_zenith
        μ, the mean cos z over the sunlit part of the interval [1]
        (:func:`quarnel.tmrt.interval_sun.interval_cos_zenith`); for an
        instantaneous observation the cos z of the moment.
    sunlit_fraction
        f, the part of the interval with the sun up [1], 0 to 1; for an
        instantaneous observation 1 where μ > 0.
    dayofyear
        Day of the year [d].
    pressure
        Air pressure at the site [Pa] (:func:`station_pressure`).

    Returns
    -------
    (direct_normal, diffuse)
        DNI, the interval mean of the direct radiation normal to the sun
        [W/m²], and DHI = G − DNI·μ, the diffuse radiation on the
        horizontal [W/m²].

    While the sun is up the global radiation is G/f; DISC splits it with
    the sun μ, the beam limited so that it does not exceed it on the
    horizontal, and DNI is f times that. Exactly, also after rounding:
    DNI ≥ 0, DNI·μ ≤ G, DHI ≥ 0. No sun (f = 0 or μ ≤ 0): DNI = 0, DHI = G.
    NaN in any input gives NaN for both.
    """
    dni, dhi = outputs(_kernels.split_global, global_radiation, cos_zenith, sunlit_fraction,
                       dayofyear, pressure)
    return dni, dhi


def _split_global_numpy(global_radiation: Values, cos_zenith: Values, sunlit_fraction: Values,
                        dayofyear: Values, pressure: Values = STANDARD_PRESSURE
                        ) -> tuple[Values, Values]:
    """:func:`split_global` in NumPy: the reference of the compiled one."""
    g = np.maximum(global_radiation, 0.0)
    sunlit = (sunlit_fraction > 0) & (cos_zenith > 0)
    f = where(sunlit, sunlit_fraction, 1.0)
    mu = where(sunlit, cos_zenith, 1.0)
    mu_disc = np.minimum(mu, 1.0)

    # Clearness index of G/f, formed so that a small f cannot overflow.
    i0 = extraterrestrial_normal(dayofyear)
    bound = f * (i0 * np.maximum(mu_disc, MIN_COS_ZENITH))
    below = g < bound
    kt = where(below, g / where(below, bound, 1.0), where(g > 0, 1.0, 0.0))
    dni_sunlit, zenith = _disc_direct(kt, mu_disc, i0, pressure)
    high = zenith <= MAX_ZENITH
    dni = where(high, np.maximum(f * dni_sunlit, 0.0), 0.0)

    # f·min(DNI_s, (G/f)/μ) = min(f·DNI_s, G/μ). G/μ rounded up may put the
    # beam an ulp above G; one step down puts it below, exactly. (A low sun
    # has no beam: its μ stays out of the division.)
    limit = g / where(high, mu, 1.0)
    limit = where(limit * mu > g, np.nextafter(limit, 0.0), limit)
    dni = where(sunlit, np.minimum(dni, limit), 0.0)
    diffuse = g - dni * mu

    nan = _any_nan(global_radiation, cos_zenith, sunlit_fraction, dayofyear, pressure)
    return where(nan, np.nan, dni), where(nan, np.nan, diffuse)
