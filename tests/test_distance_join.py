"""batch_within_distance, direct and flipped, planar and haversine, in every index mode, against
NumPy brute force, scipy's cKDTree and scikit-learn's haversine BallTree."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from scipy.spatial import cKDTree
from sklearn.neighbors import BallTree

from conftest import assert_runs_without_gil, on_one_thread
from query_oracles import DIAMETER, HALF_CIRCUMFERENCE, MODES, layout, operations, points_engine, within_disc, world
from vardelin._core import Engine


def engine(xs, ys, mode="eager", geographic=False):
    e = points_engine(xs, ys, mode)
    if geographic:
        e.set_coordinate_system("geographic")
    return e


def pair_set(pairs):
    assert pairs.dtype == np.uint32 and pairs.ndim == 1 and len(pairs) % 2 == 0
    found = set(map(tuple, pairs.reshape(-1, 2).tolist()))
    assert len(found) == len(pairs) // 2  # each pair once
    return found


def both_forms(e, qx, qy, d, **kw):
    """The pairs of the direct and the flipped form, checked for their row order, as sets."""
    direct = e.batch_within_distance(qx, qy, d, False, **kw)
    flipped = e.batch_within_distance(qx, qy, d, True, **kw)
    assert np.all(np.diff(direct[0::2].astype(np.int64)) >= 0)   # ascending query row
    assert np.all(np.diff(flipped[1::2].astype(np.int64)) >= 0)  # ascending dataset row
    return pair_set(direct), pair_set(flipped)


def planar_oracle(xs, ys, qx, qy, d):
    with np.errstate(invalid="ignore", over="ignore"):
        d2 = (qx[:, None] - xs[None, :]) ** 2 + (qy[:, None] - ys[None, :]) ** 2
        q, p = np.nonzero(d2 <= d * d) if d >= 0 else (np.array([], int), np.array([], int))
    return set(zip(q.tolist(), p.tolist()))


def haversine_matrix(xs, ys, qx, qy):
    """The system's own haversine, query by query: the bits the join's test computes."""
    return np.array([Engine.haversine_distance_to(xs, ys, x, y) for x, y in zip(qx, qy)]).reshape(len(qx), len(xs))


def rim_pairs(h, d, rel=1e-9):
    """Pairs whose distance lies so close to d that the last bit of a box or a sine decides."""
    q, p = np.nonzero(np.abs(h - d) <= rel * max(d, 1.0))
    return set(zip(q.tolist(), p.tolist()))


class TestPlanar:
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("name", ["uniform", "clustered", "lattice", "nan"])
    def test_against_numpy_and_ckdtree_with_waiting_points(self, rng, mode, name):
        xs, ys = layout(name, 2000, rng)
        qx, qy = layout(name, 300, rng)
        qx[:40], qy[:40] = xs[:40], ys[:40]  # on dataset points; the lattice puts others at exactly d
        e = engine(xs, ys, mode)
        e.append_delta(*layout("uniform", 50, rng))  # waiting points take no part
        for d in [0.0, 2.5, 5.0, 11.0]:
            want = planar_oracle(xs, ys, qx, qy, d)
            assert both_forms(e, qx, qy, d) == (want, want)
            if name != "nan":
                kd = cKDTree(np.column_stack([xs, ys])).query_ball_point(np.column_stack([qx, qy]), d)
                assert want == {(q, p) for q, found in enumerate(kd) for p in found}

    def test_one_query_point_keeps_the_order_of_a_larger_call(self, rng):
        xs, ys = rng.uniform(0, 100, 300_000), rng.uniform(0, 100, 300_000)
        for mode in ["eager", "explicit:kd_tree", "explicit:r_tree"]:
            e = engine(xs, ys, mode)
            qx, qy = np.array([50.0, 20.0]), np.array([50.0, 30.0])
            alone = e.batch_within_distance(qx[:1], qy[:1], 30.0, False).reshape(-1, 2)
            together = e.batch_within_distance(qx, qy, 30.0, False).reshape(-1, 2)
            assert len(alone) > 70_000  # enough candidates to be tested on the worker pool
            np.testing.assert_array_equal(alone, together[together[:, 0] == 0])


class TestGeographic:
    @pytest.mark.parametrize("mode", MODES)
    def test_against_ball_tree_and_the_distance_function(self, rng, mode):
        xs, ys = world(rng, 4000)
        qx, qy = world(rng, 150)
        qx, qy = np.r_[qx, 179.99, -179.99, 0.0, 60.0], np.r_[qy, 0.0, 45.0, 89.95, -89.97]
        e = engine(xs, ys, mode, geographic=True)
        e.append_delta(*world(rng, 30))
        tree = BallTree(np.radians(np.column_stack([ys, xs])), metric="haversine")
        h = haversine_matrix(xs, ys, qx, qy)
        for d in [5e4, 4e5, 2e6]:
            direct, flipped = both_forms(e, qx, qy, d)
            q, p = np.nonzero(h <= d)
            assert direct == flipped == set(zip(q.tolist(), p.tolist()))
            found = tree.query_radius(np.radians(np.column_stack([qy, qx])), r=d / (DIAMETER / 2))
            rim = rim_pairs(h, d)
            assert direct - rim == {(q, int(p)) for q, ps in enumerate(found) for p in ps} - rim

    @pytest.mark.parametrize("mode", ["eager", "explicit:r_tree", "explicit:kd_tree", "explicit:grid"])
    def test_antimeridian_poles_and_boxes_widened_to_all_longitudes(self, mode):
        lons = np.r_[np.linspace(-170, 170, 600), -179.95, 179.95, 0.0, 90.0, -90.0, 180.0, -180.0]
        lats = np.r_[np.linspace(-60, 60, 600), 0.0, 0.0, 89.99, 89.99, 89.99, -89.95, -89.95]
        e = engine(lons, lats, mode, geographic=True)
        qx, qy = np.array([179.9, -179.9, 45.0, 0.0]), np.array([0.0, 0.0, 89.97, -89.99])
        direct, flipped = both_forms(e, qx, qy, 20_000)
        assert direct == flipped
        assert {(0, 600), (0, 601), (1, 600), (1, 601)} <= direct  # across the antimeridian
        assert {(2, 602), (2, 603), (2, 604), (3, 605), (3, 606)} <= direct  # across the poles
        q, p = np.nonzero(haversine_matrix(lons, lats, qx, qy) <= 20_000)
        assert direct == set(zip(q.tolist(), p.tolist()))

    def test_longitude_half_width_holds_the_whole_circle(self):
        # Points due east and west on the equator at 99.9 % to 100 % of the distance: a box that
        # assumed 111320 m per degree of longitude would miss them, on either side of the join.
        d, lat = 50_000.0, 0.0
        per_degree = DIAMETER * np.pi / 360 * np.cos(np.radians(lat))
        offsets = np.linspace(0.999, 0.99999, 40) * d / per_degree
        lons, lats = np.r_[10 - offsets, 10 + offsets], np.full(80, lat)
        for mode in ["explicit:kd_tree", "explicit:grid"]:
            direct, flipped = both_forms(engine(lons, lats, mode, geographic=True), np.array([10.0]),
                                         np.array([lat]), d)
            assert direct == flipped == {(0, p) for p in range(80)}


class TestNothingMatches:
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("geographic", [False, True])
    def test_nan_centres_nan_and_negative_distances(self, rng, mode, geographic):
        xs, ys = world(rng, 700)
        xs[::50] = np.nan
        e = engine(xs, ys, mode, geographic)
        qx, qy = np.array([np.nan, 10.0, np.nan, 5.0]), np.array([0.0, np.nan, np.nan, 5.0])
        # Half a great circle reaches everything: NaN points, on either side, still reach nothing.
        direct, flipped = both_forms(e, qx, qy, HALF_CIRCUMFERENCE if geographic else np.inf)
        finite = set(np.flatnonzero(~np.isnan(xs)).tolist())
        assert direct == flipped == {(3, p) for p in finite}
        for d in [np.nan, -1.0, -np.inf]:
            assert both_forms(e, qx, qy, d) == (set(), set())
        on_points = both_forms(e, xs[1:3].copy(), ys[1:3].copy(), -0.0)
        assert on_points[0] == on_points[1] >= {(0, 1), (1, 2)}


class TestFrame:
    def test_index_choice_and_metrics_columns(self, rng):
        uniform = rng.uniform(0, 100, (2, 5000))
        clustered = np.repeat(rng.uniform(0, 100, (2, 50)), 100, axis=1)
        cases = [(uniform[:, :400], "eager", "brute_force"), (uniform, "eager", "grid"),
                 (clustered, "eager", "kd_tree"), (uniform, "explicit:r_tree", "r_tree"),
                 (uniform, "none", "brute_force")]
        q = np.array([50.0]), np.array([50.0])
        for (xs, ys), mode, column in cases:
            e = engine(xs.copy(), ys.copy(), mode)
            rows = len(e.batch_within_distance(*q, 3.0, False)) // 2
            rows_flipped = len(e.batch_within_distance(*q, 3.0, True)) // 2
            assert operations(e) == [("batch_within_distance", column, 1, rows),
                                     ("batch_within_distance", "none", 1, rows_flipped)]
        e = engine(*uniform, "eager")
        e.batch_within_distance(np.array([]), np.array([]), 1.0, False)  # still builds its index
        assert operations(e) == [("batch_within_distance", "grid", 1, 0)]
        # The flipped form without query points returns nothing and builds nothing.
        e = engine(np.arange(1000.0), np.arange(1000.0))
        got = e.batch_within_distance(np.array([]), np.array([]), 5.0, True, total_q_count=10**6)
        assert got.dtype == np.uint32 and len(got) == 0
        m = e.take_metrics()
        assert [(o["name"], o["index"], o["calls"], o["output_rows"]) for o in m["operations"]] == [
            ("batch_within_distance", "none", 1, 0)]
        assert m["index_builds"] == []
        e = engine(*uniform, "auto")
        few = e.batch_within_distance(*q, 1.0, False)
        many = e.batch_within_distance(*q, 1.0, False, total_q_count=10**6)
        assert pair_set(few) == pair_set(many)
        assert [o[1] for o in operations(e)] == ["brute_force", "grid"]

    def test_checks_in_order(self):
        poly = Engine.from_polygon_rings(np.array([0.0, 1.0, 1.0]), np.array([0.0, 0.0, 1.0]), np.array([0, 3]),
                                         np.array([0, 1]))
        strided = np.arange(10.0)[::2]
        with pytest.raises(ValueError, match="^batch_within_distance requires a point dataset$"):
            poly.batch_within_distance(strided, np.arange(3.0), 1.0, False)
        e = engine(np.arange(10.0), np.arange(10.0))
        for qx, qy, message in [(strided, strided, "query_xs must be a contiguous float64 array"),
                                (np.arange(5.0), strided, "query_ys must be a contiguous float64 array"),
                                (np.arange(5.0), np.arange(4.0), "query_xs and query_ys must have the same length")]:
            with pytest.raises(ValueError, match=f"^{message}$"):
                e.batch_within_distance(qx, qy, 1.0, True)
        with pytest.raises(TypeError, match="^argument 'distance': "):
            e.batch_within_distance(np.arange(5.0), np.arange(5.0), "1", False)
        with pytest.raises(OverflowError):
            e.batch_within_distance(np.arange(5.0), np.arange(5.0), 1.0, False, total_q_count=-1)
        with pytest.raises(TypeError):
            e.batch_within_distance(np.arange(5.0), np.arange(5.0), 1.0, 1)
        assert operations(e) == []
        got = e.batch_within_distance(query_xs=np.arange(5.0), query_ys=np.arange(5.0), distance=1, flipped=False,
                                      total_q_count=None)
        assert pair_set(got) == {(i, i) for i in range(5)}


def sample_join(geographic, flipped):
    rng = np.random.default_rng(99)
    xs, ys = world(rng, 200_000) if geographic else layout("clustered", 200_000, rng)
    qx, qy = world(rng, 20_000) if geographic else layout("uniform", 20_000, rng)
    return engine(xs, ys, "eager", geographic).batch_within_distance(qx, qy, 50_000.0 if geographic else 0.3, flipped)


@pytest.mark.parametrize("geographic", [False, True])
@pytest.mark.parametrize("flipped", [False, True])
def test_same_pairs_on_one_thread(geographic, flipped):
    here = sample_join(geographic, flipped)
    assert len(here) > 20_000
    np.testing.assert_array_equal(here, on_one_thread(sample_join, geographic, flipped))


@pytest.mark.parametrize("flipped", [False, True])
def test_runs_without_the_interpreter_lock(rng, flipped):
    xs, ys = rng.uniform(0, 1000, 2_000_000), rng.uniform(0, 1000, 2_000_000)
    e = engine(xs[:100_000].copy(), ys[:100_000].copy())
    e.batch_within_distance(xs[:10], ys[:10], 1.0, False)  # the index is built beforehand
    got = assert_runs_without_gil(e, lambda: e.batch_within_distance(xs, ys, 1.5, flipped))
    assert len(got) > 0


def on_the_sphere(lons, lats):
    return (np.abs(lons) <= 180) & (np.abs(lats) <= 90)


def extremes(rng, name, d, arrays):
    """The scene made extreme in place: points at infinity (and d = +inf half the time), points
    off the sphere's ranges, or every coordinate and d scaled beyond the squares' range."""
    for a in arrays:
        if name == "infinite":
            a[rng.random(len(a)) < 0.2] = rng.choice([np.inf, -np.inf])
        elif name == "off the sphere":
            a[rng.random(len(a)) < 0.3] *= rng.choice([2.0, -3.0])
        elif name in ("huge", "tiny"):
            a *= 1e200 if name == "huge" else 1e-170
    if name == "infinite" and rng.random() < 0.5:
        return np.inf
    return d * 1e200 if name == "huge" else d * 1e-170 if name == "tiny" else d


@settings(max_examples=80, deadline=None)
@given(seed=st.integers(0, 2**32 - 1), n=st.integers(0, 700), nq=st.integers(0, 60),
       geographic=st.booleans(), mode=st.sampled_from(MODES),
       extreme=st.sampled_from(["none", "infinite", "off the sphere", "huge", "tiny"]))
def test_direct_and_flipped_find_the_same_pairs(seed, n, nq, geographic, mode, extreme):
    # Only finite points pass, and in the geographic system only points on the sphere's ranges,
    # as dataset points and as query points alike; beyond the squares' range the planar test
    # still decides as the squared form would with an unbounded exponent.
    rng = np.random.default_rng(seed)
    xs, ys = world(rng, n)
    qx, qy = world(rng, nq)
    if nq and n:  # crowd the antimeridian and the poles
        qx[::3], qy[::4] = rng.choice([-180.0, 180.0], len(qx[::3])), rng.choice([-89.95, 89.95], len(qy[::4]))
    d = extremes(rng, extreme, float(rng.exponential(2e6 if geographic else 40.0)), [xs, ys, qx, qy])
    direct, flipped = both_forms(engine(xs, ys, mode, geographic), qx, qy, d)
    if geographic:
        kept = (haversine_matrix(xs, ys, qx, qy) <= d) & on_the_sphere(qx, qy)[:, None] & on_the_sphere(xs, ys)
    else:
        kept = np.array([within_disc(xs, ys, x, y, d) for x, y in zip(qx, qy)]).reshape(len(qx), len(xs))
    q, p = np.nonzero(kept)
    assert direct == flipped == set(zip(q.tolist(), p.tolist()))
