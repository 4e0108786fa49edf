"""Every function once on every path, for a run under a memory checker:
native scalars, the generic path (one-element arrays, odd objects, failures
and warnings) and the native array path (small arrays, strided and unaligned
ones, and one large enough to be split over threads)."""

import os
import sys
import warnings

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))

import quarnel.Strahlwerk as S  # noqa: E402
import quarnel.ufunc as U  # noqa: E402
from calls import NAMES, arrays, bad, call, good  # noqa: E402


def unaligned(a):
    b = np.ndarray(a.shape, np.float64, buffer=np.zeros(a.nbytes + 1, np.uint8), offset=1)
    b[...] = a
    return b


def main():
    entries = [e for name in NAMES for e in good(name, n=300) + bad(name)]
    entries += [(name, tuple(unaligned(a) if isinstance(a, np.ndarray) else a for a in args), kw)
                for name, args, kw in (e for name in NAMES for e in arrays(name, n=40))]
    entries += [(name, tuple(a[::3] if isinstance(a, np.ndarray) else a for a in args), kw)
                for name, args, kw in (e for name in NAMES for e in arrays(name, n=900))]
    entries += arrays("Zenitwinkel", n=320_000)  # split over threads
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        outcomes = [call(e) for e in entries]
    failed = sum(isinstance(o, Exception) for o in outcomes)
    print(f"smoke: {len(entries)} calls, {failed} raised as expected, module {S.__file__}")
    ufuncs()


def ufuncs():
    """Every ufunc on blocks whose elements part ways at every branch, with
    runs of equal values, strided, unaligned and aliased, and one array large
    enough to be split over threads."""
    rng = np.random.default_rng(1)
    special = np.array([0.0, -0.0, np.inf, -np.inf, np.nan, 5e-324, 1e308, 85.0, 90.0, 91.0, -0.9])
    count = 0
    with np.errstate(all="ignore"):
        for name in U.__all__:
            f = getattr(U, name)
            for n in (1, 7, 1500):
                args = []
                for i in range(f.nin):
                    x = rng.uniform(-20, 120, n)
                    x[rng.random(n) < 0.2] = rng.choice(special)
                    args.append(np.repeat(x, 24)[:n] if i % 2 else x)
                f(*args)
                f(*[a[::2] for a in args])
                f(*[unaligned(a) for a in args])
                f(*args, out=args[0])
                count += 4
        U.MaxDirekteStrahlung(172.0, 40.0, rng.uniform(0, 100, 320_000), 3.0, 2.0)
    print(f"smoke: {count + 1} ufunc calls, quarnel._ufunc {U._ufunc.__file__}")


if __name__ == "__main__":
    main()
