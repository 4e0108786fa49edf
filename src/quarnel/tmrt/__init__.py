"""The mean radiant temperature of a person outdoors, from weather observations.

One call, :func:`compute`, takes the observations at a site or on a grid and
returns them with every intermediate quantity of the chain through the
eleven functions of :mod:`quarnel.Strahlwerk` and the mean radiant
temperature, in the same kind of container it was given:

* a mapping of NumPy arrays (with a ``time`` entry of ``datetime64``
  values) gives a ``dict`` of NumPy arrays;
* a pandas ``DataFrame`` with a time index (or a ``time`` column) gives a
  ``DataFrame``;
* an xarray ``Dataset`` with a time coordinate gives a ``Dataset``, lazy
  when the input is backed by dask.

Solar time is apparent solar time from the clock: the time of day in UTC,
plus longitude / 15 hours, plus the equation of time of
``Sonnenzeit`` (see docs/reference.md). What observations do not contain
is modelled as in docs/reference.md, "Mean radiant temperature from
observations", with the assumptions as keyword arguments (``SETTINGS``).

pandas and xarray are imported only when such a container is given.

The rooms: ``call`` (compute and its dispatch), ``settings`` (the table of
settings and their check), ``quantities``, ``names`` (which variable holds
which quantity, ERA5's names), ``units``, ``accumulation``, ``checks``
(observations against their ranges), ``clock``, ``chain`` (the physics,
step by step, with the sources it describes), ``decomposition`` and
``interval_sun``, and the adapters ``arrays``, ``frames`` and ``datasets``.
"""

from quarnel.tmrt.accumulation import ACCUMULATION_NOISE, accumulation_hours
from quarnel.tmrt.call import Keywords, compute
from quarnel.tmrt.chain import sources
from quarnel.tmrt.chain.common import SIGMA
from quarnel.tmrt.chain.humidity import dew_point, saturation_vapour_pressure
from quarnel.tmrt.chain.indices import (WIND_UTCI_LOW, pasquill_class, wind_at_2m,
                                        wind_at_person)
from quarnel.tmrt.chain.person import PERSON_EMISSIVITY, projected_area_factor
from quarnel.tmrt.checks import ObservationError
from quarnel.tmrt.clock import equation_of_time
from quarnel.tmrt.quantities import (CATEGORIES, FILLED, FILLED_TERMS, HEADLINE, HUMIDITY, INPUTS,
                                     OUTPUTS, RADIATION, REQUIRED, SHORTWAVE, Quantity)
from quarnel.tmrt.settings import (SETTINGS, Accumulation, FillMissing, Invalid, Projection,
                                   Setting, SettingError, Timestamps, check_setting)
from quarnel.tmrt.units import UnitError, is_accumulated

__all__ = [
    "compute", "Keywords", "ObservationError", "UnitError", "SettingError", "INPUTS", "OUTPUTS",
    "HEADLINE", "CATEGORIES", "FILLED", "FILLED_TERMS", "REQUIRED", "HUMIDITY", "RADIATION",
    "SHORTWAVE", "Quantity", "SETTINGS", "Setting", "check_setting", "Accumulation", "Projection",
    "Invalid", "Timestamps", "FillMissing",
    "accumulation_hours", "is_accumulated", "sources", "projected_area_factor",
    "saturation_vapour_pressure", "dew_point", "equation_of_time", "SIGMA", "PERSON_EMISSIVITY",
    "WIND_UTCI_LOW", "ACCUMULATION_NOISE", "wind_at_person", "wind_at_2m", "pasquill_class",
]
