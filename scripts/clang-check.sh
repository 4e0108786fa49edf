#!/usr/bin/env bash
# Builds the extension modules with clang into build-clang/ and holds them to
# the GCC build: every compiled function's values and floating-point flags
# on fixed inputs, bit for bit (scripts/value_digest.py), and the tests
# named (the kernels' and the ufuncs' by default, the kernels' check
# programs compiled with clang too), each at the instruction-set levels
# baseline and avx2.
#
# Usage: scripts/clang-check.sh /path/to/python [--values | pytest args]
#   --values: the build and the values alone, no tests (CI's share).
#   The GCC build compared with: the package in src/ when the developer
#   build put its modules there (scripts/dev-build.sh), else the one the
#   python imports (CI's wheel).
#   QUARNEL_CLANG: the compiler (clang++, else the newest clang++-N on PATH).
#   Without one it says so and exits 0: macOS's wheels are the reason to
#   build with clang, and a machine without it has nothing to check.
#   CMAKE_BUILD_PARALLEL_LEVEL: compile jobs (ninja's default otherwise).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
py="${1:?python executable}"; shift || true
bin="$(dirname "$py")"
out="$here/build-clang"
say() { echo "clang-check: $*" >&2; }

cxx="${QUARNEL_CLANG:-}"
if [ -z "$cxx" ]; then
    for cand in clang++ $(compgen -c clang++- | grep -E '^clang\+\+-[0-9]+$' | sort -t- -k2 -rn); do
        command -v "$cand" >/dev/null && { cxx="$cand"; break; }
    done
fi
if [ -z "$cxx" ]; then
    say "no clang++ found: skipped (apt-get install clang)"
    exit 0
fi
values_only=""
if [ "${1:-}" = --values ]; then values_only=1; shift; fi

[ -f "$out/build.ninja" ] || CXX="$cxx" PATH="$bin:$PATH" cmake -S "$here" -B "$out" -G Ninja \
    -DPython_EXECUTABLE="$py" >/dev/null
if ! log="$(PATH="$bin:$PATH" ninja -C "$out" ${CMAKE_BUILD_PARALLEL_LEVEL:+-j "$CMAKE_BUILD_PARALLEL_LEVEL"} 2>&1)"; then
    printf '%s\n' "$log" >&2
    exit 1
fi
# Warnings count as faults here: clang's differ from GCC's and no one else
# sees them.
if grep -E "warning:" <<<"$log" >&2; then
    say "clang warns (above)"
    exit 1
fi
. "$here/scripts/package-tree.sh"
PATH="$bin:$PATH" package_tree "$out" "$out/pkg"

reference=""
compgen -G "$here/src/quarnel/_kernels*.so" >/dev/null && reference="$here/src"
[ $# -gt 0 ] || set -- tests/kernels tests/ufuncs
cd "$here"
status=0
for level in baseline avx2; do
    say "$("$cxx" --version | head -1), QUARNEL_ISA=$level"
    QUARNEL_ISA=$level PYTHONPATH="$out/pkg" "$py" scripts/value_digest.py write "$out/values-$level.npz" >/dev/null
    QUARNEL_ISA=$level PYTHONPATH="$reference" "$py" scripts/value_digest.py write "$out/gcc-values-$level.npz" >/dev/null
    "$py" scripts/value_digest.py compare "$out/gcc-values-$level.npz" "$out/values-$level.npz" || status=1
    [ -n "$values_only" ] && continue
    QUARNEL_CHECK_CXX="$cxx" QUARNEL_ISA=$level PYTHONPATH="$out/pkg" "$py" -m pytest -q -p no:cacheprovider "$@" ||
        status=1
done
exit $status
