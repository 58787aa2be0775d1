"""Candidate subsets: range intersections and candidate masks against NumPy boxes and shapely
containment, exact kNN over candidates against a NumPy sort by distance."""
from collections import Counter, namedtuple

import numpy as np
import pytest
import shapely
from hypothesis import given, settings, strategies as st

from polygon_data import random_geometries
from query_oracles import (MODES, TOLERANCE, U32_MAX, CallsBack, box_mask, expect_refused, in_box, operations,
                           polygon_engine, polygon_range_hits, shells, squared_distances, u32)
from vardelin._core import Engine


def calls(e):
    """Calls per operation since the last take_metrics, whatever index column answered them."""
    out = Counter()
    for name, _, n, _ in operations(e):
        out[name] += n
    return dict(out)


def random_box(rng, lo=0.0, hi=100.0, size=40.0):
    x0, y0 = rng.uniform(lo, hi, 2)
    w, h = rng.uniform(0, size, 2)
    return (float(x0), float(y0), float(x0 + w), float(y0 + h))


def candidate_distances(xs, ys, rows, x, y):
    rows = np.asarray(rows, dtype=np.int64)
    return squared_distances(xs[rows], ys[rows], x, y)


def check_knn(e, xs, ys, candidates, x, y, k, scale=1.0):
    """Result distances equal the k smallest candidate distances (NaN last); the rows are drawn
    from the candidates, each at most as often as it occurs there; the mask marks them. With a
    scale, the engine holds the points scaled and is asked about the scaled query point."""
    out = e.knn_from_candidates(x * scale, y * scale, k, candidates)
    assert type(out) is list and all(type(v) is int for v in out)
    assert len(out) == min(k, len(candidates)) and not Counter(out) - Counter(candidates.tolist())
    np.testing.assert_array_equal(candidate_distances(xs, ys, out, x, y),
                                  np.sort(candidate_distances(xs, ys, candidates, x, y))[:len(out)])
    mask = e.knn_mask_from_candidates(x * scale, y * scale, k, candidates)
    assert mask.dtype == np.bool_ and mask.shape == candidates.shape
    np.testing.assert_array_equal(mask, np.isin(candidates, out))
    return out


def point_mask_expected(xs, ys, boxes, points, candidates):
    """NumPy brute force of the fused predicates, as a mask over the candidates."""
    inside = np.full(len(xs), bool(boxes or points))
    for box in boxes:
        inside &= box_mask(xs, ys, box)
    for x, y in points:
        inside &= box_mask(xs, ys, (x - TOLERANCE, y - TOLERANCE, x + TOLERANCE, y + TOLERANCE))
    return np.isin(candidates, np.flatnonzero(inside))


@pytest.fixture(scope="module")
def cloud():
    rng = np.random.default_rng(31)
    # Integer-valued coordinates put many points exactly on box edges and on each other.
    return np.floor(rng.uniform(0, 100, 3000)), np.floor(rng.uniform(0, 100, 3000))


@pytest.fixture(scope="module")
def geometries():
    """Polygons with holes and multipolygons, their engine, and the exterior-only parts."""
    geoms = random_geometries(np.random.default_rng(21), 400, multi_share=0.4)
    return (polygon_engine(geoms), geoms) + shells(geoms)


