"""Radiation budget: direct radiation under cloud, counter-radiation, surface
temperature and mean radiant temperature; the documented values, and both
evaluation paths against the transcription."""

import math
import traceback
import warnings

import numpy as np
import pytest
from hypothesis import given, strategies as st

from support import oracle
import quarnel.Strahlwerk as S
from support.helpers_np import RecordingNumpy, module_np, module_without_np
from support import (as_one_element_array, assert_same_outcome, native_scalars, odd_numbers,
                     same_value)

# A wind speed [m/s] for which alphaL = 6.2 + 4.26 × wind is exactly 0.0.
CALM_ZERO = -6.2 / 4.26
assert 6.2 + 4.26 * CALM_ZERO == 0.0


def entries(exc):
    return [(f.name, f.lineno) for f in traceback.extract_tb(exc.__traceback__)
            if f.name.startswith("quarnel.")]


def no_warnings(fn, *args):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        return fn(*args)


# Documented values. DirStrMBew and OberflTemp use no NumPy function, so
# Python numbers give Python floats; the other two give numpy.float64.
@pytest.mark.parametrize("name,args,want,kind", [
    ("DirStrMBew", (800, 0), 800.0, float),
    ("DirStrMBew", (800, 2), 600.0, float),
    ("DirStrMBew", (800, 8), 0.0, float),
    ("DirStrMBew", (800, 10), -200.0, float),
    ("DirStrMBew", (np.float64(800), 4), 400.0, np.float64),
    ("AtmosGegenstr", (0, 0, 0), 179.913, np.float64),
    ("AtmosGegenstr", (20, 10, 4), 343.789, np.float64),
    ("AtmosGegenstr", (10, 12, 6), 322.052, np.float64),
    ("OberflTemp", (500, 20, 2, 1), 33.7568, float),
    ("OberflTemp", (-100, 10, 1, 0.5), 7.83301, float),
    ("OberflTemp", (500, 20, 2, -2), -227.622, float),  # Bowen taken as -0.9
    ("OberflTemp", (500, 20, 2, -0.9), -227.622, float),
    ("OberflTemp", (0, 20, 3, 0.7), 20.0, float),  # -0.32 branch, Q + B = 0.0
    ("MittlStrTemp", (90, 300, 400, 0, 0, 0, None, 0.3, None), 60.1833, np.float64),
    ("MittlStrTemp", (30, 150, 400, 300, 100, 600, None, 0.3, "town"), 90.2751, np.float64),
    ("MittlStrTemp", (60, 150, 400, 300, 100, 600, object(), 1, None), 76.7621, np.float64),
    ("MittlStrTemp", (45, 0, 0, 0, 0, 0, 0, 0.3, 0), -273.15, np.float64),
])
def test_documented_values(name, args, want, kind):
    got = no_warnings(getattr(S, name), *args)
    assert type(got) is kind and got == pytest.approx(want, abs=5e-5 * max(1, abs(want)))


def test_cloud_terms():
    clear = S.AtmosGegenstr(15.0, 11.0, 0)
    assert S.AtmosGegenstr(15.0, 11.0, 8) == clear * (1 + 0.21 * 1.0)
    # Direct weight fP: the only flux is the direct one, with alphaIR/epsP = 1.
    for zenith, fP in [(90, 0.308), (30, 0.154602), (0, 0.0010594)]:
        t = S.MittlStrTemp(zenith, 0, 0, 0, 0, 1000.0, None, 0.03, None) + 273.15
        assert t ** 4 * 5.67e-08 / ((1 - 0.03) / 0.97 * 1000.0) == pytest.approx(fP, rel=1e-5)


@pytest.mark.parametrize("call,warning", [
    (lambda: S.AtmosGegenstr(20, 10, -1), "invalid value encountered in power"),
    (lambda: S.MittlStrTemp(91, 150, 400, 300, 0, 0, None, 0.3, None),
     "invalid value encountered in sqrt"),
])
def test_out_of_range_gives_nan_with_a_warning(call, warning):
    with pytest.warns(RuntimeWarning, match=warning):
        assert math.isnan(call())


