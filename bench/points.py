"""from_points (copy + statistics) against one NumPy pass over the same data."""
import numpy as np

from common import best_of, clustered_points, header, report, uniform_points
from vardelin import Engine

N = 10_000_000


def numpy_pass(xs, ys):
    return (np.nanmin(xs), np.nanmin(ys), np.nanmax(xs), np.nanmax(ys))


def main():
    header()
    for name, (xs, ys) in [("uniform", uniform_points(N)), ("clustered", clustered_points(N))]:
        ours, engine = best_of(lambda: Engine.from_points(xs, ys))
        peer, ext = best_of(lambda: numpy_pass(xs, ys))
        assert engine.extent() == tuple(float(v) for v in ext)
        report(f"from_points {name} 10M", ours, peer)


if __name__ == "__main__":
    main()
