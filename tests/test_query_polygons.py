"""range_query, contains_query and knn on polygon datasets (holes, multipolygons) against
shapely 2, in every index mode; and the rule every polygon method follows for parts with a
non-finite vertex."""
import numpy as np
import pytest
import shapely
from hypothesis import given, settings, strategies as st

from polygon_data import random_geometries, ring_arrays
from query_oracles import (MODES, box_distances, check_knn_ranking, operations, pair_set, points_engine,
                           polygon_engine, polygon_range_hits, random_boxes, shells)
from vardelin._core import Engine


def polygon_boxes(rng, count):
    return [b for b in random_boxes(rng, count, lo=-520, hi=520) if b[0] <= b[2] and b[1] <= b[3]]


class TestAgainstShapely:
    @pytest.mark.parametrize("mode", MODES)
    def test_range_contains_and_knn(self, rng, mode):
        geoms = random_geometries(rng, 800)
        e = polygon_engine(geoms, mode)
        exteriors, owner = shells(geoms)
        for box in polygon_boxes(rng, 300) + [(-600, -600, 600, 600), (1000, 1000, 1001, 1001)]:
            hits = e.range_query(*box)
            assert len(hits) == len(set(hits)) and sorted(hits) == polygon_range_hits(exteriors, owner, box).tolist()
        # Points on and around the polygons: centres fall in holes, the others anywhere.
        centres = shapely.get_coordinates(shapely.centroid(shapely.get_parts(geoms)))
        for x, y in np.r_[centres, centres + rng.normal(0, 1.5, centres.shape), rng.uniform(-520, 520, (300, 2))]:
            hits = e.contains_query(x, y)
            assert len(hits) == len(set(hits))
            assert sorted(hits) == np.flatnonzero(shapely.contains_xy(geoms, x, y)).tolist()
        # knn ranks parts by the squared distance to their boxes.
        b = shapely.bounds(exteriors)
        for x, y in rng.uniform(-520, 520, (30, 2)):
            gx = np.fmax(np.fmax(b[:, 0] - x, 0.0), x - b[:, 2])
            gy = np.fmax(np.fmax(b[:, 1] - y, 0.0), y - b[:, 3])
            d = gx * gx + gy * gy
            for k in [1, 5, 40]:
                np.testing.assert_array_equal(d[e.knn(x, y, k)], np.sort(d)[:k])

    @pytest.mark.parametrize("kind", ["kd_tree", "grid"])
    def test_point_index_kinds_are_answered_by_the_r_tree(self, rng, kind):
        e = polygon_engine(random_geometries(rng, 300), "explicit:" + kind)
        e.range_query(-100, -100, 100, 100)
        e.contains_query(0, 0)
        e.knn(0, 0, 3)
        m = e.take_metrics()
        assert [(o["name"], o["index"]) for o in m["operations"]] == [
            ("knn", kind), ("range_query", kind), ("contains_query", kind)]
        assert [(b["index"], b["build_count"]) for b in m["index_builds"]] == [("r_tree", 1)]


def square(x0, y0, side):
    return shapely.box(x0, y0, x0 + side, y0 + side)


NOWHERE_METHODS = ["single queries", "masks", "containment joins", "knn joins", "distance joins",
                   "points_within_distance_of_polygon", "measures"]


