"""quarnel.place on a surface model: sky view factors against the closed
forms of a canyon floor, a wall and a round pit at two pixel sizes, a
box's exact shadow, quarter turns, roofs, NaN holes, walls, and agreement
with the Rust SOLWEIG package on a block city."""

import math

import numpy as np
import pytest

from quarnel import place

PIXELS = (1.0, 2.0)


def cos_atan(x):
    return 1.0 / np.sqrt(1.0 + np.asarray(x, dtype=float) ** 2)


def block_city(n, pixel=1.0, seed=3, rows=None):
    """Blocks 40 m square split into 1-3 buildings 6-30 m high, 14 m streets."""
    rng = np.random.default_rng(seed)
    dsm = np.zeros((rows or n, n))
    block, street = int(40 / pixel), int(14 / pixel)
    for r0 in range(street // 2, dsm.shape[0], block + street):
        for c0 in range(street // 2, n, block + street):
            cuts = sorted(rng.integers(5, block - 5, rng.integers(0, 3)))
            for a, b in zip([0, *cuts], [*cuts, block]):
                dsm[r0:r0 + block, c0 + a:c0 + b] = rng.uniform(6, 30)
    return dsm


# -- closed forms --------------------------------------------------------------------

@pytest.mark.parametrize("pixel", PIXELS)
def test_canyon_floor(pixel):
    """A street 20 m wide between 20 m walls: (cos b1 + cos b2)/2 across the floor."""
    width, height, depth, length = 20.0, 20.0, 10.0, 400.0
    w, d = round(width / pixel), round(depth / pixel)
    dsm = np.zeros((2 * d + w, round(length / pixel)))
    dsm[:d] = dsm[d + w:] = height
    svf = place.sky_view_factor(dsm, pixel)[d:d + w, dsm.shape[1] // 2]
    d1 = (np.arange(w) + 0.5) * pixel           # pixel centre to the northern wall's face
    exact = (cos_atan(height / d1) + cos_atan(height / (width - d1))) / 2
    np.testing.assert_allclose(svf, exact, atol=0.01)


@pytest.mark.parametrize("pixel", PIXELS)
def test_beside_one_wall_and_the_half_skies(pixel):
    """A long wall 10 m high to the east: (1 + cos b)/2; the eastern half sky cos b, the western 1."""
    n = round(300 / pixel)
    dsm = np.zeros((n, n))
    face = n // 2
    dsm[:, face:face + round(20 / pixel)] = 10.0
    row = n // 2
    cols = face - 1 - np.array([0, 1, 2, 5, 10]) // int(pixel)
    dist = (face - cols - 0.5) * pixel
    cb = cos_atan(10.0 / dist)
    view = place.sky_view(dsm, pixel)
    np.testing.assert_allclose(view.total[row, cols], (1 + cb) / 2, atol=0.01)
    np.testing.assert_allclose(view.east[row, cols], cb, atol=0.02)
    np.testing.assert_allclose(view.west[row, cols], 1.0, atol=1e-12)
    np.testing.assert_allclose(view.north[row, cols], (1 + cb) / 2, atol=0.02)
    np.testing.assert_allclose((view.north + view.south) / 2, view.total, atol=1e-6)
    np.testing.assert_allclose((view.east + view.west) / 2, view.total, atol=1e-6)


@pytest.mark.parametrize("pixel", PIXELS)
@pytest.mark.parametrize("radius,height", [(20.0, 10.0), (10.0, 20.0)])
def test_centre_of_a_round_pit(pixel, radius, height):
    n = round(4 * radius / pixel) | 1
    y, x = (np.indices((n, n)) - n // 2) * pixel
    dsm = np.where(np.hypot(x, y) > radius, height, 0.0)
    svf = place.sky_view_factor(dsm, pixel)[n // 2, n // 2]
    assert svf == pytest.approx(radius**2 / (radius**2 + height**2), abs=0.01)


def test_open_ground_and_roofs():
    """1 on open ground and on a roof above all; a low roof beside a taller block sees its wall."""
    assert (place.sky_view_factor(np.full((50, 60), 7.5), 1.0) == 1.0).all()
    dsm = np.zeros((200, 200))
    dsm[50:150, 60:100] = 12.0               # low roof
    dsm[50:150, 100:140] = 22.0              # taller neighbour: a 10 m wall on the roof
    dsm[80:90, 20:30] = 20.0                 # a tower, above the low roof but not the tall one
    svf = place.sky_view_factor(dsm, 1.0)
    assert svf[100, 120] == 1.0
    cols = np.array([99, 95, 90])
    cb = cos_atan(10.0 / (100 - cols - 0.5))
    np.testing.assert_allclose(svf[100, cols], (1 + cb) / 2, atol=0.01)
    assert 0.0 <= svf.min() and svf.max() <= 1.0


# -- shadows -------------------------------------------------------------------------

def _box_shadow(pixel, azimuth, elevation, height=12.0, n=80, rows=(30, 44), cols=(34, 41)):
    """Our shadow of a box and the exact one at the pixel centres: whether the
    segment toward the sun, H/tan(elevation) long, meets the footprint; and
    the centres within 0.75 pixel of that region's edge."""
    dsm = np.zeros((n, n))
    dsm[rows[0]:rows[1] + 1, cols[0]:cols[1] + 1] = height
    got = place.shadow(dsm, pixel, azimuth, elevation)
    length = height / math.tan(math.radians(elevation)) / pixel
    step = np.array([-math.cos(math.radians(azimuth)), math.sin(math.radians(azimuth))])

    def sunlit(r, c):
        lo, hi = np.zeros_like(r), np.full_like(r, length)
        for p, d, (a, b) in ((r, step[0], rows), (c, step[1], cols)):
            if abs(d) < 1e-12:
                hi = np.where((p > a - 0.5) & (p < b + 0.5), hi, -1.0)
            else:
                t1, t2 = (a - 0.5 - p) / d, (b + 0.5 - p) / d
                lo, hi = np.maximum(lo, np.minimum(t1, t2)), np.minimum(hi, np.maximum(t1, t2))
        return (lo >= hi) | (dsm > 0)

    r, c = np.indices(dsm.shape).astype(float)
    exact = sunlit(r, c)
    edge = np.zeros_like(exact)
    for t in np.linspace(0.0, 2 * np.pi, 24, endpoint=False):
        edge |= sunlit(r + 0.75 * np.sin(t), c + 0.75 * np.cos(t)) != exact
    return got, exact, edge


@pytest.mark.parametrize("pixel", [1.0, 0.5])
@pytest.mark.parametrize("azimuth,elevation", [(90, 30), (180, 45), (0, 20), (270, 60), (90, 5)])
def test_box_shadow_exact_along_the_axes(pixel, azimuth, elevation):
    got, exact, _ = _box_shadow(pixel, azimuth, elevation)
    assert set(np.unique(got)) <= {0.0, 1.0}
    np.testing.assert_array_equal(got, exact)


@pytest.mark.parametrize("pixel", [1.0, 0.5])
@pytest.mark.parametrize("azimuth,elevation", [(30, 25), (135, 35), (200, 15), (315, 50), (100, 8)])
def test_box_shadow_exact_off_the_axes_but_at_its_edges(pixel, azimuth, elevation):
    got, exact, edge = _box_shadow(pixel, azimuth, elevation)
    wrong = (got == 1.0) != exact
    assert not (wrong & ~edge).any()
    assert wrong.sum() <= 0.1 * (~exact).sum()


def test_sun_below_the_horizon_and_overhead():
    dsm = block_city(60)
    dsm[3, 4] = np.nan
    for elevation, value in ((0.0, 0.0), (-10.0, 0.0), (90.0, 1.0), (95.0, 1.0)):
        got = place.shadow(dsm, 1.0, 123.0, elevation)
        assert np.isnan(got[3, 4])
        assert (np.delete(got.ravel(), 3 * 60 + 4) == value).all()


def test_shadow_is_where_the_horizon_stands_above_the_sun():
    """The two sweeps agree: shade where the horizon toward the sun is above it."""
    dsm = block_city(90, rows=70)
    azimuths, angles = place.horizon_angles(dsm, 1.0, directions=16)
    assert azimuths[0] == 11.25 and azimuths[-1] == 348.75
    for k in (0, 5, 10, 13):
        for elevation in (7.3, 21.7, 48.1):
            shade = place.shadow(dsm, 1.0, azimuths[k], elevation)
            np.testing.assert_array_equal(shade == 0.0, angles[k] > elevation)
    psi = 1.0 - np.mean(np.sin(np.radians(angles)) ** 2, axis=0)
    np.testing.assert_allclose(place.sky_view_factor(dsm, 1.0, directions=16), psi, atol=1e-12)


# -- symmetry, NaN, dtypes -----------------------------------------------------------

@pytest.mark.parametrize("turns", [1, 2, 3])
def test_a_turned_raster_gives_the_turned_answer(turns):
    """np.rot90 turns the scene counter-clockwise: a sun at A becomes one at A - 90 per turn."""
    dsm = block_city(110, rows=83)
    dsm[40:44, 10:13] = np.nan
    turned = np.rot90(dsm, turns)
    for azimuth, elevation in ((37.0, 20.0), (123.4, 33.0), (270.0, 12.0)):
        np.testing.assert_array_equal(place.shadow(turned, 1.0, azimuth - 90 * turns, elevation),
                                      np.rot90(place.shadow(dsm, 1.0, azimuth, elevation), turns))
    _, angles = place.horizon_angles(dsm, 1.0, directions=32)
    _, angles_turned = place.horizon_angles(turned, 1.0, directions=32)
    np.testing.assert_array_equal(angles_turned, np.rot90(np.roll(angles, -8 * turns, axis=0), turns, axes=(1, 2)))
    np.testing.assert_allclose(place.sky_view_factor(turned, 1.0),
                               np.rot90(place.sky_view_factor(dsm, 1.0), turns), rtol=0, atol=1e-12)


def test_nan_holes_hide_nothing():
    dsm = block_city(120)
    holed = dsm.copy()
    holed[20:30, 40:70] = np.nan               # a building and its street lost
    lowered = dsm.copy()
    lowered[20:30, 40:70] = -1e3               # far below everything: hides nothing
    hole = np.isnan(holed)
    for got, want in ((place.sky_view_factor(holed, 1.0), place.sky_view_factor(lowered, 1.0)),
                      (place.shadow(holed, 1.0, 200.0, 25.0), place.shadow(lowered, 1.0, 200.0, 25.0))):
        assert np.isnan(got[hole]).all()
        np.testing.assert_allclose(got[~hole], want[~hole], rtol=0, atol=1e-12)


def test_float32_in_float32_out():
    dsm = block_city(80)
    single = place.sky_view_factor(dsm.astype(np.float32), 1.0)
    assert single.dtype == np.float32 and place.shadow(dsm.astype(np.float32), 1.0, 10, 10).dtype == np.float32
    np.testing.assert_allclose(single, place.sky_view_factor(dsm, 1.0), atol=1e-5)
    assert place.sky_view_factor(dsm.astype(np.int16), 1.0).dtype == np.float64


@pytest.mark.parametrize("dsm,pixel,match", [
    (np.zeros(5), 1.0, "2-D"),
    (np.zeros((2, 3, 4)), 1.0, "2-D"),
    (np.zeros((0, 4)), 1.0, "empty"),
    (np.array([[0.0, np.inf]]), 1.0, "infinite"),
    (np.array([["a", "b"]]), 1.0, "numbers"),
    (np.zeros((3, 3), bool), 1.0, "numbers"),
    (np.zeros((3, 3)), 0.0, "pixel_size"),
    (np.zeros((3, 3)), -2.0, "pixel_size"),
    (np.zeros((3, 3)), float("nan"), "pixel_size"),
    (np.zeros((3, 3)), float("inf"), "pixel_size"),
])
def test_bad_rasters_are_refused_in_one_line(dsm, pixel, match):
    for call in (lambda: place.sky_view_factor(dsm, pixel), lambda: place.shadow(dsm, pixel, 180.0, 30.0)):
        with pytest.raises(ValueError, match=match) as info:
            call()
        assert "\n" not in str(info.value)


def test_bad_directions_and_sun_are_refused():
    with pytest.raises(ValueError, match="directions"):
        place.sky_view_factor(np.zeros((3, 3)), 1.0, directions=30)
    with pytest.raises(ValueError, match="finite"):
        place.shadow(np.zeros((3, 3)), 1.0, float("nan"), 30.0)


# -- walls ---------------------------------------------------------------------------

def test_walls_of_a_box_and_a_slanted_facade():
    dsm = np.zeros((12, 12))
    dsm[3:9, 3:8] = 10.0
    dsm[0, 0] = np.nan
    found = place.walls(dsm)
    assert np.isnan(found.height[0, 0]) and np.isnan(found.aspect[0, 0])
    assert (found.height[2, 3:8] == 10.0).all() and (found.aspect[2, 3:8] == 0.0).all()      # north face
    assert (found.height[3:9, 8] == 10.0).all() and (found.aspect[3:9, 8] == 90.0).all()     # east
    assert (found.aspect[9, 3:8] == 180.0).all() and (found.aspect[3:9, 2] == 270.0).all()
    assert found.height[2, 2] == 0.0 and np.isnan(found.aspect[2, 2])                         # corner: no wall
    assert (found.height[3:9, 3:8] == 0.0).all()
    stairs = np.zeros((30, 30))
    for i in range(5, 25):
        stairs[i, 5:i + 1] = 10.0                 # the facade slants to the north-east
    slant = place.walls(stairs).aspect[[6, 10, 15, 20], [7, 11, 16, 21]]
    np.testing.assert_allclose(slant, 45.0)
    assert (place.walls(dsm, min_height=10.5).height[~np.isnan(dsm)] == 0.0).all()


def test_sunlit_walls_above_the_shadow_of_the_building_opposite():
    """Sun from the east at e: the east face of a block is lit above H2 - D tan e,
    D the street between it and a block H2 high; faces turned away are dark."""
    dsm = np.zeros((60, 80))
    dsm[10:50, 20:30] = 20.0
    dsm[10:50, 42:52] = 15.0                   # 12 m east, across the street
    found = place.walls(dsm)
    for elevation in (20.0, 40.0, 60.0):
        lit = place.sunlit_walls(dsm, 1.0, found, 90.0, elevation)
        expect = np.clip(20.0 - (15.0 - 12.0 * math.tan(math.radians(elevation))), 0.0, 20.0)
        np.testing.assert_allclose(lit[15:45, 30], expect, atol=1e-9)
        assert (lit[15:45, 52] == 15.0).all()      # the far block's east face: open
        assert (lit[15:45, 19] == 0.0).all() and (lit[9, 20:30] == 0.0).all()
    assert (place.sunlit_walls(dsm, 1.0, found, 90.0, -3.0) == 0.0).all()


# -- the Rust SOLWEIG package --------------------------------------------------------

@pytest.fixture(scope="module")
def solweig():
    module = pytest.importorskip("solweig")
    module.disable_gpu()
    return module


@pytest.mark.parametrize("pixel", PIXELS)
def test_sky_view_factor_agrees_with_solweig(solweig, pixel):
    dsm = block_city(round(160 / pixel), pixel).astype(np.float32)
    zero = np.zeros_like(dsm)
    theirs = np.asarray(solweig.rustalgos.skyview.calculate_svf(dsm, zero, zero, pixel, False,
                                                                float(dsm.max())).svf)
    ours = place.sky_view_factor(dsm, pixel)
    assert abs(np.mean(ours - theirs)) < 0.015
    assert np.mean(np.abs(ours - theirs)) < 0.03
    assert np.corrcoef(ours.ravel(), theirs.ravel())[0, 1] > 0.97


@pytest.mark.parametrize("azimuth,elevation", [(135.0, 40.0), (200.0, 25.0), (260.0, 12.0)])
def test_shadow_agrees_with_solweig(solweig, azimuth, elevation):
    dsm = block_city(300).astype(np.float32)
    theirs = np.asarray(solweig.rustalgos.shadowing.calculate_shadows_wall_ht_25(
        azimuth, elevation, 1.0, float(dsm.max()), dsm).bldg_sh)
    assert np.mean(place.shadow(dsm, 1.0, azimuth, elevation) == theirs) > 0.985


def test_walls_are_solweigs_wall_pixels(solweig):
    from solweig.physics.wallalgorithms import findwalls

    dsm = block_city(200).astype(np.float32)
    dsm += np.random.default_rng(0).uniform(0.0, 0.3, dsm.shape).astype(np.float32)   # rough roofs
    inner = (slice(1, -1), slice(1, -1))            # it leaves the raster's border out
    np.testing.assert_array_equal(place.walls(dsm).height[inner], findwalls(dsm, 1.0)[inner])


def test_threads_calling_at_once_get_their_own_answers():
    """Calls from several threads share one pool of workers: the answers stay each call's."""
    from concurrent.futures import ThreadPoolExecutor

    dsm = block_city(260)
    suns = [(float(a), 10.0 + a % 50) for a in range(0, 360, 15)]
    alone = [place.shadow(dsm, 1.0, a, e) for a, e in suns]
    svf = place.sky_view_factor(dsm, 1.0, directions=8)
    with ThreadPoolExecutor(4) as pool:
        shadows = list(pool.map(lambda s: place.shadow(dsm, 1.0, *s), suns))
        skies = list(pool.map(lambda _: place.sky_view_factor(dsm, 1.0, directions=8), range(4)))
    for got, want in zip(shadows, alone):
        np.testing.assert_array_equal(got, want)
    for got in skies:
        np.testing.assert_array_equal(got, svf)


# -- a reach, against brute force along the diagonals ----------------------------------

def _diagonal_horizons(dsm, pixel, reach_m):
    """tan of the horizon toward NE, SE, SW, NW by brute force: pixel k steps along
    the diagonal rises from its near edge, (k - 1/2) * pixel * sqrt(2) away."""
    rows, cols = dsm.shape
    step = pixel * math.sqrt(2.0)
    steps = max(rows, cols) if reach_m is None else min(max(rows, cols), int(math.floor(reach_m / step + 0.5)))
    out = []
    for dr, dc in ((-1, 1), (1, 1), (1, -1), (-1, -1)):
        best = np.zeros_like(dsm)
        for k in range(1, steps + 1):
            ahead = np.full_like(dsm, np.nan)
            r0, r1 = max(0, -dr * k), min(rows, rows - dr * k)
            c0, c1 = max(0, -dc * k), min(cols, cols - dc * k)
            if r0 < r1 and c0 < c1:
                ahead[r0:r1, c0:c1] = dsm[r0 + dr * k:r1 + dr * k, c0 + dc * k:c1 + dc * k]
            best = np.fmax(best, (ahead - dsm) / ((k - 0.5) * step))
        out.append(np.where(np.isnan(dsm), np.nan, best))
    return np.array(out)


@pytest.mark.parametrize("reach", [None, 0.5, 3.0, 10.0, 37.0, 1e6])
def test_horizons_and_shadows_within_a_reach_are_brute_forces(reach):
    rng = np.random.default_rng(5)
    dsm = block_city(70, rows=52) + rng.uniform(0.0, 2.0, (52, 70))
    dsm[10:14, 30:33] = np.nan
    want = _diagonal_horizons(dsm, 1.0, reach)
    azimuths, angles = place.horizon_angles(dsm, 1.0, directions=4, max_distance=reach)
    np.testing.assert_array_equal(azimuths, [45.0, 135.0, 225.0, 315.0])
    np.testing.assert_allclose(np.tan(np.radians(angles)), want, rtol=1e-12, atol=1e-12)
    for k, azimuth in enumerate(azimuths):
        for elevation in (9.5, 31.0):
            shade = place.shadow(dsm, 1.0, azimuth, elevation, max_distance=reach)
            np.testing.assert_array_equal(shade[~np.isnan(dsm)] == 0.0,
                                          want[k][~np.isnan(dsm)] > math.tan(math.radians(elevation)))


def test_tiles_with_a_margin_as_wide_as_the_reach_mosaic_to_the_whole():
    dsm = block_city(150, rows=120)
    reach, margin = 30.0, 31
    whole = place.sky_view(dsm, 1.0, max_distance=reach)
    shade = place.shadow(dsm, 1.0, 160.0, 20.0, max_distance=reach)
    for r0, c0 in ((0, 0), (40, 70), (80, 110)):
        window = (slice(max(0, r0 - margin), r0 + 40 + margin), slice(max(0, c0 - margin), c0 + 40 + margin))
        inner = (slice(r0 - window[0].start, r0 - window[0].start + 40),
                 slice(c0 - window[1].start, c0 - window[1].start + 40))
        centre = (59.5 - window[0].start, 74.5 - window[1].start)     # the whole raster's middle
        tile = place.sky_view(dsm[window], 1.0, max_distance=reach, centre=centre)
        for got, want in zip(tile, whole):
            np.testing.assert_array_equal(got[inner], want[r0:r0 + 40, c0:c0 + 40])
        tile_shade = place.shadow(dsm[window], 1.0, 160.0, 20.0, max_distance=reach, centre=centre)
        np.testing.assert_array_equal(tile_shade[inner], shade[r0:r0 + 40, c0:c0 + 40])
    assert (place.sky_view_factor(dsm, 1.0, max_distance=0.0)[~np.isnan(dsm)] == 1.0).all()
    with pytest.raises(ValueError, match="max_distance"):
        place.sky_view_factor(dsm, 1.0, max_distance=-1.0)
