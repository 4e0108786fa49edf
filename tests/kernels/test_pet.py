"""quarnel.comfort's PET: Höppe's published values, the VDI lineage against
the Rust SOLWEIG package's PET, the corrected model against
pythermalcomfort, convergence over the whole domain, NaN outside it, the
ufunc protocol, and the same bits at every instruction-set level."""

import subprocess
import sys
import warnings

import numpy as np
import pytest

from quarnel import comfort as C
from support import child_env
from support.isa import LEVELS, processor_level
from support.kernel_inputs import PET_STANDARD, pet_sample, solweig_saturation, vdi_saturation


# --- published values and peers ----------------------------------------------

# Höppe (1999, Int J Biometeorol 43:71-75), table 1: Ta, Tmrt [°C], v [m/s], vapour pressure [hPa] -> PET
HOEPPE = [(21, 21, 0.1, 12, 21), (30, 60, 1, 21, 43), (30, 30, 1, 21, 29), (-5, 40, 0.5, 2, 10), (-5, -5, 5, 2, -13)]


@pytest.mark.parametrize("ta,tmrt,v,e,want", HOEPPE)
def test_hoeppe_s_published_values(ta, tmrt, v, e, want):
    got = C.pet(ta, tmrt, v, e)
    assert abs(got - want) <= 0.5
    # the standard person through the per-person route is the same computation
    assert C.pet_person(ta, tmrt, v, e, *PET_STANDARD) == got
    assert C.pet_corrected_person(ta, tmrt, v, e, *PET_STANDARD) == C.pet_corrected(ta, tmrt, v, e)


@pytest.mark.parametrize("ta", [10.0, 21.0, 30.0, 45.0])
def test_the_reference_room_is_its_own_pet(ta):
    assert C.pet(ta, ta, 0.1, 12.0) == pytest.approx(ta, abs=1e-6)
    assert C.pet_corrected(ta, ta, 0.1, 12.0) == pytest.approx(ta, abs=1e-6)


def solweig_pet(ta, rh, tmrt, v, capfd, person=(75.0, 35.0, 1.75, 80.0, 0.9, 1)):
    """SOLWEIG's PET of one element and whether its search settled (it says
    on stderr when it does not)."""
    sp = pytest.importorskip("solweig.rustalgos").pet
    value = sp.pet_calculate(float(ta), float(rh), float(tmrt), float(v), *person)
    return value, "did not converge" not in capfd.readouterr().err


def test_vdi_lineage_agrees_with_solweig(capfd):
    pytest.importorskip("solweig")
    ta, tmrt, v, rh = pet_sample(600, 1)
    ours = C.pet(ta, tmrt, v, rh / 100 * solweig_saturation(ta))
    theirs, settled = zip(*(solweig_pet(*x, capfd) for x in zip(ta, rh, tmrt, v)))
    theirs, settled = np.array(theirs), np.array(settled)
    assert settled.mean() > 0.95
    # The program's clothing search steps by 0.001 K; where sweat follows
    # the skin steeply (hot, windy) that alone moves its PET by up to 0.2 K.
    tol = np.where((ta > 40) & (v > 8), 0.25, 0.1)
    bad = settled & ~(np.abs(ours - theirs) <= tol)
    assert not bad.any(), np.column_stack([ta, tmrt, v, rh, ours, theirs])[bad]


def test_another_person_agrees_with_solweig(capfd):
    pytest.importorskip("solweig")
    ta, tmrt, v, rh = pet_sample(200, 2)
    ta, tmrt = np.minimum(ta, 38.0), np.minimum(tmrt, ta + 40)  # away from the steep corner
    for age, sex, height, mass, activity, clo in [(60, 2, 1.62, 58, 120, 0.5), (20, 1, 1.9, 95, 40, 1.4)]:
        ours = C.pet_person(ta, tmrt, v, rh / 100 * solweig_saturation(ta), age, sex, height, mass, activity, clo)
        for k in range(ta.size):
            theirs, settled = solweig_pet(ta[k], rh[k], tmrt[k], v[k], capfd, (mass, age, height, activity, clo, sex))
            if settled:
                assert abs(ours[k] - theirs) <= 0.1, (age, ta[k], tmrt[k], v[k], rh[k], ours[k], theirs)


