#!/usr/bin/env bash
# Builds and installs quarnel into a venv, then runs the command on the
# shipped observations: a table of every quantity and the plot.
set -euo pipefail
QUARNEL_EXTRAS=plot,dask   # dask: NetCDF input and examples/grid_dask.py in the same venv
. "$(dirname "$0")/setup-venv.sh"
cd "$here"
quarnel tmrt examples/data/greenwich_2023-07-12.csv -o day_at_a_site.csv \
    --lat 51.477 --lon 0 --height 40 --plot day_at_a_site.png "$@"
python - <<'PY'
import csv
rows = list(csv.DictReader(open("day_at_a_site.csv", encoding="utf-8")))
cols = [("time", "time [UTC]", 17), ("solar_time", "szeit", 6), ("zenith_angle", "zenith", 7),
        ("global_radiation", "G", 5), ("direct_radiation", "I", 5), ("diffuse_radiation", "D", 5),
        ("counter_radiation", "Ldown", 6), ("air_temperature", "Tair", 5),
        ("surface_temperature", "Tsurf", 6), ("mean_radiant_temperature", "Tmrt", 6),
        ("mean_radiant_temperature_shade", "shade", 6), ("utci", "UTCI", 6),
        ("utci_category", "cat", 4)]
stress = ["extreme cold", "very strong cold", "strong cold", "moderate cold", "slight cold",
          "no stress", "moderate heat", "strong heat", "very strong heat", "extreme heat"]
print("".join(h.rjust(w + 1) for _, h, w in cols))
for r in rows:
    cells = [r["time"]] + [f"{float(r[k]):.1f}" if r[k] else "" for k, _, _ in cols[1:-1]]
    cells.append(r["utci_category"])
    line = "".join(c.rjust(w + 1) for c, (_, _, w) in zip(cells, cols))
    print(line + ("  " + stress[int(r["utci_category"])] if r["utci_category"] not in ("", "-1") else ""))
print("\nall columns: day_at_a_site.csv; plot: day_at_a_site.png")
PY
