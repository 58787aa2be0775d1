"""Polygon datasets from ring arrays, at once and through the builder, against shapely 2."""
import numpy as np
import pytest
import shapely
from hypothesis import given, settings, strategies as st

from polygon_data import error_of, random_geometries, ring_arrays, same_dataset, unaligned
from vardelin._core import Engine, _PolygonBuilder

U32_MAX = 4294967295
LIMIT = "rows; Vardelin's single-node join indices support at most 4294967295"
SQUARE = dict(xs=np.array([0.0, 1.0, 1.0, 0.0]), ys=np.array([0.0, 0.0, 1.0, 1.0]),
              ring_offsets=np.array([0, 4]), poly_offsets=np.array([0, 1]))
NO_RINGS = (np.empty(0), np.empty(0), np.array([0]), np.array([0]))
FINISHED = "^polygon builder is already finished$"
ROW_LIMIT = "^polygon count exceeds the u32 row limit$"


class TestFromPolygonRings:
    def test_against_shapely(self):
        geoms = random_geometries(np.random.default_rng(1), 1000)
        xs, ys, ring, poly, part_poly = ring_arrays(geoms)
        e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly)
        assert e.n() == len(poly) - 1 == shapely.get_num_geometries(geoms).sum()
        assert e.extent() == tuple(shapely.total_bounds(geoms))
        assert repr(e) == f"Engine(n={len(poly) - 1}, kind=Polygon, dist=Unknown)"
        assert e.take_metrics()["construction"]["wkb_decode_ns"] == 0
        same_dataset(e, Engine.from_polygon_rings(xs, ys, ring, poly))

    @pytest.mark.parametrize("args, n, extent", [
        ((SQUARE["xs"], SQUARE["ys"], [0, 4], [0, 1]), 1, (0.0, 0.0, 1.0, 1.0)),
        # A part with no rings still counts, with and without a part map.
        ((np.zeros(4), np.zeros(4), [0, 4], [0, 1, 1], [1, 3]), 2, (0.0, 0.0, 0.0, 0.0)),
        ((np.zeros(4), np.zeros(4), [0, 4], [0, 1, 1], None), 2, (0.0, 0.0, 0.0, 0.0)),
        # Vertices no ring refers to still widen the extent.
        (([0.0, 1.0, 1.0, 9.0], [0.0, 0.0, 1.0, -2.0], [0, 3], [0, 1]), 1, (0.0, -2.0, 9.0, 1.0)),
        ((np.full(3, np.nan), np.zeros(3), [0, 3], [0, 1]), 1, None),
        ((np.arange(6.0), np.full(6, 2.0), [0, 3, 6], [0, 1, 2]), 2, (0.0, 2.0, 5.0, 2.0)),
    ])
    def test_small_datasets(self, args, n, extent):
        xs, ys, ring, poly, *part = args
        e = Engine.from_polygon_rings(np.array(xs, float), np.array(ys, float), np.array(ring), np.array(poly),
                                      *[None if p is None else np.array(p) for p in part])
        assert (e.n(), e.extent(), repr(e)) == (n, extent, f"Engine(n={n}, kind=Polygon, dist=Unknown)")

    def test_input_is_copied(self):
        arrays = {k: v.copy() for k, v in SQUARE.items()}
        e = Engine.from_polygon_rings(**arrays)
        arrays["xs"][:] = 50.0
        arrays["ring_offsets"][1] = 0
        assert e.extent() == (0.0, 0.0, 1.0, 1.0) and e.xs().tolist() == [0.0, 1.0, 1.0, 0.0]

    @pytest.mark.parametrize("changes", [dict(xs=np.zeros(4, np.float32)), dict(xs=np.zeros(4, np.int64)),
                                         dict(xs=[0.0] * 4), dict(xs=np.zeros((4, 1))),
                                         dict(ring_offsets=np.array([0, 4], dtype=np.int32)),
                                         dict(part_poly=np.array([0], dtype=np.uint32))])
    def test_wrong_types(self, changes):
        with pytest.raises(TypeError):
            Engine.from_polygon_rings(**{**SQUARE, **changes})