def nowhere_answers(method, arrays, mode, xs, ys, blank):
    """What the methods of one group answer over the polygons of `arrays` in `mode`, comparable
    whatever order an index hands its candidates in. With `blank`, the id of a polygon whose only
    part has no rings, the answers are made those of a part with a non-finite vertex, which lies
    within no distance, +inf included, and has no area."""
    e = Engine.from_polygon_rings(*arrays)
    e.set_index_mode(mode)
    every, ones = np.arange(e.n() + 2, dtype=np.uint32), [np.ones(len(xs), np.uint8)]
    boxes = [(x - 2, y - 2, x + 3, y + 1) for x, y in zip(xs, ys)]
    if method == "single queries":
        return ([sorted(e.range_query(*b)) for b in boxes], [sorted(e.contains_query(x, y)) for x, y in zip(xs, ys)],
                [e.knn(x, y, 30) for x, y in zip(xs, ys)])
    if method == "masks":
        return [np.r_[e.range_mask(*b, every), e.contains_mask(x, y, every), e.fused_mask([b], [(x, y)], every)]
                for b, x, y in zip(boxes, xs, ys)]
    if method == "containment joins":
        return pair_set(e.batch_contains(xs, ys)), e.batch_contains_aggregate(xs, ys, [xs], ones)
    if method == "knn joins":
        return [(list(zip(*e.batch_knn_to_polygons(xs, ys, k))), sorted(zip(*e.batch_knn_to_polygons_sorted(xs, ys, k))))
                for k in (2, 30)]
    if method == "distance joins":
        out = []
        for d in (0.0, 2.5, np.inf):
            pairs = pair_set(e.batch_within_distance_to_polygons(xs, ys, d))
            agg = e.batch_within_distance_to_polygons_aggregate(xs, ys, d, [xs], ones)
            if d == np.inf and blank is not None:
                pairs, agg = {p for p in pairs if p[1] != blank}, tuple(a[agg[0] != blank] for a in agg)
            out.append((pairs, agg))
        return out
    if method == "points_within_distance_of_polygon":
        points = points_engine(xs, ys, mode)
        return [points.points_within_distance_of_polygon(*arrays[:4], d) for d in (0.0, 2.5, np.inf)]
    i, j = np.divmod(np.arange(100, dtype=np.uint32), np.uint32(10))
    areas, shared = e.polygon_areas(), e.polygon_pairs_intersection_area(i, j)
    if blank is not None:
        areas[blank], shared[(i == blank) | (j == blank)] = np.nan, np.nan
    return areas, shared, e.polygon_intersects_self_join()


