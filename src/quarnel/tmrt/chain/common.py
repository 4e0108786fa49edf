"""What the steps of the chain share: element-wise fallbacks that work
alike on NumPy arrays and xarray DataArrays, and the black body."""

from __future__ import annotations

from collections.abc import Callable, Sequence
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


def complete(values: Any) -> bool:
    """Whether values are known to hold no NaN: NumPy's, checked; lazy
    ones (DataArrays) are not looked into."""
    if isinstance(values, (float, np.floating, np.ndarray)):
        return not bool(np.isnan(values).any())
    return False


def first_or(candidates: Sequence[Any], estimate: Callable[[], Any]) -> Any:
    """``first(*candidates, estimate())``, the estimate computed only where
    an element needs it: not at all where the candidates (None: absent)
    leave no NaN, which spares the model where measurements are complete."""
    present = [c for c in candidates if c is not None]
    if not present:
        return estimate()
    out = first(*present)
    return out if complete(out) else fill(out, estimate())


def black_body(t: Any) -> Any:
    """σ T⁴ [W m-2] of a temperature t [°C]."""
    return SIGMA * (t + 273.15) ** 4
