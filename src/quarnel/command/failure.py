"""Errors the command reports in one line."""

from __future__ import annotations


class Failure(Exception):
    """A one-line message for the user; exit status 1."""


class UsageError(Exception):
    """Wrong usage found only once the input is open (e.g. an unknown
    --variables name); exit status 2, as argparse's own errors."""
