"""One day at one site, hour by hour: from weather observations to the mean
radiant temperature of a person standing outdoors.

    python examples/day_at_a_site.py [observations.csv] [--plot PATH | --no-plot]

The observations (examples/data/greenwich_2023-07-12.csv by default) give,
for each hour, the air temperature [°C], the vapour pressure [hPa], the
relative humidity [%], the cloud cover [octas] and the wind speed [m/s]; the
site (latitude, longitude, UTC offset, height) and the date are in the
file's comment header. Every hour runs through all eleven functions of
quarnel.Strahlwerk, each result handed on as the next function's argument:

    Sonnenzeit          clock time           -> solar time szeit [h]
    Zenitwinkel         szeit                -> zenith angle [°]
    Azimutwinkel        szeit                -> azimuth [°], for the table
    LinkeTruebung       day, latitude, RH    -> Linke turbidity
    RelOptLuftmasse     zenith               -> relative optical air mass
    MaxDirekteStrahlung zenith, Linke, mass  -> clear-sky direct radiation [W/m²]
    MaxGlobalstrahlung  zenith, Linke        -> clear-sky global radiation [W/m²]
    DirStrMBew          clear-sky direct, N  -> direct radiation under cloud [W/m²]
    AtmosGegenstr       T, e, N              -> counter-radiation of the sky [W/m²]
    OberflTemp          balance, T, wind     -> ground surface temperature [°C]
    MittlStrTemp        zenith and fluxes    -> mean radiant temperature [°C]

What the observations do not contain is filled in by these assumptions:

* Time. Sonnenzeit's result is its time argument brought into [0, 24) (its
  zone-time round trip cancels), so the time handed to it must already be
  solar time. The observations are stamped in UTC at a site on the prime
  meridian: clock time is local mean solar time there (the equation of time,
  about -5 min in July, is left out).
* Short-wave fluxes. Global radiation under cloud is the clear-sky global
  radiation reduced after Kasten and Czeplak (1980),
  G = Gmax (1 - 0.75 (N/8)^3.4). The diffuse radiation on the horizontal is
  what the direct radiation under cloud, projected on the horizontal, leaves
  of G: D = max(G - I cos(zenith), 0). The ground reflects R = albedo_g G.
* The ground: a summer lawn with albedo 0.2, long-wave emissivity 0.95 and a
  Bowen ratio of 0.8. Its radiation balance is
  Q = (1 - albedo_g) G + eps_g L_down - eps_g sigma (T + 273.15)^4, the
  emitted long-wave radiation estimated at air temperature (the surface
  temperature is what OberflTemp makes of this balance).
* The person: short-wave albedo 0.3. MittlStrTemp adds its flux arguments
  with weight one, so they are passed already weighted with the view factors
  of a standing person, 0.5 for each hemisphere. The park has a sky view
  factor of 0.8; the rest of the upper hemisphere is trees at air
  temperature:
      AGegenstr = 0.5 psi L_down                         (sky, long-wave)
      EStrOben  = 0.5 (1 - psi) sigma (T + 273.15)^4     (trees, long-wave)
      EStrUnten = 0.5 (eps_g sigma (Ts + 273.15)^4 + (1 - eps_g) L_down)
      DiffStr   = 0.5 psi D + 0.5 R                      (short-wave, weighted by
                                                          MittlStrTemp's absorption)
      MaxDirStr = direct radiation under cloud
  With the sun below the horizon the zenith angle passed to MittlStrTemp is
  90°: there is no direct radiation then, and the elevation weight of the
  direct radiation takes the square root of the elevation.

The script prints a table and, when matplotlib is installed, writes a plot
of the mean radiant temperature beside the air and surface temperatures and
the radiation terms.
"""

from __future__ import annotations

import argparse
import csv
import datetime
import math
import pathlib
import sys
from dataclasses import dataclass

import quarnel.Strahlwerk as S

HERE = pathlib.Path(__file__).resolve().parent
DEFAULT_OBSERVATIONS = HERE / "data" / "greenwich_2023-07-12.csv"
DEFAULT_PLOT = pathlib.Path("day_at_a_site.png")

SIGMA = 5.67e-08           # Stefan–Boltzmann constant [W m⁻² K⁻⁴]
GROUND_ALBEDO = 0.2        # summer lawn
GROUND_EMISSIVITY = 0.95
BOWEN_RATIO = 0.8
PERSON_ALBEDO = 0.3        # clothing and skin, short-wave
SKY_VIEW_FACTOR = 0.8      # park with trees around


@dataclass(frozen=True)
class Site:
    name: str
    breite: float      # latitude [°N]
    laenge: float      # longitude [°E]
    zeitzone: float    # offset of the observation clock from UTC [h]
    hoehe: float       # height above sea level [m]
    date: datetime.date

    @property
    def dayofyear(self) -> int:
        return self.date.timetuple().tm_yday


