"""Polygon joins against shapely's STRtree and DuckDB's spatial join; every answer is checked
in full against the peer's."""
import statistics
import time

import numpy as np

from common import ROUNDS, THREADS, compare, duckdb_spatial, header, same_pairs, uniform_points


def nearest_polygons():
    """batch_knn_to_polygons and its sorted form: k = 1 against shapely's STRtree.query_nearest,
    k = 8 alone, and the sorted form against the blocks sorted with np.lexsort."""
    import os

    import numpy as np
    import shapely

    from common import ROUNDS, THREADS, _fmt, compare, uniform_points
    from vardelin._core import Engine

    def polygons(n, seed=3):
        """n logical polygons over [0, 1000]^2: star-shaped shells of 8 to 15 vertices, a third
        with a hole, a fifth with a second part; returned as ring arrays and shapely geometries."""
        rng = np.random.default_rng(seed)
        parts = 1 + (rng.random(n) < 0.2)
        owner = np.repeat(np.arange(n), parts)
        m = len(owner)
        cx = rng.uniform(0, 1000, n)[owner] + np.where(np.r_[False, owner[1:] == owner[:-1]], 2.5, 0.0)
        cy = rng.uniform(0, 1000, n)[owner]
        radius = rng.uniform(0.3, 1.2, m)
        sides = rng.integers(8, 16, m)
        holed = rng.random(m) < 0.33
        rings = np.column_stack([sides, np.where(holed, 4, 0)]).ravel()
        rings = rings[rings > 0]
        ring_offsets = np.r_[0, np.cumsum(rings)].astype(np.int64)
        poly_offsets = np.r_[0, np.cumsum(1 + holed)].astype(np.int64)
        xs, ys = np.empty(ring_offsets[-1]), np.empty(ring_offsets[-1])
        ring = 0
        for p in range(m):
            k = sides[p]
            # Even angles, jittered: the shell keeps the centre, and so the hole, inside it.
            a = np.linspace(0, 2 * np.pi, k, endpoint=False) + rng.uniform(0, 0.3, k)
            r = radius[p] * rng.uniform(0.6, 1.0, k)
            s = ring_offsets[ring]
            xs[s:s + k], ys[s:s + k] = cx[p] + r * np.cos(a), cy[p] + r * np.sin(a)
            ring += 1
            if holed[p]:
                h = 0.15 * radius[p]
                s = ring_offsets[ring]
                xs[s:s + 4] = cx[p] + np.array([-h, h, h, -h])
                ys[s:s + 4] = cy[p] + np.array([-h, -h, h, h])
                ring += 1
        multi = np.r_[0, np.cumsum(parts)].astype(np.int64)
        geoms = shapely.from_ragged_array(shapely.GeometryType.MULTIPOLYGON, np.column_stack([xs, ys]),
                                          (ring_offsets, poly_offsets, multi))
        return (xs, ys, ring_offsets, poly_offsets, owner.astype(np.int64)), geoms

    arrays, geoms = polygons(100_000)
    qx, qy = uniform_points(1_000_000, seed=5)
    nq = len(qx)
    rounds = min(ROUNDS, int(os.environ.get("BENCH_KNN_ROUNDS", ROUNDS)))

    def engine():
        return Engine.from_polygon_rings(*arrays)

    def ours_k1(e):
        return e.batch_knn_to_polygons(qx, qy, 1)

    def peer_k1(_):
        return shapely.STRtree(geoms).query_nearest(shapely.points(qx, qy), return_distance=True)

    def check_k1(ours, peer):
        ids, dist = ours
        (query, tree), peer_dist = peer
        first = np.r_[0, np.flatnonzero(np.diff(query)) + 1]
        assert np.array_equal(query[first], np.arange(nq))
        np.testing.assert_allclose(dist, peer_dist[first], rtol=1e-11, atol=1e-10)
        # Equal distances may name other polygons: ours must be one of the peer's ties, or
        # lie at the same distance by shapely's own measure.
        named = np.zeros(nq, bool)
        named[query[tree == ids[query]]] = True
        odd = np.flatnonzero(~named)
        again = shapely.distance(shapely.points(qx[odd], qy[odd]), geoms[ids[odd]])
        np.testing.assert_allclose(again, dist[odd], rtol=1e-11, atol=1e-10)

    compare("knn to polygons k=1, 1M pts x 100k polys", ours_k1, peer_k1, check_k1, rounds=rounds, setup=engine,
            note=f"ours: R-tree build + join, {THREADS} threads; peer: STRtree build + query_nearest incl. "
                 f"points, 1 thread")

    e = engine()
    e.batch_knn_to_polygons(qx[:1], qy[:1], 1)  # the R-tree, built once for the warm cases
    times = []
    for _ in range(rounds):
        t = time.perf_counter()
        ids, dist = e.batch_knn_to_polygons(qx, qy, 8)
        times.append(time.perf_counter() - t)
    times.sort()
    per = [t / (nq * 8) for t in times]
    print(f"{'knn to polygons k=8, 1M pts x 100k polys (ours alone)':<58} {_fmt(statistics.median(times)):>11} "
          f"{'-':>11}   {_fmt(times[0])}/{_fmt(times[len(times) // 2])}/{_fmt(times[-1])}  "
          f"(warm R-tree, {THREADS} threads; {per[len(per) // 2] * 1e9:.1f} ns per result)", flush=True)

    def ours_sorted():
        return e.batch_knn_to_polygons_sorted(qx, qy, 8)

    def peer_sorted():
        ids, dist = e.batch_knn_to_polygons(qx, qy, 8)
        query = np.repeat(np.arange(nq, dtype=np.uint32), 8)
        real = ids != 4294967295
        query, ids, dist = query[real], ids[real], dist[real]
        order = np.lexsort((ids, dist))
        return query[order], ids[order], dist[order]

    def check_sorted(ours, peer):
        for got, expected in zip(ours, peer):
            assert len(got) == len(expected)
        np.testing.assert_array_equal(ours[2], peer[2])
        np.testing.assert_array_equal(ours[1], peer[1])
        # Equal (distance, polygon) pairs of different queries may come in another order.
        a, b = np.lexsort(ours[::-1]), np.lexsort(peer[::-1])
        np.testing.assert_array_equal(ours[0][a], peer[0][b])

    compare("sorted knn to polygons k=8 vs blocks + np.lexsort", ours_sorted, peer_sorted, check_sorted,
            rounds=rounds, note=f"warm R-tree; ours {THREADS} threads; peer: our blocks ({THREADS} threads) "
                                f"+ mask + np.lexsort (1 thread)")


