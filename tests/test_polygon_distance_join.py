"""Within-distance joins between points and polygons against shapely's dwithin: pairs from the
query side and from the polygon side, per-polygon aggregates against pairs and np.bincount, and
the points of a point dataset near one query polygon."""
import numpy as np
import pytest
import shapely

from conftest import assert_runs_without_gil, on_one_thread
from polygon_data import (error_of, hole_points, open_ring_arrays, random_geometries, ring_arrays,
                          triangle_holed_geometries)
from query_oracles import MODES, box_distances, operations, pair_set, points_engine, polygon_engine, shells
from vardelin._core import Engine


def near_polygons(rng, geoms, n):
    """Query points around the polygons: some at hole centres (inside a hole, at the hole's
    distance from the polygon), some NaN."""
    parts = shapely.get_parts(geoms)
    centres = shapely.get_coordinates(shapely.centroid(parts))
    pick = rng.integers(0, len(centres), n)
    xs = centres[pick, 0] + rng.normal(0, 2.0, n)
    ys = centres[pick, 1] + rng.normal(0, 2.0, n)
    xs[::9], ys[::9] = centres[pick[::9], 0], centres[pick[::9], 1]
    xs[5::31] = np.nan
    return xs, ys


def expected_pairs(geoms, xs, ys, d):
    """GEOS refuses NaN points: they match nothing, so only the others are asked."""
    rows = np.flatnonzero(~(np.isnan(xs) | np.isnan(ys)))
    hits = shapely.STRtree(geoms).query(shapely.points(xs[rows], ys[rows]), predicate="dwithin", distance=d)
    return set(zip(rows[hits[0]].tolist(), hits[1].tolist()))


def columns_of(names):
    return sorted({(n, i) for n, i, _, _ in names})


@pytest.fixture(scope="module")
def scene():
    rng = np.random.default_rng(11)
    geoms = random_geometries(rng, 150)
    xs, ys = near_polygons(rng, geoms, 3000)
    return geoms, xs, ys


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("multi", [True, False])
def test_pairs_and_aggregate_match_shapely_in_every_mode(scene, mode, multi):
    geoms, xs, ys = scene
    owners = geoms if multi else shapely.get_parts(geoms)
    values, validity = value_columns(np.random.default_rng(5), len(xs))
    e = polygon_engine(geoms, mode, multi)
    for d in (0.0, 0.4, 3.0):
        got = e.batch_within_distance_to_polygons(xs, ys, d)
        assert got.dtype == np.uint32
        assert pair_set(got) == expected_pairs(owners, xs, ys, d)
        assert len(pair_set(got)) == len(got) // 2  # each polygon once per query point
        # total_q_count changes at most the plan, never the pairs.
        assert pair_set(e.batch_within_distance_to_polygons(xs, ys, d, total_q_count=10**9)) == pair_set(got)
        # The aggregate is the pairs counted and summed by np.bincount in row order.
        agg = e.batch_within_distance_to_polygons_aggregate(xs, ys, d, values, validity)
        assert [a.dtype for a in agg] == [np.uint32, np.uint64, np.float64, np.uint64]
        for a, b in zip(agg, aggregate_oracle(got, values, validity, len(owners))):
            np.testing.assert_array_equal(a, b)
        none = e.batch_within_distance_to_polygons_aggregate(xs, ys, d, [], [])
        np.testing.assert_array_equal(none[1], agg[1])
        assert len(none[2]) == len(none[3]) == 0


def aggregate_oracle(pairs, values, validity, groups):
    """Counts and sums from the pairs in row order, as np.bincount adds its weights."""
    pairs = pairs.reshape(-1, 2).astype(np.int64)
    pairs = pairs[np.argsort(pairs[:, 0], kind="stable")]
    q, g = pairs[:, 0], pairs[:, 1]
    counts = np.bincount(g, minlength=groups)
    ids = np.flatnonzero(counts)
    sums, valid = [], []
    for v, ok in zip(values, validity):
        keep = ok[q] != 0
        sums.append(np.bincount(g[keep], weights=v[q][keep], minlength=groups)[ids])
        valid.append(np.bincount(g[keep], minlength=groups)[ids])
    return ids, counts[ids], np.concatenate(sums or [[]]), np.concatenate(valid or [[]]).astype(np.uint64)


