"""WKB and BinaryView columns: decoded datasets against shapely's ragged arrays, every refusal,
hostile input and the builder's append_wkb."""
import struct

import numpy as np
import pytest
import shapely

from polygon_data import binary_view_column, error_of, random_geometries, ring_arrays, same_dataset, wkb_column
from vardelin._core import Engine, _PolygonBuilder

EMPTY_POLYGON = bytes([1, 3, 0, 0, 0, 0, 0, 0, 0])
SQUARE = shapely.to_wkb(shapely.box(0, 0, 1, 1), byte_order=1)
LINE = shapely.to_wkb(shapely.LineString([(0, 0), (1, 1)]))
UNIT = (0.0, 0.0, 1.0, 1.0)


def expected(geoms):
    """The dataset shapely's ragged arrays describe, built through the ring-array constructor."""
    return Engine.from_polygon_rings(*ring_arrays(geoms))


def mixed_order_blobs(geoms, rng):
    return [shapely.to_wkb(g, byte_order=int(rng.integers(0, 2))) for g in geoms]


def from_column(blobs):
    return Engine.from_wkb_polygons(*wkb_column(blobs))


def from_views(blobs):
    return Engine.from_wkb_polygon_views(*binary_view_column(blobs))


def polygon(ring_count, points, order=1):
    """A Polygon of equal rings in the given byte order (1 little-endian, anything else big)."""
    end = "<" if order == 1 else ">"
    ring = struct.pack(end + "I", points) + struct.pack(end + "dd", 0.5, 0.5) * points
    return bytes([order]) + struct.pack(end + "II", 3, ring_count) + ring * ring_count


def multipolygon(members, order=1):
    return bytes([order]) + struct.pack("<II" if order == 1 else ">II", 6, len(members)) + b"".join(members)


class TestDecoding:
    @pytest.mark.parametrize("source", [from_column, from_views])
    def test_against_shapely(self, source):
        rng = np.random.default_rng(17)
        geoms = random_geometries(rng, 1500, empty_share=0.05)
        e = source(mixed_order_blobs(geoms, rng))
        same_dataset(e, expected(geoms))
        assert e.n() == len(ring_arrays(geoms)[3]) - 1
        assert e.extent() == tuple(shapely.total_bounds(geoms))
        assert e.take_metrics()["construction"]["wkb_decode_ns"] > 0
        # Without multipolygons or empties the decoder keeps no part map.
        polygons = random_geometries(rng, 300, multi_share=0.0)
        same_dataset(source(list(shapely.to_wkb(polygons))), expected(polygons))

    def test_nan_coordinates_are_skipped_per_axis(self):
        nan = bytes([1]) + struct.pack("<III", 3, 1, 3) + struct.pack("<6d", np.nan, 1, 2, 3, 4, np.nan)
        assert from_column([nan]).extent() == (2.0, 1.0, 4.0, 3.0)

    def test_inline_out_of_line_and_shared_views(self):
        # Empty geometries are 9 bytes, stored inside their descriptors; the rest in buffers.
        blobs = [EMPTY_POLYGON, SQUARE, EMPTY_POLYGON + b"abc", SQUARE + b"\x00" * 7]
        e = Engine.from_wkb_polygon_views(*binary_view_column(blobs))
        assert (e.n(), e.extent()) == (4, UNIT)
        # Inline only: no buffer is needed.
        assert Engine.from_wkb_polygon_views(binary_view_column([EMPTY_POLYGON])[0], []).n() == 1
        views, buffers = binary_view_column([SQUARE])
        e = Engine.from_wkb_polygon_views(np.tile(views, 10_000), buffers)
        assert (e.n(), e.extent()) == (10_000, UNIT)

    def test_empty_columns(self):
        for offsets in [np.empty(0, np.int64), np.array([7])]:
            e = Engine.from_wkb_polygons(np.frombuffer(SQUARE, np.uint8), offsets)
            assert (repr(e), e.extent()) == ("Engine(n=0, kind=Empty, dist=Unknown)", None)
            assert list(e.take_metrics()["construction"]) == ["wkb_decode_ns", "statistics_ns"]
        assert Engine.from_wkb_polygon_views(np.zeros(15, np.uint8), []).n() == 0

    def test_offsets_need_not_start_at_zero_and_input_is_copied(self):
        data = np.frombuffer(b"\xff" * 100 + SQUARE + b"\xee" * 5, np.uint8).copy()
        e = Engine.from_wkb_polygons(data, np.array([100, 100 + len(SQUARE)]))
        data[:] = 0
        assert e.extent() == UNIT and e.xs().tolist() == [1.0, 1.0, 0.0, 0.0, 1.0]


