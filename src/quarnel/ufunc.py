"""The eleven functions of :mod:`quarnel.Strahlwerk` as NumPy ufuncs.

Temporary stand-in (element by element through ``numpy.vectorize``) until
the compiled loops land; the interface is final.
"""

from __future__ import annotations

from typing import Any

import numpy as np

from quarnel import Strahlwerk as _S

__all__ = [
    "Sonnenzeit", "Zenitwinkel", "Azimutwinkel", "LinkeTruebung", "RelOptLuftmasse",
    "MaxDirekteStrahlung", "MaxGlobalstrahlung", "DirStrMBew", "AtmosGegenstr",
    "OberflTemp", "MittlStrTemp",
]


def _make(name: str) -> Any:
    f = getattr(_S, name)
    if name == "MittlStrTemp":
        def one(*a: float) -> float:
            z, o, u, g, dif, i, alb = (np.float64(x) for x in a)
            return float(f(z, o, u, g, dif, i, None, alb, None))
    else:
        def one(*a: float) -> float:
            return float(f(*(np.float64(x) for x in a)))
    return np.vectorize(one, otypes=[np.float64])


for _name in __all__:
    globals()[_name] = _make(_name)