def value_columns(rng, n):
    a, b = rng.normal(0, 100, n), rng.uniform(-1, 1, n)
    a[7::50] = np.nan  # a valid NaN makes its polygons' sums NaN
    return [a, b], [(rng.random(n) < 0.8).astype(np.uint8), np.where(rng.random(n) < 0.5, 2, 0).astype(np.uint8)]


@pytest.fixture(scope="module")
def holed_scene():
    rng = np.random.default_rng(31)
    geoms = triangle_holed_geometries(rng, 150)
    hx, hy = hole_points(rng, geoms, 10)
    xs, ys = near_polygons(rng, geoms, 3000)
    return geoms, np.r_[hx, xs], np.r_[hy, ys]


@pytest.mark.parametrize("mode", MODES)
def test_open_rings_with_triangular_holes_match_shapely_in_every_mode(holed_scene, mode):
    # Stored open, a triangular hole has three coordinates, and every part is small enough to
    # be tested ring by ring: a point inside a hole lies at the hole's distance.
    geoms, xs, ys = holed_scene
    arrays = open_ring_arrays(geoms)
    assert np.diff(arrays[2]).min() == 3
    e = Engine.from_polygon_rings(*arrays)
    e.set_index_mode(mode)
    points = points_engine(xs, ys, mode)
    multi = next(g for g in geoms if len(shapely.get_parts(g)) > 1)
    rx, ry, ring, poly, _ = open_ring_arrays(np.array([multi]))
    rows = np.flatnonzero(~(np.isnan(xs) | np.isnan(ys)))
    for d in (0.0, 0.05):
        assert pair_set(e.batch_within_distance_to_polygons(xs, ys, d)) == expected_pairs(geoms, xs, ys, d)
        near = rows[shapely.dwithin(shapely.points(xs[rows], ys[rows]), multi, d)]
        assert sorted(points.points_within_distance_of_polygon(rx, ry, ring, poly, d).tolist()) == near.tolist()
    # Many points lie inside a hole, so at zero distance of the exterior alone.
    exteriors, owner = shells(geoms)
    in_shell = {(q, owner[p]) for q, p in expected_pairs(exteriors, xs, ys, 0.0)}
    assert len(in_shell - expected_pairs(geoms, xs, ys, 0.0)) > 1000


def test_open_rings_with_triangular_holes_from_the_polygon_side(holed_scene):
    geoms, _, _ = holed_scene
    few = geoms[:6]
    rng = np.random.default_rng(3)
    hx, hy = hole_points(rng, few, 2000)
    xs, ys = near_polygons(rng, few, 100_000)
    xs, ys = np.r_[hx, xs], np.r_[hy, ys]
    e = Engine.from_polygon_rings(*open_ring_arrays(few))
    e.set_index_mode("auto")
    for d in (0.0, 0.05):
        assert pair_set(e.batch_within_distance_to_polygons(xs, ys, d)) == expected_pairs(few, xs, ys, d)
    assert {o["index"] for o in e.take_metrics()["operations"]} == {"grid"}


def test_polygon_side_run_gives_the_query_side_pairs_and_aggregate(scene):
    geoms, _, _ = scene
    few = geoms[:6]
    xs, ys = near_polygons(np.random.default_rng(3), few, 200_000)
    values, validity = value_columns(np.random.default_rng(9), len(xs))
    flipped, direct = polygon_engine(few, "auto"), polygon_engine(few, "eager")
    for d in (0.0, 0.5, 2.5):
        got = flipped.batch_within_distance_to_polygons(xs, ys, d)
        # Polygon-major, rows ascending within a polygon.
        pairs = got.reshape(-1, 2).astype(np.int64)
        assert np.all(np.diff(pairs[:, 1] * len(xs) + pairs[:, 0]) > 0)
        assert pair_set(got) == pair_set(direct.batch_within_distance_to_polygons(xs, ys, d))
        assert pair_set(got) == expected_pairs(few, xs, ys, d)
    # The aggregate folds the same pairs bit for bit.
    for a, b in zip(flipped.batch_within_distance_to_polygons_aggregate(xs, ys, 1.0, values, validity),
                    direct.batch_within_distance_to_polygons_aggregate(xs, ys, 1.0, values, validity)):
        np.testing.assert_array_equal(a, b)
    m = flipped.take_metrics()
    assert columns_of([(o["name"], o["index"], 0, 0) for o in m["operations"]]) == [
        ("batch_within_distance_to_polygons", "grid"), ("batch_within_distance_to_polygons_aggregate", "grid")]
    assert m["index_builds"] == []


