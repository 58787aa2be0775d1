"""radius_query in planar and geographic distance, in every index mode, against NumPy, the
system's own haversine distance function and scikit-learn's BallTree."""
import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from sklearn.neighbors import BallTree

from query_oracles import (DIAMETER, HALF_CIRCUMFERENCE, MODES, box_mask, layout, operations, points_engine,
                           within_disc, world)
from vardelin._core import Engine


def planar(xs, ys, cx, cy, d):
    with np.errstate(invalid="ignore", over="ignore"):
        dx, dy = xs - cx, ys - cy
        return np.flatnonzero(dx * dx + dy * dy <= d * d) if d >= 0 else np.array([], dtype=np.int64)


def geographic_engine(lons, lats, mode="eager"):
    e = points_engine(lons, lats, mode)
    e.set_coordinate_system("geographic")
    return e


def within(lons, lats, cx, cy, d):
    """The system's one haversine: the same bits as the query's filter."""
    return np.flatnonzero(Engine.haversine_distance_to(lons, lats, cx, cy) <= d)


def sorted_hits(e, *args):
    return sorted(e.radius_query(*args).tolist())


class TestPlanar:
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("name", ["uniform", "clustered", "lattice", "nan"])
    def test_against_numpy_before_and_after_appending(self, rng, mode, name):
        xs, ys = layout(name, 3000, rng)
        e = points_engine(xs, ys, mode)
        queries = list(zip(rng.uniform(-10, 110, 40), rng.uniform(-10, 110, 40), rng.exponential(6, 40)))
        # Centres on points and distances that reach lattice points exactly.
        queries += [(xs[i], ys[i], 5.0) for i in range(0, 3000, 101)]
        for cx, cy, d in queries:
            got = e.radius_query(cx, cy, d)
            assert got.dtype == np.uint64 and got.ndim == 1 and len(set(got.tolist())) == len(got)
            assert sorted(got.tolist()) == planar(xs, ys, cx, cy, d).tolist()
        ax, ay = layout(name, 100, rng)
        e.append_delta(ax, ay)
        for cx, cy, d in queries[:20]:
            waiting = e.delta_len() > 0  # the delta work of these calls may merge the buffer
            got = e.radius_query(cx, cy, d).tolist()
            assert sorted(got) == planar(np.r_[xs, ax], np.r_[ys, ay], cx, cy, d).tolist()
            if waiting:  # appended points follow the index's hits, in append order
                tail = [h for h in got if h >= 3000]
                assert got[len(got) - len(tail):] == sorted(tail)

    @pytest.mark.parametrize("mode", MODES)
    def test_inclusive_edges_and_degenerate_distances(self, mode):
        xs = np.r_[np.arange(600.0) % 30 * 10, 13.0, 10.0, np.nan]
        ys = np.r_[np.arange(600.0) // 30 * 10, 14.0, 10.0, 10.0]
        e = points_engine(xs, ys, mode)
        assert 600 in e.radius_query(10.0, 10.0, 5.0).tolist()  # 3-4-5: exactly on the circle
        assert sorted_hits(e, 10.0, 10.0, 0.0) == [31, 601]
        e.append_delta(np.array([10.5]), np.array([10.0]))
        # A negative or NaN distance, or a NaN centre, holds nothing: index and delta scan agree.
        for args in [(10.0, 10.0, -1.0), (10.0, 10.0, np.nan), (np.nan, 10.0, 5.0), (10.0, np.nan, 5.0)]:
            got = e.radius_query(*args)
            assert got.dtype == np.uint64 and got.tolist() == []
        assert e.radius_query(10.0, 10.0, 0.5).tolist()[-1] == 603

    def test_arguments_refusals_and_metrics(self):
        e = points_engine([0.0, 3.0], [0.0, 4.0])
        assert e.radius_query(cx=0, cy=0, distance=5).tolist() == [0, 1]
        with pytest.raises(TypeError, match="^argument 'distance': "):
            e.radius_query(0, 0, "5")
        with pytest.raises(TypeError):
            e.radius_query(0, 0)
        e = Engine.from_polygon_rings(np.array([0.0, 1.0, 1.0]), np.array([0.0, 0.0, 1.0]), np.array([0, 3]),
                                      np.array([0, 1]))
        with pytest.raises(ValueError) as info:
            e.radius_query(0.5, 0.5, 1.0)
        assert str(info.value) == "radius_query requires a point dataset"
        assert operations(e) == []
        # One metrics cell per call; a disc in an empty region of the histogram takes the shortcut.
        rng = np.random.default_rng(3)
        xs, ys = rng.uniform(0, 100, 5000), rng.uniform(0, 100, 5000)
        keep = (xs - 50) ** 2 + (ys - 50) ** 2 > 20 ** 2
        e = points_engine(xs[keep], ys[keep])
        assert "dist=Uniform" in repr(e)
        assert e.radius_query(50, 50, 5).tolist() == [] and len(e.radius_query(10, 10, 3)) > 0
        assert [o[:3] for o in operations(e)] == [("radius_query", "grid", 1), ("radius_query", "none", 1)]


@pytest.fixture(scope="module")
def sphere():
    lons, lats = world(np.random.default_rng(4), 20000)
    return lons, lats, BallTree(np.radians(np.column_stack([lats, lons])), metric="haversine")


class TestGeographic:
    @pytest.mark.parametrize("mode", MODES)
    def test_against_the_distance_function_and_ball_tree(self, sphere, mode):
        lons, lats, tree = sphere
        e = geographic_engine(lons, lats, mode)
        rng = np.random.default_rng(len(mode))
        centres = list(zip(rng.uniform(-180, 180, 30), rng.uniform(-89, 89, 30)))
        centres += [(179.9, 0.0), (-179.95, 10.0), (20.0, 89.95), (0.0, -89.99)]
        for (cx, cy), d in zip(centres, rng.uniform(1e4, 3e6, len(centres))):
            got = sorted_hits(e, cx, cy, d)
            assert got == within(lons, lats, cx, cy, d).tolist()
            # The independent tree may differ only on the rim, where rounding decides.
            (want,) = tree.query_radius(np.radians([[cy, cx]]), r=d / (DIAMETER / 2))
            rim = set(np.flatnonzero(np.abs(Engine.haversine_distance_to(lons, lats, cx, cy) - d) <= 1e-6 * d))
            assert set(got) - rim == set(want.tolist()) - rim

    @pytest.mark.parametrize("lat", [0.0, 45.0, -60.0])
    @pytest.mark.parametrize("mode", ["eager", "explicit:r_tree", "explicit:kd_tree", "explicit:grid"])
    def test_points_near_the_distance_on_an_east_west_line(self, lat, mode):
        # Points due east and west of the centre at 99.8 % to 100.2 % of the distance. A box
        # assuming more metres per degree than the haversine sphere has would miss the ones
        # just inside it.
        rng = np.random.default_rng(11)
        d, cx = 50_000.0, 10.0
        per_degree = DIAMETER * math.pi / 360 * math.cos(math.radians(lat))
        offsets = np.linspace(0.998, 1.002, 81) * d / per_degree
        line = np.r_[cx - offsets, cx + offsets]
        lons = np.r_[rng.uniform(-20, 40, 2000), line]
        lats = np.r_[rng.uniform(lat - 5, lat + 5, 2000), np.full(len(line), lat)]
        want = within(lons, lats, cx, lat, d)
        assert sorted_hits(geographic_engine(lons, lats, mode), cx, lat, d) == want.tolist()
        assert 60 < np.count_nonzero(want >= 2000) < 100  # about half of the line lies inside
        # In every direction: points a hair inside circles of every size around centres up to the
        # polar caps, each the destination of its great circle from the centre.
        clon, clat, d = rng.uniform(-170, 170, 300), rng.uniform(-85, 85, 300), 10 ** rng.uniform(1, 6.5, 300)
        bearing, angle, p1 = rng.uniform(0, 2 * np.pi, 300), d / (DIAMETER / 2) * (1 - 1e-9), np.radians(clat)
        p2 = np.arcsin(np.sin(p1) * np.cos(angle) + np.cos(p1) * np.sin(angle) * np.cos(bearing))
        l2 = np.arctan2(np.sin(bearing) * np.sin(angle) * np.cos(p1), np.cos(angle) - np.sin(p1) * np.sin(p2))
        lons, lats = (clon + np.degrees(l2) + 180) % 360 - 180, np.degrees(p2)
        e = geographic_engine(lons, lats, mode)
        for i in range(300):
            want = within(lons, lats, clon[i], clat[i], d[i])
            assert i in want and sorted_hits(e, clon[i], clat[i], d[i]) == want.tolist()

    @pytest.mark.parametrize("mode", MODES)
    def test_poles_antimeridian_and_the_whole_sphere(self, mode):
        lons = np.r_[np.linspace(-180, 180, 600), -179.95, 179.95, 0.0, 90.0, -90.0, 45.0, np.nan]
        lats = np.r_[np.linspace(-60, 60, 600), 0.0, 0.0, 89.99, 89.99, 89.99, 89.9, 0.0]
        e = geographic_engine(lons, lats, mode)
        assert {600, 601} <= set(sorted_hits(e, 179.9, 0.0, 20_000))  # just across the antimeridian
        near_pole = sorted_hits(e, 0.0, 89.95, 10_000)
        assert {602, 603, 604} <= set(near_pole) and near_pole == within(lons, lats, 0.0, 89.95, 10_000).tolist()
        assert sorted_hits(e, 12.0, -34.0, HALF_CIRCUMFERENCE) == list(range(606))  # never the NaN point
        for args in [(np.nan, 0.0, 1e7), (0.0, np.nan, 1e7), (0.0, 0.0, np.nan), (0.0, 0.0, -1.0)]:
            assert e.radius_query(*args).tolist() == []

    @pytest.mark.parametrize("mode", MODES)
    def test_waiting_points_answer_as_they_do_once_merged(self, rng, mode):
        lons, lats = world(rng, 1000)
        ax = np.array([200.0, np.nan, 0.0, np.nan, -179.95, 10.0, 181.0])
        ay = np.array([0.0, 0.0, np.nan, np.nan, 0.0, 10.0, 95.0])
        queries = [(179.0, 0.0, 3e6), (0.0, 0.0, HALF_CIRCUMFERENCE), (12.0, -34.0, 2e7), (10.0, 10.0, 5e5),
                   (179.9, 89.0, 1e6), (200.0, 0.0, 3e6), (0.0, -91.0, np.inf)]
        e = geographic_engine(lons, lats, mode)
        e.append_delta(ax, ay)
        waiting = [sorted_hits(e, *q) for q in queries]
        assert e.delta_len() == len(ax)
        e.flush()
        merged = geographic_engine(np.r_[lons, ax], np.r_[lats, ay], mode)
        assert waiting == [sorted_hits(e, *q) for q in queries] == [sorted_hits(merged, *q) for q in queries]
        # Point 1000 lies 21 degrees of longitude from the first centre but off the sphere, as
        # are the last two centres: nothing is within any distance of them.
        assert 1000 not in waiting[0] and not {1001, 1002, 1003} & set(waiting[1])
        assert waiting[-2:] == [[], []]

    def test_coordinate_system_is_read_at_each_call_and_covers_appended_points(self, rng):
        lons, lats = world(rng, 3000)
        e = points_engine(lons, lats)
        planar_hits = sorted_hits(e, 10.0, 10.0, 5.0)
        assert planar_hits == planar(lons, lats, 10.0, 10.0, 5.0).tolist()
        e.set_coordinate_system("geographic")
        assert sorted_hits(e, 10.0, 10.0, 5e5) == within(lons, lats, 10.0, 10.0, 5e5).tolist()
        e.set_coordinate_system("planar")
        assert sorted_hits(e, 10.0, 10.0, 5.0) == planar_hits
        e.set_coordinate_system("geographic")
        ax, ay = np.array([10.0, 10.3, 170.0]), np.array([10.0, 10.0, -5.0])
        e.append_delta(ax, ay)
        got = sorted_hits(e, 10.0, 10.0, 40_000)
        assert got == within(np.r_[lons, ax], np.r_[lats, ay], 10.0, 10.0, 40_000).tolist()
        assert {3000, 3001} <= set(got) and 3002 not in got


def adversarial(name, n, rng):
    """Points on the grid's cell borders (a lattice of 31 steps on n = 961 points), far from the
    origin with cells below an ulp, near the ends of the doubles (with infinities or without),
    subnormal, or mixed with NaN and infinities and duplicated."""
    if name == "borders":
        i = np.arange(961)
        step = rng.choice([1.0, 0.1, 1 / 3])
        return np.r_[i[:960] % 32, 0] * step, np.r_[i[:960] // 32, 31] * step
    if name == "offset":
        return rng.choice([1e9, -1e15]) + rng.uniform(0, rng.choice([1e-3, 50.0]), (2, n))
    if name == "huge":
        if rng.random() < 0.5:  # finite, where r^2 of 1.5e154 overflows but the cells' squares do not
            return rng.uniform(-2e154, 2e154, (2, n))
        xs, ys = rng.uniform(-1e300, 1e300, (2, n))
        return np.r_[xs, np.inf, -np.inf, 1e308, np.nan], np.r_[ys, 0.0, np.inf, -1e308, 1.0]
    if name == "subnormal":
        i = np.arange(n)
        return (i % 20) * 5e-324, (i // 20) * 5e-324
    xs, ys = layout("nan" if name == "nan" else "clustered", n, rng)
    return np.r_[xs, xs[: n // 4]], np.r_[ys, ys[: n // 4]]


@settings(max_examples=60, deadline=None)
@given(seed=st.integers(0, 2 ** 32 - 1),
       name=st.sampled_from(["borders", "offset", "huge", "subnormal", "nan", "clustered"]),
       n=st.integers(1, 1500), scale=st.sampled_from([0.0, 5e-324, 1e-9, 0.5, 1.0, 1.0 - 2 ** -53, 3.0, 1e300]))
def test_planar_ids_and_order_are_the_index_order_within_the_distance(seed, name, n, scale):
    # Circles through points (and just short of them), through cell corners, and of every size,
    # around points far beyond the squares' range and at infinity; the grid takes the cells
    # wholly inside without reading their points, which must change nothing: the ids are those
    # the squared form keeps with an unbounded exponent, in the index's own order.
    rng = np.random.default_rng(seed)
    xs, ys = adversarial(name, n, rng)
    pick = rng.integers(0, len(xs), (2, 6))
    queries = []
    for a, b in pick.T:
        cx, cy = xs[a], ys[a]
        with np.errstate(invalid="ignore", over="ignore"):
            reach = float(np.hypot(xs[b] - cx, ys[b] - cy))
            queries += [(cx, cy, reach * scale), (cx, cy, np.nextafter(reach, 0)), ((cx + xs[b]) / 2, cy, reach)]
    queries += [(xs[0], ys[0], np.inf), (xs[0], ys[0], -1.0), (xs[0], ys[0], np.nan), (np.nan, 1.0, 5.0),
                (np.inf, 1.0, 5.0), (1.0, 1.0, 1e200), (0.0, 0.0, 1.5e154), (0.0, 0.0, 0.0), (-np.inf, 0.0, np.inf)]
    for mode in ["explicit:grid", "explicit:kd_tree", "explicit:r_tree", "none"]:
        e = points_engine(xs, ys, mode)
        order = e.range_query(-np.inf, -np.inf, np.inf, np.inf)
        for cx, cy, d in queries:
            cx, cy, d = float(cx), float(cy), float(d)
            keep = within_disc(xs, ys, cx, cy, d)
            assert e.radius_query(cx, cy, d).tolist() == [i for i in order if keep[i]], mode
            # The box search keeps that order too, however few of the grid's cells it reads.
            keep = box_mask(xs, ys, (cx - d, cy - d, cx + d, cy + d))
            assert e.range_query(cx - d, cy - d, cx + d, cy + d) == [i for i in order if keep[i]], mode


@settings(max_examples=40, deadline=None)
@given(seed=st.integers(0, 2 ** 32 - 1), n=st.integers(0, 800), appended=st.integers(0, 40),
       geographic=st.booleans())
def test_every_mode_gives_the_same_answers(seed, n, appended, geographic):
    rng = np.random.default_rng(seed)
    xs, ys = world(rng, n) if geographic else layout("nan", n, rng)
    ax, ay = world(rng, appended) if geographic else layout("uniform", appended, rng)
    queries = list(zip(rng.uniform(-180, 180, 6), rng.uniform(-90, 90, 6),
                       rng.exponential(1e6 if geographic else 20, 6)))
    answers = []
    for mode in MODES:
        e = geographic_engine(xs, ys, mode) if geographic else points_engine(xs, ys, mode)
        e.append_delta(ax, ay)
        answers.append([sorted_hits(e, *q) for q in queries])
    assert all(a == answers[0] for a in answers[1:])
