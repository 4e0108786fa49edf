"""quarnel: radiation and thermal-comfort formulas for people outdoors.

The formulas live in the extension module :mod:`quarnel.Strahlwerk`.
"""

__all__ = ["Strahlwerk"]