class TestKnnFromCandidates:
    @pytest.mark.parametrize("k", [1, 3, 17, 400, 5000, 10**6, 2**64 - 1])
    def test_against_sort_by_distance(self, rng, k):
        xs, ys = rng.uniform(0, 100, 5000), rng.uniform(0, 100, 5000)
        check_knn(Engine.from_points(xs, ys), xs, ys, u32(rng.integers(0, 5000, 800)), 40.5, 60.25, k)

    @settings(max_examples=200, deadline=None)
    @given(st.lists(st.integers(0, 39), max_size=60), st.integers(0, 70),
           st.floats(-5, 45, allow_nan=False), st.floats(-5, 45, allow_nan=False),
           st.sampled_from([1.0, 2.0**700, 2.0**-600]))
    def test_random_candidate_sets_with_ties_and_repeats(self, rows, k, x, y, scale):
        # Integer coordinates on a small grid: many equal distances. A power of two changes no
        # bit, so no ranking, where the squares overflow (2^700) or underflow (2^-600) too.
        xs, ys = np.arange(40.0) % 7, np.arange(40.0) // 7
        check_knn(Engine.from_points(xs * scale, ys * scale), xs, ys, u32(rows), x, y, k, scale)

    def test_nan_distances_rank_last(self, rng):
        xs, ys = rng.uniform(0, 10, 300), rng.uniform(0, 10, 300)
        xs[::3] = np.nan
        ys[1::5] = np.nan
        e = Engine.from_points(xs, ys)
        candidates = u32(rng.permutation(300))
        finite = int(np.isfinite(candidate_distances(xs, ys, candidates, 5, 5)).sum())
        for k in (1, finite - 1, finite, finite + 7, 300):
            out = check_knn(e, xs, ys, candidates, 5.0, 5.0, k)
            assert np.all(np.isfinite(candidate_distances(xs, ys, out[:finite], 5, 5)))
        # A NaN query point makes every distance NaN: any k candidates, none refused.
        assert len(e.knn_from_candidates(np.nan, 1.0, 5, candidates)) == 5

    def test_documented_cases(self):
        e = Engine.from_points(np.array([0, 0, 0, 3, 0, 1, 0, 4, 0, 9.0]), np.zeros(10))
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


def test_polygon_dataset_ranks_vertices_and_masks_logical_polygons():
    # Two parts of four vertices each; part_poly [1, 3] gives four logical polygons.
    xs = np.array([0, 1, 1, 0, 5, 6, 6, 5.0])
    ys = np.array([0, 0, 1, 1, 5, 5, 6, 6.0])
    e = Engine.from_polygon_rings(xs, ys, np.array([0, 4, 8]), np.array([0, 1, 2]), np.array([1, 3]))
    vertices = u32(np.arange(8))
    assert e.knn_from_candidates(5.9, 5.9, 1, vertices) == [6]
    assert e.knn_from_candidates(0.0, 0.0, 8, vertices)[0] == 0
    with pytest.raises(ValueError, match="^candidate 8 is out of bounds for 8 rows$"):
        e.knn_from_candidates(0.0, 0.0, 1, u32([8]))
    # Masks are bounded by the logical polygon count, 4, not the part count, 2.
    assert e.knn_mask_from_candidates(0.0, 0.0, 8, vertices).tolist() == [True] * 4 + [False] * 4
    candidates = u32([0, 1, 2, 3, 4])
    assert e.contains_query(5.5, 5.5) == [3]
    assert e.contains_mask(5.5, 5.5, candidates).tolist() == [False, False, False, True, False]
    assert e.range_mask(-1, -1, 7, 7, candidates).tolist() == [False, True, False, True, False]
    assert e.fused_mask([(-1, -1, 7, 7)], [(0.5, 0.5)], candidates).tolist() == [False, True, False, False, False]


