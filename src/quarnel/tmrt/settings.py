"""The settings of a computation: one table, one check.

Each setting of :func:`quarnel.tmrt.compute` is a row of ``SETTINGS``: its
default, the values it takes (numbers within a range, both ends included,
and/or words), its unit and a line of help. ``compute`` checks its
arguments against the table (:func:`check_setting`, once per call), the
command builds its options from it, and the docs' table of defaults is
tested against it. Errors name the parameter, never a command-line option.
"""

from __future__ import annotations

import math
import numbers
import re
import zoneinfo
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any, Literal, TypeAlias

import numpy as np

from quarnel.tmrt.quantities import FILLED, OUTPUTS

__all__ = ["Setting", "SETTINGS", "check_setting", "SettingError", "as_keyword", "Accumulation",
           "Projection", "Invalid", "Timestamps", "FillMissing", "Assumptions", "Reading",
           "MODEL"]

Accumulation: TypeAlias = "Literal['interval', 'since-00utc'] | float"
Timestamps: TypeAlias = Literal["instant", "interval-end", "interval-start", "interval-middle"]
FillMissing: TypeAlias = Literal["none", "model"]
Projection: TypeAlias = Literal["published", "module"]
Invalid: TypeAlias = Literal["raise", "mask"]
Group: TypeAlias = Literal["site", "data", "model"]
#: how a message spells a setting: (name, value or "") -> text
Spelling: TypeAlias = Callable[[str, str], str]


def as_keyword(name: str, value: str = "") -> str:
    """A setting as the library's caller writes it: ``accumulation=HOURS``."""
    return f"{name}={value}" if value else f"the parameter {name}"


def spelled(template: str, setting: str | None, value: str, spelling: Spelling) -> str:
    """A message with its ``{setting}`` spelt, and any other setting it
    advises written ``{name=value}`` (``{clock_check=False}``)."""
    if setting is not None:
        template = template.replace("{setting}", spelling(setting, value))
    return _ADVISED.sub(lambda m: spelling(m[1], m[2]), template)


_ADVISED = re.compile(r"\{(\w+)=([^{}]*)\}")


class SettingError(ValueError):
    """A setting refused, or one the data say to give. The message names
    the parameter (``setting``); :meth:`text` spells it otherwise (the
    command: as its option)."""

    def __init__(self, template: str, setting: str, value: str = "") -> None:
        self.template, self.setting, self.value = template, setting, value
        super().__init__(self.text())

    def text(self, spelling: Spelling = as_keyword) -> str:
        return spelled(self.template, self.setting, self.value, spelling)


@dataclass(frozen=True)
class Setting:
    """A setting of the computation.

    ``default`` None: no default (the site's latitude and longitude, which
    a grid's coordinates may give), or one by the kind of input:
    ``by_input`` (a station's, a grid's). ``low`` and ``high`` bound the numbers
    it takes (NaN: it takes none), ``words`` the words it takes.
    ``per_element``: also an array (a DataArray for a Dataset) that
    broadcasts with the observations, else a single value. ``numbers``
    says in words what numbers mean, for messages. ``flag``: True or
    False. ``text``: it takes free text, checked by its own rule; says
    what in words (a time zone's name).
    """

    name: str
    default: float | str | None
    unit: str
    help: str
    group: Group
    low: float = math.nan
    high: float = math.nan
    words: tuple[str, ...] = ()
    per_element: bool = False
    numbers: str = "a number"
    flag: bool = False
    text: str = ""
    by_input: tuple[float, float] | None = None

    def default_for(self, grid: bool) -> float | str | None:
        """The default for a station's input, or a grid's (a Dataset whose
        latitude and longitude are coordinates)."""
        if self.by_input is None:
            return self.default
        return self.by_input[1] if grid else self.by_input[0]

    def default_text(self) -> str:
        """The default in words ("" for none)."""
        if self.by_input is not None:
            return f"{self.by_input[0]:g} at a station, {self.by_input[1]:g} on a grid"
        if self.default is None:
            return ""
        return self.default if isinstance(self.default, str) else f"{self.default:g}"

    @property
    def takes_numbers(self) -> bool:
        return not math.isnan(self.low)

    def accepted(self) -> str:
        """What the setting takes, in words: "'a' or 'b'", "a number", ..."""
        if self.flag:
            return "True or False"
        numbers = self.numbers + (" or an array of numbers" if self.per_element else "")
        kinds = ([repr(w) for w in self.words] + ([numbers] if self.takes_numbers else [])
                 + ([self.text] if self.text else []))
        return kinds[0] if len(kinds) == 1 else ", ".join(kinds[:-1]) + " or " + kinds[-1]

    def range_text(self) -> str:
        unit = f" {self.unit}" if self.unit not in ("", "1") else ""
        return f"between {self.low:g} and {self.high:g}{unit}"


