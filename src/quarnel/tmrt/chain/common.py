"""What the steps of the chain share: element-wise fallbacks that work
alike on NumPy arrays and xarray DataArrays, and the black body."""

from __future__ import annotations

from typing import Any

import numpy as np

from quarnel._elementwise import where

SIGMA = 5.67e-08           # Stefan–Boltzmann constant [W m⁻² K⁻⁴], as in the module


def fill(measured: Any, estimate: Any) -> Any:
    """The measured value, the estimate where the measurement is missing (NaN)."""
    return where(np.isnan(measured), estimate, measured)


def first(*candidates: Any) -> Any:
    """Element by element, the first candidate that is not NaN (None: absent)."""
    present = [c for c in candidates if c is not None]
    out = present[-1]
    for c in reversed(present[:-1]):
        out = fill(c, out)
    return out


def black_body(t: Any) -> Any:
    """σ T⁴ [W m-2] of a temperature t [°C]."""
    return SIGMA * (t + 273.15) ** 4
