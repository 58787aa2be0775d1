"""Builds an Engine over a few million seeded random points and prints what it reports."""
import numpy as np

from vardelin import Engine

rng = np.random.default_rng(7)
n = 3_000_000
xs = rng.uniform(-180.0, 180.0, n)
ys = rng.uniform(-90.0, 90.0, n)

engine = Engine.from_points(xs, ys)
print(engine)
print("points:", engine.n())
print("extent:", engine.extent())
print("stats:", engine.stats_info())

print("in the box (10, 10)-(10.5, 10.5):", len(engine.range_query(10.0, 10.0, 10.5, 10.5)), "points")
print("5 nearest to (0, 0):", engine.knn(0.0, 0.0, 5))

engine.set_coordinate_system("geographic")
near_paris = engine.radius_query(2.35, 48.85, 50_000.0)
print("within 50 km of Paris:", len(near_paris), "points")
print("their distances (m):", Engine.haversine_distance_to(xs[near_paris], ys[near_paris], 2.35, 48.85)[:3])

print("index bytes:", engine.index_bytes())
print("metrics:", engine.take_metrics())


def polygon_measures():
    """Areas of polygons, of their pairwise overlaps and of convex hulls of grouped points."""
    import shapely

    squares = shapely.box([0, 1, 5], [0, 1, 5], [2, 3, 6], [2, 3, 6])
    _, coords, (rings, parts) = shapely.to_ragged_array(squares)
    polygons = Engine.from_polygon_rings(np.ascontiguousarray(coords[:, 0]), np.ascontiguousarray(coords[:, 1]),
                                         rings.astype(np.int64), parts.astype(np.int64))
    print("polygon areas:", polygons.polygon_areas())
    i, j = np.array([0, 0, 1], np.uint32), np.array([1, 2, 0], np.uint32)
    print("overlaps of (0, 1), (0, 2), (1, 0):", polygons.polygon_pairs_intersection_area(i, j))
    print("hull of the first 1000 points:", Engine.convex_hull_area_of(xs[:1000], ys[:1000]))
    offsets = np.arange(0, 10_001, 10, dtype=np.int64)
    hulls = Engine.group_convex_hull_areas(xs[:10_000], ys[:10_000], offsets)
    print("hulls of 1000 groups of 10 points, first 3:", hulls[:3])


polygon_measures()


def nearest_polygons():
    """The three polygons nearest to each of 100k points, by exact distance, then the same
    results as one list sorted by distance."""
    import shapely

    rng = np.random.default_rng(11)
    polys = shapely.buffer(shapely.points(rng.uniform(0, 1000, (5000, 2))), rng.uniform(1, 5, 5000))
    _, coords, (rings, parts) = shapely.to_ragged_array(polys)
    regions = Engine.from_polygon_rings(coords[:, 0].copy(), coords[:, 1].copy(),
                                        rings.astype(np.int64), parts.astype(np.int64))
    qx, qy = rng.uniform(0, 1000, 100_000), rng.uniform(0, 1000, 100_000)
    ids, dist = regions.batch_knn_to_polygons(qx, qy, 3)
    print("nearest polygons of the first point:", ids[:3], dist[:3])
    query, polygon, d = regions.batch_knn_to_polygons_sorted(qx, qy, 3)
    print("closest pair overall: point", query[0], "polygon", polygon[0], "at", d[0])


nearest_polygons()


def distance_join():
    """Every (query, point) pair within 20 km of 100k query points, from either side."""
    qx, qy = rng.uniform(-10.0, 10.0, 100_000), rng.uniform(40.0, 50.0, 100_000)
    pairs = engine.batch_within_distance(qx, qy, 20_000.0, False).reshape(-1, 2)
    flipped = engine.batch_within_distance(qx, qy, 20_000.0, True).reshape(-1, 2)
    print("pairs within 20 km:", len(pairs), "(flipped finds", len(flipped), "too)")
    q, p = pairs[:3, 0], pairs[:3, 1]
    print("first distances (m):", Engine.haversine_distance(qx[q], qy[q], xs[p], ys[p]))


