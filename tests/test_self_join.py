"""The polygon self-join against shapely 2's STRtree with the intersects predicate."""
import numpy as np
import pytest
import shapely

from conftest import assert_runs_without_gil, on_one_thread
from polygon_data import error_of, random_geometries, ring_arrays
from vardelin._core import Engine

MODES = ["eager", "auto", "none", "explicit:r_tree", "explicit:kd_tree", "explicit:grid"]


def crowded_geometries(seed, n, side):
    """Valid polygons with holes and multipolygons (parts 10 apart, so they never meet) centred in
    a square of this side: the smaller the side, the more pairs intersect."""
    return random_geometries(np.random.default_rng(seed), n, multi_share=0.2, box=(0, 0, side, side))


def shapely_pairs(geoms):
    a, b = shapely.STRtree(geoms).query(geoms, predicate="intersects")
    keep = a < b
    return sorted_rows(np.column_stack([a[keep], b[keep]]).astype(np.uint32))


def engine_of(geoms, mode="eager", part_map=True):
    xs, ys, ring, poly, part_poly = ring_arrays(geoms)
    e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly if part_map else None)
    e.set_index_mode(mode)
    return e


def self_join_of(seed, n, side):
    return engine_of(crowded_geometries(seed, n, side)).polygon_intersects_self_join()


def sorted_rows(pairs):
    p = np.asarray(pairs).reshape(-1, 2)
    return p[np.lexsort((p[:, 1], p[:, 0]))]


def ops(e):
    return {(o["name"], o["index"]): o for o in e.take_metrics()["operations"]}


class TestAgainstShapely:
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("side, part_map", [(40.0, True), (120.0, True), (50.0, False)])
    def test_pairs_every_mode(self, mode, side, part_map):
        geoms = crowded_geometries(7, 600, side)
        got = engine_of(geoms, mode, part_map).polygon_intersects_self_join()
        assert got.dtype == np.uint32
        got, expected = got.reshape(-1, 2), shapely_pairs(geoms if part_map else shapely.get_parts(geoms))
        assert len(expected) > 100
        # Logical pairs come sorted by (first, second), each once, whatever the index; part pairs
        # by first id, and by second too on the scan, in the tree's order otherwise.
        assert np.all(np.diff(got[:, 0].astype(np.int64)) >= 0)
        np.testing.assert_array_equal(got if part_map or mode == "none" else sorted_rows(got), expected)

    @pytest.mark.parametrize("seed", range(4))
    def test_on_a_coarse_grid(self, seed):
        # Rectangles with rectangular holes and triangles on a small integer grid: edges lie on
        # one another, vertices coincide and polygons sit in holes touching them or not.
        rng = np.random.default_rng(seed)
        geoms = []
        for _ in range(300):
            x, y = rng.integers(0, 30, 2)
            w, h = rng.integers(1, 7, 2)
            if rng.random() < 0.3:
                pts = rng.integers(0, 4, (3, 2)) + (x, y)
                tri = shapely.Polygon(pts)
                geoms.append(tri if tri.area > 0 else shapely.box(x, y, x + w, y + h))
            elif w > 2 and h > 2 and rng.random() < 0.5:
                geoms.append(shapely.Polygon(shapely.box(x, y, x + w, y + h).exterior.coords,
                                             [shapely.box(x + 1, y + 1, x + w - 1, y + h - 1).exterior.coords]))
            else:
                geoms.append(shapely.box(x, y, x + w, y + h))
        geoms = np.array(geoms, dtype=object)
        assert shapely.is_valid(geoms).all()
        # Densified, the parts have edges enough for the sweep instead of the direct test.
        for mode, g in [("none", geoms), ("eager", geoms), ("eager", shapely.segmentize(geoms, 0.25))]:
            got = engine_of(g, mode, part_map=False).polygon_intersects_self_join().reshape(-1, 2)
            np.testing.assert_array_equal(sorted_rows(got), shapely_pairs(g))

    def test_same_pairs_on_one_thread(self):
        here = self_join_of(9, 3000, 80.0)
        assert len(here) > 1000
        np.testing.assert_array_equal(on_one_thread(self_join_of, 9, 3000, 80.0), here)


def square(x0, y0, side=1.0):
    return shapely.box(x0, y0, x0 + side, y0 + side)


TRIANGLE = shapely.Polygon([(0, 0), (10, 0), (0, 10)])
FRAME = shapely.Polygon([(0, 0), (10, 0), (10, 10), (0, 10)], [[(3, 3), (7, 3), (7, 7), (3, 7)]])


