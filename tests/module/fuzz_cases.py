"""Differential fuzzing: odd objects in every position of every function.

The module's complete outcome of a call (value and type of the result, or
exception type and message, plus the warnings issued) must be the
transcription's. Run by test_fuzz.py in a child process so that a
crash fails a test instead of killing the test run; QUARNEL_FUZZ_EXAMPLES
sets the number of examples per function and test.
"""

import decimal
import fractions
import inspect
import math
import os
import sys
import threading
import warnings

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from hypothesis.extra import numpy as hnp

from support import oracle
import quarnel.Strahlwerk as S
from support.calls import ELEMENT_WISE, good
from support import outcome

NAMES = ["Sonnenzeit", "Zenitwinkel", "Azimutwinkel", "LinkeTruebung", "RelOptLuftmasse",
         "MaxDirekteStrahlung", "MaxGlobalstrahlung", "DirStrMBew", "AtmosGegenstr",
         "OberflTemp", "MittlStrTemp"]
PARAMS = {name: list(inspect.signature(getattr(S, name)).parameters) for name in NAMES}

fuzz = settings(max_examples=int(os.environ.get("QUARNEL_FUZZ_EXAMPLES", "150")), deadline=None,
                print_blob=True, suppress_health_check=list(HealthCheck))


# --- plausible values: the ranges and branch points of each parameter --------

# (low, high, spots): the formulas branch at the spots.
RANGES = {
    "szeit": (-30, 54, [0, 12, 24, 23.999999, -1e-12]),
    "zeitzone": (-14, 14, [0, 1, -5]),
    "laenge": (-200, 200, [0, 15, -180, 180]),
    "dayofyear": (-400, 800, [1, 81, 172, 365, 366]),
    "breite": (-95, 95, [0, -0.0, 90, -90, 52.5]),
    "RH": (0, 120, [84.999, 85, 99.99, 100, 0]),
    "zenitwinkel": (-5, 95, [0, 79.99, 80, 84.9, 85, 89.999, 90, 90.05, 90.95, 91, 91.0001]),
    "mHoehe": (-500, 9000, [0, 8434.5]),
    "LinkeTr": (0, 10, [0, 3.5]),
    "RelOptLuftM": (0, 40, [0, 1, 999, -9.4 / 0.9]),
    "Imax": (0, 1400, [0, 800]),
    "N": (-1, 9, [0, 4, 8]),
    "LuftTemp": (-60, 60, [0, -273.15, 20]),
    "Dampfdruck": (0, 60, [0, 10]),
    "Strahlungsbilanz": (-500, 1000, [0, -0.0, 500]),
    "WindGeschw": (0, 30, [0, -6.2 / 4.26]),
    "Bowen": (-3, 3, [0, -0.0, -0.9, -1, -2, 0.5]),
    "EStrOben": (0, 1500, [0]), "EStrUnten": (0, 1500, [0]), "AGegenstr": (0, 600, [0]),
    "DiffStr": (0, 800, [0]), "MaxDirStr": (0, 1200, [0]), "ReflStr": (0, 500, [0]),
    "albedo": (0, 1, [0, 0.3, 1]), "albedo_env": (0, 1, [0.2]),
}


def floats_in(param):
    lo, hi, spots = RANGES[param]
    return st.one_of(st.floats(lo, hi), st.sampled_from([float(s) for s in spots]))


def plausible(param):
    """A native number: Python float, int (where integral) or numpy.float64."""
    lo, hi, _ = RANGES[param]
    return st.one_of(floats_in(param), floats_in(param).map(np.float64),
                     st.integers(math.ceil(lo), math.floor(hi)))


# --- odd objects ------------------------------------------------------------

class FloatSub(float):
    pass


class IntSub(int):
    pass


class Float64Sub(np.float64):
    pass


class FloatOnly:
    """Knows only how to be a float."""

    def __init__(self, x):
        self.x = x

    def __float__(self):
        return self.x

    def __repr__(self):
        return f"FloatOnly({self.x!r})"


class IndexOnly:
    def __index__(self):
        return 3


