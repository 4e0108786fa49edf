"""Values of every compiled function on fixed inputs, to compare two builds
bit for bit: GCC's and clang's, x86-64's and aarch64's, or two instruction
set levels (QUARNEL_ISA).

    python scripts/value_digest.py write FILE.npz   # with the build to check first on sys.path
    python scripts/value_digest.py compare A.npz B.npz [--allow NAME,...]

`write` evaluates every ufunc of quarnel.ufunc and quarnel._kernels and the
place geometry on inputs drawn from a fixed seed over each function's
domain and a little beyond, with NaN, infinities and signed zeros among
them (the same inputs on every machine: NumPy's generator is portable).
`compare` names the outputs that differ, how many elements and by how many
units in the last place at most, with one input that shows it, and the
calls whose floating-point flags differ; it exits 1 if anything differs,
except for the functions --allow names (a difference known and explained,
still shown). The files also record the machine, NumPy and the
instruction-set level in force.
"""

from __future__ import annotations

import platform
import sys
from collections.abc import Callable, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

N = 20_000
SPECIAL = np.array([np.nan, np.inf, -np.inf, 0.0, -0.0, 1e-300, -1e300, 5e-324])

Array = npt.NDArray[np.float64]
Draw = Callable[[np.random.Generator, int], Sequence[Array]]


def uniform(*ranges: tuple[float, float]) -> Draw:
    """Each input uniform over its range."""
    return lambda rng, n: [rng.uniform(lo, hi, n) for lo, hi in ranges]


def utci_inputs(rng: np.random.Generator, n: int) -> list[Array]:
    ta = rng.uniform(-55, 55, n)
    return [ta, ta + rng.uniform(-35, 75, n), rng.uniform(0.0, 18, n), rng.uniform(0, 55, n)]


def pet_inputs(rng: np.random.Generator, n: int) -> list[Array]:
    ta = rng.uniform(-50, 60, n)
    saturation = 6.11 * 10.0 ** (7.45 * ta / (235 + ta))
    return [ta, ta + rng.uniform(-50, 90, n), rng.uniform(0, 30, n), saturation * rng.uniform(0, 1.15, n)]


def pet_person_inputs(rng: np.random.Generator, n: int) -> list[Array]:
    person = [rng.uniform(5, 100, n), rng.integers(1, 3, n).astype(np.float64), rng.uniform(1, 2.3, n),
              rng.uniform(20, 250, n), rng.uniform(0, 800, n), rng.uniform(0.1, 2, n)]
    return pet_inputs(rng, n) + person


def wbgt_inputs(rng: np.random.Generator, n: int) -> list[Array]:
    ta = rng.uniform(-40, 60, n)
    e = 6.1121 * np.exp(17.502 * ta / (ta + 240.97)) * rng.uniform(0, 1.1, n)
    cz = rng.uniform(-0.3, 1, n)
    g = rng.uniform(0, 1, n) * 1367 * np.clip(cz, 0, None)
    return [ta, e, rng.uniform(300, 1100, n), rng.uniform(0, 20, n), g, rng.uniform(0, 1, n), cz]


