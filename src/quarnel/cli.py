"""The command ``quarnel`` (``quarnel tmrt --help``): kept here for the
console script and ``python -m quarnel``, with the plot the examples
share; the code is in quarnel.command."""

from __future__ import annotations

from quarnel.command import Failure, main, parser
from quarnel.command.plot import PLOTTED, plot

__all__ = ["main", "parser", "Failure", "PLOTTED", "plot"]
