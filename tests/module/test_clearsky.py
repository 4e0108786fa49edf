"""Clear-sky radiation: the documented values and regimes, failures with their
traceback entries, and both evaluation paths against the transcription."""

import math
import traceback

import numpy as np
import pytest
from hypothesis import given, strategies as st

from support import oracle
import quarnel.Strahlwerk as S
from support.helpers_np import RecordingNumpy, module_np
from support import as_one_element_array as one, assert_same_outcome, native_scalars, odd_numbers
from support import same_value

# Statement lines of each function lie strictly between its first line and the next one.
LINES = {"LinkeTruebung": (80, 98), "RelOptLuftmasse": (98, 117),
         "MaxDirekteStrahlung": (117, 141), "MaxGlobalstrahlung": (141, 156),
         "MaxDirekteStrahlung.ExtraterrStrahlung": (118, 122),
         "MaxDirekteStrahlung.OptDicke": (122, 131),
         "MaxDirekteStrahlung.Druckkorrektur": (131, 134),
         "MaxGlobalstrahlung.ExtraterrStrahlung": (142, 146),
         "MaxGlobalstrahlung.Druckkorrektur": (146, 149)}
F64, nan, ZERO_DIVISOR = np.float64, math.nan, -10.444444444444445  # 9.4 + 0.9 x == 0


def raised_in(exc):
    """The functions an exception left, outermost first, each at a statement line."""
    names = []
    for f in traceback.extract_tb(exc.__traceback__):
        if f.name.startswith("quarnel."):
            short = f.name.removeprefix("quarnel.Strahlwerk.")
            assert LINES[short][0] < f.lineno < LINES[short][1], (short, f.lineno)
            names.append(short)
    return names


@pytest.mark.parametrize("name,args,want,kind,tol", [
    ("LinkeTruebung", (15, 50, 50), 1.5, F64, 0), ("LinkeTruebung", (15, 0, 50), 1.5, F64, 0),
    ("LinkeTruebung", (380.0, 50, 50), 1.5, F64, 0), ("LinkeTruebung", (15, -50, 50), 4.3, F64, 0),
    ("LinkeTruebung", (172, 50, 50), 4.1673, F64, 1e-4),
    ("LinkeTruebung", (1, 50, 50), 1.5405, F64, 1e-4),
    ("LinkeTruebung", (15, 50, np.nextafter(85, 0)), 1.5, F64, 1e-12),
    ("LinkeTruebung", (None, "x", 85), 3.4566, F64, 1e-4),
    ("LinkeTruebung", (object(), None, 90), 4.9531, F64, 1e-4),
    ("LinkeTruebung", (1, np.array([1, -1]), 92.0), 8.5762, F64, 1e-4),
    ("LinkeTruebung", (1, 1, 94), 22.230, F64, 1e-3),
    ("LinkeTruebung", (1, 1, 95), 39.84, F64, 0), ("LinkeTruebung", (1, 1, 99.9), 39.84, F64, 0),
    ("LinkeTruebung", ("x", 1, 100), 39.84, float, 0), ("LinkeTruebung", (1, 1, 120), 39.84, float, 0),
    ("LinkeTruebung", (1, 1, nan), 39.84, float, 0),
    ("RelOptLuftmasse", (0,), 1.0, F64, 0), ("RelOptLuftmasse", (-0.0,), 1.0, F64, 0),
    ("RelOptLuftmasse", (np.nextafter(80, 0),), 5.7588, F64, 1e-4),
    ("RelOptLuftmasse", (80,), 5.5860, F64, 1e-4),
    ("RelOptLuftmasse", (np.nextafter(90, 0),), 37.9196, F64, 1e-4),
    ("RelOptLuftmasse", (90,), 37.92, F64, 0), ("RelOptLuftmasse", (90.05,), 38.57, F64, 1e-12),
    ("RelOptLuftmasse", (90.1,), 39.22, F64, 0), ("RelOptLuftmasse", (F64(90.5),), 43.72, F64, 0),
    ("RelOptLuftmasse", (91,), 49.15, F64, 0),
    ("RelOptLuftmasse", (np.nextafter(91, 92),), 999, int, 0),
    ("RelOptLuftmasse", (100,), 999, int, 0), ("RelOptLuftmasse", (-1e-300,), 999, int, 0),
    ("MaxGlobalstrahlung", (172, 0, 30, 3), 876.161, F64, 1e-3),
    ("MaxGlobalstrahlung", (172, 500, 60, 4), 453.143, F64, 1e-3),
    ("MaxGlobalstrahlung", (1, 0, 0, 0), 0.84 * 1412.69, F64, 1e-2),
    # No turbidity: the extraterrestrial radiation, greatest where 0.9856 dayofyear is 2.72.
    ("MaxDirekteStrahlung", (2.72 / 0.9856, 0, 30, 0, 1), 1367 * 1.03344, F64, 1e-9),
    ("MaxDirekteStrahlung", (182.72 / 0.9856, 0, 30, 0, 1), 1367 * (1 - 0.03344), F64, 1e-9),
    # Below the ground the optical thickness is 999: nothing comes through.
    ("MaxDirekteStrahlung", (172, 0, -10, 3, 2), 0.0, F64, 0),
])
def test_documented_values(name, args, want, kind, tol):
    got = getattr(S, name)(*args)
    assert type(got) is kind and got == pytest.approx(want, abs=tol, rel=0)
    assert same_value(got, getattr(oracle, name)(*args))


