"""Zenith and azimuth angle: the values that pin the formulas down, arrays,
failures and their traceback entries, and both evaluation paths against the
transcription."""

import gc
import math
import sys
import traceback

import numpy as np
import pytest
from hypothesis import given, strategies as st
from hypothesis.extra import numpy as hnp

from support import oracle
import quarnel.Strahlwerk as S
from support.helpers_np import RecordingNumpy, module_np
from support import as_one_element_array, assert_same_outcome, native_scalars, odd_numbers

AZIMUT, WINKEL = "quarnel.Strahlwerk.Azimutwinkel", "quarnel.Strahlwerk.Azimutwinkel.Winkel"
DECLINATION = ("np.degrees(np.arcsin(0.3978*np.sin(np.radians(0.9856*dayofyear-2.72-77.51"
               "+1.92*np.sin(np.radians(0.9856*dayofyear-2.72))))))")


def failure(fn, *args):
    with pytest.raises(Exception) as info:
        fn(*args)
    tb = [(f.name, f.lineno) for f in traceback.extract_tb(info.value.__traceback__)
          if f.name.startswith("quarnel.")]
    return type(info.value), str(info.value), tb


def test_documentation_and_locals():
    assert S.Zenitwinkel.__doc__ == ("\n    def deklin(dayofyear):\n        Result = " + DECLINATION
                                     + "\n        return Result\n    delta = deklin(dayofyear)\n    ")
    assert S.Azimutwinkel.__doc__ == ("\n    def deklin(dayofyear):\n        Result=" + DECLINATION
                                      + "\n        return Result\n    ")
    assert (len(S.Zenitwinkel.__doc__), len(S.Azimutwinkel.__doc__)) == (226, 194)
    assert S.Zenitwinkel.__code__.co_varnames[3:] == (
        "delta", "sinBr", "cosBr", "sinD", "cosD", "s", "Result")
    assert S.Azimutwinkel.__code__.co_varnames[3:] == (
        "Winkel", "Winkel", "delta", "sinBr", "cosBr", "sinD", "cosD", "sinSz", "cosSz", "sy",
        "sz", "Result")


@pytest.mark.parametrize("fn,args,want,tol", [
    (S.Zenitwinkel, (12, 50, 172), 26.5596, 1e-4),    # |breite - delta| at noon
    (S.Zenitwinkel, (0, 50, 172), 106.5596, 1e-4),    # 180 - (breite + delta) at midnight
    (S.Zenitwinkel, (12, 90, 172), 66.5596, 1e-4),    # pole: cos(90 deg) is not 0
    (S.Azimutwinkel, (12, 50, 172), 180.0, 1e-9),
    (S.Azimutwinkel, (6, 50, 80), 89.88, 5e-3),
    (S.Azimutwinkel, (18, 50, 80), 270.12, 5e-3),
    (S.Azimutwinkel, (9, 50, 1), 139.04, 5e-3),
    # Exact: the zero leg at midnight, -0.0 included, and a NaN sz failing >= 0.
    (S.Azimutwinkel, (0, 50, 172), 0.0, 0),
    (S.Azimutwinkel, (-0.0, 50, 172), 0.0, 0),
    (S.Azimutwinkel, (0, -80, 355), 180.0, 0),
    (S.Azimutwinkel, (0.0, math.nan, 172), 180.0, 0),
])
def test_documented_values(fn, args, want, tol):
    got = fn(*args)
    assert type(got) is np.float64 and abs(got - want) <= tol and math.copysign(1, got) == 1


def test_azimuth_near_the_ends_of_the_circle_and_nan():
    assert 0 < S.Azimutwinkel(12, 10, 172) < 1e-12    # sin(pi) is not 0 in binary64
    assert S.Azimutwinkel(24, 50, 172) > 359.999999   # sin(2 pi) < 0: about 360, not 0
    assert math.isnan(S.Azimutwinkel(math.nan, 50, 172))  # NaN leg takes the third branch


def test_zenith_arrays_and_lists():
    got = S.Zenitwinkel(np.array([[0.0], [12.0]]), [50, 90], 172)
    assert got.shape == (2, 2)
    assert got.tolist() == [[S.Zenitwinkel(h, b, 172) for b in (50, 90)] for h in (0.0, 12.0)]
    for args in [([0, 12], 50, 172), (12, 50, [172, 173])]:
        assert failure(S.Zenitwinkel, *args)[0] is TypeError
    assert failure(S.Zenitwinkel, np.zeros(2), np.zeros(3), 172)[0] is ValueError


