"""Index builds over 1 M points: our R-tree against shapely's STRtree, our k-d tree against
scipy's cKDTree. The peers' box queries are checked against a NumPy mask, and our reported
sizes against the layouts' formulas."""
import time

import numpy as np
import shapely
from scipy.spatial import cKDTree

from common import clustered_points, header, report, uniform_points
from vardelin import Engine

N = 1_000_000
REPEAT = 5


def rtree_nodes(n):
    total, level = n, n
    while level >= 2:
        level = -(-level // 16)
        total += level
    return total


def rtree_bytes(n):
    nodes = rtree_nodes(n)
    return 8 + 32 * nodes + (2 if nodes < 16384 else 4) * nodes


def kdtree_bytes(n, histogram=True):
    ids = n * (2 if n < 65536 else 4)
    return (8 + ids + 7) // 8 * 8 + 16 * n + (4096 if histogram else 0)


def our_build(xs, ys, kind):
    """Best time of the build call alone, each on a fresh Engine."""
    best, engine = float("inf"), None
    for _ in range(REPEAT):
        engine = Engine.from_points(xs, ys)
        t = time.perf_counter()
        engine._build_index_for_calibration(kind)
        best = min(best, time.perf_counter() - t)
    return best, engine


def peer_build(make):
    best, tree = float("inf"), None
    for _ in range(REPEAT):
        t = time.perf_counter()
        tree = make()
        best = min(best, time.perf_counter() - t)
    return best, tree


def sample_boxes(xs, ys, count=5, seed=7):
    rng = np.random.default_rng(seed)
    lo_x, hi_x, lo_y, hi_y = xs.min(), xs.max(), ys.min(), ys.max()
    for _ in range(count):
        w, h = rng.uniform(0.001, 0.05) * (hi_x - lo_x), rng.uniform(0.001, 0.05) * (hi_y - lo_y)
        x0, y0 = rng.uniform(lo_x, hi_x - w), rng.uniform(lo_y, hi_y - h)
        yield x0, y0, x0 + w, y0 + h


def numpy_box(xs, ys, box):
    x0, y0, x1, y1 = box
    return np.flatnonzero((xs >= x0) & (xs <= x1) & (ys >= y0) & (ys <= y1))


def main():
    header()
    for name, (xs, ys) in [("uniform", uniform_points(N)), ("clustered", clustered_points(N))]:
        geoms = shapely.points(xs, ys)
        ours, engine = our_build(xs, ys, "r_tree")
        peer, strtree = peer_build(lambda: shapely.STRtree(geoms))
        assert engine.index_bytes() == rtree_bytes(N)
        for box in sample_boxes(xs, ys):
            hits = np.sort(strtree.query(shapely.box(*box), predicate="intersects"))
            assert np.array_equal(hits, numpy_box(xs, ys, box))
        report(f"r_tree build {name} 1M vs STRtree", ours, peer)

        pts = np.column_stack((xs, ys))
        ours, engine = our_build(xs, ys, "kd_tree")
        peer, kdtree = peer_build(lambda: cKDTree(pts))
        assert engine.index_bytes() == kdtree_bytes(N)
        for x0, y0, x1, y1 in sample_boxes(xs, ys):
            # The box's circumscribed circle, then the box test: cKDTree has no box query.
            centre = ((x0 + x1) / 2, (y0 + y1) / 2)
            cand = np.array(kdtree.query_ball_point(centre, np.hypot(x1 - x0, y1 - y0) / 2 * 1.0001), dtype=np.int64)
            inside = cand[(xs[cand] >= x0) & (xs[cand] <= x1) & (ys[cand] >= y0) & (ys[cand] <= y1)]
            assert np.array_equal(np.sort(inside), numpy_box(xs, ys, (x0, y0, x1, y1)))
        report(f"kd_tree build {name} 1M vs cKDTree", ours, peer)


if __name__ == "__main__":
    main()