def self_join():
    """polygon_intersects_self_join against STRtree.query(predicate="intersects") with the i < j
    mask, and DuckDB's spatial join on ST_Intersects; 100k polygons of 20 vertices, half of
    them with an 8-vertex hole, 10% multipolygons of two parts, sparse and dense."""
    import numpy as np
    import pyarrow as pa
    import shapely

    from common import THREADS, compare, duckdb_spatial, same_pairs
    from vardelin._core import Engine

    def ring(rng, cx, cy, r, k, clockwise):
        # k vertices on even angles jittered by under half a step, closed; shells at radii from
        # 0.7 r, holes at 0.4 r, so every polygon is valid.
        a = np.linspace(0, 2 * np.pi, k, endpoint=False)[None, :] + rng.uniform(0, 2 * np.pi / k * 0.5, (len(cx), k))
        rr = r[:, None] * rng.uniform(0.7, 1.0, (len(cx), k)) if not clockwise else r[:, None] * 0.4
        if clockwise:
            a = a[:, ::-1]
        x, y = cx[:, None] + rr * np.cos(a), cy[:, None] + rr * np.sin(a)
        return np.concatenate([x, x[:, :1]], 1), np.concatenate([y, y[:, :1]], 1)

    def geometries(n, side, seed):
        rng = np.random.default_rng(seed)
        multi = rng.random(n) < 0.1
        owner = np.repeat(np.arange(n), np.where(multi, 2, 1))
        parts = len(owner)
        cx = rng.uniform(0, side, n)[owner] + np.where(np.r_[False, owner[1:] == owner[:-1]], 8.0, 0.0)
        cy = rng.uniform(0, side, n)[owner]
        r = rng.uniform(1.0, 3.0, parts)
        sx, sy = ring(rng, cx, cy, r, 20, False)
        hx, hy = ring(rng, cx, cy, r, 8, True)
        holed = rng.random(parts) < 0.5
        polys = []
        for p in range(parts):
            polys.append(shapely.Polygon(np.column_stack([sx[p], sy[p]]),
                                         [np.column_stack([hx[p], hy[p]])] if holed[p] else None))
        out, p = [], 0
        for g in range(n):
            out.append(shapely.MultiPolygon([polys[p], polys[p + 1]]) if multi[g] else polys[p])
            p += 2 if multi[g] else 1
        out = np.array(out, dtype=object)
        assert shapely.is_valid(out).all()
        return out

    def engine_of(geoms):
        _, coords, (ring_off, poly_off, multi_off) = shapely.to_ragged_array(geoms)
        part_poly = np.repeat(np.arange(len(multi_off) - 1, dtype=np.int64), np.diff(multi_off))
        return lambda: Engine.from_polygon_rings(np.ascontiguousarray(coords[:, 0]), np.ascontiguousarray(coords[:, 1]),
                                                 ring_off.astype(np.int64), poly_off.astype(np.int64), part_poly)

    def shapely_pairs(geoms):
        a, b = shapely.STRtree(geoms).query(geoms, predicate="intersects")
        keep = a < b
        return np.column_stack([a[keep], b[keep]])

    con = duckdb_spatial(THREADS)
    for name, side in (("sparse", 2000.0), ("dense", 700.0)):
        geoms = geometries(100_000, side, 31 if name == "sparse" else 32)
        make = engine_of(geoms)
        warm = make()
        pairs = warm.polygon_intersects_self_join()
        tree = shapely.STRtree(geoms)

        def query_pairs():
            a, b = tree.query(geoms, predicate="intersects")
            keep = a < b
            return np.column_stack([a[keep], b[keep]])

        def check(ours, peer):
            same_pairs(ours, peer)

        compare(f"self-join 100k polygons {name} ({len(pairs) // 2} pairs)",
                lambda: warm.polygon_intersects_self_join(), query_pairs, check,
                note=f"ours: join on the built R-tree, {THREADS} threads; shapely: STRtree.query + i < j mask "
                     f"on a built tree, 1 thread")
        compare(f"self-join 100k polygons {name}, first call",
                lambda e: e.polygon_intersects_self_join(), lambda _: shapely_pairs(geoms), check, setup=make,
                note=f"ours: R-tree build + join, {THREADS} threads; shapely: STRtree build + query + mask, 1 thread")
        wkb = pa.table({"id": np.arange(len(geoms), dtype=np.int32), "w": shapely.to_wkb(geoms)})  # noqa: F841
        con.execute("CREATE OR REPLACE TABLE polys AS SELECT id, ST_GeomFromWKB(w) AS geom FROM wkb")

        def duck():
            # The i < j condition inside the query turns the spatial join into a filtered
            # cross product, so the mask is applied to the fetched pairs, as for shapely.
            rows = con.execute("SELECT a.id AS i, b.id AS j FROM polys a JOIN polys b "
                               "ON ST_Intersects(a.geom, b.geom)").fetchnumpy()
            keep = rows["i"] < rows["j"]
            return np.column_stack([rows["i"][keep], rows["j"][keep]])

        compare(f"self-join 100k polygons {name}, vs DuckDB",
                lambda e: e.polygon_intersects_self_join(), lambda _: duck(), check, setup=make,
                note=f"ours: R-tree build + join, {THREADS} threads; DuckDB: spatial join on ST_Intersects, "
                     f"table already loaded, {THREADS} threads, + i < j mask")


