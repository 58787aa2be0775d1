"""batch_knn_to_polygons and batch_knn_to_polygons_sorted against shapely's exact distances,
in every index mode; the sorted form against the blocks; thread counts, the interpreter lock,
the frame's checks and metrics, and the sizes that come from k."""
import numpy as np
import pytest
import shapely

from conftest import assert_runs_without_gil, on_one_thread
from polygon_data import error_of, random_geometries, wkb_column
from query_oracles import MODES, U32_MAX, box_distances, builds, operations, points_engine, polygon_engine
from vardelin._core import Engine

# Distances of both sides are exact up to the rounding of their edge formulas (GEOS projects
# through a cross product, which loses more near long edges): a few ulps at these magnitudes.
RTOL, ATOL = 1e-11, 1e-10


def dataset(seed, n=60):
    return random_geometries(np.random.default_rng(seed), n, multi_share=0.4)


def queries(geoms, rng, n=1500):
    """Uniform points over the data and beyond, a point inside every polygon, a tight cluster
    and far outliers."""
    x0, y0, x1, y1 = shapely.total_bounds(geoms)
    inside = shapely.get_coordinates(shapely.point_on_surface(geoms))
    xs = np.r_[rng.uniform(x0 - 20, x1 + 20, n), inside[:, 0], rng.normal(10, 0.01, 200), [1e7, -1e7, 0]]
    ys = np.r_[rng.uniform(y0 - 20, y1 + 20, n), inside[:, 1], rng.normal(50, 0.01, 200), [0, 3e6, -1e8]]
    return xs, ys


def oracle(geoms, xs, ys):
    """Exact distance from every query point to every geometry; rows by query."""
    return shapely.distance(shapely.points(xs, ys)[:, None], geoms[None, :])


def check_blocks(ids, dist, exact, k):
    """Each block: the min(k, count) nearest polygons by the oracle, each once, nearest first,
    ids free only among equal distances, then padding."""
    nq, count = exact.shape
    found = min(k, count)
    ids, dist = ids.reshape(nq, k), dist.reshape(nq, k)
    assert (ids[:, found:] == U32_MAX).all() and np.isposinf(dist[:, found:]).all()
    ids, dist = ids[:, :found].astype(np.int64), dist[:, :found]
    assert (np.diff(dist, axis=1) >= 0).all()
    assert all(len(set(row)) == found for row in ids)
    np.testing.assert_allclose(dist, np.sort(exact, axis=1)[:, :found], rtol=RTOL, atol=ATOL)
    np.testing.assert_allclose(np.take_along_axis(exact, ids, axis=1), dist, rtol=RTOL, atol=ATOL)


