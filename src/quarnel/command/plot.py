"""The plot of a run: temperatures above, fluxes below, over time.

Up to a few weeks of data are drawn as they are; longer records (a year of
hours) as daily means, with the daily range of the temperatures as a band,
since thousands of hourly wiggles hide the seasons.
"""

from __future__ import annotations

import pathlib
from collections.abc import Mapping
from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

from quarnel.command.failure import Failure


class Curve(NamedTuple):
    key: str                # the quantity
    label: str
    marker: str
    style: str              # line style
    color: str
    band: bool = False      # a long record: its daily range shaded (only a few, or they blur)


PLOT_TEMPERATURES = [
    Curve("mean_radiant_temperature", "mean radiant temperature, sun", "o", "-", "tab:red", True),
    Curve("mean_radiant_temperature_shade", "mean radiant temperature, shade", "v", "-",
          "tab:orange"),
    Curve("utci", "UTCI, sun", "D", "-", "tab:purple"),
    Curve("surface_temperature", "ground surface", "s", "--", "tab:brown"),
    Curve("air_temperature", "air", "^", "-", "tab:blue", True),
]
PLOT_FLUXES = [
    Curve("global_radiation", "global", "o", "-", "tab:orange"),
    Curve("direct_radiation", "direct, normal to the beam", "^", "-", "tab:red"),
    Curve("diffuse_radiation", "diffuse", "s", "--", "tab:cyan"),
    Curve("counter_radiation", "counter-radiation of the sky", "v", "-.", "tab:blue"),
    Curve("ground_radiation_balance", "radiation balance of the ground", "D", ":", "tab:green"),
]
PLOTTED = [c.key for c in PLOT_TEMPERATURES + PLOT_FLUXES]

#: Beyond this many points a marker per point is clutter.
MARKERS_UP_TO = 300
#: From this many days on (with several points a day), daily aggregates.
DAILY_FROM_DAYS = 21


def check_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise Failure("--plot needs matplotlib: pip install 'quarnel[plot]'") from None


def site(latitude: float, longitude: float) -> str:
    """A site as people write it: ``51.477° N, 0.12° W`` from [°] north and east positive."""
    ns = "S" if latitude < 0 else "N"
    ew = "W" if longitude < 0 else "E"
    return f"{abs(latitude):g}° {ns}, {abs(longitude):g}° {ew}"


class Daily:
    """Daily mean, minimum and maximum over UTC days; NaN is left out, and a
    day with no value is NaN (without the warnings of nanmean on it)."""

    def __init__(self, times: npt.NDArray[np.datetime64]) -> None:
        days, self._day = np.unique(times.astype("datetime64[D]"), return_inverse=True)
        self.noon = days.astype("datetime64[s]") + np.timedelta64(12 * 3600, "s")

    def __call__(self, values: npt.NDArray[Any]) -> tuple[npt.NDArray[np.float64], ...]:
        v = np.asarray(values, dtype=np.float64)
        ok = np.isfinite(v)
        n = len(self.noon)
        count = np.bincount(self._day, weights=ok, minlength=n)
        total = np.bincount(self._day, weights=np.where(ok, v, 0.0), minlength=n)
        low = np.full(n, np.inf)
        high = np.full(n, -np.inf)
        np.minimum.at(low, self._day, np.where(ok, v, np.inf))
        np.maximum.at(high, self._day, np.where(ok, v, -np.inf))
        empty = count == 0
        mean = np.divide(total, count, out=np.full(n, np.nan), where=~empty)
        low[empty] = np.nan
        high[empty] = np.nan
        return mean, low, high


def plot(times: npt.NDArray[Any], series: Mapping[str, npt.NDArray[Any]], title: str,
          path: pathlib.Path) -> None:
    """Temperatures [°C] above, fluxes [W/m²] below, over time [UTC], as PNG.

    `times` are datetime64 (or plain step numbers, for a grid without a time
    coordinate); `series` holds any of PLOTTED, one value per time.
    """
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.dates as mdates
    import matplotlib.pyplot as plt

    x = np.asarray(times)
    order = np.argsort(x, kind="stable")
    x = x[order]
    data = {k: np.asarray(v, dtype=np.float64)[order] for k, v in series.items()}
    dated = np.issubdtype(x.dtype, np.datetime64)
    daily = Daily(x) if dated else None
    if daily is not None and (len(daily.noon) < DAILY_FROM_DAYS or len(x) < 3 * len(daily.noon)):
        daily = None                # a few weeks, or already daily: as they are
    marker = daily is None and len(x) <= MARKERS_UP_TO

    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(12, 7), constrained_layout=True)
    for axes, curves in ((top, PLOT_TEMPERATURES), (bottom, PLOT_FLUXES)):
        handles: list[Any] = []
        labels: list[str] = []
        for c in curves:
            if c.key not in data:
                continue
            kind = dict(color=c.color, linestyle=c.style, linewidth=1.2 if marker else 1.0,
                        marker=c.marker if marker else None, markersize=4)
            labels.append(c.label)
            if daily is None:
                handles += axes.plot(x, data[c.key], **kind)
                continue
            mean, low, high = daily(data[c.key])
            (line,) = axes.plot(daily.noon, mean, **kind)
            if c.band:
                band = axes.fill_between(daily.noon, low, high, color=c.color, alpha=0.18,
                                         linewidth=0)
                handles.append((band, line))
            else:
                handles.append(line)
        axes.grid(alpha=0.3)
        if handles:
            # beside the axes, where no curve runs under it
            axes.legend(handles, labels, loc="upper left", bbox_to_anchor=(1.01, 1),
                        borderaxespad=0, fontsize="small", frameon=False)
    how = "daily mean, band: daily range" if daily is not None else ""
    top.set_ylabel("temperature [°C]" + (f"\n{how}" if how else ""))
    bottom.set_ylabel("flux [W/m²]" + ("\ndaily mean" if how else ""))
    bottom.axhline(0, color="black", linewidth=0.5)
    top.set_title(title)
    if dated:
        locator = mdates.AutoDateLocator()  # type: ignore[no-untyped-call]
        bottom.xaxis.set_major_locator(locator)
        bottom.xaxis.set_major_formatter(
            mdates.ConciseDateFormatter(locator))  # type: ignore[no-untyped-call]
        bottom.set_xlabel("time [UTC]")
    else:
        bottom.set_xlabel("time step")
    fig.savefig(path, dpi=110, format="png")
    plt.close(fig)
