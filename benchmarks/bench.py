"""Speed of quarnel.Strahlwerk against what its users would otherwise write.

Measured side by side in one process, interleaved, best of several repeats
(for arrays, in rounds spread over the run):

* the module;
* the tests' plain-Python transcription over NumPy ("numpy");
* the same transcription compiled with Cython, built on the fly in a
  temporary folder when Cython is installed ("cython");
* where the quantity matches, the vectorised peer (pvlib: analytical zenith
  from declination and hour angle, Kasten-Young air mass), when installed.

Scalar calls are timed in ns per call on Python floats, and split into
what any call costs, what the formula costs and what is left, the overhead
the module controls: the floor of a call (a callable of the same arity and
of the module's kind, an object called through the vectorcall protocol,
that returns its first argument, benchmarks/call_floor.c) and the formula
alone (the module's native evaluation of it in a C++ loop without Python,
benchmarks/formula_loop.cpp, built against the repository's sources with
the module's flags), both built on the fly when a compiler is at hand;
overhead = module - floor - formula. The formula's time is that of
evaluations in a loop, which overlap in the processor; in brackets, that of
evaluations each waiting for the result before it (the latency). A call's
formula costs something in between, since only part of it overlaps the
interpreter's work around it: "in call" is the formula evaluated once per
call of a callable like the floor (on arguments converted beforehand,
returning the first argument) less the floor, and the overhead is given
against it too, in brackets: the part the module's own code can be asked
to cut. That figure is the noisiest: the formula's code there is a copy of
the module's, laid out apart, and a long formula's time in it varied by
10 to 20 ns from run to run here. Of the overhead, "result" is what a
fresh result of the module's type (float, numpy.float64) costs beyond the
floor, made and freed the way NumPy and CPython make them; "C floor" is
the floor of a builtin C function (METH_FASTCALL), which the interpreter
calls directly: cheaper than any callable of the module's kind, and the
floor measured before.
Element-wise
functions in ns per element on float64 arrays, with the peak memory of one
call beyond its output (tracemalloc sees NumPy's allocations). Absolute
times on shared machines are noisy; the ratios within one run are not.

Memory: by default the C library's allocator is told to keep freed memory
(no trimming, no mmap below 32 MB), as in a long-running analysis. Otherwise
whether an output lands on pages already in the process or on fresh ones
(each first touch a page fault, dear on virtual machines) depends on what
the previous call freed, and that decides timings more than the code does,
for every implementation alike. --fresh-memory leaves the allocator as it is.

Then, unless --only or --no-chain, the whole chain from weather to mean
radiant temperature through the ufuncs of quarnel.ufunc against
numpy.vectorize, hand-written NumPy and a Python loop, and the element-wise
ufuncs against the module's array calls (chain.py).

    python benchmarks/bench.py [--quick] [--only NAME ...] [--no-chain]
"""

import argparse
import importlib.util
import math
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import time
import tracemalloc

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))

import oracle  # noqa: E402
import quarnel.Strahlwerk as S  # noqa: E402

rng = np.random.default_rng(20261207)

# Realistic scalar arguments and array generators per function. Array
# generators return the arguments for n elements (scalar-only positions
# stay scalar).
CASES = {
    "Sonnenzeit": ((13.25, 1, 13.4, 172), None),
    "Zenitwinkel": ((10.5, 52.5, 172),
                    lambda n: (rng.uniform(0, 24, n), rng.uniform(-60, 70, n), rng.uniform(1, 365, n))),
    "Azimutwinkel": ((10.5, 52.5, 172), lambda n: (10.5, rng.uniform(-60, 70, n), 172)),
    "LinkeTruebung": ((172, 52.5, 60.0), lambda n: (rng.uniform(1, 365, n), 52.5, 60.0)),
    "RelOptLuftmasse": ((63.2,), None),
    "MaxDirekteStrahlung": ((172, 35.0, 40.0, 3.5, 1.3),
                            lambda n: (rng.uniform(1, 365, n), rng.uniform(0, 2000, n), 40.0,
                                       rng.uniform(2, 6, n), rng.uniform(1, 3, n))),
    "MaxGlobalstrahlung": ((172, 35.0, 40.0, 3.5),
                           lambda n: (rng.uniform(1, 365, n), rng.uniform(0, 2000, n), 40.0,
                                      rng.uniform(2, 6, n))),
    "DirStrMBew": ((750.0, 3.0), lambda n: (rng.uniform(0, 900, n), rng.uniform(0, 8, n))),
    "AtmosGegenstr": ((18.5, 12.3, 4.0),
                      lambda n: (rng.uniform(-10, 35, n), rng.uniform(2, 30, n), rng.uniform(0, 8, n))),
    "OberflTemp": ((420.0, 21.5, 2.3, 0.8),
                   lambda n: (420.0, rng.uniform(-10, 35, n), rng.uniform(0, 10, n), 0.8)),
    "MittlStrTemp": ((35.0, 150.0, 400.0, 320.0, 110.0, 600.0, 0.0, 0.3, 0.2),
                     lambda n: (rng.uniform(0, 89, n), rng.uniform(50, 300, n), rng.uniform(300, 500, n),
                                rng.uniform(250, 400, n), rng.uniform(0, 300, n), rng.uniform(0, 900, n),
                                0.0, 0.3, 0.2)),
}


