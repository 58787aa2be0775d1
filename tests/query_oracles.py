"""NumPy oracles and datasets shared by the single-query tests."""
import numpy as np

from vardelin._core import Engine

MODES = ["eager", "auto", "none", "explicit:r_tree", "explicit:kd_tree", "explicit:grid"]
TOLERANCE = 2.220446049250313e-13


def points_engine(xs, ys, mode="eager"):
    e = Engine.from_points(np.asarray(xs, dtype=np.float64), np.asarray(ys, dtype=np.float64))
    e.set_index_mode(mode)
    return e


def layout(name, n, rng):
    """Seeded points: uniform, clustered, a lattice with duplicates, or uniform with NaN and
    infinite coordinates mixed in."""
    if name == "uniform":
        return rng.uniform(0, 100, n), rng.uniform(0, 100, n)
    if name == "clustered":
        centres = rng.uniform(0, 100, (5, 2))
        pick = rng.integers(0, 5, n)
        return centres[pick, 0] + rng.normal(0, 1, n), centres[pick, 1] + rng.normal(0, 1, n)
    if name == "lattice":
        i = rng.integers(0, 20, n)
        j = rng.integers(0, 20, n)
        return i * 5.0, j * 5.0
    xs, ys = rng.uniform(0, 100, n), rng.uniform(0, 100, n)
    xs[::7] = np.nan
    ys[3::11] = np.nan
    xs[5::13] = np.inf
    ys[6::17] = -np.inf
    return xs, ys


def in_box(xs, ys, box):
    x0, y0, x1, y1 = box
    with np.errstate(invalid="ignore"):
        return np.flatnonzero((xs >= x0) & (xs <= x1) & (ys >= y0) & (ys <= y1))


def near_point(xs, ys, x, y):
    """The points contains_query finds: within the absolute tolerance on both axes."""
    return in_box(xs, ys, (x + -TOLERANCE, y + -TOLERANCE, x + TOLERANCE, y + TOLERANCE))


def squared_distances(xs, ys, x, y):
    with np.errstate(invalid="ignore", over="ignore"):
        return (xs - x) ** 2 + (ys - y) ** 2


def random_boxes(rng, count, lo=-10.0, hi=110.0):
    """Boxes of every size, some inverted, some degenerate."""
    for _ in range(count):
        x0, y0 = rng.uniform(lo, hi, 2)
        w, h = rng.exponential(8.0, 2)
        if rng.random() < 0.1:
            w = -w
        if rng.random() < 0.1:
            w = h = 0.0
        yield (x0, y0, x0 + w, y0 + h)
