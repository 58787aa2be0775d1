"""from_points (copy + statistics) against one NumPy pass over the same data, and growing a
dataset batch by batch (delta appends, the point builder) against from_points of the total."""
import numpy as np

from common import best_of, clustered_points, header, report, uniform_points
from vardelin import Engine
from vardelin._core import _PointBuilder

N = 10_000_000
APPENDED = 1_000_000
BATCH = 1_000


def numpy_pass(xs, ys):
    return (np.nanmin(xs), np.nanmin(ys), np.nanmax(xs), np.nanmax(ys))


def append_batches(xs, ys):
    engine = Engine.from_points(np.empty(0), np.empty(0))
    for i in range(0, len(xs), BATCH):
        engine.append_delta(xs[i:i + BATCH], ys[i:i + BATCH])
    engine.flush()
    return engine


def build_batches(xs, ys):
    builder = _PointBuilder()
    for i in range(0, len(xs), BATCH):
        builder.append(xs[i:i + BATCH], ys[i:i + BATCH])
    return builder.finish()


def main():
    header()
    for name, (xs, ys) in [("uniform", uniform_points(N)), ("clustered", clustered_points(N))]:
        ours, engine = best_of(lambda: Engine.from_points(xs, ys))
        peer, ext = best_of(lambda: numpy_pass(xs, ys))
        assert engine.extent() == tuple(float(v) for v in ext)
        report(f"from_points {name} 10M", ours, peer)

    # The automatic merges grow the main arrays geometrically, so the cost per appended point
    # (in the case name) stays flat however long the appends go on; the times are the totals.
    xs, ys = uniform_points(APPENDED, seed=3)
    peer, whole = best_of(lambda: Engine.from_points(xs, ys))
    for name, grow in [("append_delta", append_batches), ("_PointBuilder", build_batches)]:
        ours, grown = best_of(lambda: grow(xs, ys), repeat=3)
        assert repr(grown) == repr(whole) and grown.extent() == whole.extent()
        assert np.array_equal(grown.xs(), xs) and np.array_equal(grown.ys(), ys)
        report(f"{name} 1M/1k {ours / APPENDED * 1e9:.0f} ns/point", ours, peer)


if __name__ == "__main__":
    main()