def build_cython_oracle():
    """The transcription compiled by Cython, or None without Cython or a compiler."""
    try:
        import Cython  # noqa: F401
    except ImportError:
        return None
    src = os.path.join(HERE, "..", "tests", "oracle")
    tmp = tempfile.mkdtemp(prefix="quarnel-bench-")
    pkg = os.path.join(tmp, "cyoracle")
    shutil.copytree(src, pkg, ignore=shutil.ignore_patterns("__pycache__"))
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    include = sysconfig.get_paths()["include"]
    for name in os.listdir(pkg):
        if not name.endswith(".py") or name == "__init__.py":
            continue
        stem = name[:-3]
        c_file = os.path.join(pkg, stem + ".c")
        subprocess.run([sys.executable, "-m", "cython", "-3", "--module-name", f"cyoracle.{stem}", os.path.join(pkg, name), "-o", c_file],
                       check=True)
        subprocess.run(["gcc", "-shared", "-fPIC", "-O2", "-I", include, c_file, "-o",
                        os.path.join(pkg, stem + suffix)], check=True)
        os.remove(os.path.join(pkg, name))
    sys.path.insert(0, tmp)
    module = importlib.import_module("cyoracle")
    for area in module.AREAS:
        assert area.__file__.endswith(suffix), area.__file__
    return module


REPO = os.path.normpath(os.path.join(HERE, ".."))
# The flags of CMakeLists.txt for the module's sources (Release).
CXXFLAGS = ["-O3", "-DNDEBUG", "-std=c++20", "-fPIC", "-fno-fast-math", "-ffp-contract=off",
            "-fvisibility=hidden", "-fno-semantic-interposition",
            "-DNPY_NO_DEPRECATED_API=NPY_2_0_API_VERSION"]


def compile_all(jobs):
    """Runs the compiler commands `jobs`, as many at once as there are cores."""
    running, width = [], os.cpu_count() or 1
    for cmd in jobs:
        if len(running) >= width:
            if running.pop(0).wait():
                raise subprocess.CalledProcessError(1, "compiler")
        running.append(subprocess.Popen(cmd))
    for p in running:
        if p.wait():
            raise subprocess.CalledProcessError(p.returncode, p.args)