def _table(*rows: Setting) -> dict[str, Setting]:
    return {row.name: row for row in rows}


#: Every setting of compute, in the order of its signature.
SETTINGS: dict[str, Setting] = _table(
    Setting("latitude", None, "°N", "latitude [°, north positive]", "site", -90.0, 90.0,
            per_element=True),
    Setting("longitude", None, "°E", "longitude [°, east positive]", "site", -180.0, 360.0,
            per_element=True),
    Setting("height", 0.0, "m", "height above sea level [m]", "site", -500.0, 9000.0,
            per_element=True),
    Setting("utc_offset", 0.0, "h",
            "offset from UTC [h] of the clock of times that carry none, e.g. 1 for UTC+1; "
            "times with an offset keep theirs", "site", -14.0, 14.0, per_element=True),
    Setting("timezone", None, "",
            "the time zone of times that carry no offset, by its IANA name (e.g. "
            "Europe/Berlin), daylight saving included; in place of a UTC offset", "site",
            text="an IANA time zone name such as 'Europe/Berlin'"),
    Setting("invalid", "raise", "",
            "observations outside their physical range (e.g. cloud cover above 8 octas): "
            "refused, or treated as missing values", "data", words=("raise", "mask")),
    Setting("accumulation", "interval", "h",
            "how fluxes in J/m² were accumulated: interval (over the spacing of the time "
            "steps, ending at each: ERA5's hourly reanalysis, 3-hourly ensemble), HOURS (over "
            "that many hours before each step), or since-00utc (running totals since 00 UTC, "
            "as ERA5-Land); HOURS is also the interval means in W/m² cover (timestamps)",
            "data", 1 / 60, 24.0, words=("interval", "since-00utc"),
            numbers="a number of hours"),
    Setting("timestamps", "instant", "",
            "what the time stamp of fluxes in W/m² means: instant (the moment, paired with the "
            "sun at the stamp), or a mean over the interval of the rows' spacing (or of HOURS "
            "given as the accumulation) that ends (interval-end), starts (interval-start) or is "
            "centred (interval-middle) at the stamp, paired with that interval's sun", "data",
            words=("instant", "interval-end", "interval-start", "interval-middle")),
    Setting("fill_missing", "none", "",
            "a quantity supplied but missing at an element: the outputs that depend on it "
            "missing (none), or filled from the model (model; the element's filled terms "
            "flagged in filled_from_model)", "data", words=("none", "model")),
    Setting("clock_check", True, "",
            "measured global radiation checked against the sun: many hours of sunshine with "
            "the sun down (a wrong clock or longitude) are refused, unless this is off",
            "data", flag=True),
    Setting("wind_height", 10.0, "m",
            "height of the wind measurement [m]; brought to 10 m by the log law with a "
            "roughness length of 0.01 m (Broede et al. 2012)", "data", 0.1, 200.0,
            per_element=True),
    Setting("globe_diameter", 0.15, "m",
            "diameter of the black globe thermometer [m] (ISO 7726: 0.15)", "data", 0.02, 1.0),
    Setting("projection_factor", "published", "",
            "the standing person's projection factor for the direct beam: published "
            "(Jendritzky et al. 1990, VDI 3787-2) or module (MittlStrTemp's own)", "model",
            words=("published", "module")),
    Setting("ground_albedo", 0.2, "1", "short-wave albedo of the ground [1]", "model", 0.0, 1.0),
    Setting("ground_emissivity", 0.95, "1", "long-wave emissivity of the ground [1]", "model",
            0.5, 1.0),
    Setting("bowen_ratio", 0.8, "1", "Bowen ratio of the ground, sensible over latent heat "
            "flux [1]", "model", -0.9, 100.0),
    Setting("person_albedo", 0.3, "1", "short-wave albedo of the person [1]", "model", 0.0, 1.0),
    Setting("sky_view_factor", None, "1", "share of the upper hemisphere that is sky [1]; the "
            "rest is at air temperature; by default a park's at a station, the open sky of "
            "reanalysis on a grid", "model", 0.0, 1.0, per_element=True, by_input=(0.8, 1.0)),
    Setting("cloud_factor", 0.75, "1", "a in the cloud reduction of global radiation "
            "1 - a (N/8)^b [1]", "model", 0.0, 1.0),
    Setting("cloud_exponent", 3.4, "1", "b in the cloud reduction of global radiation [1]",
            "model", 0.1, 10.0),
)

