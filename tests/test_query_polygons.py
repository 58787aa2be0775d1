"""range_query, contains_query and knn on polygon datasets (holes, multipolygons) against
shapely 2, in every index mode."""
import numpy as np
import pytest
import shapely
from hypothesis import given, settings, strategies as st

from polygon_data import random_geometries, ring_arrays
from query_oracles import MODES, random_boxes
from vardelin._core import Engine


class Dataset:
    """Random polygons with holes and multipolygons as an Engine, with shapely oracles."""

    def __init__(self, rng, n, mode="eager", multi=True):
        self.geoms = random_geometries(rng, n, multi_share=0.3 if multi else 0.0)
        self.xs, self.ys, self.ring, self.poly, self.part_poly = ring_arrays(self.geoms)
        self.engine = Engine.from_polygon_rings(self.xs, self.ys, self.ring, self.poly,
                                                self.part_poly if multi else None)
        self.engine.set_index_mode(mode)
        exteriors = [np.column_stack([self.xs[a:b], self.ys[a:b]])
                     for a, b in zip(self.ring[self.poly[:-1]], self.ring[self.poly[:-1] + 1])]
        self.exteriors = shapely.polygons(shapely.linearrings(np.concatenate(exteriors),
                                                              indices=np.repeat(np.arange(len(exteriors)),
                                                                                [len(c) for c in exteriors])))
        self.part_boxes = np.array([[c[:, 0].min(), c[:, 1].min(), c[:, 0].max(), c[:, 1].max()] for c in exteriors])

    def range_oracle(self, box):
        # Exterior rings only: a box inside a hole still meets its polygon.
        parts = np.flatnonzero(shapely.intersects(self.exteriors, shapely.box(*box)))
        return sorted(set(self.part_poly[parts].tolist()))

    def contains_oracle(self, x, y):
        return np.flatnonzero(shapely.contains_xy(self.geoms, x, y)).tolist()

    def box_distances(self, x, y):
        b = self.part_boxes
        gx = np.fmax(np.fmax(b[:, 0] - x, 0.0), x - b[:, 2])
        gy = np.fmax(np.fmax(b[:, 1] - y, 0.0), y - b[:, 3])
        return gx * gx + gy * gy


def polygon_boxes(rng, count):
    return [b for b in random_boxes(rng, count, lo=-520, hi=520) if b[0] <= b[2] and b[1] <= b[3]]


class TestAgainstShapely:
    @pytest.mark.parametrize("mode", MODES)
    def test_range_query(self, rng, mode):
        data = Dataset(rng, 800, mode)
        boxes = polygon_boxes(rng, 300) + [(-600, -600, 600, 600), (1000, 1000, 1001, 1001)]
        for box in boxes:
            hits = data.engine.range_query(*box)
            assert len(hits) == len(set(hits))
            assert sorted(hits) == data.range_oracle(box)

    @pytest.mark.parametrize("mode", MODES)
    def test_contains_query(self, rng, mode):
        data = Dataset(rng, 800, mode)
        # Points on and around the polygons: centres fall in holes, the others anywhere.
        centres = shapely.get_coordinates(shapely.centroid(shapely.get_parts(data.geoms)))
        probes = np.r_[centres, centres + rng.normal(0, 1.5, centres.shape), rng.uniform(-520, 520, (300, 2))]
        for x, y in probes:
            hits = data.engine.contains_query(x, y)
            assert len(hits) == len(set(hits))
            assert sorted(hits) == data.contains_oracle(x, y)

    @pytest.mark.parametrize("mode", MODES)
    def test_knn_ranks_parts_by_their_boxes(self, rng, mode):
        data = Dataset(rng, 600, mode)
        for x, y in rng.uniform(-520, 520, (30, 2)):
            for k in [1, 5, 40]:
                got = data.engine.knn(x, y, k)
                d = data.box_distances(x, y)
                np.testing.assert_array_equal(d[got], np.sort(d)[:k])

    @pytest.mark.parametrize("mode", ["explicit:kd_tree", "explicit:grid"])
    def test_point_index_kinds_are_answered_by_the_r_tree(self, rng, mode):
        data = Dataset(rng, 300, mode)
        data.engine.range_query(-100, -100, 100, 100)
        data.engine.contains_query(0, 0)
        data.engine.knn(0, 0, 3)
        m = data.engine.take_metrics()
        kind = mode.split(":")[1]
        assert [(o["name"], o["index"]) for o in m["operations"]] == [
            ("knn", kind), ("range_query", kind), ("contains_query", kind)]
        assert [(b["index"], b["build_count"]) for b in m["index_builds"]] == [("r_tree", 1)]


def square(x0, y0, side):
    return [(x0, y0), (x0 + side, y0), (x0 + side, y0 + side), (x0, y0 + side)]