# By module and name: how to draw the inputs. A function missing here is
# drawn over a generic spread (and named in the output, so that it gets an
# entry).
DRAWS: dict[str, Draw] = {
    "Sonnenzeit": uniform((0, 24), (-12, 14), (-180, 180), (1, 366)),
    "Zenitwinkel": uniform((0, 24), (-90, 90), (1, 366)),
    "Azimutwinkel": uniform((0, 24), (-90, 90), (1, 366)),
    "LinkeTruebung": uniform((1, 366), (-90, 90), (0, 105)),
    "RelOptLuftmasse": uniform((0, 92)),
    "MaxDirekteStrahlung": uniform((1, 366), (-100, 6000), (0, 95), (1, 8), (1, 60)),
    "MaxGlobalstrahlung": uniform((1, 366), (-100, 6000), (0, 95), (1, 8)),
    "DirStrMBew": uniform((0, 1300), (-1, 9)),
    "AtmosGegenstr": uniform((-60, 50), (0, 60), (-1, 9)),
    "OberflTemp": uniform((-300, 900), (-60, 60), (-1, 40), (-3, 5)),
    "MittlStrTemp": uniform((-5, 100), (-50, 600), (-50, 600), (-50, 600), (-50, 600), (-50, 1200), (-0.5, 1.5)),
    "utci": utci_inputs,
    "utci_category": uniform((-60, 60)),
    "interval_cos_zenith": uniform((0, 24), (-90, 90), (1, 366), (0, 3)),
    "split_global": uniform((-20, 1400), (-0.1, 1), (0, 1), (1, 366), (50000, 106000)),
    "standing_person": uniform((0, 95), (150, 600), (0, 400), (0, 1000), (0.5, 1)),
    "wbgt": wbgt_inputs,
    "heat_index": uniform((-10, 60), (0, 100)),
    "humidex": uniform((-10, 50), (-30, 40)),
    "apparent_temperature": uniform((-40, 55), (0, 60), (0, 30)),
    "wind_chill": uniform((-60, 15), (0, 40)),
    "pet": pet_inputs,
    "pet_corrected": pet_inputs,
    "pet_person": pet_person_inputs,
    "pet_corrected_person": pet_person_inputs,
}


def generic(nin: int) -> Draw:
    return uniform(*[(-100.0, 1000.0)] * nin)


def inputs(name: str, nin: int, seed: int) -> list[Array]:
    rng = np.random.default_rng(seed)
    n = N if nin < 8 else N // 4  # PET of a person is slow under emulation
    args = [np.asarray(a, dtype=np.float64) for a in DRAWS.get(name, generic(nin))(rng, n)]
    # A few specials in every input, each at its own places.
    for a in args:
        at = rng.choice(n, 64, replace=False)
        a[at] = rng.choice(SPECIAL, 64)
    return args


def call(f: Callable[..., Any], args: Sequence[Any]) -> tuple[list[Array], int]:
    """The outputs as float64 arrays, and the flags raised (NumPy's bits)."""
    seen: list[int] = []
    with np.errstate(all="call", call=lambda kind, flag: seen.append(flag)):
        out = f(*args)
    flags = 0
    for s in seen:
        flags |= s
    outs = out if isinstance(out, tuple) else (out,)
    return [np.asarray(o, dtype=np.float64) for o in outs if o is not None], flags


def place_cases() -> dict[str, Callable[[], Any]]:
    from quarnel import place

    rng = np.random.default_rng(7)
    dsm = rng.uniform(0, 0.3, (96, 80))
    for _ in range(25):  # boxes
        r, c = rng.integers(0, 88), rng.integers(0, 72)
        dsm[r:r + rng.integers(2, 9), c:c + rng.integers(2, 9)] = rng.uniform(3, 30)
    dsm[5, 5] = np.nan
    return {
        "place.sky_view_factor": lambda: place.sky_view_factor(dsm, 1.0),
        "place.shadow": lambda: tuple(place.shadow(dsm, 1.0, az, el) for az, el in
                                      ((135.0, 30.0), (200.5, 12.25), (270.0, 60.0))),
    }