class TestPolygonRules:
    @pytest.mark.parametrize("mode", MODES)
    def test_holes_and_boundaries(self, mode):
        geoms = [shapely.Polygon(square(0, 0, 10).exterior, [square(4, 4, 2).exterior]), square(20, 0, 1)]
        e = polygon_engine(geoms, mode)
        # Left and bottom edges inside, right and top outside, also of holes, corners included;
        # the join decides the same through the bands of a densified copy.
        probes = [((5, 5), []), ((1, 1), [0]), ((0, 5), [0]), ((10, 5), []), ((4, 5), []), ((6, 5), [0]),
                  ((0, 0), [0]), ((5, 0), [0]), ((10, 0), []), ((0, 10), []), ((10, 10), []), ((5, 4), []),
                  ((5, 6), [0]), ((-1, 5), [])]
        xs, ys = np.array([p[0] for p, _ in probes], float), np.array([p[1] for p, _ in probes], float)
        pairs = polygon_engine(shapely.segmentize(geoms, 1.0), mode).batch_contains(xs, ys).reshape(-1, 2)
        for i, ((x, y), want) in enumerate(probes):
            assert e.contains_query(x, y) == want and pairs[pairs[:, 0] == i, 1].tolist() == want
        # A box inside a hole or touching a vertex meets the polygon; an inverted box is searched
        # and tested as given, so one whose corners lie inside the ring meets it too.
        for box, want in [((4.5, 4.5, 5.5, 5.5), [0]), ((1, 1, 2, 2), [0]), ((10, 10, 12, 12), [0]),
                          ((5, 5, 4, 4), [0]), ((30, 30, 25, 25), []), ((-5, -5, 15, 15), [0]), ((-1, 2, 1, 3), [0]),
                          # A box touching the edge from outside meets it; a zero-width box lying on
                          # the edge does not: its only crossing edges are parallel to the ring's.
                          ((10, 3, 12, 4), [0]), ((10, 3, 10, 4), []), ((11, 11, 12, 12), []),
                          # A NaN bound matches nothing, whatever the index.
                          ((np.nan, 0, 5, 5), []), ((0, 0, 5, np.nan), []), ((np.nan,) * 4, [])]:
            assert e.range_query(*box) == want
        # A diamond met at a box corner only, or crossed with no vertex or corner inside; exteriors
        # of one and two coordinates; an empty exterior and a part without rings; the same crossing
        # at a scale where the cross product calls the edges parallel, so the tiny one is missed;
        # an infinite bound, which makes the box's zero components NaN, so that no edge crosses it;
        # a box strictly inside a triangle stored open (three coordinates) and closed, and one
        # past its long edge.
        diamond, segment, bar = [(0, -1), (1, 0), (0, 1), (-1, 0)], [(0, 0), (10, 10)], [(-2, 0), (2, 0)]
        triangle = [(0, 0), (10, 0), (0, 10)]
        for rings, parts, box, want in [
                ([diamond], [0, 1], (0.5, 0.5, 2, 2), [0]), ([diamond], [0, 1], (0.51, 0.51, 2, 2), []),
                ([diamond], [0, 1], (0.4, -0.7, 0.6, 0.7), [0]), ([[(3, 3)]], [0, 1], (3, 3, 3, 3), [0]),
                ([[(3, 3)]], [0, 1], (3.5, 3.5, 4, 4), []), ([segment], [0, 1], (4, 4.5, 4.6, 6), [0]),
                ([segment], [0, 1], (4, 6, 6, 6.5), [0]), ([segment], [0, 1], (4, 5.5, 4.4, 6), []),
                ([[]], [0, 1, 1], (-1, -1, 1, 1), []), ([bar], [0, 1], (-1, -1, 1, 1), [0]),
                ([[(-2e-9, 0), (2e-9, 0)]], [0, 1], (-1e-9, -1e-9, 1e-9, 1e-9), []),
                ([bar], [0, 1], (-1, -np.inf, 1, 5), []), ([bar], [0, 1], (-1, -5, 1, 5), [0]),
                ([triangle], [0, 1], (1, 1, 2, 2), [0]), ([triangle + [(0, 0)]], [0, 1], (1, 1, 2, 2), [0]),
                ([triangle], [0, 1], (6, 6, 7, 7), [])]:
            xs, ys = (np.array([p[k] for r in rings for p in r], float) for k in (0, 1))
            e = Engine.from_polygon_rings(xs, ys, np.cumsum([0] + [len(r) for r in rings]), np.array(parts))
            e.set_index_mode(mode)
            assert e.range_query(*box) == want, (rings, box)

    @pytest.mark.parametrize("mode", MODES)
    def test_parts_of_one_polygon_are_named_once(self, mode):
        two = shapely.MultiPolygon([square(0, 0, 1), square(2, 0, 1)])
        e = polygon_engine([two, square(5, 0, 1), two], mode)
        assert sorted(e.range_query(-1, -1, 7, 2)) == [0, 1, 2]
        assert sorted(e.range_query(0.5, 0.5, 2.5, 0.6)) == [0, 2]
        assert [o[3] for o in operations(e)] == [5]
        assert sorted(e.knn(0.5, 0.5, 10)) == list(range(5))  # knn names parts, not polygons
        separate = polygon_engine([two, square(5, 0, 1)], mode, multi=False)
        assert sorted(separate.range_query(-1, -1, 7, 2)) == [0, 1, 2]
        assert separate.contains_query(2.5, 0.5) == [1]

    def test_first_found_order_and_no_shortcut(self):
        e = polygon_engine([square(1.5, -5, 0.2), shapely.MultiPolygon([square(0, 0, 1), square(2, 0, 1)])], "none")
        # The brute force meets parts in part order: part 0 (polygon 0) before parts 1, 2.
        assert e.range_query(-1, -6, 4, 2) == [0, 1]
        assert e.range_query(50, 50, 60, 60) == []
        assert [o[1:3] for o in operations(e)] == [("brute_force", 2)]
        # A few or many parts of each polygon scattered under one box: each polygon once, where
        # its first part is met.
        xs, ys, ring, poly, _ = ring_arrays(np.array([square(i % 20, i // 20, 0.5) for i in range(400)]))
        part_poly = np.arange(400) * 7919 % 131
        e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly)
        e.set_index_mode("none")
        for box, parts in [((0, 0, 4.6, 0.6), np.arange(5)), ((-1, -1, 30, 30), np.arange(400))]:
            assert e.range_query(*box) == list(dict.fromkeys(part_poly[parts].tolist()))

    @pytest.mark.parametrize("mode", MODES)
    def test_parts_without_exterior_coordinates_are_nowhere(self, rng, mode):
        # The parts 3 and 9 have no rings, part 6 an empty exterior and a hole around the origin. Their
        # index box is (0, 0, 0, 0), but they lie at +inf and meet no box and no point.
        xs, ys, ring, poly, geoms = [], [], [0], [0], []
        for p in range(12):
            if p == 6:
                ring.append(len(xs))
                xs += [-1.0, 1.0, 1.0, -1.0]
                ys += [-1.0, -1.0, 1.0, -1.0]
                ring.append(len(xs))
            if p in (3, 6, 9):
                geoms.append(shapely.Polygon())
            else:
                cx, cy, h = *rng.uniform(-6, 6, 2), rng.uniform(0.5, 1.5)
                geoms.append(shapely.box(cx - h, cy - h, cx + h, cy + h))
                x, y = shapely.get_coordinates(geoms[-1].exterior).T
                xs += x.tolist()
                ys += y.tolist()
                ring.append(len(xs))
            poly.append(len(ring) - 1)
        e = Engine.from_polygon_rings(np.array(xs), np.array(ys), np.array(ring), np.array(poly))
        e.set_index_mode(mode)
        bounds = shapely.bounds(geoms)  # NaN for the empty parts: +inf below
        for x, y in [(0.0, 0.0), (0.3, -0.2), (25.0, 3.0)]:
            d = box_distances(*bounds.T, x, y)
            for k in [1, 5, 9, 10, 12, 13]:
                check_knn_ranking(e.knn(x, y, k), d, k)
        for box in [(-1, -1, 1, 1), (0, 0, 0, 0), (-50, -50, 50, 50)]:
            want = np.flatnonzero(shapely.intersects(geoms, shapely.box(*box))).tolist()
            assert sorted(e.range_query(*box)) == want
        assert not {3, 6, 9} & set(e.contains_query(0.0, 0.0))
        assert e.knn(np.nan, 3.0, 5) == [] and e.knn(3.0, np.nan, 40) == []

    @pytest.mark.parametrize("method", NOWHERE_METHODS)
    @pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
    @pytest.mark.parametrize("ring", [0, 1], ids=["exterior", "hole"])
    def test_parts_with_a_non_finite_vertex_are_nowhere(self, method, bad, ring):
        # Polygon 4, a square with a hole under a corner of polygon 5, gets one non-finite corner
        # in its exterior or its hole; the oracle is the same dataset with that part blanked.
        geoms = list(random_geometries(np.random.default_rng(21), 20, multi_share=0.5))
        geoms[4:4] = [shapely.Polygon(square(100, 50, 10).exterior, [square(104, 54, 2).exterior]),
                      square(108, 58, 5)]
        xs, ys, rings, parts, part_poly = ring_arrays(np.array(geoms, dtype=object))
        p = np.flatnonzero(part_poly == 4)[0]
        c0, c1, r0, r1 = rings[parts[p]], rings[parts[p + 1]], parts[p], parts[p + 1]
        broken = xs.copy(), ys.copy(), rings, parts, part_poly
        broken[ring][rings[r0 + ring] + 2] = bad
        blanked = (np.delete(xs, np.s_[c0:c1]), np.delete(ys, np.s_[c0:c1]),
                   np.r_[rings[:r0 + 1], rings[r1 + 1:] - (c1 - c0)], np.r_[parts[:p + 1], parts[p + 1:] - (r1 - r0)],
                   part_poly)
        centres = shapely.get_coordinates(shapely.centroid(shapely.get_parts(geoms)))
        grid = np.mgrid[97:116:1.5, 47:66:1.5].reshape(2, -1).T
        qx, qy = np.r_[centres, centres + np.random.default_rng(2).normal(0, 1.5, centres.shape), grid].T.copy()
        for mode in MODES:
            got = nowhere_answers(method, broken, mode, qx, qy, None)
            np.testing.assert_equal(got, nowhere_answers(method, blanked, mode, qx, qy, 4), err_msg=mode)

    def test_degenerate_exteriors_contain_nothing_and_no_delta_buffer(self):
        # The first part is a two-point exterior, part 1 a square over it.
        e = Engine.from_polygon_rings(np.array([0.0, 10.0, 0.0, 10.0, 10.0, 0.0]),
                                      np.array([0.0, 10.0, 0.0, 0.0, 10.0, 10.0]), np.array([0, 2, 6]),
                                      np.array([0, 1, 2]))
        assert e.contains_query(5, 5) == [1]
        assert sorted(e.range_query(4, 4, 6, 6)) == [0, 1]  # the segment crosses the box
        assert e.range_query(np.nan, 0, 10, 10) == []
        with pytest.raises(ValueError, match="delta buffer is not supported for polygon datasets"):
            e.append_delta(np.array([0.5]), np.array([0.5]))
        assert (e.n(), e.delta_len(), e.contains_query(5, 5)) == (2, 0, [1])  # refused, unchanged


@settings(max_examples=25, deadline=None)
@given(seed=st.integers(0, 2 ** 32 - 1), n=st.integers(1, 120))
def test_every_mode_gives_the_same_answers(seed, n):
    rng = np.random.default_rng(seed)
    geoms = random_geometries(rng, n)
    boxes = polygon_boxes(rng, 10)
    probes = rng.uniform(-520, 520, (10, 2))
    answers = []
    for mode in MODES:
        e = polygon_engine(geoms, mode)
        got = [sorted(e.range_query(*b)) for b in boxes] + [sorted(e.contains_query(x, y)) for x, y in probes]
        answers.append(got + [sorted(e.knn(x, y, 4)) for x, y in probes[:3]])
    assert all(a == answers[0] for a in answers[1:])