class TestContact:
    @pytest.mark.parametrize("name, a, b, meet", [
        ("shared edge", square(0, 0), square(1, 0), True),
        ("shared corner", square(0, 0), square(1, 1), True),
        ("vertex on edge", square(0, 0, 2), shapely.Polygon([(2, 1), (3, 0), (3, 2)]), True),
        ("gap", square(0, 0), square(1.0000000000000002, 0), False),
        ("identical", square(0, 0), square(0, 0), True),
        ("nested shells", square(0, 0, 10), square(4, 4), True),
        ("inside the hole", FRAME, square(4, 4), False),
        ("lining the hole's corner", FRAME, square(6, 6), True),
        ("hole's ring touched at one point", FRAME, shapely.Polygon([(7, 5), (6, 4.5), (6, 5.5)]), True),
        ("filling the hole", FRAME, square(3, 3, 4), True),
        ("first vertex in the hole, reaching out", FRAME, shapely.Polygon([(5, 5), (12, 5), (5, 6)]), True),
        ("crossing bars", shapely.box(0, 4, 10, 5), shapely.box(4, 0, 5, 10), True),
        ("triangle in a triangle", TRIANGLE, shapely.Polygon([(1, 1), (2, 1), (1, 2)]), True),
        ("triangle beyond a slanted edge", TRIANGLE, shapely.Polygon([(6, 5), (7, 5), (6, 6)]), False),
        ("nearly collinear", shapely.Polygon([(0, 0), (1, 1e-300), (2, 1)]),
         shapely.Polygon([(0.5, 0), (1.5, 0), (1, -1)]), False),
    ])
    @pytest.mark.parametrize("mode", ["none", "eager"])
    @pytest.mark.parametrize("scale", [1.0, 2.0 ** 512, 2.0 ** -550])
    def test_pairs(self, name, a, b, meet, mode, scale):
        # A power of two changes no bit of a coordinate, so no answer either, however far its
        # products leave the range of the doubles.
        scaled = [shapely.transform(g, lambda c: c * scale) for g in (a, b)]
        if any(not np.array_equal(shapely.get_coordinates(g) / scale, shapely.get_coordinates(o))
               for g, o in zip(scaled, (a, b))):
            pytest.skip("the scaled coordinates round")
        for geoms in (scaled, scaled[::-1]):
            geoms = np.array(geoms, dtype=object)
            if scale == 1.0:
                assert shapely.intersects(geoms[0], geoms[1]) == meet, name
            got = engine_of(geoms, mode).polygon_intersects_self_join()
            assert got.tolist() == ([0, 1] if meet else []), name

    @pytest.mark.parametrize("mode", ["none", "eager"])
    def test_vertices_on_and_under_a_slope_across_the_exponent_range(self, mode):
        # The edge from (0, 0) to (2^500, 2^-500) passes 2^-1074 above x = 2^-74, the lowest
        # step of the doubles: no power of two brings both ends of the exponent range into
        # reach of the double products (nor of shapely's), only exact integers decide.
        slope = shapely.Polygon([(0, 0), (2.0 ** 500, 2.0 ** -500), (0, 2.0 ** 500)])
        on = shapely.Polygon([(2.0 ** -74, 0), (2.0 ** -73, 0), (2.0 ** -74, 2.0 ** -1074)])
        under = shapely.Polygon([(2.0 ** -74, 0), (2.0 ** -73, 0), (2.0 ** -73, 2.0 ** -1074)])
        got = engine_of(np.array([slope, on, under], dtype=object), mode).polygon_intersects_self_join()
        assert got.tolist() == [0, 1, 1, 2]  # the two small ones share their base

    def test_parts_of_one_polygon(self):
        # Two overlapping parts of one polygon are no pair; both meeting polygon 1 give it once.
        xs, ys, ring, poly, _ = ring_arrays(np.array([square(0, 0, 2), square(1, 1, 2), square(2.5, 0)]))
        e = Engine.from_polygon_rings(xs, ys, ring, poly, np.array([0, 0, 1]))
        assert e.polygon_intersects_self_join().tolist() == [0, 1]
        e = Engine.from_polygon_rings(xs, ys, ring, poly, np.array([1, 0, 0]))
        assert e.polygon_intersects_self_join().tolist() == [0, 1]


def ring(x0, y0, side):
    return [(x0, y0), (x0 + side, y0), (x0 + side, y0 + side), (x0, y0 + side)]


