"""The command on data as it comes: supersaturated humidity, the time
stamps' meaning, implausible accumulations, and gaps."""

import csv

import numpy as np
import pytest

from support.cli import run

SITE = ["--lat", "48.0", "--lon", "11.0"]


def write_csv(path, rows, header="time,air_temperature,vapour_pressure,cloud_cover,wind_speed"):
    path.write_text(header + "\n" + "\n".join(rows) + "\n", encoding="utf-8")
    return path


def read_csv(path):
    with open(path, encoding="utf-8") as f:
        return list(csv.DictReader(f))


def test_vapour_pressure_far_above_saturation_names_file_line_and_column(tmp_path, capsys):
    src = write_csv(tmp_path / "obs.csv", ["2023-07-12T11:00Z,20,14,2,2",
                                           "2023-07-12T12:00Z,20,50,2,2"])
    status, err = run([src, "-o", tmp_path / "out.csv", *SITE], capsys)
    assert status == 1
    assert f"{src}, line 3, column 'vapour_pressure': a vapour pressure of 50 hPa is 114 % " \
        "above saturation" in err
    assert not (tmp_path / "out.csv").exists()
    # a little above: saturation
    write_csv(src, ["2023-07-12T12:00Z,20,23.8,2,2"])
    status, err = run([src, "-o", tmp_path / "out.csv", *SITE], capsys)
    assert status == 0, err
    row = read_csv(tmp_path / "out.csv")[0]
    assert float(row["relative_humidity"]) == 100.0 and float(row["dew_point"]) == \
        pytest.approx(20.0, abs=1e-12)
