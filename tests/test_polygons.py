"""Polygon datasets from ring arrays, at once and through the builder, against shapely 2."""
import numpy as np
import pytest
import shapely
from hypothesis import given, settings, strategies as st

from polygon_data import random_geometries, ring_arrays, same_dataset
from vardelin._core import Engine, _PolygonBuilder

U32_MAX = 4294967295
SQUARE = dict(xs=np.array([0.0, 1.0, 1.0, 0.0]), ys=np.array([0.0, 0.0, 1.0, 1.0]),
              ring_offsets=np.array([0, 4]), poly_offsets=np.array([0, 1]))


class TestFromPolygonRings:
    def test_unit_square(self):
        e = Engine.from_polygon_rings(**SQUARE)
        assert e.n() == 1
        assert e.extent() == (0.0, 0.0, 1.0, 1.0)
        assert repr(e) == "Engine(n=1, kind=Polygon, dist=Unknown)"
        construction = e.take_metrics()["construction"]
        assert construction["wkb_decode_ns"] == 0

    @pytest.mark.parametrize("seed", [1, 2, 3])
    def test_against_shapely(self, seed):
        geoms = random_geometries(np.random.default_rng(seed), 400)
        xs, ys, ring, poly, part_poly = ring_arrays(geoms)
        e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly)
        assert e.n() == len(poly) - 1 == shapely.get_num_geometries(geoms).sum()
        assert e.extent() == tuple(shapely.total_bounds(geoms))
        assert repr(e) == f"Engine(n={len(poly) - 1}, kind=Polygon, dist=Unknown)"
        same_dataset(e, Engine.from_polygon_rings(xs, ys, ring, poly))

    def test_input_is_copied(self):
        arrays = {k: v.copy() for k, v in SQUARE.items()}
        e = Engine.from_polygon_rings(**arrays)
        arrays["xs"][:] = 50.0
        arrays["ring_offsets"][1] = 0
        assert e.extent() == (0.0, 0.0, 1.0, 1.0)

    def test_part_maps_and_empty_parts(self):
        xs, ys = np.zeros(4), np.zeros(4)
        one = np.array([0, 4])
        e = Engine.from_polygon_rings(xs, ys, one, np.array([0, 1, 1]), part_poly=np.array([1, 3]))
        assert e.n() == 2
        assert Engine.from_polygon_rings(xs, ys, one, np.array([0, 1, 1]), None).n() == 2
        # Vertices no ring refers to still widen the extent.
        e = Engine.from_polygon_rings(np.array([0.0, 1.0, 1.0, 9.0]), np.array([0.0, 0.0, 1.0, -2.0]),
                                      np.array([0, 3]), np.array([0, 1]))
        assert e.extent() == (0.0, -2.0, 9.0, 1.0)

    def test_all_nan_part_has_no_extent(self):
        e = Engine.from_polygon_rings(np.full(3, np.nan), np.zeros(3), np.array([0, 3]), np.array([0, 1]))
        assert e.extent() is None
        assert repr(e) == "Engine(n=1, kind=Polygon, dist=Unknown)"

    def test_collinear_parts(self):
        e = Engine.from_polygon_rings(np.arange(6.0), np.full(6, 2.0), np.array([0, 3, 6]), np.array([0, 1, 2]))
        assert e.extent() == (0.0, 2.0, 5.0, 2.0)
        assert e.n() == 2


def call(**changes):
    args = {**SQUARE, **changes}
    return Engine.from_polygon_rings(**args)


