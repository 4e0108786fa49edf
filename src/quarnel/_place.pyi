from typing import Any

import numpy as np
import numpy.typing as npt

_Array = npt.NDArray[np.floating[Any]]

def sky(dsm: npt.ArrayLike, pixel_size: float, directions: int, halves: bool, angles: bool, max_distance: float,
        centre_row: float, centre_col: float, /) -> tuple[
    _Array, tuple[_Array, _Array, _Array, _Array] | None, _Array | None]: ...
def shadow(dsm: npt.ArrayLike, pixel_size: float, azimuth: float, elevation: float,
           wall_height: npt.ArrayLike | None, wall_aspect: npt.ArrayLike | None, max_distance: float,
           centre_row: float, centre_col: float, /) -> tuple[
    _Array, _Array | None]: ...

isa: str
def ground(dsm: npt.ArrayLike, sunlit: npt.ArrayLike, pixel_size: float, height: float, near: float,
           reach: float, stride: int, step: float, /) -> _Array: ...
def wall_views(lit_share: npt.ArrayLike, aspect: npt.ArrayLike, pixel_size: float, max_distance: float, /
               ) -> tuple[_Array, _Array, _Array, _Array]: ...
