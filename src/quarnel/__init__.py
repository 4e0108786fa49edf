"""quarnel: radiation and thermal-comfort formulas for people outdoors.

The formulas live in the extension module :mod:`quarnel.Strahlwerk`; the
same formulas as NumPy ufuncs in :mod:`quarnel.ufunc`, the mean radiant
temperature from weather observations in :mod:`quarnel.tmrt` (and the
command ``quarnel``), and the UTCI in :mod:`quarnel.comfort`.
"""

__all__ = ["Strahlwerk"]


def __getattr__(name: str) -> object:
    # The instruction set the compiled code uses ("baseline", "avx2",
    # "avx512"): the processor's best, capped by QUARNEL_ISA. Looked up on
    # demand, so that importing quarnel stays light.
    if name == "_isa":
        from quarnel._ufunc import isa

        return isa
    raise AttributeError(f"module 'quarnel' has no attribute {name!r}")
