"""The Universal Thermal Climate Index (UTCI) and its assessment scale, the
wet-bulb globe temperature (WBGT), the indices weather services publish and
the physiologically equivalent temperature (PET).

``utci(air_temperature, mean_radiant_temperature, wind_speed, vapour_pressure)``
is the UTCI [°C] from the air temperature Ta [°C], the mean radiant
temperature Tmrt [°C], the wind speed va [m/s] at 10 m and the water vapour
pressure [hPa]: the operational 6th-order polynomial of Bröde et al. (2012,
Int J Biometeorol 56:481–494), 210 terms in Ta, D = Tmrt − Ta, va and
pa [kPa], with the coefficients of the authors' Fortran code.

Validity domain, bounds included: −50 ≤ Ta ≤ 50 °C, −30 ≤ Tmrt − Ta ≤ 70 K,
0.5 ≤ va ≤ 17 m/s, 0 ≤ vapour pressure ≤ 50 hPa. An element outside it is
NaN, quietly (no floating-point warning); a NaN input gives NaN. Inputs are
not clipped.

``utci_category(utci)`` is the assessment scale as int8 codes, −1
(``UTCI_CATEGORY_FILL``) for NaN; code k covers ``UTCI_CATEGORY_BOUNDS[k-1]
< UTCI <= UTCI_CATEGORY_BOUNDS[k]``: each bound belongs to the class below
it, as pythermalcomfort bins the scale (−40 is extreme cold stress, 9 slight
cold stress, 26 no thermal stress, 46 very strong heat stress).

Both are :class:`numpy.ufunc` objects with one float64 loop (float32 and
integer inputs are cast): broadcasting, ``out=`` and ``where=`` work; xarray
``DataArray`` and dask arrays pass through NumPy's ufunc protocol (dask
stays lazy). The UTCI loop runs without the GIL, vectorised for the
instruction set in force (``QUARNEL_ISA``, the same bits at every level),
and splits large arrays over the cores.

``standing_person(sun_zenith, longwave, scattered, beam, absorption)`` is
the mean radiant temperature [°C] of a standing person in the sun and in
shade, two outputs, from the sun's zenith angle [°], the long-wave
radiation the person receives [W/m²], the scattered short-wave radiation
[W/m²], the direct normal beam [W/m²] and the absorption [1], (1 − the
person's albedo) / 0.97 (the person's long-wave emissivity). With the
elevation γ = 90 − zenith [°] and the projection factor f_p = 0.308
cos(γ (0.998 − γ²/50000)) of Jendritzky et al. (1990, VDI 3787-2):
in the sun ((longwave + absorption (scattered + f_p beam)) / σ)^¼ − 273.15,
σ = 5.67e-8 W m⁻² K⁻⁴; in shade the same without the beam. NaN in any
input, and a negative sum, give NaN, quietly. Same ufunc protocol and
levels as the UTCI; dask arrays, bare or in DataArrays, need
``xarray.apply_ufunc`` (dask's protocol knows no other ufunc of two
outputs than NumPy's).

``wbgt(air_temperature, vapour_pressure, pressure, wind_speed,
global_radiation, direct_fraction, cos_zenith)`` is the wet-bulb globe
temperature outdoors with its two instruments, three outputs ``(wbgt,
globe_temperature, natural_wet_bulb)`` [°C], from the air temperature [°C],
the water vapour pressure [hPa], the air pressure [hPa], the wind speed at
2 m [m/s], the global radiation on the horizontal [W/m²], its direct share
[1] and the cosine of the sun's zenith angle [1]: Liljegren et al. (2008,
J Occup Environ Hyg 5:645–655), the 50.8 mm black globe and the natural
wet bulb each from its energy balance, solved to the root, and WBGT =
0.7 Tnwb + 0.2 Tg + 0.1 Ta (ISO 7243). Domain: −40 ≤ Ta ≤ 60 °C; vapour
pressure from 0 to 1.05 times saturation (Buck 1981, the authors'
formula; above saturation counts as saturated); 300–1100 hPa; wind
0–50 m/s (below 0.13 m/s counts as 0.13, as in the authors' code);
global radiation up to 2000 W/m² (below 0 counts as 0); direct share
0–1; −1 ≤ cos z ≤ 1, with no direct beam below cos z = 0.00873 (89.5°).

``heat_index(air_temperature, relative_humidity)`` [°C] from °C and [%]: the
US National Weather Service procedure (Steadman's simple form, Rothfusz's
regression where the mean of that and T reaches 80 °F, and its two
adjustments); 0 ≤ RH ≤ 100 %. ``humidex(air_temperature, dew_point)`` [°C]
from °C (Masterton & Richardson 1979). ``apparent_temperature(
air_temperature, vapour_pressure, wind_speed)`` [°C] from °C, hPa and m/s
at 10 m: Steadman (1994) in shade, Ta + 0.33 e − 0.70 v − 4.00; e, v ≥ 0.
``wind_chill(air_temperature, wind_speed)`` [°C] from °C and m/s at 10 m
(JAG/TI 2001), NaN above 10 °C and below 4.8 km/h.

The indices are ufuncs like the UTCI: NaN outside each domain and for a
NaN input, quietly; the same bits at every instruction-set level; large
arrays split over the cores. ``wbgt`` has three outputs: dask arrays need
``xarray.apply_ufunc``, as for ``standing_person``.

``UTCI_CATEGORIES``, ``UTCI_FLAG_VALUES``, ``UTCI_FLAG_MEANINGS`` and
``UTCI_CATEGORY_FILL`` are the CF attributes of a category variable
(``flag_values``, ``flag_meanings``, ``_FillValue``).

``pet(air_temperature, mean_radiant_temperature, wind_speed,
vapour_pressure)`` is the PET [°C] from Ta [°C], Tmrt [°C], the wind speed
[m/s] at the person's height (1.1 m) and the water vapour pressure [hPa]:
Höppe's MEMI as the VDI 3787 program computes it (Höppe 1999, Int J
Biometeorol 43:71–75; VDI 3787-2, 2008), for the standard person of VDI
3787-2 (35 years, male, 1.75 m, 75 kg, 80 W of activity, 0.9 clo,
standing). ``pet_corrected`` (same arguments) is the corrected model of
Walther & Goestchel (2018, Build Environ 137:1–10), the one pythermalcomfort
computes. Every equation is solved inside a bracket of its root: each
element of the domain converges. Domain, bounds included: −50 ≤ Ta ≤ 60 °C,
−50 ≤ Tmrt − Ta ≤ 90 K, 0 ≤ v ≤ 30 m/s, 0 ≤ vapour pressure ≤ 1.1 times the
saturation pressure at Ta (6.11·10^(7.45 Ta / (235 + Ta)) hPa); NaN outside
and for NaN inputs, quietly. Another person: ``pet_person`` and
``pet_corrected_person`` take six further inputs, the person's age
[years], sex (1 male, 2 female), height [m], mass [kg], activity [W] on top
of the basal metabolism and clothing [clo], broadcast like the others
(``pet_person(ta, tmrt, v, e, 60, 2, 1.62, 58, 80, 0.6)``); a person
outside 5–100 years, 1–2.3 m, 20–250 kg, 0–800 W, 0.1–2 clo gives NaN. The
four follow the UTCI's ufunc protocol and split large arrays over the
cores; their results do not depend on ``QUARNEL_ISA``. See PET in
docs/reference.md for the models, their differences and the solvers.
"""

