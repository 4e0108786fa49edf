#!/usr/bin/env bash
# Runs valgrind's memcheck over scripts/smoke.py (every function, scalar and
# array paths, good and bad arguments) against a release build with debug
# information in build-valgrind/. Fails on any invalid read or write, use of
# uninitialised memory or bad free; leaks are not checked (CPython keeps
# memory allocated until exit by design).
#
# Usage: scripts/valgrind.sh [/path/to/python]
#   Without a python, the project's venv (.venv-3.13) is made or reused.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -gt 0 ]; then
    py="$1"
else
    QUARNEL_EXTRAS=test
    . "$here/scripts/setup-venv.sh"
    py="$(command -v python)"
fi
command -v valgrind >/dev/null || { echo "valgrind: not installed (apt-get install valgrind)" >&2; exit 1; }
bin="$(dirname "$py")"
out="$here/build-valgrind"

[ -f "$out/build.ninja" ] || PATH="$bin:$PATH" cmake -S "$here" -B "$out" -G Ninja \
    -DPython_EXECUTABLE="$py" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g >/dev/null
PATH="$bin:$PATH" ninja -C "$out" >/dev/null
rm -rf "$out/pkg"
mkdir -p "$out/pkg/quarnel"
# The package as laid out (its sub-packages too), with this build's modules.
(cd "$here/src/quarnel" && find . \( -name "*.py" -o -name "*.pyi" -o -name py.typed \) \
    -not -path "*/__pycache__/*" -exec cp --parents {} "$out/pkg/quarnel/" \;)
cp "$out"/Strahlwerk*.so "$out"/_ufunc*.so "$out"/_kernels*.so "$out/pkg/quarnel/"

# Every Python allocation through malloc, where memcheck watches it.
PYTHONMALLOC=malloc PYTHONPATH="$out/pkg${PYTHONPATH:+:$PYTHONPATH}" \
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=no --track-origins=yes \
    --num-callers=30 \
    --log-file="$out/memcheck.log" "$py" "$here/scripts/smoke.py" || status=$?
status=${status:-0}
tail -n 3 "$out/memcheck.log"
if [ "$status" -ne 0 ]; then
    echo "valgrind: memcheck found errors (exit $status); full log: $out/memcheck.log" >&2
    exit 1
fi
echo "valgrind: clean"