def engine_of(geoms, part_poly=True, mode="eager"):
    xs, ys, ring, poly, pp = ring_arrays(np.array(geoms, dtype=object))
    e = Engine.from_polygon_rings(xs, ys, ring, poly, pp if part_poly else None)
    e.set_index_mode(mode)
    return e


class TestPolygonRules:
    @pytest.mark.parametrize("mode", MODES)
    def test_holes(self, mode):
        e = engine_of([shapely.Polygon(square(0, 0, 10), [square(4, 4, 2)]), shapely.Polygon(square(20, 0, 1))],
                      mode=mode)
        assert e.contains_query(5, 5) == []
        assert e.contains_query(1, 1) == [0]
        # Boundary rule: left and bottom edges inside, right and top outside (also of holes).
        assert e.contains_query(0, 5) == [0] and e.contains_query(10, 5) == []
        assert e.contains_query(4, 5) == [] and e.contains_query(6, 5) == [0]
        assert e.range_query(4.5, 4.5, 5.5, 5.5) == [0]
        assert e.range_query(1, 1, 2, 2) == [0]
        assert e.range_query(10, 10, 12, 12) == [0]  # touches a vertex
        # An inverted box is searched and tested as given: its corners lie inside the ring.
        assert e.range_query(5, 5, 4, 4) == [0]
        assert e.range_query(30, 30, 25, 25) == []

    @pytest.mark.parametrize("mode", MODES)
    def test_parts_of_one_polygon_are_named_once(self, mode):
        two = shapely.MultiPolygon([shapely.Polygon(square(0, 0, 1)), shapely.Polygon(square(2, 0, 1))])
        e = engine_of([two, shapely.Polygon(square(5, 0, 1)), two], mode=mode)
        assert sorted(e.range_query(-1, -1, 7, 2)) == [0, 1, 2]
        assert sorted(e.range_query(0.5, 0.5, 2.5, 0.6)) == [0, 2]
        m = e.take_metrics()
        assert [o["output_rows"] for o in m["operations"]] == [5]
        # knn names parts, not polygons.
        assert sorted(e.knn(0.5, 0.5, 10)) == list(range(5))
        separate = engine_of([two, shapely.Polygon(square(5, 0, 1))], part_poly=False, mode=mode)
        assert sorted(separate.range_query(-1, -1, 7, 2)) == [0, 1, 2]
        assert separate.contains_query(2.5, 0.5) == [1]

    def test_first_found_order_and_no_shortcut(self):
        multi = shapely.MultiPolygon([shapely.Polygon(square(0, 0, 1)), shapely.Polygon(square(2, 0, 1))])
        e = engine_of([shapely.Polygon(square(1.5, -5, 0.2)), multi], mode="none")
        # The brute force meets parts in part order: part 0 (polygon 0) before parts 1, 2.
        assert e.range_query(-1, -6, 4, 2) == [0, 1]
        assert e.range_query(50, 50, 60, 60) == []
        assert [(o["index"], o["calls"]) for o in e.take_metrics()["operations"]] == [("brute_force", 2)]

    def test_degenerate_exteriors_contain_nothing(self):
        xs = np.array([0.0, 10.0, 0.0, 10.0, 10.0, 0.0])
        ys = np.array([0.0, 10.0, 0.0, 0.0, 10.0, 10.0])
        # Part 0 is a two-point exterior, part 1 a square over it.
        e = Engine.from_polygon_rings(xs, ys, np.array([0, 2, 6]), np.array([0, 1, 2]))
        assert e.contains_query(5, 5) == [1]
        assert sorted(e.range_query(4, 4, 6, 6)) == [0, 1]  # the segment crosses the box
        assert e.range_query(np.nan, 0, 10, 10) == []

    def test_no_delta_buffer(self):
        e = engine_of([shapely.Polygon(square(0, 0, 1))])
        with pytest.raises(ValueError, match="delta buffer is not supported for polygon datasets"):
            e.append_delta(np.array([0.5]), np.array([0.5]))


@settings(max_examples=25, deadline=None)
@given(seed=st.integers(0, 2 ** 32 - 1), n=st.integers(1, 120))
def test_every_mode_gives_the_same_answers(seed, n):
    rng = np.random.default_rng(seed)
    geoms = random_geometries(rng, n)
    xs, ys, ring, poly, part_poly = ring_arrays(geoms)
    boxes = polygon_boxes(rng, 10)
    probes = rng.uniform(-520, 520, (10, 2))
    answers = []
    for mode in MODES:
        e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly)
        e.set_index_mode(mode)
        got = [sorted(e.range_query(*b)) for b in boxes] + [sorted(e.contains_query(x, y)) for x, y in probes]
        got += [sorted(e.knn(x, y, 4)) for x, y in probes[:3]]
        answers.append(got)
    assert all(a == answers[0] for a in answers[1:])
