"""batch_knn_join against scipy's cKDTree and a NumPy ranking, in every index mode, with points
waiting in the delta buffer and across the merges the join triggers; batch_within against a
NumPy mask."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from scipy.spatial import cKDTree

from conftest import assert_runs_without_gil, on_one_thread
from query_oracles import (MODES, box_distances, box_mask, builds, check_knn_ranking, layout, operations,
                           points_engine, polygon_engine, random_boxes, shells)
from polygon_data import error_of, random_geometries
from vardelin._core import Engine

U64_MAX = 2**64 - 1


def blocks(ids, n, c):
    ids = np.asarray(ids)
    assert ids.dtype == np.uint32 and ids.shape == (n * c,)
    return ids.reshape(n, c).astype(np.int64)


def check_against_ckdtree(got, xs, ys, qx, qy, k):
    """Every block holds the min(k, m) nearest, nearest first: ids may differ from cKDTree's at
    equal distances, so the blocks' distances are compared."""
    c = min(k, len(xs))
    rows = blocks(got, len(qx), c)
    if c == 0:
        return
    expected, _ = cKDTree(np.column_stack([xs, ys])).query(np.column_stack([qx, qy]), k=c)
    expected = np.asarray(expected).reshape(len(qx), c)
    ours = np.sqrt((xs[rows] - qx[:, None]) ** 2 + (ys[rows] - qy[:, None]) ** 2)
    np.testing.assert_allclose(ours, expected, rtol=1e-12, atol=0)
    assert all(len(set(r)) == c for r in rows.tolist())


def query_points(rng, n):
    return rng.uniform(-10, 110, n), rng.uniform(-10, 110, n)


