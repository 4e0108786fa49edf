"""Speed of quarnel.comfort.wbgt against the peers' Liljegren WBGT.

On realistic inputs (hourly weather at many sites over a year: air
temperature, relative humidity, pressure, wind at 10 m, global radiation
with its direct share and the sun's cos z, nights included), one process,
interleaved rounds, best of each:

* quarnel.comfort.wbgt [°C, hPa, wind at 2 m], timed at every
  instruction-set level up to the processor's (QUARNEL_ISA, each in a
  child process on the same elements);
* thermofeel.calculate_wbgt_liljegren: the NumPy port, from the wind at
  10 m (it brings the wind to 2 m itself; quarnel gets the 2 m wind
  thermofeel.liljegren.wind_speed_2m gives, the same elements);
* pywbgt.liljegren.globe_temperature + natural_wetbulb: the authors' C
  code through Cython, per element on a subset (it is slow), unless
  --no-pywbgt or it is not installed.

The values are checked to agree (0.05 K, the authors' code stops its
iterations within a few hundredths of a kelvin of the root) before any
timing. Prints the processor, the cores the process may use; the ratio
is the peer's time over quarnel's, one column per level.

    python benchmarks/wbgt.py [--n N] [--rounds R] [--no-pywbgt]
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import time
import warnings
from collections.abc import Callable

import numpy as np
import numpy.typing as npt

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from utci import best, keep_freed_memory, processor, usable_cores  # noqa: E402

from quarnel import comfort  # noqa: E402

Array = npt.NDArray[np.float64]
LEVELS = ("baseline", "avx2", "avx512")


def buck(ta: Array) -> Array:
    """Saturation vapour pressure [hPa] as Liljegren et al. compute it (Buck 1981, × 1.004)."""
    return np.asarray(1.004 * 6.1121 * np.exp(17.502 * ta / (ta + 240.97)))


def weather(n: int, seed: int = 20261208) -> dict[str, Array]:
    """A year of hours at many mid-latitude sites, inside thermofeel's guards
    (10 m wind at least 0.62 m/s, direct share at most 0.9)."""
    rng = np.random.default_rng(seed)
    hour = np.arange(n) % 8760
    day = 2 * np.pi * hour / 8760
    local = hour % 24
    lat = np.radians(rng.uniform(25.0, 60.0, n))
    decl = np.radians(23.44) * np.sin(day - 1.39)
    cz = np.sin(lat) * np.sin(decl) + np.cos(lat) * np.cos(decl) * np.cos(2 * np.pi * (local - 12) / 24)
    clear = 1367 * 0.75 * np.clip(cz, 0, None) ** 1.15
    cloud = rng.uniform(0.15, 1.0, n)
    g = clear * cloud
    f = np.where(cz >= 0.00873, np.clip(1.1 * cloud - 0.2, 0, 0.9), 0.0)  # no beam below 89.5 deg
    ta = np.clip(rng.uniform(0.0, 25.0, n) - 10 * np.cos(day) + 5 * np.sin(2 * np.pi * (local - 9) / 24) +
                 rng.normal(0, 3, n), 0.5, 45.0)
    rh = rng.uniform(15.0, 95.0, n)
    p = rng.uniform(880.0, 1040.0, n)
    va10 = np.clip(rng.weibull(2.0, n) * 4.5, 0.62, 20.0)
    return {"ta": ta, "rh": rh, "e": rh / 100 * buck(ta), "p": p, "va10": va10, "g": g, "f": f, "cz": cz}


def ours(w: dict[str, Array], v2: Array) -> tuple[Array, Array, Array]:
    out: tuple[Array, Array, Array] = comfort.wbgt(w["ta"], w["e"], w["p"], v2, w["g"], w["f"], w["cz"])
    return out


def wind_2m(w: dict[str, Array]) -> Array:
    from thermofeel.liljegren import wind_speed_2m
    return np.asarray(wind_speed_2m(w["va10"], np.clip(w["cz"], 0, None), w["g"]), dtype=np.float64)


CHILD = """
import sys, time
sys.path.insert(0, sys.argv[1])
import numpy as np
from quarnel import _kernels
import wbgt as b
n, rounds = int(sys.argv[2]), int(sys.argv[3])
w = b.weather(n)
v2 = np.load(sys.argv[4])
print(_kernels.isa, min(b.best(lambda: b.ours(w, v2), rounds)))
"""


def at_level(level: str, n: int, rounds: int, v2_path: str) -> tuple[str, float]:
    env = dict(os.environ, QUARNEL_ISA=level)
    run = subprocess.run([sys.executable, "-c", CHILD, os.path.dirname(os.path.abspath(__file__)), str(n),
                          str(rounds), v2_path], env=env, capture_output=True, text=True, check=True)
    isa, t = run.stdout.split()
    return isa, float(t)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=100_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--pywbgt-n", type=int, default=10_000)
    parser.add_argument("--no-pywbgt", action="store_true")
    args = parser.parse_args()
    keep_freed_memory()
    warnings.simplefilter("ignore")  # the peers' NumPy and pint warnings

    from thermofeel import calculate_wbgt_liljegren

    w = weather(args.n)
    v2 = wind_2m(w)
    got = ours(w, v2)
    assert not np.isnan(got[0]).any(), "inputs outside the domain"

    def thermofeel() -> Array:
        return np.asarray(calculate_wbgt_liljegren(w["ta"] + 273.15, w["rh"], w["p"], w["va10"], w["g"], w["f"],
                                                   np.clip(w["cz"], 0, None)))
    theirs = thermofeel() - 273.15
    assert np.nanmax(np.abs(got[0] - theirs)) < 0.05, "thermofeel disagrees"

    peers: dict[str, tuple[Callable[[], object], int]] = {"thermofeel": (thermofeel, args.n)}
    if not args.no_pywbgt:
        try:
            import metpy.calc as mpcalc  # type: ignore[import-untyped,unused-ignore]
            from metpy.units import units  # type: ignore[import-untyped,unused-ignore]
            from pywbgt import liljegren  # type: ignore[import-untyped,unused-ignore]
        except ImportError:
            print("pywbgt not installed: left out")
        else:
            m = min(args.pywbgt_n, args.n)
            # pywbgt takes the dew point and turns it into relative humidity with MetPy's saturation.
            td = np.asarray(mpcalc.dewpoint_from_relative_humidity(w["ta"][:m] * units.degC,
                                                                   w["rh"][:m] * units.percent).m_as("degC"))
            sub = [w["ta"][:m], td, w["p"][:m], v2[:m], w["g"][:m], w["f"][:m],
                   np.maximum(w["cz"][:m], 0.00873)]

            def authors() -> tuple[Array, Array]:
                return liljegren.globe_temperature(*sub), liljegren.natural_wetbulb(*sub)
            tg, tw = authors()
            want = 0.1 * w["ta"][:m] + 0.2 * tg + 0.7 * tw
            assert np.nanmax(np.abs(got[0][:m] - want)) < 0.05, "pywbgt disagrees"
            peers["pywbgt (authors' C)"] = (authors, m)

    times: dict[str, list[float]] = {name: [] for name in peers}
    for _ in range(args.rounds):
        for name, (fn, _m) in peers.items():
            times[name] += best(fn, 1, repeats=1)

    import tempfile
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "v2.npy")
        np.save(path, v2)
        levels: dict[str, float] = {}
        for level in LEVELS:
            isa, t = at_level(level, args.n, args.rounds, path)
            if isa == level:  # a level above the processor's falls back: not timed twice
                levels[level] = t

    print(f"processor: {processor()}; {usable_cores()} cores usable")
    print(f"{args.n} elements, values agree (0.05 K); best in each of {args.rounds} interleaved rounds")
    head = "".join(f" {'x ' + lv:>11}" for lv in levels)
    print(f"{'':28} {'ns/elem':>10}{head}")
    for level, t in levels.items():
        print(f"{'quarnel wbgt (' + level + ')':28} {t / args.n * 1e9:10.1f}")
    for name, (_fn, m) in peers.items():
        per = min(times[name]) / m
        ratios = "".join(f" {per / (t / args.n):11.1f}" for t in levels.values())
        print(f"{name:28} {per * 1e9:10.1f}{ratios}")


if __name__ == "__main__":
    main()
