"""Candidate subsets: masks against NumPy boolean filters, kNN over candidates against NumPy
argpartition, subsets against shapely. Ours may use every worker thread, NumPy and shapely one."""
import numpy as np
import shapely

from common import THREADS, clustered_points, compare, engine_from_geoms, header, polygons_with_holes, uniform_points
from vardelin import Engine

N = 5_000_000
NOTE = f"ours up to {THREADS} threads, peer 1"
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
        def same_distances(got, expected):
            dist = lambda rows: np.sort((ys[rows] - 500.0) ** 2 + (xs[rows] - 500.0) ** 2)
            np.testing.assert_array_equal(dist(np.array(got)), dist(expected))

        compare(f"knn_from_candidates {label} M=1M k={k}", lambda: e.knn_from_candidates(500.0, 500.0, k, candidates),
                lambda: numpy_knn(xs, ys, candidates, 500.0, 500.0, k), same_distances, note=NOTE)

        def same_masked_distances(mask, expected_mask):
            # Ties at the k-th distance may pick other rows: the kept distances must agree.
            dist = lambda rows: np.sort((ys[rows] - 500.0) ** 2 + (xs[rows] - 500.0) ** 2)
            np.testing.assert_array_equal(dist(candidates[mask]), dist(candidates[expected_mask]))

        compare(f"knn_mask_from_candidates {label} k={k}", lambda: e.knn_mask_from_candidates(500.0, 500.0, k, candidates),
                lambda: np.isin(candidates, numpy_knn(xs, ys, candidates, 500.0, 500.0, k)), same_masked_distances,
                note=NOTE)


def in_box(xs, ys, box):
    x0, y0, x1, y1 = box
    return (xs >= x0) & (xs <= x1) & (ys >= y0) & (ys <= y1)


def mask_cases(label, xs, ys):
    e = Engine.from_points(xs, ys)
    e.build_index()
    rng = np.random.default_rng(7)
    candidates = rng.integers(0, len(xs), M).astype(np.uint32)
    boxes = [(400.0, 400.0, 600.0, 600.0), (450.0, 300.0, 700.0, 550.0)]
    compare(f"range_mask {label} M=1M", lambda: e.range_mask(*boxes[0], candidates),
            lambda: in_box(xs[candidates], ys[candidates], boxes[0]), np.testing.assert_array_equal, note=NOTE)
    compare(f"fused_mask 2 boxes {label} M=1M", lambda: e.fused_mask(boxes, [], candidates),
            lambda: in_box(xs[candidates], ys[candidates], boxes[0]) & in_box(xs[candidates], ys[candidates], boxes[1]),
            np.testing.assert_array_equal, note=NOTE)


def subset_cases():
    geoms = polygons_with_holes(200_000)
    e = engine_from_geoms(geoms)
    rng = np.random.default_rng(6)
    for share in (0.01, 0.5):
        indices = rng.choice(len(geoms), int(share * len(geoms)), replace=False).astype(np.uint32)

        def peer():
            _, c, _ = shapely.to_ragged_array(geoms[indices])
            return c

        def same_coords(sub, expected):
            np.testing.assert_array_equal(np.asarray(sub.xs()), expected[:, 0])
            np.testing.assert_array_equal(np.asarray(sub.ys()), expected[:, 1])

        compare(f"subset {share:.0%} of 200k polygons vs shapely ragged", lambda: e.subset(indices), peer, same_coords,
                note=NOTE)


def main():
    header()
    mask_cases("uniform", *uniform_points(N))
    mask_cases("clustered", *clustered_points(N))
    knn_cases("uniform", *uniform_points(N))
    knn_cases("clustered", *clustered_points(N))
    subset_cases()


if __name__ == "__main__":
    main()
