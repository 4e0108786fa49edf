"""Speed of quarnel.comfort's heat-stress indices against their peers, at
every instruction-set level, side by side.

PET: quarnel.comfort.pet (the VDI 3787 program's MEMI, solved exactly)
against the Rust SOLWEIG package's `solweig.rustalgos.pet.pet_grid` (the
same lineage, the program's stepping searches, parallel over a grid), on
the same elements: an urban grid of 300 x 300 cells, sunlit and shaded, for
twelve hours of a year at a mid-latitude site (air temperature and humidity
one per hour, mean radiant temperature and wind at 1.1 m per cell). Both
take the standard person of VDI 3787-2; SOLWEIG's function takes relative
humidity, quarnel the vapour pressure from it by the Magnus form that
reproduces SOLWEIG's values (6.107 * 10^(7.5 t / (238 + t)) hPa). Each
hour's grid is one call of each; SOLWEIG's grids are float32 (its input
type), quarnel's float64. The values are checked to agree before any
timing (0.1 K, allowing for the program's 0.001 K steps where PET is
steepest, and the rare elements SOLWEIG's search does not settle).

The parent process runs one child per level (QUARNEL_ISA = baseline, avx2,
avx512; a level above the processor's falls back to it, as the child
reports) and prints the children's timings in one table. Each child times
interleaved rounds, best of each, on all the cores the process may use.

    python benchmarks/indices.py [--hours N] [--cells N] [--rounds R]
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import subprocess
import sys
import time
from collections.abc import Callable
from typing import NamedTuple

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[np.float64]
LEVELS = ("baseline", "avx2", "avx512")
PERSON = (75.0, 35.0, 1.75, 80.0, 0.9, 1)  # SOLWEIG's order: mass, age, height, activity, clothing, sex


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


def magnus(ta: float) -> float:
    """Saturation vapour pressure [hPa] by which SOLWEIG's PET reads relative humidity."""
    return float(6.107 * 10.0 ** (7.5 * ta / (238.0 + ta)))


def hours(n: int, seed: int = 20260705) -> list[tuple[float, float]]:
    """(air temperature [°C], relative humidity [%]) of n daytime hours spread
    over a year: cold and humid in winter, hot and drier in summer."""
    rng = np.random.default_rng(seed)
    season = np.cos(2 * np.pi * (np.arange(n) + 0.5) / n)  # 1 in mid-winter
    ta = 12.0 - 14.0 * season + rng.normal(0.0, 3.0, n)
    rh = np.clip(65.0 + 15.0 * season + rng.normal(0.0, 8.0, n), 15.0, 100.0)
    return [(float(t), float(h)) for t, h in zip(ta, rh)]


def city(cells: int, ta: float, seed: int) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.float32]]:
    """Mean radiant temperature [°C] and wind at 1.1 m [m/s] of a square grid:
    40 % of it shaded, the sunlit cells 10-35 K above the air, calm streets
    and windy squares."""
    rng = np.random.default_rng(seed)
    side = int(round(cells ** 0.5))
    shaded = rng.uniform(0.0, 1.0, (side, side)) < 0.4
    tmrt = ta + np.where(shaded, rng.uniform(-4.0, 3.0, shaded.shape), rng.uniform(10.0, 35.0, shaded.shape))
    wind = np.clip(rng.weibull(2.0, shaded.shape) * 1.6, 0.1, 8.0)
    return tmrt.astype(np.float32), wind.astype(np.float32)


class Hour(NamedTuple):
    ta: float                        # [°C]
    rh: float                        # [%]
    tmrt32: npt.NDArray[np.float32]  # SOLWEIG's inputs
    wind32: npt.NDArray[np.float32]
    tmrt: Array                      # quarnel's
    wind: Array
    vapour: float                    # [hPa]


