"""The command ``quarnel``: the mean radiant temperature from a file of
weather observations (``quarnel tmrt --help``).

Errors in the input or the environment end the command with a one-line
message on standard error and exit status 1 (2 for wrong usage); outputs
are written beside their target under a temporary name and renamed into
place only when everything has succeeded.

The rooms: arguments (the command line), csv_io (a site's CSV),
grid_input, pipeline and grid_output (grids, block by block), grid (the
run of a grid), plot, staging (temporary names renamed into place).
"""

from __future__ import annotations

import sys
from collections.abc import Sequence
from typing import Any

from quarnel import tmrt
from quarnel.command.arguments import PROG, message, parser
from quarnel.command.csv_io import csv_run
from quarnel.command.failure import Failure, UsageError
from quarnel.command.grid import grid_run
from quarnel.command.grid_input import input_kind, output_kind
from quarnel.command.plot import check_matplotlib
from quarnel.command.staging import Staging
from quarnel.tmrt.settings import MODEL

__all__ = ["main", "parser", "Failure"]


def main(argv: Sequence[str] | None = None) -> int:
    top = parser()
    args = top.parse_args(argv)
    names = dict(args.column)
    model: dict[str, Any] = {name: getattr(args, name) for name in MODEL}
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
    if kind == "csv" and out_kind != "csv":
        top.error("the output of a CSV input is CSV: name it .csv")
    if kind != "csv" and (out_kind is None or out_kind == "csv"):
        top.error(f"the output of a grid ({kind}) is NetCDF or Zarr: name it .nc or .zarr")
    if kind != "csv" and args.missing_value:
        top.error("--missing-value is for CSV input: NetCDF marks missing values itself "
                  "(_FillValue)")
    if kind == "csv" and args.accumulation != tmrt.SETTINGS["accumulation"].default:
        top.error("--accumulation is for a grid's fluxes in J/m²: a CSV's are in W/m²")
    if kind == "csv" and args.dtype is not None:
        top.error("--dtype is for grids: CSV keeps every digit")
    if kind == "csv" and (args.latitude is None or args.longitude is None):
        top.error("a CSV input needs the site: --lat and --lon")
    if args.plot is not None and args.plot.suffix.lower() != ".png":
        top.error("--plot writes PNG: name it .png")

    staging = Staging()
    try:
        if args.plot is not None:
            check_matplotlib()
        if kind == "csv":
            csv_run(args, names, model, staging)
        else:
            assert out_kind is not None            # refused above
            grid_run(args, names, model, staging, kind, out_kind)
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
    except OSError as e:
        staging.abort()
        return _fail(f"{e.filename or args.input}: {e.strerror or e}")
    except Exception as e:  # noqa: BLE001 - the promise is a message, never a traceback
        staging.abort()
        return _fail(f"{args.input}: {type(e).__name__}: {message(e)}")
    print(f"wrote {args.output}" + (f" and {args.plot}" if args.plot else ""), file=sys.stderr)
    return 0


def _fail(message: str, status: int = 1) -> int:
    print(f"{PROG}: error: {message.splitlines()[0] if message else 'failed'}", file=sys.stderr)
    return status