@pytest.mark.parametrize("z", [90, 90.0, np.nextafter(90, 91), math.inf, nan, F64(95), one(90)])
@pytest.mark.parametrize("others", [(None, "x", np.array([1.0, 2.0]), object()), (172, 0, 3, 1)])
def test_zero_at_or_below_the_horizon_examines_nothing_else(z, others):
    day, height, linke, airmass = others
    for got in (S.MaxDirekteStrahlung(day, height, z, linke, airmass),
                S.MaxGlobalstrahlung(day, height, z, linke)):
        assert type(got) is int and got == 0


def test_pressure_correction_and_optical_thickness():
    e0 = S.MaxDirekteStrahlung(172, 0, 30, 0, 1.2)
    sea, high = S.MaxDirekteStrahlung(172, 0, 30, 3, 1.2), S.MaxDirekteStrahlung(172, 8434.5, 30, 3, 1.2)
    assert math.log(high / e0) == pytest.approx(math.log(sea / e0) / math.e, rel=1e-12)
    # At 85 degrees the optical thickness turns linear and forgets the air mass.
    for m in (1.0, 20.0):
        at85 = S.MaxDirekteStrahlung(172, 0, 85, 2.0, m) / S.MaxDirekteStrahlung(172, 0, 85, 0, m)
        assert math.log(at85) == pytest.approx(-2.0 * (0.0408 + 0.0028 * 5) * m, rel=1e-12)


@pytest.mark.parametrize("name,args,exc,path", [
    ("LinkeTruebung", (1, 50, np.array([50, 90])), ValueError, []),
    ("LinkeTruebung", (1, np.array([50, -50]), 50), ValueError, []),
    ("LinkeTruebung", (1, None, 50), TypeError, []),
    ("LinkeTruebung", ("1", 50, 50), TypeError, []),
    ("RelOptLuftmasse", (nan,), ValueError, []), ("RelOptLuftmasse", (F64(nan),), ValueError, []),
    ("RelOptLuftmasse", (math.inf,), OverflowError, []),
    ("RelOptLuftmasse", (-1.7e308,), OverflowError, []),
    ("RelOptLuftmasse", (np.array([90.0, 90.5]),), TypeError, []),
    ("RelOptLuftmasse", (None,), TypeError, []),
    ("MaxDirekteStrahlung", ("x", 0, 30, 3, 1.2), TypeError, ["ExtraterrStrahlung"]),
    ("MaxDirekteStrahlung", (172, "x", 30, 3, 1.2), TypeError, ["Druckkorrektur"]),
    ("MaxDirekteStrahlung", (172, 0, 84.9, 3, "x"), TypeError, ["OptDicke"]),
    ("MaxDirekteStrahlung", (172, 0, 85, 3, "x"), TypeError, []),
    ("MaxDirekteStrahlung", (172, 0, 30, 3, ZERO_DIVISOR), ZeroDivisionError, ["OptDicke"]),
    ("MaxDirekteStrahlung", (172, 0, 30, "x", 1.2), TypeError, []),
    ("MaxDirekteStrahlung", (172, 0, None, 3, 1.2), TypeError, []),
    ("MaxDirekteStrahlung", (172, 0, np.array([30.0, 40.0]), 3, 1.2), ValueError, []),
    ("MaxGlobalstrahlung", ("x", 0, 30, 3), TypeError, ["ExtraterrStrahlung"]),
    ("MaxGlobalstrahlung", (172, "x", 30, 3), TypeError, ["Druckkorrektur"]),
    ("MaxGlobalstrahlung", (172, 0, 30, "x"), TypeError, []),
    ("MaxGlobalstrahlung", (172, 0, np.array([30.0, 40.0]), 3), ValueError, []),
])
def test_failures_name_the_function_left(name, args, exc, path):
    with pytest.raises(exc) as info:
        getattr(S, name)(*args)
    assert raised_in(info.value) == [name] + [name + "." + inner for inner in path]
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


@pytest.mark.parametrize("z", [30, 86.5, -5.0])
def test_element_wise_with_scalar_zenith(z):
    days, heights, linke = np.array([[1.0], [100.0], [172.0]]), np.array([0.0, 500.0, 8434.5]), 3.5
    results = [(S.MaxDirekteStrahlung, (days, heights, z, linke, 1.3)),
               (S.MaxDirekteStrahlung, (172, 0, z, linke, np.array([[1.0, 1.2, 1.5]] * 3))),
               (S.MaxGlobalstrahlung, (days, heights, z, np.full(3, linke))),
               (S.LinkeTruebung, (days * np.ones(3), 50 - z, 50))]
    for fn, args in results:
        got = fn(*args)
        assert got.shape == (3, 3) and same_value(got, getattr(oracle, fn.__name__)(*args))
        for idx, value in np.ndenumerate(got):
            scalars = [np.broadcast_to(a, got.shape)[idx] if np.ndim(a) else a for a in args]
            assert value == pytest.approx(fn(*scalars), rel=1e-14, abs=1e-300)


