"""Batch point joins against the libraries a user would otherwise reach for: scipy's cKDTree,
NumPy masks, shapely's STRtree and DuckDB's parallel spatial join. Each section below is one
family of joins; every answer is checked in full against the peer's."""
import statistics
import time

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


def _ball_pairs(found):
    """Per-query id lists (cKDTree.query_ball_point, BallTree.query_radius) as flat pairs."""
    import numpy as np

    counts = np.fromiter((len(f) for f in found), dtype=np.int64, count=len(found))
    ids = np.concatenate([np.asarray(f, dtype=np.int64) for f in found]) if len(found) else np.array([], np.int64)
    return np.column_stack([np.repeat(np.arange(len(found)), counts), ids])


def _same_pairs_off_the_rim(got, expected, distance_of, d):
    """Pair sets equal, except pairs whose two formulas' distances round to either side of d."""
    import numpy as np

    a = {tuple(p) for p in np.asarray(got).reshape(-1, 2).tolist()}
    b = {tuple(p) for p in np.asarray(expected).reshape(-1, 2).tolist()}
    odd = np.array(sorted(a ^ b), dtype=np.int64).reshape(-1, 2)
    if len(odd) and not np.all(np.abs(distance_of(odd) - d) <= 1e-9 * d):
        raise AssertionError(f"pair sets differ off the rim: {len(a)} pairs against {len(b)}")


def distance_joins():
    """batch_within_distance, planar, flipped and geographic."""
    import numpy as np
    from scipy.spatial import cKDTree
    from sklearn.neighbors import BallTree

    from common import THREADS, compare, duckdb_spatial, same_pairs, uniform_points
    from vardelin import Engine

    # Planar: 1M queries over 1M uniform points, about 10 neighbours each (our grid prebuilt,
    # as the peer's tree is).
    px, py = uniform_points(1_000_000, seed=1)
    qx, qy = uniform_points(1_000_000, seed=2)
    r = float(np.sqrt(10 / np.pi))
    e = Engine.from_points(px, py)
    e.batch_within_distance(qx[:1], qy[:1], r, False)
    kd = cKDTree(np.column_stack([px, py]))
    q = np.column_stack([qx, qy])
    compare("within_distance planar 1M x 1M, ~10 each", lambda: e.batch_within_distance(qx, qy, r, False),
            lambda: kd.query_ball_point(q, r, workers=-1), lambda a, b: same_pairs(a, _ball_pairs(b)),
            note=f"ours {THREADS} threads, grid prebuilt; cKDTree prebuilt, workers=-1, lists of lists")

    con = duckdb_spatial(8)
    con.execute("SET enable_progress_bar = false")
    import pyarrow as pa
    con.register("pts", pa.table({"id": np.arange(len(px), dtype=np.uint32), "x": px, "y": py}))
    con.register("qry", pa.table({"id": np.arange(len(qx), dtype=np.uint32), "x": qx, "y": qy}))
    con.execute("CREATE TABLE p AS SELECT id, ST_Point(x, y) AS geom FROM pts")
    con.execute("CREATE TABLE q AS SELECT id, ST_Point(x, y) AS geom FROM qry")
    sql = f"SELECT q.id AS qi, p.id AS pi FROM q JOIN p ON ST_DWithin(q.geom, p.geom, {r!r})"

    def duck():
        out = con.execute(sql).fetchnumpy()
        return np.column_stack([out["qi"], out["pi"]])

    compare("within_distance planar 1M x 1M, DuckDB ST_DWithin", lambda: e.batch_within_distance(qx, qy, r, False),
            duck, same_pairs, rounds=3,
            note="ours 8 threads; DuckDB SPATIAL_JOIN, 8 threads, geometry tables made beforehand, NumPy result")
    con.close()
    del kd, q

    # First call on a fresh engine: the grid build is part of what the user waits for.
    compare("within_distance planar 1M x 1M, first call", lambda fresh: fresh.batch_within_distance(qx, qy, r, False),
            lambda _: cKDTree(np.column_stack([px, py])).query_ball_point(np.column_stack([qx, qy]), r, workers=-1),
            lambda a, b: same_pairs(a, _ball_pairs(b)), rounds=3, setup=lambda: Engine.from_points(px, py),
            note="ours: grid build + join; peer: cKDTree build + query, workers=-1")

    times = []
    for nq in (100_000, 1_000_000, 10_000_000):
        sx, sy = uniform_points(nq, seed=3)
        runs = []
        for _ in range(3):
            t = time.perf_counter()
            e.batch_within_distance(sx, sy, 0.8, False)
            runs.append(time.perf_counter() - t)
        times.append(statistics.median(runs))
    print(f"{'  scaling, queries 100k / 1M / 10M over 1M, ~2 each':<58} "
          + " / ".join(f"{t * 1e3:.2f} ms" for t in times), flush=True)
    del e

    # Flipped: 10k points, 10M queries; our k-d tree over the queries is built inside the call.
    px, py = uniform_points(10_000, seed=4)
    qx, qy = uniform_points(10_000_000, seed=5)
    e = Engine.from_points(px, py)
    p = np.column_stack([px, py])
    q = np.column_stack([qx, qy])
    compare("within_distance flipped 10k points x 10M queries", lambda: e.batch_within_distance(qx, qy, 0.5, True),
            lambda: cKDTree(q).query_ball_point(p, 0.5, workers=-1),
            lambda a, b: same_pairs(a, _ball_pairs(b)[:, ::-1]), rounds=3,
            note="ours: tree build + join, 8 threads; peer: cKDTree(Q) build (1 thread) + query, workers=-1")
    del e, q

    # Haversine: 1M points over about 1.3M km2, 100k queries, 2 km; both sides from raw degrees.
    rng = np.random.default_rng(6)
    lon, lat = rng.uniform(0, 15, 1_000_000), rng.uniform(40, 50, 1_000_000)
    qlon, qlat = rng.uniform(0, 15, 100_000), rng.uniform(40, 50, 100_000)
    d = 2000.0

    def ours():
        g = Engine.from_points(lon, lat)
        g.set_coordinate_system("geographic")
        return g.batch_within_distance(qlon, qlat, d, False)

    def peer():
        tree = BallTree(np.radians(np.column_stack([lat, lon])), metric="haversine")
        return tree.query_radius(np.radians(np.column_stack([qlat, qlon])), r=d / 6371008.8)

    def distance_of(pairs):
        return Engine.haversine_distance(qlon[pairs[:, 0]], qlat[pairs[:, 0]], lon[pairs[:, 1]], lat[pairs[:, 1]])

    compare("within_distance haversine 1M points, 100k queries, 2 km", ours, peer,
            lambda a, b: _same_pairs_off_the_rim(a, _ball_pairs(b), distance_of, d),
            note="ours: from_points + grid build + join, 8 threads; peer: BallTree build + query_radius, 1 thread")


def containment_joins():
    """batch_contains and batch_contains_aggregate against STRtree and DuckDB."""


if __name__ == "__main__":
    header()
    knn_and_box_joins()
    distance_joins()
    containment_joins()
