"""The eleven functions of :mod:`quarnel.Strahlwerk` as NumPy ufuncs.

Each name here is a :class:`numpy.ufunc` with one float64 loop and the
module function's parameters as inputs, in the same order; ``MittlStrTemp``
drops the two parameters the formula never reads (``ReflStr`` and
``albedo_env``) and has seven inputs.

Meaning, element by element: element ``i`` of ``F(a, b, ...)`` is, bit for
bit, ``quarnel.Strahlwerk.F(numpy.float64(a[i]), numpy.float64(b[i]), ...)``
converted to float64. Branches are taken per element, and the markers come
back as floats (999.0 from ``RelOptLuftmasse`` outside 0-91°, 0.0 from
``MaxDirekteStrahlung`` and ``MaxGlobalstrahlung`` with the sun at or below
the horizon). Where that call would raise (``RelOptLuftmasse`` of NaN or
±inf), the element is NaN and the invalid-operation flag is raised.

Everything NumPy offers for ufuncs applies: broadcasting, ``out=``,
``where=``, ``dtype=``/``casting=``, any strides; integer and float32
inputs are cast to float64. Floating-point conditions (overflow, invalid
operations, division by zero, underflow) are reported through NumPy's
error state (:func:`numpy.errstate`) exactly as the scalar calls would warn.
The loops run without the GIL and split large arrays over the cores the
process may use. xarray ``DataArray`` and dask arrays pass through NumPy's
ufunc protocol: coordinates are kept, dask stays lazy.

Units: as the module's functions; see docs/reference.md ("The ufuncs").
"""

from __future__ import annotations

import numpy as np

from quarnel import _ufunc

__all__ = [
    "Sonnenzeit", "Zenitwinkel", "Azimutwinkel", "LinkeTruebung", "RelOptLuftmasse",
    "MaxDirekteStrahlung", "MaxGlobalstrahlung", "DirStrMBew", "AtmosGegenstr",
    "OberflTemp", "MittlStrTemp",
]

#: solar time [h] from (szeit [h], zeitzone [h], laenge [°], dayofyear [d])
Sonnenzeit: np.ufunc = _ufunc.Sonnenzeit
#: zenith angle [°] from (szeit [h], breite [°], dayofyear [d])
Zenitwinkel: np.ufunc = _ufunc.Zenitwinkel
#: azimuth [°, from north through east] from (szeit [h], breite [°], dayofyear [d])
Azimutwinkel: np.ufunc = _ufunc.Azimutwinkel
#: Linke turbidity from (dayofyear [d], breite [°], RH [%])
LinkeTruebung: np.ufunc = _ufunc.LinkeTruebung
#: relative optical air mass from (zenitwinkel [°]); 999.0 outside 0–91°
RelOptLuftmasse: np.ufunc = _ufunc.RelOptLuftmasse
#: clear-sky direct radiation [W/m²] from (dayofyear [d], mHoehe [m], zenitwinkel [°],
#: LinkeTr, RelOptLuftM); 0.0 for the sun at or below the horizon
MaxDirekteStrahlung: np.ufunc = _ufunc.MaxDirekteStrahlung
#: clear-sky global radiation [W/m²] from (dayofyear [d], mHoehe [m], zenitwinkel [°],
#: LinkeTr); 0.0 for the sun at or below the horizon
MaxGlobalstrahlung: np.ufunc = _ufunc.MaxGlobalstrahlung
#: direct radiation under cloud [W/m²] from (Imax [W/m²], N [octas])
DirStrMBew: np.ufunc = _ufunc.DirStrMBew
#: counter-radiation of the sky [W/m²] from (LuftTemp [°C], Dampfdruck [hPa], N [octas])
AtmosGegenstr: np.ufunc = _ufunc.AtmosGegenstr
#: surface temperature [°C] from (Strahlungsbilanz [W/m²], LuftTemp [°C],
#: WindGeschw [m/s], Bowen)
OberflTemp: np.ufunc = _ufunc.OberflTemp
#: mean radiant temperature [°C] from (zenitwinkel [°], EStrOben, EStrUnten,
#: AGegenstr, DiffStr, MaxDirStr [W/m²], albedo)
MittlStrTemp: np.ufunc = _ufunc.MittlStrTemp
