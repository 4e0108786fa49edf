"""The differential tests again at each instruction-set level below the
processor's (QUARNEL_ISA=avx2, =baseline), in child processes, so that a run
on an AVX-512 machine also exercises the AVX2 and the plain code. NumPy is
capped to match (NPY_DISABLE_CPU_FEATURES naming its dispatch targets above
the level): its loops are then those an AVX2 or an older machine runs, which
is what the module's checks at import have to recognise. Also: the switch
itself (QUARNEL_ISA's values)."""

import os
import pathlib
import platform
import signal
import subprocess
import sys

import numpy as np
import pytest

from support import ROOT, TESTS, child_env
from support.isa import LEVELS, level_env, numpy_targets_above, processor_level

# The differential tests of both paths and of the ufuncs, and a short fuzz.
FILES = ["module/test_array_path.py", "module/test_solar_geometry.py", "module/test_sonnenzeit.py",
         "module/test_budget.py", "module/test_clearsky.py", "ufuncs/test_ufunc.py", "module/fuzz_cases.py"]
@pytest.mark.parametrize("level", LEVELS[:-1])
def test_differential_tests_pass_at_a_lower_level(level):
    if LEVELS.index(level) >= LEVELS.index(processor_level()):
        pytest.skip(f"the processor's own level is {processor_level()}")
    # The child sees the level and NumPy without the targets above it.
    probe = subprocess.run(
        [sys.executable, "-c", "import quarnel, numpy as np\n"
         "u = getattr(np, '_core', None) or np.core\n"
         "f = u._multiarray_umath.__cpu_features__\n"
         "print(getattr(quarnel, '_isa', None))\n"
         "print(' '.join(sorted(n for n, on in f.items() if on)))"],
        env=level_env(level), capture_output=True, text=True, check=True)
    isa, features = probe.stdout.splitlines()
    assert isa in (level, "None"), probe.stdout
    assert not set(numpy_targets_above(level)) & set(features.split()), probe.stdout

    # One level at a time: two children at once, each with its pool of
    # threads watching for work, slow each other down several times over.
    files = [str(TESTS / f) for f in FILES]
    run = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", *files],
                         cwd=ROOT, env=level_env(level), stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True)
    output, code = run.stdout, run.returncode
    assert code >= 0, f"crashed: {signal.Signals(-code).name}\n{output[-20000:]}"
    assert code == 0, output[-20000:]
    assert " passed" in output.splitlines()[-1], output[-20000:]


def import_with(setting, *flags):
    env = child_env()
    env["QUARNEL_ISA"] = setting
    return subprocess.run([sys.executable, *flags, "-c", "import quarnel, quarnel.Strahlwerk as S\n"
                           "print(getattr(quarnel, '_isa', None), S.Zenitwinkel(10.5, 52.5, 172))"],
                          env=env, capture_output=True, text=True)


def test_the_setting():
    best = processor_level()
    value = import_with("avx512").stdout.split()[1]
    # Case and surrounding blanks do not matter; a cap above the processor
    # is the processor's level.
    for setting, want in [(" AVX2\n", "avx2" if best != "baseline" else "baseline"), ("Baseline", "baseline"),
                          ("avx512", best), ("", best)]:
        run = import_with(setting, "-W", "error")
        assert run.returncode == 0, (setting, run.stderr)
        isa, got = run.stdout.split()
        assert isa in (want, "None"), (setting, isa)
        assert got == value
    # Anything else is ignored, with a warning (an error under -W error).
    run = import_with("avx-2", "-W", "always")
    assert run.returncode == 0, run.stderr
    assert run.stdout.split()[0] in (best, "None")
    assert ("RuntimeWarning: QUARNEL_ISA='avx-2' names no instruction set (baseline, avx2, avx512) and is "
            f"ignored: using {best}") in run.stderr
    run = import_with("sse9", "-W", "error::RuntimeWarning")
    assert run.returncode != 0 and "RuntimeWarning: QUARNEL_ISA='sse9'" in run.stderr, run.stderr
