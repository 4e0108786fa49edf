"""The command ``quarnel``: the mean radiant temperature from a file of
weather observations (``quarnel tmrt --help``).

Errors in the input or the environment end the command with a one-line
message on standard error and exit status 1 (2 for wrong usage); outputs
are written beside their target under a temporary name and renamed into
place only when everything has succeeded.

The rooms: arguments (the command line), csv_io (a site's CSV),
grid_input, pipeline and grid_output (grids, block by block), grid (the
run of a grid), maps (a map from a surface model, --dsm), plot, staging
(temporary names renamed into place).
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Callable, Sequence
from typing import Any

from quarnel import tmrt
from quarnel.command.arguments import MEASUREMENTS, PROG, message, parser
from quarnel.command.csv_io import csv_run
from quarnel.command.failure import Failure, UsageError
from quarnel.command.grid import grid_run
from quarnel.command.grid_input import Kind, input_kind, output_kind
from quarnel.command.maps import map_run
from quarnel.command.plot import check_matplotlib
from quarnel.command.staging import Staging
from quarnel.tmrt.settings import MODEL

__all__ = ["main", "parser", "Failure"]


def main(argv: Sequence[str] | None = None) -> int:
    top = parser()
    args = top.parse_args(argv)
    names = dict(args.column)
    # The settings every computation takes as they are (the site's and the
    # data's own are handed over by csv_run and grid_run).
    model: dict[str, Any] = {name: getattr(args, name) for name in (*MODEL, *MEASUREMENTS)}
    if args.output.resolve() == args.input.resolve():
        top.error("OUTPUT is INPUT: write the results to another file")
    if not args.input.exists():
        return _fail(f"{args.input}: no such file")
    if not args.input.is_file() and not args.input.is_dir():
        return _fail(f"{args.input}: not a file")
    try:
        kind = input_kind(args.input)
    except Failure as e:
        return _fail(str(e))
    out_kind = output_kind(args.output)
    if args.dsm is not None:
        return _maps(top, args, names, model, kind, out_kind)
    if args.bbox is not None:
        top.error("--bbox cuts a window of the DSM: give --dsm")
    if kind == "csv" and out_kind != "csv":
        top.error("the output of a CSV input is CSV: name it .csv")
    if kind != "csv" and (out_kind is None or out_kind == "csv"):
        top.error(f"the output of a grid ({kind}) is NetCDF or Zarr: name it .nc or .zarr")
    if kind != "csv" and args.missing_value:
        top.error("--missing-value is for CSV input: NetCDF marks missing values itself "
                  "(_FillValue)")
    if kind == "csv":
        _csv_accumulation(top, args)
    if kind == "csv" and args.dtype is not None:
        top.error("--dtype is for grids: CSV keeps every digit")
    if kind != "csv" and args.group is not None:
        top.error("--group is for CSV input: a grid's stations are a dimension")
    if args.plot is not None and args.plot.suffix.lower() != ".png":
        top.error("--plot writes PNG: name it .png")

    def run(staging: Staging) -> None:
        if args.plot is not None:
            check_matplotlib()
        if kind == "csv":
            csv_run(args, names, model, staging)
        else:
            assert out_kind is not None            # refused above
            grid_run(args, names, model, staging, kind, out_kind)

    status = _guarded(top, args, run)
    if status == 0:
        print(f"wrote {args.output}" + (f" and {args.plot}" if args.plot else ""), file=sys.stderr)
    return status


def _guarded(top: argparse.ArgumentParser, args: argparse.Namespace,
             run: Callable[[Staging], None]) -> int:
    """A run's outputs staged and committed; every failure one line."""
    staging = Staging()
    try:
        run(staging)
        staging.commit()
    except UsageError as e:
        staging.abort()
        top.error(str(e))
    except Failure as e:
        staging.abort()
        return _fail(str(e))
    except KeyboardInterrupt:
        staging.abort()
        return _fail("interrupted", 130)
    except MemoryError:
        staging.abort()
        return _fail("out of memory" + (": make --tile smaller" if args.dsm else ""))
    except OSError as e:
        staging.abort()
        return _fail(f"{e.filename or args.input}: {e.strerror or e}")
    except Exception as e:  # noqa: BLE001 - the promise is a message, never a traceback
        staging.abort()
        return _fail(f"{args.input}: {type(e).__name__}: {message(e)}")
    return 0


def _maps(top: argparse.ArgumentParser, args: argparse.Namespace, names: dict[str, str],
          model: dict[str, Any], kind: Kind, out_kind: Kind | None) -> int:
    """A map run (--dsm): its own checks of the options, then map_run."""
    if out_kind not in ("netcdf", "zarr"):
        top.error("maps (--dsm) are written to NetCDF or Zarr: name OUTPUT .nc or .zarr")
    if not args.dsm.is_file():
        return _fail(f"{args.dsm}: no such file")
    if args.dsm.resolve() == args.output.resolve():
        top.error("OUTPUT is the DSM: write the maps to another file")
    for given, option in ((args.plot is not None, "--plot"), (args.scheduler, "--scheduler"),
                          (args.chunks, "--chunks")):
        if given:
            top.error(f"{option} is for grids of weather, not for maps (--dsm)")
    if kind != "csv" and args.missing_value:
        top.error("--missing-value is for CSV input: NetCDF marks missing values itself "
                  "(_FillValue)")
    if kind == "csv":
        _csv_accumulation(top, args)
    if args.sky_view_factor != tmrt.SETTINGS["sky_view_factor"].default:
        top.error("--sky-view-factor is each pixel's own with --dsm (from the surface model)")
    assert out_kind is not None
    status = _guarded(top, args, lambda staging: map_run(args, names, model, staging, kind, out_kind))
    if status == 0:
        print(f"wrote {args.output}", file=sys.stderr)
    return status


def _csv_accumulation(top: argparse.ArgumentParser, args: argparse.Namespace) -> None:
    """A CSV's fluxes are in W/m²: --accumulation only gives the hours of
    the means its rows cover."""
    if (args.accumulation != tmrt.SETTINGS["accumulation"].default
            and (args.timestamps == "instant" or isinstance(args.accumulation, str))):
        top.error("--accumulation is for a grid's fluxes in J/m², and for the hours of the "
                  "means a CSV's rows cover with --timestamps interval-...")


def _fail(message: str, status: int = 1) -> int:
    print(f"{PROG}: error: {message.splitlines()[0] if message else 'failed'}", file=sys.stderr)
    return status
