"""The quantities of the job: observations in, results out, with their
units, descriptions, physical ranges and CF attributes."""

from __future__ import annotations

import math
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from quarnel import comfort

__all__ = ["Quantity", "INPUTS", "OUTPUTS", "HEADLINE", "CATEGORIES", "REQUIRED", "HUMIDITY",
           "RADIATION", "SHORTWAVE", "FILLED", "FILLED_TERMS", "INTEGERS"]


@dataclass(frozen=True)
class Quantity:
    """A quantity of the input or output: its unit (as written in CF
    ``units`` attributes), a description, for inputs the range of
    physically sensible values (both ends included), and further CF
    attributes (``standard_name``, flags)."""

    unit: str
    long_name: str
    low: float = -math.inf
    high: float = math.inf
    attrs: Mapping[str, Any] = field(default_factory=dict)


def cf_standard_name(name: str) -> dict[str, str]:
    """The CF attributes of a quantity with a standard name."""
    return {"standard_name": name}


# Observations, in the units the chain takes. At least one of vapour
# pressure, dew point and relative humidity must be given; the radiation
# terms are optional and used exactly where given.
INPUTS: dict[str, Quantity] = {
    "air_temperature": Quantity("degC", "air temperature", -90.0, 60.0,
                                cf_standard_name("air_temperature")),
    # up to 3 % above saturation is sensor noise, taken as saturation
    "relative_humidity": Quantity("%", "relative humidity", 0.0, 103.0,
                                  cf_standard_name("relative_humidity")),
    "vapour_pressure": Quantity("hPa", "vapour pressure", 0.0, 200.0,
                                cf_standard_name("water_vapor_partial_pressure_in_air")),
    "dew_point": Quantity("degC", "dew point temperature", -100.0, 60.0,
                          cf_standard_name("dew_point_temperature")),
    # octas as UDUNITS writes eighths: "1/8" (a fraction's unit would be "1")
    "cloud_cover": Quantity("1/8", "total cloud cover in octas (eighths of the sky)", 0.0, 8.0),
    "wind_speed": Quantity("m s-1", "wind speed at 10 m", 0.0, 75.0,
                           cf_standard_name("wind_speed")),
    "global_radiation": Quantity(
        "W m-2", "global radiation on the horizontal", 0.0, 1500.0,
        cf_standard_name("surface_downwelling_shortwave_flux_in_air")),
    "direct_normal_radiation": Quantity("W m-2", "direct radiation normal to the beam", 0.0,
                                        1500.0),
    "diffuse_radiation": Quantity(
        "W m-2", "diffuse radiation on the horizontal", 0.0, 1500.0,
        cf_standard_name("surface_diffuse_downwelling_shortwave_flux_in_air")),
    "direct_horizontal_radiation": Quantity(
        "W m-2", "direct radiation on the horizontal", 0.0, 1500.0,
        cf_standard_name("surface_direct_downwelling_shortwave_flux_in_air")),
    "longwave_downward_radiation": Quantity(
        "W m-2", "long-wave radiation downwards at the surface", 0.0, 800.0,
        cf_standard_name("surface_downwelling_longwave_flux_in_air")),
    "net_shortwave_radiation": Quantity(
        "W m-2", "net short-wave radiation at the surface", 0.0, 1500.0,
        cf_standard_name("surface_net_downward_shortwave_flux")),
    "net_longwave_radiation": Quantity(
        "W m-2", "net long-wave radiation at the surface", -700.0, 300.0,
        cf_standard_name("surface_net_downward_longwave_flux")),
    "shortwave_upward_radiation": Quantity(
        "W m-2", "short-wave radiation upwards at the surface (reflected)", 0.0, 1500.0,
        cf_standard_name("surface_upwelling_shortwave_flux_in_air")),
    "longwave_upward_radiation": Quantity(
        "W m-2", "long-wave radiation upwards at the surface", 0.0, 1000.0,
        cf_standard_name("surface_upwelling_longwave_flux_in_air")),
    "surface_temperature": Quantity("degC", "ground surface temperature", -90.0, 100.0,
                                    cf_standard_name("surface_temperature")),
    "globe_temperature": Quantity("degC", "black globe temperature", -90.0, 150.0),
    "air_pressure": Quantity("hPa", "air pressure at the surface", 300.0, 1100.0,
                             cf_standard_name("surface_air_pressure")),
}
REQUIRED = ("air_temperature", "cloud_cover", "wind_speed")
HUMIDITY = ("vapour_pressure", "dew_point", "relative_humidity")
RADIATION = ("global_radiation", "direct_normal_radiation", "diffuse_radiation",
             "direct_horizontal_radiation", "longwave_downward_radiation",
             "net_shortwave_radiation", "net_longwave_radiation", "shortwave_upward_radiation",
             "longwave_upward_radiation")
SHORTWAVE = ("global_radiation", "direct_normal_radiation", "diffuse_radiation",
             "direct_horizontal_radiation", "net_shortwave_radiation")

_CATEGORY = {"flag_values": comfort.UTCI_FLAG_VALUES, "flag_meanings": comfort.UTCI_FLAG_MEANINGS,
             "_FillValue": np.int8(comfort.UTCI_CATEGORY_FILL)}
