#!/usr/bin/env bash
# Runs valgrind's memcheck over scripts/smoke.py (every function, scalar and
# array paths, good and bad arguments) against a release build with debug
# information in build-valgrind/. Fails on any invalid read or write, use of
# uninitialised memory or bad free; leaks are not checked (CPython keeps
# memory allocated until exit by design).
#
# Usage: scripts/valgrind.sh [/path/to/python]
#   Without a python, the project's venv (.venv-3.13) is made or reused.
#   CMAKE_BUILD_PARALLEL_LEVEL: compile jobs (ninja's default otherwise).
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
PATH="$bin:$PATH" ninja -C "$out" ${CMAKE_BUILD_PARALLEL_LEVEL:+-j "$CMAKE_BUILD_PARALLEL_LEVEL"} >/dev/null
. "$here/scripts/package-tree.sh"
PATH="$bin:$PATH" package_tree "$out" "$out/pkg"

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