class TestMalformed:
    @pytest.mark.parametrize("blob, message", [
        (b"", "truncated WKB"),
        (b"\x01\x03\x00\x00", "truncated WKB"),
        (polygon(1, 3)[:-1], "truncated WKB"),
        (polygon(1, 3)[:9] + struct.pack("<I", 4000) + polygon(1, 3)[13:], "truncated WKB"),
        (polygon(1, 3)[:5] + struct.pack("<I", 2**32 - 1) + polygon(1, 3)[9:], "truncated WKB"),
        (multipolygon([polygon(1, 3)])[:9] + b"\x01\x03", "truncated WKB"),
        (multipolygon([polygon(0, 0)])[:5] + struct.pack("<I", 2) + polygon(0, 0), "truncated WKB"),
        (bytes([0, 3, 0, 0, 0]), "unsupported WKB geometry type 50331648"),
        (shapely.to_wkb(shapely.Point(1, 2)), "unsupported WKB geometry type 1"),
        (LINE, "unsupported WKB geometry type 2"),
        (shapely.to_wkb(shapely.Polygon([(0, 0, 1), (1, 0, 1), (1, 1, 1)]), flavor="iso"),
         "unsupported WKB geometry type 1003"),
        (shapely.to_wkb(shapely.GeometryCollection([shapely.box(0, 0, 1, 1)])),
         "unsupported WKB geometry type 7"),
        (multipolygon([polygon(1, 3), shapely.to_wkb(shapely.Point(0, 0))]), "MultiPolygon member is not a Polygon"),
        (multipolygon([multipolygon([])]), "MultiPolygon member is not a Polygon"),
    ])
    def test_blob_messages(self, blob, message):
        assert error_of(from_column, [blob]) == message
        if len(blob) > 12:
            assert error_of(from_views, [blob]) == message

    def test_byte_order_per_member(self):
        # A big-endian header (and a byte-order byte of 2, which is big-endian too) over
        # little-endian members, and the other way round.
        for outer, inner in [(0, 1), (1, 0), (2, 1)]:
            blob = multipolygon([polygon(1, 3, inner), polygon(2, 4, 1 - inner if inner in (0, 1) else 0)], outer)
            assert from_column([blob]).n() == 2

    def test_one_bad_geometry_anywhere_fails_the_column(self):
        for at in [0, 2500, 4999]:
            blobs = [SQUARE] * 5000
            blobs[at] = LINE
            assert error_of(from_column, blobs) == "unsupported WKB geometry type 2"
        # Of two, the first in column order is reported, whichever part of the column decodes first.
        blobs[10], blobs[4000] = SQUARE[:20], LINE
        assert error_of(from_column, blobs) == error_of(from_views, blobs) == "truncated WKB"
        # Also when the earlier fault lies late in its chunk and the later one early in the last
        # chunk, so that a worker meets the later one first.
        blobs = [SQUARE] * 50_000
        blobs[6200], blobs[43_800] = SQUARE[:20], LINE
        for _ in range(20):
            assert error_of(from_column, blobs) == error_of(from_views, blobs) == "truncated WKB"

    @pytest.mark.parametrize("offsets, message", [
        ([5, 5], "truncated WKB"),
        ([0, 9, 5], "WKB offset out of bounds"),
        ([0, -1], "WKB offset out of bounds"),
        ([-9, 9], "WKB offset out of bounds"),
        ([0, 10], "WKB offset out of bounds"),
    ])
    def test_offsets(self, offsets, message):
        data = np.frombuffer(EMPTY_POLYGON, np.uint8)
        assert error_of(Engine.from_wkb_polygons, data, np.array(offsets, np.int64)) == message

    def test_views(self):
        views, buffers = binary_view_column([SQUARE])
        room = len(buffers[0]) - len(SQUARE)
        # Descriptor words: length, prefix, buffer index, offset.
        for words, bufs, message in [({2: 1}, buffers, "WKB view names a missing buffer"),
                                     ({}, [], "WKB view names a missing buffer"),
                                     ({3: room + 1}, buffers, "WKB view offset out of bounds"),
                                     ({0: 2**32 - 1, 3: 2**32 - 1}, buffers, "WKB view offset out of bounds")]:
            bad = views.view("<u4").copy()
            for at, value in words.items():
                bad[at] = value
            assert error_of(Engine.from_wkb_polygon_views, bad.view(np.uint8), bufs) == message
        # A zero-length descriptor (an Arrow null slot) is an empty blob.
        assert error_of(Engine.from_wkb_polygon_views, np.zeros(16, np.uint8), []) == "truncated WKB"
        # Offset plus length exactly at the buffer's end is accepted.
        exact = views.view("<u4").copy()
        exact[3] = room
        buf = np.concatenate([np.zeros(room, np.uint8), np.frombuffer(SQUARE, np.uint8)])
        assert Engine.from_wkb_polygon_views(exact.view(np.uint8), [buf]).n() == 1

    def test_views_promising_more_than_memory_holds(self):
        # A million descriptors over one 64 KiB ring: 4 * 10^9 coordinates, far beyond this
        # machine. The sizes are refused before anything is allocated.
        views, buffers = binary_view_column([polygon(1, 4096)])
        with pytest.raises(MemoryError):
            Engine.from_wkb_polygon_views(np.tile(views, 1_000_000), buffers)