#: The model's assumptions: the settings that shape the physics.
MODEL = tuple(name for name, s in SETTINGS.items() if s.group == "model")


def _is_number(value: Any) -> bool:
    return isinstance(value, numbers.Real) and not isinstance(value, (bool, np.bool_))


def check_setting(name: str, value: Any) -> Any:
    """The value of a setting as the computation takes it (a float, a word,
    or for settings per element also an array or a DataArray); raises
    SettingError (a ValueError) naming the setting when the value is of
    the wrong kind, NaN, or (any element) outside its range in ``SETTINGS``."""
    s = SETTINGS[name]
    if s.flag:
        if isinstance(value, (bool, np.bool_)):
            return bool(value)
        raise _refused(name, f"must be {s.accepted()}, not {value!r}")
    if isinstance(value, str):
        if value in s.words:
            return value
        if s.text:
            why = _TEXT_RULES[name](value)
            if why is None:
                return value
            raise _refused(name, f"must be {s.accepted()}, not {value!r} ({why})")
        raise _refused(name, f"must be {s.accepted()}, not {value!r}")
    if not s.takes_numbers:
        raise _refused(name, f"must be {s.accepted()}, not {value!r}")
    if type(value) in (float, int) or isinstance(value, (np.floating, np.integer)):
        # One number, the usual case, without NumPy's array machinery.
        number = float(value)
        if not s.low <= number <= s.high:
            raise _refused(name, f"must be {s.range_text()}, not {number:g}")
        return value if s.per_element else number
    if s.per_element:
        data = getattr(value, "values", value)          # a DataArray's values
        values = np.asarray(data)
        if values.dtype.kind not in "fiu":
            raise _refused(name, f"must be {s.accepted()}, not {value!r}")
        values = values.astype(np.float64, copy=False)
    elif _is_number(value) or (isinstance(value, np.ndarray) and value.ndim == 0
                               and value.dtype.kind in "fiu"):
        values = np.asarray(value, dtype=np.float64)
    else:
        raise _refused(name, f"must be {s.accepted()}, not {value!r}")
    with np.errstate(invalid="ignore"):
        bad = ~((values >= s.low) & (values <= s.high))
    if bad.any():
        worst = values[bad].flat[0]
        text = f"{worst:g}" if values.ndim == 0 else f"{worst:g} (of {values.size} values)"
        raise _refused(name, f"must be {s.range_text()}, not {text}")
    if s.per_element:
        kept = hasattr(value, "dims") or isinstance(value, np.ndarray) or _is_number(value)
        return value if kept else values
    return float(values)


def _time_zone(name: str) -> str | None:
    """Why a text is no time zone's name, or None."""
    try:
        zoneinfo.ZoneInfo(name)
    except (zoneinfo.ZoneInfoNotFoundError, ValueError, OSError):
        return "no such time zone"
    return None


#: the rule of each setting that takes free text: text -> why it is refused, or None
_TEXT_RULES: dict[str, Callable[[str], str | None]] = {"timezone": _time_zone}


def _refused(name: str, why: str) -> SettingError:
    return SettingError(f"{name} {why}", name)


@dataclass(frozen=True)
class Assumptions:
    """The checked settings the chain reads (hashable: a key of caches)."""

    ground_albedo: float
    ground_emissivity: float
    bowen_ratio: float
    person_albedo: float
    sky_view_factor: float | None                # None: per element, given with the site
    cloud_factor: float
    cloud_exponent: float
    projection_factor: Projection = "published"
    fill_missing: FillMissing = "none"
    variables: frozenset[str] | None = None     # the outputs kept; None: all
    globe_diameter: float = 0.15                # of a globe thermometer [m]

    def keeps(self, name: str) -> bool:
        """Whether a result is returned: every input, and the outputs asked for."""
        return (self.variables is None or name in self.variables
                or (name not in OUTPUTS and name != FILLED))


@dataclass(frozen=True)
class Reading:
    """The checked settings of how the observations are read: the clock,
    the instruments, and the site's values per element. ``sky_view_factor``:
    an array per element, else None (the model's single value).
    ``timestamps`` and ``accumulation``: the interval the fluxes are means
    over."""

    timezone: str | None = None
    clock_check: bool = True
    wind_height: Any = 10.0
    sky_view_factor: Any = None
    timestamps: Timestamps = "instant"
    accumulation: Accumulation = "interval"