class TestDegenerateParts:
    SQUARE, HOLE = ring(0.0, 0.0, 1.0), [(-1.0, 0.5), (2.0, 0.5), (2.0, 0.6)]

    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("rings, parts, pairs", [
        # A part with no exterior coordinates whose hole ring crosses the square: the hole alone
        # gives no region, so nothing pairs, whatever the order.
        ([SQUARE, [], HOLE], [0, 1, 3], []), ([[], HOLE, SQUARE], [0, 2, 3], []),
        # Part 1 has no rings: it must not read part 2's exterior (which overlaps part 0) as its
        # own, and the last part, with no rings, must not read past the ring offsets.
        ([[(0, 0), (2, 0), (2, 2), (0, 2)], [(1, 1), (2, 1), (2, 2), (1, 2)]], [0, 1, 1, 2, 2], [0, 2]),
        # Exteriors of one coordinate (inside the square, on its edge, outside) and of two, which
        # cross the square and touch the three.
        ([[(0, 0), (2, 0), (2, 2), (0, 2)], [(1, 1)], [(2, 1)], [(3, 1)], [(-1, 1), (3, 1)]], [0, 1, 2, 3, 4, 5],
         [0, 1, 0, 2, 0, 4, 1, 4, 2, 4, 3, 4]),
        # Holes are never tested against holes: an island in a hole meets only a shell nested in the
        # same hole; a part in the hole of one whose own hole holds the other; invalid holes, stored
        # outside their exteriors, that cross each other while the exteriors lie apart.
        ([ring(0, 0, 10), ring(2, 2, 6), ring(3, 3, 2), ring(4, 4, 2)], [0, 2, 3, 4], [1, 2]),
        ([ring(0, 0, 10), ring(1, 1, 8), ring(2, 2, 6), ring(3, 3, 4)], [0, 2, 4], []),
        ([[(0, 0), (1, 0), (0, 1)], ring(20, 20, 10), [(0.9, 0.9), (3, 0.9), (0.9, 3)], ring(25, 25, 10)], [0, 2, 4],
         []),
    ])
    def test_empty_and_degenerate_parts(self, mode, rings, parts, pairs):
        xs, ys = (np.array([p[k] for r in rings for p in r], float) for k in (0, 1))
        e = Engine.from_polygon_rings(xs, ys, np.cumsum([0] + [len(r) for r in rings]), np.array(parts))
        e.set_index_mode(mode)
        assert sorted_rows(e.polygon_intersects_self_join()).ravel().tolist() == pairs

    @pytest.mark.parametrize("mode", ["none", "auto", "eager"])
    def test_no_parts_and_one_part(self, mode):
        e = Engine.from_wkb_polygons(np.empty(0, np.uint8), np.array([0]))
        e.set_index_mode(mode)
        got = e.polygon_intersects_self_join()
        assert got.dtype == np.uint32 and got.tolist() == []
        (op,) = e.take_metrics()["operations"]
        assert op["index"] == ("r_tree" if mode == "eager" else "brute_force")
        e = engine_of(np.array([square(0, 0)]), mode)
        assert e.polygon_intersects_self_join().tolist() == []


class TestFrame:
    @pytest.mark.parametrize("n, kind", [(25, "brute_force"), (26, "r_tree")])
    def test_auto_tipping_point(self, n, kind):
        e = engine_of(np.array([square(2 * i, 0) for i in range(n)]), "auto")
        assert e.polygon_intersects_self_join().tolist() == []
        m = e.take_metrics()
        assert [(o["name"], o["index"]) for o in m["operations"]] == [("polygon_intersects_self_join", kind)]
        assert [b["index"] for b in m["index_builds"]] == [kind]

    @pytest.mark.parametrize("mode, column, built", [
        ("none", "brute_force", ["brute_force"]), ("eager", "r_tree", ["r_tree"]),
        ("explicit:r_tree", "r_tree", ["r_tree"]),
        ("explicit:kd_tree", "kd_tree", ["r_tree"]), ("explicit:grid", "grid", ["r_tree"]),
    ])
    def test_metrics(self, mode, column, built):
        # Three touching squares in a row and one apart: 2 pairs per call, not 4.
        e = engine_of(np.array([square(0, 0), square(1, 0), square(2, 0), square(9, 9)]), mode)
        for _ in range(2):
            assert e.polygon_intersects_self_join().tolist() == [0, 1, 1, 2]
        m = e.take_metrics()
        (op,) = m["operations"]
        assert (op["name"], op["index"], op["calls"], op["output_rows"]) == \
            ("polygon_intersects_self_join", column, 2, 4)
        assert [(b["index"], b["build_count"]) for b in m["index_builds"]] == [(k, 1) for k in built]
        points = Engine.from_points(np.zeros(3), np.zeros(3))
        message = "polygon_intersects_self_join requires a polygon dataset"
        assert error_of(points.polygon_intersects_self_join) == message
        assert points.take_metrics()["operations"] == []

    def test_runs_without_the_interpreter_lock(self):
        geoms = crowded_geometries(10, 20000, 300.0)
        e = engine_of(geoms)
        e.polygon_intersects_self_join()  # builds the R-tree first
        got = assert_runs_without_gil(e, e.polygon_intersects_self_join)
        np.testing.assert_array_equal(got.reshape(-1, 2), shapely_pairs(geoms))
