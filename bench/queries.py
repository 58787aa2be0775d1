"""Single queries called one by one from Python, as a user would: range_query against a prebuilt
shapely STRtree, knn against cKDTree.query, radius_query against cKDTree.query_ball_point,
contains_query over polygons with holes and multipolygons against STRtree.query(point,
predicate="within"). Every answer is checked in full against the peer's (sets of ids, or the
distances of the k nearest). Both sides take the same Python floats; the peer's times include
the shapely.box / shapely.Point it must create per call. Each single query runs on the calling
thread on both sides (a geographic radius_query's exact filter may use the pool above its grain)."""
import numpy as np
import shapely
from scipy.spatial import cKDTree

from common import (cluster_queries, clustered_points, compare, engine_from_geoms, header, polygons_with_holes,
                    size_label, uniform_points)
from vardelin import Engine

N = 1_000_000
Q = 2_000
TARGET_HITS = 100
SCALING = (100_000, 1_000_000, 10_000_000)


def query_points(xs, ys, q=Q, seed=11):
    """Centres drawn from the data itself, so clustered data is queried where it lives."""
    rng = np.random.default_rng(seed)
    pick = rng.integers(0, len(xs), q)
    return xs[pick] + rng.normal(0, 1e-3, q), ys[pick] + rng.normal(0, 1e-3, q)


def box_half_widths(kd, qx, qy):
    """Per query, the half-width of a square expected to hold about TARGET_HITS points."""
    d, _ = kd.query(np.column_stack((qx, qy)), k=TARGET_HITS)
    return d[:, -1] * np.sqrt(np.pi) / 2


def same_id_sets(got, want):
    for g, w in zip(got, want, strict=True):
        if sorted(g) != sorted(np.asarray(w).tolist()):
            raise AssertionError("answers differ")


def knn_check(xs, ys, px, py):
    def check(got, want):
        for i, (g, (dist, _)) in enumerate(zip(got, want, strict=True)):
            mine = np.hypot(xs[g] - px[i], ys[g] - py[i])
            assert len(g) == len(dist) and np.allclose(mine, dist, rtol=0, atol=1e-12)
    return check


class Workload:
    """One dataset with its peers built and the per-query arguments as Python floats."""

    def __init__(self, xs, ys, q=Q):
        self.xs, self.ys = xs, ys
        self.engine = Engine.from_points(xs, ys)
        self.kd = cKDTree(np.column_stack((xs, ys)))
        qx, qy = query_points(xs, ys, q)
        half = box_half_widths(self.kd, qx, qy)
        self.q = q
        self.box = [(qx - half).tolist(), (qy - half).tolist(), (qx + half).tolist(), (qy + half).tolist()]
        self.px, self.py, self.radius = qx.tolist(), qy.tolist(), (half * 2 / np.sqrt(np.pi)).tolist()
        self._strtree = None

    @property
    def strtree(self):
        if self._strtree is None:
            self._strtree = shapely.STRtree(shapely.points(self.xs, self.ys))
        return self._strtree

    def range_case(self, case):
        e, (x0, y0, x1, y1), tree, q = self.engine, self.box, self.strtree, self.q
        e.range_query(x0[0], y0[0], x1[0], y1[0])  # the lazy build stays out of the timing
        compare(case, lambda: [e.range_query(x0[i], y0[i], x1[i], y1[i]) for i in range(q)],
                lambda: [tree.query(shapely.box(x0[i], y0[i], x1[i], y1[i])) for i in range(q)],
                same_id_sets, calls=q, note="per call; peer incl. shapely.box; 1 thread each")
        if not case.startswith("scaling"):
            # The same calls with each answer dropped before the next, as a loop that consumes
            # them does: kept answers cost us ~100 Python ints each and the collector's passes
            # over them, the peer one array.
            def ours():
                for i in range(q):
                    e.range_query(x0[i], y0[i], x1[i], y1[i])

            def peer():
                for i in range(q):
                    tree.query(shapely.box(x0[i], y0[i], x1[i], y1[i]))

            compare(case + ", each answer dropped", ours, peer, lambda *_: None, calls=q,
                    note="answers checked above; peer incl. shapely.box; 1 thread each")

    def knn_case(self, case):
        e, kd, px, py, q = self.engine, self.kd, self.px, self.py, self.q
        e.knn(px[0], py[0], 10)
        compare(case, lambda: [e.knn(px[i], py[i], 10) for i in range(q)],
                lambda: [kd.query((px[i], py[i]), k=10) for i in range(q)],
                knn_check(self.xs, self.ys, px, py), calls=q, note="per call; 1 thread each")

    def radius_case(self, case):
        e, kd, px, py, r, q = self.engine, self.kd, self.px, self.py, self.radius, self.q
        e.radius_query(px[0], py[0], r[0])
        # cKDTree's own distance rounding may differ on the rim; none sits there in this data.
        compare(case, lambda: [e.radius_query(px[i], py[i], r[i]) for i in range(q)],
                lambda: [kd.query_ball_point((px[i], py[i]), r[i]) for i in range(q)],
                same_id_sets, calls=q, note="per call; 1 thread each")


