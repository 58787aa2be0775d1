"""Polygon areas, convex hull areas and pairwise intersection areas: against shapely 2, scipy's
Qhull and exact answers, with their argument checks, the interpreter lock and the thread count."""
import math

import numpy as np
import pytest
import shapely
from hypothesis import given, settings, strategies as st
from scipy.spatial import ConvexHull

from conftest import assert_runs_without_gil, on_one_thread
from polygon_data import error_of, open_ring_arrays, random_geometries, ring_arrays, wkb_column
from vardelin._core import Engine

# Intersection areas are measured on an integer grid: a pair's box of longer side D is cut into
# 2^31 - 2 units, snapping moves a vertex by at most a unit over sqrt(2), so the area is off by
# at most sqrt(2) * unit * (sum of the two perimeters) for each pair of parts.
GRID_UNITS = 2**31 - 2
NAN = math.nan
POINTS = Engine.from_points(np.array([0.0, 1.0]), np.array([0.0, 1.0]))


def u32(values):
    return np.asarray(values, dtype=np.uint32)


def square(x, y, side, clockwise=False, closed=True):
    ring = [(x, y), (x + side, y), (x + side, y + side), (x, y + side)]
    if clockwise:
        ring = ring[::-1]
    return ring + ring[:1] if closed else ring


def engine_of(parts, part_poly=None):
    """A polygon dataset from parts given as lists of rings, each a list of (x, y)."""
    xs, ys, ring_offsets, poly_offsets = [], [], [0], [0]
    for rings in parts:
        for ring in rings:
            xs += [p[0] for p in ring]
            ys += [p[1] for p in ring]
            ring_offsets.append(len(xs))
        poly_offsets.append(len(ring_offsets) - 1)
    return Engine.from_polygon_rings(np.array(xs, float), np.array(ys, float), np.array(ring_offsets),
                                     np.array(poly_offsets), None if part_poly is None else np.array(part_poly))


def wkb_engine(geoms):
    return Engine.from_wkb_polygons(*wkb_column(shapely.to_wkb(geoms)))


@pytest.fixture(scope="module")
def geoms():
    """Polygons with holes and multipolygons, some empty (an empty one last, too)."""
    g = random_geometries(np.random.default_rng(21), 3000, empty_share=0.05)
    return np.append(g, shapely.from_wkt("POLYGON EMPTY"))


def self_join_pairs(geoms):
    tree = shapely.STRtree(geoms)
    i, j = tree.query(geoms, predicate="intersects")
    keep = i < j
    return u32(i[keep]), u32(j[keep])


def intersection_bound(a, b):
    """The grid's bound for logical polygons a and b, summed over their part pairs (each part
    pair's box lies inside the box of both polygons)."""
    box = np.column_stack([shapely.bounds(a), shapely.bounds(b)])
    side = np.maximum(np.maximum(box[:, 2], box[:, 6]) - np.minimum(box[:, 0], box[:, 4]),
                      np.maximum(box[:, 3], box[:, 7]) - np.minimum(box[:, 1], box[:, 5]))
    na, nb = shapely.get_num_geometries(a), shapely.get_num_geometries(b)
    perimeters = nb * shapely.length(a) + na * shapely.length(b)
    return np.sqrt(2) * np.nan_to_num(side) / GRID_UNITS * perimeters


