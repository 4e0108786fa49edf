"""Calls of every function on every evaluation path, shared by the leak and
thread tests and the memory-checker smoke run: good arguments (native
scalars, one-element arrays for the generic path, float64 arrays for the
native array path) and bad ones (wrong types and counts, unknown keywords,
operators that raise, arrays that do not broadcast or raise flags)."""

import math

import numpy as np

import quarnel.Strahlwerk as S

# Typical arguments of each function, one tuple per branch worth visiting.
TYPICAL = {
    "Sonnenzeit": [(10.5, 1, 13.4, 172), (0.2, 2, -15.0, 3)],
    "Zenitwinkel": [(11.2, 52.5, 172)],
    "Azimutwinkel": [(9.5, 52.5, 172), (15.0, -33.9, 10)],
    "LinkeTruebung": [(172, 52.5, 60.0), (172, -33.9, 60.0), (172, 52.5, 90.0), (172, 52.5, 100)],
    "RelOptLuftmasse": [(30.0,), (85.0,), (90.15,), (95.0,)],
    "MaxDirekteStrahlung": [(172, 35.0, 30.0, 3.5, 1.15), (172, 35.0, 87.0, 3.5, 12.0),
                            (172, 35.0, 95.0, 3.5, 999)],
    "MaxGlobalstrahlung": [(172, 35.0, 30.0, 3.5), (172, 35.0, 95.0, 3.5)],
    "DirStrMBew": [(800.0, 3)],
    "AtmosGegenstr": [(20.0, 10.0, 4)],
    "OberflTemp": [(500.0, 20.0, 2.0, 1.0), (-100, 10.0, 1.0, 0), (300.0, 15.0, 3.0, -2.0)],
    "MittlStrTemp": [(30.0, 150.0, 400.0, 300.0, 100.0, 600.0, None, 0.3, None)],
}
NAMES = list(TYPICAL)

# Positions that take arrays element by element.
ELEMENT_WISE = {
    "Sonnenzeit": [], "Zenitwinkel": [0, 1, 2], "Azimutwinkel": [1], "LinkeTruebung": [0],
    "RelOptLuftmasse": [], "MaxDirekteStrahlung": [0, 1, 3, 4], "MaxGlobalstrahlung": [0, 1, 3],
    "DirStrMBew": [0, 1], "AtmosGegenstr": [0, 1, 2], "OberflTemp": [1, 2],
    "MittlStrTemp": [0, 1, 2, 3, 4, 5, 7],
}


def spread(x, n):
    """n values around x (x itself first), as a float64 array."""
    return float(x) + np.linspace(0.0, 0.5, n)


def native(name):
    return [(name, args, {}) for args in TYPICAL[name]]


def generic(name):
    """A one-element array in the first element-wise (or else the first)
    position: NumPy computes every operation."""
    out = []
    for args in TYPICAL[name]:
        args = list(args)
        i = (ELEMENT_WISE[name] or [0])[0]
        args[i] = np.array([float(args[i])])
        out.append((name, tuple(args), {}))
    return out


def arrays(name, n=64):
    """Float64 arrays in every element-wise position: the native array path."""
    if not ELEMENT_WISE[name]:
        return []
    out = []
    for args in TYPICAL[name]:
        args = list(args)
        for i in ELEMENT_WISE[name]:
            args[i] = spread(args[i], n)
        out.append((name, tuple(args), {}))
    return out


def keywords(name):
    params = list(S.__dict__[name].__code__.co_varnames[:len(TYPICAL[name][0])])
    args = TYPICAL[name][0]
    return [(name, args[:1], dict(zip(params[1:], args[1:])))]


def good(name, n=64):
    return native(name) + generic(name) + arrays(name, n) + keywords(name)


class RaisingOps:
    def _raise(self, *args):
        raise ArithmeticError("operator raised")

    __add__ = __radd__ = __sub__ = __rsub__ = __mul__ = __rmul__ = _raise
    __truediv__ = __rtruediv__ = __neg__ = __lt__ = __le__ = __gt__ = __ge__ = __eq__ = _raise
    __hash__ = object.__hash__


def bad(name):
    """Calls that raise (or warn) on the way through binding, the native
    scalar path, the generic path and the array path."""
    args = TYPICAL[name][0]
    n = len(args)
    out = [
        (name, args[:-1], {}),                             # too few
        (name, args + (1.0,), {}),                         # too many
        (name, args[:-1], {"unknown": 1.0}),               # unexpected keyword
        (name, args, {"szeit": 1.0} if n < 4 else {}),     # multiple values / too many
        (name, ("x",) + args[1:], {}),                     # a string
        (name, args[:-1] + (RaisingOps(),), {}),           # an operator raises
        (name, (math.nan,) * n, {}),                       # NaN everywhere
        (name, (0,) * n, {}),                              # zeros: divisions by zero
        (name, (-1e308,) * n, {}),                         # overflow
    ]
    pair = np.array([1.0, 2.0])
    out.append((name, (pair,) + args[1:], {}))             # an array in the first position
    if ELEMENT_WISE[name]:
        wide = list(args)
        i = ELEMENT_WISE[name][0]
        wide[i] = np.array([1.0, -np.inf, np.nan, 5.0, 0.0])  # flags: NumPy's warnings
        out.append((name, tuple(wide), {}))
        if len(ELEMENT_WISE[name]) > 1:
            clash = list(args)
            clash[ELEMENT_WISE[name][0]] = np.ones(3)
            clash[ELEMENT_WISE[name][1]] = np.ones(4)      # shapes that do not broadcast
            out.append((name, tuple(clash), {}))
    return out


def call(entry):
    """The outcome of one entry: its value, or the exception it raised."""
    name, args, kwargs = entry
    try:
        return S.__dict__[name](*args, **kwargs)
    except Exception as exc:  # noqa: BLE001 - failures are expected outcomes
        return exc
