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

import oracle
import quarnel.Strahlwerk as S
from helpers_np import RecordingNumpy, module_np
from support import (as_one_element_array, assert_same_outcome, native_scalars, odd_numbers,
                     same_value)

ZENIT = "quarnel.Strahlwerk.Zenitwinkel"
AZIMUT = "quarnel.Strahlwerk.Azimutwinkel"
WINKEL = "quarnel.Strahlwerk.Azimutwinkel.Winkel"
DECLINATION = ("np.degrees(np.arcsin(0.3978*np.sin(np.radians(0.9856*dayofyear-2.72-77.51"
               "+1.92*np.sin(np.radians(0.9856*dayofyear-2.72))))))")


def entries(exc):
    return [(f.name, f.lineno) for f in traceback.extract_tb(exc.__traceback__)
            if f.name.startswith("quarnel.")]


def raised(fn, *args):
    with pytest.raises(Exception) as info:
        fn(*args)
    return info.value


# --- function objects ---------------------------------------------------

def test_documentation_strings():
    assert S.Zenitwinkel.__doc__ == (
        "\n    def deklin(dayofyear):\n        Result = " + DECLINATION
        + "\n        return Result\n    delta = deklin(dayofyear)\n    ")
    assert S.Azimutwinkel.__doc__ == (
        "\n    def deklin(dayofyear):\n        Result=" + DECLINATION
        + "\n        return Result\n    ")
    assert len(S.Zenitwinkel.__doc__) == 226 and len(S.Azimutwinkel.__doc__) == 194


def test_locals():
    assert S.Zenitwinkel.__code__.co_varnames == (
        "szeit", "breite", "dayofyear", "delta", "sinBr", "cosBr", "sinD", "cosD", "s", "Result")
    assert S.Azimutwinkel.__code__.co_varnames == (
        "szeit", "breite", "dayofyear", "Winkel", "Winkel", "delta", "sinBr", "cosBr", "sinD",
        "cosD", "sinSz", "cosSz", "sy", "sz", "Result")


# --- documented values --------------------------------------------------

@pytest.mark.parametrize("args,want", [
    ((12, 50, 172), 26.5596),   # |breite - delta| at noon
    ((0, 50, 172), 106.5596),   # 180 - (breite + delta) at midnight
    ((12, 90, 172), 66.5596),   # pole: 90 - delta
    ((12, 0, 81), 0.5868),      # equator near the equinox: |delta|
    ((12, 0, 266), 0.0207),
])
def test_zenith_values(args, want):
    got = S.Zenitwinkel(*args)
    assert type(got) is np.float64 and got == pytest.approx(want, abs=1e-4)


def test_zenith_declination_stays_within_the_obliquity():
    days = np.arange(-400, 800)
    noon_at_equator = S.Zenitwinkel(12, 0, days)
    assert noon_at_equator.shape == days.shape
    assert noon_at_equator.max() < 23.4408 and noon_at_equator.max() > 23.44


@pytest.mark.parametrize("args,want", [
    ((0, 50, 172), 0.0),
    ((-0.0, 50, 172), 0.0),     # Gegenkathete -0.0 still counts as zero
    ((0, -80, 355), 180.0),
    ((0.0, math.nan, 172), 180.0),  # NaN sz fails Ankathete >= 0
])
def test_azimuth_at_midnight_is_exact(args, want):
    got = S.Azimutwinkel(*args)
    assert type(got) is np.float64 and same_value(got, np.float64(want))


@pytest.mark.parametrize("args,want,tol", [
    ((12, 50, 172), 180.0, 1e-9),
    ((6, 50, 80), 89.88, 0.005),
    ((18, 50, 80), 270.12, 0.005),
    ((9, 50, 1), 139.04, 0.005),
])
def test_azimuth_values(args, want, tol):
    got = S.Azimutwinkel(*args)
    assert type(got) is np.float64 and got == pytest.approx(want, abs=tol)


def test_azimuth_near_the_ends_of_the_circle():
    # Noon with the sun north of the zenith: sin(pi) is not 0 in binary64.
    assert 0 < S.Azimutwinkel(12, 10, 172) < 1e-12
    # sin(2 pi) is slightly negative: the third branch, about 360, not 0.
    assert S.Azimutwinkel(24, 50, 172) > 359.999999