def test_distances_that_match_nothing_or_everything(scene):
    geoms, xs, ys = scene
    finite = ~(np.isnan(xs) | np.isnan(ys))
    for mode in ("none", "eager", "auto"):
        e = polygon_engine(geoms, mode)
        for d in (np.nan, -1.0, -np.inf):
            # 10**9 queries plan the R-tree in "auto", 0 the scan: neither may pair a NaN distance.
            for total in (0, 10**9):
                assert len(e.batch_within_distance_to_polygons(xs, ys, d, total)) == 0
            assert all(len(a) == 0 for a in e.batch_within_distance_to_polygons_aggregate(xs, ys, d, [xs], [finite.view(np.uint8)]))
        every = pair_set(e.batch_within_distance_to_polygons(xs[:40], ys[:40], np.inf))
        assert every == {(q, g) for q in np.flatnonzero(finite[:40]).tolist() for g in range(len(geoms))}
    nan = np.array([np.nan, 0.0]), np.array([0.0, np.nan])
    assert len(polygon_engine(geoms, "eager").batch_within_distance_to_polygons(*nan, np.inf)) == 0


@pytest.mark.parametrize("mode", ["none", "eager", "auto"])
def test_distances_whose_squares_leave_the_doubles(mode):
    # Points 1e-170 and 3e-170 off a unit square (their squares underflow to 0), 1e200 and 5e199
    # away (overflow to +inf), inside it, and at infinity, which no distance reaches.
    square = shapely.box(0, 0, 1, 1)
    xs = np.array([-1e-170, 0.5, 0.5, 1e200, -3e199, np.inf, 0.5])
    ys = np.array([0.5, -3e-170, 0.5, 0.5, -4e199, 0.5, -np.inf])
    dist = box_distances(0.0, 0.0, 1.0, 1.0, xs, ys)
    with np.errstate(over="ignore"):  # GEOS squares too, and gets the sum right all the same here
        np.testing.assert_array_equal(shapely.distance(shapely.points(xs[:4], ys[:4]), square), dist[:4])
    rx, ry, ring, poly, _ = ring_arrays(np.array([square]))
    polygons, points = polygon_engine([square], mode), points_engine(xs, ys, mode)
    for d in (0.0, 1e-170, 3e-170, 4.9e199, 5.1e199, 1e200, np.inf):
        want = np.flatnonzero((dist <= d) & np.isfinite(xs) & np.isfinite(ys))
        assert pair_set(polygons.batch_within_distance_to_polygons(xs, ys, d)) == {(q, 0) for q in want}
        counts = polygons.batch_within_distance_to_polygons_aggregate(xs, ys, d, [], [])[1]
        assert counts.tolist() == ([len(want)] if len(want) else [])
        assert sorted(points.points_within_distance_of_polygon(rx, ry, ring, poly, d).tolist()) == want.tolist()


@pytest.mark.parametrize("mode", ["none", "eager", "auto"])
def test_ordinary_points_near_a_part_whose_squares_overflow(mode):
    # Ordinary points and distances, a small triangle 1e155 away: its squared distances overflow,
    # so the edges are measured exactly, from either side of the join.
    tri = shapely.Polygon([(1e155, 0), (1e155 + 1e150, 0), (1e155, 1e150)])
    xs, ys = np.array([0.0, 1.0, 1e155 + 2e149]), np.array([0.0, -2.0, 3e149])
    rx, ry, ring, poly, _ = ring_arrays(np.array([tri]))
    polygons, points = polygon_engine([tri], mode), points_engine(xs, ys, mode)
    for d, want in ((1e160, [0, 1, 2]), (1e154, [2])):
        assert pair_set(polygons.batch_within_distance_to_polygons(xs, ys, d)) == {(q, 0) for q in want}
        assert polygons.batch_within_distance_to_polygons_aggregate(xs, ys, d, [], [])[1].tolist() == [len(want)]
        assert sorted(points.points_within_distance_of_polygon(rx, ry, ring, poly, d).tolist()) == want


