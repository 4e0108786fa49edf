"""The whole chain, weather to mean radiant temperature, over site-hours.

Measured side by side in one run, the same model in four ways:

(a) the ufuncs of quarnel.ufunc;
(b) quarnel.Strahlwerk, the scalar-only functions through numpy.vectorize;
(c) the formulas written by hand over NumPy arrays, np.where for the
    branches (what users of plain NumPy write);
(d) quarnel.Strahlwerk called point by point in a Python loop (sampled).

The site-hours are hourly records at 100 sites (latitude, longitude and
height per site) over consecutive days, site after site. Every variant's
result is checked against (a) before timing.

    python benchmarks/chain.py [--quick]
"""

from __future__ import annotations

import argparse
import math
import os
import time
from typing import Any, Callable

import numpy as np

import quarnel.Strahlwerk as S
import quarnel.ufunc as U

SIGMA = 5.67e-08
GROUND_ALBEDO, GROUND_EMISSIVITY, BOWEN, PERSON_ALBEDO = 0.2, 0.95, 0.8, 0.3


def site_hours(n: int, seed: int = 7) -> dict[str, np.ndarray]:
    rng = np.random.default_rng(seed)
    sites = 100
    per = -(-n // sites)
    k = np.arange(n)
    site = k // per
    hour = (k % per).astype(float)
    lat = rng.uniform(-60, 70, sites)[site]
    lon = rng.uniform(-180, 180, sites)[site]
    height = rng.uniform(0, 1500, sites)[site]
    day = 1.0 + (hour // 24) % 365
    air = 12 + 8 * np.sin((hour % 24 - 9) * np.pi / 12) + rng.normal(0, 2, n)
    rh = np.clip(rng.normal(70, 15, n), 20, 100)
    vapour = rh / 100 * 6.112 * np.exp(17.62 * air / (243.12 + air))
    cloud = rng.integers(0, 9, n).astype(float)
    wind = rng.gamma(2.0, 1.5, n)
    return dict(hour=hour % 24, day=day, lat=lat, lon=lon, height=height, air=air, rh=rh,
                vapour=vapour, cloud=cloud, wind=wind)


def model(f: dict[str, Callable[..., np.ndarray]], d: dict[str, np.ndarray]) -> np.ndarray:
    """The chain with the eleven functions taken from f (all array-capable)."""
    szeit = f["Sonnenzeit"](d["hour"], 0.0, d["lon"], d["day"])
    zen = f["Zenitwinkel"](szeit, d["lat"], d["day"])
    f["Azimutwinkel"](szeit, d["lat"], d["day"])
    linke = f["LinkeTruebung"](d["day"], d["lat"], d["rh"])
    mass = f["RelOptLuftmasse"](zen)
    direct = f["MaxDirekteStrahlung"](d["day"], d["height"], zen, linke, mass)
    glob = f["MaxGlobalstrahlung"](d["day"], d["height"], zen, linke)
    cloudy = f["DirStrMBew"](direct, d["cloud"])
    sky = f["AtmosGegenstr"](d["air"], d["vapour"], d["cloud"])
    emitted = GROUND_EMISSIVITY * SIGMA * (d["air"] + 273.15) ** 4
    balance = (1 - GROUND_ALBEDO) * glob + GROUND_EMISSIVITY * sky - emitted
    ts = f["OberflTemp"](balance, d["air"], d["wind"], BOWEN)
    ground = 0.5 * GROUND_EMISSIVITY * SIGMA * (ts + 273.15) ** 4
    diffuse = 0.5 * np.maximum(glob - cloudy * np.cos(np.radians(np.minimum(zen, 90.0))), 0.0)
    return f["MittlStrTemp"](np.minimum(zen, 90.0), 0.0, ground, 0.5 * sky, diffuse, cloudy, PERSON_ALBEDO)


def ufuncs() -> dict[str, Callable[..., np.ndarray]]:
    return {name: getattr(U, name) for name in U.__all__}


def vectorized() -> dict[str, Callable[..., np.ndarray]]:
    """The module, numpy.vectorize where a function branches on a value."""
    f: dict[str, Callable[..., np.ndarray]] = {}
    for name in U.__all__:
        fn = getattr(S, name)
        f[name] = np.vectorize(fn, otypes=[float])
    for name in ("Zenitwinkel", "DirStrMBew", "AtmosGegenstr"):
        f[name] = getattr(S, name)
    f["MittlStrTemp"] = lambda z, o, u, g, dif, i, a: np.asarray(S.MittlStrTemp(z, o, u, g, dif, i, None, a, None))
    return f


def per_point(d: dict[str, np.ndarray], idx: np.ndarray) -> np.ndarray:
    """(d): the module called per point; the same model, Python floats."""
    out = np.empty(len(idx))
    for j, k in enumerate(idx):
        hour, day, lat, lon, height = (float(d[c][k]) for c in ("hour", "day", "lat", "lon", "height"))
        air, rh, vapour, cloud, wind = (float(d[c][k]) for c in ("air", "rh", "vapour", "cloud", "wind"))
        szeit = S.Sonnenzeit(hour, 0.0, lon, day)
        zen = S.Zenitwinkel(szeit, lat, day)
        S.Azimutwinkel(szeit, lat, day)
        linke = S.LinkeTruebung(day, lat, rh)
        mass = S.RelOptLuftmasse(zen)
        direct = S.MaxDirekteStrahlung(day, height, zen, linke, mass)
        glob = S.MaxGlobalstrahlung(day, height, zen, linke)
        cloudy = S.DirStrMBew(direct, cloud)
        sky = S.AtmosGegenstr(air, vapour, cloud)
        emitted = GROUND_EMISSIVITY * SIGMA * (air + 273.15) ** 4
        balance = (1 - GROUND_ALBEDO) * glob + GROUND_EMISSIVITY * sky - emitted
        ts = S.OberflTemp(balance, air, wind, BOWEN)
        ground = 0.5 * GROUND_EMISSIVITY * SIGMA * (ts + 273.15) ** 4
        z90 = min(zen, 90.0)
        diffuse = 0.5 * max(glob - cloudy * math.cos(math.radians(z90)), 0.0)
        out[j] = S.MittlStrTemp(z90, 0.0, ground, 0.5 * sky, diffuse, cloudy, None, PERSON_ALBEDO, None)
    return out


# (c): the formulas over arrays, np.where for the branches.
def _ers(day: np.ndarray) -> np.ndarray:
    B = 2 * np.pi * (day - 81) / 364
    return (9.87 * np.sin(2 * B) - 7.53 * np.cos(B) - 1.5 * np.sin(B)) / 60


def _wrap(t: np.ndarray) -> np.ndarray:
    return np.where(t < 0, t + 24.0, np.where(t >= 24, t - 24.0, t))


def np_sonnenzeit(szeit, zeitzone, laenge, day):  # type: ignore[no-untyped-def]
    e = _ers(day)
    z = _wrap(szeit + zeitzone - laenge * 12 / 180 - e)
    return _wrap(z - zeitzone + laenge * 12 / 180 + e)


def _declination(day: np.ndarray) -> np.ndarray:
    return np.degrees(np.arcsin(0.3978 * np.sin(np.radians(
        0.9856 * day - 2.72 - 77.51 + 1.92 * np.sin(np.radians(0.9856 * day - 2.72))))))


def np_zenitwinkel(szeit, breite, day):  # type: ignore[no-untyped-def]
    delta = _declination(day)
    br, de = np.radians(breite), np.radians(delta)
    s = np.degrees(np.arcsin(-np.cos(br) * np.cos(szeit * np.pi / 12) * np.cos(de) + np.sin(de) * np.sin(br)))
    return 90 - s


def np_azimutwinkel(szeit, breite, day):  # type: ignore[no-untyped-def]
    delta = _declination(day)
    br, de = np.radians(breite), np.radians(delta)
    sy = -np.sin(szeit * np.pi / 12) * np.cos(de)
    sz = np.sin(br) * np.cos(szeit * np.pi / 12) * np.cos(de) + np.sin(de) * np.cos(br)
    g = -sy
    with np.errstate(divide="ignore", invalid="ignore"):
        ratio = np.arctan(sz / g)
    phi = np.where(g == 0, np.where(sz >= 0, 0.0, np.pi),
                   np.where(g > 0, np.pi / 2 - ratio, 3 * np.pi / 2 - ratio))
    return np.degrees(phi)


def np_linke(day, breite, rh):  # type: ignore[no-untyped-def]
    season = 1.4 * np.cos(2 * np.pi * (day - 15) / 365)
    with np.errstate(over="ignore"):
        vm = np.where(rh < 100, np.maximum(1, 15 * (1 - np.exp(-np.power(100 - rh, 4) / 1e4))), 1)
    return np.where(rh < 85, np.where(breite >= 0, 2.9 - season, 2.9 + season), 0.84 + 39 / vm)


TABM = np.array([37.92, 39.22, 40.34, 41.48, 42.63, 43.72, 44.81, 45.9, 47.0, 48.08, 49.15, 50.12])


def np_luftmasse(z):  # type: ignore[no-untyped-def]
    with np.errstate(invalid="ignore", divide="ignore"):
        secant = 1 / np.cos(np.radians(z))
        ky = 1 / (np.cos(np.radians(z)) + 0.50572 * np.power((90 - z) + 6.07995, -1.6364))
        i = np.clip(np.trunc(z * 10 - 900), 0, 10).astype(int)
        table = TABM[i] + (z * 10 - 900 - i) * (TABM[i + 1] - TABM[i])
    inside = (0 <= z) & (z <= 91)
    return np.where(inside, np.where(z < 80, secant, np.where(z < 90, ky, table)), 999.0)


def _extraterr(day: np.ndarray) -> np.ndarray:
    return 1367 * (1 + 0.03344 * np.cos(np.pi / 180 * (0.9856 * day - 2.72)))


def np_maxdirekt(day, height, z, linke, mass):  # type: ignore[no-untyped-def]
    rho = np.where(z < 85, 1 / (9.4 + 0.9 * mass), 0.0408 + 0.0028 * (90 - z))
    with np.errstate(over="ignore"):
        i = _extraterr(day) * np.exp(-linke * rho * mass * np.exp(-height / 8434.5))
    return np.where(z < 90, i, 0.0)


def np_maxglobal(day, height, z, linke):  # type: ignore[no-untyped-def]
    c = np.cos(np.radians(z))
    with np.errstate(over="ignore", divide="ignore", invalid="ignore"):
        g = 0.84 * _extraterr(day) * c * np.exp(-0.027 * np.exp(-height / 8434.5) * linke / c)
    return np.where(z < 90, g, 0.0)


def np_dirstr(imax, n):  # type: ignore[no-untyped-def]
    return imax * (1 - n / 8)


def np_gegenstr(t, e, n):  # type: ignore[no-untyped-def]
    return SIGMA * np.power(t + 273.15, 4) * (0.82 - 0.25 * np.power(10, -0.0945 * e)) * (1 + 0.21 * np.power(n / 8, 2.5))


def np_oberfl(q, t, wind, bowen):  # type: ignore[no-untyped-def]
    b = np.where(q > 0, -0.19 * q, -0.32 * q)
    bowen = np.where(bowen < -0.9, -0.9, bowen)
    with np.errstate(divide="ignore"):
        r = t + (q + b) / ((6.2 + 4.26 * wind) * (1 + 1 / bowen))
    return np.where(bowen == 0, t, r)


def np_mittl(z, oben, unten, gegen, diff, direct, albedo):  # type: ignore[no-untyped-def]
    gamma = 90 - z
    fp = 0.308 * np.cos(np.radians(gamma * (0.998 - np.sqrt(gamma) / 50000)))
    return np.power((oben + unten + gegen + (1 - albedo) / 0.97 * (diff + direct * fp)) / SIGMA, 0.25) - 273.15


def hand_numpy() -> dict[str, Callable[..., np.ndarray]]:
    return {"Sonnenzeit": np_sonnenzeit, "Zenitwinkel": np_zenitwinkel, "Azimutwinkel": np_azimutwinkel,
            "LinkeTruebung": np_linke, "RelOptLuftmasse": np_luftmasse, "MaxDirekteStrahlung": np_maxdirekt,
            "MaxGlobalstrahlung": np_maxglobal, "DirStrMBew": np_dirstr, "AtmosGegenstr": np_gegenstr,
            "OberflTemp": np_oberfl, "MittlStrTemp": np_mittl}


def best_of(fn: Callable[[], object], repeats: int) -> float:
    best = math.inf
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def usable_cores() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def run(sizes: list[int], repeats: int) -> list[tuple[int, float, float]]:
    """Prints the table; returns (n, x hand NumPy, x vectorize) per size."""
    # The ufuncs split a call over the cores; NumPy's loops run on one.
    cores = usable_cores()
    print(f"\nThe chain, weather to mean radiant temperature [ns per site-hour; {cores} core{'s' * (cores != 1)}]")
    print(f"{'n':>9}{'ufunc':>10}{'vectorize':>11}{'np.where':>10}{'per point':>11}"
          f"{'x np.where':>12}{'x vectorize':>13}{'x loop':>9}")
    results = []
    for n in sizes:
        d = site_hours(n)
        a = model(ufuncs(), d)
        c = model(hand_numpy(), d)
        assert np.allclose(a, c, rtol=1e-12, atol=1e-9), "hand-written NumPy disagrees"
        sample = np.arange(0, n, max(1, n // 2000))
        # Python floats: ** and math.cos are the C library's, not NumPy's loops.
        assert np.allclose(a[sample], per_point(d, sample), rtol=1e-12, atol=1e-9), "per point disagrees"
        small = {k: v[: min(n, 20_000)] for k, v in d.items()}
        assert np.array_equal(model(vectorized(), small), model(ufuncs(), small)), "vectorize disagrees"
        t = {"a": math.inf, "b": math.inf, "c": math.inf}
        b_n = min(n, 100_000)
        b_data = {k: v[:b_n] for k, v in d.items()}
        for _ in range(repeats):  # interleaved
            t["a"] = min(t["a"], best_of(lambda: model(ufuncs(), d), 1) / n)
            t["c"] = min(t["c"], best_of(lambda: model(hand_numpy(), d), 1) / n)
        for _ in range(max(1, repeats // 3)):
            t["b"] = min(t["b"], best_of(lambda: model(vectorized(), b_data), 1) / b_n)
        t_d = best_of(lambda: per_point(d, sample), 1) / len(sample)
        x_c, x_b, x_d = t["c"] / t["a"], t["b"] / t["a"], t_d / t["a"]
        print(f"{n:9d}{t['a'] * 1e9:10.1f}{t['b'] * 1e9:11.1f}{t['c'] * 1e9:10.1f}{t_d * 1e9:11.1f}"
              f"{x_c:12.1f}{x_b:13.1f}{x_d:9.1f}")
        results.append((n, x_c, x_b))
    return results


def extra_memory(fn: Callable[[], np.ndarray]) -> int:
    """Peak memory of one call beyond its output [bytes] (tracemalloc sees NumPy's allocations)."""
    import tracemalloc
    tracemalloc.start()
    base = tracemalloc.get_traced_memory()[0]
    out = fn()
    peak = tracemalloc.get_traced_memory()[1] - base
    tracemalloc.stop()
    return int(peak - out.nbytes)


def element_wise(n: int, repeats: int) -> list[tuple[str, float, int, int]]:
    """The functions the module evaluates on arrays itself: ufunc against the
    module's array call on the same float64 arrays. (name, ratio, memory of a
    ufunc call at n and at 4n beyond the output)."""
    rng = np.random.default_rng(3)

    def args(m: int) -> dict[str, tuple[Any, ...]]:
        return {
            "Zenitwinkel": (rng.uniform(0, 24, m), rng.uniform(-60, 70, m), rng.uniform(1, 365, m)),
            "DirStrMBew": (rng.uniform(0, 900, m), rng.uniform(0, 8, m)),
            "AtmosGegenstr": (rng.uniform(-10, 35, m), rng.uniform(2, 30, m), rng.uniform(0, 8, m)),
            "MittlStrTemp": (rng.uniform(0, 89, m), rng.uniform(50, 300, m), rng.uniform(300, 500, m),
                             rng.uniform(250, 400, m), rng.uniform(0, 300, m), rng.uniform(0, 900, m), 0.3),
        }

    def module_call(name: str, a: tuple[Any, ...]) -> np.ndarray:
        if name == "MittlStrTemp":
            z, o, u, g, dif, i, albedo = a
            return np.asarray(S.MittlStrTemp(z, o, u, g, dif, i, None, albedo, None))
        return getattr(S, name)(*a)  # type: ignore[no-any-return]

    print(f"\nElement-wise functions, float64 arrays of {n} [ns per element]")
    print(f"{'function':22}{'ufunc':>9}{'module':>9}{'x module':>10}{'mem n':>9}{'mem 4n':>9}")
    rows = []
    a_n, a_4n = args(n), args(4 * n)
    for name, a in a_n.items():
        uf = getattr(U, name)
        t_u = t_m = math.inf
        # In turns of several calls, with a pause after each: the module and
        # quarnel._ufunc each keep a pool of threads that watch for the next
        # call for 2 ms, and would compete for the cores with the other's.
        for _ in range(repeats):
            t_u = min(t_u, best_of(lambda: uf(*a), 10) / n)
            time.sleep(0.01)
            t_m = min(t_m, best_of(lambda: module_call(name, a), 10) / n)
            time.sleep(0.01)
        mem = extra_memory(lambda: uf(*a))
        mem4 = extra_memory(lambda: uf(*a_4n[name]))
        print(f"{name:22}{t_u * 1e9:9.2f}{t_m * 1e9:9.2f}{t_m / t_u:10.2f}{mem:9d}{mem4:9d}")
        rows.append((name, t_m / t_u, mem, mem4))
    return rows


def targets(results: list[tuple[int, float, float]], rows: list[tuple[str, float, int, int]] | None = None) -> None:
    for n, x_c, x_b in results:
        ok = x_c >= 5 and x_b >= 15
        print(f"  chain of {n}: {x_c:.1f}x hand-written NumPy (target >= 5), {x_b:.1f}x vectorize "
              f"(target >= 15): {'met' if ok else 'not met'}")
    if rows:
        worst = min(rows, key=lambda r: r[1])
        print(f"  element-wise ufuncs against the module's array calls: slowest {worst[0]} at "
              f"{worst[1]:.2f}x (target >= 1): {'met' if worst[1] >= 1 else 'not met'}")
        flat = all(abs(m4 - m) < 64 * 1024 for _, _, m, m4 in rows)
        print(f"  extra memory of a ufunc call the same at n and 4n: {'met' if flat else 'not met'}")


def keep_freed_memory() -> None:
    """As in bench.py: glibc keeps freed memory, so outputs land on pages the
    process already has for every variant alike."""
    try:
        import ctypes
        libc = ctypes.CDLL("libc.so.6")
        libc.mallopt(-3, 32 * 1024 * 1024)  # M_MMAP_THRESHOLD
        libc.mallopt(-1, 1 << 30)           # M_TRIM_THRESHOLD
    except OSError:
        pass


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    opts = parser.parse_args()
    keep_freed_memory()
    results = run([100_000] if opts.quick else [100_000, 1_000_000], 2 if opts.quick else 5)
    rows = element_wise(200_000, 2 if opts.quick else 5)
    print("\nTargets")
    targets(results, rows)


if __name__ == "__main__":
    main()
