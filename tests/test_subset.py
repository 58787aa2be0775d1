"""Engine.subset against NumPy slicing of the source's ring arrays, queries on subsets against the
source's answers remapped, and the refusals in order."""
import numpy as np
import shapely
import pytest
from hypothesis import given, settings, strategies as st

from polygon_data import random_geometries, ring_arrays, same_dataset, unaligned, wkb_column
from query_oracles import CallsBack, expect_refused, u32
from vardelin._core import Engine

LIMIT = "rows; Vardelin's single-node join indices support at most 4294967295"


def sliced(arrays, indices):
    """The ring arrays of the chosen logical polygons, cut out of the source's with NumPy."""
    xs, ys, ring, poly, part_poly = arrays
    if part_poly is None:
        part_poly = np.arange(len(poly) - 1)
    out_x, out_y, out_ring, out_poly, out_map = [], [], [0], [0], []
    for k, g in enumerate(indices):
        for p in np.flatnonzero(part_poly == g):
            for r in range(poly[p], poly[p + 1]):
                out_x.append(xs[ring[r]:ring[r + 1]])
                out_y.append(ys[ring[r]:ring[r + 1]])
                out_ring.append(out_ring[-1] + ring[r + 1] - ring[r])
            out_poly.append(len(out_ring) - 1)
            out_map.append(k)
    cat = lambda parts: np.concatenate(parts) if parts else np.empty(0)
    return cat(out_x), cat(out_y), np.array(out_ring), np.array(out_poly), np.array(out_map, dtype=np.int64)


def check_subset(source, arrays, indices):
    sub = source.subset(u32(indices))
    xs, ys, ring, poly, part_poly = sliced(arrays, indices)
    np.testing.assert_array_equal(np.asarray(sub.xs()), xs)
    np.testing.assert_array_equal(np.asarray(sub.ys()), ys)
    assert sub.n() == len(poly) - 1
    if len(ring) > 1:
        same_dataset(sub, Engine.from_polygon_rings(xs, ys, ring, poly, part_poly))
    else:  # no ring at all, which the ring-array constructor cannot take
        assert sub.extent() is None
        assert repr(sub) == f"Engine(n={sub.n()}, kind={'Polygon' if sub.n() else 'Empty'}, dist=Unknown)"


@pytest.fixture(scope="module")
def multipolygons():
    geoms = random_geometries(np.random.default_rng(11), 300, multi_share=0.4, empty_share=0.1)
    arrays = ring_arrays(geoms)
    return Engine.from_polygon_rings(*arrays), arrays, geoms


@pytest.fixture(scope="module")
def polygons():
    geoms = random_geometries(np.random.default_rng(12), 200, multi_share=0.0)
    arrays = ring_arrays(geoms)[:4] + (None,)
    return Engine.from_polygon_rings(*arrays[:4]), arrays, geoms


