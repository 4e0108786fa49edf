"""Speed of quarnel.comfort.utci against the UTCI polynomial of the peers.

On 10^6 elements of realistic inputs (a year of hourly weather at a
hundred-odd sites: air temperature, a mean radiant temperature up to 40 K
above it by day, wind at 10 m, vapour pressure, all inside the validity
domain), one process, interleaved rounds, best of each:

* quarnel.comfort.utci [°C, hPa];
* thermofeel.calculate_utci_polynomial: NumPy, air and radiant temperature
  in °C, vapour pressure in kPa, result in °C (its docstring says K; its
  calculate_utci adds the conversions to kelvin around it);
* pythermalcomfort.models.utci with relative humidity (its own saturation
  vapour pressure, the domain checks, a numba-compiled polynomial; no
  rounding), unless --no-pythermalcomfort or it is not installed.

The values are checked to agree (1e-9 relative) before any timing. Prints
the processor, the instruction-set level in force (QUARNEL_ISA caps it) and
the cores the process may use; the ratio is the peer's time over quarnel's.

    python benchmarks/utci.py [--n N] [--rounds R] [--no-pythermalcomfort]
"""

from __future__ import annotations

import argparse
import ctypes
import os
import platform
import time
import warnings
from collections.abc import Callable

import numpy as np
import numpy.typing as npt

from quarnel import _kernels, comfort

Array = npt.NDArray[np.float64]


def processor() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def usable_cores() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def keep_freed_memory() -> None:
    """Every implementation's outputs land on pages the process has (as in a
    long analysis), not on fresh ones whose faults decide the timings."""
    try:
        libc = ctypes.CDLL("libc.so.6")
    except OSError:
        return
    libc.mallopt(-3, 32 * 1024 * 1024)  # M_MMAP_THRESHOLD
    libc.mallopt(-1, 1 << 30)           # M_TRIM_THRESHOLD


def weather(n: int, seed: int = 20261207) -> tuple[Array, Array, Array, Array, Array]:
    """Ta [°C], Tmrt [°C], va [m/s], vapour pressure [hPa] and the relative
    humidity [%] that gives it, over a year of hours at many sites."""
    rng = np.random.default_rng(seed)
    hour = np.arange(n) % 8760
    day = 2 * np.pi * hour / 8760
    climate = rng.uniform(-15.0, 25.0, n)
    ta = np.clip(climate - 12 * np.cos(day) + 6 * np.sin(2 * np.pi * (hour % 24) / 24) +
                 rng.normal(0, 3, n), -45, 45)
    sun = np.clip(np.sin(2 * np.pi * ((hour % 24) - 6) / 24), 0, None)
    tmrt = ta + rng.uniform(-8.0, 5.0, n) + 35 * sun * rng.uniform(0, 1, n)
    va = np.clip(rng.weibull(2.0, n) * 4.5, 0.5, 17.0)
    # Saturation vapour pressure [hPa] as pythermalcomfort computes it, so
    # that both sides see the same vapour pressure.
    tk = ta + 273.15
    g = (-2836.5744, -6028.076559, 19.54263612, -0.02737830188, 0.000016261698, 7.0229056e-10,
         -1.8680009e-13)
    es = 2.7150305 * np.log(tk)
    for k, c in enumerate(g):
        es = es + c * tk ** (k - 2)
    es = np.exp(es) * 0.01
    # Humid, but below the domain's 50 hPa in the heat.
    rh = np.minimum(rng.uniform(20.0, 100.0, n), 100.0 * 48.0 / es)
    hpa = es * rh / 100.0
    return ta, tmrt, va, hpa, rh


def best(fn: Callable[[], object], rounds: int, repeats: int = 3) -> list[float]:
    return [min(_timed(fn) for _ in range(repeats)) for _ in range(rounds)]


def _timed(fn: Callable[[], object]) -> float:
    t0 = time.perf_counter()
    fn()
    return time.perf_counter() - t0


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=10**6)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--no-pythermalcomfort", action="store_true")
    args = parser.parse_args()
    keep_freed_memory()

    from thermofeel import calculate_utci_polynomial

    ta, tmrt, va, hpa, rh = weather(args.n)
    contenders: dict[str, Callable[[], object]] = {
        "quarnel.comfort.utci": lambda: comfort.utci(ta, tmrt, va, hpa),
        "thermofeel polynomial": lambda: calculate_utci_polynomial(ta, tmrt, va, hpa / 10.0),
    }
    ours = comfort.utci(ta, tmrt, va, hpa)
    assert not np.isnan(ours).any(), "inputs outside the domain"
    theirs = calculate_utci_polynomial(ta, tmrt, va, hpa / 10.0)
    assert np.allclose(ours, theirs, rtol=1e-9, atol=1e-9), "thermofeel disagrees"

    if not args.no_pythermalcomfort:
        try:
            from pythermalcomfort.models import utci as ptc_utci  # type: ignore[import-untyped,unused-ignore]
        except ImportError:
            print("pythermalcomfort not installed: left out")
        else:
            def ptc() -> object:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    return ptc_utci(ta, tmrt, va, rh, round_output=False).utci
            got = np.asarray(ptc(), dtype=np.float64)  # the first call compiles
            assert np.allclose(ours, got, rtol=1e-9, atol=1e-9), "pythermalcomfort disagrees"
            contenders["pythermalcomfort utci"] = ptc

    print(f"processor: {processor()}; ISA level {_kernels.isa} "
          f"(QUARNEL_ISA={os.environ.get('QUARNEL_ISA', 'unset')}); {usable_cores()} cores usable")
    print(f"{args.n} elements, values agree; best of 3 in each of {args.rounds} interleaved rounds")
    times: dict[str, list[float]] = {name: [] for name in contenders}
    for _ in range(args.rounds):
        for name, fn in contenders.items():
            times[name] += best(fn, 1)
    base = min(times["quarnel.comfort.utci"])
    print(f"{'':24} {'ms':>9} {'ns/elem':>9} {'x quarnel':>10}")
    for name, ts in times.items():
        t = min(ts)
        print(f"{name:24} {t * 1e3:9.2f} {t / args.n * 1e9:9.2f} {t / base:10.1f}")


if __name__ == "__main__":
    main()
