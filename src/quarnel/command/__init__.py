"""The command ``quarnel``: the mean radiant temperature from a file of
weather observations (``quarnel tmrt --help``).

Errors in the input or the environment end the command with a one-line
message on standard error and exit status 1 (2 for wrong usage); outputs
are written beside their target under a temporary name and renamed into
place only when everything has succeeded.
"""

from __future__ import annotations

import sys
from collections.abc import Callable, Sequence

from quarnel.command.arguments import MODEL_OPTIONS, PROG, parser
from quarnel.command.csv_io import csv_run
from quarnel.command.failure import Failure
from quarnel.command.grid import is_netcdf, netcdf_run
from quarnel.command.plot import check_matplotlib
from quarnel.command.staging import Staging

__all__ = ["main", "parser", "Failure"]


def main(argv: Sequence[str] | None = None) -> int:
    top = parser()
    args = top.parse_args(argv)
    names = dict(args.column)
    model = {name: getattr(args, name) for name in MODEL_OPTIONS}
    if args.output.resolve() == args.input.resolve():
        top.error("OUTPUT is INPUT: write the results to another file")
    if not args.input.is_file():
        return _fail(f"{args.input}: no such file" if not args.input.exists()
                     else f"{args.input}: not a file")
    netcdf = is_netcdf(args.input)
    out_suffix = args.output.suffix.lower()
    if netcdf and out_suffix not in (".nc", ".nc4", ".netcdf"):
        top.error("the output of a NetCDF input is NetCDF: name it .nc")
    if not netcdf and out_suffix != ".csv":
        top.error("the output of a CSV input is CSV: name it .csv")
    if netcdf and args.missing_value:
        top.error("--missing-value is for CSV input: NetCDF marks missing values itself "
                  "(_FillValue)")
    if not netcdf and (args.lat is None or args.lon is None):
        top.error("a CSV input needs the site: --lat and --lon")
    if args.plot is not None and args.plot.suffix.lower() != ".png":
        top.error("--plot writes PNG: name it .png")

    staging = Staging()
    try:
        if args.plot is not None:
            check_matplotlib()
        run: Callable[..., None] = netcdf_run if netcdf else csv_run
        run(args, names, model, staging)
        staging.commit()
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
        return _fail(f"{args.input}: {type(e).__name__}: {e}")
    print(f"wrote {args.output}" + (f" and {args.plot}" if args.plot else ""), file=sys.stderr)
    return 0


def _fail(message: str, status: int = 1) -> int:
    print(f"{PROG}: error: {message.splitlines()[0] if message else 'failed'}", file=sys.stderr)
    return status