class RaisingOps:
    """Every operator raises."""

    def _raise(self, *args):
        raise ArithmeticError("operator raised")

    __add__ = __radd__ = __sub__ = __rsub__ = __mul__ = __rmul__ = _raise
    __truediv__ = __rtruediv__ = __neg__ = __and__ = __rand__ = __pow__ = __rpow__ = _raise
    __lt__ = __le__ = __gt__ = __ge__ = __eq__ = __bool__ = __float__ = __int__ = _raise
    __hash__ = object.__hash__


class RaisingCompare:
    """Arithmetic works (and stays this type); comparisons raise."""

    def _same(self, *args):
        return self

    def _raise(self, other):
        raise LookupError("comparison raised")

    __add__ = __radd__ = __sub__ = __rsub__ = __mul__ = __rmul__ = _same
    __truediv__ = __rtruediv__ = __neg__ = __and__ = __rand__ = _same
    __lt__ = __le__ = __gt__ = __ge__ = __eq__ = _raise
    __hash__ = object.__hash__


class RaisingTruth(RaisingCompare):
    """Comparisons give objects whose truth value raises."""

    def _cmp(self, other):
        return self

    def __bool__(self):
        raise ValueError("truth value raised")

    __lt__ = __le__ = __gt__ = __ge__ = __eq__ = _cmp
    __hash__ = object.__hash__


class NoUfuncs(RaisingCompare):
    __array_ufunc__ = None


class ArrayLike:
    """Becomes an array only when NumPy asks."""

    def __array__(self, dtype=None, copy=None):
        return np.array([1.0, 2.0, 3.0], dtype=dtype)


class Reentrant:
    """Calls the module again from inside an operator, then declines."""

    def _call(self, *args):
        S.Zenitwinkel(np.linspace(0, 24, 5), 50.0, 172)
        S.RelOptLuftmasse(90.5)
        return NotImplemented

    __add__ = __radd__ = __sub__ = __rsub__ = __mul__ = __rmul__ = _call
    __truediv__ = __rtruediv__ = __lt__ = __le__ = __gt__ = __ge__ = __eq__ = _call
    __hash__ = object.__hash__


class Dying:
    """An intermediate that calls the module again when it is released."""

    def __del__(self):
        S.Zenitwinkel(np.linspace(0, 24, 300), 50.0, 172)
        S.Sonnenzeit(12, 1, 15, 81)

    def __eq__(self, other):  # results compare by kind
        return isinstance(other, Dying)

    __hash__ = object.__hash__


class MakesDying(RaisingCompare):
    """Arithmetic gives intermediates that call the module on release."""

    def _dying(self, *args):
        return Dying()

    __add__ = __radd__ = __sub__ = __rsub__ = __mul__ = __rmul__ = _dying
    __truediv__ = __rtruediv__ = __neg__ = _dying
    __hash__ = object.__hash__


FIXED_ODD = [
    None, "x", "12", "", b"1", [1.0], [], (1.0,), (), {}, {"a": 1}, set(), object(), Ellipsis,
    True, False, FloatSub(12.5), FloatSub(math.nan), IntSub(7), IntSub(0), Float64Sub(50.0),
    complex(1, 2), complex(30, 0), fractions.Fraction(1, 3), fractions.Fraction(181, 2),
    decimal.Decimal("2.5"), decimal.Decimal("NaN"), decimal.Decimal("-0"),
    FloatOnly(2.5), FloatOnly(math.nan), IndexOnly(), RaisingOps(), RaisingCompare(),
    RaisingTruth(), NoUfuncs(), ArrayLike(), Reentrant(), MakesDying(),
    math.nan, math.inf, -math.inf, 0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308,
    1.7976931348623157e308, -1.7976931348623157e308, 1e-160, 1e160,
    np.float64(math.nan), np.float64(-0.0), np.float64(math.inf),
    2**53, 2**53 + 1, -(2**53), -(2**53) - 1, 2**63, -(2**63) - 1, 2**64, 2**1024, -(2**1100),
    10**400, 0, -1,
    np.array(30.0), np.array([30.0]), np.array([[30.0]]), np.array([1, 2], dtype=object),
    np.array([1.0, "x"], dtype=object), np.array([30, 60], dtype=np.int8),
    np.array([True, False]), np.array([], dtype=np.float64), np.zeros((0, 3)),
    np.ma.masked_array([30.0, 60.0, 90.0], [0, 1, 0]), np.ma.masked_array([30.0], [1]),
    np.arange(6.0).reshape(2, 3), np.array([30.0, 60.0], dtype=np.float32),
    np.array(["a", "b"]), np.array([1 + 1j, 2]),
]

