"""quarnel.comfort.wbgt: Liljegren et al. (2008) against the authors' C code
(pywbgt) and thermofeel's NumPy port, its domain, convergence over all of
it, the ufunc protocol with three outputs, and the same bits at every
instruction-set level."""

import pickle
import subprocess
import sys
import warnings

import numpy as np
import pytest

from quarnel import comfort as C
from support import child_env
from support.isa import LEVELS, processor_level
from support.kernel_inputs import CZA_MIN, buck, weather



def ours(ta, rh, p, v, g, f, cz):
    return C.wbgt(ta, rh * buck(ta), p, v, g, f, cz)


# --- against the authors' code and thermofeel ----------------------------------

def test_within_five_hundredths_of_the_authors_c_code():
    lil = pytest.importorskip("pywbgt.liljegren")
    mpcalc = pytest.importorskip("metpy.calc")
    units = pytest.importorskip("metpy.units").units
    ta, rh, p, v, g, f, cz = weather(20_000, 1)
    wbgt, tg, tnwb = ours(ta, rh, p, v, g, f, cz)
    # pywbgt takes the dew point and turns it back into relative humidity
    # with MetPy's saturation; its C code then uses Buck's.
    td = np.asarray(mpcalc.dewpoint_from_relative_humidity(ta * units.degC, rh * units.dimensionless).m_as("degC"))
    args = (ta, td, p, v, g, f, np.maximum(cz, CZA_MIN))  # its globe divides by cos z even without beam
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        want_tg = lil.globe_temperature(*args).astype(float)
        want_tnwb = lil.natural_wetbulb(*args).astype(float)
    # Where the authors' damped iteration gives up (50 steps), pywbgt has NaN.
    ok = ~np.isnan(want_tg) & ~np.isnan(want_tnwb)
    assert ok.mean() > 0.99
    want = 0.1 * ta + 0.2 * want_tg + 0.7 * want_tnwb
    for name, got, ref in (("globe", tg, want_tg), ("wet bulb", tnwb, want_tnwb), ("WBGT", wbgt, want)):
        assert np.abs(got - ref)[ok].max() < 0.05, name
    assert np.isfinite(wbgt).all()


def test_thermofeel_iterated_to_the_root_agrees_to_a_microkelvin(monkeypatch):
    """thermofeel's port stops, like the authors' code, when a damped step is
    below 0.02 K; run to the root, its balances have ours."""
    lil = pytest.importorskip("thermofeel.liljegren")
    ta, rh, p, v, g, f, cz = weather(20_000, 2)
    wbgt, tg, tnwb = ours(ta, rh, p, v, g, f, cz)
    cz0 = np.clip(cz, 0, None)
    args = (ta + 273.15, rh, p, v, g, f, cz0)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert np.nanmax(np.abs(lil.solve_globe(*args) - tg)) < 0.05
        assert np.nanmax(np.abs(lil.solve_wetbulb(*args, 1.0) - tnwb)) < 0.05
        # Its public WBGT from the wind at 2 m clamps the direct share to 0.9.
        cut = np.minimum(f, 0.9)
        w2 = lil.wbgt(ta + 273.15, rh * 100, p, v, g, cut, cz0) - 273.15
        assert np.nanmax(np.abs(w2 - ours(ta, rh, p, v, g, cut, cz)[0])) < 0.05
        if not (hasattr(lil, "CONVERGENCE") and hasattr(lil, "MAX_ITER")):
            pytest.skip("thermofeel.liljegren has no CONVERGENCE/MAX_ITER to tighten")
        monkeypatch.setattr(lil, "CONVERGENCE", 1e-10)
        monkeypatch.setattr(lil, "MAX_ITER", 20_000)
        np.testing.assert_allclose(lil.solve_globe(*args), tg, rtol=0, atol=1e-6)
        np.testing.assert_allclose(lil.solve_wetbulb(*args, 1.0), tnwb, rtol=0, atol=1e-6)


# --- domain, convergence, the model's own order -------------------------------------

BASE = (25.0, 15.0, 1000.0, 2.0, 600.0, 0.6, 0.7)
# (argument, values just outside, values at or just inside)
BOUNDS = [
    (0, [-40.000001, 60.000001, np.inf], [-40.0, 60.0]),
    (2, [299.999, 1100.001, 0.0], [300.0, 1100.0]),
    (3, [-1e-12, 50.000001, np.inf], [0.0, 50.0]),
    (4, [2000.0001, np.inf], [2000.0, -50.0]),
    (5, [-1e-12, 1.0000001], [0.0, 1.0]),
    (6, [-1.0000001, 1.0000001], [-1.0, 1.0]),
]


@pytest.mark.parametrize("index,outside,inside", BOUNDS)
def test_nan_outside_the_domain_and_finite_on_its_bounds(index, outside, inside):
    for value, finite in [(x, False) for x in outside] + [(x, True) for x in inside] + [(np.nan, False)]:
        args = list(BASE)
        args[index] = value
        if index == 0 and np.isfinite(value):
            args[1] = 0.5 * buck(value)  # half saturated at any temperature
        with np.errstate(all="raise"):
            got = C.wbgt(*args)
        assert all(np.isfinite(x) == finite for x in got), (index, value, got)


