"""Stand-ins for the module's `np`."""

import contextlib

import numpy as np

import quarnel.Strahlwerk as S


class RecordingNumpy:
    """numpy, noting every attribute asked of it."""

    def __init__(self):
        self.asked = []

    def __getattr__(self, name):
        self.asked.append(name)
        return getattr(np, name)


@contextlib.contextmanager
def module_np(obj):
    saved = S.np
    S.np = obj
    try:
        yield
    finally:
        S.np = saved


@contextlib.contextmanager
def module_without_np():
    saved = S.np
    del S.np
    try:
        yield
    finally:
        S.np = saved
