"""Candidate subsets: range intersections and candidate masks against NumPy boxes and shapely
containment, exact kNN over candidates against a NumPy sort by distance."""
from collections import Counter, namedtuple

import numpy as np
import pytest
import shapely
from hypothesis import given, settings, strategies as st

from polygon_data import random_geometries, ring_arrays
from vardelin._core import Engine

U32_MAX = 4294967295
MODES = ["eager", "auto", "none", "explicit:r_tree", "explicit:kd_tree", "explicit:grid"]
TOL = 2.220446049250313e-13


def u32(values):
    return np.asarray(values, dtype=np.uint32)


def calls(e):
    """Calls per (operation, index column) since the last take_metrics."""
    return {(op["name"], op["index"]): op["calls"] for op in e.take_metrics()["operations"]}


def total_calls(e):
    out = Counter()
    for (name, _), n in calls(e).items():
        out[name] += n
    return dict(out)


def in_box(xs, ys, box):
    x0, y0, x1, y1 = box
    return (xs >= x0) & (xs <= x1) & (ys >= y0) & (ys <= y1)


def random_box(rng, lo=0.0, hi=100.0, size=40.0):
    x0, y0 = rng.uniform(lo, hi, 2)
    w, h = rng.uniform(0, size, 2)
    return (float(x0), float(y0), float(x0 + w), float(y0 + h))


@pytest.fixture(scope="module")
def geometries():
    """Polygons with holes and multipolygons, their engine, and the exterior-only parts."""
    geoms = random_geometries(np.random.default_rng(21), 400, multi_share=0.4)
    e = Engine.from_polygon_rings(*ring_arrays(geoms))
    parts, owner = shapely.get_parts(geoms, return_index=True)
    shells = shapely.polygons(shapely.get_exterior_ring(parts))
    return e, geoms, shells, owner


def polygon_range_hits(shells, owner, box):
    """Logical polygons with a part whose exterior meets the closed box: holes do not count."""
    return np.unique(owner[shapely.intersects(shells, shapely.box(*box))])


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


@pytest.fixture(scope="module")
def cloud():
    rng = np.random.default_rng(31)
    # Integer-valued coordinates put many points exactly on box edges and on each other.
    xs = np.floor(rng.uniform(0, 100, 3000))
    ys = np.floor(rng.uniform(0, 100, 3000))
    return xs, ys


class TestIntersectRanges:
    @pytest.mark.parametrize("mode", MODES)
    def test_against_numpy_boxes(self, cloud, mode):
        xs, ys = cloud
        e = Engine.from_points(xs, ys)
        e.set_index_mode(mode)
        rng = np.random.default_rng(len(mode))
        for _ in range(40):
            boxes = [random_box(rng, size=60.0) for _ in range(int(rng.integers(1, 5)))]
            inside = np.ones(len(xs), bool)
            for box in boxes:
                inside &= in_box(xs, ys, box)
            assert e.intersect_ranges(boxes) == np.flatnonzero(inside).tolist()

    def test_polygons_against_shapely(self, geometries):
        e, _, shells, owner = geometries
        rng = np.random.default_rng(5)
        for _ in range(40):
            boxes = [random_box(rng, -500, 500, 300.0) for _ in range(int(rng.integers(1, 4)))]
            expected = polygon_range_hits(shells, owner, boxes[0])
            for box in boxes[1:]:
                expected = np.intersect1d(expected, polygon_range_hits(shells, owner, box))
            assert e.intersect_ranges(boxes) == expected.tolist()

    def test_documented_cases(self, cloud):
        xs, ys = cloud
        e = Engine.from_points(xs, ys)
        assert e.intersect_ranges([]) == [] and calls(e) == {}
        out = e.intersect_ranges([(0, 0, 1, 1)])
        assert out == sorted(e.range_query(0, 0, 1, 1)) and len(out) > 0
        assert total_calls(e) == {"range_query": 2}
        # The first two boxes share no point: the third box runs no query.
        assert e.intersect_ranges([(0, 0, 10, 10), (50, 50, 60, 60), (0, 0, 100, 100)]) == []
        assert total_calls(e) == {"range_query": 2}
        # Tuple subclasses, integers, NumPy scalars and any outer sequence.
        Box = namedtuple("Box", "a b c d")
        assert e.intersect_ranges(((0, 0, np.float32(20), 20.0), Box(10, 10, 30, 30))) == \
            np.flatnonzero(in_box(xs, ys, (10, 10, 20, 20))).tolist()
        assert e.intersect_ranges(queries=[(0.0, 0.0, 5.0, 5.0)]) == np.flatnonzero(in_box(xs, ys, (0, 0, 5, 5))).tolist()

    def test_appended_points_keep_their_ids_across_a_merge(self):
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

    @pytest.mark.parametrize("queries,error,message", [
        ("0123", TypeError, "argument 'queries': Can't extract `str` to `Vec`"),
        (5, TypeError, "argument 'queries': 'int' object cannot be converted to 'Sequence'"),
        ({(0, 0, 1, 1)}, TypeError, "argument 'queries': 'set' object cannot be converted to 'Sequence'"),
        ([[0, 0, 1, 1]], TypeError, "argument 'queries': 'list' object cannot be converted to 'PyTuple'"),
        (np.zeros((2, 4)), TypeError, "argument 'queries': 'ndarray' object cannot be converted to 'PyTuple'"),
        ([(0, 0, 1)], ValueError, "expected tuple of length 4, but got tuple of length 3"),
        ([(0, 0, 1, 1), (0, 0, 1, 1, 2)], ValueError, "expected tuple of length 4, but got tuple of length 5"),
        ([(0, 0, 1, "1")], TypeError, "argument 'queries': must be real number, not str"),
        ([(0, 0, 1, None)], TypeError, "argument 'queries': must be real number, not NoneType"),
    ])
    def test_conversion_errors_run_no_query(self, queries, error, message):
        e = Engine.from_points(np.zeros(3), np.zeros(3))
        with pytest.raises(error) as info:
            e.intersect_ranges(queries)
        assert str(info.value) == message
        assert calls(e) == {}

    def test_exclusive_borrow_while_converting(self):
        e = Engine.from_points(np.zeros(3), np.zeros(3))

        class Coordinate:
            def __float__(self):
                with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
                    e.n()
                return 0.0

        assert e.intersect_ranges([(Coordinate(), 0, 1, 1)]) == [0, 1, 2]