class TestFromPolygonRingsRefusals:
    @pytest.mark.parametrize("changes, message", [
        (dict(xs=np.arange(8.0)[::2], ys=np.arange(3.0)), "xs must be a contiguous float64 array"),
        (dict(ys=np.arange(8.0)[::2]), "ys must be a contiguous float64 array"),
        (dict(ring_offsets=np.array([0, 0, 4, 4])[::2]), "ring_offsets must be a contiguous int64 array"),
        (dict(poly_offsets=np.array([0, 0, 1, 1])[::2]), "poly_offsets must be a contiguous int64 array"),
        (dict(ys=np.arange(3.0)), "xs and ys must have the same length"),
        (dict(ring_offsets=np.array([], dtype=np.int64)), "ring_offsets must have at least 2 entries"),
        (dict(ring_offsets=np.array([0])), "ring_offsets must have at least 2 entries"),
        (dict(poly_offsets=np.array([0])),
         "poly_offsets must have at least 2 entries (one polygon requires two values)"),
        (dict(ring_offsets=np.array([0, 5])),
         "ring_offsets out of bounds at ring 0: end=5 but coordinate count is 4"),
        (dict(ring_offsets=np.array([0, -1])),
         "ring_offsets out of bounds at ring 0: end=18446744073709551615 but coordinate count is 4"),
        (dict(ring_offsets=np.array([0, 2, 9, 4])),
         "ring_offsets out of bounds at ring 1: end=9 but coordinate count is 4"),
        (dict(poly_offsets=np.array([0, 2])),
         "poly_offsets out of bounds at polygon 0: end=2 but ring count is 1"),
        (dict(part_poly=np.array([0, 1, 2])[::2]), "part_poly must be a contiguous int64 array"),
        (dict(part_poly=np.array([0, 0])),
         "part_poly must have one entry per part (poly_offsets length minus one)"),
        (dict(part_poly=np.array([-1])), "part_poly values must fit u32"),
        (dict(part_poly=np.array([U32_MAX])),
         "logical polygon dataset has 4294967296 rows; Vardelin's single-node join indices support at most "
         "4294967295"),
        (dict(part_poly=np.array([2**63 - 1])),
         "logical polygon dataset has 9223372036854775808 rows; Vardelin's single-node join indices support "
         "at most 4294967295"),
        # Beyond the end checks: a negative start or a step back would send readers outside.
        (dict(ring_offsets=np.array([-2, 4])), "ring_offsets must not be negative: first entry is -2"),
        (dict(ring_offsets=np.array([0, 3, 2, 4]), poly_offsets=np.array([0, 3])),
         "ring_offsets must not decrease: ring 1 starts at 3 but ends at 2"),
        (dict(ring_offsets=np.array([0, 2, 4]), poly_offsets=np.array([0, 2, 1])),
         "poly_offsets must not decrease: polygon 1 starts at 2 but ends at 1"),
        (dict(poly_offsets=np.array([-1, 1])), "poly_offsets must not be negative: first entry is -1"),
    ])
    def test_messages(self, changes, message):
        with pytest.raises(ValueError) as info:
            call(**changes)
        assert str(info.value) == message

    def test_contiguity_wins_over_lengths_and_spec_checks_over_order(self):
        with pytest.raises(ValueError, match="^xs must be a contiguous"):
            call(xs=np.arange(10.0)[::2], ys=np.arange(3.0))
        # A decreasing ring array that also has a part out of bounds reports the bound first.
        with pytest.raises(ValueError, match="^poly_offsets out of bounds"):
            call(ring_offsets=np.array([0, 3, 2, 4]), poly_offsets=np.array([0, 9]))

    @pytest.mark.parametrize("bad", [np.zeros(4, np.float32), np.zeros(4, np.int64), [0.0] * 4, np.zeros((4, 1))])
    def test_wrong_types(self, bad):
        with pytest.raises(TypeError):
            call(xs=bad)
        with pytest.raises(TypeError):
            call(ring_offsets=np.array([0, 4], dtype=np.int32))
        with pytest.raises(TypeError):
            call(part_poly=np.array([0], dtype=np.uint32))


def batches_of(geoms, cuts):
    return [geoms[a:b] for a, b in zip([0, *cuts], [*cuts, len(geoms)])]


class TestPolygonBuilder:
    def test_fresh_and_finished(self):
        b = _PolygonBuilder()
        e = b.finish()
        assert e.n() == 0 and e.extent() is None
        assert repr(e) == "Engine(n=0, kind=Empty, dist=Unknown)"
        for again in [b.finish, lambda: b.append_polygon_rings(**SQUARE)]:
            with pytest.raises(ValueError, match="^polygon builder is already finished$"):
                again()
        # Argument checks still come first on a finished builder.
        with pytest.raises(ValueError, match="^xs and ys must have the same length$"):
            b.append_polygon_rings(SQUARE["xs"], np.zeros(3), SQUARE["ring_offsets"], SQUARE["poly_offsets"])
        with pytest.raises(TypeError):
            _PolygonBuilder(1)

    @pytest.mark.parametrize("seed, cuts", [(4, [100]), (5, [1, 2, 250, 399]), (6, [0, 0, 200, 400])])
    def test_batches_equal_whole(self, seed, cuts):
        geoms = random_geometries(np.random.default_rng(seed), 400)
        whole = Engine.from_polygon_rings(*ring_arrays(geoms))
        b = _PolygonBuilder()
        for batch in batches_of(geoms, cuts):
            if len(batch) == 0:
                b.append_polygon_rings(np.empty(0), np.empty(0), np.array([0]), np.array([0]),
                                       part_poly=np.empty(0, np.int64))
                continue
            b.append_polygon_rings(*ring_arrays(batch))
        same_dataset(b.finish(), whole)

    @settings(max_examples=25, deadline=None)
    @given(st.lists(st.integers(0, 6), min_size=1, max_size=6), st.lists(st.booleans(), min_size=6, max_size=6))
    def test_batches_with_and_without_maps(self, sizes, with_map):
        geoms = random_geometries(np.random.default_rng(sum(sizes)), sum(sizes), multi_share=0.0)
        b = _PolygonBuilder()
        start = 0
        for size, mapped in zip(sizes, with_map):
            xs, ys, ring, poly, part_poly = ring_arrays(geoms[start:start + size]) if size else (
                np.empty(0), np.empty(0), np.array([0]), np.array([0]), np.empty(0, np.int64))
            b.append_polygon_rings(xs, ys, ring, poly, part_poly if mapped else None)
            start += size
        e = b.finish()
        if sum(sizes):
            same_dataset(e, Engine.from_polygon_rings(*ring_arrays(geoms)[:4]))
        else:
            assert repr(e) == "Engine(n=0, kind=Empty, dist=Unknown)"

    def test_shifted_polygon_numbers(self):
        b = _PolygonBuilder()
        b.append_polygon_rings(**{**SQUARE, "poly_offsets": np.array([0, 1, 1])}, part_poly=np.array([0, 0]))
        b.append_polygon_rings(**SQUARE, part_poly=np.array([U32_MAX - 2]))
        with pytest.raises(ValueError, match="^polygon count exceeds the u32 row limit$"):
            b.append_polygon_rings(**{**SQUARE, "poly_offsets": np.array([0, 1, 1])})
        # The refused batch left nothing behind.
        assert b.finish().n() == 3

    def test_logical_count_past_limit_only_fails_at_finish(self):
        b = _PolygonBuilder()
        b.append_polygon_rings(**SQUARE, part_poly=np.array([U32_MAX]))
        with pytest.raises(ValueError, match="^polygon count exceeds the u32 row limit$"):
            b.append_polygon_rings(np.empty(0), np.empty(0), np.array([0]), np.array([0]))
        with pytest.raises(ValueError, match="^logical polygon dataset has 4294967296 rows"):
            b.finish()
        with pytest.raises(ValueError, match="^polygon builder is already finished$"):
            b.finish()

    def test_keyword_arguments(self):
        b = _PolygonBuilder()
        b.append_polygon_rings(xs=SQUARE["xs"], ys=SQUARE["ys"], ring_offsets=SQUARE["ring_offsets"],
                               poly_offsets=SQUARE["poly_offsets"], part_poly=None)
        assert b.finish().extent() == (0.0, 0.0, 1.0, 1.0)


