#!/usr/bin/env bash
# Incremental developer build into build/, with the module copied next to
# the sources: run the tests with PYTHONPATH=src afterwards.
# Usage: scripts/dev-build.sh /path/to/python [extra cmake args]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
py="${1:?python executable}"; shift || true
bin="$(dirname "$py")"
[ -f "$here/build/build.ninja" ] || PATH="$bin:$PATH" cmake -S "$here" -B "$here/build" -G Ninja -DPython_EXECUTABLE="$py" "$@" >/dev/null
# Quiet unless it fails: then the compiler's messages, and a failing status.
if ! log="$(PATH="$bin:$PATH" ninja -C "$here/build" 2>&1)"; then
    printf '%s\n' "$log" >&2
    exit 1
fi
# Replaced, not overwritten: a process still running the old module keeps
# its file intact.
# Every extension module CMake builds lands at the top of build/.
for so in "$here"/build/*.so; do
    cp "$so" "$here/src/quarnel/.$(basename "$so").tmp"
    mv -f "$here/src/quarnel/.$(basename "$so").tmp" "$here/src/quarnel/$(basename "$so")"
done
