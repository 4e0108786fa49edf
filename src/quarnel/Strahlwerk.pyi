"""Type information for the extension module quarnel.Strahlwerk.

Argument kinds:

* ``_Number``: a Python int or float (``bool`` too, as everywhere in
  Python's numeric tower) or a NumPy number. Python numbers and
  ``numpy.float64`` give ``numpy.float64`` (or ``float``) results; other
  NumPy scalars keep their precision (``numpy.float32`` in, ``numpy.float32``
  out), hence the broader ``numpy.floating`` in the second overloads.
* Element-wise arguments also take NumPy arrays (the result is an array of
  the broadcast shape) and duck arrays that implement ``__array_ufunc__``,
  such as xarray ``DataArray`` and dask arrays (the result is of their kind
  and is typed ``Any``).
* Scalar-only arguments decide a branch. At run time they also take a
  one-element array; the types admit numbers only.

Markers: ``RelOptLuftmasse`` gives the int 999 outside 0 to 91 degrees,
``MaxDirekteStrahlung`` and ``MaxGlobalstrahlung`` the int 0 with the sun at
or below the horizon; the result types say so with ``Literal``.
"""

from typing import Any, Literal, Protocol, TypeAlias, overload

import numpy
import numpy.typing as npt

class _DuckArray(Protocol):
    def __array_ufunc__(self, ufunc: Any, method: Any, /, *inputs: Any, **kwargs: Any) -> Any: ...

_Number: TypeAlias = float | numpy.floating[Any] | numpy.integer[Any]
_Array: TypeAlias = npt.NDArray[numpy.floating[Any]] | npt.NDArray[numpy.integer[Any]]
_ArrayLike: TypeAlias = _Number | _Array
_Duck: TypeAlias = _Number | _Array | _DuckArray
_Float: TypeAlias = float | numpy.floating[Any]
_FloatArray: TypeAlias = npt.NDArray[numpy.floating[Any]]

# The numpy module: every function looks it up here at call time.
np = numpy
__test__: dict[str, Any]

# Overloads run from the narrowest arguments to the widest: Python numbers,
# NumPy numbers, NumPy arrays, duck arrays. The array overloads also accept
# numbers, so mypy reports the earlier ones as overlapping with a different
# result type; the first match is the one meant, hence the ignores.

# Solar geometry

@overload
def Sonnenzeit(szeit: float, zeitzone: float, laenge: float, dayofyear: float) -> numpy.float64: ...
@overload
def Sonnenzeit(szeit: _Number, zeitzone: _Number, laenge: _Number, dayofyear: _Number) -> numpy.floating[Any]: ...
@overload
def Zenitwinkel(szeit: float, breite: float, dayofyear: float) -> numpy.float64: ...  # type: ignore[overload-overlap]
@overload
def Zenitwinkel(szeit: _Number, breite: _Number, dayofyear: _Number) -> numpy.floating[Any]: ...  # type: ignore[overload-overlap]
@overload
def Zenitwinkel(
    szeit: _ArrayLike, breite: _ArrayLike, dayofyear: _ArrayLike
) -> _FloatArray: ...
@overload
def Zenitwinkel(szeit: _Duck, breite: _Duck, dayofyear: _Duck) -> Any: ...
@overload
def Azimutwinkel(szeit: float, breite: float, dayofyear: float) -> numpy.float64: ...  # type: ignore[overload-overlap]
@overload
def Azimutwinkel(szeit: _Number, breite: _Number, dayofyear: _Number) -> numpy.floating[Any]: ...  # type: ignore[overload-overlap]
@overload
def Azimutwinkel(
    szeit: _Number, breite: _ArrayLike, dayofyear: _Number
) -> _FloatArray: ...
@overload
def Azimutwinkel(szeit: _Number, breite: _Duck, dayofyear: _Number) -> Any: ...

# Clear-sky radiation

