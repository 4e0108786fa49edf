#!/usr/bin/env bash
# Installs a wheel from dist/ into a fresh venv, binaries only (no compiler
# involved), and runs scripts/wheel_smoke.py against it from outside the
# source tree.
#
# Usage: scripts/wheel-smoke.sh [WHEEL]
#   Without a wheel, dist/'s wheel for the CPython of QUARNEL_PYTHON_VERSION
#   (default 3.13). The venv is build-wheel/smoke-<version>, made anew.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
. "$here/scripts/find-python.sh"
tag="cp${want/./}"
if [ $# -gt 0 ]; then
    wheel="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
else
    found=("$here"/dist/quarnel-*-"$tag-$tag"-*.whl)
    [ -f "${found[0]}" ] || { echo "wheel-smoke: no $tag wheel in dist/ (scripts/wheel.sh $want)" >&2; exit 1; }
    [ ${#found[@]} -eq 1 ] || { echo "wheel-smoke: several $tag wheels in dist/: ${found[*]}" >&2; exit 1; }
    wheel="${found[0]}"
fi

venv="$here/build-wheel/smoke-$want"
rm -rf "$venv"
"$PYTHON" -m venv "$venv"
log="$venv/pip-install.log"
"$venv/bin/python" -m pip install --disable-pip-version-check --only-binary :all: "$wheel" >"$log" 2>&1 || {
    cat "$log" >&2
    echo "wheel-smoke: installing $(basename "$wheel") failed" >&2
    exit 1
}
echo "wheel-smoke: installed $(basename "$wheel") into $venv"
# From an empty directory, so that nothing of the checkout is importable.
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
"$venv/bin/python" -I "$here/scripts/wheel_smoke.py"
