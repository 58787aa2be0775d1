"""Index builds at 100k / 1M / 10M points: our R-tree against shapely's STRtree (the peer's time
includes shapely.points, which a user holding coordinate arrays must pay), our k-d tree and our
grid against scipy's cKDTree. Each build runs on a fresh Engine made untimed just before it;
the line gives our build's ns per point. Our builds use every worker thread (the R-tree's
Hilbert sort, the k-d tree's halves, the grid's cells and counting sort), cKDTree and STRtree
one. Checks: our reported sizes against the layouts' formulas, and box queries on every index
against the peer's answer or a NumPy mask."""
import math
import time

import numpy as np
import shapely
from scipy.spatial import cKDTree

from common import THREADS, clustered_points, compare, header, size_label, uniform_points
from vardelin import Engine

SIZES = (100_000, 1_000_000, 10_000_000)


def rtree_bytes(n):
    total, level = n, n
    while level >= 2:
        level = -(-level // 16)
        total += level
    return 8 + 32 * total + (2 if total < 16384 else 4) * total


def kdtree_bytes(n, histogram=True):
    ids = n * (2 if n < 65536 else 4)
    return (8 + ids + 7) // 8 * 8 + 16 * n + (4096 if histogram else 0)


def grid_bytes(n):
    side = max(1, math.ceil(math.sqrt(n)))
    return 4 * (side * side + 1 + n)


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


def check_build(xs, ys, expected_bytes, peer_box):
    """Our index answers every sample box like the peer (or NumPy) and has the promised size."""
    def check(engine, peer):
        assert engine.index_bytes() == expected_bytes
        for box in sample_boxes(xs, ys):
            got = np.sort(np.asarray(engine.range_query(*box), dtype=np.int64))
            assert np.array_equal(got, peer_box(peer, box))
    return check


def kd_box(xs, ys):
    def answer(kdtree, box):
        # The box's circumscribed circle, then the box test: cKDTree has no box query.
        x0, y0, x1, y1 = box
        centre = ((x0 + x1) / 2, (y0 + y1) / 2)
        cand = np.array(kdtree.query_ball_point(centre, np.hypot(x1 - x0, y1 - y0) / 2 * 1.0001), dtype=np.int64)
        return np.sort(cand[(xs[cand] >= x0) & (xs[cand] <= x1) & (ys[cand] >= y0) & (ys[cand] <= y1)])
    return answer


def build_cases(name, xs, ys):
    n = len(xs)
    label = size_label(n)
    pts = np.column_stack((xs, ys))
    rounds = 3 if n >= 10_000_000 else 5
    notes = f"ours {THREADS} threads, peer 1"

    def built(kind):
        def run(engine):
            engine._build_index_for_calibration(kind)
            return engine
        return run

    for kind, mode in (("kd_tree", "explicit:kd_tree"), ("grid", "explicit:grid")):
        def fresh_for(mode=mode):
            engine = Engine.from_points(xs, ys)
            engine.set_index_mode(mode)
            return engine

        expected = kdtree_bytes(n) if kind == "kd_tree" else grid_bytes(n)
        compare(f"{kind} build {name} {label} vs cKDTree", built(kind), lambda _: cKDTree(pts),
                check_build(xs, ys, expected, kd_box(xs, ys)), rounds=rounds, setup=fresh_for,
                note=notes + "; ns/point in the next line")
        ours = []
        for _ in range(3):
            engine = fresh_for()
            t = time.perf_counter()
            engine._build_index_for_calibration(kind)
            ours.append(time.perf_counter() - t)
        print(f"    {kind} build {name} {label}: {sorted(ours)[1] / n * 1e9:.2f} ns/point (median of 3)", flush=True)

    if n <= 1_000_000:
        def fresh_rtree():
            engine = Engine.from_points(xs, ys)
            engine.set_index_mode("explicit:r_tree")
            return engine

        def strtree_box(tree, box):
            return np.sort(tree.query(shapely.box(*box), predicate="intersects"))

        compare(f"r_tree build {name} {label} vs STRtree", built("r_tree"),
                lambda _: shapely.STRtree(shapely.points(xs, ys)),
                check_build(xs, ys, rtree_bytes(n), strtree_box), rounds=rounds, setup=fresh_rtree,
                note=notes + "; peer incl. shapely.points")


def main():
    header()
    for n in SIZES:
        build_cases("uniform", *uniform_points(n))
    build_cases("clustered", *clustered_points(1_000_000))


if __name__ == "__main__":
    main()
