"""range_query, contains_query and knn on point datasets against NumPy brute force, in every
index mode, before and after merging appended points; the single-query frame's metrics, the
delta-work rule, and the planner's choices as the metrics report them."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from query_oracles import (MODES, CallsBack, TOLERANCE, box_distances, builds, check_knn_ranking, in_box, lattice,
                           layout, near_point, operations, points_engine, random_boxes, squared_distances)


def knn_distances(xs, ys, ids, x, y):
    return squared_distances(np.asarray(xs)[ids], np.asarray(ys)[ids], x, y)


def check_against_brute_force(e, xs, ys, boxes, points, probes, knn=True):
    """Every box, containment at every point and knn at every probe against NumPy over xs, ys."""
    main = e.n()
    for box in boxes:
        waiting = e.delta_len() > 0  # the delta work of these calls may merge the buffer
        hits = e.range_query(*box)
        assert len(hits) == len(set(hits)) and sorted(hits) == in_box(xs, ys, box).tolist()
        if waiting:  # appended points follow the index's hits, in append order
            tail = [h for h in hits if h >= main]
            assert hits[len(hits) - len(tail):] == sorted(tail)
    for x, y in points:
        assert sorted(e.contains_query(x, y)) == near_point(xs, ys, x, y).tolist()
    for k in [0, 1, 10, 100] if knn else []:
        for x, y in probes:
            d = knn_distances(xs, ys, e.knn(x, y, k), x, y)
            assert np.all(np.diff(d) >= 0)
            np.testing.assert_array_equal(d, np.sort(squared_distances(xs, ys, x, y))[:k])


class TestAgainstBruteForce:
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("name", ["uniform", "clustered", "lattice", "nan"])
    def test_before_and_after_appending_and_merging(self, rng, mode, name):
        xs, ys = layout(name, 3000, rng)
        e = points_engine(xs, ys, mode)
        boxes = list(random_boxes(rng, 60)) + [(xs[i], ys[i], xs[i], ys[i]) for i in range(0, 3000, 97)]
        boxes += [(-np.inf, -np.inf, np.inf, np.inf), (200, 200, 300, 300)]
        probes = rng.uniform(-20, 120, (15, 2))
        check_against_brute_force(e, xs, ys, boxes, zip(xs[::31], ys[::31]), probes)
        ax, ay = layout(name, 150, rng)
        ax[:3], ay[:3] = xs[:3], ys[:3]  # duplicates of main points
        e.append_delta(ax, ay)
        assert e.delta_len() == 150
        all_x, all_y = np.r_[xs, ax], np.r_[ys, ay]
        check_against_brute_force(e, all_x, all_y, boxes[:25], zip(ax[:10], ay[:10]), probes[:5])
        e.flush()
        assert e.delta_len() == 0
        check_against_brute_force(e, all_x, all_y, boxes[:25], zip(ax[:10], ay[:10]), probes[:5])

    def test_brute_force_order_is_ascending_then_delta_order(self, rng):
        e = points_engine(*layout("uniform", 1000, rng), "none")
        e.append_delta(np.array([50.0, 10.0, 50.0]), np.array([50.0, 10.0, 50.0]))
        assert e.range_query(0, 0, 100, 100) == list(range(1003))
        assert e.range_query(49, 49, 51, 51)[-2:] == [1000, 1002]


class TestEdges:
    @pytest.mark.parametrize("mode", MODES)
    def test_nan_query_boxes_and_points_match_nothing(self, rng, mode):
        e = points_engine(*layout("nan", 2000, rng), mode)
        for _ in range(2):
            for box in [(np.nan, 0, 100, 100), (0, np.nan, 100, 100), (0, 0, np.nan, 100), (0, 0, 100, np.nan),
                        (np.nan,) * 4]:
                assert e.range_query(*box) == []
            assert e.contains_query(np.nan, 5.0) == []
            e.append_delta(np.array([50.0]), np.array([50.0]))  # and again with a point waiting

    @pytest.mark.parametrize("mode", MODES)
    def test_inclusive_inverted_degenerate_boxes_and_contains_tolerance(self, mode):
        xs = np.r_[np.arange(600.0) % 30 + 100, 103.0, 0.0, 1e-13, 1e-12, -2e-13, 5000.0, np.nextafter(5000.0, 6000.0)]
        ys = np.r_[np.arange(600.0) // 30, 4.0, 0.0, 0.0, 0.0, 2e-13, 5000.0, 5000.0]
        e = points_engine(xs, ys, mode)
        assert sorted(e.range_query(103, 4, 103, 4)) == [123, 600]
        assert sorted(e.range_query(103, 4, 105, 4)) == [123, 124, 125, 600]
        assert e.range_query(105, 4, 103, 4) == [] and e.range_query(103, 5, 103, 4) == []
        # The tolerance is absolute: tiny offsets count near zero, one ulp of 5000 does not.
        assert sorted(e.contains_query(0.0, 0.0)) == [601, 602, 604]
        assert e.contains_query(5000.0, 5000.0) == [605]
        assert e.contains_query(5000.0 + TOLERANCE, 5000.0) == [605]

    def test_point_within_tolerance_across_a_histogram_cell_border(self):
        # Columns of the histogram are 1 wide; the query's own cell holds nothing, the point
        # 1e-14 away lies in the next one and must still be found.
        assert points_engine([0.0, 32.0, 1.0], [0.0, 32.0, 5.0]).contains_query(1.0 - 1e-14, 5.0) == [2]

    @pytest.mark.parametrize("mode", MODES)
    def test_knn_lists_points_at_infinity_last_and_none_around_nan_in_every_mode(self, rng, mode):
        xs, ys = rng.uniform(0, 100, 700), rng.uniform(0, 100, 700)
        xs[::7], ys[3::11], xs[5::13], ys[5::13] = np.nan, np.nan, np.nan, np.nan
        xs[4], ys[4] = 1e200, 1e200  # finite, though its squared distance overflows: before the points at infinity
        ax, ay = np.array([np.nan, 50.0, 2.0]), np.array([1.0, np.nan, 2.0])
        e = points_engine(xs, ys, mode)
        for step in ["main", "waiting", "merged"]:
            if step == "waiting":
                e.append_delta(ax, ay)
                xs, ys = np.r_[xs, ax], np.r_[ys, ay]
            if step == "merged":
                e.flush()
            # A NaN query point has no neighbours, counted like any empty answer: planned, no rows.
            e.take_metrics()
            assert [e.knn(np.nan, 20.0, 5), e.knn(20.0, np.nan, 600), e.knn(np.nan, np.nan, 1)] == [[], [], []]
            ops = operations(e)
            assert sum(o[2] for o in ops) == 3 and all(o[0] == "knn" and o[1] != "none" and o[3] == 0 for o in ops)
            for x, y in [(50.0, 50.0), (-1e3, 7.0)]:
                d = box_distances(xs, ys, xs, ys, x, y)
                for k in [1, 5, 550, 600, 640, 700, 703, 800]:
                    check_knn_ranking(e.knn(x, y, k), d, k)

    @pytest.mark.parametrize("mode", MODES)
    def test_knn_far_from_clustered_data_and_past_the_last_radius(self, rng, mode):
        # Tight clusters of repeated coordinates: queries far outside them need more than the
        # first search circle, and the k-d tree's ties must still come out by ascending id.
        xs = np.repeat(rng.uniform(0, 100, 20), 500) + np.round(rng.normal(0, 0.5, 10_000), 1)
        ys = np.repeat(rng.uniform(0, 100, 20), 500) + np.round(rng.normal(0, 0.5, 10_000), 1)
        xs[17], ys[17] = 3e15, 3e15  # farther than any search circle reaches
        e = points_engine(xs, ys, mode)
        for x, y in [(-500.0, 40.0), (1e4, 1e4), (50.0, -7e3), (-2e15, -2e15), (50.0, 50.0)]:
            d = box_distances(xs, ys, xs, ys, x, y)
            for k in [1, 8, 61, 10_000]:
                got = e.knn(x, y, k)
                check_knn_ranking(got, d, k)
                if mode == "explicit:kd_tree":  # its finite ties (of squared distances) by ascending id
                    d2 = squared_distances(xs, ys, x, y)
                    assert got == np.lexsort((np.arange(len(d2)), d2))[:k].tolist()

    @pytest.mark.parametrize("mode", MODES)
    def test_knn_ranks_exactly_where_coordinate_gaps_overflow(self, mode):
        # Finite points whose gaps to a query near the other end of the doubles exceed the
        # largest double: halved, every gap is exact, and so is the ranking.
        xs = np.array([1.5e308, 1.4e308, -1.4e308, -1.2e308, 1.0e308, 1.7e308])
        ys = np.array([0.0, -3e307, 1e307, 0.0, 2e307, 1e308])
        ax, ay = np.array([1.6e308]), np.array([-5e307])
        e = points_engine(xs, ys, mode)
        for step in ["main", "waiting"]:
            if step == "waiting":
                e.append_delta(ax, ay)
                xs, ys = np.r_[xs, ax], np.r_[ys, ay]
            assert e.knn(-1.5e308, 0.0, 1) == [2] and e.knn(1.5e308, 0.0, 1) == [0]
            for x, y in [(-1.5e308, 0.0), (1.5e308, 0.0), (-1.7e308, 0.0), (0.0, 1.7e308)]:
                d = np.hypot(xs / 2 - x / 2, ys / 2 - y / 2)
                assert len(np.unique(d)) == len(d)
                for k in range(1, len(xs) + 1):
                    check_knn_ranking(e.knn(x, y, k), d, k)

    def test_knn_counts_and_empty_dataset(self, rng):
        e = points_engine(*layout("uniform", 50, rng))
        assert e.knn(1.0, 2.0, 0) == []
        assert sorted(e.knn(1.0, 2.0, 10 ** 6)) == list(range(50))
        e.append_delta(np.array([1.0, 500.0]), np.array([2.0, 500.0]))
        got = e.knn(1.0, 2.0, 3)
        assert got[0] == 50 and len(got) == 3
        assert sorted(e.knn(1.0, 2.0, 2 ** 64 - 1)) == list(range(52))
        assert e.knn(1.0, 2.0, 52)[-1] == 51
        for mode in MODES:
            e = points_engine([], [], mode)
            assert e.range_query(-1, -1, 1, 1) == e.contains_query(0, 0) == e.knn(0, 0, 5) == []


class NulMessage:
    def __index__(self):
        raise TypeError("cut\x00here")

    __float__ = __index__


class TestArguments:
    def test_keywords_numbers_and_result_types(self):
        e = points_engine([1.0, 2.0], [1.0, 2.0])
        results = [e.range_query(min_x=0, min_y=0, max_x=np.float32(1.5), max_y=True),
                   e.contains_query(y=2, x=2.0), e.knn(x=0, y=0, k=np.uint8(1))]
        assert results == [[0], [1], [0]]
        assert all(type(h) is int for hits in results for h in hits)

    @pytest.mark.parametrize("call, error, match", [
        (lambda e: e.range_query(0, "a", 1, 1), TypeError, "^argument 'min_y': "),
        (lambda e: e.range_query(0, 0, 1, None), TypeError, "^argument 'max_y': "),
        (lambda e: e.contains_query([1.0], 0), TypeError, "^argument 'x': "),
        (lambda e: e.knn(0, 0, 1.5), TypeError, "^argument 'k': "),
        # The converter's own message is kept whole, past a NUL in it.
        (lambda e: e.knn(0, 0, NulMessage()), TypeError, "^argument 'k': cut\x00here$"),
        (lambda e: e.range_query(NulMessage(), 0, 1, 1), TypeError, "^argument 'min_x': cut\x00here$"),
        (lambda e: e.knn(0, 0, -1), OverflowError, None),
        (lambda e: e.range_query(0, 0, 1), TypeError, None),
        (lambda e: e.knn(0, 0), TypeError, None),
        (lambda e: e.contains_query(0, 0, 0), TypeError, None),
        (lambda e: e.knn(0, 0, kk=1), TypeError, None),
        # A conversion calling back finds the engine borrowed.
        (lambda e: e.range_query(0, 0, CallsBack(e.n, 1.0), 1), RuntimeError, "Already mutably borrowed"),
    ])
    def test_refusals_record_nothing(self, call, error, match):
        e = points_engine([1.0], [1.0])
        with pytest.raises(error, match=match):
            call(e)
        assert operations(e) == []


def two_clusters(mode="eager"):
    rng = np.random.default_rng(5)
    xs = np.r_[rng.uniform(0, 1, 500), rng.uniform(99, 100, 500)]
    ys = np.r_[rng.uniform(0, 1, 500), rng.uniform(99, 100, 500)]
    return points_engine(xs, ys, mode)


class TestMetrics:
    @pytest.mark.parametrize("mode", MODES)
    def test_histogram_shortcut_is_counted_under_none(self, mode):
        e = two_clusters(mode)
        assert e.range_query(40, 40, 60, 60) == [] and e.contains_query(50, 50) == []
        m = e.take_metrics()
        assert [(o["name"], o["index"], o["calls"], o["output_rows"]) for o in m["operations"]] == [
            ("range_query", "none", 1, 0), ("contains_query", "none", 1, 0)]
        assert m["index_builds"] == [] and e.index_bytes() == 0

    def test_no_shortcut_with_a_waiting_point_for_knn_or_without_a_histogram(self):
        e = two_clusters()
        assert len(e.knn(50, 50, 3)) == 3  # knn never takes the shortcut
        e.append_delta(np.array([50.0]), np.array([50.0]))
        assert e.range_query(40, 40, 60, 60) == [1000] and e.contains_query(50, 50) == [1000]
        assert operations(e) == [("knn", "kd_tree", 1, 3), ("range_query", "kd_tree", 1, 1),
                                 ("contains_query", "kd_tree", 1, 1)]
        e = points_engine([np.nan] * 600, np.arange(600.0))  # no finite x: no histogram
        assert e.range_query(0, 0, 1, 1) == []
        assert operations(e) == [("range_query", "brute_force", 1, 0)]

    def test_calls_rows_and_build_time_left_out(self, rng):
        e = points_engine(*layout("uniform", 200_000, rng))
        first = e.range_query(10, 10, 11, 11)
        assert e.range_query(10, 10, 11, 11) == first and len(first) > 0
        m = e.take_metrics()
        (op,) = m["operations"]
        assert (op["name"], op["index"], op["calls"], op["output_rows"]) == ("range_query", "grid", 2, 2 * len(first))
        (build,) = m["index_builds"]
        assert (build["index"], build["build_count"]) == ("grid", 1)
        # The grid over 200000 points took far longer than two small searches.
        assert op["elapsed_compute_ns"] < build["elapsed_compute_ns"]

    def test_columns_follow_the_planner(self):
        small, uniform, clustered = lattice(499, 25), lattice(500, 25), lattice(250, 25, copies=2)
        assert "dist=Uniform" in repr(uniform) and "dist=Clustered" in repr(clustered)
        for e, kind in [(small, "brute_force"), (uniform, "grid"), (clustered, "kd_tree")]:
            assert len(e.range_query(149.5, 99.5, 150.5, 100.5)) > 0
            assert operations(e)[0][:2] == ("range_query", kind)
        uniform.knn(150, 100, 50)
        uniform.knn(150, 100, 60)
        assert [o[:3] for o in operations(uniform)] == [("knn", "brute_force", 1), ("knn", "kd_tree", 1)]
        e = points_engine(np.arange(1000.0), np.arange(1000.0), "explicit:r_tree")
        assert e.range_query(0, 0, 5, 5) == [0, 1, 2, 3, 4, 5]
        m = e.take_metrics()
        assert [o["index"] for o in m["operations"]] == ["r_tree"] and builds(m) == {"r_tree": 1}


def delta_engine(mode, n=100):
    rng = np.random.default_rng(n)
    e = points_engine(rng.uniform(0, 100, n), rng.uniform(0, 100, n), mode)
    e.append_delta(rng.uniform(0, 100, 10), rng.uniform(0, 100, 10))
    return e


def any_query(e, i):
    """The four single queries take turns: every one scans the buffer and counts its work."""
    [lambda: e.range_query(0, 0, 50, 50), lambda: e.contains_query(1, 1), lambda: e.knn(5, 5, 3),
     lambda: e.radius_query(5, 5, 20)][i % 4]()


class TestDeltaWork:
    @pytest.mark.parametrize("mode, merging_call", [("explicit:r_tree", 70), ("explicit:kd_tree", 70),
                                                    ("explicit:grid", 10), ("none", None)])
    def test_thresholds(self, mode, merging_call):
        e = delta_engine(mode)
        for i in range(1, merging_call or 400):
            any_query(e, i)
            assert e.delta_len() == 10
        if merging_call:
            any_query(e, merging_call)
            assert (e.delta_len(), e.n(), e.index_bytes()) == (0, 110, 0)

    @pytest.mark.parametrize("mode, main, queries, waiting", [("explicit:r_tree", [0.0], 200, 1),
                                                              ("explicit:kd_tree", [0.0], 200, 1),
                                                              ("explicit:r_tree", [], 200, 1),
                                                              ("explicit:kd_tree", [], 200, 1),
                                                              ("explicit:r_tree", [0.0, 3.0], 1, 1),
                                                              ("explicit:r_tree", [0.0, 3.0], 2, 0),
                                                              ("explicit:kd_tree", [0.0, 3.0], 1, 1),
                                                              ("explicit:kd_tree", [0.0, 3.0], 2, 0),
                                                              ("explicit:grid", [], 1, 0),
                                                              ("explicit:grid", [0.0], 1, 0),
                                                              ("explicit:grid", [0.0, 3.0], 1, 1),
                                                              ("explicit:grid", [0.0, 3.0], 2, 0),
                                                              ("none", [0.0, 3.0], 200, 1)])
    def test_tiny_main_arrays(self, mode, main, queries, waiting):
        # Zero or one main point never merges under the trees, two merge after 2 * ceil(log2 2)
        # of work; an empty main merges at once under the grid; the scan never merges.
        e = points_engine(main, main, mode)
        e.append_delta(np.array([1.0]), np.array([2.0]))
        for i in range(queries):
            any_query(e, i)
        assert (e.delta_len(), e.n()) == (waiting, len(main) + 1 - waiting)
        assert sorted(e.range_query(0, 0, 5, 5)) == list(range(len(main) + 1))

    def test_merging_call_keeps_ids_and_restarts_the_count_and_the_indexes(self):
        e = delta_engine("explicit:grid")
        for i in range(9):
            any_query(e, i)
        hits = e.range_query(-1, -1, 101, 101)
        assert e.delta_len() == 0 and sorted(hits) == list(range(110))
        assert [h for h in hits if h >= 100] == list(range(100, 110))
        assert sorted(e.range_query(-1, -1, 101, 101)) == sorted(hits)
        e.append_delta(np.array([1.0]), np.array([1.0]))
        for i in range(109):  # threshold of the merged 110 points, one waiting point per call
            any_query(e, i)
            assert e.delta_len() == 1
        any_query(e, 109)
        assert e.delta_len() == 0
        # Built before the first merge and again after it, for the merged points.
        assert builds(e.take_metrics()) == {"grid": 2}


@settings(max_examples=40, deadline=None)
@given(seed=st.integers(0, 2 ** 32 - 1), n=st.integers(0, 700), appended=st.integers(0, 40),
       name=st.sampled_from(["uniform", "clustered", "lattice", "nan"]))
def test_every_mode_gives_the_same_answers(seed, n, appended, name):
    rng = np.random.default_rng(seed)
    xs, ys = layout(name, n, rng)
    ax, ay = layout(name, appended, rng)
    boxes = list(random_boxes(rng, 8))
    probes = [(xs[i], ys[i]) for i in range(0, n, max(n // 5, 1))] + [(50.0, 50.0)]
    answers = []
    for mode in MODES:
        e = points_engine(xs, ys, mode)
        e.append_delta(ax, ay)
        got = [sorted(e.range_query(*b)) for b in boxes] + [sorted(e.contains_query(x, y)) for x, y in probes]
        for x, y in probes:
            # Ties among finite distances come in the index's order: compare the distances.
            d = knn_distances(np.r_[xs, ax], np.r_[ys, ay], e.knn(x, y, 6), x, y)
            got.append(np.where(np.isnan(d), np.inf, d).tolist())
        answers.append(got)
    assert all(a == answers[0] for a in answers[1:])
