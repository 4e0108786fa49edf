"""Inputs over the kernels' domains, for the kernels' tests and their
children at other instruction-set levels."""

import numpy as np

CZA_MIN = 0.00873  # cos 89.5 deg: the authors count no direct beam below

from quarnel import decomposition as D

def inside(n, seed):
    """Ta [°C], Tmrt [°C], va [m/s], vapour pressure [hPa] over the whole domain."""
    rng = np.random.default_rng(seed)
    ta = rng.uniform(-50, 50, n)
    return ta, ta + rng.uniform(-30, 70, n), rng.uniform(0.5, 17, n), rng.uniform(0, 50, n)

def split_inputs(n, seed):
    """G, μ, f, day, pressure over the model's range and its edges."""
    rng = np.random.default_rng(seed)
    g = rng.uniform(-20.0, 1400.0, n)
    mu = rng.uniform(-0.1, 1.0, n)
    f = rng.uniform(0.0, 1.0, n)
    day = rng.integers(1, 367, n).astype(np.float64)
    p = rng.uniform(50000.0, 106000.0, n)
    k = n // 8
    # kt around 0.6 (where DISC's coefficients change), zenith around 87°,
    # tiny f, μ near 0 and 1, no sun, negative G, NaN.
    i0 = D.extraterrestrial_normal(day[:k])
    g[:k] = 0.6 * i0 * mu[:k].clip(0.065) * f[:k] * (1 + rng.uniform(-1e-3, 1e-3, k))
    mu[k:2 * k] = np.cos(np.radians(87.0 + rng.uniform(-0.05, 0.05, k)))
    f[2 * k:3 * k] = 10.0 ** rng.uniform(-300, -3, k)
    mu[3 * k:4 * k] = np.where(rng.random(k) < 0.5, 10.0 ** rng.uniform(-12, -1, k),
                               1.0 - 10.0 ** rng.uniform(-16, -3, k))
    mu[4 * k:4 * k + 50] = [0.0, 1.0, 1.0 + 1e-16, 2.0, -0.0] * 10
    f[4 * k + 50:4 * k + 100] = 0.0
    g[4 * k + 100:4 * k + 150] = [-5.0, -0.0, 0.0, 1e-300, 5e3] * 10
    for i, x in enumerate((g, mu, f, day, p)):
        x[5 * k + 10 * i:5 * k + 10 * i + 10] = np.nan
    return g, mu, f, day, p

def person_inputs(n, seed):
    """Zenith [°], long-wave [W/m²], scattered [W/m²], beam [W/m²], absorption [1]."""
    rng = np.random.default_rng(seed)
    zenith = np.where(rng.random(n) < 0.3, 90.0, rng.uniform(0.0, 90.0, n))
    longwave = rng.uniform(150.0, 600.0, n)
    scattered = rng.uniform(0.0, 400.0, n)
    beam = np.where(zenith < 90, rng.uniform(0.0, 1000.0, n), 0.0)
    absorption = rng.uniform(0.5, 1.0, n)
    return zenith, longwave, scattered, beam, absorption


def buck(ta):
    """Saturation vapour pressure [hPa] of the authors: Buck (1981) with 1.004."""
    return 1.004 * 6.1121 * np.exp(17.502 * ta / (ta + 240.97))


def weather(n, seed):
    """Ta [°C], RH [1], p [hPa], v at 2 m [m/s], G [W/m²], direct share, cos z:
    the ranges the authors' code is compared on, any sun, nights included."""
    rng = np.random.default_rng(seed)
    ta = rng.uniform(0, 45, n)
    rh = rng.uniform(0.10, 0.95, n)
    p = rng.uniform(850, 1050, n)
    v = rng.uniform(0.2, 8, n)
    cz = rng.uniform(-0.3, 1, n)
    g = rng.uniform(0, 1, n) * 1367 * np.clip(cz, 0, None)
    f = np.where(cz >= CZA_MIN, rng.uniform(0, 1, n), 0.0)
    return ta, rh, p, v, g, f, cz


# PET -------------------------------------------------------------------------

PET_STANDARD = (35.0, 1.0, 1.75, 75.0, 80.0, 0.9)  # age, sex, height, mass, activity, clothing


def solweig_saturation(ta):
    """Saturation vapour pressure [hPa] by which the SOLWEIG package's PET
    reads relative humidity (the Magnus form that reproduces its values)."""
    return 6.107 * 10.0 ** (7.5 * ta / (238.0 + ta))


def vdi_saturation(ta):
    """The VDI 3787 program's Magnus form [hPa], which bounds PET's domain."""
    return 6.11 * 10.0 ** (7.45 * ta / (235.0 + ta))


def pet_sample(n, seed):
    """Ta [°C], Tmrt [°C], wind at 1.1 m [m/s], relative humidity [%] over
    the region where every element must converge."""
    rng = np.random.default_rng(seed)
    ta = rng.uniform(-30.0, 50.0, n)
    return (ta, ta + rng.uniform(-30.0, 70.0, n), np.exp(rng.uniform(np.log(0.1), np.log(20.0), n)),
            rng.uniform(5.0, 100.0, n))
