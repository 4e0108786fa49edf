#!/usr/bin/env bash
# Builds the extension modules for aarch64 with the cross compiler and runs
# the differential tests under qemu's user-mode emulation, on an x86-64
# Debian machine; holds every compiled function's values to those of the
# x86-64 developer build. Run it whenever a kernel or anything
# machine-specific changes (docs/hardening.md).
#
# Usage: scripts/aarch64.sh [pytest args]
#   Runs the differential tests listed below, or the tests named in the
#   arguments (`scripts/aarch64.sh tests` for the whole suite, about 20 min).
#   Needs root the first time (apt-get for qemu and the cross compiler).
#
# Kept between runs in .aarch64/: a sysroot with Debian's arm64 Python 3.11
# and the libraries it loads (unpacked with dpkg -x, not installed: an
# installed python3.11:arm64 would replace the machine's own), NumPy's and the
# test dependencies' wheels for that Python, and the CMake toolchain file.
# The build goes to build-aarch64/, the package assembled from it to
# build-aarch64/pkg/.
#
# Environment:
#   QUARNEL_AARCH64_NUMPY      NumPy version to test against (2.2.6)
#   QUARNEL_HYPOTHESIS_PROFILE hypothesis profile (dev: fewer examples)
#   QUARNEL_FUZZ_EXAMPLES      examples per function in the fuzz suite (40)
#   CMAKE_BUILD_PARALLEL_LEVEL compile jobs (ninja's default otherwise)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cache="$here/.aarch64"
sysroot="$cache/sysroot"
site="$cache/site"
out="$here/build-aarch64"
numpy_version="${QUARNEL_AARCH64_NUMPY:-2.2.6}"
py_version=3.11
triple=aarch64-linux-gnu

say() { echo "aarch64: $*" >&2; }
mkdir -p "$cache"

# --- host tools: qemu and the cross compiler --------------------------------
apt_ready=""
apt_arm64() {
    [ -n "$apt_ready" ] && return
    dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
    apt-cache policy "libc6:arm64" 2>/dev/null | grep -q "Candidate: [0-9]" || apt-get update -qq
    apt_ready=1
}
missing=()
command -v qemu-aarch64-static >/dev/null || missing+=(qemu-user-static)
command -v "$triple-g++" >/dev/null || missing+=("g++-$triple")
if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    apt_arm64
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# A host Python with pip, for fetching wheels: best of the same version, as
# pip evaluates the dependencies' markers (python_version < "3.12", ...)
# with the interpreter it runs on. cmake and ninja on the host.
host_py=""
for cand in "python$py_version" "$here/.venv-3.13/bin/python" python3; do
    if "$cand" -m pip --version >/dev/null 2>&1; then host_py="$cand"; break; fi
done
[ -n "$host_py" ] || { say "no host python with pip found"; exit 1; }
if ! { cmake --version && ninja --version; } >/dev/null 2>&1; then
    if [ ! -x "$cache/host/bin/cmake" ]; then
        "$host_py" -m venv "$cache/host"
        "$cache/host/bin/python" -m pip install -q cmake ninja
    fi
    export PATH="$cache/host/bin:$PATH"
fi

# --- the sysroot: Debian's arm64 Python and what it loads -------------------
debs=(libc6 libgcc-s1 libstdc++6
      python$py_version-minimal libpython$py_version-minimal libpython$py_version-stdlib
      libpython$py_version libpython$py_version-dev
      libexpat1 zlib1g libssl3 libffi8 libbz2-1.0 liblzma5 libcrypt1 libuuid1
      libsqlite3-0 libncursesw6 libtinfo6 libreadline8 libdb5.3)
