"""Delta buffer: appends, the automatic merge threshold, flush, and the merged dataset against
from_points over the NumPy concatenation."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from vardelin._core import Engine

LIMIT = "rows; Vardelin's single-node join indices support at most 4294967295"


def engine_of(n, rng=None):
    rng = rng or np.random.default_rng(n)
    return Engine.from_points(rng.uniform(0, 100, n), rng.uniform(0, 100, n))


def assert_same_dataset(e, xs, ys):
    """Merged dataset against a fresh one over the same coordinates: arrays bit for bit, statistics."""
    ref = Engine.from_points(xs, ys)
    assert e.n() == ref.n() == len(xs)
    assert e.extent() == ref.extent()
    assert repr(e) == repr(ref)
    np.testing.assert_array_equal(e.xs(), xs)
    np.testing.assert_array_equal(e.ys(), ys)


class TestMerge:
    @pytest.mark.parametrize("layout", ["uniform", "clustered", "nan"])
    def test_many_small_batches_equal_concatenation(self, rng, layout):
        base_x, base_y = rng.uniform(0, 10, 1000), rng.uniform(0, 10, 1000)
        e = Engine.from_points(base_x, base_y)
        xs, ys = [base_x], [base_y]
        for i in range(300):
            m = int(rng.integers(0, 40))
            if layout == "clustered":
                bx, by = rng.normal(50, 0.01, m), rng.normal(-20, 0.01, m)
            else:
                bx, by = rng.uniform(-5, 30, m), rng.uniform(-5, 30, m)
            if layout == "nan" and m:
                bx[0] = np.nan
            e.append_delta(bx, by)
            xs.append(bx)
            ys.append(by)
        e.flush()
        assert e.delta_len() == 0
        assert_same_dataset(e, np.concatenate(xs), np.concatenate(ys))

    def test_merge_keeps_append_order_and_ids(self):
        e = Engine.from_points(np.array([0.0, 1.0]), np.array([0.0, 1.0]))
        e.append_delta(np.array([5.0]), np.array([6.0]))
        assert (e.n(), e.delta_len()) == (2, 1)
        e.append_delta(np.array([7.0, 9.0]), np.array([8.0, 10.0]))
        assert (e.n(), e.delta_len()) == (5, 0)
        assert e.xs().tolist() == [0.0, 1.0, 5.0, 7.0, 9.0]
        assert e.ys().tolist() == [0.0, 1.0, 6.0, 8.0, 10.0]

    def test_appending_own_views_doubles_the_dataset(self, rng):
        xs, ys = rng.uniform(size=300), rng.uniform(size=300)
        e = Engine.from_points(xs, ys)
        e.append_delta(e.xs(), e.ys())
        assert e.delta_len() == 0
        assert_same_dataset(e, np.concatenate([xs, xs]), np.concatenate([ys, ys]))

    def test_unmerged_points_are_not_described(self):
        e = engine_of(100)
        before = (e.n(), e.extent(), repr(e))
        e.append_delta(np.full(10, 1e6), np.full(10, 1e6))
        assert (e.n(), e.extent(), repr(e)) == before
        e.flush()
        assert e.n() == 110
        assert e.extent()[2:] == (1e6, 1e6)

    def test_flush_and_append_change_no_counter(self):
        e = engine_of(50_000)
        stats_ns = e.take_metrics()["construction"]["statistics_ns"]
        assert stats_ns > 0
        e.flush()
        e.append_delta(np.arange(3.0), np.arange(3.0))
        e.flush()
        e.append_delta(np.arange(6000.0), np.arange(6000.0))
        assert e.delta_len() == 0
        assert e.take_metrics() == {"operations": [], "index_builds": [],
                                    "construction": {"wkb_decode_ns": 0, "statistics_ns": 0}}

    def test_flush_on_empty_buffer_changes_nothing(self):
        e = engine_of(20)
        before = (e.n(), e.extent(), repr(e), e.delta_len())
        view = e.xs()
        e.flush()
        e.flush()
        assert (e.n(), e.extent(), repr(e), e.delta_len()) == before
        assert np.shares_memory(view, e.xs())

    def test_empty_append_merges_nothing(self):
        e = Engine.from_points(np.empty(0), np.empty(0))
        e.append_delta(np.array([1.0]), np.array([2.0]))
        e.append_delta(np.empty(0), np.empty(0))
        assert (e.n(), e.delta_len()) == (0, 1)


class TestThreshold:
    @pytest.mark.parametrize("main,threshold", [(0, 1), (9, 1), (19, 1), (20, 2), (100, 10),
                                                (12345, 1234), (99_999, 9999)])
    def test_merge_exactly_past_threshold(self, main, threshold):
        e = engine_of(main)
        for _ in range(threshold):
            e.append_delta(np.array([1.0]), np.array([1.0]))
        assert (e.n(), e.delta_len()) == (main, threshold)
        e.append_delta(np.array([2.0]), np.array([2.0]))
        assert (e.n(), e.delta_len()) == (main + threshold + 1, 0)

    @pytest.mark.parametrize("main,threshold", [(0, 1), (100, 10), (12345, 1234)])
    def test_one_large_append_merges_at_once(self, main, threshold):
        e = engine_of(main)
        e.append_delta(np.arange(threshold, dtype=float), np.arange(threshold, dtype=float))
        assert e.delta_len() == threshold
        e.flush()
        e2 = engine_of(main)
        e2.append_delta(np.arange(threshold + 1.0), np.arange(threshold + 1.0))
        assert (e2.n(), e2.delta_len()) == (main + threshold + 1, 0)

    @settings(max_examples=40, deadline=None)
    @given(st.integers(0, 300), st.lists(st.integers(0, 120), max_size=40), st.randoms(use_true_random=False))
    def test_random_batches_follow_the_rule_and_equal_concatenation(self, main, sizes, rnd):
        rng = np.random.default_rng(rnd.randrange(2**32))
        xs, ys = [rng.uniform(-1, 1, main)], [rng.uniform(-1, 1, main)]
        e = Engine.from_points(xs[0], ys[0])
        merged, waiting = main, 0
        for m in sizes:
            bx, by = rng.normal(0, 3, m), rng.normal(0, 3, m)
            e.append_delta(bx, by)
            xs.append(bx)
            ys.append(by)
            waiting += m
            if waiting > max(int(merged * 0.1), 1):
                merged, waiting = merged + waiting, 0
            assert (e.n(), e.delta_len()) == (merged, waiting)
        e.flush()
        assert_same_dataset(e, np.concatenate(xs), np.concatenate(ys))


class TestChecks:
    def test_checks_in_order(self):
        e = engine_of(5)
        strided = np.arange(10.0)[::2]
        with pytest.raises(ValueError, match="^xs must be a contiguous float64 array$"):
            e.append_delta(strided, strided)
        with pytest.raises(ValueError, match="^ys must be a contiguous float64 array$"):
            e.append_delta(np.arange(5.0), strided)
        with pytest.raises(ValueError, match="^xs and ys must have the same length$"):
            e.append_delta(np.arange(3.0), np.arange(4.0))
        assert e.delta_len() == 0

    @pytest.mark.parametrize("bad", [np.arange(3, dtype=np.float32), np.arange(3), np.zeros((3, 1)),
                                     [1.0, 2.0, 3.0], np.arange(3.0).astype(">f8")])
    def test_wrong_arrays_are_type_errors(self, bad):
        e = engine_of(5)
        with pytest.raises(TypeError):
            e.append_delta(bad, np.arange(3.0))
        assert e.delta_len() == 0

    def test_read_only_input_and_keywords(self):
        e = engine_of(100)
        a = np.arange(4.0)
        a.setflags(write=False)
        e.append_delta(ys=a, xs=a)
        assert e.delta_len() == 4
        a2 = np.array([7.0])
        e.append_delta(a2, a2)
        a2[0] = -1.0
        e.flush()
        assert e.xs()[-1] == 7.0

    def test_row_limit_counts_main_buffer_and_batch(self, huge_array):
        e = engine_of(100)
        e.append_delta(np.arange(7.0), np.arange(7.0))
        with pytest.raises(ValueError) as info:
            e.append_delta(huge_array, huge_array)
        assert str(info.value) == f"point dataset after append has {100 + 7 + 2**32} {LIMIT}"
        assert (e.n(), e.delta_len()) == (100, 7)
