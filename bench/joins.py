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


def knn_joins_on_clusters():
    """batch_knn_join on 40 Gaussian clusters (sigma 8 over 1000 x 1000, 25k points each per
    million), queries near the points or uniform over the extent: against cKDTree.query, our
    k-d tree (the planner's choice) against our R-tree, and the scaling over the point count."""
    import numpy as np
    from scipy.spatial import cKDTree

    from common import THREADS, cluster_queries, clustered_points, compare
    from vardelin import Engine

    def distances(xs, ys, qx, qy, ids, k):
        rows = np.asarray(ids).reshape(len(qx), k)
        return np.hypot(xs[rows] - qx[:, None], ys[rows] - qy[:, None])

    xs, ys = clustered_points(1_000_000, seed=21, clusters=40, sigma=8.0)
    points = np.column_stack([xs, ys])
    tree = cKDTree(points)
    kd = Engine.from_points(xs, ys)
    rt = Engine.from_points(xs, ys)
    rt.set_index_mode("explicit:r_tree")
    where = {"near": "near the points", "off": "off the clusters"}
    for kind in ("near", "off"):
        qx, qy = cluster_queries(xs, ys, kind, 1_000_000, seed=22)
        queries = np.column_stack([qx, qy])
        for e in (kd, rt):
            e.batch_knn_join(qx[:1], qy[:1], 8)

        def against_peer(ours, peer):
            np.testing.assert_allclose(distances(xs, ys, qx, qy, ours, 8), peer[0], rtol=1e-12, atol=0)

        def against_r_tree(ours, peer):
            np.testing.assert_array_equal(distances(xs, ys, qx, qy, ours, 8), distances(xs, ys, qx, qy, peer, 8))

        compare(f"batch_knn_join 40 clusters 1Mx1M k=8, {where[kind]}", lambda: kd.batch_knn_join(qx, qy, 8),
                lambda: tree.query(queries, k=8, workers=-1), against_peer,
                note=f"k-d tree and cKDTree built before; ours {THREADS} threads, cKDTree workers=-1")
        compare(f"  the same, our k-d tree vs our R-tree", lambda: kd.batch_knn_join(qx, qy, 8),
                lambda: rt.batch_knn_join(qx, qy, 8), against_r_tree,
                note=f"both built before, {THREADS} threads each; ratio = R-tree time / k-d tree time")
    del kd, rt, tree

    for kind in ("near", "off"):
        times = []
        for n in (100_000, 1_000_000, 10_000_000):
            xs, ys = clustered_points(n, seed=23, clusters=40, sigma=8.0)
            qx, qy = cluster_queries(xs, ys, kind, 1_000_000, seed=24)
            e = Engine.from_points(xs, ys)
            e.batch_knn_join(qx[:1], qy[:1], 8)
            runs = []
            for _ in range(3):
                t = time.perf_counter()
                e.batch_knn_join(qx, qy, 8)
                runs.append(time.perf_counter() - t)
            times.append(statistics.median(runs))
            del e
        print(f"{f'  scaling, 1M queries {kind} 40 clusters of 100k / 1M / 10M':<58} "
              + " / ".join(f"{t * 1e3:.2f} ms" for t in times), flush=True)


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
    import time

    import numpy as np
    import shapely

    from common import THREADS, compare, duckdb_spatial, same_pairs, uniform_points
    from vardelin import Engine

    def polygon_world(n_polygons=100_000, extent=3000.0, seed=7):
        """Star-shaped parts of 20 vertices (closed rings), half of them with an 8-vertex hole,
        a fifth of the logical polygons made of two parts: the ring arrays and shapely's geometries."""
        rng = np.random.default_rng(seed)
        multi = rng.random(n_polygons) < 0.2
        per = np.where(multi, 2, 1)
        part_poly = np.repeat(np.arange(n_polygons), per)
        first = np.concatenate([[0], np.cumsum(per)[:-1]])
        n_parts = len(part_poly)
        centres = rng.uniform(0.0, extent, (n_polygons, 2))
        shift = np.zeros(n_parts)
        shift[first[multi] + 1] = 8.0
        cx, cy = centres[part_poly, 0] + shift, centres[part_poly, 1]
        r = rng.uniform(1.0, 3.0, n_parts)
        angles = np.linspace(0, 2 * np.pi, 20, endpoint=False) + rng.uniform(0, 0.25, (n_parts, 20))
        radii = r[:, None] * rng.uniform(0.8, 1.0, (n_parts, 20))
        ext = np.stack([cx[:, None] + radii * np.cos(angles), cy[:, None] + radii * np.sin(angles)], axis=-1)
        ext = np.concatenate([ext, ext[:, :1]], axis=1)
        holed = rng.random(n_parts) < 0.5
        h = np.linspace(0, 2 * np.pi, 8, endpoint=False)[::-1]
        hole = np.stack([(cx + 0.35 * r)[:, None] + 0.2 * r[:, None] * np.cos(h),
                         cy[:, None] + 0.2 * r[:, None] * np.sin(h)], axis=-1)
        hole = np.concatenate([hole, hole[:, :1]], axis=1)[holed]
        rings_per = 1 + holed.astype(np.int64)
        poly_offsets = np.concatenate([[0], np.cumsum(rings_per)]).astype(np.int64)
        ext_ring, hole_ring = poly_offsets[:-1], poly_offsets[:-1][holed] + 1
        sizes = np.full(poly_offsets[-1], 21, np.int64)
        sizes[hole_ring] = 9
        ring_offsets = np.concatenate([[0], np.cumsum(sizes)]).astype(np.int64)
        coords = np.empty((ring_offsets[-1], 2))
        coords[ring_offsets[ext_ring][:, None] + np.arange(21)] = ext
        coords[ring_offsets[hole_ring][:, None] + np.arange(9)] = hole
        parts = shapely.from_ragged_array(shapely.GeometryType.POLYGON, coords, (ring_offsets, poly_offsets))
        geoms = shapely.multipolygons(parts, indices=part_poly)
        geoms[~multi] = parts[first[~multi]]
        arrays = (np.ascontiguousarray(coords[:, 0]), np.ascontiguousarray(coords[:, 1]), ring_offsets, poly_offsets,
                  part_poly.astype(np.int64))
        return arrays, geoms, (cx, cy, r)


    def dense_points(parts, n, seed):
        """Points near the centre of random parts: most fall inside one or more polygons."""
        cx, cy, r = parts
        rng = np.random.default_rng(seed)
        pick = rng.integers(0, len(cx), n)
        rho = 0.6 * r[pick] * np.sqrt(rng.random(n))
        theta = rng.uniform(0, 2 * np.pi, n)
        return cx[pick] + rho * np.cos(theta), cy[pick] + rho * np.sin(theta)


    def duckdb_tables(con, geoms, xs, ys, values, validity):
        import pyarrow as pa

        polys = pa.table({"id": np.arange(len(geoms), dtype=np.int64), "wkb": shapely.to_wkb(geoms)})
        cols = {"i": np.arange(len(xs), dtype=np.int64), "x": xs, "y": ys}
        for j, (v, ok) in enumerate(zip(values, validity)):
            cols[f"v{j}"] = pa.array(v, mask=ok == 0)
        pts = pa.table(cols)
        con.register("polys_in", polys)
        con.register("pts_in", pts)
        con.execute("CREATE OR REPLACE TABLE polys AS SELECT id, ST_GeomFromWKB(wkb) AS geom FROM polys_in")
        extra = "".join(f", v{j}" for j in range(len(values)))
        con.execute(f"CREATE OR REPLACE TABLE pts AS SELECT i, ST_Point(x, y) AS geom{extra} FROM pts_in")


    arrays, geoms, parts = polygon_world()
    tree = shapely.STRtree(geoms)
    n = 1_000_000
    started = time.perf_counter()
    e = Engine.from_polygon_rings(*arrays)
    sx, sy = uniform_points(n, seed=11)
    sx, sy = sx * 3.008, sy * 3.0
    e.batch_contains(sx[:1000], sy[:1000])
    print(f"{'contains: first call, 1k points, R-tree + prepared built':<58} "
          f"{(time.perf_counter() - started) * 1e3:9.2f} ms  (engine construction included)", flush=True)
    con = duckdb_spatial(THREADS)
    note = (f"ours {THREADS} threads, built R-tree; shapely 1 thread, built STRtree, points made beforehand; "
            f"DuckDB {THREADS} threads, its join builds its index per query; machine loaded by other builds")

    def pairs_of(result):
        rows, polys = result
        return np.column_stack([rows, polys])

    for label, (xs, ys) in [("sparse", (sx, sy)), ("dense", dense_points(parts, n, 12))]:
        pts = shapely.points(xs, ys)
        ours = lambda: e.batch_contains(xs, ys)
        hits = len(ours()) // 2
        compare(f"contains 1M pts x 100k polys, {label} ({hits / n:.2f} hits/pt) vs shapely", ours,
                lambda: pairs_of(tree.query(pts, predicate="within")), same_pairs, note=note)
        duckdb_tables(con, geoms, xs, ys, [], [])
        sql = "SELECT p.i, g.id FROM pts p JOIN polys g ON ST_Contains(g.geom, p.geom)"
        duck = lambda: (lambda d: np.column_stack([d["i"], d["id"]]))(con.execute(sql).fetchnumpy())
        compare(f"contains 1M pts x 100k polys, {label} vs DuckDB", ours, duck, same_pairs, note=note)

    rng = np.random.default_rng(13)
    xs, ys = dense_points(parts, n, 14)
    pts = shapely.points(xs, ys)
    values = [rng.normal(size=n) for _ in range(4)]
    validity = [(rng.random(n) < 0.9).astype(np.uint8) for _ in range(4)]
    g = len(geoms)

    def peer_aggregate():
        rows, polys = tree.query(pts, predicate="within")
        counts = np.bincount(polys, minlength=g)
        sums = [np.bincount(polys, weights=np.where(ok[rows] != 0, v[rows], 0.0), minlength=g)
                for v, ok in zip(values, validity)]
        valid = [np.bincount(polys, weights=ok[rows] != 0, minlength=g) for ok in validity]
        return counts, sums, valid

    def check_aggregate(ours, peer):
        ids, counts, sums, valid = ours
        p_counts, p_sums, p_valid = peer
        keep = np.flatnonzero(p_counts)
        np.testing.assert_array_equal(ids, keep)
        np.testing.assert_array_equal(counts, p_counts[keep])
        np.testing.assert_allclose(sums.reshape(4, -1), np.array(p_sums)[:, keep], rtol=1e-9, atol=1e-9)
        np.testing.assert_array_equal(valid.reshape(4, -1), np.array(p_valid)[:, keep].astype(np.uint64))

    ours = lambda: e.batch_contains_aggregate(xs, ys, values, validity)
    compare("contains aggregate, 4 columns, 1M dense pts vs shapely+bincount", ours, peer_aggregate,
            check_aggregate, note=note)
    duckdb_tables(con, geoms, xs, ys, values, validity)
    sums = "".join(f", sum(p.v{j}) AS s{j}, count(p.v{j}) AS c{j}" for j in range(4))
    sql = (f"SELECT g.id, count(*) AS n{sums} FROM pts p JOIN polys g ON ST_Contains(g.geom, p.geom) "
           "GROUP BY g.id ORDER BY g.id")

    def duck_aggregate():
        d = con.execute(sql).fetchnumpy()
        counts = np.zeros(g, np.int64)
        counts[d["id"]] = d["n"]
        s = [np.zeros(g) for _ in range(4)]
        c = [np.zeros(g) for _ in range(4)]
        for j in range(4):
            s[j][d["id"]] = np.asarray(d[f"s{j}"].filled(0.0) if hasattr(d[f"s{j}"], "filled") else d[f"s{j}"])
            c[j][d["id"]] = d[f"c{j}"]
        return counts, s, c

    compare("contains aggregate, 4 columns, 1M dense pts vs DuckDB", ours, duck_aggregate, check_aggregate,
            note=note)

    for size in (100_000, 1_000_000, 10_000_000):
        qx, qy = uniform_points(size, seed=15)
        qx, qy = qx * 3.008, qy * 3.0
        times = []
        for _ in range(3):
            t = time.perf_counter()
            e.batch_contains(qx, qy)
            times.append(time.perf_counter() - t)
        print(f"{f'contains scaling, {size:,} sparse pts x 100k polys':<58} {sorted(times)[1] * 1e3:9.2f} ms",
              flush=True)


if __name__ == "__main__":
    header()
    knn_and_box_joins()
    knn_joins_on_clusters()
    distance_joins()
    containment_joins()
