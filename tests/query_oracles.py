"""NumPy oracles, datasets and metrics readers shared by the query tests."""
import math

import numpy as np
import pytest
import shapely

from polygon_data import ring_arrays
from vardelin._core import Engine

MODES = ["eager", "auto", "none", "explicit:r_tree", "explicit:kd_tree", "explicit:grid"]
TOLERANCE = 2.220446049250313e-13
DIAMETER = 12742017.6
HALF_CIRCUMFERENCE = math.asin(1.0) * DIAMETER  # the largest distance the haversine formula gives
U32_MAX = 2**32 - 1


def u32(values):
    return np.asarray(values, dtype=np.uint32)


def points_engine(xs, ys, mode="eager"):
    e = Engine.from_points(np.asarray(xs, dtype=np.float64), np.asarray(ys, dtype=np.float64))
    e.set_index_mode(mode)
    return e


def lattice(count, columns, copies=1):
    """A lattice over [100, 200]^2; copies > 1 stacks duplicates, which the statistics call clustered."""
    i = np.tile(np.arange(count), copies)
    rows = max((count - 1) // columns, 1)
    return points_engine(100 + (i % columns) * 100 / (columns - 1), 100 + (i // columns) * 100 / rows)


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
        return rng.integers(0, 20, n) * 5.0, rng.integers(0, 20, n) * 5.0
    xs, ys = rng.uniform(0, 100, n), rng.uniform(0, 100, n)
    xs[::7] = np.nan
    ys[3::11] = np.nan
    xs[5::13] = np.inf
    ys[6::17] = -np.inf
    return xs, ys


def world(rng, n):
    """Points spread evenly over the sphere, as (longitude, latitude) degrees."""
    return rng.uniform(-180, 180, n), np.degrees(np.arcsin(rng.uniform(-1, 1, n)))


def box_mask(xs, ys, box):
    x0, y0, x1, y1 = box
    with np.errstate(invalid="ignore"):
        return (xs >= x0) & (xs <= x1) & (ys >= y0) & (ys <= y1)


def in_box(xs, ys, box):
    return np.flatnonzero(box_mask(xs, ys, box))


def near_point(xs, ys, x, y):
    """The points contains_query finds: within the absolute tolerance on both axes."""
    return in_box(xs, ys, (x + -TOLERANCE, y + -TOLERANCE, x + TOLERANCE, y + TOLERANCE))


def squared_distances(xs, ys, x, y):
    with np.errstate(invalid="ignore", over="ignore"):
        return (xs - x) ** 2 + (ys - y) ** 2


def box_distances(min_x, min_y, max_x, max_y, x, y):
    """Distances from a finite (x, y) to boxes in the order the indexes rank them: the square
    root of the squared gaps where their sum lies in [2^-960, 2^960], hypot where the squares
    overflow or underflow; a NaN in a box puts it at +inf."""
    with np.errstate(invalid="ignore", over="ignore", under="ignore"):
        gx, gy = (np.fmax(np.fmax(lo - v, 0.0), v - hi) for lo, hi, v in [(min_x, max_x, x), (min_y, max_y, y)])
        d2 = gx * gx + gy * gy
        held = ((d2 >= 2.0 ** -960) & (d2 <= 2.0 ** 960)) | ((gx == 0) & (gy == 0))
        d = np.where(held, np.sqrt(d2), np.hypot(gx, gy))
    return np.where(np.isnan(min_x) | np.isnan(min_y) | np.isnan(max_x) | np.isnan(max_y), np.inf, d)


def within_disc(xs, ys, cx, cy, d):
    """The disc test as the squared form decides it with an unbounded exponent: per point, the
    gaps and the radius scaled by one power of two (halved first where finite ends lie too far
    apart to subtract), which changes no rounding. Points and centres at infinity, NaN and a
    negative radius hold nothing."""
    with np.errstate(invalid="ignore", over="ignore"):
        dx, dy = xs - cx, ys - cy
        halve = np.isinf(dx) | np.isinf(dy)
        dx, dy = np.where(halve, xs / 2 - cx / 2, dx), np.where(halve, ys / 2 - cy / 2, dy)
        r = np.where(halve, d / 2, d)
        _, e = np.frexp(np.fmax(np.abs(dx), np.abs(dy)))
        sx, sy, sr = np.ldexp(dx, -e), np.ldexp(dy, -e), np.ldexp(r, -e)
        held = sx * sx + sy * sy <= sr * sr
    return held & np.isfinite(xs) & np.isfinite(ys) & bool(np.isfinite(cx) and np.isfinite(cy) and d >= 0)


def check_knn_ranking(got, d, k):
    """min(k, n) ids nearest first; the ones at +inf are the lowest such ids, ascending."""
    got = np.asarray(got, dtype=np.int64)
    assert len(got) == min(k, len(d)) and len(set(got.tolist())) == len(got)
    np.testing.assert_array_equal(d[got], np.sort(d)[:len(got)])
    tail = got[np.isinf(d[got])]
    assert tail.tolist() == np.flatnonzero(np.isinf(d))[:len(tail)].tolist()


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


def pair_set(flat):
    return set(map(tuple, np.asarray(flat).reshape(-1, 2).tolist()))


def operations(e):
    """(name, index, calls, output_rows) per recorded operation since the last take_metrics."""
    return [(o["name"], o["index"], o["calls"], o["output_rows"]) for o in e.take_metrics()["operations"]]


def builds(metrics):
    return {b["index"]: b["build_count"] for b in metrics["index_builds"]}


def polygon_engine(geoms, mode="eager", multi=True):
    """An Engine over the geometries' ring arrays; multi=False leaves part_poly out."""
    xs, ys, ring, poly, part_poly = ring_arrays(np.asarray(geoms, dtype=object))
    e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly if multi else None)
    e.set_index_mode(mode)
    return e


def shells(geoms):
    """The exterior of every part as a polygon, and the index of the geometry owning it."""
    parts, owner = shapely.get_parts(geoms, return_index=True)
    return shapely.polygons(shapely.get_exterior_ring(parts)), owner


def polygon_range_hits(shells, owner, box):
    """Logical polygons with a part whose exterior meets the closed box: holes do not count."""
    return np.unique(owner[shapely.intersects(shells, shapely.box(*box))])


class CallsBack:
    """A number, or a sequence of one item, whose conversion first calls `during`: the borrow
    a method holds while it converts its arguments is then visible to `during`."""

    def __init__(self, during, value):
        self.during, self.value = during, value

    def __float__(self):
        self.during()
        return float(self.value)

    def __index__(self):
        self.during()
        return self.value

    def __len__(self):
        return 1

    def __getitem__(self, i):
        if i > 0:
            raise IndexError
        self.during()
        return self.value


def expect_refused(call, message):
    with pytest.raises(RuntimeError, match=f"^{message}$"):
        call()
