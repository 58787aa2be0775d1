"""Batch point joins against the libraries a user would otherwise reach for: scipy's cKDTree,
NumPy masks, shapely's STRtree and DuckDB's parallel spatial join. Each section below is one
family of joins; every answer is checked in full against the peer's."""
from common import header


def knn_and_box_joins():
    """batch_knn_join against cKDTree.query; batch_within against a NumPy mask."""
    import numpy as np
    from scipy.spatial import cKDTree

    from common import THREADS, clustered_points, compare, uniform_points
    from vardelin import Engine

    def engine_call(e, qx, qy):
        return e.batch_knn_join(qx, qy, 8)

    def same_distances(points, queries, k):
        """Blocks compared by distance: the two sides may order equal distances differently."""
        def check(ids, peer):
            dist, _ = peer
            rows = np.asarray(ids).reshape(len(queries), k)
            ours = np.hypot(points[rows, 0] - queries[:, :1], points[rows, 1] - queries[:, 1:])
            np.testing.assert_allclose(ours, dist, rtol=1e-12, atol=0)
        return check

    def half_and_half(make, n, q):
        """Points and queries from one draw: clustered queries lie in the points' clusters."""
        xs, ys = make(n + q, seed=11)
        return xs[:n].copy(), ys[:n].copy(), xs[n:].copy(), ys[n:].copy()

    def off_clusters(n, q):
        xs, ys = clustered_points(n, seed=11)
        qx, qy = clustered_points(q, seed=12)
        return xs, ys, qx, qy

    threads = f"ours {THREADS} threads, cKDTree workers=-1"
    cases = [("uniform", 100_000, 100_000, lambda n, q: half_and_half(uniform_points, n, q)),
             ("uniform", 1_000_000, 1_000_000, lambda n, q: half_and_half(uniform_points, n, q)),
             ("clustered", 1_000_000, 1_000_000, lambda n, q: half_and_half(clustered_points, n, q)),
             ("uniform", 10_000_000, 1_000_000, lambda n, q: half_and_half(uniform_points, n, q)),
             ("clustered, queries off the clusters", 1_000_000, 1_000_000, off_clusters)]
    for name, n, q, make in cases:
        label = f"{n // 1_000_000}M" if n >= 1_000_000 else f"{n // 1000}k"
        label += f"x{q // 1_000_000}M" if q >= 1_000_000 else f"x{q // 1000}k"
        main_case = n == q == 1_000_000 and "off" not in name
        rounds = 5 if main_case or n < 1_000_000 else 2
        xs, ys, qx, qy = make(n, q)
        points, queries = np.column_stack([xs, ys]), np.column_stack([qx, qy])
        check = same_distances(points, queries, 8)
        engine = Engine.from_points(xs, ys)
        engine.batch_knn_join(qx[:1], qy[:1], 8)
        tree = cKDTree(points)
        compare(f"batch_knn_join {name} {label} k=8, built",
                lambda: engine.batch_knn_join(qx, qy, 8),
                lambda: tree.query(queries, k=8, workers=-1), check, rounds=rounds,
                note=f"index built before on both sides; {threads}")
        if not main_case:
            continue
        # Cold: a fresh Engine (copy and statistics, untimed, as the peer's array is given)
        # whose first call builds the k-d tree, against cKDTree's build and query.
        compare(f"batch_knn_join {name} {label} k=8, first call",
                lambda e: engine_call(e, qx, qy),
                lambda _: cKDTree(points).query(queries, k=8, workers=-1), check,
                rounds=rounds, setup=lambda: Engine.from_points(xs, ys),
                note=f"ours: k-d tree build + join; peer: cKDTree build + query; {threads}")

    xs, ys = uniform_points(10_000_000, seed=13)
    engine = Engine.from_points(np.zeros(1), np.zeros(1))
    box = (250.0, 400.0, 650.0, 700.0)

    def mask():
        return np.flatnonzero((xs >= box[0]) & (xs <= box[2]) & (ys >= box[1]) & (ys <= box[3]))

    compare("batch_within 10M points, 12% selected", lambda: engine.batch_within(xs, ys, *box), mask,
            lambda a, b: np.testing.assert_array_equal(a, b),
            note=f"positions: ours uint64, NumPy int64; ours {THREADS} threads, NumPy 1 thread")


def distance_joins():
    """batch_within_distance, planar, flipped and geographic."""


def containment_joins():
    """batch_contains and batch_contains_aggregate against STRtree and DuckDB."""


if __name__ == "__main__":
    header()
    knn_and_box_joins()
    distance_joins()
    containment_joins()
