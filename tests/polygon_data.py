"""Random polygons with holes and multipolygons, their ragged arrays and WKB columns, and the
comparisons the dataset tests share."""
import numpy as np
import pyarrow as pa
import pytest
import shapely


def jittered_shell(rng, cx, cy, max_vertices):
    """A radius r from 1 to 3 and a shell of 5 to max_vertices vertices at even angles jittered
    by up to 0.3 around (cx, cy): the disc of radius 0.7 r about the centre stays inside."""
    r = rng.uniform(1.0, 3.0)
    k = int(rng.integers(5, max_vertices + 1))
    angles = np.linspace(0, 2 * np.pi, k, endpoint=False) + rng.uniform(0, 0.3, k)
    return r, np.column_stack([cx + r * np.cos(angles), cy + r * np.sin(angles)])


def random_geometries(rng, n, multi_share=0.3, empty_share=0.0, box=(-500, -100, 500, 300)):
    """Polygons with holes, multipolygons of up to three such polygons, and empty ones, centred in
    the box (the smaller it is, the more of them overlap)."""
    def polygon(cx, cy):
        # Jittered even angles keep the centre, and so the hole, inside the shell: GEOS bounds
        # only the shell.
        r, shell = jittered_shell(rng, cx, cy, 11)
        holes = []
        if rng.random() < 0.5:
            holes.append(shapely.Point(cx, cy).buffer(r * 0.2, quad_segs=2).exterior.coords)
        return shapely.Polygon(shell, holes)

    out = []
    for _ in range(n):
        cx, cy = rng.uniform(box[0], box[2]), rng.uniform(box[1], box[3])
        if rng.random() < empty_share:
            out.append(shapely.from_wkt("MULTIPOLYGON EMPTY" if rng.random() < 0.5 else "POLYGON EMPTY"))
        elif rng.random() < multi_share:
            k = int(rng.integers(1, 4))
            out.append(shapely.MultiPolygon([polygon(cx + 10 * j, cy) for j in range(k)]))
        else:
            out.append(polygon(cx, cy))
    return np.array(out, dtype=object)


def triangle_holed_geometries(rng, n, multi_share=0.3, box=(-500, -100, 500, 300)):
    """Polygons of five to nine vertices with one to three triangular holes, and multipolygons of
    up to three such parts: each part has far fewer edges than the banded test takes, so that
    containment is decided ring by ring."""
    def polygon(cx, cy):
        # With at most 2 pi / 5 + 0.3 between jittered angles the shell holds the disc of radius
        # 0.7 r, and the holes reach 0.55 r from the centre, apart from each other.
        r, shell = jittered_shell(rng, cx, cy, 9)
        holes = []
        for j in range(int(rng.integers(1, 4))):
            hx, hy = cx + 0.4 * r * np.cos(2 * np.pi * j / 3), cy + 0.4 * r * np.sin(2 * np.pi * j / 3)
            turn = rng.uniform(0, 2 * np.pi) + np.array([0.0, 2.0, 4.0]) * np.pi / 3 * rng.choice([-1, 1])
            holes.append(np.column_stack([hx + 0.15 * r * np.cos(turn), hy + 0.15 * r * np.sin(turn)]))
        return shapely.Polygon(shell, holes)

    out = []
    for _ in range(n):
        cx, cy = rng.uniform(box[0], box[2]), rng.uniform(box[1], box[3])
        if rng.random() < multi_share:
            out.append(shapely.MultiPolygon([polygon(cx + 10 * j, cy) for j in range(int(rng.integers(1, 4)))]))
        else:
            out.append(polygon(cx, cy))
    return np.array(out, dtype=object)


def hole_points(rng, geoms, per_hole):
    """Points scattered around the centroid of every hole, most of them inside it."""
    parts = shapely.get_parts(geoms)
    holes = shapely.polygons([shapely.get_interior_ring(p, i) for p in parts
                              for i in range(shapely.get_num_interior_rings(p))])
    centres = shapely.get_coordinates(shapely.centroid(holes))
    pick = np.repeat(np.arange(len(holes)), per_hole)
    noise = rng.normal(0, 1, (len(pick), 2)) * (0.3 * np.sqrt(shapely.area(holes)))[pick, None]
    return centres[pick, 0] + noise[:, 0], centres[pick, 1] + noise[:, 1]


def ring_arrays(geoms):
    """shapely's ragged arrays as (xs, ys, ring_offsets, poly_offsets, part_poly)."""
    kind, coords, offsets = shapely.to_ragged_array(geoms)
    xs = np.ascontiguousarray(coords[:, 0])
    ys = np.ascontiguousarray(coords[:, 1])
    if kind == shapely.GeometryType.POLYGON:
        ring, poly = offsets
        part_poly = np.arange(len(poly) - 1, dtype=np.int64)
    else:
        ring, poly, multi = offsets
        part_poly = np.repeat(np.arange(len(multi) - 1, dtype=np.int64), np.diff(multi))
    return xs, ys, ring.astype(np.int64), poly.astype(np.int64), part_poly


def open_ring_arrays(geoms):
    """ring_arrays with every ring's closing coordinate dropped: rings may be stored open."""
    xs, ys, ring, poly, part_poly = ring_arrays(geoms)
    keep = np.ones(len(xs), bool)
    keep[ring[1:] - 1] = False
    return xs[keep], ys[keep], ring - np.arange(len(ring)), poly, part_poly


def same_dataset(a, b):
    assert a.n() == b.n()
    assert a.extent() == b.extent()
    assert repr(a) == repr(b)
    if hasattr(a, "xs"):
        np.testing.assert_array_equal(np.asarray(a.xs()), np.asarray(b.xs()))
        np.testing.assert_array_equal(np.asarray(a.ys()), np.asarray(b.ys()))


def unaligned(values, dtype):
    """A contiguous array one byte past its type's alignment, as np.frombuffer with an offset makes."""
    values = np.asarray(values, dtype)
    out = np.frombuffer(bytearray(values.nbytes + 1), dtype, len(values), offset=1)
    out.setflags(write=True)
    out[:] = values
    assert not out.flags.aligned
    return out


def error_of(call, *args, **kwargs):
    """The message of the ValueError the call raises."""
    with pytest.raises(ValueError) as info:
        call(*args, **kwargs)
    return str(info.value)


def wkb_column(blobs):
    """A contiguous WKB column: the bytes of all blobs and int64 offsets."""
    lengths = np.array([len(b) for b in blobs], dtype=np.int64)
    offsets = np.concatenate([[0], np.cumsum(lengths)]).astype(np.int64)
    data = np.frombuffer(b"".join(blobs), dtype=np.uint8) if len(blobs) else np.empty(0, np.uint8)
    return data, offsets


def binary_view_column(blobs):
    """pyarrow's BinaryView descriptors and data buffers for the blobs (inline when <= 12 bytes)."""
    arr = pa.array(list(blobs), type=pa.binary_view())
    assert arr.offset == 0
    bufs = arr.buffers()
    views = np.frombuffer(bufs[1], dtype=np.uint8)
    return views, [np.frombuffer(b, dtype=np.uint8) for b in bufs[2:]]