class TestSelection:
    @pytest.mark.parametrize("dataset", ["multipolygons", "polygons"])
    def test_against_numpy_slicing(self, request, rng, dataset):
        source, arrays, geoms = request.getfixturevalue(dataset)
        count = len(geoms)
        for indices in (np.arange(count), rng.permutation(count)[:50], rng.integers(0, count, 500), [],
                        [count - 1, 0, count - 1]):
            check_subset(source, arrays, indices)

    def test_polygons_and_parts_without_rings(self):
        # Three unit squares at x = 0, 10, 20 with x coordinates telling them apart.
        xs = np.array([0, 1, 1, 0, 10, 11, 11, 10, 20, 21, 21, 20.0])
        ys = np.array([0, 0, 1, 1] * 3, dtype=float)
        ring, poly = np.array([0, 4, 8, 12]), np.array([0, 1, 2, 3])
        # Polygon 1 has no parts: selectable, and it adds no part.
        sub = Engine.from_polygon_rings(xs, ys, ring, poly, np.array([0, 2, 3])).subset(u32([1, 3, 1]))
        assert sub.n() == 1 and sub.xs().tolist() == [20, 21, 21, 20]
        # A part without rings stays a part without rings; unreferenced vertices, here before the
        # first ring, are not copied.
        hollow = Engine.from_polygon_rings(np.r_[99.0, xs], np.r_[99.0, ys], ring + 1, np.array([0, 1, 1, 3]))
        assert hollow.extent() == (0.0, 0.0, 99.0, 99.0)
        sub = hollow.subset(u32([1, 2]))
        assert sub.n() == 2 and sub.xs().tolist() == [10, 11, 11, 10, 20, 21, 21, 20]
        assert sub.extent() == (10.0, 0.0, 21.0, 1.0)
        empty = hollow.subset(u32([]))
        assert (empty.n(), empty.extent(), repr(empty)) == (0, None, "Engine(n=0, kind=Empty, dist=Unknown)")

    def test_settings_are_copied_and_nothing_else(self):
        source = Engine.from_wkb_polygons(*wkb_column(shapely.to_wkb(random_geometries(np.random.default_rng(3), 20))))
        source.set_index_mode("auto")
        source.set_coordinate_system("geographic")
        source.build_index()
        assert source.index_bytes() > 0
        sub = source.subset(u32([3, 1, 4]))
        assert sub.coordinate_system() == "geographic" and sub.index_bytes() == 0
        metrics = sub.take_metrics()
        assert metrics["operations"] == [] and metrics["index_builds"] == []
        assert metrics["construction"]["wkb_decode_ns"] == 0  # the source's decode time is not inherited
        # Independent from here on, both ways.
        source.set_coordinate_system("planar")
        assert sub.set_index_mode("none") == "auto" and source.set_index_mode("eager") == "auto"
        assert sub.coordinate_system() == "geographic"
        assert not np.shares_memory(np.asarray(sub.xs()), np.asarray(source.xs()))


class TestRefusals:
    def test_messages_in_order(self, polygons):
        source, count = polygons[0], len(polygons[2])
        points = Engine.from_points(np.zeros(3), np.zeros(3))
        for bad in ([0, 1], np.array([0, 1]), np.array([[0]], dtype=np.uint32), np.array([0], dtype=np.uint16),
                    np.array([0], dtype=">u4")):
            with pytest.raises(TypeError):
                source.subset(bad)
        strided = u32(np.arange(2 * count + 10))[::2]
        for engine, indices, message in [
            (points, strided, "indices must be a contiguous uint32 array"),  # before the dataset kind
            (source, strided, "indices must be a contiguous uint32 array"),  # and before the bounds
            (source, unaligned([0], np.uint32), "indices must be a contiguous uint32 array"),  # read in place
            (points, u32([7, 0]), "subset currently requires a polygon dataset"),  # kind before the bounds
            (source, u32([1, count, 0, count + 5]), f"subset index {count} is out of bounds for {count} polygons"),
            (source, u32([4294967295]), f"subset index 4294967295 is out of bounds for {count} polygons"),
        ]:
            with pytest.raises(ValueError) as info:
                engine.subset(indices)
            assert str(info.value) == message
        # Bounds follow the logical polygons, not the parts.
        multi = Engine.from_polygon_rings(np.zeros(4), np.zeros(4), np.array([0, 4]), np.array([0, 1]), np.array([2]))
        assert multi.subset(indices=u32([0, 1, 2])).n() == 1
        with pytest.raises(ValueError, match="^subset index 3 is out of bounds for 3 polygons$"):
            multi.subset(u32([3]))
        # Refused while an exclusive call converts its arguments, run while a shared one does.
        factor = CallsBack(lambda: expect_refused(lambda: source.subset(u32([0])), "Already mutably borrowed"), 1.0)
        source.set_cost_factors([factor] + [1.0] * 9)
        seen = []  # shared beside shared
        assert source.intersect_hits(CallsBack(lambda: seen.append(source.subset(u32([1])).n()), [1])) == [1]
        assert seen == [1]

    def test_row_limits(self, huge_array):
        # The entry count is checked first, even on a point dataset; 2**32 + 1 zero entries
        # come from a mapping that commits no memory.
        entries = huge_array.view(np.uint32)[:2**32 + 1]
        points = Engine.from_points(np.zeros(1), np.zeros(1))
        with pytest.raises(ValueError, match=f"^polygon subset has 4294967297 {LIMIT}$"):
            points.subset(entries)
        with pytest.raises(ValueError, match=f"^polygon subset has 4294967296 {LIMIT}$"):
            points.subset(entries[1:])
        # One logical polygon of 1024 parts selected 2**22 times: 2**32 parts.
        source = Engine.from_polygon_rings(np.zeros(3), np.zeros(3), np.array([0, 3]), np.zeros(1025, np.int64),
                                           np.zeros(1024, np.int64))
        with pytest.raises(ValueError, match=f"^polygon subset has 4294967296 {LIMIT}$"):
            source.subset(np.zeros(2**22, np.uint32))
        assert source.subset(np.zeros(2**12, np.uint32)).n() == 2**22