class TestRangesAndMasks:
    @pytest.mark.parametrize("mode", MODES)
    def test_points_against_numpy(self, cloud, mode):
        xs, ys = cloud
        e = Engine.from_points(xs, ys)
        e.set_index_mode(mode)
        rng = np.random.default_rng(len(mode))
        candidates = u32(np.concatenate([rng.integers(0, len(xs), 2000), [len(xs), U32_MAX, 0, 0]]))
        for _ in range(30):
            boxes = [random_box(rng, size=60.0) for _ in range(int(rng.integers(1, 5)))]
            inside = np.logical_and.reduce([box_mask(xs, ys, box) for box in boxes])
            assert e.intersect_ranges(boxes) == np.flatnonzero(inside).tolist()
            mask = e.range_mask(*boxes[0], candidates)
            assert mask.dtype == np.bool_ and mask.shape == candidates.shape
            np.testing.assert_array_equal(mask, point_mask_expected(xs, ys, boxes[:1], [], candidates))
            i = int(rng.integers(0, len(xs)))
            point = (xs[i], ys[i])
            np.testing.assert_array_equal(e.contains_mask(*point, candidates),
                                          point_mask_expected(xs, ys, [], [point], candidates))
            points = [point] * int(rng.integers(0, 3))
            np.testing.assert_array_equal(e.fused_mask(boxes[1:], points, candidates),
                                          point_mask_expected(xs, ys, boxes[1:], points, candidates))

    @settings(max_examples=100, deadline=None)
    @given(st.lists(st.tuples(*[st.integers(-2, 12)] * 4), max_size=3),
           st.lists(st.tuples(st.integers(0, 10), st.integers(0, 10)), max_size=2),
           st.lists(st.integers(0, 130), max_size=40))
    def test_fused_random(self, boxes, points, rows):
        xs, ys = np.arange(121.0) % 11, np.arange(121.0) // 11
        np.testing.assert_array_equal(Engine.from_points(xs, ys).fused_mask(boxes, points, u32(rows)),
                                      point_mask_expected(xs, ys, boxes, points, u32(rows)))

    def test_polygons_against_shapely(self, geometries):
        e, geoms, exteriors, owner = geometries
        rng = np.random.default_rng(8)
        candidates = u32(np.concatenate([rng.integers(0, len(geoms), 1500), [len(geoms), U32_MAX]]))
        for _ in range(30):
            boxes = [random_box(rng, -500, 500, 300.0) for _ in range(int(rng.integers(1, 4)))]
            hits = [polygon_range_hits(exteriors, owner, box) for box in boxes]
            assert e.intersect_ranges(boxes) == sorted(set.intersection(*(set(h.tolist()) for h in hits)))
            np.testing.assert_array_equal(e.range_mask(*boxes[0], candidates), np.isin(candidates, hits[0]))
            # Points near polygon centres land in shells, holes and gaps between parts.
            x, y = np.array(shapely.centroid(geoms[int(rng.integers(0, len(geoms)))]).coords[0]) + rng.normal(0, 0.5, 2)
            inside = np.flatnonzero(shapely.contains_xy(geoms, x, y))
            np.testing.assert_array_equal(e.contains_mask(x, y, candidates), np.isin(candidates, inside))
            np.testing.assert_array_equal(e.fused_mask([boxes[0]] * 2, [(x, y)], candidates),
                                          np.isin(candidates, np.intersect1d(hits[0], inside)))

    def test_documented_cases(self, cloud):
        xs, ys = cloud
        e = Engine.from_points(xs, ys)
        assert e.intersect_ranges([]) == [] and calls(e) == {}
        out = e.intersect_ranges([(0, 0, 1, 1)])
        assert out == sorted(e.range_query(0, 0, 1, 1)) and len(out) > 0
        assert calls(e) == {"range_query": 2}
        # The first two boxes share no point: the third box runs no query.
        assert e.intersect_ranges([(0, 0, 10, 10), (50, 50, 60, 60), (0, 0, 100, 100)]) == []
        assert calls(e) == {"range_query": 2}
        # Tuple subclasses, integers, NumPy scalars and any outer sequence.
        boxes = ((0, 0, np.float32(20), 20.0), namedtuple("Box", "a b c d")(10, 10, 30, 30))
        assert e.intersect_ranges(boxes) == in_box(xs, ys, (10, 10, 20, 20)).tolist()
        assert e.intersect_ranges(queries=[(0, 0, 5, 5)]) == in_box(xs, ys, (0, 0, 5, 5)).tolist()
        assert calls(e) == {"range_query": 3}
        candidates = u32(np.arange(0, len(xs) + 10))
        box, point = (10, 10, 40, 40), (float(xs[7]), float(ys[7]))
        assert e.range_mask(*box, u32([])).shape == (0,)
        assert calls(e) == {"range_query": 1}
        assert not e.fused_mask([], [], candidates).any() and calls(e) == {}
        # Disjoint first boxes: two range queries, and still the containment query.
        assert not e.fused_mask([(0, 0, 10, 10), (50, 50, 60, 60), box], [point], candidates).any()
        assert calls(e) == {"range_query": 2, "contains_query": 1}
        assert e.range_mask(min_x=0, min_y=0, max_x=1, max_y=1, candidates=u32([0])).dtype == np.bool_
        assert e.contains_mask(x=0, y=0, candidates=u32([0])).dtype == np.bool_
        assert e.fused_mask(range_queries=(), contains_points=[], candidates=u32([0])).tolist() == [False]

    def test_appended_points_keep_their_ids_and_count_in_masks_only_once_merged(self):
        xs = np.arange(100.0)
        e = Engine.from_points(xs, xs)
        e.set_index_mode("explicit:grid")  # merges once the scanned delta work reaches 100
        e.append_delta(np.array([10.5, 70.0]), np.array([10.5, 70.0]))
        assert e.intersect_ranges([(10, 10, 11, 11), (10.25, 10.25, 12, 12)]) == [11, 100]
        for _ in range(47):  # scanned delta work 4 + 94 = 98
            e.range_query(0, 0, 1, 1)
        assert e.delta_len() == 2
        # The first box's query merges the buffer; the second then finds point 100 in the main arrays.
        assert e.intersect_ranges([(10, 10, 11, 11), (10.25, 10.25, 12, 12)]) == [11, 100]
        assert e.delta_len() == 0 and e.n() == 102
        e = Engine.from_points(xs, xs)
        e.set_index_mode("explicit:grid")
        e.append_delta(np.full(10, 50.5), np.full(10, 50.5))
        candidates = u32([50, 100, 109, 110])
        assert sorted(e.range_query(50, 50, 51, 51)) == [50, 51] + list(range(100, 110))
        assert e.range_mask(50, 50, 51, 51, candidates).tolist() == [True, False, False, False]
        for _ in range(7):
            e.contains_query(0, 0)
        assert e.delta_len() == 10
        # This call's query merges the buffer and so raises the bound past the appended points.
        assert e.range_mask(50, 50, 51, 51, candidates).tolist() == [True, True, True, False]
        assert e.delta_len() == 0


