"""Plausible fluxes for made-up ERA5-like data: shares drawn at random made
into fluxes the physics of their hour allows (the job refuses others)."""

import numpy as np

SIGMA = 5.67e-08


def cos_zenith_mid_hour(times, latitude, longitude):
    """cos z at the middle of the hour ending at each time (UTC), by the
    textbook declination (Cooper 1969) and hour angle, no equation of
    time: good to a few hundredths, which the made-up fluxes leave room
    for. Shape: times x latitudes x longitudes."""
    t = np.asarray(times, dtype="datetime64[s]") - np.timedelta64(1800, "s")
    day = (t.astype("datetime64[D]") - t.astype("datetime64[Y]")).astype(float) + 1
    hour = (t - t.astype("datetime64[D]")).astype(float) / 3600.0
    decl = np.radians(23.45 * np.sin(2 * np.pi * (284 + day) / 365))[:, None, None]
    phi = np.radians(np.asarray(latitude, dtype=float))[None, :, None]
    omega = np.radians(15.0 * (hour[:, None, None] + np.asarray(longitude)[None, None, :] / 15.0
                               - 12.0))
    return np.sin(phi) * np.sin(decl) + np.cos(phi) * np.cos(decl) * np.cos(omega)


def hourly_global(share, times, latitude, longitude):
    """Hourly global radiation [J m-2]: a share (0 to 1) of 1000 W/m² times
    the mid-hour cos z, none at night."""
    return share * 1000.0 * np.maximum(cos_zenith_mid_hour(times, latitude, longitude), 0) * 3600


def hourly_longwave(share, t2m):
    """Hourly long-wave radiation downwards [J m-2] from a share (0 to 1):
    0.6 to 1.05 of the air's black-body emission σT⁴, t2m in K."""
    return (0.6 + 0.45 * share) * SIGMA * np.asarray(t2m, dtype=float) ** 4 * 3600
