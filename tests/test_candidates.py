"""Candidate subsets: exact kNN over candidates against a NumPy sort by distance."""
from collections import Counter

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from vardelin._core import Engine

U32_MAX = 4294967295


def u32(values):
    return np.asarray(values, dtype=np.uint32)


def squared_distances(xs, ys, rows, x, y):
    rows = np.asarray(rows, dtype=np.int64)
    return (ys[rows] - y) ** 2 + (xs[rows] - x) ** 2


def check_knn(e, xs, ys, candidates, x, y, k):
    """Result distances equal the k smallest candidate distances (NaN last); the rows are drawn
    from the candidates, each at most as often as it occurs there."""
    out = e.knn_from_candidates(x, y, k, candidates)
    assert type(out) is list and all(type(v) is int for v in out)
    m = min(k, len(candidates))
    assert len(out) == m
    assert not Counter(out) - Counter(candidates.tolist())
    expected = np.sort(squared_distances(xs, ys, candidates, x, y))[:m]
    np.testing.assert_array_equal(squared_distances(xs, ys, out, x, y), expected)
    return out


@pytest.fixture(scope="module")
def points():
    rng = np.random.default_rng(7)
    xs, ys = rng.uniform(0, 100, 5000), rng.uniform(0, 100, 5000)
    return Engine.from_points(xs, ys), xs, ys


class TestKnnFromCandidates:
    @pytest.mark.parametrize("k", [1, 3, 17, 400, 5000, 10**6, 2**64 - 1])
    def test_against_sort_by_distance(self, points, rng, k):
        e, xs, ys = points
        candidates = u32(rng.integers(0, len(xs), 800))
        out = check_knn(e, xs, ys, candidates, 40.5, 60.25, k)
        mask = e.knn_mask_from_candidates(40.5, 60.25, k, candidates)
        assert mask.dtype == np.bool_ and mask.shape == candidates.shape
        np.testing.assert_array_equal(mask, np.isin(candidates, out))

    @settings(max_examples=200, deadline=None)
    @given(st.lists(st.integers(0, 39), max_size=60), st.integers(0, 70),
           st.floats(-5, 45, allow_nan=False), st.floats(-5, 45, allow_nan=False))
    def test_random_candidate_sets_with_ties_and_repeats(self, rows, k, x, y):
        # Integer coordinates on a small grid: many equal distances.
        xs = np.arange(40.0) % 7
        ys = np.arange(40.0) // 7
        e = Engine.from_points(xs, ys)
        candidates = u32(rows)
        out = check_knn(e, xs, ys, candidates, x, y, k)
        np.testing.assert_array_equal(e.knn_mask_from_candidates(x, y, k, candidates), np.isin(candidates, out))

    def test_nan_distances_rank_last(self, rng):
        xs = rng.uniform(0, 10, 300)
        ys = rng.uniform(0, 10, 300)
        xs[::3] = np.nan
        ys[1::5] = np.nan
        e = Engine.from_points(xs, ys)
        candidates = u32(rng.permutation(300))
        finite = int(np.isfinite(squared_distances(xs, ys, candidates, 5, 5)).sum())
        for k in (1, finite - 1, finite, finite + 7, 300):
            out = check_knn(e, xs, ys, candidates, 5.0, 5.0, k)
            assert np.all(np.isfinite(squared_distances(xs, ys, out[:finite], 5, 5)))
        # A NaN query point makes every distance NaN: any k candidates, none refused.
        assert len(e.knn_from_candidates(np.nan, 1.0, 5, candidates)) == 5

    def test_documented_cases(self):
        xs = np.array([0, 0, 0, 3, 0, 1, 0, 4, 0, 9.0])
        e = Engine.from_points(xs, np.zeros(10))
        assert e.knn_from_candidates(0.0, 0.0, 0, u32([1, 2])) == []
        assert e.knn_mask_from_candidates(0.0, 0.0, 0, u32([1, 2])).tolist() == [False, False]
        assert e.knn_from_candidates(0.0, 0.0, 3, u32([])) == []
        assert e.knn_mask_from_candidates(0.0, 0.0, 3, u32([])).shape == (0,)
        assert e.knn_from_candidates(0.0, 0.0, 2, u32([5, 5])) == [5, 5]
        assert e.knn_mask_from_candidates(0.0, 0.0, 1, u32([5, 5, 7])).tolist() == [True, True, False]
        assert e.knn_from_candidates(0.0, 0.0, 1, u32([9, 3])) == [3]
        assert e.knn_from_candidates(0.0, 0.0, 10, u32([9, 7, 3, 5])) == [5, 3, 7, 9]
        assert e.knn_mask_from_candidates(0.0, 0.0, 10, u32([9, 7, 3])).tolist() == [True] * 3
        # Integer and NumPy scalar coordinates, keywords.
        assert e.knn_from_candidates(x=np.float32(0), y=0, k=np.uint8(1), survivor_indices=u32([9, 3])) == [3]
        assert e.knn_mask_from_candidates(x=0, y=0.0, k=1, candidates=u32([9, 3])).tolist() == [False, True]

    def test_reads_only_the_main_arrays(self, rng):
        xs, ys = rng.uniform(0, 1, 1000), rng.uniform(0, 1, 1000)
        e = Engine.from_points(xs, ys)
        e.append_delta(np.array([0.5]), np.array([0.5]))
        e.set_coordinate_system("geographic")
        candidates = u32(rng.integers(0, 1000, 300))
        out = check_knn(e, xs, ys, candidates, 0.5, 0.5, 20)
        e.set_coordinate_system("planar")
        assert e.knn_from_candidates(0.5, 0.5, 20, candidates) == out
        # Nothing recorded, built or merged.
        metrics = e.take_metrics()
        assert metrics["operations"] == [] and metrics["index_builds"] == []
        assert e.index_bytes() == 0 and e.delta_len() == 1
        # The appended point lies beyond the main arrays and is refused like any other row there.
        with pytest.raises(ValueError, match="^candidate 1000 is out of bounds for 1000 rows$"):
            e.knn_from_candidates(0.5, 0.5, 1, u32([3, 1000]))