def pythermalcomfort_pet(ta, tmrt, v, e, age=35, sex="male", height=1.75, mass=75, activity=80.0, clo=0.9):
    """pythermalcomfort's pet_steady of one element, None where its solver
    reports no progress. Its posture 'sitting' carries the standing
    person's parameters of VDI 3787 (radiating share 0.725, Fanger 1970;
    convection 2.67 + 6.5 v^0.67), its 'standing' those of a seated one
    (0.696); its activity in met is W / 58.2; its humidity is relative to
    its own saturation (Hyland & Wexler)."""
    models = pytest.importorskip("pythermalcomfort.models")
    from pythermalcomfort.psychrometrics import p_sat
    rh = 100.0 * e / (float(p_sat(ta)) / 100.0)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        got = models.pet_steady(tdb=ta, tr=tmrt, v=v, rh=rh, met=activity / 58.2, clo=clo, position="sitting",
                                age=age, sex=sex, weight=mass, height=height).pet
    return None if caught else float(got)


def test_corrected_model_agrees_with_pythermalcomfort():
    pytest.importorskip("pythermalcomfort")
    ta, tmrt, v, rh = pet_sample(150, 3)
    e = rh / 100 * solweig_saturation(ta)
    ours = C.pet_corrected(ta, tmrt, v, e)
    compared = 0
    for k in range(ta.size):
        theirs = pythermalcomfort_pet(ta[k], tmrt[k], v[k], e[k])
        if theirs is not None:
            compared += 1
            # theirs is rounded to 0.01 K; where the skin's vapour pressure
            # meets the air's, its solver stops a little short
            assert abs(ours[k] - theirs) <= 0.03, (ta[k], tmrt[k], v[k], e[k], ours[k], theirs)
    assert compared > 0.9 * ta.size
    # and the two lineages differ, as Walther & Goestchel found
    assert np.abs(ours - C.pet(ta, tmrt, v, e)).max() > 2.0


def test_corrected_model_of_another_person_agrees_with_pythermalcomfort():
    pytest.importorskip("pythermalcomfort")
    # the reference room keeps 80 W and 0.9 clo whatever the person does outdoors
    ta, tmrt, v, rh = pet_sample(40, 4)
    e = rh / 100 * solweig_saturation(ta)
    ours = C.pet_corrected_person(ta, tmrt, v, e, 60, 2, 1.62, 58, 150, 0.5)
    for k in range(ta.size):
        theirs = pythermalcomfort_pet(ta[k], tmrt[k], v[k], e[k], 60, "female", 1.62, 58, 150.0, 0.5)
        if theirs is not None:
            assert abs(ours[k] - theirs) <= 0.03, (ta[k], tmrt[k], v[k], e[k], ours[k], theirs)


# --- domain ------------------------------------------------------------------

def domain_grid(ta, diff, v, fraction, saturation):
    grid = np.meshgrid(ta, diff, v, fraction, indexing="ij")
    ta, diff, v, fraction = (g.ravel() for g in grid)
    return ta, ta + diff, v, fraction * saturation(ta)


