"""The table of settings: compute refuses each setting of the wrong kind or
out of range by its parameter's name, the table, compute's signature, its
typed overloads and the docs agree, and the command builds its options
from the table and names its options where the library names parameters."""

import inspect
import math
import pathlib
import re
import typing

import numpy as np
import pytest

from quarnel import tmrt
from quarnel.command import arguments

ROOT = pathlib.Path(__file__).resolve().parents[2]
SITE = dict(latitude=52.2, longitude=14.1)
OBS = {"time": np.array(["2023-07-12T06", "2023-07-12T12"], "datetime64[h]"),
       "air_temperature": np.array([18.0, 25.0]), "relative_humidity": np.array([80.0, 45.0]),
       "cloud_cover": np.array([2.0, 4.0]), "wind_speed": np.array([1.0, 3.0])}
#: not settings: what is chosen rather than assumed
CHOSEN = ("names", "variables")


def refused(name, value):
    with pytest.raises(ValueError) as caught:
        tmrt.compute(OBS, **{**SITE, name: value})
    assert isinstance(caught.value, tmrt.SettingError) and caught.value.setting == name
    message = str(caught.value)
    assert message.startswith(f"{name} must be"), message
    assert "--" not in message
    return message


@pytest.mark.parametrize("name", list(tmrt.SETTINGS))
def test_a_setting_of_the_wrong_kind_is_refused_by_its_name(name):
    s = tmrt.SETTINGS[name]
    if s.takes_numbers:
        for wrong in ("-5", b"1", True, [1.0] if not s.per_element else ["1"], {"a": 1}):
            assert repr(wrong) in refused(name, wrong)
    elif s.flag:
        for wrong in (1, 0.0, "False", None, [True]):
            assert f"must be True or False, not {wrong!r}" in refused(name, wrong)
    elif s.text:
        for wrong in (1.0, "Nowhere/Nothing", b"UTC", ["UTC"]):
            assert s.text in refused(name, wrong)
    else:
        for wrong in (1.0, "nonsense", None):
            message = refused(name, wrong)
            assert ", ".join(map(repr, s.words[:-1])) + f" or {s.words[-1]!r}" in message


@pytest.mark.parametrize("name", [n for n, s in tmrt.SETTINGS.items() if s.takes_numbers])
def test_a_number_out_of_range_or_nan_is_refused_by_its_name(name):
    s = tmrt.SETTINGS[name]
    step = max(abs(s.low), abs(s.high), 1.0) * 1e-9
    for wrong in (s.low - step, s.high + step, math.nan):
        assert f"must be between {s.low:g} and {s.high:g}" in refused(name, wrong)
    for right in (s.low, s.high, np.float32(s.high), int(s.high)):   # both ends are in
        tmrt.compute(OBS, **{**SITE, name: right})


def test_settings_per_element_take_arrays_and_check_every_element():
    heights = np.array([10.0, 9500.0])
    assert "9500 (of 2 values)" in refused("height", heights)
    got = tmrt.compute(OBS, latitude=[50.0, 60.0], longitude=np.array([0, 10]),
                       height=np.array([10, 400]))
    one = tmrt.compute({k: v[1:] for k, v in OBS.items()}, latitude=60.0, longitude=10.0,
                       height=400.0)
    assert got["mean_radiant_temperature"][1] == one["mean_radiant_temperature"][0]


def test_table_signature_overloads_and_docs_agree():
    params = inspect.signature(tmrt.compute).parameters
    keywords = [n for n, p in params.items() if p.kind is p.KEYWORD_ONLY]
    assert keywords == [*tmrt.SETTINGS, *CHOSEN]
    for name, s in tmrt.SETTINGS.items():
        assert params[name].default == s.default, name
    assert list(tmrt.Keywords.__annotations__) == keywords
    overloads = typing.get_overloads(tmrt.compute)
    assert len(overloads) == 3
    for o in overloads:
        assert list(inspect.signature(o).parameters) == ["observations", "keywords"]
    documented = tmrt.compute.__doc__
    for name in keywords:
        assert re.search(rf"\b{name}\b", documented), name

    # docs/reference.md: a row per setting, with its default and range
    reference = (ROOT / "docs" / "reference.md").read_text(encoding="utf-8")
    table = reference.partition("| Parameter | Default | Range | Unit |")[2].partition("\n\n")[0]
    cells = [[c.strip() for c in line.split("|")[1:-1]]
             for line in table.replace("−", "-").splitlines()[2:]]
    rows = {c[0].strip("`"): c[1:4] for c in cells}
    assert list(rows) == list(tmrt.SETTINGS)
    for name, s in tmrt.SETTINGS.items():
        default, span, unit = rows[name]
        if s.by_input is not None:          # by the kind of input
            assert default == f"{s.by_input[0]:g} at a station, {s.by_input[1]:g} on a grid"
        else:
            assert default == ("" if s.default is None else str(s.default) if s.flag
                               else f'"{s.default}"' if isinstance(s.default, str)
                               else f"{s.default:g}"), name
        assert [w.strip('"') for w in re.findall(r'"[^"]*"', span)] == list(s.words), name
        if s.takes_numbers:
            low, high = re.search(r"(-?[\d./]+) to (-?[\d./]+)$", span).groups()
            assert (eval(low), eval(high)) == (s.low, s.high), name  # noqa: S307 - our docs
            assert unit == s.unit, name


