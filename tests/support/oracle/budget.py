"""Radiation budget and mean radiant temperature, transcribed operation by
operation."""

import numpy as np

__all__ = ["DirStrMBew", "AtmosGegenstr", "OberflTemp", "MittlStrTemp"]


def DirStrMBew(Imax, N):
    Result = Imax * (1 - N / 8)
    return Result


def AtmosGegenstr(LuftTemp, Dampfdruck, N):
    sigma = 5.67e-08
    T = LuftTemp + 273.15
    A0 = sigma * np.power(T, 4) * (0.82 - 0.25 * np.power(10, -0.0945 * Dampfdruck))
    nx = np.power(N / 8, 2.5)
    Result = A0 * (1 + 0.21 * nx)
    return Result


def OberflTemp(Strahlungsbilanz, LuftTemp, WindGeschw, Bowen):
    Q = Strahlungsbilanz
    if Q > 0:
        B = -0.19 * Q
    else:
        B = -0.32 * Q
    alphaL = 6.2 + 4.26 * WindGeschw
    if Bowen < -0.9:
        Bowen = -0.9
    if Bowen == 0:
        Result = LuftTemp
    else:
        Result = LuftTemp + (Q + B) / (alphaL * (1 + 1 / Bowen))
    return Result


def MittlStrTemp(zenitwinkel, EStrOben, EStrUnten, AGegenstr, DiffStr, MaxDirStr, ReflStr, albedo,
                 albedo_env):
    sigma = 5.67e-08
    epsP = 0.97
    alphaIR = 1 - albedo
    gamma = 90 - zenitwinkel
    fP = 0.308 * np.cos(np.radians(gamma * (0.998 - np.sqrt(gamma) / 50000)))
    Result = np.power((EStrOben + EStrUnten + AGegenstr + alphaIR / epsP * (DiffStr + MaxDirStr * fP))
                      / sigma, 0.25) - 273.15
    return Result
