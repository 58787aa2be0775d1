"""Polygon joins against shapely's STRtree and DuckDB's spatial join; every answer is checked
in full against the peer's."""
from common import header


def nearest_polygons():
    """batch_knn_to_polygons and its sorted form."""


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


def distance_to_polygons():
    """batch_within_distance_to_polygons, its aggregate and points_within_distance_of_polygon."""


if __name__ == "__main__":
    header()
    nearest_polygons()
    self_join()
    distance_to_polygons()