NUMERIC_DTYPES = [np.bool_, np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16, np.uint32,
                  np.uint64, np.float16, np.float32, np.float64, np.longdouble, np.complex64,
                  np.complex128, np.clongdouble]


def numpy_scalar(dtype, x):
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore")
        return np.array(x).astype(dtype)[()]


@st.composite
def odd(draw, param):
    kind = draw(st.sampled_from(["fixed", "numpy", "int", "float"]))
    if kind == "fixed":
        return draw(st.sampled_from(FIXED_ODD))
    if kind == "numpy":
        return numpy_scalar(draw(st.sampled_from(NUMERIC_DTYPES)),
                            draw(st.one_of(floats_in(param), st.sampled_from([-1, 300, 1e6]))))
    if kind == "int":
        return draw(st.one_of(st.integers(2**53 - 2, 2**66), st.integers(-(2**66), -(2**53) + 2),
                              st.integers(2**1023, 2**1030), st.integers(-(2**1030), -(2**1023))))
    return draw(st.floats(allow_nan=True, allow_infinity=True))


# --- float64 arrays: the native array path ----------------------------------

def layout(a, how):
    """The values of `a` in another memory layout, or another array type."""
    if a.ndim == 0 and how in ("strided", "reversed", "broadcast"):
        return a
    if how == "strided":
        b = np.empty(a.shape[:-1] + (2 * a.shape[-1],))
        b[..., ::2] = a
        return b[..., ::2]
    if how == "reversed":
        return a[::-1].copy()[::-1]
    if how == "fortran":
        return np.asfortranarray(a)
    if how == "unaligned":
        raw = np.zeros(a.nbytes + 1, np.uint8)
        b = np.ndarray(a.shape, np.float64, buffer=raw, offset=1)
        b[...] = a
        return b
    if how == "big-endian":
        return a.astype(">f8")
    if how == "readonly":
        b = a.copy()
        b.flags.writeable = False
        return b
    if how == "broadcast":
        return np.broadcast_to(a[..., :1], a.shape)
    if how == "masked":
        return np.ma.masked_array(a, np.arange(a.size).reshape(a.shape) % 3 == 1)
    if how == "matrix-like subclass":
        return a.view(FloatArraySub)
    return a


class FloatArraySub(np.ndarray):
    pass


LAYOUTS = ["contiguous"] * 6 + ["strided", "reversed", "fortran", "unaligned", "big-endian",
                                "readonly", "broadcast", "masked", "matrix-like subclass"]
SHAPES = st.one_of(st.integers(2, 600).map(lambda n: (n,)), st.sampled_from([(1,), (0,), ()]),
                   st.tuples(st.integers(1, 9), st.integers(1, 40)))


def shape_variant(draw, shape):
    """`shape` itself, or a shape that broadcasts against it (or does not)."""
    how = draw(st.sampled_from(["same"] * 5 + ["leading", "ones", "other"]))
    if how == "same" or not shape:
        return shape
    if how == "leading":
        return (1,) + shape
    if how == "ones":
        return tuple(1 if draw(st.booleans()) else n for n in shape)
    return (draw(st.integers(2, 7)),)


SPECIAL = st.sampled_from([math.nan, math.inf, -math.inf, 0.0, -0.0, 1e300, 5e-324])


@st.composite
def float_array(draw, param, shape):
    """Plausible values, sometimes with NaN, infinities and extremes among them."""
    elements = st.one_of(floats_in(param), SPECIAL) if draw(st.booleans()) else floats_in(param)
    a = draw(hnp.arrays(np.float64, shape, elements=elements))
    return layout(a, draw(st.sampled_from(LAYOUTS)))


@st.composite
def call_args(draw, name):
    shape = draw(SHAPES)
    args = []
    for param in PARAMS[name]:
        kind = draw(st.sampled_from(["plausible"] * 3 + ["odd", "array", "array"]))
        if kind == "plausible":
            args.append(draw(plausible(param)))
        elif kind == "odd":
            args.append(draw(odd(param)))
        else:
            args.append(draw(float_array(param, shape_variant(draw, shape))))
    return args