class TestArguments:
    def test_contiguity(self):
        data, offsets = wkb_column([SQUARE, SQUARE])
        views, buffers = binary_view_column([SQUARE, SQUARE])
        strided = [np.repeat(a, 2)[::2] for a in (data, offsets, views)]
        bad = [buffers[0], np.repeat(buffers[0], 2)[::2], np.repeat(buffers[0], 3)[::3]]
        for fn, args, message in [
            (Engine.from_wkb_polygons, (strided[0], offsets), "data must be a contiguous uint8 array"),
            (Engine.from_wkb_polygons, (strided[0], strided[1]), "data must be a contiguous uint8 array"),
            (Engine.from_wkb_polygons, (data, strided[1]), "offsets must be a contiguous int64 array"),
            (Engine.from_wkb_polygon_views, (strided[2], buffers), "views must be a contiguous uint8 array"),
            (Engine.from_wkb_polygon_views, (views, bad), "each buffer must be a contiguous uint8 array"),
            (Engine.from_wkb_polygon_views, (strided[2], bad), "views must be a contiguous uint8 array"),
        ]:
            assert error_of(fn, *args) == message
        assert Engine.from_wkb_polygon_views(views=views, buffers=tuple(buffers)).n() == 2

    def test_type_errors(self):
        data, offsets = wkb_column([SQUARE])
        views, buffers = binary_view_column([SQUARE])
        for call in [lambda: Engine.from_wkb_polygons(data, offsets.astype(np.int32)),
                     lambda: Engine.from_wkb_polygons(data.reshape(1, -1), offsets),
                     lambda: Engine.from_wkb_polygon_views(views.view(np.int8), buffers)]:
            with pytest.raises(TypeError):
                call()
        with pytest.raises(TypeError, match="^argument 'buffers': Can't extract `str` to `Vec`$"):
            Engine.from_wkb_polygon_views(views, "abc")
        for bad in [[buffers[0].astype(np.int8)], [buffers[0].reshape(1, -1)], [[1, 2]], 5, None]:
            with pytest.raises(TypeError, match="^argument 'buffers': "):
                Engine.from_wkb_polygon_views(views, bad)


class TestBuilderAppendWkb:
    def test_batches_equal_whole(self):
        rng = np.random.default_rng(29)
        geoms = random_geometries(rng, 1500, empty_share=0.1)
        blobs = mixed_order_blobs(geoms, rng)
        b = _PolygonBuilder()
        cuts = [0, 0, 1, 2, 3, 700, 1000, 1499, 1500, 1500]
        for lo, hi in zip(cuts, cuts[1:]):
            b.append_wkb(*wkb_column(blobs[lo:hi]))
        e = b.finish()
        same_dataset(e, from_column(blobs))
        same_dataset(e, expected(geoms))
        assert e.take_metrics()["construction"]["wkb_decode_ns"] > 0

    def test_wkb_and_ring_batches_mix(self):
        geoms = random_geometries(np.random.default_rng(31), 600)
        b = _PolygonBuilder()
        b.append_wkb(*wkb_column(list(shapely.to_wkb(geoms[:300]))))
        b.append_polygon_rings(*ring_arrays(geoms[300:]))
        same_dataset(b.finish(), expected(geoms))

    def test_trailing_empty_geometries_in_batches(self):
        empty_multi = shapely.to_wkb(shapely.from_wkt("MULTIPOLYGON EMPTY"))
        blobs = [SQUARE, empty_multi, SQUARE, empty_multi, empty_multi]
        b = _PolygonBuilder()
        for lo, hi in [(0, 2), (2, 3), (3, 5)]:
            b.append_wkb(*wkb_column(blobs[lo:hi]))
        same_dataset(b.finish(), from_column(blobs))

    def test_failed_decode_changes_nothing_and_finish_comes_last(self):
        b = _PolygonBuilder()
        data, offsets = wkb_column([SQUARE])
        b.append_wkb(data, offsets)
        for args, message in [(wkb_column([SQUARE, LINE]), "unsupported WKB geometry type 2"),
                              ((np.repeat(data, 2)[::2], offsets), "data must be a contiguous uint8 array"),
                              ((data, np.array([0, 0, 77, 77])[::2]), "offsets must be a contiguous int64 array")]:
            assert error_of(b.append_wkb, *args) == message
        e = b.finish()
        assert e.n() == 1 and e.extent() == UNIT
        assert error_of(b.append_wkb, data, offsets) == "polygon builder is already finished"
        # A decoding error is reported before the finished state.
        assert error_of(b.append_wkb, np.zeros(3, np.uint8), np.array([0, 3])) == "truncated WKB"
