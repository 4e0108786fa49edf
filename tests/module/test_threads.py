"""Calls from many threads at once: every function on every path gives what
it gives on one thread, and an input array changed by another thread while
an array call runs without the GIL never crashes the process."""

import os
import signal
import sys
import threading
import time

import numpy as np
import pytest

import quarnel.Strahlwerk as S
from support.calls import NAMES, arrays, bad, call, good
from support import same_value

THREADS = 8


@pytest.fixture(autouse=True)
def switch_often():
    """Threads holding the GIL take turns every microsecond, not every 5 ms."""
    saved = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(saved)


def same_outcome(got, want):
    if isinstance(want, Exception):
        return type(got) is type(want) and str(got) == str(want)
    return same_value(got, want)


def run_together(work, n=THREADS):
    """Runs work(i) on n threads released at once; re-raises the first failure."""
    barrier = threading.Barrier(n)
    failures = []

    def body(i):
        try:
            barrier.wait()
            work(i)
        except BaseException as exc:  # noqa: BLE001 - reported below
            failures.append(exc)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if failures:
        raise failures[0]


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
def test_all_functions_on_all_paths_agree_with_one_thread():
    # Small arrays, and large ones that the array path splits over threads of its own.
    entries = [e for name in NAMES for e in good(name) + bad(name)]
    entries += [e for name in ["Zenitwinkel", "MittlStrTemp"] for e in arrays(name, n=320_000)]
    want = [call(e) for e in entries]

    def work(i):
        order = list(range(len(entries)))
        order = order[i:] + order[:i]  # each thread starts elsewhere
        for _ in range(2):
            for k in order:
                got = call(entries[k])
                assert same_outcome(got, want[k]), (entries[k][0], got, want[k])

    run_together(work)


def test_scalar_calls_from_eight_threads():
    """The native scalar path on every thread at once, many times over."""
    args = [(name, e[1]) for name in NAMES for e in good(name) if not e[2]
            and not any(isinstance(a, np.ndarray) for a in e[1])]
    want = [getattr(S, name)(*a) for name, a in args]

    def work(i):
        for _ in range(2000):
            for (name, a), w in zip(args, want):
                assert same_value(getattr(S, name)(*a), w), name

    run_together(work)


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
def test_rebinding_np_while_other_threads_call():
    """`np` swapped between numpy and a stand-in that answers the same: every
    call sees one or the other and gives the same outcome."""
    entries = [e for name in NAMES for e in good(name) + bad(name)]
    want = [call(e) for e in entries]

    class StandIn:
        def __getattr__(self, name):
            return getattr(np, name)

    stand_in = StandIn()

    finished = []

    def work(i):
        k = 0
        while i == 0 and len(finished) < THREADS - 1:
            S.np = stand_in if k % 2 else np
            k += 1
        try:
            for _ in range(3 if i else 0):
                for e, w in zip(entries, want):
                    got = call(e)
                    assert same_outcome(got, w), (e[0], got, w)
        finally:
            finished.append(i)

    try:
        run_together(work)
    finally:
        S.np = np


N = 1_000_000  # a call long enough (about 10 ms) for the other thread to act


def mutate_while_computing(mutate, compute, rounds=6):
    """Runs `compute` repeatedly while another thread applies `mutate` until it ends."""
    done = threading.Event()
    results, failures = [], []

    def mutator():
        k = 0
        while not done.is_set():
            try:
                mutate(k)
            except Exception as exc:  # noqa: BLE001
                failures.append(exc)
            k += 1

    t = threading.Thread(target=mutator)
    t.start()
    try:
        for _ in range(rounds):
            results.append(compute())
    finally:
        done.set()
        t.join()
    return results, failures


def test_rewriting_an_input_array_during_the_call():
    szeit = np.full(N, 10.0)
    old, new = S.Zenitwinkel(10.0, 52.5, 172), S.Zenitwinkel(14.0, 52.5, 172)

    def rewrite(k):
        szeit[:] = 14.0 if k % 2 else 10.0

    results, failures = mutate_while_computing(rewrite, lambda: S.Zenitwinkel(szeit, 52.5, 172))
    assert not failures
    for r in results:
        # Each element read the old value or the new one, never anything else.
        assert r.shape == (N,) and np.isin(r, [old, new]).all()


# Setting shape and dtype in place is deprecated in NumPy 2.5, yet still there.
@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.parametrize("how", ["resize", "reshape", "readonly", "view as int"])
def test_changing_an_input_array_during_the_call(how):
    arr = np.linspace(0, 24, N)
    want = S.Zenitwinkel(arr, 52.5, 172)
    try:
        arr.shape, arr.dtype = (N,), np.float64
    except (AttributeError, TypeError):
        pytest.skip("this NumPy no longer changes shape or dtype in place")

    def change(k):
        if how == "resize":
            arr.resize((N + 1 - k % 2,))  # refused while a call holds a reference
        elif how == "reshape":
            arr.shape = (N,) if k % 2 else (N // 2, 2)
        elif how == "readonly":
            arr.flags.writeable = bool(k % 2)
        else:
            arr.dtype = np.float64 if k % 2 else np.int64

    def compute():
        try:
            return S.Zenitwinkel(arr, 52.5, 172)
        except Exception as exc:  # noqa: BLE001 - e.g. int64 or a 2-D shape met mid-way
            return exc

    results, failures = mutate_while_computing(change, compute)
    assert all(isinstance(e, ValueError) and "resize" in str(e) for e in failures)
    assert all(isinstance(r, np.ndarray) for r in results)
    # Back as it was; the module computes on as before.
    arr.flags.writeable, arr.dtype = True, np.float64
    arr.resize((N,), refcheck=False)
    arr[:] = np.linspace(0, 24, N)
    assert same_value(S.Zenitwinkel(arr, 52.5, 172), want)


def run_in_fork(work, timeout=60):
    """Exit status of work() run in a forked child; fails if the child hangs."""
    pid = os.fork()
    if pid == 0:
        ok = False
        try:
            ok = work()
        finally:
            os._exit(0 if ok else 1)
    deadline = time.monotonic() + timeout
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        if time.monotonic() > deadline:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            pytest.fail("the forked child hung")
        time.sleep(0.001)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # fork of a process with threads
def test_array_calls_after_fork():
    """A forked child has none of its parent's worker threads, and no lock
    of the module's left held by one, even when the fork happens while
    another thread is in the middle of array calls."""
    arr = np.linspace(0, 24, 400_000)
    want = S.Zenitwinkel(arr, 52.5, 172)  # the parent's workers exist from here on
    tiny = arr[:3]

    assert run_in_fork(lambda: same_value(S.Zenitwinkel(arr, 52.5, 172), want)) == 0

    stop = threading.Event()

    def busy():  # mostly without the GIL, its parts on the pool's threads
        while not stop.is_set():
            S.Zenitwinkel(arr, 52.5, 172)

    t = threading.Thread(target=busy)
    t.start()
    try:
        for _ in range(150):
            assert run_in_fork(lambda: same_value(S.Zenitwinkel(tiny, 52.5, 172), want[:3]), timeout=20) == 0
        assert run_in_fork(lambda: same_value(S.Zenitwinkel(arr, 52.5, 172), want)) == 0
    finally:
        stop.set()
        t.join()
