"""Solar time: the documented values, and the two evaluation paths against
the transcription."""

import math

import numpy as np
import pytest
from hypothesis import given, strategies as st

from support import oracle
import quarnel.Strahlwerk as S
from support.helpers_np import RecordingNumpy, module_np
from support import assert_same_outcome, native_scalars, odd_numbers, same_value


@pytest.mark.parametrize("args,want", [
    ((12, 1, 15, 81), 12.0),
    ((23.95, 1, 15, 81), 23.95),
    ((24, 0, 0, 81), 24.0),
    ((-30, 0, 0, 81), 18.0),
])
def test_documented_values(args, want):
    got = S.Sonnenzeit(*args)
    assert type(got) is np.float64 and got == want


def test_equation_of_time_through_the_wrap():
    # zonezeit = 0 exactly stays; 24 exactly becomes 0.0: ERS(81) is -0.1255.
    assert S.Sonnenzeit(-0.1255, 0, 0, 81) == oracle.Sonnenzeit(-0.1255, 0, 0, 81)
    assert S.Sonnenzeit(23.8745, 0, 0, 81) == oracle.Sonnenzeit(23.8745, 0, 0, 81)


def test_nan_in_nan_out():
    assert math.isnan(S.Sonnenzeit(math.nan, 1, 15, 81))
    assert math.isnan(S.Sonnenzeit(12, 1, 15, math.nan))


def test_arrays_fail_at_the_first_wrap_only_outside_the_inner_function():
    with pytest.raises(ValueError, match="truth value of an array"):
        S.Sonnenzeit(12, 1, 15, np.array([80, 81]))


def test_np_lookups_match_the_transcription():
    mine, ref = RecordingNumpy(), RecordingNumpy()
    with module_np(mine):
        S.Sonnenzeit(12.5, 1, 15, 100)
    with oracle.use_np(ref):
        oracle.Sonnenzeit(12.5, 1, 15, 100)
    assert mine.asked == ref.asked == ["pi", "sin", "cos", "sin"] * 2


@given(native_scalars(), native_scalars(), native_scalars(), native_scalars())
def test_native_path_matches_transcription(szeit, zeitzone, laenge, dayofyear):
    assert_same_outcome(S.Sonnenzeit, oracle.Sonnenzeit, szeit, zeitzone, laenge, dayofyear)


@given(st.lists(st.one_of(native_scalars(), odd_numbers, st.sampled_from([None, "12", [1.0]])),
                min_size=4, max_size=4))
def test_any_arguments_match_transcription(args):
    assert_same_outcome(S.Sonnenzeit, oracle.Sonnenzeit, *args)


@given(st.floats(-48, 72), st.floats(-14, 14), st.floats(-180, 180), st.integers(1, 366))
def test_native_and_generic_paths_agree(szeit, zeitzone, laenge, dayofyear):
    native = S.Sonnenzeit(szeit, zeitzone, laenge, dayofyear)
    generic = S.Sonnenzeit(np.array([szeit]), zeitzone, laenge, dayofyear)
    assert same_value(np.float64(generic[0]), native)