class TestAgainstCKDTree:
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("name", ["uniform", "clustered", "lattice"])
    def test_every_mode(self, rng, mode, name):
        xs, ys = layout(name, 3000, rng)
        qx, qy = query_points(rng, 2000)
        e = points_engine(xs, ys, mode)
        for k in (1, 8, 40):
            check_against_ckdtree(e.batch_knn_join(qx, qy, k), xs, ys, qx, qy, k)

    @pytest.mark.parametrize("mode", MODES)
    def test_waiting_points_rank_with_the_main_ones(self, rng, mode):
        xs, ys = layout("clustered", 2000, rng)
        dx, dy = rng.uniform(0, 100, 150), rng.uniform(0, 100, 150)
        dx[:3], dy[:3] = 50.0, 50.0  # a waiting point nearer than every main point to (50, 50)
        e = points_engine(xs, ys, mode)
        e.append_delta(dx, dy)
        qx, qy = query_points(rng, 300)
        qx[0], qy[0] = 50.0, 50.0
        got = e.batch_knn_join(qx, qy, 12)
        check_against_ckdtree(got, np.concatenate([xs, dx]), np.concatenate([ys, dy]), qx, qy, 12)
        assert sorted(got[:3].tolist()) == [2000, 2001, 2002]

    @settings(max_examples=40, deadline=None)
    @given(m=st.integers(1, 3000), d=st.integers(0, 30), n=st.integers(0, 60) | st.integers(1024, 1100),
           k=st.integers(0, 400), mode=st.sampled_from(MODES), sites=st.sampled_from([3, 30, 2**20]),
           clusters=st.integers(0, 3), far=st.booleans(), seed=st.integers(0, 2**32 - 1),
           scale=st.sampled_from([1.0, 2.0**700, 2.0**-600]))
    def test_random_sizes_before_and_after_merges(self, m, d, n, k, mode, sites, clusters, far, seed, scale):
        # Sites over [0, 30] (3 a side: each point repeated many times) or tight clusters of
        # repeated coordinates; queries among the points, or some far off.
        rng = np.random.default_rng(seed)
        d = min(d, max(m // 10, 1))
        all_x, all_y = rng.integers(0, sites, (2, m + d)) * (30.0 / sites)
        if clusters:
            pick, spread = rng.integers(0, clusters, m + d), np.round(rng.normal(0, 0.5, (2, m + d)), 1)
            all_x, all_y = rng.uniform(0, 30, (2, clusters))[:, pick] + spread
        e = points_engine(all_x[:m] * scale, all_y[:m] * scale, mode)
        e.append_delta(all_x[m:] * scale, all_y[m:] * scale)
        qx, qy = rng.uniform(-5, 35, (2, n)) + far * rng.choice([0.0, -1e4, 1e5], (2, n))
        # Repeated calls pile up delta work until a merge; every answer names the same points.
        # A power of two changes no bit, so no ranking, where the squares overflow (2^700) or
        # underflow (2^-600) too.
        for _ in range(3):
            check_against_ckdtree(e.batch_knn_join(qx * scale, qy * scale, k), all_x, all_y, qx, qy, k)
        assert e.n() + e.delta_len() == m + d


class TestBlocksStayWhole:
    @pytest.mark.parametrize("mode", MODES)
    def test_nan_and_infinite_points_and_queries(self, rng, mode):
        xs, ys = layout("nan", 400, rng)
        dx, dy = np.array([np.nan, 5.0, np.inf, 60.0]), np.array([1.0, np.nan, 2.0, 60.0])
        e = points_engine(xs, ys, mode)
        e.append_delta(dx, dy)
        all_x, all_y = np.concatenate([xs, dx]), np.concatenate([ys, dy])
        qx, qy = query_points(rng, 50)
        qx[::5], qy[2::7] = np.nan, np.nan
        qx[3], qy[4] = np.inf, -np.inf
        for k in (1, 7, 390, 404, 1000):
            c = min(k, 404)
            rows = blocks(e.batch_knn_join(qx, qy, k), 50, c)
            for q, row in enumerate(rows):
                if np.isnan(qx[q]) or np.isnan(qy[q]):
                    assert row.tolist() == list(range(c))
                else:
                    d = box_distances(all_x, all_y, all_x, all_y, qx[q], qy[q])
                    check_knn_ranking(row, d, k)

    def test_the_reshape_keeps_every_row_on_its_query(self, rng):
        xs, ys = rng.uniform(0, 100, 500), rng.uniform(0, 100, 500)
        qx = np.array([np.nan, xs[7], np.nan, xs[9]])
        qy = np.array([0.0, ys[7], np.nan, ys[9]])
        rows = blocks(points_engine(xs, ys).batch_knn_join(qx, qy, 3), 4, 3)
        assert rows[:, 0].tolist() == [0, 7, 0, 9]

    def test_huge_k_and_impossible_sizes(self, rng, huge_array):
        xs, ys = rng.uniform(0, 1, 10), rng.uniform(0, 1, 10)
        e = points_engine(xs, ys)
        e.append_delta(np.array([0.5]), np.array([0.5]))
        e.take_metrics()
        # 2^31 blocks of 11 ids would take 94 GB: refused before anything is planned or built,
        # so the call leaves no trace.
        with pytest.raises(MemoryError):
            e.batch_knn_join(huge_array[:2**31], huge_array[:2**31], U64_MAX)
        m = e.take_metrics()
        assert (m["operations"], builds(m), e.index_bytes(), e.delta_len()) == ([], {}, 0, 1)
        qx, qy = rng.uniform(0, 1, 5), rng.uniform(0, 1, 5)
        check_against_ckdtree(e.batch_knn_join(qx, qy, U64_MAX), np.append(xs, 0.5), np.append(ys, 0.5), qx, qy, 11)
        assert len(e.batch_knn_join(qx, qy, 2)) == 10


class TestPolygonDataset:
    @pytest.mark.parametrize("mode", MODES)
    def test_parts_by_exterior_box_and_kd_tree_or_grid_served_by_the_r_tree(self, rng, mode):
        geoms = random_geometries(rng, 120, empty_share=0.05)
        e = polygon_engine(geoms, mode)
        parts, _ = shells(geoms)
        bounds = np.array([p.bounds if not p.is_empty else (np.nan,) * 4 for p in parts])
        n_parts = len(parts)
        qx, qy = rng.uniform(-520, 520, 40), rng.uniform(-120, 320, 40)
        qx[0] = np.nan
        got = e.batch_knn_join(qx, qy, 9)
        rows = blocks(got, 40, min(9, n_parts))
        assert rows[0].tolist() == list(range(9))
        for q in range(1, 40):
            d = box_distances(*bounds.T, qx[q], qy[q])
            check_knn_ranking(rows[q], d, 9)
        metrics = e.take_metrics()
        column = {"none": "brute_force", "eager": None, "auto": None}.get(mode, mode.partition(":")[2])
        ops = [(o["name"], o["calls"], o["output_rows"]) for o in metrics["operations"]]
        assert ops == [("batch_knn_join", 1, len(got))]
        if column is not None:
            assert metrics["operations"][0]["index"] == column
            built = {"brute_force": "brute_force"}.get(column, "r_tree")
            assert builds(metrics) == {built: 1}


class TestFrame:
    def test_merge_after_the_kernel_names_former_waiting_points(self):
        xs, ys = np.arange(40.0), np.zeros(40)
        e = points_engine(xs, ys, "explicit:grid")
        e.append_delta(np.array([100.0, 101.0, 102.0]), np.zeros(3))
        qx = np.full(14, 103.0)
        got = blocks(e.batch_knn_join(qx, np.zeros(14), 3), 14, 3)
        assert (e.delta_len(), e.n()) == (0, 43)
        assert got.tolist() == [[42, 41, 40]] * 14
        # Planned and built again over the merged arrays.
        assert blocks(e.batch_knn_join(qx[:1], np.zeros(1), 3), 1, 3).tolist() == [[42, 41, 40]]
        assert builds(e.take_metrics()) == {"grid": 2}

    def test_brute_force_never_merges(self):
        e = points_engine(np.arange(40.0), np.zeros(40), "none")
        e.append_delta(np.arange(3.0), np.zeros(3))
        for _ in range(5):
            e.batch_knn_join(np.zeros(1000), np.zeros(1000), 2)
        assert e.delta_len() == 3

    def test_empty_queries_and_k_zero_plan_build_count_and_merge(self):
        e = points_engine(np.arange(40.0), np.zeros(40), "none")
        e.append_delta(np.arange(3.0), np.zeros(3))
        assert len(e.batch_knn_join(np.zeros(20), np.zeros(20), 1)) == 20  # 60 units of delta work
        e.take_metrics()
        e.set_index_mode("explicit:grid")
        got = e.batch_knn_join(np.empty(0), np.empty(0), 5)
        assert got.dtype == np.uint32 and got.shape == (0,)
        assert e.delta_len() == 0 and e.n() == 43
        metrics = e.take_metrics()
        assert operations_of(metrics) == [("batch_knn_join", "grid", 1, 0)] and builds(metrics) == {"grid": 1}

        e = points_engine(np.arange(40.0), np.zeros(40), "explicit:kd_tree")
        e.append_delta(np.arange(3.0), np.zeros(3))
        for _ in range(2):
            assert len(e.batch_knn_join(np.zeros(100), np.zeros(100), 0)) == 0
        # 2 * 100 * 3 units reach the tree threshold 40 * 6 = 240 only on the second call.
        assert e.delta_len() == 0
        assert operations(e) == [("batch_knn_join", "kd_tree", 2, 0)]

    def test_total_q_count_changes_only_the_plan(self, rng):
        xs, ys = rng.uniform(0, 100, 5000), rng.uniform(0, 100, 5000)
        qx, qy = query_points(rng, 3)
        e = points_engine(xs, ys, "auto")
        few = e.batch_knn_join(qx, qy, 4, None)
        many = e.batch_knn_join(qx, qy, 4, total_q_count=10**9)
        check_against_ckdtree(few, xs, ys, qx, qy, 4)
        check_against_ckdtree(many, xs, ys, qx, qy, 4)
        assert [o[1] for o in operations(e)] == ["brute_force", "kd_tree"]

    def test_builds_stay_out_of_the_recorded_time(self, rng):
        xs, ys = rng.uniform(0, 100, 300_000), rng.uniform(0, 100, 300_000)
        e = points_engine(xs, ys)
        e.batch_knn_join(np.zeros(1), np.zeros(1), 1)
        metrics = e.take_metrics()
        build_ns = metrics["index_builds"][0]["elapsed_compute_ns"]
        assert metrics["operations"][0]["elapsed_compute_ns"] < build_ns

    @pytest.mark.parametrize("args, error, message", [
        ((np.zeros(4)[::2], np.zeros(3)[::2], 1), ValueError, "query_xs must be a contiguous float64 array"),
        ((np.zeros(2), np.zeros(4)[::2], 1), ValueError, "query_ys must be a contiguous float64 array"),
        ((np.zeros(2), np.zeros(3), 1), ValueError, "query_xs and query_ys must have the same length"),
        ((np.zeros(2), np.zeros(2), -1), OverflowError, None),
        ((np.zeros(2), np.zeros(2), 1.0), TypeError, None),
        ((np.zeros(2), np.zeros(2), 1, -2), OverflowError, None),
        ((np.zeros(2), np.zeros(2), 1, 3.0), TypeError, None),
        ((np.zeros(2, dtype=np.float32), np.zeros(2), 1), TypeError, None),
        (([0.0], np.zeros(1), 1), TypeError, None),
    ])
    def test_refusals_change_nothing(self, args, error, message):
        e = points_engine(np.arange(10.0), np.zeros(10))
        with pytest.raises(error) as info:
            e.batch_knn_join(*args)
        if message:
            assert str(info.value) == message
        metrics = e.take_metrics()
        assert metrics["operations"] == [] and metrics["index_builds"] == []

    def test_row_limit(self, huge_array):
        e = points_engine(np.arange(10.0), np.zeros(10))
        assert error_of(e.batch_knn_join, huge_array, huge_array, 1) == (
            "join query has 4294967296 rows; Vardelin's single-node join indices support at most 4294967295")
        assert operations(e) == [] and builds(e.take_metrics()) == {}

    def test_runs_without_the_interpreter_lock(self, rng):
        xs, ys = rng.uniform(0, 100, 200_000), rng.uniform(0, 100, 200_000)
        e = points_engine(xs, ys, "none")
        dx, dy = rng.uniform(0, 100, 50), rng.uniform(0, 100, 50)
        e.append_delta(dx, dy)
        qx, qy = query_points(rng, 2000)
        got = assert_runs_without_gil(e, lambda: e.batch_knn_join(qx, qy, 5))
        check_against_ckdtree(got, np.concatenate([xs, dx]), np.concatenate([ys, dy]), qx, qy, 5)


def operations_of(metrics):
    return [(o["name"], o["index"], o["calls"], o["output_rows"]) for o in metrics["operations"]]


def lattice_join(mode):
    """A lattice with duplicates (ties everywhere), points waiting beside it, many queries."""
    i = np.arange(60_000)
    xs, ys = (i % 200) * 1.0, (i // 200 % 150) * 1.0
    e = points_engine(xs, ys, mode)
    e.append_delta(np.arange(100.0), np.full(100, 7.0))
    rng = np.random.default_rng(5)
    qx, qy = rng.integers(0, 200, 20_000) * 1.0, rng.integers(0, 150, 20_000) * 0.5
    qx[::97] = np.nan
    return e.batch_knn_join(qx, qy, 9).tobytes()


@pytest.mark.parametrize("mode", MODES)
def test_one_thread_and_every_thread_agree(mode):
    assert on_one_thread(lattice_join, mode) == lattice_join(mode)


class TestBatchWithin:
    @pytest.mark.parametrize("name", ["uniform", "nan"])
    def test_against_numpy_mask(self, rng, name):
        xs, ys = layout(name, 200_000, rng)
        e = Engine.from_points(np.zeros(1), np.zeros(1))
        for box in list(random_boxes(rng, 30)) + [(-np.inf, -np.inf, np.inf, np.inf), (0, 0, np.nan, 50)]:
            got = e.batch_within(xs, ys, *box)
            assert got.dtype == np.uint64
            np.testing.assert_array_equal(got, np.flatnonzero(box_mask(xs, ys, box)))

    def test_documented_edges(self):
        xs = np.array([0.0, 1.0, 2.0, np.nan, 1.0, 2.0])
        ys = np.array([0.0, 1.0, 2.0, 1.0, np.nan, 1.0])
        e = Engine.from_points(np.zeros(1), np.zeros(1))
        assert e.batch_within(xs, ys, 1, 1, 2, 2).tolist() == [1, 2, 5]
        assert e.batch_within(xs, ys, 2, 0, 1, 2).tolist() == []
        assert e.batch_within(xs, ys, 1, 1, 1, 1).tolist() == [1]
        assert e.batch_within(xs, ys, -np.inf, 0.5, 1.5, np.inf).tolist() == [1]
        assert e.batch_within(query_xs=xs, query_ys=ys, min_x=0, min_y=0, max_x=True, max_y=1).tolist() == [0, 1]
        empty = e.batch_within(np.empty(0), np.empty(0), 0, 0, 1, 1)
        assert empty.dtype == np.uint64 and empty.shape == (0,)

    def test_same_on_every_engine_and_nothing_recorded(self, rng):
        xs, ys = rng.uniform(0, 10, 1000), rng.uniform(0, 10, 1000)
        engines = [Engine.from_points(np.empty(0), np.empty(0)), polygon_engine(random_geometries(rng, 10))]
        waiting = points_engine(xs, ys)
        waiting.append_delta(np.ones(5), np.ones(5))
        engines.append(waiting)
        answers = [e.batch_within(xs, ys, 2, 3, 7, 8).tolist() for e in engines]
        assert answers[0] == answers[1] == answers[2] == np.flatnonzero(box_mask(xs, ys, (2, 3, 7, 8))).tolist()
        for e in engines:
            metrics = e.take_metrics()
            assert metrics["operations"] == [] and metrics["index_builds"] == []
        assert waiting.delta_len() == 5

    def test_checks_and_shared_borrow(self, rng):
        e = Engine.from_points(np.zeros(1), np.zeros(1))
        z = np.zeros(4)
        assert error_of(e.batch_within, z[::2], z[::2], 0, 0, 1, 1) == "query_xs must be a contiguous float64 array"
        assert error_of(e.batch_within, z[:2], z[::2], 0, 0, 1, 1) == "query_ys must be a contiguous float64 array"
        assert error_of(e.batch_within, z, z[:3], 0, 0, 1, 1) == "query_xs and query_ys must have the same length"
        with pytest.raises(TypeError, match="max_y"):
            e.batch_within(z, z, 0, 0, 1, "1")
        xs, ys = rng.uniform(0, 1, 20_000_000), rng.uniform(0, 1, 20_000_000)
        got = assert_runs_without_gil(e, lambda: e.batch_within(xs, ys, 0.25, 0.25, 0.5, 0.5), probe=e.flush)
        np.testing.assert_array_equal(got, np.flatnonzero(box_mask(xs, ys, (0.25, 0.25, 0.5, 0.5))))
