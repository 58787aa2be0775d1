"""WKB and BinaryView decoding against shapely.from_wkb followed by shapely.to_ragged_array."""
import numpy as np
import pyarrow as pa
import shapely

from common import THREADS, compare, header
from vardelin import Engine

N = 1_000_000


def polygons_with_holes(n, seed=3, hole_share=0.25):
    """n polygons of 20 stored vertices (closed shells), a quarter with a 6-vertex hole."""
    rng = np.random.default_rng(seed)
    centres = rng.uniform(0.0, 10_000.0, (n, 2))
    radii = rng.uniform(1.0, 5.0, n)
    angles = np.linspace(0.0, 2 * np.pi, 19, endpoint=False)
    shell = np.empty((n, 20, 2))
    shell[:, :19, 0] = centres[:, :1] + radii[:, None] * np.cos(angles)
    shell[:, :19, 1] = centres[:, 1:] + radii[:, None] * np.sin(angles)
    shell[:, 19] = shell[:, 0]
    holed = rng.random(n) < hole_share
    hole_angles = np.linspace(2 * np.pi, 0.0, 5, endpoint=False)
    hole = np.empty((int(holed.sum()), 6, 2))
    hole[:, :5, 0] = centres[holed, :1] + 0.3 * radii[holed, None] * np.cos(hole_angles)
    hole[:, :5, 1] = centres[holed, 1:] + 0.3 * radii[holed, None] * np.sin(hole_angles)
    hole[:, 5] = hole[:, 0]

    rings_per_poly = 1 + holed.astype(np.int64)
    ring_sizes = np.full(int(rings_per_poly.sum()), 20)
    first_ring = np.concatenate([[0], np.cumsum(rings_per_poly)[:-1]])
    ring_sizes[first_ring[holed] + 1] = 6
    coords = np.empty((int(ring_sizes.sum()), 2))
    ring_offsets = np.concatenate([[0], np.cumsum(ring_sizes)])
    shell_at = ring_offsets[first_ring]
    coords[(shell_at[:, None] + np.arange(20)).ravel()] = shell.reshape(-1, 2)
    hole_at = ring_offsets[first_ring[holed] + 1]
    coords[(hole_at[:, None] + np.arange(6)).ravel()] = hole.reshape(-1, 2)
    poly_offsets = np.concatenate([[0], np.cumsum(rings_per_poly)])
    return shapely.from_ragged_array(shapely.GeometryType.POLYGON, coords, (ring_offsets, poly_offsets))


def peer(blobs):
    geoms = shapely.from_wkb(blobs)
    return shapely.to_ragged_array(geoms)


def check(engine, ragged):
    _, coords, offsets = ragged
    assert engine.n() == len(offsets[1]) - 1
    assert engine.extent() == (coords[:, 0].min(), coords[:, 1].min(), coords[:, 0].max(), coords[:, 1].max())


def main():
    geoms = polygons_with_holes(N)
    blobs = shapely.to_wkb(geoms)
    lengths = np.fromiter((len(b) for b in blobs), dtype=np.int64, count=len(blobs))
    offsets = np.concatenate([[0], np.cumsum(lengths)]).astype(np.int64)
    data = np.frombuffer(b"".join(blobs), dtype=np.uint8)
    arr = pa.array(list(blobs), type=pa.binary_view())
    views = np.frombuffer(arr.buffers()[1], dtype=np.uint8)
    buffers = [np.frombuffer(b, dtype=np.uint8) for b in arr.buffers()[2:]]

    header()
    note = f"ours {THREADS} threads, shapely 1; peer from_wkb + to_ragged_array"
    compare("from_wkb_polygons 1M x 20 vertices", lambda: Engine.from_wkb_polygons(data, offsets), lambda: peer(blobs),
            check, note=note)
    compare("from_wkb_polygon_views 1M x 20 vertices", lambda: Engine.from_wkb_polygon_views(views, buffers),
            lambda: peer(blobs), check, note=note)


if __name__ == "__main__":
    main()