# --- comparing outcomes -----------------------------------------------------

def same(a, b):
    """Same type and value (NaN equal to NaN, signed zeros told apart); arrays
    also of the same dtype, shape and mask. Not of the same memory layout:
    NumPy's result of a chain of operations may be C- or Fortran-ordered where
    the native array path, iterating all inputs at once, picks the other."""
    if a is b:
        return True
    if type(a) is not type(b):
        return False
    if isinstance(a, np.ndarray):
        if (a.dtype, a.shape) != (b.dtype, b.shape):
            return False
        if isinstance(a, np.ma.MaskedArray):
            if not np.array_equal(np.ma.getmaskarray(a), np.ma.getmaskarray(b)):
                return False
            a, b = a.filled(0), b.filled(0)
        return all(same(x, y) for x, y in zip(a.ravel().tolist(), b.ravel().tolist()))
    if isinstance(a, (complex, np.complexfloating)):
        return same(a.real, b.real) and same(a.imag, b.imag)
    if isinstance(a, (float, np.floating)):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, decimal.Decimal) and a.is_nan():
        return b.is_nan()
    return bool(a == b)


def check(name, args, kwargs=None):
    fn, ref = getattr(S, name), getattr(oracle, name)
    got, got_warnings = outcome(fn, *args, **(kwargs or {}))
    want, want_warnings = outcome(ref, *args)
    assert got[0] == want[0], (got, want)
    if got[0] == "raises":
        assert got[1:] == want[1:], (got, want)
    else:
        assert same(got[1], want[1]), (got[1], want[1])
    assert got_warnings == want_warnings


@pytest.mark.parametrize("name", NAMES)
@fuzz
@given(data=st.data())
def test_odd_arguments(name, data):
    check(name, data.draw(call_args(name), label="args"))


@pytest.mark.parametrize("name", NAMES)
@fuzz
@given(data=st.data())
def test_one_odd_argument_among_plausible_ones(name, data):
    """Exactly one position odd, so that the formula reaches it."""
    params = PARAMS[name]
    args = [data.draw(plausible(p)) for p in params]
    i = data.draw(st.integers(0, len(params) - 1), label="position")
    args[i] = data.draw(st.one_of(odd(params[i]), float_array(params[i], (3,))), label="odd")
    check(name, args)


# Sizes around the array path's blocks of 256 elements.
BLOCK_SHAPES = st.one_of(st.sampled_from([2, 3, 255, 256, 257, 511, 513, 1000]).map(lambda n: (n,)),
                         st.tuples(st.integers(1, 40), st.integers(2, 40)),
                         st.tuples(st.integers(1, 5), st.just(1), st.integers(2, 70)))


@pytest.mark.parametrize("name", [name for name in NAMES if ELEMENT_WISE[name]])
@fuzz
@given(data=st.data())
def test_float64_arrays_in_element_wise_positions(name, data):
    """What the native array path takes: float64 arrays where the formula is
    element-wise, native numbers elsewhere."""
    params = PARAMS[name]
    shape = data.draw(BLOCK_SHAPES, label="shape")
    args = [data.draw(plausible(p)) for p in params]
    first = data.draw(st.sampled_from(ELEMENT_WISE[name]), label="first array")
    for i in ELEMENT_WISE[name]:
        if i == first or data.draw(st.booleans()):
            args[i] = data.draw(float_array(params[i], shape_variant(data.draw, shape)))
    check(name, args)


@pytest.mark.parametrize("name", [name for name in NAMES if ELEMENT_WISE[name]])
def test_arrays_split_over_threads(name):
    rng = np.random.default_rng(len(name))
    args = [RANGES[p][0] + (RANGES[p][1] - RANGES[p][0]) / 3 for p in PARAMS[name]]
    for i in ELEMENT_WISE[name]:
        lo, hi, _ = RANGES[PARAMS[name][i]]
        args[i] = rng.uniform(lo, hi, 300_001)
    check(name, args)


# --- binding: keywords in any mix agree with positional calls ----------------

