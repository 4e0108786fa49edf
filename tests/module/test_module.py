"""The module's surface: namespace, function objects, binding, tracebacks."""

import copy
import gc
import importlib
import inspect
import pickle
import sys
import traceback
import warnings

import numpy as np
import pytest

import quarnel.Strahlwerk as S
from support.module_surface import PUBLIC
from support.helpers_np import module_without_np

BOUND = PUBLIC  # every one: a function that goes missing fails, not skips


def entries(exc):
    return [(f.name, f.lineno) for f in traceback.extract_tb(exc.__traceback__)
            if f.name.startswith("quarnel.")]


def test_namespace_in_order():
    names = list(vars(S))
    start = names.index("__builtins__")
    assert names[start:] == ["__builtins__", "np"] + [n for n, _, _ in BOUND] + ["__test__"]
    assert S.__builtins__ is __import__("builtins")
    assert S.np is np and S.__test__ == {}
    assert S.__name__ == "quarnel.Strahlwerk" and S.__doc__ is None
    assert S.__file__ and S.__package__ == "quarnel"


def test_import_twice_gives_the_same_module():
    again = importlib.import_module("quarnel.Strahlwerk")
    assert again is S
    saved = sys.modules.pop("quarnel.Strahlwerk")
    try:
        assert importlib.import_module("quarnel.Strahlwerk") is S
    finally:
        sys.modules["quarnel.Strahlwerk"] = saved


@pytest.mark.parametrize("name,params,first_line", BOUND)
def test_function_attributes(name, params, first_line):
    f = getattr(S, name)
    assert (f.__name__, f.__qualname__, f.__module__) == (name, name, "quarnel.Strahlwerk")
    assert f.__defaults__ is None and f.__kwdefaults__ is None
    assert list(inspect.signature(f).parameters) == params
    code = f.__code__
    assert code.co_argcount == len(params) and code.co_varnames[: len(params)] == tuple(params)
    assert code.co_firstlineno == first_line
    assert code.co_filename.startswith("src/quarnel/Strahlwerk")
    assert pickle.loads(pickle.dumps(f)) is f
    assert copy.copy(f) is f and copy.deepcopy(f) is f
    f.__dict__["note"] = 1
    assert f.note == 1
    del f.note
    # On a class it binds like a Python function (stubtest relies on it).
    holder = type("Holder", (), {"f": f})
    assert holder.f is f and holder().f.__func__ is f


def test_sonnenzeit_locals_list_the_inner_function_twice():
    assert S.Sonnenzeit.__code__.co_varnames == (
        "szeit", "zeitzone", "laenge", "dayofyear", "ERS", "ERS", "zonezeit", "zzeit", "s", "Result")
    assert S.Sonnenzeit.__doc__ is None