class TestCandidateRefusals:
    @pytest.mark.parametrize("method,name", [("knn_from_candidates", "survivor_indices"),
                                             ("knn_mask_from_candidates", "candidates")])
    def test_arrays(self, method, name):
        e = Engine.from_points(np.arange(10.0), np.zeros(10))
        call = getattr(e, method)
        with pytest.raises(ValueError, match=f"^{name} must be a contiguous uint32 array$"):
            call(0.0, 0.0, 1, u32(np.arange(20))[::2])
        # Beyond the dataset: refused before anything is read, whatever k is.
        for k in (0, 1, 50):
            with pytest.raises(ValueError, match="^candidate 10 is out of bounds for 10 rows$"):
                call(0.0, 0.0, k, u32([0, 10, 11]))
        with pytest.raises(ValueError, match=f"^candidate {U32_MAX} is out of bounds for 10 rows$"):
            call(0.0, 0.0, 1, u32([U32_MAX]))
        with pytest.raises(ValueError, match="^candidate 0 is out of bounds for 0 rows$"):
            getattr(Engine.from_points(np.empty(0), np.empty(0)), method)(0.0, 0.0, 1, u32([0]))
        for bad in ([1, 2], np.array([1, 2]), np.array([[1, 2]], dtype=np.uint32), np.array([1.0]),
                    np.array([1, 2], dtype=np.uint32).astype(">u4")):
            with pytest.raises(TypeError):
                call(0.0, 0.0, 1, bad)
        assert getattr(Engine, method).__doc__.splitlines()[0].startswith(f"{method}(self, x")

    @pytest.mark.parametrize("method", ["knn_from_candidates", "knn_mask_from_candidates"])
    def test_scalars(self, method):
        call = getattr(Engine.from_points(np.arange(3.0), np.zeros(3)), method)
        with pytest.raises(TypeError, match="^argument 'k': 'float' object cannot be interpreted as an integer$"):
            call(0.0, 0.0, 1.0, u32([1]))
        for k in (-1, 2**64):
            with pytest.raises(OverflowError) as info:
                call(0.0, 0.0, k, u32([1]))
            assert not str(info.value).startswith("argument")
        with pytest.raises(TypeError):
            call("0", 0.0, 1, u32([1]))
        with pytest.raises(TypeError):
            call(0.0, None, 1, u32([1]))

    def test_shared_borrow_is_held_while_k_converts(self):
        e = Engine.from_points(np.arange(3.0), np.zeros(3))
        seen = []

        class K:
            def __index__(self):
                seen.append(e.knn_from_candidates(2.0, 0.0, 1, u32([0, 2])))  # shared beside shared
                with pytest.raises(RuntimeError, match="^Already borrowed$"):
                    e.set_coordinate_system("geographic")
                return 1

        assert e.knn_from_candidates(0.0, 0.0, K(), u32([2, 0])) == [0]
        assert seen == [[2]]


def test_polygon_dataset_ranks_vertices_and_masks_logical_polygons():
    # Two parts of four vertices each; part_poly [1, 3] gives four logical polygons.
    xs = np.array([0, 1, 1, 0, 5, 6, 6, 5.0])
    ys = np.array([0, 0, 1, 1, 5, 5, 6, 6.0])
    e = Engine.from_polygon_rings(xs, ys, np.array([0, 4, 8]), np.array([0, 1, 2]), np.array([1, 3]))
    candidates = u32(np.arange(8))
    assert e.knn_from_candidates(5.9, 5.9, 1, candidates) == [6]
    assert e.knn_from_candidates(0.0, 0.0, 8, candidates)[0] == 0
    # The mask's bound is the logical polygon count, 4, not the part count, 2.
    assert e.knn_mask_from_candidates(0.0, 0.0, 8, candidates).tolist() == [True] * 4 + [False] * 4
    with pytest.raises(ValueError, match="^candidate 8 is out of bounds for 8 rows$"):
        e.knn_from_candidates(0.0, 0.0, 1, u32([8]))
