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


if __name__ == "__main__":
    main()
