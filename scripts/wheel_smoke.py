"""Checks an installed quarnel (from a wheel, not the source tree): every
extension imports, every ufunc (and the places' geometry) gives its value,
the instruction-set levels give the same bits, the command runs, and no
C++ source was installed.

Usage: python scripts/wheel_smoke.py
Run by scripts/wheel-smoke.sh in a fresh venv, and by cibuildwheel after
installing each wheel (pyproject.toml). Needs only NumPy.
"""

from __future__ import annotations

import csv
import hashlib
import importlib
import importlib.metadata
import json
import math
import os
import pathlib
import pkgutil
import shutil
import subprocess
import sys
import tempfile
from typing import Any

import numpy as np

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples" / "data"

# One realistic argument set per ufunc (by its __name__), and what it gives
# [units as in docs/reference.md]. Values as the source build computes them;
# the tolerance allows another C library's exp and pow (macOS).
VALUES: dict[str, tuple[tuple[float, ...], tuple[float, ...]]] = {
    "Sonnenzeit": ((13.5, 1.0, 13.4, 172.0), (13.5,)),
    "Zenitwinkel": ((12.2, 52.5, 172.0), (29.149718894858765,)),
    "Azimutwinkel": ((15.0, 52.5, 172.0), (247.21375553770167,)),
    "LinkeTruebung": ((172.0, 52.5, 60.0), (4.167270465847956,)),
    "RelOptLuftmasse": ((40.0,), (1.3054072893322786,)),
    "MaxDirekteStrahlung": ((172.0, 40.0, 40.0, 4.0, 1.3), (810.4943294894342,)),
    "MaxGlobalstrahlung": ((172.0, 40.0, 40.0, 4.0), (739.585372855653,)),
    "DirStrMBew": ((700.0, 3.0), (437.5,)),
    "AtmosGegenstr": ((22.0, 14.0, 3.0), (354.0070510996008,)),
    "OberflTemp": ((400.0, 22.0, 2.0, 1.5), (35.20652173913044,)),
    "MittlStrTemp": ((40.0, 400.0, 450.0, 350.0, 150.0, 700.0, 0.3), (123.85126379961497,)),
    "utci": ((25.0, 40.0, 2.0, 15.0), (27.62004173689651,)),
    "utci_category": ((30.0,), (6,)),
    "interval_cos_zenith": ((13.0, 52.5, 172.0, 1.0), (0.8677570454835235, 1.0)),
    "split_global": ((600.0, 0.7, 1.0, 172.0, 101325.0), (543.6866484634567, 219.41934607558034)),
    "standing_person": ((40.0, 400.0, 150.0, 700.0, 0.72), (49.314751670116266, 34.50938201019085)),
    "wbgt": ((30.0, 20.0, 1013.0, 2.0, 700.0, 0.7, 0.8),
             (27.896413980457474, 42.73159011642991, 23.35727993881642)),
    "heat_index": ((32.0, 60.0), (37.07428412177792,)),
    "humidex": ((30.0, 20.0), (37.56977752633921,)),
    "apparent_temperature": ((30.0, 20.0, 2.0), (31.200000000000003,)),
    "wind_chill": ((-5.0, 5.0), (-11.190933253695526,)),
    "pet": ((25.0, 40.0, 1.5, 15.0), (27.883195017913483,)),
    "pet_corrected": ((25.0, 40.0, 1.5, 15.0), (27.237758589719117,)),
    "pet_person": ((25.0, 40.0, 1.5, 15.0, 60.0, 2.0, 1.62, 58.0, 80.0, 0.6), (27.272483854051387,)),
    "pet_corrected_person": ((25.0, 40.0, 1.5, 15.0, 60.0, 2.0, 1.62, 58.0, 80.0, 0.6),
                             (26.350155269922748,)),
}
# Arguments kept as they are on arrays: codes, not quantities (sex: 1 or 2).
CODES = {"pet_person": {5}, "pet_corrected_person": {5}}
# A 10 m box on a 41 x 41 raster of 1 m pixels: the sky view factor [1]
# 10 m west of its middle, and the sunlit tops under a sun in the south at 30°.
BOX_SKY_VIEW = 0.940616318376263
BOX_SUNLIT = 1596
RTOL = 1e-12
FAILURES: list[str] = []


def check(ok: bool, what: str) -> None:
    if not ok:
        FAILURES.append(what)
        print(f"wheel-smoke: FAILED {what}", file=sys.stderr)