class TestPolygonAreas:
    def test_against_shapely_per_polygon_per_part_and_with_open_rings(self, geoms):
        ours = wkb_engine(geoms).polygon_areas()
        assert ours.dtype == np.float64 and len(ours) == len(geoms)
        np.testing.assert_allclose(ours, shapely.area(geoms), rtol=1e-12, atol=0)
        parts = shapely.get_parts(geoms[~shapely.is_empty(geoms)])
        xs, ys, ring, poly, _ = ring_arrays(parts)
        np.testing.assert_allclose(Engine.from_polygon_rings(xs, ys, ring, poly).polygon_areas(), shapely.area(parts),
                                   rtol=1e-12, atol=0)
        # Every ring's closing coordinate dropped: the same areas.
        opened = Engine.from_polygon_rings(*open_ring_arrays(geoms))
        np.testing.assert_array_equal(opened.polygon_areas(), wkb_engine(geoms).polygon_areas())

    @pytest.mark.parametrize("parts, part_poly, areas, rel", [
        ([[square(0, 0, 2), square(0.5, 0.5, 1, clockwise=True)],
          [square(0, 0, 2, clockwise=True), square(0.5, 0.5, 1, closed=False)],
          [square(0, 0, 1), square(0, 0, math.sqrt(3))],   # hole larger than its exterior
          [[(3, 3)], [(1, 1), (1, 1)]],                      # nothing enclosed
          [[], square(0, 0, 2), square(5, 5, 1)],            # empty exterior: the holes' sum
          [[(0, 0), (1, 1), (2, 2), (0, 0)]]],               # collinear
         None, [3.0, 3.0, 2.0, 0.0, 5.0, 0.0], 1e-15),
        # A part map sums the parts in id order; a part with no rings is zero and never borrows the
        # next part's exterior.
        ([[square(0, 0, 1)], [square(0, 0, 2, closed=False)], [square(0, 0, 4)]], [0, 0, 1], [5.0, 16.0], 0),
        ([[square(0, 0, 1)], [square(0, 0, 2, closed=False)], [square(0, 0, 4)]], [3, 0, 3], [4.0, 0.0, 0.0, 17.0], 0),
        ([[square(0, 0, 1)], [], [square(0, 0, 3)], []], None, [1.0, 0.0, 9.0, 0.0], 0),
        # Exact far from the origin (the shift by the first vertex keeps 1e15 from cancelling) and tiny.
        ([[square(1e15, -1e15, 4), square(1e15 + 1, -1e15 + 1, 0.5)], [square(3e-150, 1e-150, 2e-150)]], None,
         [15.75, 4e-300], 0),
        ([[square(-1e150, -1e150, 2e150)]], None, [4e300], 1e-15),
        # A non-finite coordinate anywhere, a hole of two vertices or of one included, corrupts its part.
        ([[[(NAN, 0.0), (1.0, 0.0), (0.0, 1.0)]], [[(1.0, 0.0), (0.0, 1.0), (NAN, 0.0)]],
          [square(0, 0, 1), [(NAN, 1.0), (2.0, 2.0)]], [square(0, 0, 1), [(NAN, NAN)]]], None, [NAN] * 4, 0),
    ])
    def test_known_answers(self, parts, part_poly, areas, rel):
        assert engine_of(parts, part_poly).polygon_areas().tolist() == pytest.approx(areas, rel=rel, abs=0, nan_ok=True)

    @pytest.mark.parametrize("order", ["grouped", "scattered"])
    def test_part_maps_sum_from_zero_in_part_order(self, order):
        # Polygons without parts first and between the others, one polygon of 2500 parts and
        # many of a few: the sums must be exactly those of adding the parts' own areas in part
        # order, whether each polygon's parts lie together or are scattered over the dataset.
        rng = np.random.default_rng(8)
        parts = shapely.get_parts(random_geometries(rng, 5000))
        xs, ys, ring, poly, _ = ring_arrays(parts)
        per_part = Engine.from_polygon_rings(xs, ys, ring, poly).polygon_areas()
        polygon = rng.integers(3, len(parts) // 4, len(parts))
        polygon[:2500] = len(parts) // 8
        polygon = np.sort(polygon) if order == "grouped" else rng.permutation(polygon)
        want = [0.0] * (polygon.max() + 1)
        for p, g in enumerate(polygon):
            want[g] += per_part[p]
        assert Engine.from_polygon_rings(xs, ys, ring, poly, polygon).polygon_areas().tolist() == want

    def test_no_parts_and_point_datasets(self):
        empty = Engine.from_wkb_polygons(np.empty(0, np.uint8), np.array([0]))
        out = empty.polygon_areas()
        assert out.dtype == np.float64 and len(out) == 0
        assert error_of(POINTS.polygon_areas) == "polygon_areas requires a polygon dataset"

    def test_runs_without_the_interpreter_lock(self):
        geoms = random_geometries(np.random.default_rng(3), 20000)
        e = wkb_engine(geoms)
        # flush takes the engine exclusively, so it conflicts with the shared borrow.
        out = assert_runs_without_gil(e, lambda: [e.polygon_areas() for _ in range(30)][-1], probe=e.flush)
        np.testing.assert_array_equal(out, e.polygon_areas())


class TestConvexHullAreaOf:
    @pytest.mark.parametrize("n", [3, 4, 10, 1000, 100_000])
    def test_against_qhull(self, n):
        rng = np.random.default_rng(n)
        xs, ys = rng.normal(0, 10, n), rng.uniform(-3, 8, n)
        expected = ConvexHull(np.column_stack([xs, ys])).volume
        assert Engine.convex_hull_area_of(xs, ys) == pytest.approx(expected, rel=1e-12)

    @given(st.lists(st.tuples(st.integers(-50, 50), st.integers(-50, 50)), min_size=3, max_size=60),
           st.randoms(use_true_random=False))
    @settings(max_examples=200, deadline=None)
    def test_order_and_repeats_change_nothing(self, points, random):
        xs, ys = (np.array(c, float) for c in zip(*points))
        area = Engine.convex_hull_area_of(xs, ys)
        shuffled = points + random.choices(points, k=len(points))
        random.shuffle(shuffled)
        sx, sy = (np.array(c, float) for c in zip(*shuffled))
        assert Engine.convex_hull_area_of(sx, sy) == area
        # Small integers make every shoelace product exact, so shapely's area is the exact one.
        assert area == shapely.MultiPoint(points).convex_hull.area
        if area > 0:
            assert area == pytest.approx(ConvexHull(np.array(points, float)).volume, rel=1e-12)

    @pytest.mark.parametrize("shape", ["band", "triangle", "ring", "cross"])
    def test_many_points_on_small_integers_against_shapely(self, shape):
        # Sets large enough to be filtered by their extremes, of shapes whose inner parts reach
        # the hull in odd places; on small integers shapely's hull area is the exact one.
        rng = np.random.default_rng(len(shape))
        for _ in range(300):
            n = int(rng.integers(64, 300))
            a, b = rng.integers(-40, 41, n), rng.integers(-40, 41, n)
            w = int(rng.integers(0, 6))
            if shape == "band":
                xs, ys = a, a + rng.integers(-w, w + 1, n) * rng.choice([-1, 1])
            elif shape == "triangle":
                keep = a + b <= rng.integers(-20, 41)
                xs, ys = np.where(keep, a, -b), np.where(keep, b, -a)
            elif shape == "ring":
                r = np.hypot(a, b)
                xs, ys = a[(r > 30) | (r < 3)], b[(r > 30) | (r < 3)]
            else:
                xs, ys = np.where(rng.random(n) < 0.5, (a, b % (w + 1)), (b % (w + 1), a))
            xs, ys = np.asarray(xs, float), np.asarray(ys, float)
            expected = shapely.MultiPoint(np.column_stack([xs, ys])).convex_hull.area
            assert Engine.convex_hull_area_of(xs, ys) == expected

    @pytest.mark.parametrize("xs, ys, area", [
        ([], [], 0.0), ([1.0], [2.0], 0.0), ([1.0, 3.0], [2.0, 5.0], 0.0),
        ([0, 1, 2, 7], [0, 2, 4, 14], 0.0),                       # collinear
        ([2, 2, 2, 2], [3, 3, 3, 3], 0.0),                        # all equal
        ([0, 1, 0], [0, 0, 1], 0.5),
        ([0, 1, 1, 0, 0.5, 0.25, 1, 0.5], [0, 0, 1, 1, 0.5, 0.75, 0.5, 0], 1.0),
        ([1e15, 1e15 + 4, 1e15, 1e15 + 1], [1e15, 1e15, 1e15 + 2, 1e15 + 0.5], 4.0),
        ([0, 4e-150, 0, 1e-150], [0, 0, 2e-150, 0.5e-150], 4e-300),
        ([NAN, 1.0], [0.0, math.inf], 0.0),                      # too few to span an area
        (3 * np.arange(5000.0) + 1e9, -7 * np.arange(5000.0), 0.0),  # many collinear far out
    ])
    def test_known_answers(self, xs, ys, area):
        assert Engine.convex_hull_area_of(np.array(xs, float), np.array(ys, float)) == area

    @pytest.mark.parametrize("bad", [NAN, math.inf, -math.inf])
    def test_non_finite_gives_nan(self, bad):
        xs = np.random.default_rng(1).uniform(0, 1, 500)
        ys = xs[::-1].copy()
        xs[250] = bad
        assert math.isnan(Engine.convex_hull_area_of(xs, ys))

    def test_checks(self):
        f = Engine.convex_hull_area_of
        assert error_of(f, np.zeros(6)[::2], np.zeros(4)[::2]) == "xs must be a contiguous float64 array"
        assert error_of(f, np.zeros(3), np.zeros(8)[::2]) == "ys must be a contiguous float64 array"
        assert error_of(f, np.zeros(3), np.zeros(4)) == "xs and ys must have the same length"
        for bad in (np.zeros(3, np.float32), [0.0, 1.0, 2.0], np.zeros((3, 1))):
            with pytest.raises(TypeError):
                f(bad, np.zeros(3))
        with pytest.raises(TypeError):
            f(xs=np.zeros(3))


def group_areas(seed):
    """Seeded groups of every size (empty, 1, 2, collinear, large): their hull areas and the
    same groups measured one by one."""
    rng = np.random.default_rng(seed)
    sizes = rng.choice([0, 1, 2, 3, 10, 50, 3000], size=4000, p=[.05, .05, .05, .2, .4, .245, .005])
    xs, ys = rng.normal(0, 100, sizes.sum()), rng.normal(0, 1, sizes.sum())
    offsets = np.concatenate([[0], np.cumsum(sizes)]).astype(np.int64)
    return xs, ys, offsets, Engine.group_convex_hull_areas(xs, ys, offsets)


class TestGroupConvexHullAreas:
    def test_against_qhull_and_single_sets(self):
        xs, ys, offsets, ours = group_areas(5)
        assert ours.dtype == np.float64 and len(ours) == len(offsets) - 1
        for g, (b, e) in enumerate(zip(offsets[:-1], offsets[1:])):
            assert ours[g] == Engine.convex_hull_area_of(xs[b:e], ys[b:e])
            if e - b >= 3:
                assert ours[g] == pytest.approx(ConvexHull(np.column_stack([xs[b:e], ys[b:e]])).volume, rel=1e-12)
            else:
                assert ours[g] == 0.0

    def test_same_on_one_thread(self):
        np.testing.assert_array_equal(on_one_thread(group_areas, 6)[3], group_areas(6)[3])

    def test_examples(self):
        f = Engine.group_convex_hull_areas
        assert f(np.empty(0), np.empty(0), np.array([0])).tolist() == []
        assert f(np.array([0.0, 1, 0]), np.array([0.0, 0, 1]), np.array([0, 0, 3])).tolist() == [0.0, 0.5]
        xs = np.array([0.0, 1, 0, NAN, 1, 0, 0])
        ys = np.array([0.0, 0, 1, 0, 0, 1, 0])
        assert np.isnan(f(xs, ys, np.array([0, 3, 6, 7]))).tolist() == [False, True, False]

    @pytest.mark.parametrize("offsets", [[], [1, 3], [0, 2, 1, 3], [0, 2], [0, 4], [0, -1, 3], [-1, 3]])
    def test_offsets_refused(self, offsets):
        assert error_of(Engine.group_convex_hull_areas, np.zeros(3), np.zeros(3), np.array(offsets, np.int64)) == \
            "offsets must start at zero, be nondecreasing, and end at the coordinate length"

    def test_check_order(self):
        f = Engine.group_convex_hull_areas
        s, z, o = np.zeros(8)[::2], np.zeros(4), np.array([0, 4])
        assert error_of(f, s, s, np.array([0, 1, 2, 3, 4, 5])[::2]) == "xs must be a contiguous float64 array"
        assert error_of(f, z, s, o[::-1]) == "ys must be a contiguous float64 array"
        # Contiguity of offsets before the lengths and the offsets' values.
        assert error_of(f, z, np.zeros(3), np.array([0, 9, 9, 9])[::2]) == "offsets must be a contiguous int64 array"
        assert error_of(f, z, np.zeros(3), np.array([5])) == "xs and ys must have the same length"
        for bad in (np.array([0, 4], np.int32), np.array([0, 4], np.uint64), [0, 4]):
            with pytest.raises(TypeError):
                f(z, z, bad)


def pair_areas(seed):
    """Intersection areas of seeded polygons over their self-join pairs, both ways and each
    polygon with itself, and their polygon areas."""
    geoms = random_geometries(np.random.default_rng(seed), 4000)
    i, j = self_join_pairs(geoms)
    e = wkb_engine(geoms)
    n = u32(np.arange(len(geoms)))
    return (e.polygon_pairs_intersection_area(i, j), e.polygon_pairs_intersection_area(j, i),
            e.polygon_pairs_intersection_area(n, n), e.polygon_areas())


class TestPolygonPairsIntersectionArea:
    def test_against_shapely_within_the_grid_bound(self, geoms):
        i, j = self_join_pairs(geoms)
        # Disjoint pairs too, and each polygon with itself.
        rng = np.random.default_rng(2)
        far = u32(rng.integers(0, len(geoms), (2, 2000)))
        same = u32(np.arange(len(geoms)))
        i, j = np.concatenate([i, far[0], same]), np.concatenate([j, far[1], same])
        a, b = geoms[i], geoms[j]
        expected = shapely.area(shapely.intersection(a, b))
        bound = intersection_bound(a, b) + 1e-12 * expected
        e = wkb_engine(geoms)
        for ours in (e.polygon_pairs_intersection_area(i, j), e.polygon_pairs_intersection_area(j, i)):
            assert ours.dtype == np.float64 and len(ours) == len(i)
            assert (np.abs(ours - expected) <= bound).all()
            # Pairs whose closures do not meet are exactly 0.
            assert (ours[~shapely.intersects(a, b)] == 0.0).all()

    def test_same_on_one_thread(self):
        for ours, single in zip(pair_areas(8), on_one_thread(pair_areas, 8)):
            np.testing.assert_array_equal(ours, single)

    def test_contact_without_overlap_is_exactly_zero(self):
        e = engine_of([[square(0.1, 0.3, 1.7)], [square(1.8, 0.3, 1.7)], [square(1.8, 2.0, 1.7, clockwise=True)],
                       [[(0, 0), (3, 1), (0, 1)]], [[(0, 0), (3, 0), (3, 1)]], [square(7, 7, 1)]])
        ours = e.polygon_pairs_intersection_area(u32([0, 1, 0, 3, 5, 2]), u32([1, 0, 2, 4, 0, 1]))
        assert ours.tolist() == [0.0] * 6

    def test_holes_parts_and_open_rings(self):
        holed = [square(0, 0, 4), square(1, 1, 2, clockwise=True)]
        e = engine_of([holed, [square(1.25, 1.25, 0.5)], [square(1, 1, 2)], [square(-1, 1, 2, closed=False)],
                       [square(-1, 1, 2)], [square(-1, -1, 2)], [square(3, 3, 2)]],
                      part_poly=[0, 1, 2, 3, 4, 5, 5])
        i, j = u32([0, 0, 1, 3, 4, 5, 0, 5]), u32([1, 2, 0, 0, 0, 0, 5, 5])
        ours = e.polygon_pairs_intersection_area(i, j)
        # Inside the hole, filling the hole, open and closed storage, two parts each over the
        # holed square by 1.0, the multipolygon with itself. A grid unit is at most 6 / 2^31, so
        # with perimeters up to 32 the bound is below 2e-7.
        np.testing.assert_allclose(ours, [0.0, 0.0, 0.0, 2.0, 2.0, 2.0, 2.0, 8.0], rtol=0, atol=2e-7)
        assert ours[3] == ours[4] and ours[5] == ours[6]

    def test_even_odd_fill_over_all_rings_shapely_calls_invalid(self):
        # A bow tie, each loop counted once; two overlapping holes, whose common part lies inside
        # three rings and so inside; a hole enclosing the unit square by parity under an exterior
        # of two coordinates; a part of one coordinate. Bounds as above, for boxes of side 6 or 9.
        e = engine_of([[square(0, 0, 1)], [[(0, 0), (2, 2), (2, 0), (0, 2)]], [square(-1, -1, 6)],
                       [square(0, 0, 4), square(1, 1, 2), square(2, 1, 2)], [[(0, 0), (9, 9)], square(0, 0, 1)],
                       [[(0.5, 0.5)]]])
        ours = e.polygon_pairs_intersection_area(u32([1, 3, 4, 5]), u32([2, 2, 0, 0]))
        assert (np.abs(ours - [2.0, 12.0, 1.0, 0.0]) <= [1.6e-7, 2.3e-7, 1.8e-7, 0.0]).all(), ours

    def test_empty_polygons_and_parts(self):
        # Logical polygon 1 has no parts; part 2 has no rings and is followed by a square.
        e = engine_of([[square(0, 0, 2)], [square(1, 1, 2)], [], [square(0, 0, 2)]], part_poly=[0, 2, 3, 4])
        ours = e.polygon_pairs_intersection_area(u32([0, 1, 3, 0, 4]), u32([1, 0, 0, 3, 0]))
        assert ours[:4].tolist() == [0.0, 0.0, 0.0, 0.0]
        assert ours[4] == pytest.approx(4.0, rel=1e-8)
        empty = Engine.from_wkb_polygons(np.empty(0, np.uint8), np.array([0]))
        out = empty.polygon_pairs_intersection_area(u32([]), u32([]))
        assert out.dtype == np.float64 and len(out) == 0

    def test_huge_and_tiny_coordinates(self):
        for scale, offset in [(1e-150, 0.0), (1e-12, 0.0), (1.0, 1e15), (1e150, 0.0)]:
            e = engine_of([[square(offset, offset, 2 * scale)], [square(offset + scale, offset + scale, 2 * scale)]])
            side = 2 * scale
            got = e.polygon_pairs_intersection_area(u32([0, 0]), u32([1, 0]))
            exact = np.array([scale * scale, side * side])
            bound = np.sqrt(2) * (3 * scale) / GRID_UNITS * (16 * scale) + 1e-15 * exact
            assert (np.abs(got - exact) <= bound).all(), (scale, offset, got)

    def test_runs_without_the_interpreter_lock(self, geoms):
        e = wkb_engine(geoms)
        i, j = self_join_pairs(geoms)
        i, j = np.tile(i, 5), np.tile(j, 5)
        expected = e.polygon_pairs_intersection_area(i, j)
        out = assert_runs_without_gil(e, lambda: e.polygon_pairs_intersection_area(i, j), probe=e.flush)
        np.testing.assert_array_equal(out, expected)

    def test_checks_in_order(self):
        e = engine_of([[square(0, 0, 1)], [square(0, 0, 1)], [square(0, 0, 1)]], part_poly=[0, 1, 1])
        f = e.polygon_pairs_intersection_area
        strided = u32([0, 0, 0, 0])[::2]
        message = "polygon_pairs_intersection_area requires a polygon dataset"
        assert error_of(POINTS.polygon_pairs_intersection_area, u32([]), u32([])) == message
        assert error_of(POINTS.polygon_pairs_intersection_area, strided, strided) == message
        assert error_of(f, strided, strided[:1]) == "i_idx must be a contiguous uint32 array"
        assert error_of(f, u32([0]), strided) == "j_idx must be a contiguous uint32 array"
        assert error_of(f, u32([0]), u32([0, 0])) == "i_idx and j_idx must have the same length"
        bound = "polygon pair indices must be less than the polygon count"
        # The bound is the logical polygon count (2), not the part count (3).
        assert error_of(f, u32([0, 2]), u32([0, 0])) == bound
        assert error_of(f, u32([0, 0]), u32([1, 2])) == bound
        assert error_of(f, i_idx=u32([1]), j_idx=u32([4294967295])) == bound
        # Both parts of polygon 1 against both: four unit squares' worth.
        assert f(u32([1]), u32([1]))[0] == pytest.approx(4.0, rel=1e-8)
        for bad in (np.array([0], np.int64), np.array([0], np.int32), [0]):
            with pytest.raises(TypeError):
                f(bad, u32([0]))
            with pytest.raises(TypeError):
                f(u32([0]), bad)