STRIDED = u32(np.arange(40))[::2]
KNN_METHODS = [("knn_from_candidates", "survivor_indices"), ("knn_mask_from_candidates", "candidates")]
REFUSALS = [(m, (0.0, 0.0, 1, STRIDED), ValueError, f"{name} must be a contiguous uint32 array")
            for m, name in KNN_METHODS]
# Beyond the dataset: refused before anything is read, whatever k is.
REFUSALS += [(m, (0.0, 0.0, k, u32([0, 10, 11])), ValueError, "candidate 10 is out of bounds for 10 rows")
             for m, _ in KNN_METHODS for k in (0, 1, 50)]
REFUSALS += [(m, (0.0, 0.0, 1, u32([U32_MAX])), ValueError, f"candidate {U32_MAX} is out of bounds for 10 rows")
             for m, _ in KNN_METHODS]
REFUSALS += [(m, (0.0, 0.0, 1.0, u32([1])), TypeError,
              "argument 'k': 'float' object cannot be interpreted as an integer") for m, _ in KNN_METHODS]
REFUSALS += [
    ("range_mask", (0, 0, 1, 1, STRIDED), ValueError, "candidates must be a contiguous uint32 array"),
    ("contains_mask", (0, 0, STRIDED), ValueError, "candidates must be a contiguous uint32 array"),
    ("fused_mask", ([(0, 0, 1, 1)], [(0, 0)], STRIDED), ValueError, "candidates must be a contiguous uint32 array"),
    ("range_mask", (0, 0, 1, "1", u32([0])), TypeError, "argument 'max_y': must be real number, not str"),
    ("contains_mask", (0, None, u32([0])), TypeError, "argument 'y': must be real number, not NoneType"),
    ("intersect_ranges", ("0123",), TypeError, "argument 'queries': Can't extract `str` to `Vec`"),
    ("intersect_ranges", (5,), TypeError, "argument 'queries': 'int' object cannot be converted to 'Sequence'"),
    ("intersect_ranges", ({(0, 0, 1, 1)},), TypeError,
     "argument 'queries': 'set' object cannot be converted to 'Sequence'"),
    ("intersect_ranges", ([[0, 0, 1, 1]],), TypeError,
     "argument 'queries': 'list' object cannot be converted to 'PyTuple'"),
    ("intersect_ranges", (np.zeros((2, 4)),), TypeError,
     "argument 'queries': 'ndarray' object cannot be converted to 'PyTuple'"),
    ("intersect_ranges", ([(0, 0, 1)],), ValueError, "expected tuple of length 4, but got tuple of length 3"),
    ("intersect_ranges", ([(0, 0, 1, 1), (0, 0, 1, 1, 2)],), ValueError,
     "expected tuple of length 4, but got tuple of length 5"),
    ("intersect_ranges", ([(0, 0, 1, "1")],), TypeError, "argument 'queries': must be real number, not str"),
    ("intersect_ranges", ([(0, 0, 1, None)],), TypeError, "argument 'queries': must be real number, not NoneType"),
    ("fused_mask", ("ab", [], u32([0])), TypeError, "argument 'range_queries': Can't extract `str` to `Vec`"),
    ("fused_mask", ([], "ab", u32([0])), TypeError, "argument 'contains_points': Can't extract `str` to `Vec`"),
    ("fused_mask", (None, [], u32([0])), TypeError,
     "argument 'range_queries': 'NoneType' object cannot be converted to 'Sequence'"),
    ("fused_mask", ([], 3, u32([0])), TypeError,
     "argument 'contains_points': 'int' object cannot be converted to 'Sequence'"),
    ("fused_mask", ([], [[0, 0]], u32([0])), TypeError,
     "argument 'contains_points': 'list' object cannot be converted to 'PyTuple'"),
    ("fused_mask", ([(0, 0, 1)], [], u32([0])), ValueError, "expected tuple of length 4, but got tuple of length 3"),
    ("fused_mask", ([], [(0, 0, 1)], u32([0])), ValueError, "expected tuple of length 2, but got tuple of length 3"),
    ("fused_mask", ([], [(0, "0")], u32([0])), TypeError, "argument 'contains_points': must be real number, not str"),
    # Both sequences convert before the candidates are checked.
    ("fused_mask", ([], [(0,)], STRIDED), ValueError, "expected tuple of length 2, but got tuple of length 1"),
]