def build_call_probes():
    """The floor of a call and the formula loop (see the module docstring),
    or (None, None) without a compiler."""
    tmp = tempfile.mkdtemp(prefix="quarnel-probes-")
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    include = ["-I", sysconfig.get_paths()["include"]]
    src = os.path.join(REPO, "cpp")
    # The core the module links (CMakeLists.txt: the NumPy API, machine/ and
    # values/, not what serves the module alone).
    module_only = {os.path.join("values", "generic.cpp"), os.path.join("values", "np_watch.cpp")}
    core = [os.path.join(src, "common", "numpy_api.cpp")] + sorted(
        os.path.join(src, d, f) for d in ("values", "machine") for f in os.listdir(os.path.join(src, d))
        if f.endswith(".cpp") and os.path.join(d, f) not in module_only)
    sources = [os.path.join(HERE, "formula_loop.cpp")] + core
    objects = [os.path.join(tmp, f"{i}.o") for i in range(len(sources))]
    cxx = ["g++", *CXXFLAGS, "-I", src, "-I", np.get_include(), *include]
    jobs = [[*cxx, "-c", s, "-o", o] for s, o in zip(sources, objects)]
    jobs.append(["gcc", "-shared", "-fPIC", "-O2", *include, "-I", np.get_include(),
                 os.path.join(HERE, "call_floor.c"), "-o", os.path.join(tmp, "call_floor" + suffix)])
    try:
        compile_all(jobs)
        subprocess.run(["g++", "-shared", *objects, "-o", os.path.join(tmp, "formula_loop" + suffix), "-ldl"],
                       check=True)
    except (OSError, subprocess.CalledProcessError) as e:
        print(f"call probes not built: {e}", file=sys.stderr)
        return None, None
    sys.path.insert(0, tmp)
    return importlib.import_module("call_floor"), importlib.import_module("formula_loop")


def call_costs(names, floor, formula, quick):
    """Best ns per call of the module, of the floors and of a fresh result,
    and per evaluation of the formula alone, overlapping and chained: they
    take turns, in rounds spread over the run, so that a slow spell of the
    machine spoils one turn of each."""
    # Many short rounds: on a shared machine the quiet spells are short, and
    # each figure is the best of its turns.
    rounds, repeats, loops = (10, 3, 2000) if quick else (15, 5, 5000)
    kinds = ("quarnel", "floor", "fresh", "cfloor", "in_call", "formula", "chained")
    best = {name: dict.fromkeys(kinds, math.inf) for name in names}
    for _ in range(rounds):
        for name in names:
            args = CASES[name][0]
            fn = getattr(S, name)
            *_, value = formula.measure(name, args, 1, 1)
            if value != fn(*args):
                raise AssertionError(f"{name}: the formula loop gives {value!r}, the module {fn(*args)!r}")
            result = {float: "float", np.float64: "float64"}.get(type(fn(*args)), "first")
            impls = {"quarnel": fn, "floor": floor.floor(len(args), "first"),
                     "fresh": floor.floor(len(args), result), "cfloor": getattr(floor, f"cfirst{len(args)}"),
                     "in_call": formula.in_call(name, args)}
            for _ in range(repeats):
                t = interleaved(impls, args, loops, 1)
                t["chained"], t["formula"], _ = formula.measure(name, args, loops, 1)
                for k, v in t.items():
                    best[name][k] = min(best[name][k], v)
    return best


def pvlib_peers():
    try:
        import pvlib
    except ImportError:
        return {}
    sd = pvlib.solarposition

    def zenith(szeit, breite, dayofyear):
        decl = sd.declination_spencer71(dayofyear)
        hour_angle = (szeit - 12.0) * 15.0
        return np.degrees(sd.solar_zenith_analytical(np.radians(breite), np.radians(hour_angle), decl))

    def airmass(zenitwinkel):
        return pvlib.atmosphere.get_relative_airmass(zenitwinkel, model="kastenyoung1989")

    return {"Zenitwinkel": zenith, "RelOptLuftmasse": airmass}


def call_loop(n_args):
    """A loop calling f with n_args positional arguments held in locals: the
    least Python overhead a caller's loop can have, the same for everyone."""
    names = ", ".join(f"a{i}" for i in range(n_args))
    namespace = {}
    exec(f"def loop(n, f, {names}):\n    for _ in range(n):\n        f({names})\n", namespace)
    return namespace["loop"]


def best_time(fn, args, loops, repeats):
    loop = call_loop(len(args))
    best = math.inf
    for _ in range(repeats):
        t0 = time.perf_counter_ns()
        loop(loops, fn, *args)
        best = min(best, (time.perf_counter_ns() - t0) / loops)
    return best


def interleaved(impls, args, loops, repeats):
    """Best time per implementation, the implementations taking turns."""
    best = {name: math.inf for name in impls}
    for _ in range(repeats):
        for name, fn in impls.items():
            best[name] = min(best[name], best_time(fn, args, loops, 1))
    return best