def bind(name, params, args, kwargs):
    """The binding rules of the module's functions, written out plainly."""
    n = len(params)
    if len(args) > n or len(args) + len(kwargs) > n:
        raise TypeError(f"{name}() takes exactly {n} positional argument{'' if n == 1 else 's'} "
                        f"({len(args) + (len(kwargs) if len(args) <= n else 0)} given)")
    bound = list(args) + [None] * (n - len(args))
    filled = [True] * len(args) + [False] * (n - len(args))
    for key, value in kwargs.items():
        if key not in params:
            raise TypeError(f"{name}() got an unexpected keyword argument '{key}'")
        i = params.index(key)
        if filled[i]:
            raise TypeError(f"{name}() got multiple values for keyword argument '{key}'")
        bound[i], filled[i] = value, True
    if not all(filled):
        given_count = filled.index(False)
        raise TypeError(f"{name}() takes exactly {n} positional argument{'' if n == 1 else 's'} "
                        f"({given_count} given)")
    return bound


@pytest.mark.parametrize("name", NAMES)
@fuzz
@given(data=st.data())
def test_keywords_bind_like_positions(name, data):
    params = PARAMS[name]
    values = [data.draw(st.one_of(plausible(p), odd(p))) for p in params] + [0.5, 1.5]
    npos = data.draw(st.integers(0, len(params) + 1), label="positional")
    names = data.draw(st.lists(st.sampled_from(params + ["tag", "x"]), unique=True,
                               max_size=len(params) + 1), label="keywords")
    args = values[:npos]
    kwargs = {k: values[params.index(k)] if k in params else 9 for k in names}
    try:
        bound = bind(name, params, args, kwargs)
    except TypeError as exc:
        want = ("raises", TypeError, str(exc))
        got, _ = outcome(getattr(S, name), *args, **kwargs)
        assert got == want
    else:
        check(name, bound, kwargs=None)
        got, got_warnings = outcome(getattr(S, name), *args, **kwargs)
        want, want_warnings = outcome(getattr(S, name), *bound)
        assert got[0] == want[0] and got_warnings == want_warnings
        assert got[1:] == want[1:] if got[0] == "raises" else same(got[1], want[1])


# --- re-entry without end -----------------------------------------------------

class Recursive:
    """Multiplying calls the module again with itself: recursion without end."""

    def __mul__(self, other):
        return S.DirStrMBew(self, other)

    __rmul__ = __mul__


@pytest.mark.parametrize("limit", [None, pytest.param(100_000, marks=pytest.mark.skipif(
    sys.version_info < (3, 12), reason="before 3.12 CPython has no guard of the C stack: "
    "a limit this high overflows it in plain Python code too"))])
def test_recursion_through_an_operator_ends_in_recursion_error(limit):
    """CPython's guard counts C levels, not bytes: the recursion runs on a
    thread with room for the guard's depth even in a sanitizer build."""
    saved_limit, saved_size = sys.getrecursionlimit(), threading.stack_size(64 << 20)
    outcome_of = []
    sys.setrecursionlimit(limit or saved_limit)
    try:
        worker = threading.Thread(
            target=lambda: outcome_of.append(outcome(S.DirStrMBew, Recursive(), 1)))
        worker.start()
        worker.join()
    finally:
        sys.setrecursionlimit(saved_limit)
        threading.stack_size(saved_size)
    (result, _), = outcome_of
    assert result[:2] == ("raises", RecursionError)
    assert S.DirStrMBew(800, 2) == 600.0


# --- numpy's own functions replaced --------------------------------------------

PATCHABLE = ["sin", "cos", "arcsin", "arctan", "radians", "degrees", "exp", "sqrt", "power",
             "maximum", "trunc", "array", "pi"]


def shifted(f):
    """f with every result moved by one: a replacement that shows."""
    return lambda *args: f(*args) + 1.0


@pytest.mark.parametrize("attr", PATCHABLE)
def test_replaced_numpy_functions_are_the_ones_called(attr):
    """`np.sin(x)` calls whatever numpy.sin is at that moment, on every path;
    and after numpy.sin is put back, numpy's own again."""
    entries = [e for name in NAMES for e in good(name, n=300) if not e[2]]
    saved = getattr(np, attr)
    for replacement in (3.0 if attr == "pi" else shifted(saved), saved):
        setattr(np, attr, replacement)
        try:
            for name, args, _ in entries:
                check(name, list(args))
        finally:
            setattr(np, attr, saved)