def append(b, **changes):
    args = {**SQUARE, **changes}
    b.append_polygon_rings(**args)


class TestPolygonBuilderRefusals:
    @pytest.mark.parametrize("changes, message", [
        (dict(xs=np.arange(8.0)[::2]), "xs must be a contiguous float64 array"),
        (dict(ys=np.arange(8.0)[::2]), "ys must be a contiguous float64 array"),
        (dict(ring_offsets=np.array([0, 0, 4, 4])[::2]), "ring_offsets must be contiguous"),
        (dict(poly_offsets=np.array([0, 0, 1, 1])[::2]), "poly_offsets must be contiguous"),
        (dict(ys=np.zeros(5)), "xs and ys must have the same length"),
        (dict(ring_offsets=np.array([0, 5])),
         "ring_offsets out of bounds at ring 0: end=5 but coordinate count is 4"),
        (dict(poly_offsets=np.array([0, 2])),
         "poly_offsets out of bounds at polygon 0: end=2 but ring count is 1"),
        (dict(part_poly=np.array([0, 1, 2, 3])[::2]), "part_poly must be contiguous"),
        (dict(part_poly=np.array([-1])), "part_poly values must fit u32"),
        (dict(part_poly=np.array([U32_MAX + 1])), "part_poly values must fit u32"),
        (dict(part_poly=np.array([0, 1])), "part_poly must have one entry per part (poly_offsets length minus one)"),
        (dict(part_poly=np.array([-1, 0])), "part_poly values must fit u32"),
        (dict(ring_offsets=np.array([1, 4])), "ring_offsets of a builder batch must start at 0"),
        (dict(ring_offsets=np.array([], dtype=np.int64), poly_offsets=np.array([0])),
         "ring_offsets of a builder batch must start at 0"),
        (dict(ring_offsets=np.array([0, 3])),
         "ring_offsets of a builder batch must end at the coordinate count 4, got 3"),
        (dict(ring_offsets=np.array([0, 3, 1, 4]), poly_offsets=np.array([0, 3])),
         "ring_offsets must not decrease: ring 1 starts at 3 but ends at 1"),
        (dict(poly_offsets=np.array([-1, 1])), "poly_offsets of a builder batch must start at 0"),
        (dict(poly_offsets=np.array([0, 0])), "poly_offsets of a builder batch must end at the ring count 1, got 0"),
        (dict(ring_offsets=np.array([0, 2, 4]), poly_offsets=np.array([0, 2, 1, 2])),
         "poly_offsets must not decrease: polygon 1 starts at 2 but ends at 1"),
    ])
    def test_messages_leave_the_builder_unchanged(self, changes, message):
        b = _PolygonBuilder()
        append(b, xs=np.array([5.0, 6.0, 6.0, 5.0]))
        with pytest.raises(ValueError) as info:
            append(b, **changes)
        assert str(info.value) == message
        same_dataset(b.finish(), Engine.from_polygon_rings(np.array([5.0, 6.0, 6.0, 5.0]), SQUARE["ys"],
                                                           SQUARE["ring_offsets"], SQUARE["poly_offsets"]))
