"""Shared helpers for the benchmarks: seeded data and the one-line report."""
import time

import numpy as np


def uniform_points(n, seed=1):
    rng = np.random.default_rng(seed)
    return rng.uniform(0.0, 1000.0, n), rng.uniform(0.0, 1000.0, n)


def clustered_points(n, seed=2, clusters=50):
    rng = np.random.default_rng(seed)
    centres = rng.uniform(0.0, 1000.0, (clusters, 2))
    pick = rng.integers(0, clusters, n)
    return centres[pick, 0] + rng.normal(0, 5.0, n), centres[pick, 1] + rng.normal(0, 5.0, n)


def best_of(fn, repeat=5):
    """Best wall time of `repeat` runs, and the last result."""
    best = float("inf")
    result = None
    for _ in range(repeat):
        t = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - t)
    return best, result


def report(case, ours_s, peer_s):
    print(f"{case:<40} {ours_s:10.6f} {peer_s:10.6f} {peer_s / ours_s:8.2f}x", flush=True)


def header():
    print(f"{'case':<40} {'ours_s':>10} {'peer_s':>10} {'ratio':>9}")
