"""The instruction-set levels: the processor's, and the environment of a
child process capped to a lower one (QUARNEL_ISA, and NumPy without its
dispatch targets above the level)."""

import platform

import numpy as np

from support import child_env

LEVELS = ["baseline", "avx2", "avx512"]

try:
    _umath = np._core._multiarray_umath
except AttributeError:  # NumPy 1.x
    _umath = np.core._multiarray_umath


def processor_level():
    if platform.machine().lower() not in ("x86_64", "amd64"):
        return "baseline"
    f = _umath.__cpu_features__
    if f.get("AVX512F") and f.get("AVX512DQ"):
        return "avx512"
    if f.get("AVX2") and f.get("FMA3"):
        return "avx2"
    return "baseline"


def numpy_targets_above(level):
    """NumPy's dispatch targets a processor of `level` would not run."""
    def above(name):
        return name.startswith("AVX512") or name == "X86_V4" or (
            level == "baseline" and name in ("X86_V3", "AVX2", "FMA3"))
    return [name for name in getattr(_umath, "__cpu_dispatch__", []) if above(name)]


def level_env(level):
    env = child_env()
    env.update(QUARNEL_ISA=level, QUARNEL_HYPOTHESIS_PROFILE="dev", QUARNEL_FUZZ_EXAMPLES="20")
    env.pop("NPY_DISABLE_CPU_FEATURES", None)
    if targets := numpy_targets_above(level):
        env["NPY_DISABLE_CPU_FEATURES"] = " ".join(targets)
    return env
