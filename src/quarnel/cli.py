"""The command ``quarnel`` (``quarnel tmrt --help``): kept here for the
console script and ``python -m quarnel``; the code is in quarnel.command."""

from __future__ import annotations

from quarnel.command import Failure, main, parser

__all__ = ["main", "parser", "Failure"]
