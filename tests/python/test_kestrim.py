"""KESTRIM through the module: synthesis, mapping, SORT, profiles, ray sets."""
import math

import numpy as np
import pytest

import tavokestrim as tk


def draws(s):
    """The library generator: s <- |frac(9821 s + 0.211327)|."""
    while True:
        x = 9821.0 * s + 0.211327
        s = abs(x - math.trunc(x))
        yield s


def test_synth_gives_the_generators_rays_to_the_bit(folder):
    k = tk.Kestrim()
    rays = k.synth("run", "identity", mode=1, rays=20, object=(10, 10), aperture=(0.2, 0.2),
                   time="00:00:00")
    assert rays.shape == (22, 5)
    # At 00:00:00 the state is 1.5. Random mode: object point from two
    # draws, aperture point from two more, each kept when inside its
    # ellipse; the identity map leaves the ray at the object as it is.
    g = draws(1.5)
    hx = 10 * float(np.float32(1e-6)) / 2
    ha = 0.2 / 1000 / 2
    expected = []
    while len(expected) < 20:
        x = (2 * next(g) - 1) * hx
        y = (2 * next(g) - 1) * hx
        if (x / hx) ** 2 + (y / hx) ** 2 > 1:
            continue
        u = (2 * next(g) - 1) * ha
        v = (2 * next(g) - 1) * ha
        if (u / ha) ** 2 + (v / ha) ** 2 > 1:
            continue
        expected.append((x, u / 1.0, y, v / 1.0, 0.0))
    np.testing.assert_array_equal(rays[2:], np.array(expected))
    # The same time, the same rays; another time, others.
    again = k.synth("run2", "identity", mode=1, rays=20, object=(10, 10), aperture=(0.2, 0.2),
                    time="00:00:00")
    np.testing.assert_array_equal(again, rays)
    other = k.synth("run3", "identity", mode=1, rays=20, object=(10, 10), aperture=(0.2, 0.2),
                    time="12:34:56")
    assert not np.array_equal(other, rays)


def test_map_is_the_polynomial_of_the_coefficient_file(folder):
    k = tk.Kestrim()
    k.read_cof("triplet")
    # First order alone: a ray along the axis direction x' = M(1,1) x.
    r = np.array([[1e-6, 0, 0, 0, 0], [0, 0, 2e-6, 0, 0], [0, 0, 0, 0, 0]])
    m = k.map(r)
    assert m[0, 0] == pytest.approx(-0.05 * 1e-6, rel=1e-12)     # M(1,1) = -0.05
    assert m[0, 1] == pytest.approx(-3.6 * 1e-6, rel=1e-12)      # M(2,1)
    assert m[1, 2] == pytest.approx(-0.0625 * 2e-6, rel=1e-12)   # M(3,3)
    np.testing.assert_array_equal(m[2], np.zeros(5))
    # SYNTH maps its rays the same way: regular mode, rays back at the
    # object from the same grid of points give the written set.
    k2 = tk.Kestrim()
    with pytest.raises(tk.Error):
        k2.map(r)                  # no coefficients yet
    with pytest.raises(ValueError):
        k.map(np.zeros((3, 4)))


def test_sort_grid_counts_the_rays_in_their_cells(folder):
    k = tk.Kestrim()
    k.synth("spot", "triplet", mode=1, rays=400, object=(10, 10), aperture=(0.3, 0.3),
            time="01:02:03")
    rays = k.rays()
    x, y, counts = k.sort("spot", n=10, z=0.0, range=20.0)
    assert counts.shape == (10, 10)
    # By hand: cell centres from -range/2 to +range/2, the nearest centre
    # holds the ray; the paraxial pair takes no part.
    r = 20e-6
    lo = -r / 2
    X, Y = rays[2:, 0], rays[2:, 2]
    i = np.floor((10 - 1) * (X - lo) / r + 0.5).astype(int)
    j = np.floor((10 - 1) * (Y - lo) / r + 0.5).astype(int)
    keep = (i >= 0) & (i < 10) & (j >= 0) & (j < 10)
    hand = np.zeros((10, 10))
    np.add.at(hand, (j[keep], i[keep]), 1)
    np.testing.assert_array_equal(counts, hand)
    np.testing.assert_allclose(x, np.linspace(-10, 10, 10), atol=1e-3)
    # The profile along X counts every ray once.
    px, pc = k.profile("spot", "X", 25)
    assert pc.sum() == k.ntot


def test_ray_set_files_round_trip(folder):
    k = tk.Kestrim()
    rays = np.array([[0, 0, 0, 0, 0], [0, 1e-3, 0, 1e-3, 0], [1e-6, -2e-3, 3e-7, 4e-4, 0.5]])
    k.write_rays("mine", rays, caption="By hand")
    assert k.ntot == 3
    np.testing.assert_array_equal(k.read_rays("mine"), rays)
    assert "Caption: By hand" in k.run("DATA mine")
    with pytest.raises(tk.Error):
        k.read_rays("nosuchfile")


def test_two_sessions_side_by_side(folder):
    a, b = tk.Kestrim(), tk.Kestrim()
    a.read_cof("triplet")
    b.read_cof("identity")
    r = np.array([[1e-6, 1e-3, 1e-6, 1e-3, 0.0]])
    ma = a.map(r)
    np.testing.assert_array_equal(b.map(r), r)
    a.synth("one", "triplet", mode=2, rays=16, object=(10, 10), aperture=(0.2, 0.2))
    b.synth("two", "identity", mode=2, rays=16, object=(10, 10), aperture=(0.2, 0.2))
    assert a.rays().shape != (0, 5) and b.rays()[2:, 0].max() > 0
    np.testing.assert_array_equal(a.map(r), ma)


def test_map_into_a_given_array(folder):
    k = tk.Kestrim()
    k.read_cof("triplet")
    r = np.random.default_rng(1).normal(scale=1e-5, size=(100, 5))
    out = np.empty_like(r)
    got = k.map(r, out=out)
    assert got is out or np.shares_memory(got, out)
    np.testing.assert_array_equal(out, k.map(r))
    with pytest.raises(ValueError):
        k.map(r, out=np.empty((99, 5)))
    with pytest.raises(ValueError):
        k.map(r, out=np.empty((100, 5), dtype=np.float32))
