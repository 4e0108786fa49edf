"""Helpers for comparing the module with the transcription: the complete
outcome of a call (value and type, or exception type and message, plus the
warnings it issued), and the inputs the differential tests draw."""

import math
import os
import pathlib
import warnings

import numpy as np
from hypothesis import strategies as st

import quarnel

#: the tests' folder and the repository's
TESTS = pathlib.Path(__file__).resolve().parents[1]
ROOT = TESTS.parent


def outcome(fn, *args, **kwargs):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            value = fn(*args, **kwargs)
        except Exception as exc:  # noqa: BLE001 - the exception is the outcome
            result = ("raises", type(exc), str(exc))
        else:
            result = ("returns", value)
    return result, [(w.category, str(w.message)) for w in caught]


def same_value(a, b):
    """Equal value and type, NaN equal to NaN, signed zeros told apart."""
    if type(a) is not type(b):
        return False
    if isinstance(a, np.ndarray):
        return a.dtype == b.dtype and a.shape == b.shape and all(
            same_value(x, y) for x, y in zip(a.ravel().tolist(), b.ravel().tolist())
        )
    if isinstance(a, (float, np.floating)):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    return a == b


def assert_same_outcome(fn, ref, *args):
    got, got_warnings = outcome(fn, *args)
    want, want_warnings = outcome(ref, *args)
    assert got[0] == want[0], (args, got, want)
    if got[0] == "raises":
        assert got[1:] == want[1:], (args, got, want)
    else:
        assert same_value(got[1], want[1]), (args, got[1], want[1])
    assert got_warnings == want_warnings, (args, got_warnings, want_warnings)


def as_one_element_array(x):
    """The same number wrapped in a one-element array: forces the generic path."""
    return np.array([x], dtype=np.float64)


# Scalars the native path takes: Python floats and small ints, numpy.float64.
def native_scalars(min_value=None, max_value=None):
    floats = st.floats(min_value=min_value, max_value=max_value, allow_nan=min_value is None,
                       allow_infinity=min_value is None)
    lo = -(2**53) + 1 if min_value is None else math.ceil(min_value)
    hi = 2**53 - 1 if max_value is None else math.floor(max_value)
    ints = st.integers(min_value=lo, max_value=hi)
    return st.one_of(floats, ints, floats.map(np.float64))


# Everything else a caller may plausibly pass as a number.
odd_numbers = st.one_of(
    st.integers(min_value=2**53, max_value=2**70),
    st.integers(min_value=-(2**1030), max_value=2**1030),
    st.sampled_from([math.nan, math.inf, -math.inf, 0.0, -0.0, True, False]),
    st.floats(width=32).map(np.float32),
    st.integers(min_value=-(2**40), max_value=2**40).map(np.int64),
    st.floats(allow_nan=False, allow_infinity=False).map(lambda x: np.array(x)),
    st.floats(allow_nan=False, allow_infinity=False).map(as_one_element_array),
)


def child_env():
    """The environment for a child interpreter that imports the very quarnel
    (and test helpers) this process imported."""
    paths = [os.path.dirname(os.path.dirname(quarnel.__file__)), str(TESTS)]
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(paths + [p for p in [env.get("PYTHONPATH")] if p])
    return env
