"""The ufuncs under stress: odd objects in every position, many threads at
once, many calls (no memory kept), a fork while the worker threads run."""

import gc
import os
import threading
import tracemalloc
import warnings

import numpy as np
import pytest

import quarnel.ufunc as U

ARGS = {
    "Sonnenzeit": (13.0, 1.0, 16.4, 172.0),
    "Zenitwinkel": (10.5, 52.5, 172.0),
    "Azimutwinkel": (10.5, 52.5, 172.0),
    "LinkeTruebung": (172.0, 52.5, 60.0),
    "RelOptLuftmasse": (63.2,),
    "MaxDirekteStrahlung": (172.0, 35.0, 40.0, 3.5, 1.3),
    "MaxGlobalstrahlung": (172.0, 35.0, 40.0, 3.5),
    "DirStrMBew": (750.0, 3.0),
    "AtmosGegenstr": (18.5, 12.3, 4.0),
    "OberflTemp": (420.0, 21.5, 2.3, 0.8),
    "MittlStrTemp": (35.0, 150.0, 400.0, 320.0, 110.0, 600.0, 0.3),
}
ODD = ["7", None, object(), 1 + 2j, [1.0, "x"], np.array(["a"]), np.array([1, 2], dtype=object),
       np.datetime64("2020-01-01"), {}, b"1"]


@pytest.mark.parametrize("name", list(ARGS))
def test_odd_objects_in_every_position_raise_type_errors(name):
    f = getattr(U, name)
    good = ARGS[name]
    for i in range(len(good)):
        for odd in ODD:
            args = list(good)
            args[i] = odd
            with pytest.raises((TypeError, ValueError)):
                f(*args)
    with pytest.raises(TypeError):
        f(*good[:-1])
    if len(good) > 1:
        with pytest.raises(ValueError):
            f(*[np.zeros(3)] * (len(good) - 1), np.zeros(4))  # shapes that do not broadcast
    # the ufunc still works afterwards
    assert np.isfinite(f(*good))


def test_many_threads_at_once_agree_with_one():
    rng = np.random.default_rng(9)
    n = 50_000
    z = rng.uniform(-5, 100, n)
    day = np.repeat(np.arange(1.0, 366.0), 140)[:n]
    want = U.MaxDirekteStrahlung(day, 40.0, z, U.LinkeTruebung(day, 10.0, z), U.RelOptLuftmasse(z))
    results, errors = [], []

    def work():
        try:
            for _ in range(5):
                results.append(U.MaxDirekteStrahlung(day, 40.0, z, U.LinkeTruebung(day, 10.0, z),
                                                     U.RelOptLuftmasse(z)))
        except Exception as exc:  # noqa: BLE001
            errors.append(exc)

    threads = [threading.Thread(target=work) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors and len(results) == 40
    assert all(np.array_equal(r, want, equal_nan=True) for r in results)


def test_repeated_calls_keep_no_memory():
    rng = np.random.default_rng(4)
    arrays = {name: [rng.uniform(0, 100, 3000) if i == 0 else a for i, a in enumerate(args)]
              for name, args in ARGS.items()}

    def round_():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for name, args in arrays.items():
                getattr(U, name)(*args)
                getattr(U, name)(*ARGS[name])
                try:
                    getattr(U, name)(*["x"] * len(args))
                except TypeError:
                    pass

    for _ in range(20):
        round_()
    gc.collect()
    tracemalloc.start()
    base = tracemalloc.get_traced_memory()[0]
    for _ in range(200):
        round_()
    gc.collect()
    grown = tracemalloc.get_traced_memory()[0] - base
    tracemalloc.stop()
    assert grown < 64 * 1024, grown


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@pytest.mark.filterwarnings("ignore::DeprecationWarning")
def test_a_forked_child_computes_large_arrays():
    z = np.linspace(0, 100, 400_000)
    want = U.RelOptLuftmasse(z)  # the worker threads have run
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        ok = np.array_equal(U.RelOptLuftmasse(z), want)
        os.write(w, b"1" if ok else b"0")
        os._exit(0)
    os.close(w)
    got = os.read(r, 1)
    os.waitpid(pid, 0)
    assert got == b"1"