def blob_polygons(n, seed, radius=(0.5, 1.5), vertices=12, extent=1000.0):
    """n polygons over [0, extent]^2 as shapely geometries: jittered circles of `vertices`
    vertices, every second with a hole, every fifth a multipolygon with a second, smaller part."""
    import shapely

    rng = np.random.default_rng(seed)
    centres = rng.uniform(0.0, extent, (n, 2))
    r = rng.uniform(*radius, n)[:, None]
    angles = np.linspace(0.0, 2 * np.pi, vertices, endpoint=False)[None, :] + rng.uniform(0, 0.2, (n, vertices))
    shells = np.stack([centres[:, :1] + r * np.cos(angles), centres[:, 1:] + r * np.sin(angles)], axis=-1)
    hole_angles = np.linspace(2 * np.pi, 0.0, 6, endpoint=False)[None, :]
    holes = np.stack([centres[:, :1] + 0.3 * r * np.cos(hole_angles), centres[:, 1:] + 0.3 * r * np.sin(hole_angles)],
                     axis=-1)
    plain = shapely.polygons(shells[1::2])
    holed = shapely.polygons(shells[::2], holes=shapely.linearrings(holes[::2])[:, None])
    parts = np.empty(n, dtype=object)
    parts[1::2], parts[::2] = plain, holed
    second = shapely.polygons(shells[::5] * 0.5 + (centres[::5, None, :] + 2.5 * r[::5, None]) * 0.5)
    geoms = parts.copy()
    geoms[::5] = shapely.multipolygons(np.stack([parts[::5], second], axis=1))
    return geoms