@pytest.mark.parametrize("fn", [C.pet, C.pet_corrected])
def test_every_element_of_the_domain_converges(fn):
    # the region asked for: -30..50 degC, -30..70 K, 0.1..20 m/s, 5..100 % RH
    args = domain_grid(np.arange(-30.0, 50.1, 2.5), np.arange(-30.0, 70.1, 5.0), np.geomspace(0.1, 20.0, 9),
                       np.linspace(0.05, 1.0, 11), solweig_saturation)
    assert np.isfinite(fn(*args)).all()
    # and the documented domain's edges, bounds included (a hair inside
    # the vapour pressure's, which depends on the bits of exp)
    args = domain_grid(np.linspace(-50.0, 60.0, 12), np.linspace(-50.0, 90.0, 8), [0.0, 0.05, 1.0, 30.0],
                       [0.0, 0.5, 1.0, 1.0999], vdi_saturation)
    got = fn(*args)
    assert np.isfinite(got).all()
    assert (got > -100).all() and (got < 200).all()


@pytest.mark.parametrize("person", [(8, 2, 1.25, 25, 80, 0.5), (80, 2, 1.6, 55, 40, 1.5), (40, 1, 1.9, 120, 300, 0.9)])
def test_other_persons_converge_over_the_domain(person):
    args = domain_grid(np.arange(-30.0, 50.1, 5.0), np.arange(-30.0, 70.1, 10.0), np.geomspace(0.1, 20.0, 5),
                       np.linspace(0.05, 1.0, 5), solweig_saturation)
    assert np.isfinite(C.pet_person(*args, *person)).all()
    assert np.isfinite(C.pet_corrected_person(*args, *person)).all()


def test_pet_rises_with_radiation_and_falls_with_wind():
    ta = np.full(60, 20.0)
    for fn in (C.pet, C.pet_corrected):
        warm = fn(ta, np.linspace(0.0, 80.0, 60), 1.0, 12.0)
        assert (np.diff(warm) > 0).all()
        cool = fn(ta, 50.0, np.geomspace(0.1, 20.0, 60), 12.0)
        assert (np.diff(cool) < 0).all()


OUTSIDE = [(-50.001, 0.0, 1.0, 1.0), (60.001, 60.0, 1.0, 10.0), (20.0, -30.001, 1.0, 10.0), (20.0, 110.001, 1.0, 10.0),
           (20.0, 20.0, -0.001, 10.0), (20.0, 20.0, 30.001, 10.0), (20.0, 20.0, 1.0, -0.001),
           (20.0, 20.0, 1.0, 1.1001 * vdi_saturation(20.0))]


@pytest.mark.parametrize("fn", [C.pet, C.pet_corrected])
def test_outside_and_nan_are_nan_without_a_warning(fn):
    with np.errstate(all="raise"), warnings.catch_warnings():
        warnings.simplefilter("error")
        for args in OUTSIDE:
            assert np.isnan(fn(*args)), args
        for k in range(4):
            args = [20.0, 30.0, 1.0, 12.0]
            args[k] = np.nan
            assert np.isnan(fn(*args))
        assert np.isnan(fn(np.inf, 30.0, 1.0, 12.0))
        assert np.isfinite(fn(-50.0, -100.0, 30.0, 1.0999 * vdi_saturation(-50.0)))


@pytest.mark.parametrize("fn", [C.pet_person, C.pet_corrected_person])
def test_a_person_outside_the_domain_is_nan(fn):
    for k, bad in [(0, 4.9), (1, 0.0), (1, 1.5), (2, 2.31), (3, 19.0), (4, -1.0), (4, 801.0), (5, 0.09), (5, 2.01),
                   (0, np.nan)]:
        person = list(PET_STANDARD)
        person[k] = bad
        assert np.isnan(fn(20.0, 30.0, 1.0, 12.0, *person)), (k, bad)


def test_persons_changing_from_element_to_element():
    ta, tmrt, v, rh = (x[:500] for x in pet_sample(500, 5))
    e = rh / 100 * solweig_saturation(ta)
    young = (20.0, 1.0, 1.8, 70.0, 80.0, 0.5)
    old = (80.0, 2.0, 1.6, 60.0, 40.0, 1.2)
    which = np.arange(500) % 3 == 0
    person = [np.where(which, a, b) for a, b in zip(young, old)]
    for fn in (C.pet_person, C.pet_corrected_person):
        mixed = fn(ta, tmrt, v, e, *person)
        np.testing.assert_array_equal(mixed[which], fn(ta, tmrt, v, e, *young)[which])
        np.testing.assert_array_equal(mixed[~which], fn(ta, tmrt, v, e, *old)[~which])
        assert (fn(ta, tmrt, v, e, *young) != fn(ta, tmrt, v, e, *old)).all()