def test_broadcast_shapes():
    col, row = np.array([[0.0], [4.0]]), np.array([10.0, 20.0, 30.0])
    assert S.DirStrMBew(row, col).shape == (2, 3)
    assert S.AtmosGegenstr(row, 10.0, col).shape == (2, 3)
    assert S.OberflTemp(500, row, col, 1).shape == (2, 3)
    got = S.MittlStrTemp(row, 150, col, 300, 100, 600, None, 0.3, "")
    assert got.shape == (2, 3) and got[1, 2] == S.MittlStrTemp(30.0, 150, 4.0, 300, 100, 600, 0, 0.3, 0)


@pytest.mark.parametrize("bowen", [0, -0.0, np.float64(0), np.array([0.0])])
def test_zero_bowen_returns_the_air_temperature_object(bowen):
    for air in (20, np.array([18.0, 21.0]), object()):
        assert S.OberflTemp(350.0, air, 2.0, bowen) is air
    with pytest.raises(TypeError):  # the wind speed is used before Bowen is looked at
        S.OberflTemp(350.0, 20, "calm", bowen)


def test_bowen_clamp_leaves_the_callers_object_alone():
    bowen = np.array([-2.0])
    assert S.OberflTemp(500, 20, 2, bowen) == S.OberflTemp(500, 20, 2, -0.9)
    assert bowen.tolist() == [-2.0]


def test_zero_transfer_coefficient():
    with pytest.raises(ZeroDivisionError) as info:
        S.OberflTemp(500.0, 20.0, CALM_ZERO, 1.0)
    assert entries(info.value) == [("quarnel.Strahlwerk.OberflTemp", 205)]
    with pytest.warns(RuntimeWarning, match="divide by zero"):
        got = S.OberflTemp(500.0, 20.0, np.float64(CALM_ZERO), 1.0)
    assert type(got) is np.float64 and got == math.inf


# --- all four --------------------------------------------------------------

@pytest.mark.parametrize("call,exc,entry", [
    (lambda: S.DirStrMBew(800, "2"), TypeError, ("DirStrMBew", 157)),
    (lambda: S.DirStrMBew("800", 2), TypeError, ("DirStrMBew", 157)),
    (lambda: S.AtmosGegenstr("20", 10, 4), TypeError, ("AtmosGegenstr", 163)),
    (lambda: S.AtmosGegenstr(20, None, 4), TypeError, ("AtmosGegenstr", 164)),
    (lambda: S.AtmosGegenstr(20, 10, "4"), TypeError, ("AtmosGegenstr", 165)),
    (lambda: S.AtmosGegenstr(np.ones(2), 10, np.ones(3)), ValueError, ("AtmosGegenstr", 166)),
    (lambda: S.OberflTemp(None, 20, 2, 1), TypeError, ("OberflTemp", 195)),
    (lambda: S.OberflTemp(np.ones(2), 20, 2, 1), ValueError, ("OberflTemp", 195)),
    (lambda: S.OberflTemp(500, 20, 2, np.ones(2)), ValueError, ("OberflTemp", 200)),
    (lambda: S.OberflTemp(500, 20, None, 1), TypeError, ("OberflTemp", 199)),
    (lambda: S.OberflTemp(500, 20, 2, "1"), TypeError, ("OberflTemp", 200)),
    (lambda: S.OberflTemp(500, "20", 2, 1), TypeError, ("OberflTemp", 205)),
    (lambda: S.MittlStrTemp(30, 1, 2, 3, 4, 5, 6, "0.3", 8), TypeError, ("MittlStrTemp", 214)),
    (lambda: S.MittlStrTemp(None, 1, 2, 3, 4, 5, 6, 0.3, 8), TypeError, ("MittlStrTemp", 215)),
    (lambda: S.MittlStrTemp(30, 1, 2, 3, 4, "5", 6, 0.3, 8), TypeError, ("MittlStrTemp", 217)),
])
def test_failures_name_the_function_and_statement(call, exc, entry):
    with pytest.raises(exc) as info:
        call()
    assert entries(info.value) == [("quarnel.Strahlwerk." + entry[0], entry[1])]


def test_np_lookups_match_the_transcription():
    calls = [
        ("AtmosGegenstr", (20, 10, 4), ["power"] * 3),
        ("MittlStrTemp", (30, 150, 400, 300, 100, 600, None, 0.3, None),
         ["cos", "radians", "sqrt", "power"]),
        ("DirStrMBew", (800, 2), []),
        ("OberflTemp", (500, 20, 2, 1), []),
    ]
    for name, args, want in calls:
        mine, ref = RecordingNumpy(), RecordingNumpy()
        with module_np(mine):
            getattr(S, name)(*args)
        with oracle.use_np(ref):
            getattr(oracle, name)(*args)
        assert mine.asked == ref.asked == want, name


