"""The differential fuzzing suite (fuzz_cases.py), run in a child process: a
crash of the interpreter there is a failing test with its output, not a dead
test run. QUARNEL_FUZZ_EXAMPLES sets the examples per function and test
(150 by default; docs/hardening.md has the long setting)."""

import pathlib
import signal
import subprocess
import sys

from support import child_env

HERE = pathlib.Path(__file__).resolve().parent


def test_differential_fuzzing_in_a_child_process():
    proc = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", str(HERE / "fuzz_cases.py")],
        cwd=HERE.parents[1], env=child_env(), capture_output=True, text=True)
    output = proc.stdout[-20000:] + proc.stderr[-10000:]
    assert proc.returncode >= 0, f"crashed: {signal.Signals(-proc.returncode).name}\n{output}"
    assert proc.returncode == 0, output
    assert " passed" in proc.stdout.splitlines()[-1], output