stamp="$sysroot/.complete-$(echo "${debs[*]}" | md5sum | cut -c1-12)"
if [ ! -f "$stamp" ]; then
    say "unpacking the arm64 sysroot into $sysroot"
    apt_arm64
    rm -rf "$sysroot" "$cache/debs"
    mkdir -p "$sysroot" "$cache/debs"
    (cd "$cache/debs" && apt-get download -qq "${debs[@]/%/:arm64}")
    for deb in "$cache/debs"/*.deb; do dpkg -x "$deb" "$sysroot"; done
    touch "$stamp"
fi

# The interpreter under emulation, as a script in the sysroot's bin/: it is
# also sys.executable (qemu's -0 sets argv[0]), so the tests' child
# interpreters run emulated too, and Python finds its prefix beside it.
emu_py="$sysroot/usr/bin/python"
cat >"$emu_py.tmp" <<EOF
#!/bin/sh
export PYTHONPATH="\${PYTHONPATH:+\$PYTHONPATH:}$site"
exec qemu-aarch64-static -L "$sysroot" -0 "$emu_py" "$sysroot/usr/bin/python$py_version" "\$@"
EOF
chmod +x "$emu_py.tmp"
mv -f "$emu_py.tmp" "$emu_py"

# --- NumPy and the test dependencies, as aarch64 wheels ---------------------
# What the tests import (pandas, xarray and dask for the chain's tests,
# thermofeel for the UTCI's);
# importlib-metadata is dask's on 3.11, named in case pip runs on a later one.
reqs=("numpy==$numpy_version" "pytest>=8" "hypothesis>=6" pandas xarray "dask[array]" importlib-metadata thermofeel)
site_stamp="$site/.complete-$(echo "${reqs[*]}" | md5sum | cut -c1-12)"
if [ ! -f "$site_stamp" ]; then
    say "installing ${reqs[*]} for aarch64 into $site"
    rm -rf "$site"
    "$host_py" -m pip install --disable-pip-version-check --target "$site" \
        --platform manylinux2014_aarch64 --python-version "$py_version" \
        --implementation cp --only-binary=:all: "${reqs[@]}" >"$cache/pip.log" 2>&1 || {
        cat "$cache/pip.log" >&2
        exit 1
    }
    touch "$site_stamp"
fi
"$emu_py" -c "import numpy, sys; assert sys.implementation._multiarch == 'aarch64-linux-gnu'; numpy.sin(numpy.ones(3))" || {
    say "the emulated interpreter does not run NumPy"
    exit 1
}

# --- the cross build ---------------------------------------------------------
toolchain="$cache/toolchain.cmake"
cat >"$toolchain.tmp" <<EOF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER $triple-g++)
# Debian's Python.h includes its pyconfig.h from <aarch64-linux-gnu/python3.11/>.
set(CMAKE_CXX_FLAGS_INIT "-idirafter $sysroot/usr/include")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static;-L;$sysroot)
set(CMAKE_FIND_ROOT_PATH $sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
EOF
cmp -s "$toolchain.tmp" "$toolchain" && rm -f "$toolchain.tmp" || mv -f "$toolchain.tmp" "$toolchain"

if [ ! -f "$out/build.ninja" ]; then
    say "configuring $out"
    cmake -S "$here" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DPython_EXECUTABLE="$emu_py" \
        -DPython_INCLUDE_DIR="$sysroot/usr/include/python$py_version" \
        -DPython_SOABI="cpython-${py_version/./}-$triple" >"$cache/configure.log" 2>&1 || {
        cat "$cache/configure.log" >&2
        rm -f "$out/build.ninja"
        exit 1
    }
fi
say "building"
ninja -C "$out" ${CMAKE_BUILD_PARALLEL_LEVEL:+-j "$CMAKE_BUILD_PARALLEL_LEVEL"} >"$cache/build.log" 2>&1 || {
    cat "$cache/build.log" >&2
    exit 1
}
grep -E "warning:" "$cache/build.log" >&2 || true

# A package of its own: the installed modules beside the Python sources.
. "$here/scripts/package-tree.sh"
package_tree "$out" "$out/pkg"
for so in "$out"/pkg/quarnel/*.so; do
    "$triple-readelf" -h "$so" | grep -q "Machine: *AArch64" || { say "$so is not an aarch64 object"; exit 1; }
done

# --- the tests under emulation ----------------------------------------------
export PYTHONPATH="$out/pkg"
export QUARNEL_HYPOTHESIS_PROFILE="${QUARNEL_HYPOTHESIS_PROFILE:-dev}"
export QUARNEL_FUZZ_EXAMPLES="${QUARNEL_FUZZ_EXAMPLES:-40}"
"$emu_py" -c "import quarnel.Strahlwerk as S, sys; sys.exit(not S.__file__.startswith('$out/pkg/'))" || {
    say "the aarch64 build is not the one imported"
    exit 1
}
# The differential tests, unless the arguments name tests (only options:
# added to these).
named=""
for arg in "$@"; do
    path="${arg%%::*}"
    { [ -e "$path" ] || [ -e "$here/$path" ]; } && named=1
done
if [ -z "$named" ]; then
    set -- tests/module/test_solar_geometry.py tests/module/test_clearsky.py tests/module/test_budget.py \
        tests/module/test_array_path.py tests/module/test_module.py tests/module/test_sonnenzeit.py \
        tests/ufuncs/test_ufunc.py tests/kernels/test_isa_levels.py tests/module/test_fuzz.py \
        tests/job/test_tmrt.py tests/ufuncs/test_ufunc_duck.py tests/module/test_threads.py tests/module/test_interpreters.py \
        tests/kernels/test_comfort.py "$@"
fi
cd "$here"
"$emu_py" -c "import numpy, platform; print('aarch64: numpy', numpy.__version__, 'on', platform.machine(), platform.python_version())"

# --- the values against x86-64's --------------------------------------------
# Every compiled function on fixed inputs (scripts/value_digest.py), here
# and from the developer build in src/ natively, with a host Python that
# imports it (QUARNEL_X86_PYTHON, else .venv-3.13's or python3). Bit for
# bit but for the PET of a person other than the standard one: glibc's cbrt
# of the mass gives other bits on aarch64 than on x86-64 for about a fifth
# of masses (docs/hardening.md).
status=0
x86_py=""
for cand in "${QUARNEL_X86_PYTHON:-}" "$here/.venv-3.13/bin/python" python3; do
    [ -n "$cand" ] || continue
    if PYTHONPATH="$here/src" "$cand" -c "import sys, quarnel._kernels as k; sys.exit(not k.__file__.startswith('$here/src/'))" 2>/dev/null; then
        x86_py="$cand"; break
    fi
done
if [ -n "$x86_py" ]; then
    "$emu_py" scripts/value_digest.py write "$out/values-aarch64.npz" >/dev/null
    PYTHONPATH="$here/src" "$x86_py" scripts/value_digest.py write "$out/values-x86_64.npz" >/dev/null
    "$x86_py" scripts/value_digest.py compare "$out/values-x86_64.npz" "$out/values-aarch64.npz" \
        --allow pet_person,pet_corrected_person || status=1
else
    say "values not compared: no developer build in src/ for a host Python (scripts/dev-build.sh, QUARNEL_X86_PYTHON)"
fi

"$emu_py" -m pytest -q -p no:cacheprovider "$@" || status=1
exit $status