def remapped(indices, source_hits):
    """Subset ids whose source polygon is among the source's hits, ascending."""
    hits = set(source_hits)
    return [k for k, g in enumerate(indices) if g in hits]


class TestQueriesOnSubsets:
    @settings(max_examples=40, deadline=None)
    @given(st.lists(st.integers(0, 299), max_size=60), st.integers(0, 2**32 - 1))
    def test_matches_numpy_slicing_and_the_source_remapped(self, multipolygons, indices, seed):
        source, arrays, geoms = multipolygons
        check_subset(source, arrays, indices)
        sub = source.subset(u32(indices))
        rng = np.random.default_rng(seed)
        for _ in range(5):
            x0, y0 = rng.uniform(-520, 520), rng.uniform(-120, 320)
            box = (x0, y0, x0 + rng.uniform(0, 200), y0 + rng.uniform(0, 200))
            assert sorted(sub.range_query(*box)) == remapped(indices, source.range_query(*box))
        # Probes near the chosen polygons' centres land in shells, holes and gaps between parts.
        centres = shapely.get_coordinates(shapely.centroid(geoms[indices[:5]]))
        for x, y in np.r_[centres + rng.normal(0, 0.5, centres.shape), rng.uniform(-520, 520, (3, 2))]:
            assert sorted(sub.contains_query(x, y)) == remapped(indices, source.contains_query(x, y))
        # Masks over the subset are bounded by its own logical count, the number of entries.
        box = (-600, -200, 600, 400)
        mask = sub.range_mask(*box, u32(np.arange(len(indices) + 2)))
        assert np.flatnonzero(mask).tolist() == remapped(indices, source.range_query(*box))

    def test_cost_factors_reach_the_subset_planner(self):
        # 600 squares; under "auto" the factors alone decide between a scan and the R-tree.
        xs = np.concatenate([[i, i + 0.5, i + 0.5, i] for i in range(600)]).astype(float)
        source = Engine.from_polygon_rings(xs, np.tile([0.0, 0.0, 0.5, 0.5], 600), np.arange(0, 2401, 4),
                                           np.arange(601))
        source.set_index_mode("auto")
        picks = {}
        for name, factors in [("scan", [1e-6] * 2 + [1e6] * 8), ("index", [1e6] * 2 + [1e-6] * 8)]:
            source.set_cost_factors(factors)
            sub = source.subset(u32(np.arange(600)))
            sub.range_query(10, 0, 10.2, 0.2)
            picks[name] = [op["index"] for op in sub.take_metrics()["operations"]]
        assert picks == {"scan": ["brute_force"], "index": ["r_tree"]}
        assert source.take_metrics()["operations"] == []
