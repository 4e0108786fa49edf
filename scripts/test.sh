#!/usr/bin/env bash
# Builds and installs quarnel into a fresh venv, then runs the test suite.
set -euo pipefail
QUARNEL_EXTRAS=test
. "$(dirname "$0")/setup-venv.sh"
cd "$here"
python -m pytest -q "$@"
