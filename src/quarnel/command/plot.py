"""The plot of a run: temperatures above, fluxes below, over time."""

from __future__ import annotations

import pathlib
from collections.abc import Mapping
from typing import Any

import numpy as np
import numpy.typing as npt

from quarnel.command.failure import Failure


PLOT_TEMPERATURES = [
    ("mean_radiant_temperature", "mean radiant temperature", "o-", "tab:red"),
    ("surface_temperature", "ground surface", "s--", "tab:brown"),
    ("air_temperature", "air", "^-", "tab:blue"),
]
PLOT_FLUXES = [
    ("global_radiation", "global radiation", "-"),
    ("direct_radiation", "direct radiation under cloud, normal to the beam", "-"),
    ("diffuse_radiation", "diffuse radiation", "--"),
    ("counter_radiation", "counter-radiation of the sky", "-."),
    ("ground_radiation_balance", "radiation balance of the ground", ":"),
]
PLOTTED = [k for k, *_ in PLOT_TEMPERATURES] + [k for k, *_ in PLOT_FLUXES]


def check_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise Failure("--plot needs matplotlib: pip install 'quarnel[plot]'") from None


def plot(times: npt.NDArray[Any], series: Mapping[str, npt.NDArray[Any]], title: str,
          path: pathlib.Path) -> None:
    """Temperatures above, fluxes below, over time [UTC], as PNG."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    x = np.asarray(times)
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(9, 7), constrained_layout=True)
    for key, label, style, color in PLOT_TEMPERATURES:
        if key in series:
            top.plot(x, series[key], style, color=color, label=label)
    top.set_ylabel("temperature [°C]")
    top.legend(loc="upper left")
    top.grid(alpha=0.3)
    top.set_title(title)
    for key, label, style in PLOT_FLUXES:
        if key in series:
            bottom.plot(x, series[key], style, label=label)
    bottom.axhline(0, color="black", linewidth=0.5)
    bottom.set_xlabel("time [UTC]")
    bottom.set_ylabel("flux [W/m²]")
    bottom.legend(loc="upper left", fontsize="small")
    bottom.grid(alpha=0.3)
    fig.autofmt_xdate()
    fig.savefig(path, dpi=120, format="png")
    plt.close(fig)