@overload
def LinkeTruebung(dayofyear: float, breite: float, RH: float) -> float: ...
@overload
def LinkeTruebung(dayofyear: _Number, breite: _Number, RH: _Number) -> _Float: ...  # type: ignore[overload-overlap]
@overload
def LinkeTruebung(
    dayofyear: _ArrayLike, breite: _Number, RH: _Number
) -> _FloatArray | float: ...
@overload
def LinkeTruebung(dayofyear: _Duck, breite: _Number, RH: _Number) -> Any: ...
@overload
def RelOptLuftmasse(zenitwinkel: float) -> numpy.float64 | Literal[999]: ...
@overload
def RelOptLuftmasse(zenitwinkel: _Number) -> numpy.floating[Any] | Literal[999]: ...
@overload
def MaxDirekteStrahlung(  # type: ignore[overload-overlap]
    dayofyear: float, mHoehe: float, zenitwinkel: float, LinkeTr: float, RelOptLuftM: float
) -> numpy.float64 | Literal[0]: ...
@overload
def MaxDirekteStrahlung(  # type: ignore[overload-overlap]
    dayofyear: _Number, mHoehe: _Number, zenitwinkel: _Number, LinkeTr: _Number, RelOptLuftM: _Number
) -> numpy.floating[Any] | Literal[0]: ...
@overload
def MaxDirekteStrahlung(
    dayofyear: _ArrayLike, mHoehe: _ArrayLike, zenitwinkel: _Number, LinkeTr: _ArrayLike, RelOptLuftM: _ArrayLike
) -> _FloatArray | Literal[0]: ...
@overload
def MaxDirekteStrahlung(
    dayofyear: _Duck, mHoehe: _Duck, zenitwinkel: _Number, LinkeTr: _Duck, RelOptLuftM: _Duck
) -> Any: ...
@overload
def MaxGlobalstrahlung(dayofyear: float, mHoehe: float, zenitwinkel: float, LinkeTr: float) -> numpy.float64 | Literal[0]: ...  # type: ignore[overload-overlap]
@overload
def MaxGlobalstrahlung(  # type: ignore[overload-overlap]
    dayofyear: _Number, mHoehe: _Number, zenitwinkel: _Number, LinkeTr: _Number
) -> numpy.floating[Any] | Literal[0]: ...
@overload
def MaxGlobalstrahlung(
    dayofyear: _ArrayLike, mHoehe: _ArrayLike, zenitwinkel: _Number, LinkeTr: _ArrayLike
) -> _FloatArray | Literal[0]: ...
@overload
def MaxGlobalstrahlung(dayofyear: _Duck, mHoehe: _Duck, zenitwinkel: _Number, LinkeTr: _Duck) -> Any: ...

# Radiation budget

@overload
def DirStrMBew(Imax: float, N: float) -> float: ...  # type: ignore[overload-overlap]
@overload
def DirStrMBew(Imax: _Number, N: _Number) -> _Float: ...  # type: ignore[overload-overlap]
@overload
def DirStrMBew(Imax: _ArrayLike, N: _ArrayLike) -> _FloatArray: ...
@overload
def DirStrMBew(Imax: _Duck, N: _Duck) -> Any: ...
@overload
def AtmosGegenstr(LuftTemp: float, Dampfdruck: float, N: float) -> numpy.float64: ...  # type: ignore[overload-overlap]
@overload
def AtmosGegenstr(LuftTemp: _Number, Dampfdruck: _Number, N: _Number) -> numpy.floating[Any]: ...  # type: ignore[overload-overlap]
@overload
def AtmosGegenstr(
    LuftTemp: _ArrayLike, Dampfdruck: _ArrayLike, N: _ArrayLike
) -> _FloatArray: ...
@overload
def AtmosGegenstr(LuftTemp: _Duck, Dampfdruck: _Duck, N: _Duck) -> Any: ...

# A Bowen ratio of zero returns LuftTemp itself, whatever its type.
@overload
def OberflTemp(Strahlungsbilanz: float, LuftTemp: float, WindGeschw: float, Bowen: float) -> float: ...
@overload
def OberflTemp(
    Strahlungsbilanz: _Number, LuftTemp: _Number, WindGeschw: _Number, Bowen: _Number
) -> _Float | numpy.integer[Any]: ...
@overload
def OberflTemp(
    Strahlungsbilanz: _Number, LuftTemp: _ArrayLike, WindGeschw: _ArrayLike, Bowen: _Number
) -> _FloatArray | _Number: ...
@overload
def OberflTemp(Strahlungsbilanz: _Number, LuftTemp: _Duck, WindGeschw: _Duck, Bowen: _Number) -> Any: ...

# ReflStr and albedo_env are accepted and not used.
@overload
def MittlStrTemp(  # type: ignore[overload-overlap]
    zenitwinkel: float,
    EStrOben: float,
    EStrUnten: float,
    AGegenstr: float,
    DiffStr: float,
    MaxDirStr: float,
    ReflStr: object,
    albedo: float,
    albedo_env: object,
) -> numpy.float64: ...
@overload
def MittlStrTemp(  # type: ignore[overload-overlap]
    zenitwinkel: _Number,
    EStrOben: _Number,
    EStrUnten: _Number,
    AGegenstr: _Number,
    DiffStr: _Number,
    MaxDirStr: _Number,
    ReflStr: object,
    albedo: _Number,
    albedo_env: object,
) -> numpy.floating[Any]: ...
@overload
def MittlStrTemp(
    zenitwinkel: _ArrayLike,
    EStrOben: _ArrayLike,
    EStrUnten: _ArrayLike,
    AGegenstr: _ArrayLike,
    DiffStr: _ArrayLike,
    MaxDirStr: _ArrayLike,
    ReflStr: object,
    albedo: _ArrayLike,
    albedo_env: object,
) -> _FloatArray: ...
@overload
def MittlStrTemp(
    zenitwinkel: _Duck,
    EStrOben: _Duck,
    EStrUnten: _Duck,
    AGegenstr: _Duck,
    DiffStr: _Duck,
    MaxDirStr: _Duck,
    ReflStr: object,
    albedo: _Duck,
    albedo_env: object,
) -> Any: ...
