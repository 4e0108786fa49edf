"""The documentation computes what it says: the worked example of the
reference runs as a doctest, every `Function(arguments)` ≈ value quoted in
the reference holds, and the README's code runs."""

import doctest
import importlib.util
import math
import pathlib
import re
import warnings

import pytest

import quarnel.Strahlwerk as S

ROOT = pathlib.Path(__file__).resolve().parents[2]
REFERENCE = ROOT / "docs" / "reference.md"
README = ROOT / "README.md"


def test_worked_example_runs_as_printed():
    text = REFERENCE.read_text(encoding="utf-8")
    examples = [b for b in re.findall(r"```python\n(.*?)```", text, re.S) if ">>>" in b]
    assert len(examples) == 1
    test = doctest.DocTestParser().get_doctest(examples[0], {}, "worked example", str(REFERENCE), 0)
    runner = doctest.DocTestRunner()
    runner.run(test)
    assert runner.summarize(verbose=False) == (0, len(test.examples))


QUOTED = re.compile(r"`(?P<call>(?P<fn>[A-Z]\w+)\((?P<args>[^`()]*)\))`\s*(?P<rel>≈|=)\s*"
                    r"(?P<value>[−-]?\d+(?:\.\d+)?)")


def quoted_results():
    text = REFERENCE.read_text(encoding="utf-8")
    for m in QUOTED.finditer(text):
        args = " ".join(m["args"].split()).replace("−", "-")
        yield pytest.param(m["fn"], args, m["rel"], m["value"].replace("−", "-"),
                           id=f"{m['fn']}({args})")


@pytest.mark.parametrize("fn,args,rel,value", list(quoted_results()))
def test_quoted_results_hold(fn, args, rel, value):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        got = eval(f"S.{fn}({args})", {"S": S})  # noqa: S307 - our own documentation
    decimals = len(value.partition(".")[2])
    if rel == "=":
        assert got == float(value)
        assert isinstance(got, int) == ("." not in value)  # the int markers 0 and 999
    else:
        assert math.isclose(got, float(value), rel_tol=0, abs_tol=0.6 * 10.0**-decimals)


def test_the_reference_quotes_every_function():
    quoted = {p.values[0] for p in quoted_results()}
    assert len(quoted) == 11, sorted(quoted)


def readme_blocks():
    return re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), re.S)


def test_readme_library_call_prints_what_it_says(monkeypatch, capsys):
    pytest.importorskip("pandas")
    block = readme_blocks()[0]
    monkeypatch.chdir(ROOT)                      # it reads the shipped observations
    exec(compile(block, "README.md", "exec"), {})  # noqa: S102
    promised = block.strip().splitlines()[-1].removeprefix("# ")
    assert capsys.readouterr().out.strip() == promised


def test_readme_command_example_matches_the_command(tmp_path, capsys):
    from quarnel import cli
    text = README.read_text(encoding="utf-8")
    shown = re.search(r"\$ grep 12:00 day.csv\n(.*)\n", text)[1]
    assert cli.main(["tmrt", str(ROOT / "examples/data/greenwich_2023-07-12.csv"), "-o",
                     str(tmp_path / "day.csv"), "--lat", "51.477", "--lon", "0",
                     "--height", "40"]) == 0
    lines = (tmp_path / "day.csv").read_text(encoding="utf-8").splitlines()
    assert shown in lines


def test_readme_code_runs(tmp_path, monkeypatch, capsys):
    blocks = [b for b in readme_blocks()[1:] if "quarnel import place" not in b]
    assert len(blocks) == 2
    monkeypatch.chdir(tmp_path)
    exec(compile(blocks[0], "README.md", "exec"), {})  # noqa: S102
    assert capsys.readouterr().out.strip() == "mean radiant temperature 41.8 °C"
    if importlib.util.find_spec("matplotlib") is None:
        pytest.skip("matplotlib is not installed")
    import matplotlib
    matplotlib.use("Agg")
    namespace = {}
    exec(compile(blocks[1], "README.md", "exec"), namespace)  # noqa: S102
    tmrt, air = namespace["tmrt"], namespace["air"]
    assert (tmp_path / "tmrt_day.png").stat().st_size > 10000
    assert tmrt.shape == (24,) and tmrt[12] - air[12] > 10 and tmrt[0] < air[0]


def test_readme_map_prints_what_it_says(monkeypatch, capsys):
    pytest.importorskip("xarray")
    block = next(b for b in readme_blocks() if "quarnel import place" in b)
    monkeypatch.chdir(ROOT)                      # it reads the shipped observations
    exec(compile(block, "README.md", "exec"), {})  # noqa: S102
    promised = block.strip().splitlines()[-1].removeprefix("# ")
    assert capsys.readouterr().out.strip() == promised