def write(path: str) -> None:
    import quarnel
    import quarnel._kernels as K
    import quarnel.ufunc as U

    values: dict[str, Array] = {}
    flags: dict[str, int] = {}
    missing = []
    seed = 0
    for module in (U, K):
        for name in sorted(dir(module)):
            f = getattr(module, name)
            if not isinstance(f, np.ufunc):
                continue
            if name not in DRAWS:
                missing.append(name)
            seed += 1
            args = inputs(name, f.nin, seed)
            outs, flags[name] = call(f, args)
            for i, o in enumerate(outs):
                values[f"{name}:{i}"] = o
            for i, a in enumerate(args):
                values[f"{name}:in{i}"] = a
    for name, case in place_cases().items():
        outs, flags[name] = call(case, ())
        for i, o in enumerate(outs):
            values[f"{name}:{i}"] = o
    meta = {
        "machine": platform.machine(), "python": platform.python_version(), "numpy": np.__version__,
        "isa": str(getattr(quarnel, "_isa", None) or getattr(K, "isa", "?")),
        "quarnel": str(quarnel.__file__),
    }
    arrays: dict[str, Any] = {**values, "__meta__": np.array(repr(meta)), "__flags__": np.array(repr(flags))}
    np.savez_compressed(path, **arrays)
    print(f"{path}: {len(values)} arrays; {meta}")
    if missing:
        print("no domain for (a generic spread drawn):", ", ".join(missing))


def ulps(a: Array, b: Array) -> npt.NDArray[np.int64]:
    """Distance in units in the last place (both finite, same sign)."""
    ia, ib = a.view(np.int64), b.view(np.int64)
    ia = np.where(ia < 0, np.int64(-(2**63)) - ia, ia)
    ib = np.where(ib < 0, np.int64(-(2**63)) - ib, ib)
    return np.abs(ia - ib)


def compare(path_a: str, path_b: str, allowed: frozenset[str] = frozenset()) -> int:
    import ast

    a, b = np.load(path_a), np.load(path_b)
    print("A:", a["__meta__"], "\nB:", b["__meta__"])
    fa, fb = ast.literal_eval(str(a["__flags__"])), ast.literal_eval(str(b["__flags__"]))
    differ = 0
    keys = [k for k in a.files if not k.startswith("__") and ":in" not in k]
    for k in sorted(set(keys) | {k for k in b.files if not k.startswith("__") and ":in" not in k}):
        if k not in a.files or k not in b.files:
            print(f"{k}: only in {'A' if k in a.files else 'B'}")
            differ += 1
            continue
        x, y = a[k], b[k]
        if x.shape != y.shape:
            print(f"{k}: shapes {x.shape} and {y.shape}")
            differ += 1
            continue
        nan_x, nan_y = np.isnan(x), np.isnan(y)
        bad = (nan_x != nan_y) | (~nan_x & ~nan_y & (x.view(np.int64) != y.view(np.int64)))
        if not bad.any():
            continue
        name = k.partition(":")[0]
        differ += name not in allowed
        both = bad & ~nan_x & ~nan_y & np.isfinite(x) & np.isfinite(y)
        worst = int(ulps(x[both], y[both]).max()) if both.any() else 0
        i = int(np.flatnonzero(bad)[0])
        shown = [float(a[f"{name}:in{j}"].ravel()[i]) for j in range(32) if f"{name}:in{j}" in a.files]
        print(f"{k}: {int(bad.sum())} of {bad.size} differ, at most {worst} ulp; "
              f"e.g. inputs {shown}: {x.ravel()[i]!r} and {y.ravel()[i]!r}"
              + (" (allowed)" if name in allowed else ""))
    for name in sorted(set(fa) | set(fb)):
        if fa.get(name) != fb.get(name):
            differ += name not in allowed
            print(f"{name}: flags {fa.get(name)} and {fb.get(name)} (1 divide, 2 overflow, 4 underflow, 8 invalid)"
                  + (" (allowed)" if name in allowed else ""))
    print(f"{len(keys)} outputs compared, {differ} differ" + (f" (not counting {', '.join(sorted(allowed))})" if allowed else ""))
    return 1 if differ else 0


def main(argv: list[str]) -> int:
    if len(argv) == 3 and argv[1] == "write":
        write(argv[2])
        return 0
    if len(argv) == 4 and argv[1] == "compare":
        return compare(argv[2], argv[3])
    if len(argv) == 6 and argv[1] == "compare" and argv[4] == "--allow":
        return compare(argv[2], argv[3], frozenset(argv[5].split(",")))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
