"""Polygon areas, pairwise intersection areas and convex hull areas against shapely 2 and scipy's
Qhull; every answer is checked in full against the peer's before anything is timed."""
import numpy as np
import shapely
from scipy.spatial import ConvexHull

from common import THREADS, compare, header
from vardelin._core import Engine

# A pair's intersection area is measured on an integer grid of 2^31 - 2 units over the pair's
# box: at most sqrt(2) units times the two perimeters away from the exact area.
GRID_UNITS = 2**31 - 2


def polygon_arrays(n, seed, extent=1000.0, multi_share=0.2):
    """n star-shaped polygons of 8 to 15 vertices (radius 1 to 3), half with a hexagonal hole,
    grouped into logical polygons of one part or, for `multi_share` of them, two parts side by
    side. Returns the ring arrays, the part map and the shapely MultiPolygons."""
    rng = np.random.default_rng(seed)
    cx, cy = rng.uniform(0, extent, n), rng.uniform(0, extent, n)
    radius = rng.uniform(1.0, 3.0, n)
    k = rng.integers(8, 16, n)
    holed = rng.random(n) < 0.5
    # Two consecutive parts form one logical polygon where the draw says so; the second lies 8
    # to the right of the first, beyond the reach of both (radius at most 3.15), so the parts
    # never overlap and the MultiPolygon is valid.
    pair = (rng.random(n) < multi_share / 2) & (np.arange(n) % 2 == 0)
    pair[-1] = False
    joined = np.zeros(n, bool)
    joined[1:] = pair[:-1]
    cx[joined], cy[joined] = cx[np.flatnonzero(joined) - 1] + 8.0, cy[np.flatnonzero(joined) - 1]
    # Every ring stored closed: the shell's k vertices and the hole's 6, each plus the first again.
    shell_len, hole_len = k + 1, np.where(holed, 7, 0)
    ring_lens = np.column_stack([shell_len, hole_len]).ravel()
    ring_lens = ring_lens[ring_lens > 0]
    ring_offsets = np.concatenate([[0], np.cumsum(ring_lens)]).astype(np.int64)
    poly_offsets = np.concatenate([[0], np.cumsum(1 + holed)]).astype(np.int64)

    part = np.repeat(np.arange(n), shell_len + hole_len)
    start = np.repeat(np.concatenate([[0], np.cumsum(shell_len + hole_len)[:-1]]), shell_len + hole_len)
    pos = np.arange(len(part)) - start
    in_shell = pos < shell_len[part]
    step = np.where(in_shell, pos % k[part], (pos - shell_len[part]) % 6)
    count = np.where(in_shell, k[part], 6)
    angle = 2 * np.pi * step / count
    jitter = rng.uniform(0.0, 0.25, len(part))
    # The hole turns clockwise inside the shell; the shell's vertex keeps its jitter at closing.
    r = np.where(in_shell, radius[part] * (0.8 + jitter), 0.3 * radius[part])
    sign = np.where(in_shell, 1.0, -1.0)
    xs = cx[part] + r * np.cos(angle)
    ys = cy[part] + sign * r * np.sin(angle)
    closing = ring_offsets[1:] - 1
    xs[closing], ys[closing] = xs[ring_offsets[:-1]], ys[ring_offsets[:-1]]

    part_poly = np.cumsum(~joined) - 1
    multi_offsets = np.concatenate([np.flatnonzero(~joined), [n]]).astype(np.int64)
    geoms = shapely.from_ragged_array(shapely.GeometryType.MULTIPOLYGON, np.column_stack([xs, ys]),
                                      (ring_offsets, poly_offsets, multi_offsets))
    return xs, ys, ring_offsets, poly_offsets, part_poly.astype(np.int64), geoms


def polygon_areas():
    for n in (100_000, 1_000_000):
        xs, ys, ring, poly, part_poly, geoms = polygon_arrays(n, seed=1)
        e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly)
        compare(f"polygon_areas, {n // 1000}k parts ({len(geoms)} polygons)", e.polygon_areas,
                lambda: shapely.area(geoms),
                lambda a, b: np.testing.assert_allclose(a, b, rtol=1e-12, atol=0),
                note=f"ours {THREADS} threads; shapely 1 thread on ready geometries")


def pairwise_intersection_areas():
    xs, ys, ring, poly, part_poly, geoms = polygon_arrays(100_000, seed=2)
    e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly)
    i, j = shapely.STRtree(geoms).query(geoms, predicate="intersects")
    keep = i < j
    i, j = i[keep].astype(np.uint32), j[keep].astype(np.uint32)
    a, b = geoms[i], geoms[j]

    def within_grid_bound(ours, peer):
        box = np.column_stack([shapely.bounds(a), shapely.bounds(b)])
        side = np.maximum(np.maximum(box[:, 2], box[:, 6]) - np.minimum(box[:, 0], box[:, 4]),
                          np.maximum(box[:, 3], box[:, 7]) - np.minimum(box[:, 1], box[:, 5]))
        na, nb = shapely.get_num_geometries(a), shapely.get_num_geometries(b)
        bound = np.sqrt(2) * side / GRID_UNITS * (nb * shapely.length(a) + na * shapely.length(b))
        bad = np.abs(ours - peer) > bound + 1e-12 * peer
        if bad.any():
            raise AssertionError(f"{bad.sum()} pair areas beyond the grid bound")

    compare(f"pairwise intersection areas, self-join of 100k ({len(i)} pairs)",
            lambda: e.polygon_pairs_intersection_area(i, j),
            lambda: shapely.area(shapely.intersection(a, b)), within_grid_bound,
            note=f"ours {THREADS} threads; shapely 1 thread on the pairs' geometries taken beforehand")


def convex_hull_area_of():
    rng = np.random.default_rng(3)
    for name, xs, ys in (("uniform", rng.uniform(0, 1000, 1_000_000), rng.uniform(0, 1000, 1_000_000)),
                         ("gaussian", rng.normal(0, 100, 1_000_000), rng.normal(0, 100, 1_000_000))):
        points = np.column_stack([xs, ys])
        compare(f"convex_hull_area_of, 1M {name} points", lambda: Engine.convex_hull_area_of(xs, ys),
                lambda: ConvexHull(points).volume,
                lambda o, p: np.testing.assert_allclose(o, p, rtol=1e-12, atol=0),
                note="both 1 thread; Qhull on a ready (n, 2) array")


def group_convex_hull_areas():
    rng = np.random.default_rng(4)
    groups, size = 100_000, 10
    cx, cy = np.repeat(rng.uniform(0, 1000, groups), size), np.repeat(rng.uniform(0, 1000, groups), size)
    xs, ys = cx + rng.normal(0, 2, groups * size), cy + rng.normal(0, 2, groups * size)
    offsets = np.arange(0, groups * size + 1, size, dtype=np.int64)
    coords, group_of = np.column_stack([xs, ys]), np.repeat(np.arange(groups), size)
    compare("group_convex_hull_areas, 100k groups x 10 points",
            lambda: Engine.group_convex_hull_areas(xs, ys, offsets),
            lambda: shapely.area(shapely.convex_hull(shapely.multipoints(coords, indices=group_of))),
            lambda o, p: np.testing.assert_allclose(o, p, rtol=1e-12, atol=0),
            note=f"ours {THREADS} threads; shapely 1 thread, building the multipoints included")


if __name__ == "__main__":
    header()
    polygon_areas()
    pairwise_intersection_areas()
    convex_hull_area_of()
    group_convex_hull_areas()
