"""The vector sine and cosine kernels of the array path (AVX-512 and AVX2)
against the C library, bit for bit, compiled and run as a small native
program that checks every kernel the processor runs (skipped without a C++
compiler or without AVX2)."""

import os

from support.native_checks import build, needs_gxx, run

SAMPLES = os.environ.get("QUARNEL_SINCOS_SAMPLES", "2000000")
SOURCES = ["tests/kernels/native/sincos_check.cpp", "cpp/machine/sincos_kernel.cpp",
           "cpp/machine/sincos_kernel_avx2.cpp", "cpp/machine/isa.cpp"]


@needs_gxx
def test_kernels_return_the_c_librarys_bits(tmp_path):
    exe = build(tmp_path / "sincos_check", SOURCES)
    run_ = run(exe, SAMPLES, what="either kernel")
    assert run_.returncode == 0, run_.stdout + run_.stderr
    # Every kernel the processor runs was checked.
    flags = open("/proc/cpuinfo").read()
    expected = [name for name, needs in (("avx512", ("avx512f", "avx512dq")), ("avx2", ("avx2", "fma")))
                if all(f" {n} " in flags or f" {n}\n" in flags for n in needs)]
    checked = [line.split(":")[0] for line in run_.stdout.splitlines() if " differences in " in line]
    assert checked == expected, run_.stdout