BOTH = [
    # Contiguity comes before lengths.
    (dict(xs=np.arange(8.0)[::2], ys=np.arange(3.0)), "xs must be a contiguous float64 array"),
    (dict(ys=np.arange(8.0)[::2]), "ys must be a contiguous float64 array"),
    (dict(ys=np.arange(3.0)), "xs and ys must have the same length"),
    (dict(ring_offsets=np.array([0, 5])), "ring_offsets out of bounds at ring 0: end=5 but coordinate count is 4"),
    (dict(poly_offsets=np.array([0, 2])), "poly_offsets out of bounds at polygon 0: end=2 but ring count is 1"),
    (dict(part_poly=np.array([-1])), "part_poly values must fit u32"),
    (dict(part_poly=np.array([0, 0])), "part_poly must have one entry per part (poly_offsets length minus one)"),
    # Beyond the end checks: a step back would send readers outside.
    (dict(ring_offsets=np.array([0, 3, 1, 4]), poly_offsets=np.array([0, 3])),
     "ring_offsets must not decrease: ring 1 starts at 3 but ends at 1"),
    (dict(ring_offsets=np.array([0, 2, 4]), poly_offsets=np.array([0, 2, 1, 2])),
     "poly_offsets must not decrease: polygon 1 starts at 2 but ends at 1"),
]
CONSTRUCTOR = [
    (dict(ring_offsets=np.array([0, 0, 4, 4])[::2]), "ring_offsets must be a contiguous int64 array"),
    (dict(poly_offsets=np.array([0, 0, 1, 1])[::2]), "poly_offsets must be a contiguous int64 array"),
    (dict(part_poly=np.array([0, 1, 2])[::2]), "part_poly must be a contiguous int64 array"),
    (dict(ring_offsets=unaligned([0, 4], np.int64)), "ring_offsets must be a contiguous int64 array"),
    (dict(ring_offsets=np.array([], dtype=np.int64)), "ring_offsets must have at least 2 entries"),
    (dict(ring_offsets=np.array([0])), "ring_offsets must have at least 2 entries"),
    (dict(poly_offsets=np.array([0])), "poly_offsets must have at least 2 entries (one polygon requires two values)"),
    (dict(ring_offsets=np.array([0, -1])),
     "ring_offsets out of bounds at ring 0: end=18446744073709551615 but coordinate count is 4"),
    (dict(ring_offsets=np.array([0, 2, 9, 4])), "ring_offsets out of bounds at ring 1: end=9 but coordinate count is 4"),
    (dict(part_poly=np.array([U32_MAX])), f"logical polygon dataset has 4294967296 {LIMIT}"),
    (dict(part_poly=np.array([2**63 - 1])), f"logical polygon dataset has 9223372036854775808 {LIMIT}"),
    (dict(ring_offsets=np.array([-2, 4])), "ring_offsets must not be negative: first entry is -2"),
    (dict(poly_offsets=np.array([-1, 1])), "poly_offsets must not be negative: first entry is -1"),
    # A bound is reported before a step back.
    (dict(ring_offsets=np.array([0, 3, 2, 4]), poly_offsets=np.array([0, 9])),
     "poly_offsets out of bounds at polygon 0: end=9 but ring count is 3"),
]
BUILDER = [
    (dict(ring_offsets=np.array([0, 0, 4, 4])[::2]), "ring_offsets must be contiguous"),
    (dict(poly_offsets=np.array([0, 0, 1, 1])[::2]), "poly_offsets must be contiguous"),
    (dict(part_poly=np.array([0, 1, 2, 3])[::2]), "part_poly must be contiguous"),
    (dict(part_poly=np.array([U32_MAX + 1])), "part_poly values must fit u32"),
    (dict(part_poly=np.array([-1, 0])), "part_poly values must fit u32"),
    (dict(ring_offsets=np.array([1, 4])), "ring_offsets of a builder batch must start at 0"),
    (dict(ring_offsets=np.array([], dtype=np.int64), poly_offsets=np.array([0])),
     "ring_offsets of a builder batch must start at 0"),
    (dict(ring_offsets=np.array([0, 3])), "ring_offsets of a builder batch must end at the coordinate count 4, got 3"),
    (dict(poly_offsets=np.array([-1, 1])), "poly_offsets of a builder batch must start at 0"),
    (dict(poly_offsets=np.array([0, 0])), "poly_offsets of a builder batch must end at the ring count 1, got 0"),
]