# --- ufunc protocol and levels -----------------------------------------------

def test_broadcasting_casting_strides_and_out():
    ta, tmrt, v, rh = pet_sample(4000, 6)
    e = rh / 100 * solweig_saturation(ta)
    for fn in (C.pet, C.pet_corrected):
        want = fn(ta, tmrt, v, e)
        # the same element alone
        assert fn(ta[7], tmrt[7], v[7], e[7]) == want[7]
        # broadcasting a column of air temperatures against rows
        grid = fn(ta[:5, None], ta[:5, None] + (tmrt - ta)[None, :7], v[3], e[:5, None])
        assert grid.shape == (5, 7) and grid[2, 4] == fn(ta[2], ta[2] + tmrt[4] - ta[4], v[3], e[2])
        # strided views and out=, also aliasing an input
        np.testing.assert_array_equal(fn(ta[::2], tmrt[::2], v[::2], e[::2]), want[::2])
        out = np.empty_like(ta)
        assert fn(ta, tmrt, v, e, out=out) is out
        np.testing.assert_array_equal(out, want)
        alias = ta.copy()
        fn(alias, tmrt, v, e, out=alias)
        np.testing.assert_array_equal(alias, want)
        # float32 is cast to float64
        f32 = [x.astype(np.float32) for x in (ta, tmrt, v, e)]
        got = fn(*f32)
        assert got.dtype == np.float64
        np.testing.assert_array_equal(got, fn(*(x.astype(np.float64) for x in f32)))
        # where=
        out = np.full_like(ta, -999.0)
        fn(ta, tmrt, v, e, out=out, where=ta > 0)
        np.testing.assert_array_equal(out[ta > 0], want[ta > 0])
        assert (out[ta <= 0] == -999.0).all()
        # large arrays are split over the cores: the same bits
        big = [np.tile(x, 25) for x in (ta, tmrt, v, e)]
        np.testing.assert_array_equal(fn(*big), np.tile(want, 25))


CHILD = """
import sys, numpy as np
from quarnel import _kernels, comfort
from support.kernel_inputs import pet_sample, solweig_saturation
print(_kernels.isa)
ta, tmrt, v, rh = pet_sample(20_000, 7)
e = rh / 100 * solweig_saturation(ta)
np.save(sys.argv[1], np.stack([comfort.pet(ta, tmrt, v, e), comfort.pet_corrected(ta, tmrt, v, e),
                               comfort.pet_person(ta, tmrt, v, e, 60, 2, 1.6, 60, 100, 0.6)]))
"""


@pytest.mark.parametrize("level", LEVELS)
def test_every_level_gives_the_same_bits(level, tmp_path):
    if LEVELS.index(level) > LEVELS.index(processor_level()):
        pytest.skip(f"the processor's own level is {processor_level()}")
    env = child_env()
    env["QUARNEL_ISA"] = level
    path = tmp_path / "pet.npy"
    run = subprocess.run([sys.executable, "-c", CHILD, str(path)], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split()[0] == level
    ta, tmrt, v, rh = pet_sample(20_000, 7)
    e = rh / 100 * solweig_saturation(ta)
    want = np.stack([C.pet(ta, tmrt, v, e), C.pet_corrected(ta, tmrt, v, e),
                     C.pet_person(ta, tmrt, v, e, 60, 2, 1.6, 60, 100, 0.6)])
    np.testing.assert_array_equal(np.load(path).view(np.uint64), want.view(np.uint64))
