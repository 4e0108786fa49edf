"""Errors the command reports in one line."""

from __future__ import annotations


class Failure(Exception):
    """A one-line message for the user; exit status 1."""

