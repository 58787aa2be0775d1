"""Point-in-polygon joins: batch_contains against shapely's STRtree `within` query, and
batch_contains_aggregate against those pairs folded by NumPy in row order."""
import numpy as np
import pytest
import shapely

from conftest import assert_runs_without_gil, on_one_thread
from polygon_data import (error_of, hole_points, open_ring_arrays, random_geometries, ring_arrays,
                          triangle_holed_geometries)
from query_oracles import MODES, U32_MAX, builds, operations, points_engine, polygon_engine, shells
from vardelin._core import Engine

BOUNDARY_GAP = 1e-7


def round_polygon(rng, cx, cy):
    """A polygon of 33 to 65 vertices with a hole off its centre: enough edges for the banded test."""
    r = rng.uniform(1.0, 4.0)
    shell = shapely.Point(cx, cy).buffer(r, quad_segs=int(rng.integers(8, 17)))
    return shapely.Polygon(shell.exterior.coords, [shapely.Point(cx + 0.4 * r, cy).buffer(0.3 * r, 4).exterior.coords])


def geometries(seed, n=300):
    """Polygons with holes and multipolygons, a third of them with many vertices; polygons of
    different rows overlap."""
    rng = np.random.default_rng(seed)
    few = random_geometries(rng, n - n // 3, multi_share=0.4)
    many = []
    for _ in range(n // 3):
        cx, cy = rng.uniform(-500, 500), rng.uniform(-100, 300)
        k = int(rng.integers(1, 3))
        shapes = [round_polygon(rng, cx + 10 * j, cy) for j in range(k)]
        many.append(shapes[0] if k == 1 else shapely.MultiPolygon(shapes))
    out = np.concatenate([few, np.array(many, dtype=object)])
    return out[rng.permutation(len(out))]


def off_boundary_points(geoms, n, seed):
    """Points over the geometries' area, minus those near any ring: there the even-odd
    rule, the banded test and GEOS may disagree. Every 97th point gets a NaN coordinate."""
    rng = np.random.default_rng(seed)
    # Half over the whole area, half inside the bounds of random polygons, so that most of
    # those hit something.
    b = shapely.bounds(geoms)[rng.integers(0, len(geoms), n - n // 2)]
    xs = np.concatenate([rng.uniform(-510, 530, n // 2), rng.uniform(b[:, 0], b[:, 2])])
    ys = np.concatenate([rng.uniform(-110, 310, n // 2), rng.uniform(b[:, 1], b[:, 3])])
    xs, ys = off_boundary(geoms, xs, ys)
    xs[::97] = np.nan
    ys[5::97] = np.nan
    return xs, ys


def off_boundary(geoms, xs, ys):
    """The points farther than BOUNDARY_GAP from every ring, as new arrays."""
    near = shapely.STRtree(shapely.boundary(geoms)).query(shapely.points(xs, ys), predicate="dwithin",
                                                            distance=BOUNDARY_GAP)[0]
    keep = np.setdiff1d(np.arange(len(xs)), near)
    return xs[keep].copy(), ys[keep].copy()


def shapely_pairs(geoms, xs, ys):
    """(row, polygon) pairs by shapely, sorted by row then polygon."""
    rows, polys = shapely.STRtree(geoms).query(shapely.points(xs, ys), predicate="within")
    order = np.lexsort((polys, rows))
    return np.column_stack([rows[order], polys[order]]).astype(np.uint32)


def sorted_pairs(flat):
    pairs = np.asarray(flat).reshape(-1, 2)
    return pairs[np.lexsort((pairs[:, 1], pairs[:, 0]))]


def check_pair_order(flat):
    """Rows ascending, each polygon at most once per row."""
    pairs = np.asarray(flat).reshape(-1, 2).astype(np.int64)
    assert np.all(np.diff(pairs[:, 0]) >= 0)
    keys = pairs[:, 0] << 32 | pairs[:, 1]
    assert len(np.unique(keys)) == len(keys)


def folded(pairs, n_polygons, values, validity):
    """The aggregate of the pairs, each sum added in row order as a serial fold would."""
    rows, polys = pairs[:, 0].astype(np.int64), pairs[:, 1].astype(np.int64)
    counts = np.bincount(polys, minlength=n_polygons).astype(np.uint64)
    ids = np.flatnonzero(counts).astype(np.uint32)
    sums, valid_counts = [], []
    for v, ok in zip(values, validity):
        take = ok[rows] != 0
        s = np.zeros(n_polygons)
        np.add.at(s, polys[take], v[rows[take]])  # unbuffered, in index order
        sums.append(s[ids])
        valid_counts.append(np.bincount(polys[take], minlength=n_polygons)[ids].astype(np.uint64))
    empty = np.empty(0)
    return (ids, counts[ids], np.concatenate(sums) if sums else empty,
            np.concatenate(valid_counts).astype(np.uint64) if valid_counts else empty.astype(np.uint64))


def assert_same_aggregate(got, expected):
    assert [a.dtype for a in got] == [np.uint32, np.uint64, np.float64, np.uint64]
    for a, b in zip(got, expected):
        # Bit for bit, NaN included.
        np.testing.assert_array_equal(np.asarray(a).view(np.uint8), np.asarray(b, dtype=a.dtype).view(np.uint8))


def value_columns(rng, n, count=3):
    """Values of widely different magnitudes, so that any other order of addition shows in the
    last bits; some valid NaN values; validity bytes of 0, 1 and 2."""
    values = [rng.normal(size=n) * 10.0 ** rng.integers(-8, 9, n) for _ in range(count)]
    validity = [rng.choice(np.array([0, 1, 2], dtype=np.uint8), n, p=[0.2, 0.6, 0.2]) for _ in range(count)]
    if count:
        values[0][::53] = np.nan
        values[-1][7::41] = np.nan
    return values, validity


@pytest.fixture(scope="module")
def world():
    geoms = geometries(17)
    xs, ys = off_boundary_points(geoms, 40000, 3)
    return geoms, xs, ys, shapely_pairs(geoms, xs, ys)


# ---------------------------------------------------------------------------------------------
# batch_contains


@pytest.mark.parametrize("multi", [True, False])
@pytest.mark.parametrize("mode", MODES)
def test_pairs_and_aggregate_are_shapely_within_in_every_mode(world, mode, multi):
    geoms, xs, ys, expected = world
    e = polygon_engine(geoms, mode, multi=multi)
    if not multi:
        # Each part is its own polygon: map shapely's logical pairs to parts.
        geoms = shapely.get_parts(geoms)
        expected = shapely_pairs(geoms, xs, ys)
    got = e.batch_contains(xs, ys)
    assert got.dtype == np.uint32 and got.ndim == 1
    check_pair_order(got)
    np.testing.assert_array_equal(sorted_pairs(got), expected)
    assert len(expected) > 1000 and not np.isnan(xs[expected[:, 0]]).any()
    # The aggregate is the pairs folded in row order; a NaN valid value makes its sum NaN.
    values, validity = value_columns(np.random.default_rng(5), len(xs))
    got = e.batch_contains_aggregate(xs, ys, values, validity)
    assert_same_aggregate(got, folded(expected, len(geoms), values, validity))
    assert np.isnan(got[2]).any()


@pytest.mark.parametrize("mode", ["none", "explicit:r_tree"])
def test_each_row_lists_what_its_own_query_finds(world, mode):
    # The points are searched in groups along a curve; each row must still name the polygons the
    # point's own contains_query names, each once, in the order the index meets their parts, here
    # with the parts folded onto 97 polygons so that parts of one polygon overlap. The join tests
    # parts of many edges through their bands (but for "none"), contains_query ring by ring: on
    # the boundary, at vertices and edge midpoints, only the crossing rule decides, the same way.
    geoms, xs, ys, _ = world
    rx, ry, ring, poly, _ = ring_arrays(geoms)
    e = Engine.from_polygon_rings(rx, ry, ring, poly, np.arange(len(poly) - 1) % 97)
    e.set_index_mode(mode)
    xs, ys = np.r_[xs[::3], rx[::2], (rx[:-1] + rx[1:])[::2] / 2], np.r_[ys[::3], ry[::2], (ry[:-1] + ry[1:])[::2] / 2]
    got = e.batch_contains(xs, ys)
    rows = np.split(got[1::2], np.searchsorted(got[0::2], np.arange(1, len(xs))))
    assert [r.tolist() for r in rows] == [e.contains_query(x, y) for x, y in zip(xs, ys)]


@pytest.fixture(scope="module")
def holed_world():
    rng = np.random.default_rng(29)
    geoms = triangle_holed_geometries(rng, 200)
    hx, hy = off_boundary(geoms, *hole_points(rng, geoms, 30))
    ux, uy = off_boundary_points(geoms, 20000, 4)
    xs, ys = np.r_[hx, ux], np.r_[hy, uy]
    return geoms, xs, ys, shapely_pairs(geoms, xs, ys)


@pytest.mark.parametrize("mode", MODES)
def test_open_rings_with_triangular_holes_in_every_mode(holed_world, mode):
    # Stored open, a triangular hole has three coordinates, the fewest a ring needs to enclose
    # anything; every part is small enough to be tested ring by ring, not through bands.
    geoms, xs, ys, expected = holed_world
    rx, ry, ring, poly, part_poly = open_ring_arrays(geoms)
    assert np.diff(ring).min() == 3 and np.diff(ring[poly]).max() < 32
    e = Engine.from_polygon_rings(rx, ry, ring, poly, part_poly)
    e.set_index_mode(mode)
    np.testing.assert_array_equal(sorted_pairs(e.batch_contains(xs, ys)), expected)
    ids, counts, _, _ = e.batch_contains_aggregate(xs, ys, [], [])
    np.testing.assert_array_equal(ids, np.unique(expected[:, 1]))
    np.testing.assert_array_equal(counts, np.bincount(expected[:, 1])[ids])
    for i in range(0, len(xs), 97):
        assert sorted(e.contains_query(xs[i], ys[i])) == expected[expected[:, 0] == i, 1].tolist()
    # Many points lie inside a hole and so inside the exterior alone.
    exteriors, owner = shells(geoms)
    in_shell = shapely.STRtree(exteriors).query(shapely.points(xs, ys), predicate="within")
    assert len(set(zip(in_shell[0], owner[in_shell[1]]))) - len(expected) > 3000


def test_brute_force_lists_polygons_by_first_containing_part():
    # Polygon 0 has parts 0 and 2, polygon 1 part 1; all three hold the point. The scan meets
    # part 0 first, so polygon 0 comes first and only once.
    square = shapely.box(0, 0, 10, 10)
    geoms = [shapely.MultiPolygon([square, shapely.box(1, 1, 9, 9)]), shapely.box(2, 2, 8, 8)]
    xs, ys, ring, poly, _ = ring_arrays(np.array(geoms, dtype=object))
    part_poly = np.array([0, 0, 1], dtype=np.int64)
    e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly)
    e.set_index_mode("none")
    got = e.batch_contains(np.array([5.0, 20.0, 0.5]), np.array([5.0, 20.0, 0.5]))
    assert got.tolist() == [0, 0, 0, 1, 2, 0]
    e.set_index_mode("eager")
    assert sorted_pairs(e.batch_contains(np.array([5.0]), np.array([5.0]))).tolist() == [[0, 0], [0, 1]]


@pytest.mark.parametrize("mode", MODES)
def test_ordinary_points_in_parts_whose_crossings_overflow(mode):
    # Points of ordinary magnitude in parts 2^1000 across, a triangle tested ring by ring and a
    # 40-gon tested by bands: the crossing products overflow, so each edge is decided exactly.
    # The oracle is shapely on everything scaled by 2^-1000, which keeps every answer.
    a = np.linspace(0, 2 * np.pi, 40, endpoint=False)
    unit = [shapely.Polygon([(-1, -1), (1, -1), (0, 1)]), shapely.Polygon(np.column_stack([np.cos(a), np.sin(a)]))]
    geoms = np.array([shapely.transform(g, lambda c: np.ldexp(c, 1000)) for g in unit])
    xs = np.array([1.0, 0.0, -2.0, np.ldexp(0.3, 1000), np.ldexp(1, 1000)])
    ys = np.array([1.0, 0.0, 5.0, np.ldexp(0.9, 1000), np.ldexp(1, 1000)])
    scaled = shapely.points(np.ldexp(xs, -1000), np.ldexp(ys, -1000))
    inside = shapely.contains(np.array(unit)[None, :], scaled[:, None])
    assert inside.sum(axis=0).tolist() == [3, 4]
    pairs = polygon_engine(geoms, mode).batch_contains(xs, ys)
    assert set(map(tuple, pairs.reshape(-1, 2).tolist())) == set(map(tuple, np.argwhere(inside).tolist()))


def test_parts_without_rings_contain_nothing():
    # Part 0 has no rings: its box is (0, 0, 0, 0), so the origin finds it as a candidate, and
    # its first ring would be part 1's exterior, which holds the origin.
    xs = np.array([-1.0, 1.0, 1.0, -1.0])
    ys = np.array([-1.0, -1.0, 1.0, 1.0])
    ring = np.array([0, 4], dtype=np.int64)
    poly = np.array([0, 0, 1, 1], dtype=np.int64)
    for mode in ["none", "eager"]:
        e = Engine.from_polygon_rings(xs, ys, ring, poly, None)
        e.set_index_mode(mode)
        assert e.batch_contains(np.array([0.0, 0.5]), np.array([0.0, 0.5])).tolist() == [0, 1, 1, 1]
        ids, counts, _, _ = e.batch_contains_aggregate(np.array([0.0]), np.array([0.0]), [], [])
        assert ids.tolist() == [1] and counts.tolist() == [1]


def test_modes_metrics_and_builds(world):
    geoms, xs, ys, expected = world
    for mode, column, built in [("eager", "r_tree", "r_tree"), ("none", "brute_force", "brute_force"),
                                ("explicit:kd_tree", "kd_tree", "r_tree"), ("explicit:grid", "grid", "r_tree")]:
        e = polygon_engine(geoms, mode)
        e.take_metrics()
        # An empty query is counted, and builds what the join needs.
        out = e.batch_contains(np.empty(0), np.empty(0))
        assert out.dtype == np.uint32 and out.shape == (0,)
        out = e.batch_contains_aggregate(np.empty(0), np.empty(0), [np.empty(0)], [np.empty(0, np.uint8)])
        assert [a.size for a in out] == [0, 0, 0, 0]
        m = e.take_metrics()
        assert [(o["name"], o["index"], o["calls"], o["output_rows"]) for o in m["operations"]] == [
            ("batch_contains", column, 1, 0), ("batch_contains_aggregate", column, 1, 0)]
        # An explicit k-d tree or grid is served by the R-tree over the parts: no vertex index.
        assert builds(m) == {built: 1, **({} if mode == "none" else {"prepared_polygons": 1})}
        got, ids = e.batch_contains(xs, ys), e.batch_contains_aggregate(xs, ys, [], [])[0]
        np.testing.assert_array_equal(sorted_pairs(got), expected)
        m = e.take_metrics()
        assert [(o["name"], o["index"], o["calls"], o["output_rows"]) for o in m["operations"]] == [
            ("batch_contains", column, 1, len(expected)), ("batch_contains_aggregate", column, 1, len(ids))]
        assert builds(m) == {}
        if mode == "none":  # the scan over the part boxes holds one box per part
            assert e.index_bytes() == 32 * len(ring_arrays(geoms)[3]) - 32
            e.set_index_mode("eager")  # a later mode sets up what the earlier one left out
            e.batch_contains(xs[:10], ys[:10])
            assert builds(e.take_metrics()) == {"r_tree": 1, "prepared_polygons": 1}


def test_total_q_count_only_steers_the_index_choice(world):
    geoms, xs, ys, expected = world
    e = polygon_engine(geoms, "auto")
    e.take_metrics()
    # No query points to pay for an R-tree: the scan.
    got = e.batch_contains(xs, ys, total_q_count=0)
    assert operations(e) == [("batch_contains", "brute_force", 1, len(expected))]
    np.testing.assert_array_equal(sorted_pairs(got), expected)
    got = e.batch_contains(xs, ys, 10**9)
    assert operations(e) == [("batch_contains", "r_tree", 1, len(expected))]
    np.testing.assert_array_equal(sorted_pairs(got), expected)
    np.testing.assert_array_equal(e.batch_contains(xs, ys, None), e.batch_contains(xs, ys))


def test_contains_checks_in_order(huge_array):
    pts = points_engine([0.0, 1.0], [0.0, 1.0])
    a = np.zeros(4)
    assert error_of(pts.batch_contains, a[::2], a[::2]) == "query_xs must be a contiguous float64 array"
    assert error_of(pts.batch_contains, a[:2], a[::2]) == "query_ys must be a contiguous float64 array"
    assert error_of(pts.batch_contains, a, a[:3]) == "query_xs and query_ys must have the same length"
    assert error_of(pts.batch_contains, huge_array, huge_array) == (
        "join query has 4294967296 rows; Vardelin's single-node join indices support at most 4294967295")
    assert error_of(pts.batch_contains, a, a) == "batch_contains requires a polygon dataset"
    with pytest.raises(OverflowError):
        pts.batch_contains(a, a, -1)
    with pytest.raises(TypeError):
        pts.batch_contains(a, a, 3.0)
    with pytest.raises(TypeError, match="query_xs"):
        pts.batch_contains(a.astype(np.float32), a)
    assert operations(pts) == []


# ---------------------------------------------------------------------------------------------
# batch_contains_aggregate


def test_aggregate_without_columns_and_with_invalid_rows(world):
    geoms, xs, ys, expected = world
    e = polygon_engine(geoms, "eager")
    # Polygons without a point are left out.
    few = expected[expected[:, 0] < 1000]
    ids, counts, sums, valid = e.batch_contains_aggregate(xs[:1000], ys[:1000], (), ())
    assert 0 < len(ids) < len(geoms)
    np.testing.assert_array_equal(ids, np.unique(few[:, 1]))
    np.testing.assert_array_equal(counts, np.bincount(few[:, 1])[ids])
    assert sums.dtype == np.float64 and sums.size == 0 and valid.dtype == np.uint64 and valid.size == 0
    counts = e.batch_contains_aggregate(xs, ys, [], [])[1]
    # Invalid values are never read, NaN or not: counts stay, sums and valid counts are zero.
    nan = np.full(len(xs), np.nan)
    got = e.batch_contains_aggregate(xs, ys, [nan], [np.zeros(len(xs), np.uint8)])
    np.testing.assert_array_equal(got[1], counts)
    assert not got[2].any() and not got[3].any()


def test_aggregate_counts_a_polygon_once_per_point():
    # The parts 0 and 1 of polygon 0 overlap; polygon 1 overlaps both.
    geoms = [shapely.MultiPolygon([shapely.box(0, 0, 10, 10), shapely.box(1, 1, 9, 9)]), shapely.box(2, 2, 8, 8)]
    e = polygon_engine(geoms, "eager")
    ids, counts, sums, valid = e.batch_contains_aggregate(
        np.array([5.0, 0.5, np.nan]), np.array([5.0, 0.5, 5.0]), [np.array([1.5, 2.0, 4.0])],
        [np.array([1, 1, 1], np.uint8)])
    assert ids.tolist() == [0, 1] and counts.tolist() == [2, 1]
    assert sums.tolist() == [3.5, 1.5] and valid.tolist() == [2, 1]


def test_aggregate_with_a_state_over_the_chunk_budget():
    # Sparse polygon ids make 3 million groups: with 2 columns the state holds 120 MB.
    geoms = geometries(23, 200)
    xs, ys, ring, poly, part_poly = ring_arrays(geoms)
    spread = 15000
    e = Engine.from_polygon_rings(xs, ys, ring, poly, part_poly * spread)
    qx, qy = off_boundary_points(geoms, 20000, 8)
    expected = shapely_pairs(geoms, qx, qy)
    expected[:, 1] *= spread
    values, validity = value_columns(np.random.default_rng(9), len(qx), 2)
    got = e.batch_contains_aggregate(qx, qy, values, validity)
    assert_same_aggregate(got, folded(expected, int(part_poly.max()) * spread + 1, values, validity))


def test_aggregate_state_beyond_memory_is_memory_error():
    # One part mapped to the last of 4294967295 logical polygons: with 4 columns the state
    # would take 309 GB, refused before it is filled.
    square = np.array([0.0, 1.0, 1.0, 0.0])
    e = Engine.from_polygon_rings(square, square[[0, 0, 1, 1]], np.array([0, 4], np.int64),
                                  np.array([0, 1], np.int64), np.array([U32_MAX - 1], np.int64))
    half, valid = np.full(1, 0.5), np.ones(1, np.uint8)
    e.take_metrics()
    with pytest.raises(MemoryError):
        e.batch_contains_aggregate(half, half, [half] * 4, [valid] * 4)
    # Refused before the index or the prepared polygons were built: the call left no trace.
    m = e.take_metrics()
    assert (m["operations"], builds(m), e.index_bytes()) == ([], {}, 0)
    assert e.batch_contains(half, half).tolist() == [0, U32_MAX - 1]


def test_aggregate_checks_in_order():
    pts = points_engine([0.0, 1.0], [0.0, 1.0])
    a, v = np.zeros(4), np.ones(4, np.uint8)
    agg = pts.batch_contains_aggregate
    assert error_of(agg, a[::2], a[::2], [], []) == "query_xs must be a contiguous float64 array"
    assert error_of(agg, a, a[:3], [], []) == "query_xs and query_ys must have the same length"
    assert error_of(agg, a, a, [a], []) == "value_columns and validity_columns must have the same length"
    assert error_of(agg, a, a, [a, a[::2]], [v, v[::2]]) == "aggregate values must be contiguous float64 arrays"
    assert error_of(agg, a, a, [a, a], [v, v[::2]]) == "aggregate validities must be contiguous uint8 arrays"
    assert error_of(agg, a, a, [a[:3], a[::2]], [v, v]) == "aggregate value and validity arrays must match the query length"
    assert error_of(agg, a, a, [a], [np.ones(5, np.uint8)]) == (
        "aggregate value and validity arrays must match the query length")
    assert error_of(agg, a, a, [a], [v]) == "batch_contains_aggregate requires a polygon dataset"
    for values, validity, name in [([a.astype(np.float32)], [v], "value_columns"), ("ab", [v], "value_columns"),
                                   ([a], [v.astype(bool)], "validity_columns"), ([a], 3, "validity_columns")]:
        with pytest.raises(TypeError, match=f"argument '{name}'"):
            agg(a, a, values, validity)
    assert operations(pts) == []


# ---------------------------------------------------------------------------------------------
# Threads and the interpreter lock


def thread_case(seed):
    geoms = geometries(seed, 400)
    xs, ys = off_boundary_points(geoms, 30000, seed)
    values, validity = value_columns(np.random.default_rng(seed), len(xs), 2)
    out = {}
    for mode in ["eager", "none"]:
        e = polygon_engine(geoms, mode)
        out[mode] = (e.batch_contains(xs, ys), e.batch_contains_aggregate(xs, ys, values, validity))
    return out


def test_one_and_eight_threads_agree():
    here, alone = thread_case(31), on_one_thread(thread_case, 31)
    for mode in here:
        np.testing.assert_array_equal(here[mode][0], alone[mode][0])
        assert_same_aggregate(here[mode][1], alone[mode][1])


def test_joins_release_the_interpreter_lock_and_hold_the_borrow():
    geoms = geometries(41, 2000)
    e = polygon_engine(geoms, "eager")
    xs, ys = np.random.default_rng(1).uniform(-510, 530, 2_000_000), np.random.default_rng(2).uniform(-110, 310, 2_000_000)
    e.batch_contains(xs[:10], ys[:10])  # builds outside the probed call
    pairs = assert_runs_without_gil(e, lambda: e.batch_contains(xs, ys))
    agg = assert_runs_without_gil(e, lambda: e.batch_contains_aggregate(xs, ys, [xs], [np.ones(len(xs), np.uint8)]))
    np.testing.assert_array_equal(agg[0], np.unique(pairs.reshape(-1, 2)[:, 1]))