from __future__ import annotations

from typing import Final

import numpy as np
import numpy.typing as npt

from quarnel import _kernels

__all__ = [
    "utci", "utci_category", "standing_person", "wbgt", "heat_index", "humidex", "apparent_temperature",
    "wind_chill", "pet", "pet_corrected", "pet_person", "pet_corrected_person", "UTCI_CATEGORIES",
    "UTCI_CATEGORY_BOUNDS", "UTCI_FLAG_VALUES", "UTCI_FLAG_MEANINGS", "UTCI_CATEGORY_FILL",
]

#: UTCI [°C] from (air_temperature [°C], mean_radiant_temperature [°C],
#: wind_speed [m/s at 10 m], vapour_pressure [hPa]); NaN outside the domain
utci: np.ufunc = _kernels.utci
#: assessment-scale code (int8, 0–9; −1 for NaN) from (utci [°C])
utci_category: np.ufunc = _kernels.utci_category
#: (tmrt_sun [°C], tmrt_shade [°C]) from (sun_zenith [°], longwave [W/m²],
#: scattered [W/m²], beam [W/m²], absorption [1])
standing_person: np.ufunc = _kernels.standing_person
#: (wbgt [°C], globe_temperature [°C], natural_wet_bulb [°C]) from
#: (air_temperature [°C], vapour_pressure [hPa], pressure [hPa], wind_speed
#: [m/s at 2 m], global_radiation [W/m²], direct_fraction [1], cos_zenith [1])
wbgt: np.ufunc = _kernels.wbgt
#: heat index [°C] from (air_temperature [°C], relative_humidity [%])
heat_index: np.ufunc = _kernels.heat_index
#: humidex [°C] from (air_temperature [°C], dew_point [°C])
humidex: np.ufunc = _kernels.humidex
#: apparent temperature [°C] from (air_temperature [°C], vapour_pressure
#: [hPa], wind_speed [m/s at 10 m])
apparent_temperature: np.ufunc = _kernels.apparent_temperature
#: wind chill index [°C] from (air_temperature [°C], wind_speed [m/s at 10 m])
wind_chill: np.ufunc = _kernels.wind_chill
#: PET [°C] of the standard person, VDI 3787 program, from (air_temperature
#: [°C], mean_radiant_temperature [°C], wind_speed [m/s at 1.1 m],
#: vapour_pressure [hPa]); NaN outside the domain
pet: np.ufunc = _kernels.pet
#: PET [°C] of the standard person, Walther & Goestchel (2018), same inputs
pet_corrected: np.ufunc = _kernels.pet_corrected
#: PET [°C], VDI 3787 program, from the four inputs of ``pet`` and (age
#: [years], sex [1 male, 2 female], height [m], mass [kg], activity [W],
#: clothing [clo])
pet_person: np.ufunc = _kernels.pet_person
#: PET [°C], Walther & Goestchel (2018), inputs of ``pet_person``
pet_corrected_person: np.ufunc = _kernels.pet_corrected_person

#: the classes of the assessment scale, in code order
UTCI_CATEGORIES: Final[tuple[str, ...]] = (
    "extreme cold stress",
    "very strong cold stress",
    "strong cold stress",
    "moderate cold stress",
    "slight cold stress",
    "no thermal stress",
    "moderate heat stress",
    "strong heat stress",
    "very strong heat stress",
    "extreme heat stress",
)
#: upper bounds [°C] of codes 0–8, each included in its class
UTCI_CATEGORY_BOUNDS: Final[tuple[float, ...]] = (-40.0, -27.0, -13.0, 0.0, 9.0, 26.0, 32.0, 38.0, 46.0)

_flags = np.arange(len(UTCI_CATEGORIES), dtype=np.int8)
_flags.flags.writeable = False
#: CF ``flag_values``: the codes 0–9 (read-only)
UTCI_FLAG_VALUES: Final[npt.NDArray[np.int8]] = _flags
#: CF ``flag_meanings``: the class names with underscores, space-separated
UTCI_FLAG_MEANINGS: Final[str] = " ".join(name.replace(" ", "_") for name in UTCI_CATEGORIES)
#: the code of a NaN UTCI (CF ``_FillValue``)
UTCI_CATEGORY_FILL: Final = -1
