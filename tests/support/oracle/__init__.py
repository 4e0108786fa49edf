"""A pure-Python transcription of the formulas, the reference the tests hold
the extension module to: same operations, same operand order, same branches,
and `np` looked up in the transcription's own namespace at every use.
"""

import contextlib

from . import budget, clearsky, solar

AREAS = [solar, clearsky, budget]

from .solar import *  # noqa: E402,F401,F403
from .clearsky import *  # noqa: E402,F401,F403
from .budget import *  # noqa: E402,F401,F403


@contextlib.contextmanager
def use_np(obj):
    """Run the transcription with `np` bound to `obj` (a recording proxy, say)."""
    saved = [area.np for area in AREAS]
    for area in AREAS:
        area.np = obj
    try:
        yield
    finally:
        for area, np in zip(AREAS, saved):
            area.np = np
