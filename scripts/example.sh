#!/usr/bin/env bash
# Builds and installs quarnel into a venv, then runs the example chain.
set -euo pipefail
QUARNEL_EXTRAS=plot,dask   # dask: for examples/grid_dask.py in the same venv
. "$(dirname "$0")/setup-venv.sh"
cd "$here"
python examples/day_at_a_site.py "$@"
