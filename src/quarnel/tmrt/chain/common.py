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


def given(*candidates: Any) -> Any:
    """``first`` of the candidates that are present, None if none is."""
    present = [c for c in candidates if c is not None]
    return first(*present) if present else None


def supplied(measured: Any, estimate: Callable[[], Any], filling: bool) -> Any:
    """A quantity from what was supplied for it (``measured``: measured or
    derived from measurements, None where nothing was supplied), else the
    model (``estimate()``, computed only where used): where nothing was
    supplied, the model; where something was, its gaps (NaN) stay gaps
    unless ``filling``, which fills them from the model."""
    if measured is None:
        return estimate()
    return first_or([measured], estimate) if filling else measured


def then_model(sources: list[str], model: str, filling: bool) -> str:
    """The sources of a term in words, first that is not missing: those of
    what was supplied, then the model where nothing was, or ``filling``."""
    return "; else ".join(sources + ([model] if filling or not sources else []))


def black_body(t: Any) -> Any:
    """σ T⁴ [W m-2] of a temperature t [°C]."""
    return SIGMA * (t + 273.15) ** 4


#: the roughness length of the log law UTCI's authors bring wind to 10 m with [m]
WIND_ROUGHNESS = 0.01


def wind_at(wind: Any, measured_at: Any, height: float = 10.0) -> Any:
    """Wind [m/s] measured at ``measured_at`` [m] brought to ``height`` [m]
    by the logarithmic wind profile with roughness length 0.01 m (Bröde et
    al. 2012, Int J Biometeorol 56: v10 = vh log10(10/0.01) / log10(h/0.01));
    as it is where the heights are the same."""
    if np.ndim(measured_at) == 0 and float(measured_at) == height:
        return wind
    return wind * (np.log10(height / WIND_ROUGHNESS) / np.log10(measured_at / WIND_ROUGHNESS))