def test_int_and_float_arguments_agree():
    for args in [(9, 50, 1), (0, -80, 355), (17, -33, 300)]:
        floats = tuple(float(a) for a in args)
        assert same_value(S.Zenitwinkel(*args), S.Zenitwinkel(*floats))
        assert same_value(S.Azimutwinkel(*args), S.Azimutwinkel(*floats))


def test_nan_arguments():
    for i in range(3):
        args = [12.5, 50, 172]
        args[i] = math.nan
        assert math.isnan(S.Zenitwinkel(*args))
        assert math.isnan(S.Azimutwinkel(*args))


# --- arrays -------------------------------------------------------------

def test_zenith_broadcasts_all_three_arguments():
    szeit = np.array([[0.0], [6.0], [12.0]])
    breite = np.array([-40, 0, 50, 80])
    dayofyear = np.array([1, 100, 200, 300])
    got = S.Zenitwinkel(szeit, breite, dayofyear)
    assert got.shape == (3, 4)
    want = [[S.Zenitwinkel(float(szeit[i, 0]), int(breite[j]), int(dayofyear[j]))
             for j in range(4)] for i in range(3)]
    assert got.tolist() == want
    assert S.Zenitwinkel(np.array([0, 12]), 50, 172) == pytest.approx([106.5596, 26.5596],
                                                                       abs=1e-4)


def test_zenith_lists():
    got = S.Zenitwinkel(12, [50, 90], 172)
    assert isinstance(got, np.ndarray) and got == pytest.approx([26.5596, 66.5596], abs=1e-4)
    for args in [([0, 12], 50, 172), (12, 50, [172, 173])]:
        exc = raised(S.Zenitwinkel, *args)
        assert type(exc) is TypeError and entries(exc)[0][0] == ZENIT


def test_zenith_shapes_that_do_not_broadcast():
    exc = raised(S.Zenitwinkel, np.zeros(2), np.zeros(3), 172)
    assert type(exc) is ValueError and [n for n, _ in entries(exc)] == [ZENIT]


def test_azimuth_is_element_wise_in_latitude():
    breite = np.array([50, 10])
    got = S.Azimutwinkel(10, breite, 172)
    assert got.shape == (2,)
    assert got.tolist() == [S.Azimutwinkel(10, 50, 172), S.Azimutwinkel(10, 10, 172)]
    assert S.Azimutwinkel(np.array([12.0]), 10, 172).shape == (1,)


def test_azimuth_scalar_only_arguments():
    failures = [raised(S.Azimutwinkel, *args) for args in [
        (np.array([9.0, 10.0]), 50, 172),
        (10, 50, np.array([172, 173])),
        (0, np.array([50, 10]), 172),   # at midnight the first leg decides the branch
    ]]
    lines = []
    for exc in failures:
        assert type(exc) is ValueError and "truth value of an array" in str(exc)
        (outer, outer_line), (inner, line) = entries(exc)
        assert (outer, inner) == (AZIMUT, WINKEL)
        assert 47 < outer_line <= 79 and 53 < line <= 65
        lines.append(line)
    # szeit and dayofyear fail at the test of Gegenkathete, breite at that of Ankathete.
    assert lines[0] == lines[1] < lines[2]


# --- failures -----------------------------------------------------------

@pytest.mark.parametrize("fn,name,first,last", [
    (S.Zenitwinkel, ZENIT, 31, 46),
    (S.Azimutwinkel, AZIMUT, 47, 79),
])
def test_non_numbers_fail_where_first_used(fn, name, first, last):
    lines = []
    for i in range(3):
        args = [12.5, 50, 172]
        args[i] = "x"
        exc = raised(fn, *args)
        assert type(exc) is TypeError
        [(entry, line)] = entries(exc)
        assert entry == name and first < line <= last
        lines.append(line)
    # dayofyear is used first (declination), then breite, then szeit.
    szeit_line, breite_line, day_line = lines
    assert day_line < breite_line < szeit_line


def test_failures_keep_no_references():
    calls = [
        lambda: S.Zenitwinkel(12.5, 50, 172),
        lambda: S.Zenitwinkel(np.array([0.0, 12.0]), [50, 10], 172),
        lambda: S.Zenitwinkel(12.5, 50, "x"),
        lambda: S.Azimutwinkel(9, 50.0, 1),
        lambda: S.Azimutwinkel(np.array([9.0]), 50, 1),
        lambda: S.Azimutwinkel(0, -80, np.array([355])),
        lambda: S.Azimutwinkel(np.array([9.0, 10.0]), 50, 1),
        lambda: S.Azimutwinkel(9, "x", 1),
    ]

    def run(n):
        for _ in range(n):
            for call in calls:
                try:
                    call()
                except Exception:  # noqa: BLE001
                    pass

    run(1000)
    gc.collect()
    before = sys.getallocatedblocks()
    run(10000)
    gc.collect()
    assert sys.getallocatedblocks() - before < 50