def best(fn: Callable[[], object], repeats: int) -> float:
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def child(args: argparse.Namespace) -> None:
    """One level: check the values, time both, print one JSON line."""
    from quarnel import _kernels, comfort
    from solweig.rustalgos import pet as solweig_pet  # type: ignore[import-untyped]

    cases = []
    for k, (ta, rh) in enumerate(hours(args.hours)):
        tmrt32, wind32 = city(args.cells, ta, seed=k)
        cases.append(Hour(ta, rh, tmrt32, wind32, tmrt32.astype(np.float64), wind32.astype(np.float64),
                          rh / 100.0 * magnus(ta)))

    def ours(c: Hour) -> Array:
        return np.asarray(comfort.pet(c.ta, c.tmrt, c.wind, c.vapour), dtype=np.float64)

    def theirs(c: Hour) -> Array:
        return np.asarray(solweig_pet.pet_grid(c.ta, c.rh, c.tmrt32, c.wind32, *PERSON), dtype=np.float64)

    worst, off = 0.0, 0
    for c in cases:
        d = np.abs(ours(c) - theirs(c))
        worst = max(worst, float(d.max()))
        off += int((d > 0.1).sum())
    total = len(cases) * cases[0].tmrt.size
    assert off <= total // 10_000, f"{off} of {total} elements differ by more than 0.1 K"

    t_ours = [0.0] * len(cases)
    t_theirs = [0.0] * len(cases)
    for r in range(args.rounds):
        for k, c in enumerate(cases):
            a = best(lambda: ours(c), 2)
            b = best(lambda: theirs(c), 1)
            t_ours[k] = a if r == 0 else min(t_ours[k], a)
            t_theirs[k] = b if r == 0 else min(t_theirs[k], b)
    print(json.dumps({
        "isa": _kernels.isa, "elements": total, "quarnel": sum(t_ours), "solweig": sum(t_theirs),
        "worst": worst, "off": off,
        "hours": [(c.ta, c.rh, a, b) for c, a, b in zip(cases, t_ours, t_theirs)],
    }))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hours", type=int, default=12)
    parser.add_argument("--cells", type=int, default=300 * 300)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--by-hour", action="store_true", help="also print each hour's ratio")
    args = parser.parse_args()
    if args.child:
        child(args)
        return

    results = {}
    for level in LEVELS:
        env = dict(os.environ, QUARNEL_ISA=level)
        run = subprocess.run([sys.executable, __file__, "--child", "--hours", str(args.hours), "--cells",
                              str(args.cells), "--rounds", str(args.rounds)],
                             env=env, capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"level {level} failed:\n{run.stderr}")
        results[level] = json.loads(run.stdout.strip().splitlines()[-1])

    first = results[LEVELS[0]]
    print(f"processor: {processor()}; {usable_cores()} cores usable")
    print(f"PET of the standard person, {first['elements']:,} elements ({args.hours} hours x {args.cells:,} cells); "
          f"best of {args.rounds} interleaved rounds per level")
    print(f"values: largest difference {first['worst']:.3f} K, {first['off']} elements beyond 0.1 K")
    print(f"{'QUARNEL_ISA':30}" + "".join(f"{lvl:>10}" for lvl in LEVELS))
    print(f"{'level in force':30}" + "".join(f"{results[lvl]['isa']:>10}" for lvl in LEVELS))
    n = first["elements"]
    for name, label in (("quarnel", "quarnel.comfort.pet"), ("solweig", "solweig pet_grid")):
        print(f"{label + ' [ns/elem]':30}" + "".join(f"{results[lvl][name] / n * 1e9:10.0f}" for lvl in LEVELS))
    print(f"{'solweig / quarnel':30}" + "".join(f"{results[lvl]['solweig'] / results[lvl]['quarnel']:9.1f}x"
                                                for lvl in LEVELS))
    if args.by_hour:
        print("per hour (first level): Ta [°C], RH [%], ratio")
        for ta, rh, a, b in first["hours"]:
            print(f"  {ta:6.1f} {rh:6.1f} {b / a:8.1f}x")


if __name__ == "__main__":
    main()
