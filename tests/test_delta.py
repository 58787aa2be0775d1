"""Delta buffer: the automatic merge threshold, flush, and the merged dataset against from_points
over the NumPy concatenation."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from polygon_data import error_of, same_dataset
from vardelin._core import Engine


def engine_of(n):
    rng = np.random.default_rng(n)
    return Engine.from_points(rng.uniform(0, 100, n), rng.uniform(0, 100, n))


class TestThreshold:
    # The buffer merges once it holds more than a tenth of the main arrays (at least one point).
    @pytest.mark.parametrize("main,threshold", [(0, 1), (9, 1), (19, 1), (20, 2), (100, 10),
                                                (12345, 1234), (699_999, 69999)])
    def test_merge_exactly_past_threshold(self, main, threshold):
        e = engine_of(main)
        e.append_delta(np.arange(float(threshold)), np.arange(float(threshold)))
        e.append_delta(np.empty(0), np.empty(0))
        assert (e.n(), e.delta_len()) == (main, threshold)
        e.append_delta(np.array([2.0]), np.array([2.0]))
        assert (e.n(), e.delta_len()) == (main + threshold + 1, 0)
        # The merge copies in blocks, one of them across the end of the main arrays.
        assert e.xs()[:main].tolist() == engine_of(main).xs().tolist()
        assert e.ys()[main:].tolist() == list(range(threshold)) + [2.0]

    @settings(max_examples=40, deadline=None)
    @given(st.integers(0, 300), st.lists(st.integers(0, 120), max_size=40), st.randoms(use_true_random=False))
    def test_random_batches_follow_the_rule_and_equal_concatenation(self, main, sizes, rnd):
        rng = np.random.default_rng(rnd.randrange(2**32))
        xs, ys = [rng.uniform(-1, 1, main)], [rng.uniform(-1, 1, main)]
        e = Engine.from_points(xs[0], ys[0])
        merged, waiting = main, 0
        for i, m in enumerate(sizes):
            bx, by = rng.normal(0, 3, m), rng.normal(0, 3, m)
            if m and i % 3 == 0:
                bx[0] = np.nan
            e.append_delta(bx, by)
            xs.append(bx)
            ys.append(by)
            waiting += m
            if waiting > max(int(merged * 0.1), 1):
                merged, waiting = merged + waiting, 0
            assert (e.n(), e.delta_len()) == (merged, waiting)
        e.flush()
        assert e.delta_len() == 0
        same_dataset(e, Engine.from_points(np.concatenate(xs), np.concatenate(ys)))


class TestMerge:
    def test_empty_flush_and_waiting_points_change_nothing_and_own_views_double(self, rng):
        e = engine_of(100)
        e.build_index()
        before = (e.n(), e.extent(), repr(e), e.delta_len(), e.index_bytes())
        view = e.xs()
        e.flush()
        e.flush()
        assert np.shares_memory(view, e.xs())
        e.append_delta(ys=np.full(10, 2e6), xs=np.full(10, 1e6))
        assert (e.n(), e.extent(), repr(e), e.delta_len() - 10, e.index_bytes()) == before
        e.flush()
        assert e.n() == 110 and e.extent()[2:] == (1e6, 2e6)
        # Appending the dataset's own views doubles it.
        xs, ys = rng.uniform(size=300), rng.uniform(size=300)
        e = Engine.from_points(xs, ys)
        e.append_delta(e.xs(), e.ys())
        assert e.delta_len() == 0
        same_dataset(e, Engine.from_points(np.concatenate([xs, xs]), np.concatenate([ys, ys])))

    # The merge copies in blocks of 65536 points: main arrays of one point, and ending one short
    # of, at and one past a block's end, each followed by as many appended points.
    @pytest.mark.parametrize("main", [1, 65535, 65536, 65537])
    @pytest.mark.parametrize("appended", [1, 65535, 65536, 65537])
    def test_merge_copies_across_the_end_of_the_main_arrays(self, main, appended):
        rng = np.random.default_rng(main + appended)
        xs, ys = rng.uniform(1, 2, main), rng.uniform(1, 2, main)
        ax, ay = -rng.uniform(1, 2, appended), -rng.uniform(1, 2, appended)
        e = Engine.from_points(xs, ys)
        e.append_delta(ax, ay)
        e.flush()
        np.testing.assert_array_equal(e.xs(), np.concatenate([xs, ax]))
        np.testing.assert_array_equal(e.ys(), np.concatenate([ys, ay]))

    def test_row_limit_counts_main_buffer_and_batch(self, huge_array):
        e = engine_of(100)
        e.append_delta(np.arange(7.0), np.arange(7.0))
        assert error_of(e.append_delta, huge_array, huge_array) == (
            f"point dataset after append has {100 + 7 + 2**32} rows; "
            "Vardelin's single-node join indices support at most 4294967295")
        assert (e.n(), e.delta_len()) == (100, 7)