def extensions() -> list[str]:
    """The compiled modules installed in the package, by module name."""
    import quarnel

    here = pathlib.Path(quarnel.__file__).parent
    return sorted({f"quarnel.{p.name.split('.')[0]}" for p in here.iterdir()
                   if p.suffix in (".so", ".pyd")})


def ufuncs() -> dict[str, np.ufunc]:
    found: dict[str, np.ufunc] = {}
    for name in extensions():
        module = importlib.import_module(name)
        for attr in dir(module):
            if isinstance(f := getattr(module, attr), np.ufunc):
                found[f.__name__] = f
    return found


def arguments(f: np.ufunc, n: int, seed: int) -> list[np.ndarray]:
    """n elements around the ufunc's argument set (or a generic one for a
    ufunc this script does not know yet)."""
    rng = np.random.default_rng(seed)
    base = VALUES[f.__name__][0] if f.__name__ in VALUES else (1.0,) * f.nin
    codes = CODES.get(f.__name__, set())
    return [np.full(n, x) if i in codes else x * rng.uniform(0.8, 1.2, n) for i, x in enumerate(base)]


def place() -> Any:
    """quarnel.place, where the package has it."""
    try:
        return importlib.import_module("quarnel.place")
    except ModuleNotFoundError as e:
        if e.name != "quarnel.place":
            raise
        return None


def box() -> np.ndarray:
    dsm = np.zeros((41, 41))
    dsm[18:23, 18:23] = 10.0
    return dsm


def digest(*arrays: np.ndarray) -> str:
    h = hashlib.sha256()
    for a in arrays:
        h.update(np.ascontiguousarray(a).tobytes())
    return h.hexdigest()


def digests() -> dict[str, str]:
    """The bits every ufunc gives on arrays large enough for the vector
    kernels and the worker threads, one digest per ufunc; and the places'
    geometry on a rough surface."""
    out = {}
    with np.errstate(all="ignore"):
        for k, (name, f) in enumerate(sorted(ufuncs().items())):
            r = f(*arguments(f, 200_003, k))
            out[name] = digest(*(r if isinstance(r, tuple) else (r,)))
    if (p := place()) is not None:
        dsm = np.random.default_rng(7).uniform(0.0, 20.0, (96, 96))
        out["place.sky_view_factor"] = digest(p.sky_view_factor(dsm, 1.0))
        out["place.shadow"] = digest(p.shadow(dsm, 1.0, 200.0, 35.0))
    return out


def installed() -> None:
    import quarnel

    where = pathlib.Path(quarnel.__file__).resolve()
    check(where.parent.parent.name in ("site-packages", "dist-packages"),
          f"quarnel imported from the installation, not {where}")
    version = importlib.metadata.version("quarnel")
    check(quarnel.__version__ == version, f"quarnel.__version__ {quarnel.__version__} is {version}")
    files = [str(f) for f in importlib.metadata.files("quarnel") or []]
    sources = [f for f in files if f.endswith((".cpp", ".hpp", ".cc", ".h", ".c"))]
    check(not sources, f"no C++ sources installed (found {sources[:5]})")
    print(f"wheel-smoke: quarnel {version} at {where.parent}, {len(files)} files")


def imports() -> None:
    """Every extension and every Python module of the package; a module
    needing an optional dependency that is not installed is only named."""
    import quarnel

    names = extensions()
    check(len(names) >= 3, f"the package's extensions are installed (found {names})")
    for name in names:
        try:
            importlib.import_module(name)
        except Exception as e:  # noqa: BLE001 - reported, then the run fails
            check(False, f"import {name}: {e!r}")
    optional = []
    for info in pkgutil.walk_packages(quarnel.__path__, "quarnel."):
        if info.name.endswith(".__main__"):   # runs the command
            continue
        try:
            importlib.import_module(info.name)
        except ModuleNotFoundError as e:
            if e.name and not e.name.startswith("quarnel"):
                optional.append(f"{info.name} ({e.name})")
            else:
                check(False, f"import {info.name}: {e!r}")
        except Exception as e:  # noqa: BLE001
            check(False, f"import {info.name}: {e!r}")
    print(f"wheel-smoke: imported {', '.join(names)}"
          + (f"; optional dependency missing for {', '.join(optional)}" if optional else ""))


