"""The ground's energy balance solved by bracketing, apart from the job's
Newton steps: the yardstick of its surface temperature."""

SIGMA = 5.67e-08


def balance_root(gain, ta, wind, eps, bowen):
    """Ts [°C] of the ground's full energy balance, solved by bracketing:
    (1 − c)(gain − εσTs⁴) = h (1 + 1/Bo)(Ts − Ta), c the soil's share of the
    net radiation (0.19 by day, 0.32 by night), h the larger of the forced
    transfer 6.2 + 4.26 u and free convection 1.52 (Ts − Ta)^(1/3)."""
    from scipy.optimize import brentq
    keep = 1 - (0.19 if gain - eps * SIGMA * (ta + 273.15) ** 4 > 0 else 0.32)

    def f(ts):
        dt = ts - ta
        h = max(6.2 + 4.26 * wind, 1.52 * max(dt, 0.0) ** (1 / 3))
        return keep * (gain - eps * SIGMA * (ts + 273.15) ** 4) - h * (1 + 1 / bowen) * dt
    return brentq(f, ta - 150, ta + 150, xtol=1e-13, rtol=1e-15, maxiter=500)
