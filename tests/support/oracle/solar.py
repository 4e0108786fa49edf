"""Solar time and the sun's position, transcribed operation by operation."""

import numpy as np

__all__ = ["Sonnenzeit", "Zenitwinkel", "Azimutwinkel"]


def Sonnenzeit(szeit, zeitzone, laenge, dayofyear):
    def ERS(dayofyear):
        B = 2 * np.pi * (dayofyear - 81) / 364
        sinB = np.sin(B)
        cosB = np.cos(B)
        Result = (9.87 * np.sin(2 * B) - 7.53 * cosB - 1.5 * sinB) / 60
        return Result

    zonezeit = szeit + zeitzone - laenge * 12 / 180 - ERS(dayofyear)
    if zonezeit < 0:
        zzeit = zonezeit + 24.0
    elif zonezeit >= 24:
        zzeit = zonezeit - 24.0
    else:
        zzeit = zonezeit
    s = zzeit - zeitzone + laenge * 12 / 180 + ERS(dayofyear)
    if s < 0:
        Result = s + 24.0
    elif s >= 24:
        Result = s - 24.0
    else:
        Result = s
    return Result


def Zenitwinkel(szeit, breite, dayofyear):
    delta = np.degrees(np.arcsin(0.3978 * np.sin(np.radians(
        0.9856 * dayofyear - 2.72 - 77.51 + 1.92 * np.sin(np.radians(0.9856 * dayofyear - 2.72))))))
    sinBr = np.sin(np.radians(breite))
    cosBr = np.cos(np.radians(breite))
    sinD = np.sin(np.radians(delta))
    cosD = np.cos(np.radians(delta))
    s = np.degrees(np.arcsin(-cosBr * np.cos(szeit * np.pi / 12) * cosD + sinD * sinBr))
    Result = 90 - s
    return Result


def Azimutwinkel(szeit, breite, dayofyear):
    def Winkel(Ankathete, Gegenkathete, Gradmass):
        if Gegenkathete == 0:
            if Ankathete >= 0:
                phi = 0
            else:
                phi = np.pi
        elif Gegenkathete > 0:
            phi = np.pi / 2 - np.arctan(Ankathete / Gegenkathete)
        else:
            phi = 3 * np.pi / 2 - np.arctan(Ankathete / Gegenkathete)
        if Gradmass:
            phi = np.degrees(phi)
        return phi

    delta = np.degrees(np.arcsin(0.3978 * np.sin(np.radians(
        0.9856 * dayofyear - 2.72 - 77.51 + 1.92 * np.sin(np.radians(0.9856 * dayofyear - 2.72))))))
    sinBr = np.sin(np.radians(breite))
    cosBr = np.cos(np.radians(breite))
    sinD = np.sin(np.radians(delta))
    cosD = np.cos(np.radians(delta))
    sinSz = np.sin(szeit * np.pi / 12)
    cosSz = np.cos(szeit * np.pi / 12)
    sy = -sinSz * cosD
    sz = sinBr * cosSz * cosD + sinD * cosBr
    Result = Winkel(sz, -sy, True)
    return Result