def test_call_frame(scene):
    geoms, xs, ys = scene
    e = polygon_engine(geoms, "eager")
    out = e.batch_within_distance_to_polygons(np.empty(0), np.empty(0), 1.0)
    assert out.dtype == np.uint32 and len(out) == 0
    ids, counts, sums, valid = e.batch_within_distance_to_polygons_aggregate(np.empty(0), np.empty(0), 1.0, [], [])
    assert (ids.dtype, counts.dtype, sums.dtype, valid.dtype) == (np.uint32, np.uint64, np.float64, np.uint64)
    assert [(n, i, c, r) for n, i, c, r in operations(e)] == [
        ("batch_within_distance_to_polygons", "r_tree", 1, 0),
        ("batch_within_distance_to_polygons_aggregate", "r_tree", 1, 0)]
    # On polygons a k-d tree or grid choice is served by the R-tree, counted in its own column.
    g = polygon_engine(geoms, "explicit:grid")
    n = len(g.batch_within_distance_to_polygons(xs, ys, 1.0)) // 2
    m = g.take_metrics()
    assert [(o["index"], o["output_rows"]) for o in m["operations"]] == [("grid", n)]
    assert {b["index"]: b["build_count"] for b in m["index_builds"]}["r_tree"] == 1

    points = points_engine(xs[:10], ys[:10])
    assert error_of(points.batch_within_distance_to_polygons, xs, ys, 1.0) == (
        "batch_within_distance_to_polygons requires a polygon dataset")
    assert error_of(e.batch_within_distance_to_polygons, xs[::2], ys[::2], 1.0) == (
        "query_xs must be a contiguous float64 array")
    agg = e.batch_within_distance_to_polygons_aggregate
    ok = np.ones(len(xs), np.uint8)
    assert error_of(agg, xs, ys[:-1], 1.0, [], []) == "query_xs and query_ys must have the same length"
    assert error_of(agg, xs, ys, 1.0, [xs], []) == "value_columns and validity_columns must have the same length"
    assert error_of(agg, xs, ys, 1.0, [xs[:-1], xs[::2]], [ok, ok]) == (
        "aggregate value and validity arrays must match the query length")
    assert error_of(agg, xs, ys, 1.0, [xs, xs], [ok, np.ones(2 * len(xs), np.uint8)[::2]]) == (
        "aggregate validities must be contiguous uint8 arrays")
    assert error_of(points.batch_within_distance_to_polygons_aggregate, xs, ys, 1.0, [xs], [ok]) == (
        "batch_within_distance_to_polygons_aggregate requires a polygon dataset")
    with pytest.raises(TypeError, match="^argument 'value_columns'"):
        agg(xs, ys, 1.0, [xs.astype(np.float32)], [ok])
    with pytest.raises(TypeError, match="^argument 'validity_columns'"):
        agg(xs, ys, 1.0, [xs], "x")
    with pytest.raises(OverflowError):
        e.batch_within_distance_to_polygons(xs, ys, 1.0, -1)
    assert operations(e) == []  # no refused call was counted


def test_aggregate_state_beyond_memory_builds_nothing():
    square = np.array([0.0, 1.0, 1.0, 0.0]), np.array([0.0, 0.0, 1.0, 1.0])
    # One part mapped to the last of 2**32 - 1 logical polygons: a state of about 100 GB.
    e = Engine.from_polygon_rings(*square, np.array([0, 4]), np.array([0, 1]), np.array([2**32 - 2]))
    with pytest.raises(MemoryError):
        e.batch_within_distance_to_polygons_aggregate(np.zeros(1), np.zeros(1), 1.0, [np.zeros(1)], [np.ones(1, np.uint8)])
    m = e.take_metrics()
    assert m["operations"] == [] and not any(b["build_count"] for b in m["index_builds"]) and e.index_bytes() == 0


