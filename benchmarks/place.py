"""Speed of quarnel.place against the Rust SOLWEIG package, side by side.

On a block city (blocks 40 m square split into 1-3 buildings 6-30 m high,
14 m streets, 1 m pixels), one process, the peer on its CPU path
(``solweig.disable_gpu()``), best of each:

* the sky view factor: quarnel.place.sky_view_factor (64 directions) and
  sky_view (with the four half skies) against
  solweig.rustalgos.skyview.calculate_svf (no vegetation; it returns the
  half skies too), on an N x N city (default 500);
* a shadow: quarnel.place.shadow against
  solweig.rustalgos.shadowing.calculate_shadows_wall_ht_25 (buildings
  only), on an M x M city (default 1000), at three sun positions.

The sky view factors are compared (mean difference, mean absolute
difference) and the shadows' agreement is printed before the times. Prints
the processor and the cores the process may use; the ratio is the peer's
time over quarnel's. Without solweig installed, quarnel alone.

    python benchmarks/place.py [--svf-size N] [--shadow-size M] [--rounds R]
"""

from __future__ import annotations

import argparse
import os
import platform
import time
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel import place

Array = npt.NDArray[np.float32]
SUNS = ((135.0, 40.0), (200.0, 25.0), (260.0, 12.0))


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
    except AttributeError:
        return os.cpu_count() or 1


def block_city(n: int, seed: int = 1) -> Array:
    rng = np.random.default_rng(seed)
    dsm = np.zeros((n, n), np.float32)
    block, street = 40, 14
    for r0 in range(street // 2, n, block + street):
        for c0 in range(street // 2, n, block + street):
            cuts = sorted(int(c) for c in rng.integers(5, block - 5, int(rng.integers(0, 3))))
            for a, b in zip([0, *cuts], [*cuts, block]):
                dsm[r0:r0 + block, c0 + a:c0 + b] = rng.uniform(6, 30)
    return dsm


def best(call: Callable[[], Any], rounds: int) -> float:
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--svf-size", type=int, default=500)
    parser.add_argument("--shadow-size", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    try:
        import solweig
    except ImportError:
        solweig = None
    print(f"{processor()}, {usable_cores()} usable cores of {os.cpu_count()}")

    n = args.svf_size
    dsm = block_city(n)
    zero = np.zeros_like(dsm)
    ours = place.sky_view_factor(dsm, 1.0)
    t_ours = best(lambda: place.sky_view_factor(dsm, 1.0), args.rounds)
    t_halves = best(lambda: place.sky_view(dsm, 1.0), args.rounds)
    print(f"\nsky view factor, {n} x {n} block city, 1 m pixels")
    if solweig is not None:
        solweig.disable_gpu()
        svf = solweig.rustalgos.skyview.calculate_svf

        def theirs_svf() -> Any:
            return svf(dsm, zero, zero, 1.0, False, float(dsm.max()))

        start = time.perf_counter()
        theirs = np.asarray(theirs_svf().svf)
        t_theirs = time.perf_counter() - start      # one round: it takes minutes on large cities
        d = ours - theirs
        print(f"  agreement: mean difference {d.mean():+.4f}, mean |difference| {np.abs(d).mean():.4f}")
        print(f"  solweig calculate_svf      {t_theirs:8.3f} s  ({t_theirs / dsm.size * 1e6:6.2f} µs/pixel)")
    print(f"  quarnel sky_view_factor    {t_ours:8.3f} s  ({t_ours / dsm.size * 1e6:6.2f} µs/pixel)"
          + (f"  {t_theirs / t_ours:6.1f}x" if solweig is not None else ""))
    print(f"  quarnel sky_view (halves)  {t_halves:8.3f} s  ({t_halves / dsm.size * 1e6:6.2f} µs/pixel)"
          + (f"  {t_theirs / t_halves:6.1f}x" if solweig is not None else ""))

    m = args.shadow_size
    city = block_city(m)
    print(f"\nshadow, {m} x {m} block city, 1 m pixels")
    for azimuth, elevation in SUNS:
        t_ours = best(lambda: place.shadow(city, 1.0, azimuth, elevation), 5 * args.rounds)
        line = f"  sun {azimuth:5.1f}° {elevation:4.1f}°: quarnel {t_ours * 1e3:7.1f} ms"
        if solweig is not None:
            cast = solweig.rustalgos.shadowing.calculate_shadows_wall_ht_25

            def theirs_shadow() -> Any:
                return cast(azimuth, elevation, 1.0, float(city.max()), city)

            agree = np.mean(place.shadow(city, 1.0, azimuth, elevation) == np.asarray(theirs_shadow().bldg_sh))
            t_theirs = best(theirs_shadow, args.rounds)
            line += f", solweig {t_theirs * 1e3:7.1f} ms  {t_theirs / t_ours:6.1f}x  (same state: {agree:.2%})"
        print(line)


if __name__ == "__main__":
    main()