OUTPUTS: dict[str, Quantity] = {
    "solar_time": Quantity("h", "apparent solar time"),
    "zenith_angle": Quantity("degree", "solar zenith angle",
                             attrs=cf_standard_name("solar_zenith_angle")),
    "azimuth_angle": Quantity("degree", "solar azimuth angle, clockwise from north",
                              attrs=cf_standard_name("solar_azimuth_angle")),
    "radiation_zenith_angle": Quantity(
        "degree", "solar zenith angle paired with the radiation: the time stamp's, or for "
        "accumulated fluxes that of the interval's mean cos z over its sunlit part; 90 with "
        "no sun"),
    "sunlit_fraction": Quantity("1", "sunlit share of the radiation's interval"),
    "linke_turbidity": Quantity("1", "Linke turbidity factor"),
    "relative_air_mass": Quantity("1", "relative optical air mass (missing with the sun down)"),
    "clear_sky_direct_radiation": Quantity("W m-2",
                                           "clear-sky direct radiation normal to the beam"),
    "clear_sky_global_radiation": Quantity("W m-2",
                                           "clear-sky global radiation on the horizontal"),
    "direct_radiation": Quantity("W m-2", "direct radiation normal to the beam"),
    "global_radiation": Quantity(
        "W m-2", "global radiation on the horizontal",
        attrs=cf_standard_name("surface_downwelling_shortwave_flux_in_air")),
    "diffuse_radiation": Quantity(
        "W m-2", "diffuse radiation on the horizontal",
        attrs=cf_standard_name("surface_diffuse_downwelling_shortwave_flux_in_air")),
    "reflected_radiation": Quantity(
        "W m-2", "short-wave radiation reflected by the ground",
        attrs=cf_standard_name("surface_upwelling_shortwave_flux_in_air")),
    "counter_radiation": Quantity(
        "W m-2", "long-wave counter-radiation of the sky",
        attrs=cf_standard_name("surface_downwelling_longwave_flux_in_air")),
    "ground_radiation_balance": Quantity("W m-2", "radiation balance of the ground"),
    "surface_temperature": Quantity("degC", "ground surface temperature",
                                    attrs=cf_standard_name("surface_temperature")),
    "ground_longwave_radiation": Quantity(
        "W m-2", "long-wave radiation from the ground",
        attrs=cf_standard_name("surface_upwelling_longwave_flux_in_air")),
    "mean_radiant_temperature": Quantity("degC", "mean radiant temperature of a standing person "
                                         "in the sun"),
    "mean_radiant_temperature_shade": Quantity("degC", "mean radiant temperature of a standing "
                                               "person in shade"),
    "utci": Quantity("degC", "universal thermal climate index in the sun"),
    "utci_shade": Quantity("degC", "universal thermal climate index in shade"),
    "utci_category": Quantity("1", "UTCI thermal stress category in the sun", attrs=_CATEGORY),
    "utci_category_shade": Quantity("1", "UTCI thermal stress category in shade",
                                    attrs=_CATEGORY),
    "pet": Quantity("degC", "physiologically equivalent temperature in the sun"),
    "pet_shade": Quantity("degC", "physiologically equivalent temperature in shade"),
    "wbgt": Quantity("degC", "wet-bulb globe temperature in the sun"),
    "wbgt_shade": Quantity("degC", "wet-bulb globe temperature in shade"),
    "globe_temperature": Quantity("degC", "temperature of a black globe of 50.8 mm in the sun"),
    "natural_wet_bulb_temperature": Quantity("degC", "natural wet-bulb temperature in the sun"),
    "heat_index": Quantity("degC", "heat index", attrs=cf_standard_name(
        "heat_index_of_air_temperature")),
    "humidex": Quantity("degC", "humidex"),
    "apparent_temperature": Quantity("degC", "apparent temperature in shade"),
    "wind_chill": Quantity("degC", "wind chill index", attrs=cf_standard_name(
        "wind_chill_of_air_temperature")),
}
#: What a grid's output holds unless other variables are asked for.
HEADLINE = ("mean_radiant_temperature", "mean_radiant_temperature_shade", "utci", "utci_shade",
            "utci_category", "utci_category_shade")
#: Integer outputs (the rest are float64).
CATEGORIES = ("utci_category", "utci_category_shade")

#: With fill_missing="model" only: which radiation terms of an element the
#: model filled where a quantity supplied for them was missing (bit flags,
#: in the order of FILLED_TERMS: 1 global radiation, 2 direct, ...).
FILLED = "filled_from_model"
FILLED_TERMS = ("global_radiation", "direct_radiation", "diffuse_radiation",
                "reflected_radiation", "counter_radiation", "ground_longwave_radiation")
_FILLED = Quantity("1", "radiation terms filled from the model where a quantity supplied for "
                   "them was missing", attrs={
                       "flag_masks": np.array([1 << i for i in range(len(FILLED_TERMS))],
                                              dtype=np.int8),
                       "flag_meanings": " ".join(FILLED_TERMS)})
#: every integer result
INTEGERS = (*CATEGORIES, FILLED)


def described(name: str) -> Quantity | None:
    """The quantity of an output or input name, or None."""
    if name == FILLED:
        return _FILLED
    return OUTPUTS.get(name) or INPUTS.get(name)
