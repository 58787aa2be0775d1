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



def distance_join():
    """Every (query, point) pair within 20 km of 100k query points, from either side."""
    qx, qy = rng.uniform(-10.0, 10.0, 100_000), rng.uniform(40.0, 50.0, 100_000)
    pairs = engine.batch_within_distance(qx, qy, 20_000.0, False).reshape(-1, 2)
    flipped = engine.batch_within_distance(qx, qy, 20_000.0, True).reshape(-1, 2)
    print("pairs within 20 km:", len(pairs), "(flipped finds", len(flipped), "too)")
    q, p = pairs[:3, 0], pairs[:3, 1]
    print("first distances (m):", Engine.haversine_distance(qx[q], qy[q], xs[p], ys[p]))


distance_join()
print("index bytes:", engine.index_bytes())
print("metrics:", engine.take_metrics())
