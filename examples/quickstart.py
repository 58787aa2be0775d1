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
print("coordinate system:", engine.coordinate_system())
engine.set_coordinate_system("geographic")
print("now measuring in:", engine.coordinate_system())
print("metrics:", engine.take_metrics())
