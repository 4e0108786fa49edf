"""Solar time and the sun's position, transcribed operation by operation."""

import numpy as np

__all__ = ["Sonnenzeit"]


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