def check_sorted(sorted_result, ids, dist, k):
    """The sorted form holds exactly the real slots of the blocks, ordered by distance then
    polygon; results equal on both keys may come in any query order."""
    q, t, d = sorted_result
    assert q.dtype == t.dtype == np.uint32 and d.dtype == np.float64
    key = np.lexsort((t, d))
    np.testing.assert_array_equal(key, np.arange(len(d)))  # already in (distance, target) order
    real = ids != U32_MAX
    bq = (np.arange(len(ids)) // k)[real]
    expected = np.lexsort((bq, ids[real], dist[real]))
    ours = np.lexsort((q, t, d))
    np.testing.assert_array_equal(q[ours], bq[expected])
    np.testing.assert_array_equal(t[ours], ids[real][expected])
    np.testing.assert_array_equal(d[ours], dist[real][expected])


class TestAgainstShapely:
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("k", [1, 3, 8, 70])
    def test_blocks_and_sorted_in_every_mode(self, mode, k):
        geoms = dataset(1)
        xs, ys = queries(geoms, np.random.default_rng(k))
        e = polygon_engine(geoms, mode)
        ids, dist = e.batch_knn_to_polygons(xs, ys, k)
        assert ids.dtype == np.uint32 and dist.dtype == np.float64 and len(ids) == len(dist) == len(xs) * k
        exact = oracle(geoms, xs, ys)
        check_blocks(ids, dist, exact, k)
        check_sorted(e.batch_knn_to_polygons_sorted(xs, ys, k), ids, dist, k)

    @pytest.mark.parametrize("mode", ["eager", "none"])
    @pytest.mark.parametrize("k", [1, 2, 5, 9])
    def test_lattice_full_of_equal_distances(self, mode, k):
        # Equal boxes on a lattice holding squares or triangles, every fifth a two-part polygon:
        # the query points sit where many parts are equally far by box, some of them nearer
        # than others by exact distance.
        def shape(n, x, y):
            corners = [(x, y), (x + 2, y), (x + 2, y + 2), (x, y + 2)]
            return shapely.Polygon(corners if n % 3 == 0 else corners[:n % 4] + corners[n % 4 + 1:])

        squares = [shape(n, 4 * (n % 8), 4 * (n // 8)) for n in range(64)]
        geoms = np.array([shapely.MultiPolygon([s, shapely.box(*(np.array(s.bounds) + [0, 2.5, 0, 2.5]))])
                          if n % 5 == 0 else s for n, s in enumerate(squares)], dtype=object)
        g = np.arange(-1.0, 33.0, 1.0)
        xs, ys = (a.ravel().copy() for a in np.meshgrid(g, g))
        e = polygon_engine(geoms, mode)
        ids, dist = e.batch_knn_to_polygons(xs, ys, k)
        check_blocks(ids, dist, oracle(geoms, xs, ys), k)
        check_sorted(e.batch_knn_to_polygons_sorted(xs, ys, k), ids, dist, k)

    @pytest.mark.parametrize("mode", ["eager", "none"])
    def test_distances_whose_squares_leave_the_doubles(self, mode):
        # Gaps of 1e-170 square to 0 and gaps of 1e200 to +inf; neither the distances nor their
        # order may: boxes, where the distance to the box is the exact one.
        boxes = np.array([[0, 0, 1, 1], [1e200, 0, 2e200, 1e200], [-3e200, -3e200, -2e200, -2e200]])
        geoms = shapely.box(*boxes.T)
        xs, ys = np.array([-1e-170, 0.5, 1.5e200, 0.0, 3e-170]), np.array([0.5, -3e-170, 1.5e200, -5e200, 2e-170])
        exact = np.array([box_distances(*boxes.T, x, y) for x, y in zip(xs, ys)])
        ids, dist = polygon_engine(geoms, mode).batch_knn_to_polygons(xs, ys, 3)
        check_blocks(ids, dist, exact, 3)
        assert dist[[0, 3]].tolist() == [1e-170, 3e-170]
        # shapely agrees where its own squares do not overflow
        assert shapely.distance(shapely.points(xs[:2], ys[:2]), geoms[0]).tolist() == [1e-170, 3e-170]
        # Inside a slanted triangle at either end, where the crossing test's products leave the
        # doubles: at distance 0, and contained.
        for s in (1e200, 1e-170):
            tri = Engine.from_polygon_rings(np.array([0, 3, 1.0]) * s, np.array([0, 1, 3.0]) * s, np.array([0, 3]),
                                            np.array([0, 1]))
            qx, qy = np.array([1.5, 1.2, 2.9]) * s, np.array([1.5, 2.5, 1.0]) * s
            assert tri.batch_knn_to_polygons(qx, qy, 1)[1].tolist() == [0.0] * 3
            assert tri.batch_contains(qx, qy).tolist() == [0, 0, 1, 0, 2, 0]

    @pytest.mark.parametrize("mode", ["eager", "none"])
    def test_ordinary_points_near_parts_whose_squares_overflow(self, mode):
        # The points are ordinary numbers, the parts 1e155 and more away: each distance is exact
        # although its square overflows, and so is their order.
        geoms = [shapely.Polygon([(3e155, 0), (4e155, 0), (3e155, 1e155)]),
                 shapely.Polygon([(1e155, 0), (2e155, 0), (1e155, 1e155)])]
        ids, dist = polygon_engine(geoms, mode).batch_knn_to_polygons(np.array([0.0, 1.0]), np.array([0.0, -2.0]), 2)
        assert ids.tolist() == [1, 0, 1, 0]
        assert dist.tolist() == [1e155, 3e155, 1e155, 3e155]

    def test_overlapping_polygons_both_at_zero_and_hole_distance(self):
        a = shapely.Polygon([(0, 0), (10, 0), (10, 10), (0, 10)], [[(4, 4), (6, 4), (6, 6), (4, 6)]])
        b = shapely.box(2, 2, 12, 12)
        far = shapely.MultiPolygon([shapely.box(100, 100, 101, 101), shapely.box(30, 0, 31, 1)])
        e = polygon_engine(np.array([a, b, far], dtype=object))
        ids, dist = e.batch_knn_to_polygons(np.array([3.0, 5.0, 5.0]), np.array([3.0, 5.0, 0.5]), 3)
        assert sorted(ids[:2]) == [0, 1] and ids[2:].tolist() == [2, 1, 0, 2, 0, 1, 2]
        # Inside the hole: the hole's edge; the multipolygon at its nearer part, once.
        assert dist.tolist() == [0.0, 0.0, np.hypot(27, 2), 0.0, 1.0, np.hypot(25, 4), 0.0, 1.5, 25.0]

    def test_exteriors_of_two_and_one_coordinates(self):
        # Two coordinates make a segment, measured as one but containing nothing, not even the
        # points on it; one coordinate has no edge to measure, even from the point itself.
        e = Engine.from_polygon_rings(np.array([0.0, 4.0, 1.0]), np.array([0.0, 0.0, 1.0]), np.array([0, 2, 3]),
                                      np.array([0, 1, 2]))
        ids, dist = e.batch_knn_to_polygons(np.array([2.0, 6.0, 2.0, 1.0]), np.array([3.0, 0.0, 0.0, 1.0]), 2)
        assert ids.tolist() == [0, 1] * 4 and dist.tolist() == [3.0, np.inf, 2.0, np.inf, 0.0, np.inf, 1.0, np.inf]
        assert e.batch_contains(np.array([2.0, 1.0]), np.array([0.0, 1.0])).tolist() == []

    def test_empty_parts_lie_at_infinity_and_polygons_without_parts_are_never_found(self):
        # The parts 0 and 2 are unit squares at x 0 and 5; part 1 has no rings; polygon 2 has no parts.
        xs, ys = np.array([0.0, 1, 1, 0, 5, 6, 6, 5]), np.array([0.0, 0, 1, 1, 0, 0, 1, 1])
        e = Engine.from_polygon_rings(xs, ys, np.array([0, 4, 8]), np.array([0, 1, 1, 2]), np.array([0, 1, 3]))
        for k in [1, 2, 3, 5]:
            ids, dist = e.batch_knn_to_polygons(np.array([4.0]), np.array([0.5]), k)
            assert ids.tolist() == [3, 0, 1, U32_MAX, U32_MAX][:k]
            assert dist.tolist() == [1.0, 3.0, np.inf, np.inf, np.inf][:k]
        result = e.batch_knn_to_polygons_sorted(np.array([4.0, 0.5]), np.array([0.5, 0.5]), 9)
        ids, dist = e.batch_knn_to_polygons(np.array([4.0, 0.5]), np.array([0.5, 0.5]), 4)
        check_sorted(result, ids, dist, 4)
        assert result[1].tolist() == [0, 3, 0, 3, 1, 1] and result[2].tolist()[:4] == [0.0, 1.0, 3.0, 4.5]


def batch_results(seed, clustered):
    """Both forms over a query set that fills many tiles, or one tile only."""
    geoms = dataset(seed, 400)
    rng = np.random.default_rng(seed)
    if clustered:
        xs, ys = rng.normal(0, 1e-3, 30000), rng.normal(100, 1e-3, 30000)
        xs[:3], ys[:3] = [-1e6, 1e6, 0], [0, 0, 1e6]  # outliers stretch the tile grid
    else:
        xs, ys = queries(geoms, rng, 30000)
    e = polygon_engine(geoms)
    return e.batch_knn_to_polygons(xs, ys, 4), e.batch_knn_to_polygons_sorted(xs, ys, 4), (xs, ys)


@pytest.mark.parametrize("clustered", [False, True])
def test_one_and_eight_threads_agree_and_tiles_do_not_matter(clustered):
    (ids, dist), ordered, (xs, ys) = batch_results(7, clustered)
    (ids1, dist1), ordered1, _ = on_one_thread(batch_results, 7, clustered)
    np.testing.assert_array_equal(ids, ids1)
    np.testing.assert_array_equal(dist, dist1)
    for a, b in zip(ordered, ordered1):
        np.testing.assert_array_equal(a, b)
    # Per query the answer does not depend on the batch it came in.
    e = polygon_engine(dataset(7, 400))
    for lo, hi in [(0, 5), (1000, 1700), (29990, 30000)]:
        part_ids, part_dist = e.batch_knn_to_polygons(xs[lo:hi].copy(), ys[lo:hi].copy(), 4)
        np.testing.assert_array_equal(part_ids, ids[4 * lo:4 * hi])
        np.testing.assert_array_equal(part_dist, dist[4 * lo:4 * hi])
    check_blocks(ids[:4000], dist[:4000], oracle(dataset(7, 400), xs[:1000], ys[:1000]), 4)


def test_runs_without_the_interpreter_lock():
    geoms = dataset(3, 2000)
    rng = np.random.default_rng(3)
    xs, ys = rng.uniform(-500, 500, 400000), rng.uniform(-100, 300, 400000)
    e = polygon_engine(geoms)
    e.batch_knn_to_polygons(xs[:10], ys[:10], 1)  # builds the tree first
    assert len(assert_runs_without_gil(e, lambda: e.batch_knn_to_polygons(xs, ys, 3))[0]) == 3 * len(xs)
    assert len(assert_runs_without_gil(e, lambda: e.batch_knn_to_polygons_sorted(xs, ys, 3))[0]) == 3 * len(xs)


class TestSizesFromK:
    def test_huge_k_searches_every_polygon_once(self):
        geoms = dataset(5, 30)
        xs, ys = queries(geoms, np.random.default_rng(5), 20)
        e = polygon_engine(geoms)
        q, t, d = e.batch_knn_to_polygons_sorted(xs, ys, 2**64 - 1)
        assert len(t) == len(xs) * 30
        ids, dist = e.batch_knn_to_polygons(xs, ys, 30)
        check_sorted((q, t, d), ids, dist, 30)
        wide, wide_dist = e.batch_knn_to_polygons(xs[:2], ys[:2], 100000)
        np.testing.assert_array_equal(wide.reshape(2, -1)[:, :30], ids.reshape(-1, 30)[:2])
        assert (wide.reshape(2, -1)[:, 30:] == U32_MAX).all() and np.isposinf(wide_dist.reshape(2, -1)[:, 30:]).all()

    def test_targets_past_two_bytes_sort_on_every_digit(self):
        # 70000 unit squares on a lattice: polygon ids past 2^16 and many equal distances.
        n = 70_000
        x0, y0 = (np.arange(n) % 300) * 2.0, (np.arange(n) // 300) * 2.0
        xs, ys = np.c_[x0, x0 + 1, x0 + 1, x0].ravel(), np.c_[y0, y0, y0 + 1, y0 + 1].ravel()
        e = Engine.from_polygon_rings(xs, ys, np.arange(0, 4 * n + 1, 4), np.arange(n + 1))
        qx, qy = np.array([0.5, 599.5]), np.array([0.5, 466.0])
        check_sorted(e.batch_knn_to_polygons_sorted(qx, qy, n), *e.batch_knn_to_polygons(qx, qy, n), n)

    @pytest.mark.parametrize("k", [2**64 - 1, 2**63, 2**40])
    def test_blocks_too_large_to_hold_are_a_memory_error_that_changes_nothing(self, k):
        e = polygon_engine(dataset(6))
        with pytest.raises(MemoryError):
            e.batch_knn_to_polygons(np.zeros(3), np.zeros(3), k)
        assert operations(e) == [] and e.take_metrics()["index_builds"] == []
        assert [len(a) for a in e.batch_knn_to_polygons(np.empty(0), np.empty(0), k)] == [0, 0]

    def test_nan_query_points_find_nothing(self):
        geoms = dataset(8)
        e = polygon_engine(geoms)
        xs, ys = np.array([np.nan, 0.0, 1.0, np.nan]), np.array([0.0, np.nan, 50.0, np.nan])
        ids, dist = e.batch_knn_to_polygons(xs, ys, 3)
        assert (ids[:6] == U32_MAX).all() and (ids[9:] == U32_MAX).all() and np.isposinf(dist[:6]).all()
        check_blocks(ids[6:9], dist[6:9], oracle(geoms, xs[2:3], ys[2:3]), 3)
        q, t, d = e.batch_knn_to_polygons_sorted(xs, ys, 3)
        assert q.tolist() == [2, 2, 2] and t.tolist() == ids[6:9].tolist()


class TestFrame:
    def test_checks_in_order(self, huge_array):
        e = polygon_engine(dataset(9))
        p = points_engine([0.0, 1.0], [0.0, 1.0])
        strided, ok = np.arange(8.0)[::2], np.zeros(4)
        for name in ["batch_knn_to_polygons", "batch_knn_to_polygons_sorted"]:
            call = lambda engine, *a: getattr(engine, name)(*a)
            assert error_of(call, e, strided, strided, 1) == "query_xs must be a contiguous float64 array"
            assert error_of(call, e, ok, strided, 1) == "query_ys must be a contiguous float64 array"
            assert error_of(call, p, ok, np.zeros(3), 1) == "query_xs and query_ys must have the same length"
            assert error_of(call, p, huge_array, huge_array, 1) == (
                "join query has 4294967296 rows; Vardelin's single-node join indices support at most 4294967295")
            assert error_of(call, p, ok, ok, 1) == f"{name} requires a polygon dataset"
            with pytest.raises(TypeError, match="^argument 'k': "):
                call(e, ok, ok, 1.0)
            with pytest.raises(OverflowError):
                call(e, ok, ok, -1)
            with pytest.raises(TypeError):
                call(e, ok.astype(np.float32), ok, 1)
        with pytest.raises(TypeError, match="^argument 'total_q_count': "):
            e.batch_knn_to_polygons(ok, ok, 1, 2.0)
        with pytest.raises(TypeError):
            e.batch_knn_to_polygons_sorted(ok, ok, 1, None)
        assert operations(e) == [] and operations(p) == []

    @pytest.mark.parametrize("mode, column, built", [
        ("eager", "r_tree", {"r_tree": 1}), ("none", "brute_force", {"brute_force": 1}),
        ("explicit:r_tree", "r_tree", {"r_tree": 1}), ("explicit:kd_tree", "kd_tree", {"r_tree": 1}),
        ("explicit:grid", "grid", {"r_tree": 1}), ("auto", "brute_force", {"brute_force": 1}),
    ])
    def test_columns_builds_and_rows(self, mode, column, built):
        geoms = dataset(10, 50)  # some multipolygons: 50 logical polygons, more parts
        e = polygon_engine(geoms, mode)
        xs = np.linspace(-400, 400, 7)
        e.batch_knn_to_polygons(xs, xs, 3)
        e.batch_knn_to_polygons(xs, xs, 80)
        e.batch_knn_to_polygons(np.empty(0), np.empty(0), 5)
        ids, dist = e.batch_knn_to_polygons(xs, xs, 0)  # k = 0: empty arrays, the call counted
        assert (ids.dtype, dist.dtype, len(ids), len(dist)) == (np.uint32, np.float64, 0, 0)
        assert [len(a) for a in e.batch_knn_to_polygons_sorted(xs, xs, 0)] == [0, 0, 0]
        q, _, _ = e.batch_knn_to_polygons_sorted(xs, xs, 80)
        metrics = e.take_metrics()
        assert builds(metrics) == built
        assert [(o["name"], o["index"], o["calls"], o["output_rows"]) for o in metrics["operations"]] == [
            ("batch_knn_to_polygons", column, 4, 7 * 3 + 7 * 50), ("batch_knn_to_polygons_sorted", column, 2, 350)]
        assert len(q) == 350

    def test_total_q_count_changes_only_the_auto_choice(self):
        geoms = dataset(11, 600)
        e = polygon_engine(geoms, "auto")
        x, y = np.array([0.0]), np.array([100.0])
        alone = e.batch_knn_to_polygons(x, y, 2)
        planned = e.batch_knn_to_polygons(x, y, 2, total_q_count=10**6)
        none = e.batch_knn_to_polygons(x, y, 2, None)
        for a, b in zip(alone, planned):
            np.testing.assert_array_equal(a, b)
        assert [o[:3] for o in operations(e)] == [("batch_knn_to_polygons", "brute_force", 2),
                                                  ("batch_knn_to_polygons", "r_tree", 1)]
        np.testing.assert_array_equal(none[0], alone[0])

    def test_dataset_without_parts(self):
        # Two empty geometries: two logical polygons and no part.
        e = Engine.from_wkb_polygons(*wkb_column([shapely.to_wkb(shapely.from_wkt("MULTIPOLYGON EMPTY"))] * 2))
        ids, dist = e.batch_knn_to_polygons(np.zeros(3), np.zeros(3), 2)
        assert (ids == U32_MAX).all() and np.isposinf(dist).all() and len(ids) == 6
        assert [len(a) for a in e.batch_knn_to_polygons_sorted(np.zeros(3), np.zeros(3), 2)] == [0, 0, 0]
        assert operations(e) == [("batch_knn_to_polygons", "r_tree", 1, 0), ("batch_knn_to_polygons_sorted", "r_tree", 1, 0)]