def values() -> None:
    import quarnel.Strahlwerk as S
    import quarnel.ufunc as U

    found = ufuncs()
    check(set(U.__all__) <= set(found), f"the module's ufuncs ({sorted(set(U.__all__) - set(found))} missing)")
    for name, f in sorted(found.items()):
        if name not in VALUES:
            r = f(*(1.0,) * f.nin)
            print(f"wheel-smoke: {name} has no pinned value; ({', '.join(['1.0'] * f.nin)}) -> {r}")
            continue
        args, want = VALUES[name]
        got = f(*args)
        got = got if isinstance(got, tuple) else (got,)
        ok = len(got) == len(want) and all(
            math.isclose(float(g), w, rel_tol=RTOL) for g, w in zip(got, want))
        check(ok, f"{name}{args} = {tuple(g.item() for g in got)}, expected {want}")
        if name in U.__all__:
            try:    # element by element the module function's bits
                same = getattr(S, name)(*args) == float(got[0])
            except TypeError:     # a longer parameter list (MittlStrTemp)
                same = True
            check(same, f"{name}: the ufunc and quarnel.Strahlwerk.{name} differ")
    print(f"wheel-smoke: {len(found)} ufuncs give their values")
    if (p := place()) is not None:
        sky = float(p.sky_view_factor(box(), 1.0)[20, 10])
        sunlit = int(p.shadow(box(), 1.0, 180.0, 30.0).sum())
        check(math.isclose(sky, BOX_SKY_VIEW, rel_tol=RTOL) and sunlit == BOX_SUNLIT,
              f"a box's sky view factor {sky} (expected {BOX_SKY_VIEW}), {sunlit} sunlit tops "
              f"(expected {BOX_SUNLIT})")
        print("wheel-smoke: quarnel.place gives a box's sky view factor and shadow")


def levels() -> None:
    """QUARNEL_ISA=baseline and avx2 give the bits of the default level."""
    code = ("import json, sys; sys.path.insert(0, sys.argv[1]); import wheel_smoke, quarnel; "
            "print(json.dumps([quarnel._isa, wheel_smoke.digests()]))")
    seen = {}
    for level in ("default", "baseline", "avx2"):
        env = dict(os.environ)
        env.pop("QUARNEL_ISA", None)
        if level != "default":
            env["QUARNEL_ISA"] = level
        run = subprocess.run([sys.executable, "-I", "-c", code, str(pathlib.Path(__file__).parent)],
                             env=env, capture_output=True, text=True)
        check(run.returncode == 0, f"QUARNEL_ISA={level}: {run.stderr.strip()[-2000:]}")
        if run.returncode == 0:
            seen[level] = json.loads(run.stdout)
    if len(seen) == 3:
        isa = {level: s[0] for level, s in seen.items()}
        for level in ("baseline", "avx2"):
            differ = sorted(k for k, v in seen["default"][1].items() if seen[level][1].get(k) != v)
            check(not differ, f"QUARNEL_ISA={level} ({isa[level]}) gives other bits than "
                              f"{isa['default']} for {differ}")
        print(f"wheel-smoke: the same bits at {', '.join(sorted(set(isa.values())))} "
              f"(default {isa['default']})")


def command() -> None:
    exe = shutil.which("quarnel", path=os.path.dirname(sys.executable)) or shutil.which("quarnel")
    check(exe is not None, "the command quarnel is installed")
    if exe is None:
        return
    version = importlib.metadata.version("quarnel")
    run = subprocess.run([exe, "--version"], capture_output=True, text=True)
    check(run.returncode == 0 and version in run.stdout, f"quarnel --version: {run.stdout}{run.stderr}")
    with tempfile.TemporaryDirectory() as tmp:
        out = pathlib.Path(tmp) / "day.csv"
        run = subprocess.run([exe, "tmrt", str(EXAMPLES / "greenwich_2023-07-12.csv"), "-o", str(out),
                              "--lat", "51.477", "--lon", "0", "--height", "40"],
                             capture_output=True, text=True, cwd=tmp)
        check(run.returncode == 0 and out.exists(), f"quarnel tmrt: {run.stderr.strip()[-2000:]}")
        if not out.exists():
            return
        rows = list(csv.DictReader(out.open(encoding="utf-8")))
        tmrt = [float(r["mean_radiant_temperature"]) for r in rows if r.get("mean_radiant_temperature")]
        check(len(rows) >= 24 and len(tmrt) == len(rows) and all(-60 < t < 100 for t in tmrt),
              f"quarnel tmrt wrote {len(rows)} rows, Tmrt {tmrt[:3]}...")
        if tmrt:
            print(f"wheel-smoke: quarnel tmrt wrote {len(rows)} rows, "
                  f"Tmrt {min(tmrt):.1f} to {max(tmrt):.1f} °C")


def main() -> int:
    installed()
    imports()
    values()
    levels()
    command()
    if FAILURES:
        print(f"wheel-smoke: {len(FAILURES)} checks failed", file=sys.stderr)
        return 1
    print("wheel-smoke: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
