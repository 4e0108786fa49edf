"""Clear-sky radiation, transcribed operation by operation."""

import numpy as np

__all__ = ["LinkeTruebung", "RelOptLuftmasse", "MaxDirekteStrahlung", "MaxGlobalstrahlung"]


def LinkeTruebung(dayofyear, breite, RH):
    if RH < 85:
        if breite >= 0:
            Tl = 2.9 - 1.4 * np.cos(2 * np.pi * (dayofyear - 15) / 365)
        else:
            Tl = 2.9 + 1.4 * np.cos(2 * np.pi * (dayofyear - 15) / 365)
    else:
        if RH < 100:
            Vm = np.maximum(1, 15 * (1 - np.exp(-np.power(100 - RH, 4) / np.power(10, 4))))
        else:
            Vm = 1
        Tl = 0.84 + 39 / Vm
    return Tl


def RelOptLuftmasse(zenitwinkel):
    a = 0.50572
    b = 6.07995
    c = -1.6364
    Tabm = np.array([37.92, 39.22, 40.34, 41.48, 42.63, 43.72,
                     44.81, 45.9, 47.0, 48.08, 49.15, 50.12])
    i = int(np.trunc(zenitwinkel * 10 - 900))
    if 0 <= zenitwinkel <= 91:
        if zenitwinkel < 90:
            if zenitwinkel < 80:
                m = 1 / np.cos(np.radians(zenitwinkel))
            else:
                m = 1 / (np.cos(np.radians(zenitwinkel)) + a * np.power((90 - zenitwinkel) + b, c))
        else:
            m = Tabm[i] + (zenitwinkel * 10 - 900 - i) * (Tabm[i + 1] - Tabm[i])
    else:
        m = 999
    return m


def MaxDirekteStrahlung(dayofyear, mHoehe, zenitwinkel, LinkeTr, RelOptLuftM):
    def ExtraterrStrahlung(dayofyear):
        S0 = 1367
        Result = S0 * (1 + 0.03344 * np.cos(np.pi / 180 * (0.9856 * dayofyear - 2.72)))
        return Result

    def OptDicke(zenitwinkel, RelOptLuftM):
        if (0 <= zenitwinkel) & (zenitwinkel < 91):
            if zenitwinkel < 85:
                rho = 1 / (9.4 + 0.9 * RelOptLuftM)
            else:
                rho = 0.0408 + 0.0028 * (90 - zenitwinkel)
        else:
            return 999
        return rho

    def Druckkorrektur(Hoehe):
        Result = np.exp(-Hoehe / 8434.5)
        return Result

    if zenitwinkel < 90:
        Isenkr = ExtraterrStrahlung(dayofyear) * np.exp(
            -LinkeTr * OptDicke(zenitwinkel, RelOptLuftM) * RelOptLuftM * Druckkorrektur(mHoehe))
    else:
        Isenkr = 0
    return Isenkr


def MaxGlobalstrahlung(dayofyear, mHoehe, zenitwinkel, LinkeTr):
    def ExtraterrStrahlung(dayofyear):
        S0 = 1367
        Result = S0 * (1 + 0.03344 * np.cos(np.pi / 180 * (0.9856 * dayofyear - 2.72)))
        return Result

    def Druckkorrektur(Hoehe):
        Result = np.exp(-Hoehe / 8434.5)
        return Result

    if zenitwinkel < 90:
        Gmax = 0.84 * ExtraterrStrahlung(dayofyear) * np.cos(np.radians(zenitwinkel)) * np.exp(
            -0.027 * Druckkorrektur(mHoehe) * LinkeTr / np.cos(np.radians(zenitwinkel)))
    else:
        Gmax = 0
    return Gmax
