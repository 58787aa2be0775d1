"""The four distance functions over 10 million pairs against the same formula in NumPy."""
import numpy as np

from common import THREADS, compare, header
from vardelin import Engine

N = 10_000_000
K = 0.017453292519943295
DIAMETER = 12742017.6


def numpy_euclidean(x1, y1, x2, y2):
    dx = x1 - x2
    dy = y1 - y2
    return np.sqrt(dx * dx + dy * dy)


def numpy_haversine(lon1, lat1, lon2, lat2):
    s_lat = np.sin(((lat2 - lat1) * K) * 0.5)
    s_lon = np.sin(((lon2 - lon1) * K) * 0.5)
    c = np.cos(lat2 * K) * np.cos(lat1 * K)
    a = (s_lon * s_lon) * c + s_lat * s_lat
    return np.arcsin(np.fmin(np.sqrt(a), 1.0)) * DIAMETER


def main():
    rng = np.random.default_rng(3)
    x1, y1, x2, y2 = (rng.uniform(0.0, 1000.0, N) for _ in range(4))
    lon1, lon2 = rng.uniform(-180.0, 180.0, N), rng.uniform(-180.0, 180.0, N)
    lat1, lat2 = rng.uniform(-90.0, 90.0, N), rng.uniform(-90.0, 90.0, N)
    cases = [
        ("euclidean_distance", lambda: Engine.euclidean_distance(x1, y1, x2, y2),
         lambda: numpy_euclidean(x1, y1, x2, y2), 0),
        ("euclidean_distance_to", lambda: Engine.euclidean_distance_to(x1, y1, 500.0, 250.0),
         lambda: numpy_euclidean(x1, y1, 500.0, 250.0), 0),
        # NumPy's vectorised arcsin may differ from the C library's by 1 ulp (2 after scaling).
        ("haversine_distance", lambda: Engine.haversine_distance(lon1, lat1, lon2, lat2),
         lambda: numpy_haversine(lon1, lat1, lon2, lat2), 2),
        ("haversine_distance_to", lambda: Engine.haversine_distance_to(lon1, lat1, 12.5, 47.25),
         lambda: numpy_haversine(12.5, 47.25, lon1, lat1), 2),
    ]
    header()
    for name, ours_fn, peer_fn, maxulp in cases:
        compare(f"{name} 10M vs NumPy", ours_fn, peer_fn,
                lambda got, expected, maxulp=maxulp: np.testing.assert_array_max_ulp(got, expected, maxulp=maxulp),
                note=f"ours {THREADS} threads, NumPy 1")


if __name__ == "__main__":
    main()
