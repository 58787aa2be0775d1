"""from_points (our copy of both arrays + the statistics: extent, histogram, distribution) at
100k / 1M / 10M against the copy a user would otherwise make, `xs.copy(); ys.copy()` in NumPy;
and growing a dataset batch by batch (delta appends, the point builder) against from_points of
the total. from_points copies and counts on every worker thread, NumPy copies on one."""
import numpy as np

from common import THREADS, clustered_points, compare, header, size_label, uniform_points
from vardelin import Engine
from vardelin._core import _PointBuilder

SIZES = (100_000, 1_000_000, 10_000_000)
APPENDED = 1_000_000
BATCH = 1_000


def numpy_copy(xs, ys):
    return xs.copy(), ys.copy()


def same_copy(engine, copies):
    cx, cy = copies
    assert np.array_equal(engine.xs(), cx) and np.array_equal(engine.ys(), cy)
    assert engine.extent() == (cx.min(), cy.min(), cx.max(), cy.max())


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
    for n in SIZES:
        for name, (xs, ys) in [("uniform", uniform_points(n)), ("clustered", clustered_points(n))]:
            compare(f"from_points {name} {size_label(n)} vs xs.copy(); ys.copy()",
                    lambda: Engine.from_points(xs, ys), lambda: numpy_copy(xs, ys), same_copy,
                    rounds=9, note=f"ours copy+statistics on {THREADS} threads, NumPy copy on 1")

    # The automatic merges grow the main arrays geometrically, so the cost per appended point
    # stays flat however long the appends go on; the times are the totals.
    xs, ys = uniform_points(APPENDED, seed=3)

    def same_dataset(grown, whole):
        assert repr(grown) == repr(whole) and grown.extent() == whole.extent()
        assert np.array_equal(grown.xs(), xs) and np.array_equal(grown.ys(), ys)

    for name, grow in [("append_delta", append_batches), ("_PointBuilder", build_batches)]:
        compare(f"{name} 1M in 1k batches vs from_points of the whole", lambda: grow(xs, ys),
                lambda: Engine.from_points(xs, ys), same_dataset, note="both end with one Engine of 1M points")


if __name__ == "__main__":
    main()
