"""Shared helpers for the benchmarks: seeded data, the alternating comparison and its report.

Every case runs our call and the peer's on the same data in one process, alternating, so that
a noisy machine slows both alike; the answers of both are checked in full before anything is
timed, and one line reports the per-call times (median) and the min/median/max of the ratio
peer time / our time over the rounds."""
import os
import pathlib
import statistics
import time

import numpy as np

ROUNDS = int(os.environ.get("BENCH_ROUNDS", "5"))
THREADS = os.cpu_count()


def uniform_points(n, seed=1):
    rng = np.random.default_rng(seed)
    return rng.uniform(0.0, 1000.0, n), rng.uniform(0.0, 1000.0, n)


def clustered_points(n, seed=2, clusters=50, sigma=5.0):
    rng = np.random.default_rng(seed)
    centres = rng.uniform(0.0, 1000.0, (clusters, 2))
    pick = rng.integers(0, clusters, n)
    return centres[pick, 0] + rng.normal(0, sigma, n), centres[pick, 1] + rng.normal(0, sigma, n)


def cluster_queries(xs, ys, kind, q, seed):
    """Queries for clustered points: "near" the points (a point of the data plus N(0, 1)), or
    "off" the clusters (uniform over the extent, most of them far from any cluster)."""
    rng = np.random.default_rng(seed)
    if kind == "near":
        pick = rng.integers(0, len(xs), q)
        return xs[pick] + rng.normal(0, 1.0, q), ys[pick] + rng.normal(0, 1.0, q)
    return rng.uniform(0.0, 1000.0, q), rng.uniform(0.0, 1000.0, q)


def polygons_with_holes(n, seed=4, extent=10_000.0):
    """Polygons of 9 to 17 vertices with one hole each; every fifth geometry is a two-part
    multipolygon (its second part 50 units to the right)."""
    import shapely

    rng = np.random.default_rng(seed)
    centres = rng.uniform(0, extent, (n, 2))
    shells = [shapely.Point(cx, cy).buffer(rng.uniform(5, 20), quad_segs=4) for cx, cy in centres]
    holes = [shapely.Point(cx, cy).buffer(2, quad_segs=2) for cx, cy in centres]
    geoms = np.array([shapely.Polygon(s.exterior.coords, [h.exterior.coords]) for s, h in zip(shells, holes)])
    for i in range(0, n, 5):
        geoms[i] = shapely.MultiPolygon([geoms[i], shapely.affinity.translate(geoms[i], 50, 0)])
    return geoms


def engine_from_geoms(geoms):
    """An Engine over shapely polygons and multipolygons, one logical polygon per geometry."""
    import shapely

    from vardelin import Engine

    _, coords, (ring, poly, multi) = shapely.to_ragged_array(geoms)
    part_poly = np.repeat(np.arange(len(multi) - 1), np.diff(multi)).astype(np.int64)
    return Engine.from_polygon_rings(np.ascontiguousarray(coords[:, 0]), np.ascontiguousarray(coords[:, 1]),
                                     ring.astype(np.int64), poly.astype(np.int64), part_poly)


def size_label(n):
    return f"{n // 1_000_000}M" if n >= 1_000_000 else f"{n // 1000}k"


def _seconds(fn, calls):
    t = time.perf_counter()
    fn()
    return (time.perf_counter() - t) / calls


def _fmt(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.2f} {unit}"
    return f"{seconds / 1e-9:.2f} ns"


def header():
    print(f"{'case':<58} {'ours':>11} {'peer':>11}   ratio min/median/max", flush=True)


def compare(case, ours, peer, check, rounds=ROUNDS, calls=1, setup=None, note=""):
    """Runs `ours` and `peer` alternately for `rounds` rounds and prints one line.

    `check(ours_result, peer_result)` sees one untimed result of each first and must raise on
    any difference. `calls` divides the times when each function makes several calls.
    `setup()`, when given, runs untimed before every timed call of either side (for cold
    cases: a fresh engine, say) and its result is passed to both functions."""
    if setup is None:
        check(ours(), peer())
    else:
        check(ours(setup()), peer(setup()))
    ours_t, peer_t = [], []
    for _ in range(rounds):
        for side, fn in ((ours_t, ours), (peer_t, peer)):
            if setup is None:
                side.append(_seconds(fn, calls))
            else:
                arg = setup()
                side.append(_seconds(lambda: fn(arg), calls))
    ratios = sorted(p / o for o, p in zip(ours_t, peer_t))
    line = (f"{case:<58} {_fmt(statistics.median(ours_t)):>11} {_fmt(statistics.median(peer_t)):>11}   "
            f"{ratios[0]:.2f}/{statistics.median(ratios):.2f}/{ratios[-1]:.2f}x")
    print(line + (f"  ({note})" if note else ""), flush=True)
    return statistics.median(ratios)


def same_pairs(got, expected):
    """Pair arrays (flat [q0, e0, q1, e1, ...] or (n, 2)) compared as sets."""
    a = np.asarray(got).reshape(-1, 2).astype(np.uint64)
    b = np.asarray(expected).reshape(-1, 2).astype(np.uint64)
    a_keys = np.sort((a[:, 0] << np.uint64(32)) | a[:, 1])
    b_keys = np.sort((b[:, 0] << np.uint64(32)) | b[:, 1])
    if not np.array_equal(a_keys, b_keys):
        raise AssertionError(f"pair sets differ: {len(a_keys)} pairs against {len(b_keys)}")


def duckdb_spatial(threads=THREADS):
    """A DuckDB connection with the spatial extension that its pip package ships, loaded from
    the package's own file (nothing is downloaded)."""
    import duckdb
    import duckdb_ext

    ext = next(pathlib.Path(duckdb_ext.__path__[0]).rglob("spatial.duckdb_extension"))
    con = duckdb.connect(config={"allow_unsigned_extensions": "true"})
    con.execute(f"LOAD '{ext}'")
    con.execute(f"SET threads={int(threads)}")
    return con
