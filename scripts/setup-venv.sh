# Sourced by the other scripts: makes (or reuses) a venv for the chosen
# Python, installs the package from this checkout with the extras named in
# QUARNEL_EXTRAS, and activates it.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$here/scripts/find-python.sh"
venv="$here/.venv-${want}"
if [ ! -x "$venv/bin/python" ]; then
    "$PYTHON" -m venv "$venv"
fi
. "$venv/bin/activate"
python -m pip install --quiet --upgrade pip >/dev/null 2>&1 || true
python -m pip install --quiet "$here${QUARNEL_EXTRAS:+[$QUARNEL_EXTRAS]}"