def test_azimuth_arrays():
    assert S.Azimutwinkel(10, np.array([50, 10]), 172).tolist() == [
        S.Azimutwinkel(10, 50, 172), S.Azimutwinkel(10, 10, 172)]
    lines = []
    for args in [(np.array([9.0, 10.0]), 50, 172), (10, 50, np.array([172, 173])),
                 (0, np.array([50, 10]), 172)]:
        kind, message, [(outer, outer_line), (inner, line)] = failure(S.Azimutwinkel, *args)
        assert kind is ValueError and "truth value of an array" in message
        assert (outer, inner) == (AZIMUT, WINKEL) and 47 < outer_line <= 79 and 53 < line <= 65
        lines.append(line)
    # szeit and dayofyear fail at the test of Gegenkathete; breite at midnight at Ankathete's.
    assert lines[0] == lines[1] < lines[2]


@pytest.mark.parametrize("fn,first,last", [(S.Zenitwinkel, 31, 46), (S.Azimutwinkel, 47, 79)])
def test_non_numbers_fail_where_first_used(fn, first, last):
    lines = []
    for i in range(3):
        args = [12.5, 50, 172]
        args[i] = "x"
        kind, _, [(name, line)] = failure(fn, *args)
        assert kind is TypeError and name == "quarnel.Strahlwerk." + fn.__name__
        assert first < line <= last
        lines.append(line)
    assert lines[2] < lines[1] < lines[0]  # dayofyear, then breite, then szeit


def test_calls_keep_no_references():
    calls = [(S.Zenitwinkel, (12.5, 50, 172)), (S.Zenitwinkel, ([0.0, 12.0], [50, 10], 172)),
             (S.Zenitwinkel, (12.5, 50, "x")), (S.Azimutwinkel, (9, 50.0, 1)),
             (S.Azimutwinkel, (np.array([9.0]), 50, 1)), (S.Azimutwinkel, (0, -80, [355])),
             (S.Azimutwinkel, (np.zeros(2), 50, 1)), (S.Azimutwinkel, (9, "x", 1))]

    def run(n):
        for _ in range(n):
            for fn, args in calls:
                try:
                    fn(*args)
                except Exception:  # noqa: BLE001
                    pass

    run(1000)
    gc.collect()
    before = sys.getallocatedblocks()
    run(10000)
    gc.collect()
    assert sys.getallocatedblocks() - before < 50


@pytest.mark.parametrize("name,args", [
    ("Zenitwinkel", (12.5, 50, 172)), ("Zenitwinkel", (12.5, 50, "x")),
    ("Zenitwinkel", ("x", 50, 172)), ("Azimutwinkel", ("x", 50, 1)),
    ("Azimutwinkel", (0, 50, 172)), ("Azimutwinkel", (0, -80, 355)),  # zero leg, both signs
    ("Azimutwinkel", (9, 50, 1)), ("Azimutwinkel", (15, 50, 1)),      # positive, negative leg
    ("Azimutwinkel", (np.zeros(2), 50, 1)),
])
def test_np_lookups_match_the_transcription(name, args):
    mine, ref = RecordingNumpy(), RecordingNumpy()
    with module_np(mine), oracle.use_np(ref):
        assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)
    assert mine.asked == ref.asked
    # The declination's outer functions come before its argument, for each sine.
    start = ["degrees", "arcsin", "sin", "radians", "sin", "radians"]
    assert mine.asked[:6] == start[: len(mine.asked)]


days = st.one_of(st.integers(-400, 800), st.floats(-1e6, 1e6))
hours = st.one_of(st.integers(-30, 54), st.floats(-100, 100),
                  st.sampled_from([0, 0.0, -0.0, 6, 12, 18, 24]))
odd = st.one_of(native_scalars(), odd_numbers,
                st.sampled_from([None, "12", [1.0], [50, 10], np.zeros(2)]))


@pytest.mark.parametrize("name", ["Zenitwinkel", "Azimutwinkel"])
@given(args=st.one_of(st.tuples(native_scalars(), native_scalars(), native_scalars()),
                      st.tuples(hours, native_scalars(-100, 100), days)),
       wrapped=st.sampled_from([None, 0, 1, 2]))
def test_plausible_arguments_match_transcription(name, args, wrapped):
    """Native path as given; generic path with one argument in a one-element array."""
    args = list(args)
    if wrapped is not None:
        args[wrapped] = as_one_element_array(args[wrapped])
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


@pytest.mark.parametrize("name", ["Zenitwinkel", "Azimutwinkel"])
@given(args=st.tuples(odd, odd, odd))
def test_any_arguments_match_transcription(name, args):
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


@given(st.data())
def test_arrays_match_transcription(data):
    shapes = data.draw(hnp.mutually_broadcastable_shapes(num_shapes=3, max_dims=3, max_side=3))
    args = [data.draw(hnp.arrays(np.float64, shape, elements=st.floats(-400, 400)))
            for shape in shapes.input_shapes]
    assert_same_outcome(S.Zenitwinkel, oracle.Zenitwinkel, *args)
    args[0], args[2] = data.draw(hours), data.draw(days)
    assert_same_outcome(S.Azimutwinkel, oracle.Azimutwinkel, *args)