@dataclass(frozen=True)
class Observation:
    hour: float        # clock time [h]
    luft_temp: float   # air temperature [°C]
    dampfdruck: float  # vapour pressure [hPa]
    rh: float          # relative humidity [%]
    n: float           # cloud cover [octas]
    wind: float        # wind speed [m/s]


def read_observations(path: pathlib.Path) -> tuple[Site, list[Observation]]:
    """The site from the `# key: value` header, and the hourly rows."""
    header: dict[str, str] = {}
    rows: list[str] = []
    with open(path, newline="", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#"):
                key, sep, value = line[1:].partition(":")
                if sep and value.strip():
                    header[key.strip()] = value.strip()
            elif line.strip():
                rows.append(line)
    site = Site(
        name=header["site"],
        breite=float(header["latitude_deg"]),
        laenge=float(header["longitude_deg"]),
        zeitzone=float(header["utc_offset_h"]),
        hoehe=float(header["height_m"]),
        date=datetime.date.fromisoformat(header["date"]),
    )
    observations = []
    for r in csv.DictReader(rows):
        hh, mm = r["hour_utc"].split(":")
        observations.append(Observation(
            hour=int(hh) + int(mm) / 60,
            luft_temp=float(r["air_temperature_C"]),
            dampfdruck=float(r["vapour_pressure_hPa"]),
            rh=float(r["relative_humidity_pct"]),
            n=float(r["cloud_cover_octas"]),
            wind=float(r["wind_speed_m_s"]),
        ))
    return site, observations


def black_body(t_celsius: float) -> float:
    """Emission of a black body [W/m²] at a temperature [°C]."""
    return SIGMA * (t_celsius + 273.15) ** 4


def one_hour(site: Site, obs: Observation) -> dict[str, float]:
    """The whole chain for one observation; every intermediate quantity."""
    day = site.dayofyear

    # Where the sun is.
    szeit = S.Sonnenzeit(obs.hour, site.zeitzone, site.laenge, day)
    zenith = S.Zenitwinkel(szeit, site.breite, day)
    azimuth = S.Azimutwinkel(szeit, site.breite, day)

    # Clear sky, then cloud.
    linke = S.LinkeTruebung(day, site.breite, obs.rh)
    airmass = S.RelOptLuftmasse(zenith)
    direct_clear = S.MaxDirekteStrahlung(day, site.hoehe, zenith, linke, airmass)
    global_clear = S.MaxGlobalstrahlung(day, site.hoehe, zenith, linke)
    direct = S.DirStrMBew(direct_clear, obs.n)
    global_ = global_clear * (1 - 0.75 * (obs.n / 8) ** 3.4)
    cos_zenith = math.cos(math.radians(zenith)) if zenith < 90 else 0.0
    diffuse = max(global_ - direct * cos_zenith, 0.0)
    reflected = GROUND_ALBEDO * global_

    # Long-wave radiation and the ground.
    sky = S.AtmosGegenstr(obs.luft_temp, obs.dampfdruck, obs.n)
    balance = ((1 - GROUND_ALBEDO) * global_ + GROUND_EMISSIVITY * sky
               - GROUND_EMISSIVITY * black_body(obs.luft_temp))
    surface = S.OberflTemp(balance, obs.luft_temp, obs.wind, BOWEN_RATIO)
    ground_longwave = GROUND_EMISSIVITY * black_body(surface) + (1 - GROUND_EMISSIVITY) * sky

    # What reaches a person standing there.
    tmrt = S.MittlStrTemp(
        zenith if zenith < 90 else 90.0,
        0.5 * (1 - SKY_VIEW_FACTOR) * black_body(obs.luft_temp),   # EStrOben
        0.5 * ground_longwave,                                      # EStrUnten
        0.5 * SKY_VIEW_FACTOR * sky,                                # AGegenstr
        0.5 * SKY_VIEW_FACTOR * diffuse + 0.5 * reflected,          # DiffStr
        direct,                                                     # MaxDirStr
        reflected,                                                  # ReflStr
        PERSON_ALBEDO,
        GROUND_ALBEDO,                                              # albedo_env
    )
    return {
        "hour": obs.hour, "szeit": float(szeit), "zenith": float(zenith),
        "azimuth": float(azimuth), "linke": float(linke), "airmass": float(airmass),
        "direct_clear": float(direct_clear), "direct": float(direct),
        "global_clear": float(global_clear), "global": float(global_),
        "diffuse": float(diffuse), "sky": float(sky), "balance": float(balance),
        "air": obs.luft_temp, "surface": float(surface), "tmrt": float(tmrt),
    }


def compute_day(site: Site, observations: list[Observation]) -> list[dict[str, float]]:
    return [one_hour(site, obs) for obs in observations]


COLUMNS = [
    # key, heading, format
    ("hour", "UTC", "{:5.2f}"),
    ("szeit", "szeit", "{:5.2f}"),
    ("zenith", "zenith", "{:6.1f}"),
    ("azimuth", "azim", "{:5.0f}"),
    ("linke", "Linke", "{:5.2f}"),
    ("airmass", "m", "{:5.2f}"),
    ("direct_clear", "Imax", "{:4.0f}"),
    ("direct", "I", "{:4.0f}"),
    ("global_clear", "Gmax", "{:4.0f}"),
    ("global", "G", "{:4.0f}"),
    ("diffuse", "D", "{:4.0f}"),
    ("sky", "Ldown", "{:5.0f}"),
    ("balance", "Q", "{:5.0f}"),
    ("air", "Tair", "{:5.1f}"),
    ("surface", "Tsurf", "{:5.1f}"),
    ("tmrt", "Tmrt", "{:5.1f}"),
]


def format_table(site: Site, rows: list[dict[str, float]]) -> str:
    def cell(key: str, fmt: str, row: dict[str, float]) -> str:
        if key == "airmass" and row[key] == 999:
            return "-"  # the air-mass marker: sun below the horizon
        return fmt.format(row[key])

    cells = [[heading for _, heading, _ in COLUMNS]]
    cells += [[cell(key, fmt, row) for key, _, fmt in COLUMNS] for row in rows]
    widths = [max(len(r[i]) for r in cells) for i in range(len(COLUMNS))]
    lines = [
        f"{site.name}, {site.breite:.3f}° N {site.laenge:.3f}° E, {site.hoehe:.0f} m, "
        f"{site.date.isoformat()} (day {site.dayofyear})",
        "",
    ]
    for i, r in enumerate(cells):
        lines.append("  ".join(c.rjust(w) for c, w in zip(r, widths)))
        if i == 0:
            lines.append("  ".join("-" * w for w in widths))
    lines += [
        "",
        "angles [°]; Imax, I: direct radiation clear-sky and under cloud, Gmax, G: global",
        "radiation clear-sky and under cloud, D: diffuse, Ldown: counter-radiation of the sky,",
        "Q: radiation balance of the ground [W/m²]; temperatures [°C]; m '-': sun below the horizon",
    ]
    return "\n".join(lines)


def plot(site: Site, rows: list[dict[str, float]], path: pathlib.Path) -> bool:
    """Writes the plot; False when matplotlib is not installed."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False

    hours = [r["hour"] for r in rows]
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(9, 7), constrained_layout=True)
    top.plot(hours, [r["tmrt"] for r in rows], "o-", color="tab:red", label="mean radiant temperature")
    top.plot(hours, [r["surface"] for r in rows], "s--", color="tab:brown", label="ground surface")
    top.plot(hours, [r["air"] for r in rows], "^-", color="tab:blue", label="air")
    top.set_ylabel("temperature [°C]")
    top.legend(loc="upper left")
    top.grid(alpha=0.3)
    top.set_title(f"{site.name}, {site.date.isoformat()}")

    for key, label, style in [
        ("global", "global radiation under cloud", "-"),
        ("direct", "direct radiation under cloud, normal to the beam", "-"),
        ("diffuse", "diffuse radiation", "--"),
        ("sky", "counter-radiation of the sky", "-."),
        ("balance", "radiation balance of the ground", ":"),
    ]:
        bottom.plot(hours, [r[key] for r in rows], style, label=label)
    bottom.axhline(0, color="black", linewidth=0.5)
    bottom.set_xlabel("time [h UTC]")
    bottom.set_ylabel("flux [W/m²]")
    bottom.set_xticks(range(0, 25, 3))
    bottom.legend(loc="upper left", fontsize="small")
    bottom.grid(alpha=0.3)
    fig.savefig(path, dpi=120)
    plt.close(fig)
    return True


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("observations", nargs="?", type=pathlib.Path, default=DEFAULT_OBSERVATIONS)
    parser.add_argument("--plot", type=pathlib.Path, default=DEFAULT_PLOT, help="PNG to write")
    parser.add_argument("--no-plot", action="store_true", help="print the table only")
    args = parser.parse_args(argv)

    site, observations = read_observations(args.observations)
    rows = compute_day(site, observations)
    print(format_table(site, rows))
    if not args.no_plot:
        if plot(site, rows, args.plot):
            print(f"\nplot written to {args.plot}")
        else:
            print("\nmatplotlib is not installed: no plot (pip install 'quarnel[plot]')")
    return 0


if __name__ == "__main__":
    sys.exit(main())
