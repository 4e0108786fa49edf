#!/usr/bin/env bash
# Builds the module with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ and runs the test suite against that build, the sanitizer
# runtime preloaded into the interpreter. Fails on any sanitizer report.
#
# Usage: scripts/sanitize.sh [/path/to/python] [pytest args]
#   Without a python, the project's venv (.venv-3.13) is made or reused.
#   CMAKE_BUILD_PARALLEL_LEVEL: compile jobs (ninja's default otherwise).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -gt 0 ] && [ -x "$1" ] && [ ! -d "$1" ]; then
    py="$1"; shift
else
    QUARNEL_EXTRAS=test
    . "$here/scripts/setup-venv.sh"
    py="$(command -v python)"
fi
bin="$(dirname "$py")"
out="$here/build-sanitize"

[ -f "$out/build.ninja" ] || PATH="$bin:$PATH" cmake -S "$here" -B "$out" -G Ninja \
    -DPython_EXECUTABLE="$py" -DQUARNEL_SANITIZE=ON >/dev/null
PATH="$bin:$PATH" ninja -C "$out" ${CMAKE_BUILD_PARALLEL_LEVEL:+-j "$CMAKE_BUILD_PARALLEL_LEVEL"} >/dev/null

# A package of its own, so the developer build in src/ stays as it is.
. "$here/scripts/package-tree.sh"
PATH="$bin:$PATH" package_tree "$out" "$out/pkg"

# libasan must come first; libstdc++ with it, so that its interceptor of
# C++ throws finds the real one (the interpreter itself is plain C).
export LD_PRELOAD="$(c++ -print-file-name=libasan.so) $(c++ -print-file-name=libstdc++.so)"
# CPython leaves memory allocated at exit by design: no leak report.
export ASAN_OPTIONS="detect_leaks=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Every Python allocation through malloc, where ASan watches it.
export PYTHONMALLOC=malloc
export PYTHONPATH="$out/pkg${PYTHONPATH:+:$PYTHONPATH}"

"$py" -c "import quarnel.Strahlwerk as S, sys; sys.exit(not S.__file__.startswith('$out/pkg/'))" || {
    echo "sanitize: the sanitizer build is not the one imported" >&2
    exit 1
}

# Python-level capture only: a report written to the file descriptor
# reaches the log even when it ends the process.
cd "$here"
log="$out/pytest.log"
status=0
"$py" -m pytest -q -p no:cacheprovider --capture=sys "$@" 2>&1 | tee "$log" || status=$?
if grep -qE "^(==[0-9]+==ERROR: |SUMMARY: (Address|UndefinedBehavior)Sanitizer)|runtime error: " "$log"; then
    echo "sanitize: sanitizer reports above (full log: $log)" >&2
    status=1
fi
[ $status -eq 0 ] && echo "sanitize: clean"
exit $status