class TestRefusals:
    @pytest.mark.parametrize("method,args,error,message", REFUSALS)
    def test_exact_messages_and_nothing_recorded(self, method, args, error, message):
        e = Engine.from_points(np.arange(10.0), np.zeros(10))
        with pytest.raises(error) as info:
            getattr(e, method)(*args)
        assert str(info.value) == message
        assert operations(e) == []

    def test_wrong_types_out_of_range_k_and_borrows_held_while_converting(self):
        e = Engine.from_points(np.arange(3.0), np.zeros(3))
        for method in ["knn_from_candidates", "knn_mask_from_candidates", "range_mask", "contains_mask", "fused_mask"]:
            args = {"range_mask": (0, 0, 1, 1), "contains_mask": (0, 0), "fused_mask": ([], [])}.get(method, (0, 0, 1))
            for bad in ([1, 2], np.array([1, 2]), np.array([[1, 2]], dtype=np.uint32), np.array([1.0]),
                        np.array([1], dtype=np.int32), u32([1, 2]).astype(">u4")):
                with pytest.raises(TypeError):
                    getattr(e, method)(*args, bad)
        for method, _ in KNN_METHODS:
            call = getattr(e, method)
            assert getattr(Engine, method).__doc__.splitlines()[0].startswith(f"{method}(self, x")
            for args in [("0", 0.0, 1), (0.0, None, 1)]:
                with pytest.raises(TypeError):
                    call(*args, u32([1]))
            for k in (-1, 2**64):
                with pytest.raises(OverflowError) as info:
                    call(0.0, 0.0, k, u32([1]))
                assert not str(info.value).startswith("argument")
            with pytest.raises(ValueError, match="^candidate 0 is out of bounds for 0 rows$"):
                getattr(Engine.from_points(np.empty(0), np.empty(0)), method)(0.0, 0.0, 1, u32([0]))
        assert operations(e) == []
        seen = []
        # k converts under the shared borrow: another shared call runs, an exclusive one is refused.
        k = CallsBack(lambda: (seen.append(e.knn_from_candidates(2.0, 0.0, 1, u32([0, 2]))),
                               expect_refused(lambda: e.set_coordinate_system("geographic"), "Already borrowed")), 1)
        assert e.knn_from_candidates(0.0, 0.0, k, u32([2, 0])) == [0] and seen == [[2]]
        coordinate = CallsBack(lambda: expect_refused(e.n, "Already mutably borrowed"), 0.0)
        assert e.intersect_ranges([(coordinate, 0, 1, 1)]) == [0, 1]
