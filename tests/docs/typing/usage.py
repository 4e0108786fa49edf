"""Typed use of quarnel.Strahlwerk: checked by mypy --strict in
tests/test_typing.py. Every reveal here is an expectation on the stub."""

from typing import Any, Literal, assert_type

import numpy as np
import numpy.typing as npt

import quarnel.Strahlwerk as S

hours: npt.NDArray[np.float64] = np.linspace(0.0, 23.0, 24)
days: npt.NDArray[np.int64] = np.arange(1, 366, dtype=np.int64)
latitudes: npt.NDArray[np.float64] = np.array([40.0, 50.0])

szeit = S.Sonnenzeit(10.5, 1, 7.1, 172)
assert_type(szeit, np.float64)
assert_type(S.Sonnenzeit(np.float32(10.5), 1, 7.1, 172), np.floating[Any])

zenith = S.Zenitwinkel(szeit, 50.9, 172)
assert_type(zenith, np.float64)
assert_type(S.Zenitwinkel(hours, 50.9, 172), npt.NDArray[np.floating[Any]])
assert_type(S.Azimutwinkel(szeit, 50.9, 172), np.float64)
assert_type(S.Azimutwinkel(9, latitudes, 1), npt.NDArray[np.floating[Any]])

linke = S.LinkeTruebung(172, 50.9, 60)
assert_type(linke, float)
assert_type(S.LinkeTruebung(days, 50.9, 60), npt.NDArray[np.floating[Any]] | float)

airmass = S.RelOptLuftmasse(zenith)
assert_type(airmass, np.float64 | Literal[999])
direct = S.MaxDirekteStrahlung(172, 120, zenith, linke, airmass)
assert_type(direct, np.float64 | Literal[0])
assert_type(S.MaxDirekteStrahlung(days, 120, 30.0, linke, 1.15), npt.NDArray[np.floating[Any]] | Literal[0])
glob = S.MaxGlobalstrahlung(172, 120, zenith, linke)
assert_type(glob, np.float64 | Literal[0])

cloudy = S.DirStrMBew(direct, 3)
assert_type(cloudy, float)
sky = S.AtmosGegenstr(21.0, 14.5, 3)
assert_type(sky, np.float64)
assert_type(S.AtmosGegenstr(hours, 14.5, 3), npt.NDArray[np.floating[Any]])
surface = S.OberflTemp(350.0, 21.0, 2.5, 0.8)
assert_type(surface, float)

tmrt = S.MittlStrTemp(zenith, 180.0, 210.0, sky, 90.0, cloudy, None, 0.3, None)
assert_type(tmrt, np.float64)
assert_type(
    S.MittlStrTemp(hours, 180.0, 210.0, sky, 90.0, cloudy, None, 0.3, None),
    npt.NDArray[np.floating[Any]],
)



def refused() -> None:
    """Scalar-only arguments refuse arrays (not run: they raise)."""
    S.Sonnenzeit(hours, 1, 7.1, 172)  # type: ignore[call-overload]
    S.RelOptLuftmasse(hours)  # type: ignore[call-overload]
    S.MaxGlobalstrahlung(172, 120, hours, linke)  # type: ignore[call-overload]