def point_mask_expected(xs, ys, boxes, points, candidates):
    """NumPy brute force of the fused predicates, as a mask over the candidates."""
    inside = np.ones(len(xs), bool) if (boxes or points) else np.zeros(len(xs), bool)
    for box in boxes:
        inside &= in_box(xs, ys, box)
    for x, y in points:
        inside &= in_box(xs, ys, (x - TOL, y - TOL, x + TOL, y + TOL))
    return np.isin(candidates, np.flatnonzero(inside))


class TestMasksOnPoints:
    @pytest.mark.parametrize("mode", MODES)
    def test_against_numpy(self, cloud, mode):
        xs, ys = cloud
        e = Engine.from_points(xs, ys)
        e.set_index_mode(mode)
        rng = np.random.default_rng(3)
        candidates = u32(np.concatenate([rng.integers(0, len(xs), 2000), [len(xs), U32_MAX, 0, 0]]))
        for _ in range(20):
            box = random_box(rng, size=50.0)
            mask = e.range_mask(*box, candidates)
            assert mask.dtype == np.bool_ and mask.shape == candidates.shape
            np.testing.assert_array_equal(mask, point_mask_expected(xs, ys, [box], [], candidates))
            i = int(rng.integers(0, len(xs)))
            point = (xs[i], ys[i])
            np.testing.assert_array_equal(e.contains_mask(*point, candidates),
                                          point_mask_expected(xs, ys, [], [point], candidates))
            boxes = [random_box(rng, size=80.0) for _ in range(int(rng.integers(0, 3)))]
            points = [point] * int(rng.integers(0, 3))
            np.testing.assert_array_equal(e.fused_mask(boxes, points, candidates),
                                          point_mask_expected(xs, ys, boxes, points, candidates))

    @settings(max_examples=100, deadline=None)
    @given(st.lists(st.tuples(*[st.integers(-2, 12)] * 4), max_size=3),
           st.lists(st.tuples(st.integers(0, 10), st.integers(0, 10)), max_size=2),
           st.lists(st.integers(0, 130), max_size=40))
    def test_fused_random(self, boxes, points, rows):
        xs = np.arange(121.0) % 11
        ys = np.arange(121.0) // 11
        e = Engine.from_points(xs, ys)
        candidates = u32(rows)
        np.testing.assert_array_equal(e.fused_mask(boxes, points, candidates),
                                      point_mask_expected(xs, ys, boxes, points, candidates))

    def test_documented_cases(self, cloud):
        xs, ys = cloud
        e = Engine.from_points(xs, ys)
        candidates = u32(np.arange(0, len(xs) + 10))
        box, point = (10, 10, 40, 40), (float(xs[7]), float(ys[7]))
        assert e.range_mask(*box, u32([])).shape == (0,)
        assert total_calls(e) == {"range_query": 1}
        mask = e.range_mask(*box, u32([U32_MAX, 5, 5, U32_MAX]))
        assert mask[0] == mask[3] == False and mask[1] == mask[2]
        calls(e)
        assert not e.fused_mask([], [], candidates).any() and calls(e) == {}
        np.testing.assert_array_equal(e.fused_mask([box], [], candidates), e.range_mask(*box, candidates))
        np.testing.assert_array_equal(e.fused_mask([], [point], candidates), e.contains_mask(*point, candidates))
        calls(e)
        # Disjoint first boxes: two range queries, and still the containment query.
        assert not e.fused_mask([(0, 0, 10, 10), (50, 50, 60, 60), box], [point], candidates).any()
        assert total_calls(e) == {"range_query": 2, "contains_query": 1}
        assert e.range_mask(min_x=0, min_y=0, max_x=1, max_y=1, candidates=u32([0])).dtype == np.bool_
        assert e.contains_mask(x=0, y=0, candidates=u32([0])).dtype == np.bool_
        assert e.fused_mask(range_queries=(), contains_points=[], candidates=u32([0])).tolist() == [False]

    def test_appended_points_count_only_once_merged(self):
        xs = np.arange(100.0)
        e = Engine.from_points(xs, xs)
        e.set_index_mode("explicit:grid")  # merges once the scanned delta work reaches 100
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

    def test_refusals_record_nothing(self):
        e = Engine.from_points(np.zeros(3), np.zeros(3))
        strided = u32(np.arange(6))[::2]
        message = "^candidates must be a contiguous uint32 array$"
        with pytest.raises(ValueError, match=message):
            e.range_mask(0, 0, 1, 1, strided)
        with pytest.raises(ValueError, match=message):
            e.contains_mask(0, 0, strided)
        with pytest.raises(ValueError, match=message):
            e.fused_mask([(0, 0, 1, 1)], [(0, 0)], strided)
        for bad in ([0, 1], np.array([0, 1]), np.array([[0]], dtype=np.uint32), np.array([0], dtype=np.int32)):
            with pytest.raises(TypeError):
                e.range_mask(0, 0, 1, 1, bad)
            with pytest.raises(TypeError):
                e.contains_mask(0, 0, bad)
            with pytest.raises(TypeError):
                e.fused_mask([], [], bad)
        with pytest.raises(TypeError, match="^argument 'max_y': must be real number, not str$"):
            e.range_mask(0, 0, 1, "1", u32([0]))
        with pytest.raises(TypeError, match="^argument 'y': must be real number, not NoneType$"):
            e.contains_mask(0, None, u32([0]))
        assert calls(e) == {}

    @pytest.mark.parametrize("args,error,message", [
        (("ab", [], u32([0])), TypeError, "argument 'range_queries': Can't extract `str` to `Vec`"),
        (([], "ab", u32([0])), TypeError, "argument 'contains_points': Can't extract `str` to `Vec`"),
        ((None, [], u32([0])), TypeError, "argument 'range_queries': 'NoneType' object cannot be converted to 'Sequence'"),
        (([], 3, u32([0])), TypeError, "argument 'contains_points': 'int' object cannot be converted to 'Sequence'"),
        (([], [[0, 0]], u32([0])), TypeError, "argument 'contains_points': 'list' object cannot be converted to 'PyTuple'"),
        (([(0, 0, 1)], [], u32([0])), ValueError, "expected tuple of length 4, but got tuple of length 3"),
        (([], [(0, 0, 1)], u32([0])), ValueError, "expected tuple of length 2, but got tuple of length 3"),
        (([], [(0, "0")], u32([0])), TypeError, "argument 'contains_points': must be real number, not str"),
        # Both sequences convert before the candidates are checked.
        (([], [(0,)], u32(np.arange(4))[::2]), ValueError, "expected tuple of length 2, but got tuple of length 1"),
    ])
    def test_fused_conversion_errors(self, args, error, message):
        e = Engine.from_points(np.zeros(3), np.zeros(3))
        with pytest.raises(error) as info:
            e.fused_mask(*args)
        assert str(info.value) == message
        assert calls(e) == {}