def test_vapour_pressure_bounds_and_the_documented_floors():
    es = buck(25.0)

    def at(**change):
        args = dict(zip(("ta", "e", "p", "v", "g", "f", "cz"), BASE)) | change
        return np.array(C.wbgt(*args.values()))
    assert np.isnan(at(e=-1e-9)).all() and np.isnan(at(e=1.0500001 * es)).all()
    np.testing.assert_array_equal(at(e=1.05 * es), at(e=es))  # above saturation counts as saturated
    assert np.isfinite(at(e=0.0)).all()
    np.testing.assert_array_equal(at(v=0.0), at(v=0.13))  # the authors' floor of the wind
    np.testing.assert_array_equal(at(g=-20.0), at(g=0.0))
    np.testing.assert_array_equal(at(cz=0.008), at(cz=0.008, f=0.0))  # no beam below 89.5 deg
    np.testing.assert_array_equal(at(g=0.0, f=0.9, cz=-0.5), at(g=0.0, f=0.0, cz=0.3))


def test_converges_over_the_whole_domain_in_the_model_s_order():
    grid = np.meshgrid([-40.0, -5.0, 20.0, 45.0, 60.0], [0.0, 0.3, 1.0, 1.0499], [300.0, 700.0, 1100.0],
                       [0.0, 0.5, 4.0, 50.0], [0.0, 300.0, 2000.0], [0.0, 0.5, 1.0], [-1.0, 0.00873, 0.1, 1.0],
                       indexing="ij")
    ta, rh, p, v, g, f, cz = (x.ravel() for x in grid)
    rng = np.random.default_rng(3)
    n = 200_000
    ta = np.concatenate([ta, rng.uniform(-40, 60, n)])
    rh = np.concatenate([rh, rng.uniform(0, 1.0499, n)])
    p = np.concatenate([p, rng.uniform(300, 1100, n)])
    v = np.concatenate([v, rng.uniform(0, 50, n) ** rng.uniform(0.3, 1, n)])
    g = np.concatenate([g, rng.uniform(0, 2000, n)])
    f = np.concatenate([f, rng.uniform(0, 1, n)])
    cz = np.concatenate([cz, rng.uniform(-1, 1, n)])
    with np.errstate(all="raise"):
        wbgt, tg, tnwb = C.wbgt(ta, rh * buck(ta), p, v, g, f, cz)
        dark = C.wbgt(ta, rh * buck(ta), p, v, 0.0, f, cz)
    assert np.isfinite(wbgt).all() and np.isfinite(tg).all() and np.isfinite(tnwb).all()
    np.testing.assert_allclose(wbgt, 0.7 * tnwb + 0.2 * tg + 0.1 * ta, rtol=0, atol=1e-12)
    # Without sun a sky colder than the air (Oke's emissivity below 1: vapour
    # pressure below 48 hPa) and an evaporating (or saturated) wick keep
    # both instruments below the air; the sun warms both.
    grey = rh * buck(ta) < 48.0
    assert grey.mean() > 0.8
    assert (dark[1] <= ta + 1e-9)[grey].all() and (dark[2] <= ta + 1e-9)[grey].all()
    assert (tg >= dark[1] - 1e-9).all() and (tnwb >= dark[2] - 1e-9).all()


# --- the ufunc -------------------------------------------------------------------

def test_ufunc_protocol_with_three_outputs():
    assert (C.wbgt.nin, C.wbgt.nout) == (7, 3)
    assert pickle.loads(pickle.dumps(C.wbgt)) is C.wbgt
    ta, rh, p, v, g, f, cz = weather(3000, 4)
    e = rh * buck(ta)
    want = C.wbgt(ta, e, p, v, g, f, cz)
    # Element by element, broadcast scalars, strided and in place.
    one = C.wbgt(ta[7], e[7], p[7], v[7], g[7], f[7], cz[7])
    assert [float(x) for x in one] == [w[7] for w in want]
    grid = C.wbgt(ta[:5, None], e[:5, None], 1000.0, v[None, :4], 500.0, 0.5, 0.8)
    assert all(x.shape == (5, 4) for x in grid)
    assert grid[0][2, 3] == C.wbgt(ta[2], e[2], 1000.0, v[3], 500.0, 0.5, 0.8)[0]
    wide = np.zeros((7, 6000))
    for k, x in enumerate((ta, e, p, v, g, f, cz)):
        wide[k, ::2] = x
    strided = C.wbgt(*wide[:, ::2])
    for got, w in zip(strided, want):
        np.testing.assert_array_equal(got, w)
    outs = (np.empty(3000), np.empty(3000), ta.copy())
    back = C.wbgt(outs[2], e, p, v, g, f, cz, out=outs)  # the air temperature overwritten by its wet bulb
    assert all(a is b for a, b in zip(back, outs))
    for got, w in zip(outs, want):
        np.testing.assert_array_equal(got, w)
    # where= leaves the rest alone; float32 is cast to float64.
    keep = [np.full(3000, -99.0) for _ in range(3)]
    mask = cz > 0.5
    C.wbgt(ta, e, p, v, g, f, cz, out=tuple(keep), where=mask)
    assert (keep[0][~mask] == -99).all() and (keep[0][mask] == want[0][mask]).all()
    x32 = [x.astype(np.float32) for x in (ta, e, p, v, g, f, cz)]
    got32 = C.wbgt(*x32)
    assert got32[0].dtype == np.float64
    np.testing.assert_array_equal(got32[1], C.wbgt(*[x.astype(np.float64) for x in x32])[1])