def extra_memory(fn, args):
    tracemalloc.start()
    tracemalloc.reset_peak()
    base = tracemalloc.get_traced_memory()[0]
    out = fn(*args)
    peak = tracemalloc.get_traced_memory()[1] - base
    tracemalloc.stop()
    return peak - getattr(out, "nbytes", 0)


def keep_freed_memory():
    """Asks glibc's malloc to keep freed memory in the process."""
    try:
        import ctypes
        libc = ctypes.CDLL("libc.so.6")
    except OSError:
        return "allocator as configured"
    M_TRIM_THRESHOLD, M_MMAP_THRESHOLD = -1, -3
    ok = libc.mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024) and libc.mallopt(M_TRIM_THRESHOLD, 1 << 30)
    return "freed memory kept" if ok else "allocator as configured"


def verdict(met):
    return "met" if met else "not met"


def geomean(xs):
    xs = [x for x in xs if x > 0]
    return math.exp(sum(map(math.log, xs)) / len(xs)) if xs else float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer repeats and smaller arrays")
    parser.add_argument("--only", action="append", metavar="NAME", help="measure only this function (repeatable)")
    parser.add_argument("--no-chain", action="store_true", help="leave out the chain through the ufuncs (chain.py)")
    parser.add_argument("--fresh-memory", action="store_true", help="leave the allocator's trimming as it is")
    opts = parser.parse_args()
    memory = "allocator as configured" if opts.fresh_memory else keep_freed_memory()
    repeats = 3 if opts.quick else 7
    sizes = [1_000, 100_000] if opts.quick else [1_000, 100_000, 200_000, 1_000_000]

    names = [n for n in CASES if hasattr(S, n) and (not opts.only or n in opts.only)]
    cy = build_cython_oracle()
    floor, formula = build_call_probes()
    peers = pvlib_peers()

    import quarnel
    print(f"numpy {np.__version__}, Python {sys.version.split()[0]}, instruction set {quarnel._isa}, "
          f"cython oracle {'built' if cy else 'unavailable'}, pvlib peers {sorted(peers) or 'unavailable'}, "
          f"call probes {'built' if floor else 'unavailable'}, {memory}")
    print("\nScalar calls on Python floats [ns per call]")
    print(f"{'function':22}{'quarnel':>10}{'numpy':>10}{'cython':>10}{'peer':>10}{'x numpy':>10}{'x cython':>10}")
    scalar_vs_cy = {}
    for name in names:
        args = CASES[name][0]
        impls = {"quarnel": getattr(S, name), "numpy": getattr(oracle, name)}
        if cy:
            impls["cython"] = getattr(cy, name)
        if name in peers:
            impls["peer"] = peers[name]
        t = interleaved(impls, args, loops=2000 if opts.quick else 5000, repeats=repeats)
        vs_np = t["numpy"] / t["quarnel"]
        vs_cy = t["cython"] / t["quarnel"] if cy else float("nan")
        scalar_vs_cy[name] = vs_cy
        print(f"{name:22}{t['quarnel']:10.0f}{t['numpy']:10.0f}{t.get('cython', math.nan):10.0f}"
              f"{t.get('peer', math.nan):10.0f}{vs_np:10.1f}{vs_cy:10.1f}")

    overheads, in_call, by_c_floor = {}, {}, {}
    if floor:
        print("\nCost of a scalar call [ns]: the floor of a call of the module's kind, the formula alone "
              "(in a loop; its latency; in a call), and the rest (against the formula in a call), of it a "
              "fresh result object; the floor of a builtin C function")
        print(f"{'function':22}{'quarnel':>9}{'floor':>9}{'formula':>9}{'(latency)':>10}{'(in call)':>10}"
              f"{'overhead':>9}{'(in call)':>10}{'result':>9}{'C floor':>9}")
        def bracket(x):
            return f"({x:.1f})"
        for name, t in call_costs(names, floor, formula, opts.quick).items():
            formula_in_call = t["in_call"] - t["floor"]
            overheads[name] = t["quarnel"] - t["floor"] - t["formula"]
            in_call[name] = t["quarnel"] - t["floor"] - formula_in_call
            by_c_floor[name] = t["quarnel"] - t["cfloor"] - t["formula"]
            print(f"{name:22}{t['quarnel']:9.1f}{t['floor']:9.1f}{t['formula']:9.1f}{bracket(t['chained']):>10}"
                  f"{bracket(formula_in_call):>10}{overheads[name]:9.1f}{bracket(in_call[name]):>10}"
                  f"{t['fresh'] - t['floor']:9.1f}{t['cfloor']:9.1f}")

    # Arrays: every (function, size) is measured in several rounds spread over
    # the whole run, keeping the best; a spell in which the machine runs this
    # process slowly (another guest, both threads put on one core) then spoils
    # one round of a measurement, not all of it.
    cases = [(name, size) for name in names if CASES[name][1] is not None for size in sizes]
    best = {case: {} for case in cases}
    rounds = 2 if opts.quick else 3
    for _ in range(rounds):
        for name, size in cases:
            args = CASES[name][1](size)
            impls = {"quarnel": getattr(S, name), "numpy": getattr(oracle, name)}
            if cy:
                impls["cython"] = getattr(cy, name)
            if name in peers:
                impls["peer"] = peers[name]
            loops = max(1, 200_000 // size)
            for k, v in interleaved(impls, args, loops, repeats).items():
                best[(name, size)][k] = min(best[(name, size)].get(k, math.inf), v / size)

    array_ratios = {size: {} for size in sizes}
    print("\nElement-wise over float64 arrays [ns per element; extra memory beyond the output, bytes]")
    print(f"{'function':22}{'n':>9}{'quarnel':>10}{'numpy':>10}{'cython':>10}{'peer':>10}"
          f"{'x numpy':>9}{'mem q':>10}{'mem np':>11}")
    for name, size in cases:
        t = best[(name, size)]
        ratio = t["numpy"] / t["quarnel"]
        array_ratios[size][name] = ratio
        args = CASES[name][1](size)
        mem_q = extra_memory(getattr(S, name), args)
        mem_np = extra_memory(getattr(oracle, name), args)
        print(f"{name:22}{size:9d}{t['quarnel']:10.2f}{t['numpy']:10.2f}{t.get('cython', math.nan):10.2f}"
              f"{t.get('peer', math.nan):10.2f}{ratio:9.1f}{mem_q:10d}{mem_np:11d}")

    print("\nTargets")
    if cy:
        g = geomean(scalar_vs_cy.values())
        worst = min(scalar_vs_cy, key=scalar_vs_cy.get)
        print(f"  scalar: geometric mean {g:.2f}x the Cython-compiled transcription (target >= 25), "
              f"slowest {worst} at {scalar_vs_cy[worst]:.2f}x (target >= 1): {verdict(g >= 25 and scalar_vs_cy[worst] >= 1)}")
    if overheads:
        worst = max(overheads, key=overheads.get)
        print(f"  scalar call overhead (module - floor - formula): at most 20 ns for every function, "
              f"largest {worst} at {overheads[worst]:.1f} ns: {verdict(overheads[worst] <= 20)}")
        # The same target against the formula as a call runs it and against
        # the floor of a builtin C function: all three, so none hides another.
        for label, figures in (("the formula in a call", in_call), ("the floor of a builtin C function", by_c_floor)):
            worst = max(figures, key=figures.get)
            print(f"    against {label}: largest {worst} at {figures[worst]:.1f} ns: {verdict(figures[worst] <= 20)}")
    target_size = 200_000 if 200_000 in array_ratios else sizes[-1]
    ratios = array_ratios[target_size]
    if ratios:
        g = geomean(ratios.values())
        worst = min(ratios, key=ratios.get)
        print(f"  arrays of {target_size}: geometric mean {g:.2f}x the NumPy transcription (target >= 3), "
              f"slowest {worst} at {ratios[worst]:.2f}x (target >= 1.5): {verdict(g >= 3 and ratios[worst] >= 1.5)}")

    if not opts.only and not opts.no_chain:
        # The whole chain through the ufuncs, and the element-wise ufuncs
        # against the module's array calls (chain.py).
        import chain
        chain.keep_freed_memory()
        results = chain.run([100_000] if opts.quick else [100_000, 1_000_000], 2 if opts.quick else 5)
        rows = chain.element_wise(200_000, 2 if opts.quick else 5)
        print("\nTargets (the chain)")
        chain.targets(results, rows)


if __name__ == "__main__":
    main()
