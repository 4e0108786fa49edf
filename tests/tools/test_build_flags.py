"""Every C++ unit is compiled without contraction into fused multiply-adds
and without value-changing math shortcuts, with GCC and with clang (whose
default contracts): the kernels give the same bits at every instruction-set
level and with either compiler only so. Read off the compile commands
CMake writes for a fresh configuration; nothing is built."""

import json
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SHORTCUTS = ("-ffast-math", "-Ofast", "-funsafe-math-optimizations", "-fassociative-math",
             "-freciprocal-math", "-ffp-model=fast")


def compile_commands(tmp_path, compiler):
    build = tmp_path / pathlib.Path(compiler).name
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    run = subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *generator,
                          f"-DCMAKE_CXX_COMPILER={compiler}", f"-DPython_EXECUTABLE={sys.executable}",
                          "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    return json.loads((build / "compile_commands.json").read_text())


def found(compiler):
    """The compiler's path: the plain name, else the newest versioned one (clang++-14)."""
    if path := shutil.which(compiler):
        return path
    for version in range(40, 9, -1):
        if path := shutil.which(f"{compiler}-{version}"):
            return path
    return None


@pytest.mark.parametrize("compiler", ["g++", "clang++"])
def test_every_unit_is_compiled_without_contraction(tmp_path, compiler):
    if shutil.which("cmake") is None:
        pytest.skip("cmake is not installed")
    if (path := found(compiler)) is None:
        pytest.skip(f"{compiler} is not installed")
    compiler = path
    units = {}
    for entry in compile_commands(tmp_path, compiler):
        path = pathlib.Path(entry["file"])
        args = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
        units[path.relative_to(ROOT).as_posix() + f" ({pathlib.Path(entry['output']).parent.name})"] = args
    kernels = [u for u in units if "_avx2.cpp" in u or "_kernel" in u]
    assert kernels, sorted(units)
    for unit, args in units.items():
        contract = [a for a in args if a.startswith("-ffp-contract=")]
        assert contract and contract[-1] == "-ffp-contract=off", (unit, contract)
        assert not [a for a in args if a in SHORTCUTS], (unit, args)


def test_no_source_turns_contraction_or_shortcuts_back_on():
    # Pragmas and attributes that would undo the flags for a stretch of code.
    undo = re.compile(r"FP_CONTRACT\s+ON|FP_CONTRACT\s+DEFAULT|clang\s+fp\s+contract|"
                      r"GCC\s+optimize|optimize\s*\(|fast-math|fp-contract")
    found = [f"{p.relative_to(ROOT)}:{i}: {line.strip()}"
             for p in sorted((ROOT / "cpp").rglob("*.[ch]pp"))
             for i, line in enumerate(p.read_text().splitlines(), 1) if undo.search(line.partition("//")[0])]
    assert not found, found