def joins_of(mode, flip):
    """Pairs and aggregate of a seeded scene: module-level, so it can run pinned to one CPU."""
    rng = np.random.default_rng(21)
    geoms = random_geometries(rng, 8 if flip else 300)
    xs, ys = near_polygons(rng, geoms, 120_000)
    values, validity = value_columns(rng, len(xs))
    e = polygon_engine(geoms, mode)
    return (e.batch_within_distance_to_polygons(xs, ys, 1.2),
            e.batch_within_distance_to_polygons_aggregate(xs, ys, 1.2, values, validity))


@pytest.mark.parametrize("mode,flip", [("eager", False), ("none", False), ("auto", True)])
def test_one_thread_and_every_thread_agree(mode, flip):
    pairs, agg = joins_of(mode, flip)
    pairs1, agg1 = on_one_thread(joins_of, mode, flip)
    np.testing.assert_array_equal(pairs, pairs1)
    for a, b in zip(agg, agg1):
        np.testing.assert_array_equal(a, b)


def test_joins_release_the_interpreter_lock(scene):
    geoms, _, _ = scene
    rng = np.random.default_rng(4)
    xs, ys = near_polygons(rng, geoms, 2_000_000)
    e = polygon_engine(geoms, "eager")
    e.build_index()
    expected = e.batch_within_distance_to_polygons(xs, ys, 2.0)
    np.testing.assert_array_equal(assert_runs_without_gil(e, lambda: e.batch_within_distance_to_polygons(xs, ys, 2.0)), expected)
    ok = np.ones(len(xs), np.uint8)
    assert_runs_without_gil(e, lambda: e.batch_within_distance_to_polygons_aggregate(xs, ys, 2.0, [xs], [ok]))
    p = points_engine(xs, ys)
    rx, ry, ring, poly, _ = ring_arrays(geoms[:40])
    p.points_within_distance_of_polygon(rx, ry, ring, poly, 2.0)
    assert_runs_without_gil(p, lambda: p.points_within_distance_of_polygon(rx, ry, ring, poly, 2.0))


@pytest.fixture(scope="module")
def multipolygon():
    rng = np.random.default_rng(2)
    while True:
        geoms = random_geometries(rng, 30, multi_share=1.0)
        holed = [g for g in geoms if len(shapely.get_parts(g)) > 1 and shapely.get_num_interior_rings(shapely.get_parts(g)).any()]
        if holed:
            return holed[0]


@pytest.mark.parametrize("mode", MODES)
def test_points_near_a_multipolygon_match_shapely(multipolygon, mode):
    rng = np.random.default_rng(6)
    xs, ys = near_polygons(rng, np.array([multipolygon]), 4000)
    xs[3::17] = np.nan
    rx, ry, ring, poly, _ = ring_arrays(np.array([multipolygon]))
    e = points_engine(xs, ys, mode)
    rows = np.flatnonzero(~(np.isnan(xs) | np.isnan(ys)))
    pts = shapely.points(xs[rows], ys[rows])
    shapely.prepare(multipolygon)
    for d in (0.0, 0.3, 4.0):
        got = e.points_within_distance_of_polygon(rx, ry, ring, poly, d)
        assert got.dtype == np.uint64
        assert sorted(got.tolist()) == rows[shapely.dwithin(pts, multipolygon, d)].tolist()
        assert len(set(got.tolist())) == len(got)
    for d in (-1.0, np.nan):
        assert len(e.points_within_distance_of_polygon(rx, ry, ring, poly, d)) == 0
    # No part: nothing, whatever the lone entry says.
    for parts in (np.empty(0, np.int64), np.array([-7])):
        assert len(e.points_within_distance_of_polygon(rx, ry, ring, parts, 1e9)) == 0
    # The planned kind answers on points, the k-d tree and the grid included.
    planned = {"eager": "r_tree", "none": "brute_force"}.get(mode, mode.removeprefix("explicit:"))
    if mode != "auto":
        assert {i for _, i, _, _ in operations(e)} == {planned}