def test_the_command_builds_its_options_from_the_table():
    parser = arguments.parser()
    tmrt_parser = parser._subparsers._group_actions[0].choices["tmrt"]
    actions = {a.dest: a for a in tmrt_parser._actions}
    defaults = tmrt_parser.parse_args(["in.csv", "-o", "out.csv"])
    for name, s in tmrt.SETTINGS.items():
        action = actions[name]
        assert arguments.option(name) in action.option_strings
        assert getattr(defaults, name) == s.default, name       # in the library's words
        assert s.help in action.help, name
    # a flag's option turns it off; a text is checked as the library checks it
    assert tmrt_parser.parse_args(["i", "-o", "o", "--no-clock-check"]).clock_check is False
    assert tmrt_parser.parse_args(["i", "-o", "o", "--timezone", "Europe/Berlin"]).timezone == \
        "Europe/Berlin"
    assert arguments.option_spelling("clock_check", "False") == "--no-clock-check"
    assert arguments.option("latitude") == "--lat"
    assert tmrt_parser.parse_args(["i", "-o", "o", "--out-of-range", "missing"]).invalid == "mask"
    assert tmrt_parser.parse_args(["i", "-o", "o", "--accumulation", "3"]).accumulation == 3.0


def test_library_errors_name_parameters_and_the_command_its_options(tmp_path, capsys):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    from quarnel import cli

    ds = xr.Dataset(
        {"t2m": (("valid_time",), [290.0, 291.0, 292.0], {"units": "K"}),
         "d2m": (("valid_time",), [280.0, 281.0, 282.0], {"units": "K"}),
         "tcc": (("valid_time",), [0.5, 0.5, 0.5], {"units": "(0 - 1)"}),
         "u10": (("valid_time",), [1.0, 1.0, 1.0]), "v10": (("valid_time",), [1.0, 1.0, 1.0]),
         "ssrd": (("valid_time",), [0.0, 1e6, 2e6], {"units": "J m**-2"})},
        coords={"valid_time": np.array(["2023-07-12T06", "2023-07-12T07", "2023-07-12T09"],
                                       "datetime64[ns]")})
    with pytest.raises(tmrt.SettingError, match=r"give it \(accumulation=HOURS\)") as caught:
        tmrt.compute(ds, **SITE)
    assert "--" not in str(caught.value)
    src = tmp_path / "uneven.nc"
    ds.to_netcdf(src)
    status = cli.main(["tmrt", str(src), "-o", str(tmp_path / "o.nc"), "--lat", "52", "--lon",
                       "14"])
    err = capsys.readouterr().err
    assert status == 1 and "give it (--accumulation HOURS)" in err and "accumulation=" not in err

    # A flux out of range under the accumulation: the hint names the setting.
    hot = ds.isel(valid_time=[0, 1]).assign(ssrd=ds["ssrd"][:2] * 10)
    with pytest.raises(tmrt.ObservationError, match="see the parameter accumulation"):
        tmrt.compute(hot, **SITE)
    hot.to_netcdf(src)
    status = cli.main(["tmrt", str(src), "-o", str(tmp_path / "o.nc"), "--lat", "52", "--lon",
                       "14"])
    err = capsys.readouterr().err
    assert status == 1 and "accumulation period right? see --accumulation)" in err


def test_grid_outputs_carry_the_standard_names_of_their_quantities(tmp_path, capsys):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    from support import pinned_cases
    from quarnel import cli

    src, out = tmp_path / "era5.nc", tmp_path / "out.nc"
    ds = pinned_cases.era5(pinned_cases.load("inputs.npz"))
    ds.to_netcdf(src)
    assert cli.main(["tmrt", str(src), "-o", str(out), "--variables", "all"]) == 0, \
        capsys.readouterr().err
    named = {name: q.attrs["standard_name"] for table in (tmrt.INPUTS, tmrt.OUTPUTS)
             for name, q in table.items() if "standard_name" in q.attrs}
    with xr.open_dataset(out) as got:
        assert got["longwave_downward_radiation"].attrs["standard_name"] == \
            "surface_downwelling_longwave_flux_in_air"
        for name, standard in named.items():
            if name in got:
                assert got[name].attrs.get("standard_name") == standard, name
        assert "standard_name" not in got["mean_radiant_temperature"].attrs
    # The library's Dataset carries them too, on the inputs under their standard names.
    computed = tmrt.compute(ds)
    assert computed["net_longwave_radiation"].attrs["standard_name"] == \
        "surface_net_downward_longwave_flux"


def test_cf_attrs_gives_the_standard_name_of_the_quantity():
    pytest.importorskip("xarray")
    from quarnel.command.grid_output import cf_attrs

    bare = {"units": "W m-2", "_FillValue": 0.0, "scale_factor": 2.0}
    assert cf_attrs("longwave_downward_radiation", bare) == {
        "units": "W m-2", "standard_name": "surface_downwelling_longwave_flux_in_air"}
    assert cf_attrs("reflected_radiation", {})["standard_name"] == \
        "surface_upwelling_shortwave_flux_in_air"
    assert cf_attrs("counter_radiation", {"standard_name": "x"})["standard_name"] == "x"
    assert "standard_name" not in cf_attrs("utci", {}) | cf_attrs("t2m", {})