def test_large_arrays_split_over_the_cores_give_each_element_s_value():
    ta, rh, p, v, g, f, cz = weather(300_001, 5)
    e = rh * buck(ta)
    whole = C.wbgt(ta, e, p, v, g, f, cz)
    pieces = [C.wbgt(*(x[k:k + 1000] for x in (ta, e, p, v, g, f, cz))) for k in range(0, 300_001, 1000)]
    for o in range(3):
        np.testing.assert_array_equal(whole[o], np.concatenate([pc[o] for pc in pieces]))


def test_blocks_solved_together_give_each_element_alone_its_bits():
    # A block's searches run interleaved, a lane taking the next element when
    # its own ends; the boiling point is kept from one pressure to the next.
    # Mixed in: NaN, elements outside the domain, pressures that repeat and
    # change, no sun, and cold calm air in strong sun at low pressures, where
    # the wick's search meets the boiling point (a stale one moves its
    # steps): each element must come out as when computed alone.
    ta, rh, p, v, g, f, cz = weather(3_000, 11)
    rng = np.random.default_rng(12)
    p[rng.random(p.size) < 0.6] = 1013.25
    k = slice(0, 600)
    ta[k], p[k], v[k] = rng.uniform(-40, -10, 600), rng.uniform(300, 500, 600), rng.uniform(0, 0.13, 600)
    cz[k], g[k], f[k] = rng.uniform(0.8, 1, 600), rng.uniform(1100, 1400, 600), rng.uniform(0, 0.2, 600)
    e = rh * buck(ta)
    g[::7] = 0.0
    for x in (ta, e, p, v, g, f, cz):
        x[rng.integers(0, x.size, 40)] = np.nan
    ta[rng.integers(0, ta.size, 40)] = 70.0
    p[rng.integers(0, p.size, 40)] = 200.0
    whole = np.stack(C.wbgt(ta, e, p, v, g, f, cz))
    alone = np.stack([np.stack(C.wbgt(*(x[k:k + 1] for x in (ta, e, p, v, g, f, cz))))[:, 0]
                      for k in range(ta.size)], axis=1)
    assert 0 < np.isnan(whole[0]).sum() < ta.size // 4
    np.testing.assert_array_equal(whole.view(np.uint64), alone.view(np.uint64))


def test_xarray_passes_through():
    xr = pytest.importorskip("xarray")
    ta, rh, p, v, g, f, cz = weather(12, 6)
    da = xr.DataArray(ta.reshape(3, 4), dims=("y", "x"), coords={"y": [1, 2, 3]})
    out = C.wbgt(da, (rh * buck(ta)).reshape(3, 4), 1000.0, 2.0, 400.0, 0.5, 0.6)
    assert isinstance(out, tuple) and len(out) == 3
    assert all(isinstance(x, xr.DataArray) and x.dims == ("y", "x") for x in out)


# --- instruction-set levels --------------------------------------------------------

CHILD = """
import sys, numpy as np
from quarnel import _kernels, comfort as C
from support.kernel_inputs import buck, weather
print(_kernels.isa)
ta, rh, p, v, g, f, cz = weather(50_001, 7)
out = C.wbgt(ta, rh * buck(ta), p, v, g, f, cz)
t = ta - 20
simple = (C.heat_index(ta, rh * 100), C.humidex(ta, t), C.apparent_temperature(ta, rh * 30, v), C.wind_chill(t, v))
np.save(sys.argv[1], np.stack(out + simple))
"""


@pytest.mark.parametrize("level", LEVELS)
def test_every_level_gives_the_same_bits(level, tmp_path):
    if LEVELS.index(level) > LEVELS.index(processor_level()):
        pytest.skip(f"the processor's own level is {processor_level()}")
    env = child_env()
    env["QUARNEL_ISA"] = level
    path = tmp_path / "w.npy"
    run = subprocess.run([sys.executable, "-c", CHILD, str(path)], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split()[0] == level
    ta, rh, p, v, g, f, cz = weather(50_001, 7)
    t = ta - 20
    want = np.stack(C.wbgt(ta, rh * buck(ta), p, v, g, f, cz) + (
        C.heat_index(ta, rh * 100), C.humidex(ta, t), C.apparent_temperature(ta, rh * 30, v), C.wind_chill(t, v)))
    np.testing.assert_array_equal(np.load(path).view(np.uint64), want.view(np.uint64))