class TestMasksOnPolygons:
    def test_against_shapely(self, geometries):
        e, geoms, shells, owner = geometries
        rng = np.random.default_rng(8)
        candidates = u32(np.concatenate([rng.integers(0, len(geoms), 1500), [len(geoms), U32_MAX]]))
        for _ in range(30):
            box = random_box(rng, -500, 500, 200.0)
            hits = polygon_range_hits(shells, owner, box)
            np.testing.assert_array_equal(e.range_mask(*box, candidates), np.isin(candidates, hits))
            # Points near polygon centres land in shells, holes and gaps between parts.
            g = geoms[int(rng.integers(0, len(geoms)))]
            x, y = np.array(shapely.centroid(g).coords[0]) + rng.normal(0, 0.5, 2)
            inside = np.flatnonzero(shapely.contains_xy(geoms, x, y))
            np.testing.assert_array_equal(e.contains_mask(x, y, candidates), np.isin(candidates, inside))
            np.testing.assert_array_equal(e.fused_mask([box, box], [(x, y)], candidates),
                                          np.isin(candidates, np.intersect1d(hits, inside)))

    def test_bound_is_the_logical_polygon_count(self):
        # Two parts, part_poly [1, 3]: four logical polygons, the part count being 2.
        xs = np.array([0, 1, 1, 0, 5, 6, 6, 5.0])
        ys = np.array([0, 0, 1, 1, 5, 5, 6, 6.0])
        e = Engine.from_polygon_rings(xs, ys, np.array([0, 4, 8]), np.array([0, 1, 2]), np.array([1, 3]))
        candidates = u32([0, 1, 2, 3, 4])
        assert e.contains_query(5.5, 5.5) == [3]
        assert e.contains_mask(5.5, 5.5, candidates).tolist() == [False, False, False, True, False]
        assert e.range_mask(-1, -1, 7, 7, candidates).tolist() == [False, True, False, True, False]
        assert e.fused_mask([(-1, -1, 7, 7)], [(0.5, 0.5)], candidates).tolist() == [False, True, False, False, False]
