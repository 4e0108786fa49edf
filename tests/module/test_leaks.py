"""Every function, on good and bad arguments and on every path, called over
and over: allocated blocks and the memory tracemalloc traces (NumPy's array
data included) stay flat.

QUARNEL_LEAK_CALLS sets the calls per function (100,000 by default);
QUARNEL_LEAK_RSS=1 adds a run of one million calls that must leave the
resident memory flat.
"""

import collections
import gc
import itertools
import os
import sys
import tracemalloc
import warnings

import numpy as np
import pytest

import quarnel.Strahlwerk as S
from support.calls import NAMES, bad, good
from support.helpers_np import module_np, module_without_np

CALLS = int(os.environ.get("QUARNEL_LEAK_CALLS", "100000"))


def raises(fn, args, kwargs):
    try:
        fn(*args, **kwargs)
    except Exception:  # noqa: BLE001
        return True
    return False


def hammer(entries, n):
    """About n calls in all, spread evenly over the entries."""
    each = max(1, n // len(entries))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for name, args, kwargs in entries:
            fn = getattr(S, name)
            if kwargs or raises(fn, args, kwargs):
                for _ in range(each):
                    try:
                        fn(*args, **kwargs)
                    except Exception:  # noqa: BLE001
                        pass
            else:
                collections.deque(itertools.starmap(fn, itertools.repeat(args, each)), maxlen=0)


def shared_objects(entries):
    """The objects every call sees again: arguments, functions, numpy. A
    reference kept on one of them allocates nothing, so it is counted; not
    None, small ints or strings, which the interpreter shares everywhere."""
    objects = [vars(S).get("np"), np] + [getattr(S, name) for name in NAMES]
    for _, args, kwargs in entries:
        objects += list(args) + list(kwargs.values())
    return list({id(o): o for o in objects if not isinstance(o, (int, str, type(None)))}.values())


def growth(entries, n, batches=2):
    """What n calls after a warm-up leave behind, measured over `batches`
    batches, each counted separately: the allocated blocks and traced bytes
    gained in the batch that gained least (a leak gains in every batch,
    caches and free lists filling up do not), the objects that gained
    references in every batch, and the lines that gained most memory."""
    warm = 20 * len(entries)
    hammer(entries, warm)
    objects = shared_objects(entries)
    gains, kept = [], set(range(len(objects)))
    tracemalloc.start()
    try:
        hammer(entries, warm)
        before = tracemalloc.take_snapshot()
        for _ in range(batches):
            gc.collect()
            refs = [sys.getrefcount(o) for o in objects]
            blocks, traced = sys.getallocatedblocks(), tracemalloc.get_traced_memory()[0]
            hammer(entries, n // batches)
            gc.collect()
            gains.append((sys.getallocatedblocks() - blocks,
                          tracemalloc.get_traced_memory()[0] - traced))
            after = [sys.getrefcount(o) for o in objects]
            kept &= {i for i in range(len(objects)) if after[i] > refs[i]}
        top = [str(s) for s in tracemalloc.take_snapshot().compare_to(before, "lineno")[:5]]
    finally:
        tracemalloc.stop()
    blocks, traced = min(g[0] for g in gains), min(g[1] for g in gains)
    return blocks, traced, [repr(objects[i])[:60] for i in sorted(kept)], top


def assert_flat(entries, n):
    """A leak of one object per call on any one entry fails this."""
    per_entry = n // 2 // len(entries)
    blocks, traced, referenced, top = growth(entries, n)
    assert not referenced, ("references kept on", referenced)
    assert blocks < max(200, per_entry // 2), (blocks, top)
    assert traced < max(16 * 1024, 12 * per_entry), (traced, top)


@pytest.mark.parametrize("name", NAMES)
def test_calls_leave_memory_flat(name):
    assert_flat(good(name) + bad(name), CALLS)


class StandIn:
    """Answers like numpy, but is not numpy: every call takes the generic path."""

    def __getattr__(self, name):
        return getattr(np, name)


@pytest.mark.parametrize("binding", ["stand-in", "missing"])
def test_np_rebound_or_missing_leaves_memory_flat(binding):
    entries = [e for name in NAMES for e in good(name) + bad(name)]
    with module_np(StandIn()) if binding == "stand-in" else module_without_np():
        assert_flat(entries, max(2000, CALLS // 2))


def test_array_path_on_several_threads_leaves_memory_flat():
    """Arrays large enough to be split over threads, each with its own scratch."""
    assert_flat([("Zenitwinkel", (np.linspace(0, 24, 400_000), 52.5, 172), {})],
                max(20, CALLS // 2000))


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(os.environ.get("QUARNEL_LEAK_RSS") != "1",
                    reason="one million calls: set QUARNEL_LEAK_RSS=1")
@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_one_million_calls_leave_resident_memory_flat():
    entries = [e for name in NAMES for e in good(name) + bad(name)]
    big = [("Zenitwinkel", (np.linspace(0, 24, 400_000), 52.5, 172), {})]
    hammer(entries, 100_000)
    hammer(big, 50)
    gc.collect()
    start = resident_bytes()
    for _ in range(10):
        hammer(entries, 100_000)
        hammer(big, 50)
    gc.collect()
    assert resident_bytes() - start < 4 << 20