@pytest.mark.parametrize("target, changes, message", [("constructor", *row) for row in BOTH + CONSTRUCTOR] +
                         [("builder", *row) for row in BOTH + BUILDER])
def test_refusals(target, changes, message):
    if target == "constructor":
        assert error_of(Engine.from_polygon_rings, **{**SQUARE, **changes}) == message
        return
    b = _PolygonBuilder()
    shifted = {**SQUARE, "xs": np.array([5.0, 6.0, 6.0, 5.0])}
    b.append_polygon_rings(**shifted)
    assert error_of(b.append_polygon_rings, **{**SQUARE, **changes}) == message
    same_dataset(b.finish(), Engine.from_polygon_rings(**shifted))


class TestPolygonBuilder:
    def test_fresh_and_finished(self):
        b = _PolygonBuilder()
        e = b.finish()
        assert (e.n(), e.extent(), repr(e)) == (0, None, "Engine(n=0, kind=Empty, dist=Unknown)")
        for again in [b.finish, lambda: b.append_polygon_rings(**SQUARE)]:
            with pytest.raises(ValueError, match=FINISHED):
                again()
        # Argument checks still come first on a finished builder.
        with pytest.raises(ValueError, match="^xs and ys must have the same length$"):
            b.append_polygon_rings(SQUARE["xs"], np.zeros(3), SQUARE["ring_offsets"], SQUARE["poly_offsets"])
        with pytest.raises(TypeError):
            _PolygonBuilder(1)

    @settings(max_examples=40, deadline=None)
    @given(st.lists(st.integers(0, 8), min_size=1, max_size=6), st.lists(st.booleans(), min_size=6, max_size=6))
    def test_batches_with_and_without_maps_equal_whole(self, sizes, with_map):
        geoms = random_geometries(np.random.default_rng(sum(sizes)), sum(sizes))
        b = _PolygonBuilder()
        start = 0
        for size, mapped in zip(sizes, with_map):
            batch = geoms[start:start + size]
            xs, ys, ring, poly, part_poly = ring_arrays(batch) if size else (*NO_RINGS, np.empty(0, np.int64))
            # Without a map every part is its own polygon, which a multipolygon is not.
            multi = any(isinstance(g, shapely.MultiPolygon) for g in batch)
            b.append_polygon_rings(xs, ys, ring, poly, part_poly if mapped or multi else None)
            start += size
        e = b.finish()
        if sum(sizes):
            same_dataset(e, Engine.from_polygon_rings(*ring_arrays(geoms)))
        else:
            assert repr(e) == "Engine(n=0, kind=Empty, dist=Unknown)"

    def test_shifted_polygon_numbers(self):
        b = _PolygonBuilder()
        b.append_polygon_rings(**{**SQUARE, "poly_offsets": np.array([0, 1, 1])}, part_poly=np.array([0, 0]))
        b.append_polygon_rings(xs=SQUARE["xs"], ys=SQUARE["ys"], ring_offsets=SQUARE["ring_offsets"],
                               poly_offsets=SQUARE["poly_offsets"], part_poly=np.array([U32_MAX - 2]))
        with pytest.raises(ValueError, match=ROW_LIMIT):
            b.append_polygon_rings(**{**SQUARE, "poly_offsets": np.array([0, 1, 1])})
        # The refused batch left nothing behind.
        e = b.finish()
        assert e.n() == 3 and e.extent() == (0.0, 0.0, 1.0, 1.0)

    def test_logical_count_past_limit_only_fails_at_finish(self):
        b = _PolygonBuilder()
        b.append_polygon_rings(**SQUARE, part_poly=np.array([U32_MAX]))
        with pytest.raises(ValueError, match=ROW_LIMIT):
            b.append_polygon_rings(*NO_RINGS)
        with pytest.raises(ValueError, match="^logical polygon dataset has 4294967296 rows"):
            b.finish()
        with pytest.raises(ValueError, match=FINISHED):
            b.finish()