# --- against the transcription ------------------------------------------

def outcome_of(fn, args):
    try:
        return fn(*args)
    except (TypeError, ValueError) as exc:
        return type(exc), str(exc)


@pytest.mark.parametrize("name,args", [
    ("Zenitwinkel", (12.5, 50, 172)),
    ("Zenitwinkel", (12.5, 50, "x")),
    ("Zenitwinkel", ("x", 50, 172)),
    ("Azimutwinkel", (0, 50, 172)),      # zero leg, sz >= 0
    ("Azimutwinkel", (0, -80, 355)),     # zero leg, sz < 0: np.pi
    ("Azimutwinkel", (9, 50, 1)),        # positive leg
    ("Azimutwinkel", (15, 50, 1)),       # negative leg
    ("Azimutwinkel", ("x", 50, 1)),
    ("Azimutwinkel", (np.array([9.0, 10.0]), 50, 1)),
])
def test_np_lookups_match_the_transcription(name, args):
    mine, ref = RecordingNumpy(), RecordingNumpy()
    with module_np(mine):
        got = outcome_of(getattr(S, name), args)
    with oracle.use_np(ref):
        want = outcome_of(getattr(oracle, name), args)
    assert mine.asked == ref.asked
    # The declination's outer functions before its argument, for each sine.
    start = ["degrees", "arcsin", "sin", "radians", "sin", "radians"]
    assert mine.asked[:6] == start[:len(mine.asked)]
    if isinstance(want, tuple):
        assert got == want
    else:
        assert same_value(got, want)


days = st.one_of(st.integers(-400, 800), st.floats(-1e6, 1e6))
hours = st.one_of(st.integers(-30, 54), st.floats(-100, 100),
                  st.sampled_from([0, 0.0, -0.0, 6, 12, 18, 24]))


@pytest.mark.parametrize("name", ["Zenitwinkel", "Azimutwinkel"])
@given(data=st.data())
def test_native_path_matches_transcription(name, data):
    args = data.draw(st.one_of(
        st.tuples(native_scalars(), native_scalars(), native_scalars()),
        st.tuples(hours, native_scalars(-100, 100), days)))
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


odd_arguments = st.one_of(native_scalars(), odd_numbers,
                          st.sampled_from([None, "12", [1.0], [50, 10], np.zeros(2)]))


@pytest.mark.parametrize("name", ["Zenitwinkel", "Azimutwinkel"])
@given(args=st.tuples(odd_arguments, odd_arguments, odd_arguments))
def test_any_arguments_match_transcription(name, args):
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


@given(st.data())
def test_zenith_arrays_match_transcription(data):
    shapes = data.draw(hnp.mutually_broadcastable_shapes(num_shapes=3, max_dims=3, max_side=3))
    args = [data.draw(hnp.arrays(np.float64, shape, elements=st.floats(-400, 400)))
            for shape in shapes.input_shapes]
    assert_same_outcome(S.Zenitwinkel, oracle.Zenitwinkel, *args)


@given(hours, hnp.arrays(np.float64, hnp.array_shapes(max_dims=2, max_side=3),
                         elements=st.floats(-90, 90)), days)
def test_azimuth_latitude_arrays_match_transcription(szeit, breite, dayofyear):
    assert_same_outcome(S.Azimutwinkel, oracle.Azimutwinkel, szeit, breite, dayofyear)


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("name", ["Zenitwinkel", "Azimutwinkel"])
@given(hours, st.floats(-90, 90), days, st.integers(0, 2))
def test_native_and_generic_paths_agree(name, szeit, breite, dayofyear, wrapped):
    fn = getattr(S, name)
    args = [szeit, breite, dayofyear]
    native = fn(*args)
    args[wrapped] = as_one_element_array(args[wrapped])
    generic = fn(*args)
    if isinstance(generic, np.ndarray):
        generic = np.float64(generic[0])
    assert same_value(generic, native)
