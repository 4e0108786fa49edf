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
    namespace = vars(S)
    names = list(namespace)
    saved = S.np
    del S.np
    try:
        yield
    finally:
        # Back in its place, so that the namespace keeps its order.
        later = {name: namespace.pop(name)
                 for name in names[names.index("np") + 1:] if name in namespace}
        namespace["np"] = saved
        namespace.update(later)
