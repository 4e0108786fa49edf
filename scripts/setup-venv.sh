# Sourced by the other scripts: makes (or reuses) a venv for the chosen
# Python, installs the package from this checkout with the extras named in
# QUARNEL_EXTRAS, and activates it. pip's output goes to a log in the venv,
# shown only when the install fails. QUARNEL_WHEEL names a wheel to install
# instead of building the checkout (CI tests the wheel users get).
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$here/scripts/find-python.sh"
venv="$here/.venv-${want}"
if [ ! -x "$venv/bin/python" ]; then
    "$PYTHON" -m venv "$venv"
fi
. "$venv/bin/activate"
log="$venv/pip-install.log"
python -m pip install --upgrade pip >"$log" 2>&1 || true
source="$here"
if [ -n "${QUARNEL_WHEEL:-}" ]; then
    # A wheel of the installed version would count as installed already.
    source="$QUARNEL_WHEEL"
    python -m pip uninstall -y quarnel >>"$log" 2>&1 || true
fi
if ! python -m pip install "$source${QUARNEL_EXTRAS:+[$QUARNEL_EXTRAS]}" >>"$log" 2>&1; then
    cat "$log" >&2
    echo "error: installing quarnel${QUARNEL_EXTRAS:+[$QUARNEL_EXTRAS]} into $venv failed (pip's log above)" >&2
    exit 1
fi