def polygon_engine(geoms, mode="eager"):
    import shapely
    from vardelin import Engine

    kind, coords, offsets = shapely.to_ragged_array(geoms)
    ring, poly, multi = offsets
    part_poly = np.repeat(np.arange(len(multi) - 1, dtype=np.int64), np.diff(multi))
    e = Engine.from_polygon_rings(np.ascontiguousarray(coords[:, 0]), np.ascontiguousarray(coords[:, 1]),
                                  ring.astype(np.int64), poly.astype(np.int64), part_poly)
    e.set_index_mode(mode)
    return e


def distance_to_polygons():
    """batch_within_distance_to_polygons, its aggregate and points_within_distance_of_polygon."""
    import pyarrow as pa
    import shapely

    d = 2.0  # about the polygons' size
    geoms = blob_polygons(100_000, seed=5)
    xs, ys = uniform_points(1_000_000, seed=6)
    points = shapely.points(xs, ys)
    tree = shapely.STRtree(geoms)
    e = polygon_engine(geoms)
    e.batch_within_distance_to_polygons(xs[:1], ys[:1], d)  # builds the R-tree
    note = (f"ours {THREADS} threads, R-tree built; shapely 1 thread, tree and points built; "
            "pairs checked as sets")
    compare("within_distance_to_polygons 1M pts x 100k polys vs STRtree",
            lambda: e.batch_within_distance_to_polygons(xs, ys, d),
            lambda: tree.query(points, predicate="dwithin", distance=d),
            lambda a, b: same_pairs(a, np.column_stack(b)), note=note)

    con = duckdb_spatial(THREADS)
    con.execute("SET enable_progress_bar = false")
    con.register("pts_in", pa.table({"id": np.arange(len(xs)), "x": xs, "y": ys}))
    con.register("polys_in", pa.table({"id": np.arange(len(geoms)), "wkb": shapely.to_wkb(geoms)}))
    con.execute("CREATE TABLE pts AS SELECT id, ST_Point(x, y) AS geom FROM pts_in")
    con.execute("CREATE TABLE polys AS SELECT id, ST_GeomFromWKB(wkb) AS geom FROM polys_in")
    sql = f"SELECT p.id, g.id FROM pts p JOIN polys g ON ST_DWithin(p.geom, g.geom, {d})"
    compare("within_distance_to_polygons 1M pts x 100k polys vs DuckDB",
            lambda: e.batch_within_distance_to_polygons(xs, ys, d),
            lambda: con.execute(sql).fetchnumpy(),
            lambda a, b: same_pairs(a, np.column_stack([b["id"], b["id_1"]])),
            note=f"ours {THREADS} threads; DuckDB ST_DWithin join, {THREADS} threads, tables loaded")
    con.close()

    cols = [np.random.default_rng(j).normal(0, 1, len(xs)) for j in range(4)]
    valid = [(np.random.default_rng(10 + j).random(len(xs)) < 0.9).astype(np.uint8) for j in range(4)]

    def peer_aggregate():
        q, g = tree.query(points, predicate="dwithin", distance=d)
        counts = np.bincount(g, minlength=len(geoms))
        sums = [np.bincount(g, weights=np.where(ok[q] != 0, v[q], 0.0), minlength=len(geoms)) for v, ok in
                zip(cols, valid)]
        return counts, sums

    def same_aggregate(ours, peer):
        ids, counts, sums, _ = ours
        keep = np.flatnonzero(peer[0])
        np.testing.assert_array_equal(ids, keep)
        np.testing.assert_array_equal(counts, peer[0][keep])
        np.testing.assert_allclose(sums, np.concatenate([s[keep] for s in peer[1]]), rtol=1e-9, atol=1e-9)

    compare("within_distance_to_polygons_aggregate 4 cols vs STRtree+bincount",
            lambda: e.batch_within_distance_to_polygons_aggregate(xs, ys, d, cols, valid), peer_aggregate,
            same_aggregate, note=f"ours {THREADS} threads; shapely 1 thread + np.bincount")
    del points

    few = blob_polygons(100, seed=7, radius=(5.0, 15.0))
    bx, by = uniform_points(10_000_000, seed=8)
    big_points = shapely.points(bx, by)
    few_tree = shapely.STRtree(few)
    flipped = polygon_engine(few, "auto")
    compare("within_distance_to_polygons flipped 10M pts x 100 polys vs STRtree",
            lambda: flipped.batch_within_distance_to_polygons(bx, by, 10.0),
            lambda: few_tree.query(big_points, predicate="dwithin", distance=10.0),
            lambda a, b: same_pairs(a, np.column_stack(b)), rounds=min(ROUNDS, 3),
            note=f"ours {THREADS} threads, grid over the queries timed; shapely 1 thread, tree and points built")
    assert {o["index"] for o in flipped.take_metrics()["operations"]} == {"grid"}

    from vardelin import Engine

    # Four wobbly discs of 512 vertices, each with a hole of 64, far apart: one multipolygon.
    angles = np.linspace(0.0, 2 * np.pi, 512, endpoint=False)
    wobble = 100.0 + 8.0 * np.sin(7 * angles)
    hole = np.linspace(2 * np.pi, 0.0, 64, endpoint=False)
    multi = shapely.multipolygons([
        shapely.Polygon(np.column_stack([cx + wobble * np.cos(angles), cy + wobble * np.sin(angles)]),
                        [np.column_stack([cx + 30 * np.cos(hole), cy + 30 * np.sin(hole)])])
        for cx, cy in ((250.0, 250.0), (750.0, 250.0), (250.0, 750.0), (700.0, 700.0))])
    kind, coords, offsets = shapely.to_ragged_array([multi])
    mx, my = np.ascontiguousarray(coords[:, 0]), np.ascontiguousarray(coords[:, 1])
    ring, poly = offsets[0].astype(np.int64), offsets[1].astype(np.int64)
    pe = Engine.from_points(bx, by)
    pe.points_within_distance_of_polygon(mx, my, ring, poly, 20.0)  # builds the R-tree
    shapely.prepare(multi)
    compare("points_within_distance_of_polygon 10M pts, 1 multipolygon vs shapely.dwithin",
            lambda: pe.points_within_distance_of_polygon(mx, my, ring, poly, 20.0),
            lambda: shapely.dwithin(big_points, multi, 20.0),
            lambda a, b: np.testing.assert_array_equal(np.sort(a), np.flatnonzero(b)), rounds=min(ROUNDS, 3),
            note=f"ours {THREADS} threads, R-tree built; shapely prepared, 1 thread, points built; "
                 f"{len(mx)} vertices in {len(poly) - 1} parts")


if __name__ == "__main__":
    header()
    nearest_polygons()
    self_join()
    distance_to_polygons()