def test_points_near_a_polygon_skip_waiting_points_and_check_offsets(multipolygon):
    rx, ry, ring, poly, _ = ring_arrays(np.array([multipolygon]))
    cx, cy = shapely.get_coordinates(multipolygon.centroid)[0]
    e = points_engine(np.array([1e6]), np.array([1e6]))
    e.append_delta(np.array([cx]), np.array([cy]))
    assert len(e.points_within_distance_of_polygon(rx, ry, ring, poly, 1e3)) == 0
    assert e.delta_len() == 1
    call = e.points_within_distance_of_polygon
    assert error_of(call, rx, ry, np.array([0, -4] + ring[2:].tolist()), poly, 1.0).startswith(
        "poly_ring_offsets out of bounds at ring 0")
    assert error_of(call, rx, ry, np.array([-1] + ring[1:].tolist()), poly, 1.0) == (
        "poly_ring_offsets must not be negative: first entry is -1")
    bad = poly.copy()
    bad[1] = len(ring)
    assert error_of(call, rx, ry, ring, bad, 1.0).startswith("poly_offsets out of bounds at part 0")
    bad = np.array([0, 2, 1, len(ring) - 1])
    assert error_of(call, rx, ry, ring, bad, 1.0) == "poly_offsets must not decrease: part 1 starts at 2 but ends at 1"
    assert error_of(call, rx, ry[:-1], ring, poly, 1.0) == "poly_xs and poly_ys must have the same length"
    assert error_of(call, rx, ry, ring[::2], poly[::2], 1.0) == "poly_ring_offsets must be contiguous int64"
    polygons = polygon_engine([multipolygon])
    assert error_of(polygons.points_within_distance_of_polygon, rx[::2], ry, ring, poly, 1.0) == (
        "points_within_distance_of_polygon requires a point dataset")
    assert [o["calls"] for o in e.take_metrics()["operations"]] == [1]


def wobbly_multipolygon(vertices=400):
    """Two wobbly discs with many vertices, one with two holes: the parts that get a grid of
    their edges."""
    a = np.linspace(0.0, 2 * np.pi, vertices, endpoint=False)
    r = 10.0 + 1.5 * np.sin(9 * a)
    hole = np.linspace(2 * np.pi, 0.0, 90, endpoint=False)
    first = shapely.Polygon(np.column_stack([r * np.cos(a), r * np.sin(a)]),
                            [np.column_stack([3 + 2 * np.cos(hole), 2 * np.sin(hole)]),
                             np.column_stack([-4 + 1.5 * np.cos(hole), 1 + 1.5 * np.sin(hole)])])
    second = shapely.Polygon(np.column_stack([30 + r * np.cos(a), 5 + 0.5 * r * np.sin(a)]))
    return shapely.MultiPolygon([first, second])


@pytest.mark.parametrize("d", [0.0, 0.05, 0.8, 6.0, 40.0])
def test_points_near_a_many_vertex_multipolygon_match_shapely(d):
    multi = wobbly_multipolygon()
    rng = np.random.default_rng(12)
    xs, ys = rng.uniform(-25, 55, 200_000), rng.uniform(-25, 25, 200_000)
    # Points on the rings and near them, where the edges decide.
    ring_xy = shapely.get_coordinates(multi)
    pick = rng.integers(0, len(ring_xy), 5000)
    xs[:5000] = ring_xy[pick, 0] + rng.normal(0, d + 0.01, 5000)
    ys[:5000] = ring_xy[pick, 1] + rng.normal(0, d + 0.01, 5000)
    rx, ry, ring, poly, _ = ring_arrays(np.array([multi]))
    got = points_engine(xs, ys).points_within_distance_of_polygon(rx, ry, ring, poly, d)
    shapely.prepare(multi)
    expected = np.flatnonzero(shapely.dwithin(shapely.points(xs, ys), multi, d))
    np.testing.assert_array_equal(np.sort(got), expected)
    # The same as measuring every candidate against every edge: the polygon as many small parts
    # of its own would take the ungridded path, so compare with the pair join's exact distances.
    e = polygon_engine(np.array([multi]), "none", multi=False)
    pairs = e.batch_within_distance_to_polygons(xs, ys, d).reshape(-1, 2)
    np.testing.assert_array_equal(np.sort(got), np.unique(pairs[:, 0]))