class FailingNumpy(RecordingNumpy):
    """numpy that fails the look-up after the first `fail_at` ones."""

    def __init__(self, fail_at=None):
        super().__init__()
        self.fail_at, self.powers = fail_at, []

    def __getattr__(self, name):
        if len(self.asked) == self.fail_at:
            raise AttributeError(name)
        fn = super().__getattr__(name)
        return (lambda a, b: self.powers.append(fn(a, b)) or self.powers[-1]) if name == "power" else fn


@pytest.mark.parametrize("name,args,want", [
    ("LinkeTruebung", (100, -50, 50), ["cos", "pi"]),
    ("LinkeTruebung", (100, 50, 90), ["maximum", "exp", "power", "power"]),
    ("LinkeTruebung", (100, 50, 100), []),
    ("RelOptLuftmasse", (30,), ["array", "trunc", "cos", "radians"]),
    ("RelOptLuftmasse", (85,), ["array", "trunc", "cos", "radians", "power"]),
    ("RelOptLuftmasse", (90.3,), ["array", "trunc"]), ("RelOptLuftmasse", (95,), ["array", "trunc"]),
    ("MaxDirekteStrahlung", (172, 500, 30, 3, 1.2), ["cos", "pi", "exp", "exp"]),
    ("MaxDirekteStrahlung", (172, 500, 90, 3, 1.2), []),
    ("MaxGlobalstrahlung", (172, 500, 30, 3),
     ["cos", "pi", "cos", "radians", "exp", "exp", "cos", "radians"]),
])
def test_np_lookups_match_the_transcription(name, args, want):
    mine, ref = FailingNumpy(), FailingNumpy()
    with module_np(mine):
        got = getattr(S, name)(*args)
    with oracle.use_np(ref):
        assert same_value(got, getattr(oracle, name)(*args))
    assert mine.asked == ref.asked == want
    # np.power(10, 4) is a NumPy integer.
    assert [type(p) for p in mine.powers] == [type(p) for p in ref.powers]
    # A failing look-up is reported in the function that makes it (inner or outer).
    for n in range(len(want)):
        with module_np(FailingNumpy(n)), pytest.raises(AttributeError) as info:
            getattr(S, name)(*args)
        with oracle.use_np(FailingNumpy(n)), pytest.raises(AttributeError) as ref_info:
            getattr(oracle, name)(*args)
        ref_frames = [f.name for f in traceback.extract_tb(ref_info.value.__traceback__)
                      if "oracle" in f.filename]
        assert raised_in(info.value)[-1].split(".")[-1] == ref_frames[-1], n


def near(lo, hi):
    """Native scalars, most of them in [lo, hi] where the branches are."""
    return st.one_of(native_scalars(lo, hi), native_scalars())


table = st.integers(895, 915).map(lambda k: k / 10)
anything = st.one_of(native_scalars(), odd_numbers, st.sampled_from([None, "12", [1.0]]),
                     table.map(one), table.map(np.float32))
NATIVE = {"LinkeTruebung": [near(-400, 800), near(-90, 90), near(80, 101)],
          "RelOptLuftmasse": [st.one_of(near(-2, 95), table)],
          "MaxDirekteStrahlung": [near(-400, 800), near(-500, 9000), st.one_of(near(-5, 95), table),
                                  near(0, 10), st.one_of(near(0, 40), st.just(ZERO_DIVISOR))],
          "MaxGlobalstrahlung": [near(-400, 800), near(-500, 9000), near(-5, 95), near(0, 10)]}


@pytest.mark.parametrize("name", NATIVE)
@given(data=st.data())
def test_native_path_matches_transcription(name, data):
    args = [data.draw(s) for s in NATIVE[name]]
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


@pytest.mark.parametrize("name", NATIVE)
@given(data=st.data())
def test_any_arguments_match_transcription(name, data):
    args = [data.draw(st.one_of(anything, s)) for s in NATIVE[name]]
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)


@given(st.floats(-1000, 1000), st.floats(0, 84.9), st.floats(-10, 89.9), st.floats(-500, 9000),
       st.floats(0, 10), st.floats(0.5, 40))
def test_native_and_generic_paths_agree(day, RH, z, height, linke, airmass):
    """A one-element array in an element-wise argument forces the generic path."""
    for native, generic in [
            (S.LinkeTruebung(day, z, RH), S.LinkeTruebung(one(day), z, RH)),
            (S.MaxDirekteStrahlung(day, height, z, linke, airmass),
             S.MaxDirekteStrahlung(one(day), height, z, linke, one(airmass))),
            (S.MaxGlobalstrahlung(day, height, z, linke), S.MaxGlobalstrahlung(day, one(height), z, linke))]:
        assert generic.shape == (1,) and same_value(F64(generic[0]), native)