def contains_case(n_polygons=10_000, q=Q):
    geoms = polygons_with_holes(n_polygons)
    engine = engine_from_geoms(geoms)
    tree = shapely.STRtree(geoms)
    rng = np.random.default_rng(12)
    # Half the points inside a polygon's box (some in holes, some in second parts), half anywhere.
    centres = shapely.get_coordinates(shapely.centroid(geoms[rng.integers(0, n_polygons, q // 2)]))
    px = np.concatenate([centres[:, 0] + rng.normal(0, 6, q // 2), rng.uniform(0, 10_000, q - q // 2)]).tolist()
    py = np.concatenate([centres[:, 1] + rng.normal(0, 6, q // 2), rng.uniform(0, 10_000, q - q // 2)]).tolist()
    engine.contains_query(px[0], py[0])
    compare(f"contains_query {size_label(n_polygons)} polygons with holes vs STRtree within",
            lambda: [engine.contains_query(px[i], py[i]) for i in range(q)],
            lambda: [tree.query(shapely.Point(px[i], py[i]), predicate="within") for i in range(q)],
            same_id_sets, calls=q, note="per call; peer incl. shapely.Point; 1 thread each")


def two_part_polygons(n, seed=13):
    """n logical polygons of two square parts each (the second 3 units to the right)."""
    import shapely

    rng = np.random.default_rng(seed)
    x, y = rng.uniform(0, 10_000, n), rng.uniform(0, 10_000, n)
    first = shapely.box(x, y, x + 1, y + 1)
    second = shapely.box(x + 3, y, x + 4, y + 1)
    return shapely.multipolygons(np.stack([first, second], axis=1))


def whole_extent_case(n):
    """A box over the whole extent names every logical polygon once, each of two parts."""
    geoms = two_part_polygons(n)
    engine = engine_from_geoms(geoms)
    tree = shapely.STRtree(geoms)
    box = (-1.0, -1.0, 10_010.0, 10_010.0)
    compare(f"range_query whole extent {size_label(n)} two-part polygons vs STRtree",
            lambda: engine.range_query(*box), lambda: tree.query(shapely.box(*box), predicate="intersects"),
            lambda got, want: same_id_sets([got], [want]), note="peer incl. shapely.box; 1 thread each")


def first_knn_case(n):
    """The first knn on a fresh Engine pays the k-d tree build; the peer builds cKDTree, then
    queries. Our build runs on every worker, cKDTree's on one thread."""
    xs, ys = uniform_points(n)
    pts = np.column_stack((xs, ys))

    def ours(engine):
        return engine.knn(500.0, 500.0, 10)

    def peer(_):
        return cKDTree(pts).query((500.0, 500.0), k=10)

    def check(got, want):
        knn_check(xs, ys, [500.0], [500.0])([got], [want])

    compare(f"first knn k=10 uniform {size_label(n)} incl. build vs cKDTree build+query", ours, peer, check, setup=lambda: Engine.from_points(xs, ys), note="from_points untimed; ours 8 threads, peer 1")


def clustered_knn_cases():
    """knn on 40 Gaussian clusters (sigma 8, 25k points each), queries near the points or
    uniform over the extent, most of them far from any cluster."""
    xs, ys = clustered_points(N, seed=21, clusters=40, sigma=8.0)
    e = Engine.from_points(xs, ys)
    kd = cKDTree(np.column_stack((xs, ys)))
    for kind, where in (("near", "near the points"), ("off", "off the clusters")):
        qx, qy = cluster_queries(xs, ys, kind, Q, seed=25)
        px, py = qx.tolist(), qy.tolist()
        e.knn(px[0], py[0], 10)
        compare(f"knn k=10 40 clusters 1M, {where}, vs cKDTree.query",
                lambda: [e.knn(px[i], py[i], 10) for i in range(Q)],
                lambda: [kd.query((px[i], py[i]), k=10) for i in range(Q)], knn_check(xs, ys, px, py), calls=Q,
                note="per call; 1 thread each")


def main():
    header()
    for name, (xs, ys) in [("uniform", uniform_points(N)), ("clustered", clustered_points(N))]:
        w = Workload(xs, ys)
        w.range_case(f"range_query {name} 1M ~{TARGET_HITS} hits vs STRtree")
        w.knn_case(f"knn k=10 {name} 1M vs cKDTree.query")
        w.radius_case(f"radius_query {name} 1M ~{TARGET_HITS} hits vs query_ball_point")
    clustered_knn_cases()
    contains_case()
    for n in (10_000, 40_000, 160_000):
        whole_extent_case(n)

    # Scaling of the per-call cost with the dataset size (uniform data).
    for n in SCALING:
        w = Workload(*uniform_points(n), q=1000)
        w.knn_case(f"scaling: knn k=10 uniform {size_label(n)} vs cKDTree.query")
        w.range_case(f"scaling: range_query uniform {size_label(n)} ~{TARGET_HITS} hits vs STRtree")
        del w
    for n in SCALING:
        first_knn_case(n)


if __name__ == "__main__":
    main()