@pytest.mark.parametrize("call,message", [
    (lambda: S.Sonnenzeit(1, 2, 3), "Sonnenzeit() takes exactly 4 positional arguments (3 given)"),
    (lambda: S.Sonnenzeit(1, 2, 3, 4, 5),
     "Sonnenzeit() takes exactly 4 positional arguments (5 given)"),
    (lambda: S.Sonnenzeit(1, 2, 3, 4, szeit=1),
     "Sonnenzeit() takes exactly 4 positional arguments (5 given)"),
    (lambda: S.Sonnenzeit(1, 2, 3, szeit=1),
     "Sonnenzeit() got multiple values for keyword argument 'szeit'"),
    (lambda: S.Sonnenzeit(szeit=1, laenge=2, dayofyear=3),
     "Sonnenzeit() takes exactly 4 positional arguments (1 given)"),
    (lambda: S.Sonnenzeit(1, 2, 3, tag=4),
     "Sonnenzeit() got an unexpected keyword argument 'tag'"),
    (lambda: S.Sonnenzeit(), "Sonnenzeit() takes exactly 4 positional arguments (0 given)"),
])
def test_binding_failures(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    assert entries(info.value) == [("quarnel.Strahlwerk.Sonnenzeit", 6)]


def test_binding_by_keyword_in_any_order():
    want = S.Sonnenzeit(10.5, 1, 15, 100)
    assert S.Sonnenzeit(10.5, 1, 15, dayofyear=100) == want
    assert S.Sonnenzeit(dayofyear=100, laenge=15, zeitzone=1, szeit=10.5) == want
    # A keyword name equal to, but not the same object as, the parameter name.
    name = "".join(["day", "ofyear"])
    assert S.Sonnenzeit(10.5, 1, 15, **{name: 100}) == want


def test_one_parameter_message_is_singular():
    if not hasattr(S, "RelOptLuftmasse"):
        pytest.skip("RelOptLuftmasse not bound yet")
    with pytest.raises(TypeError, match=r"^RelOptLuftmasse\(\) takes exactly 1 positional "
                                        r"argument \(0 given\)$"):
        S.RelOptLuftmasse()


def test_inner_entry_follows_outer_entry():
    with pytest.raises(TypeError) as info:
        S.Sonnenzeit(1, 2, 3, "x")
    names = [name for name, _ in entries(info.value)]
    assert names == ["quarnel.Strahlwerk.Sonnenzeit", "quarnel.Strahlwerk.Sonnenzeit.ERS"]


# Functions whose formulas call no NumPy function never look up `np`.
WITHOUT_NUMPY = {"DirStrMBew", "OberflTemp"}


@pytest.mark.parametrize("name,params,first_line",
                         [entry for entry in BOUND if entry[0] not in WITHOUT_NUMPY])
def test_without_np_every_function_raises_name_error(name, params, first_line):
    f = getattr(S, name)
    with module_without_np(), pytest.raises(NameError) as info:
        f(*[1.0] * len(params))
    assert str(info.value) == "name 'np' is not defined"
    assert entries(info.value)[0][0] == "quarnel.Strahlwerk." + name


def test_np_from_builtins_when_missing_from_the_module():
    import builtins
    with module_without_np():
        builtins.np = np
        try:
            assert S.Sonnenzeit(12, 1, 15, 81) == 12.0
        finally:
            del builtins.np


def test_failures_keep_no_references():
    """Good and bad calls, native and generic, leave no allocated blocks behind."""
    calls = [
        lambda: S.Sonnenzeit(12.5, 1, 15, 81),
        lambda: S.Sonnenzeit(np.float64(3), 1, 15.0, 200),
        lambda: S.Sonnenzeit(np.array([12.5]), 1, 15, 81),
        lambda: S.Sonnenzeit(1, 2, 3),
        lambda: S.Sonnenzeit(1, 2, 3, "x"),
        lambda: S.Sonnenzeit(np.array([1.0, 2.0]), 1, 15, 81),
        lambda: S.Sonnenzeit(1, 2, 3, dayofyear=4, x=5),
    ]
    pair = np.array([1.0, 2.0])
    calls += [call for name, call in [
        ("DirStrMBew", lambda: S.DirStrMBew(pair, "3")),
        ("AtmosGegenstr", lambda: S.AtmosGegenstr(pair, 10, -1)),
        ("OberflTemp", lambda: S.OberflTemp(500, pair, 2, 0)),
        ("OberflTemp", lambda: S.OberflTemp(np.array([500.0]), 20, 2, -5)),
        ("OberflTemp", lambda: S.OberflTemp(500.0, 20.0, -6.2 / 4.26, 1.0)),
        ("MittlStrTemp", lambda: S.MittlStrTemp(30, 150, 400, 300, 100, 600, None, 0.3, None)),
        ("MittlStrTemp", lambda: S.MittlStrTemp(pair, 1, 2, 3, 4, "5", None, 0.3, None)),
    ] if hasattr(S, name)]

    def run(n):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for _ in range(n):
                for call in calls:
                    try:
                        call()
                    except Exception:  # noqa: BLE001
                        pass

    run(2000)
    gc.collect()
    before = sys.getallocatedblocks()
    run(20000)
    gc.collect()
    assert sys.getallocatedblocks() - before < 50


# --- result objects ----------------------------------------------------------

@pytest.mark.parametrize("name, args", [
    ("DirStrMBew", lambda x: (750.0 + x, 3.0)),                # float
    ("Zenitwinkel", lambda x: (10.5 + x / 8, 52.5, 172)),      # numpy.float64
])
def test_results_still_held_keep_their_values(name, args):
    """Results are objects of their own: one held by a variable, a list or
    the next call's arguments never changes, and the module keeps no
    reference to it."""
    from support import oracle

    fn, ref = getattr(S, name), getattr(oracle, name)
    assert sys.getrefcount(fn(*args(0))) == 2  # the call's and getrefcount's own
    want = [ref(*args(x)) for x in range(40)]
    kept, previous = [], None
    for x, w in enumerate(want):
        got = fn(*args(x))
        fn(*args(x + 0.5))  # let go of at once
        assert type(got) is type(w) and got == w
        assert previous is None or previous == want[x - 1]
        if x % 3 == 0:
            kept.append(got)
        previous = got
    assert kept == want[::3]
    inner = fn(*args(1))
    rest = args(1)[1:]
    assert fn(inner, *rest) == ref(ref(*args(1)), *rest) and inner == want[1]


def test_results_are_whole_objects_of_their_allocator():
    """numpy.float64 results come from the module without NumPy's allocator
    call: under CPython's debug allocator, which checks every block's domain
    and guard bytes when it is freed, results freed by NumPy and kept,
    pickled and summed must all be sound, and tracemalloc must see each
    one's memory."""
    from support.calls import TYPICAL
    from support import child_env

    script = """
import pickle, sys, tracemalloc
import numpy as np
import quarnel.Strahlwerk as S
from support.calls import TYPICAL
tracemalloc.start()
kept = []
for name, cases in TYPICAL.items():
    fn = getattr(S, name)
    for args in cases:
        for i in range(2000):
            r = fn(*args)
        kept.append(r)
        assert type(r) in (float, int, np.float64, np.int64), (name, type(r))
        assert pickle.loads(pickle.dumps(r)) == r and hash(r) == hash(float(r))
r = S.Zenitwinkel(11.2, 52.5, 172)
assert type(r) is np.float64 and sys.getrefcount(r) == 2
assert tracemalloc.get_object_traceback(r) is not None
print(sum(float(k) for k in kept))
"""
    import subprocess

    env = dict(child_env(), PYTHONMALLOC="debug")
    proc = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True)
    assert proc.returncode == 0, proc.stderr
    assert float(proc.stdout) == pytest.approx(sum(
        float(getattr(S, name)(*args)) for name, cases in TYPICAL.items() for args in cases))


# Python ints of one digit are converted inline, larger ones by a call.
DIGIT = 2**30


@pytest.mark.parametrize("value", [0, 1, -1, DIGIT - 1, DIGIT, -(DIGIT - 1), -DIGIT, 2 * DIGIT + 3,
                                   -(2 * DIGIT), 2**53 - 1, 2**53, True])
@pytest.mark.parametrize("name, args, position", [
    ("Sonnenzeit", (10.5, 1, 13.4, 172), 1),
    ("Sonnenzeit", (10.5, 1, 13.4, 172), 3),
    ("DirStrMBew", (800.0, 3), 0),
    ("DirStrMBew", (800.0, 3), 1),
    ("OberflTemp", (500.0, 20.0, 2.0, 1.0), 0),
])
def test_int_arguments_either_side_of_one_digit(name, args, position, value):
    from support import oracle
    from support import assert_same_outcome

    args = list(args)
    args[position] = value
    assert_same_outcome(getattr(S, name), getattr(oracle, name), *args)