def test_lookups_follow_the_failing_steps():
    rec = RecordingNumpy()
    with module_np(rec), pytest.raises(TypeError):  # albedo fails before np is needed
        S.MittlStrTemp(30, 1, 2, 3, 4, 5, 6, "x", 8)
    assert rec.asked == []
    with module_without_np(), pytest.raises(NameError) as info:
        S.MittlStrTemp(30, 1, 2, 3, 4, 5, 6, 0.3, 8)
    assert entries(info.value) == [("quarnel.Strahlwerk.MittlStrTemp", 216)]


# --- both paths against the transcription ----------------------------------

FUNCTIONS = [("DirStrMBew", 2), ("AtmosGegenstr", 3), ("OberflTemp", 4), ("MittlStrTemp", 9)]

anything = st.one_of(native_scalars(), odd_numbers, st.sampled_from([None, "8", [1.0]]))


@pytest.mark.parametrize("name,n", FUNCTIONS)
@given(data=st.data())
def test_native_path_matches_transcription(name, n, data):
    args = data.draw(st.lists(native_scalars(), min_size=n, max_size=n))
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


@pytest.mark.parametrize("name,n", FUNCTIONS)
@given(data=st.data())
def test_any_arguments_match_transcription(name, n, data):
    args = data.draw(st.lists(anything, min_size=n, max_size=n))
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


@pytest.mark.filterwarnings("ignore::RuntimeWarning")  # tiny Bowen ratios overflow 1/Bowen
@given(st.floats(-40, 50), st.floats(0, 60), st.integers(0, 8) | st.floats(0, 8),
       st.floats(-300, 900), st.floats(0, 30), st.sampled_from([-2, -0.9, 0.5]) | st.floats(-3, 5),
       st.floats(0, 90), st.floats(0, 1200), st.floats(0, 1), st.integers(0, 8))
def test_native_and_generic_paths_agree(T, e, N, Q, wind, bowen, zenith, flux, albedo, which):
    """Plausible weather; each function again with one argument as a one-element array."""
    calls = [
        (S.DirStrMBew, [flux, N]),
        (S.AtmosGegenstr, [T, e, N]),
        (S.OberflTemp, [Q, T, wind, bowen]),
        (S.MittlStrTemp, [zenith, flux, 300.0, 320.0, 0.2 * flux, flux, 0.0, albedo, 0.0]),
    ]
    for fn, args in calls:
        native = fn(*args)
        wrapped = list(args)
        wrapped[which % len(args)] = as_one_element_array(args[which % len(args)])
        generic = np.asarray(fn(*wrapped)).ravel()[0]
        assert same_value(np.float64(generic), np.float64(native)), (fn.__name__, args)


EDGES = [  # NumPy's power, exp and arcsin near and beyond the ends of their ranges
    ("AtmosGegenstr", (20.0, 1e4, 4)), ("AtmosGegenstr", (20.0, -8000.0, 4)),   # 10**x under/overflows
    ("AtmosGegenstr", (1e80, 10.0, 4)), ("AtmosGegenstr", (20.0, 10.0, -8)),     # T**4 overflows, (-1)**2.5
    ("AtmosGegenstr", (-273.15, 10.0, 0)), ("AtmosGegenstr", (20.0, 3256.0, 4)),  # zero, near the subnormals
    ("MaxDirekteStrahlung", (172, -6e6, 30.0, 3.5, 1.15)), ("MaxDirekteStrahlung", (172, 35.0, 30.0, 3.5, 1e5)),
    ("MaxGlobalstrahlung", (172, 35.0, 89.99999, 3.5)), ("MittlStrTemp", (-1e300, 150.0, 400.0, 300.0, 100.0, 600.0, 0, 0.3, 0)),
    ("Zenitwinkel", (12.0, 23.44, 172)), ("Zenitwinkel", (12.0, 2e300, 172)),
]


@pytest.mark.parametrize("state", ["ignore", "warn", "raise"])
@pytest.mark.parametrize("name, args", EDGES)
def test_elementary_functions_at_their_edges_under_every_error_state(name, args, state):
    """Scalars whose power, exp or arcsin overflows, underflows or leaves its
    domain: the same value, warning or FloatingPointError as NumPy gives."""
    with np.errstate(all=state):
        assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)
