"""What a person at a pixel sees (quarnel._place.ground, wall_views, and
the person's shares): the sunlit ground against a sphere's closed-form
view of a disc, roofs and walls kept out of the ground, the nearest wall
facing the pixel within reach, and the vertical faces' sky against the
closed form of a canyon."""

import math

import numpy as np
import pytest

from quarnel import _place, place
from quarnel.place import person

H = person.PERSON_HEIGHT


def sphere_disc(r):
    """Share of a small sphere's view of the plane h below that a disc of
    radius r under it takes (of the lower half's 1)."""
    return 1.0 - H / math.hypot(H, r)


@pytest.mark.parametrize("pixel", [0.5, 1.0])
@pytest.mark.parametrize("radius", [1.5, 3.0, 5.0])
def test_ground_share_is_a_spheres_view_of_a_sunlit_disc(pixel, radius):
    n = round(40 / pixel) | 1
    y, x = (np.indices((n, n)) - n // 2) * pixel
    sunlit = (np.hypot(x, y) <= radius).astype(float)
    share = _place.ground(np.zeros((n, n)), sunlit, pixel, H, person.GROUND_NEAR,
                          person.GROUND_REACH, max(1, round(person.GROUND_SPACING / pixel)),
                          person.GROUND_STEP)
    drawn = math.sqrt(sunlit.sum() * pixel**2 / math.pi)      # the disc as its pixels make it
    expected = sphere_disc(drawn) / sphere_disc(person.GROUND_REACH)
    assert share[n // 2, n // 2] == pytest.approx(expected, abs=0.03)
    # All sunlit: 1; all shaded: 0, at edges too.
    ones = _place.ground(np.zeros((9, 7)), np.ones((9, 7)), pixel, H, 2.0, 8.0, 2, 1.0)
    zeros = _place.ground(np.zeros((9, 7)), np.zeros((9, 7)), pixel, H, 2.0, 8.0, 2, 1.0)
    np.testing.assert_allclose(ones, 1.0, rtol=1e-12)
    assert (zeros == 0.0).all()


def test_roofs_and_pits_are_not_the_ground_below_and_nan_is_nothing():
    z = np.zeros((30, 30))
    z[:, 16:] = 12.0                      # a sunlit roof east of a shaded street
    sunlit = np.where(z > 0, 1.0, 0.0)
    share = _place.ground(z, sunlit, 1.0, H, 2.0, 8.0, 2, 1.0)
    assert (share[:, :16] == 0.0).all() and (share[:, 16:] == 1.0).all()
    z[5, 5] = np.nan
    sunlit[10, 3] = np.nan
    share = _place.ground(z, sunlit, 1.0, H, 2.0, 8.0, 2, 1.0)
    assert np.isnan(share[5, 5]) and share[10, 3] == 0.0
    assert np.isnan(share).sum() == 1


def test_wall_views_find_the_nearest_wall_facing_the_pixel_within_reach():
    lit = np.zeros((7, 12))
    aspect = np.full((7, 12), np.nan)
    lit[3, 2], aspect[3, 2] = 0.25, 90.0       # faces east: seen from pixels east of it, looking west
    lit[3, 9], aspect[3, 9] = 0.75, 270.0      # faces west: seen looking east
    lit[3, 10], aspect[3, 10] = 0.5, 90.0      # faces away from the pixels west of it
    north, east, south, west = _place.wall_views(lit, aspect, 1.0, 4.0)
    row = 3
    np.testing.assert_array_equal(west[row, :6], [0, 0, 0.25, 0.25, 0.25, 0.25])
    assert west[row, 6] == 0.0                 # 4.5 m away: beyond reach
    np.testing.assert_array_equal(east[row, 5:10], [0, 0.75, 0.75, 0.75, 0.75])
    assert east[row, 10] == 0.0 and east[row, 4] == 0.0
    assert (north == 0).all() and (south == 0).all()
    # A corner's wall (45° between two faces) counts for both directions.
    aspect[3, 2] = 135.0                       # faces south-east
    north, east, south, west = _place.wall_views(lit, aspect, 1.0, 4.0)
    assert west[3, 4] == 0.25 and north[5, 2] == 0.25 and south[1, 2] == 0.0


@pytest.mark.parametrize("height,width", [(20.0, 20.0), (10.0, 40.0), (30.0, 14.0)])
def test_the_faces_see_a_canyons_sky_as_its_closed_form(height, width):
    """The middle of a long street: the side facing a wall H high at d sees
    the sky above it as a vertical strip does, ½ (1 − sin β) with tan β =
    H/d (the view of an infinite strip's sky); the shares add to ½ above."""
    n, w = 600, int(width)
    dsm = np.zeros((40 + w, n))
    dsm[:20] = dsm[20 + w:] = height           # an east-west street
    view = place.sky_view(dsm, 1.0)
    r, c = 20 + w // 2, n // 2
    beta = math.atan(height / (w // 2 + 0.5))
    assert person.facade_sky(view.north[r, c]) == pytest.approx(0.5 * (1 - math.sin(beta)), abs=0.03)
    shares = person.weights(view)
    assert shares.sky[r, c] + shares.walls[r, c] == pytest.approx(0.5, abs=1e-12)
    assert sum(lit[r, c] for lit in shares.lit) == pytest.approx(shares.walls[r, c], abs=1e-12)


def test_under_an_open_sky_every_face_sees_half_sky():
    assert person.facade_sky(np.float64(1.0)) == pytest.approx(0.5, abs=1e-15)
    assert person.facade_sky(np.float64(0.0)) == 0.0
    shares = person.weights(place.sky_view(np.zeros((20, 20)), 1.0))
    np.testing.assert_allclose(shares.sky, 0.5, atol=1e-15)
    np.testing.assert_allclose(shares.walls, 0.0, atol=1e-15)
