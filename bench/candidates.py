"""Candidate subsets: masks against NumPy boolean filters, kNN over candidates against NumPy
argpartition, subsets against shapely."""
import numpy as np
import shapely

from common import best_of, clustered_points, header, report, uniform_points
from vardelin import Engine

N = 5_000_000
M = 1_000_000


def numpy_knn(xs, ys, candidates, x, y, k):
    d = (ys[candidates] - y) ** 2 + (xs[candidates] - x) ** 2
    top = np.argpartition(d, k - 1)[:k]
    return candidates[top[np.argsort(d[top])]]


def knn_cases(label, xs, ys):
    e = Engine.from_points(xs, ys)
    rng = np.random.default_rng(5)
    candidates = rng.integers(0, len(xs), M).astype(np.uint32)
    for k in (10, 10_000):
        ours, got = best_of(lambda: e.knn_from_candidates(500.0, 500.0, k, candidates))
        peer, expected = best_of(lambda: numpy_knn(xs, ys, candidates, 500.0, 500.0, k))
        dist = lambda rows: np.sort((ys[rows] - 500.0) ** 2 + (xs[rows] - 500.0) ** 2)
        np.testing.assert_array_equal(dist(np.array(got)), dist(expected))
        report(f"knn_from_candidates {label} M=1M k={k}", ours, peer)
        ours, mask = best_of(lambda: e.knn_mask_from_candidates(500.0, 500.0, k, candidates))
        peer, expected_mask = best_of(lambda: np.isin(candidates, numpy_knn(xs, ys, candidates, 500.0, 500.0, k)))
        assert mask.sum() == expected_mask.sum()
        report(f"knn_mask_from_candidates {label} k={k}", ours, peer)


def in_box(xs, ys, box):
    x0, y0, x1, y1 = box
    return (xs >= x0) & (xs <= x1) & (ys >= y0) & (ys <= y1)


def mask_cases(label, xs, ys):
    e = Engine.from_points(xs, ys)
    e.build_index()
    rng = np.random.default_rng(7)
    candidates = rng.integers(0, len(xs), M).astype(np.uint32)
    boxes = [(400.0, 400.0, 600.0, 600.0), (450.0, 300.0, 700.0, 550.0)]
    ours, got = best_of(lambda: e.range_mask(*boxes[0], candidates))
    peer, expected = best_of(lambda: in_box(xs[candidates], ys[candidates], boxes[0]))
    np.testing.assert_array_equal(got, expected)
    report(f"range_mask {label} M=1M", ours, peer)
    ours, got = best_of(lambda: e.fused_mask(boxes, [], candidates))
    peer, expected = best_of(lambda: in_box(xs[candidates], ys[candidates], boxes[0])
                             & in_box(xs[candidates], ys[candidates], boxes[1]))
    np.testing.assert_array_equal(got, expected)
    report(f"fused_mask 2 boxes {label} M=1M", ours, peer)


def polygons(n, seed=4):
    rng = np.random.default_rng(seed)
    centres = rng.uniform(0, 10_000, (n, 2))
    shells = [shapely.Point(cx, cy).buffer(rng.uniform(5, 20), quad_segs=4) for cx, cy in centres]
    holes = [shapely.Point(cx, cy).buffer(2, quad_segs=2) for cx, cy in centres]
    geoms = np.array([shapely.Polygon(s.exterior.coords, [h.exterior.coords]) for s, h in zip(shells, holes)])
    # Every fifth geometry becomes a two-part multipolygon.
    for i in range(0, n, 5):
        geoms[i] = shapely.MultiPolygon([geoms[i], shapely.affinity.translate(geoms[i], 50, 0)])
    return geoms


def subset_cases():
    geoms = polygons(200_000)
    kind, coords, offsets = shapely.to_ragged_array(geoms)
    ring, poly, multi = offsets
    part_poly = np.repeat(np.arange(len(multi) - 1), np.diff(multi)).astype(np.int64)
    e = Engine.from_polygon_rings(np.ascontiguousarray(coords[:, 0]), np.ascontiguousarray(coords[:, 1]),
                                  ring.astype(np.int64), poly.astype(np.int64), part_poly)
    rng = np.random.default_rng(6)
    for share in (0.01, 0.5):
        indices = rng.choice(len(geoms), int(share * len(geoms)), replace=False).astype(np.uint32)

        def peer():
            _, c, _ = shapely.to_ragged_array(geoms[indices])
            return c

        ours, sub = best_of(lambda: e.subset(indices))
        peer_s, expected = best_of(peer)
        np.testing.assert_array_equal(np.asarray(sub.xs()), expected[:, 0])
        report(f"subset {share:.0%} of 200k polygons", ours, peer_s)


def main():
    header()
    mask_cases("uniform", *uniform_points(N))
    mask_cases("clustered", *clustered_points(N))
    knn_cases("uniform", *uniform_points(N))
    knn_cases("clustered", *clustered_points(N))
    subset_cases()


if __name__ == "__main__":
    main()