distance_join()


def self_join_example():
    """Pairs of polygons that intersect, each pair once with the lower id first."""
    import shapely

    centres = np.random.default_rng(11).uniform(0.0, 100.0, (2000, 2))
    discs = shapely.buffer(shapely.points(centres), 1.5, quad_segs=4)
    _, coords, (rings, parts) = shapely.to_ragged_array(discs)
    polys = Engine.from_polygon_rings(np.ascontiguousarray(coords[:, 0]), np.ascontiguousarray(coords[:, 1]),
                                      rings.astype(np.int64), parts.astype(np.int64))
    pairs = polys.polygon_intersects_self_join().reshape(-1, 2)
    print("intersecting pairs of 2000 discs:", len(pairs), "first:", pairs[:3].tolist())


self_join_example()


def distance_joins_to_polygons():
    """Query points against polygons within a distance: pairs, per-polygon sums, and the
    dataset points near one query polygon."""
    import shapely

    polygons = shapely.buffer(shapely.points(rng.uniform(-180.0, 180.0, (2000, 2)) * [1.0, 0.5]), 2.0)
    kind, coords, (rings, parts) = shapely.to_ragged_array(polygons)
    zones = Engine.from_polygon_rings(coords[:, 0].copy(), coords[:, 1].copy(),
                                      rings.astype(np.int64), parts.astype(np.int64))
    qx, qy = xs[:200_000], ys[:200_000]
    pairs = zones.batch_within_distance_to_polygons(qx, qy, 1.0).reshape(-1, 2)
    print("query points within 1 of a polygon:", len(np.unique(pairs[:, 0])), "in", len(pairs), "pairs")
    ids, counts, sums, valid = zones.batch_within_distance_to_polygons_aggregate(
        qx, qy, 1.0, [qx], [np.ones(len(qx), np.uint8)])
    print("busiest polygon:", ids[np.argmax(counts)], "with", counts.max(), "points")
    kind, coords, (rings, parts) = shapely.to_ragged_array(polygons[:3])
    near = engine.points_within_distance_of_polygon(coords[:, 0].copy(), coords[:, 1].copy(),
                                              rings.astype(np.int64), parts.astype(np.int64), 1.0)
    print("points within 1 of the first three polygons:", len(near))


distance_joins_to_polygons()
def containment_joins():
    """Which polygon holds each point, and per polygon the count and sum of the points' values."""
    import shapely

    squares = [shapely.box(x, y, x + 9, y + 9) for x in range(0, 100, 10) for y in range(0, 100, 10)]
    kind, coords, (rings, parts) = shapely.to_ragged_array(squares)
    polygons = Engine.from_polygon_rings(np.ascontiguousarray(coords[:, 0]), np.ascontiguousarray(coords[:, 1]),
                                         rings.astype(np.int64), parts.astype(np.int64))
    px, py = rng.uniform(0, 100, 100_000), rng.uniform(0, 100, 100_000)
    pairs = polygons.batch_contains(px, py).reshape(-1, 2)
    print("points inside a square:", len(pairs), "of", len(px), "; first pairs:", pairs[:3].tolist())
    values, valid = rng.normal(size=len(px)), np.ones(len(px), np.uint8)
    ids, counts, sums, valid_counts = polygons.batch_contains_aggregate(px, py, [values], [valid])
    print("square 0 holds", counts[0], "points, their values sum to", round(sums[0], 3))


containment_joins()


def knn_and_box_joins():
    """The 3 nearest points of many query points at once, and the query points inside a box."""
    qx, qy = rng.uniform(-180.0, 180.0, 100_000), rng.uniform(-90.0, 90.0, 100_000)
    joined = Engine.from_points(xs, ys)
    nearest = joined.batch_knn_join(qx, qy, 3).reshape(len(qx), 3)
    print("3 nearest to the first query point:", nearest[0])
    inside = joined.batch_within(qx, qy, 0.0, 0.0, 10.0, 10.0)
    print("query points in (0, 0)-(10, 10):", len(inside), "first:", inside[:3])


knn_and_box_joins()
