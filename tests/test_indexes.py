"""Index reports and calibration builds: index_bytes against the layouts' formulas."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from vardelin._core import Engine


def rtree_bytes(n):
    nodes, level = n, n
    while level >= 2:
        level = -(-level // 16)
        nodes += level
    return 8 + 32 * nodes + (2 if nodes < 16384 else 4) * nodes


def kdtree_bytes(n, histogram):
    ids = n * (2 if n < 65536 else 4)
    return (8 + ids + 7) // 8 * 8 + 16 * n + (4096 if histogram else 0)


def grid_bytes(n):
    side = max(1, int(np.ceil(np.sqrt(n))))
    return 4 * (side * side + 1 + n)


def engine(rng, n):
    return Engine.from_points(rng.uniform(0, 100, n), rng.uniform(0, 100, n))


def builds(e):
    return {b["index"]: b["build_count"] for b in e.take_metrics()["index_builds"]}


class TestIndexBytes:
    def test_fresh_engine_reports_nothing(self, rng):
        assert engine(rng, 1000).index_bytes() == 0

    def test_documented_sizes(self, rng):
        e = engine(rng, 100)
        e._build_index_for_calibration("r_tree")
        assert e.index_bytes() == 3680
        e = engine(rng, 1000)
        e._build_index_for_calibration("kd_tree")
        assert e.index_bytes() == 22104

    @settings(max_examples=40, deadline=None)
    @given(n=st.integers(0, 20000), kinds=st.sets(st.sampled_from(["r_tree", "kd_tree", "grid"]), min_size=1))
    def test_sum_of_built_kinds(self, n, kinds):
        rng = np.random.default_rng(n)
        xs, ys = rng.uniform(-5, 5, n), rng.uniform(-5, 5, n)
        e = Engine.from_points(xs, ys)
        for kind in kinds:
            e._build_index_for_calibration(kind)
        expected = {"r_tree": rtree_bytes(n), "kd_tree": kdtree_bytes(n, n > 0), "grid": grid_bytes(n)}
        assert e.index_bytes() == sum(expected[k] for k in kinds)

    @pytest.mark.parametrize("n", [65535, 65536])
    def test_kd_tree_ids_widen_at_65536_points(self, rng, n):
        e = engine(rng, n)
        e._build_index_for_calibration("kd_tree")
        assert e.index_bytes() == kdtree_bytes(n, True)

    def test_no_histogram_copy_without_an_extent(self):
        e = Engine.from_points(np.full(1000, np.nan), np.ones(1000))
        e._build_index_for_calibration("kd_tree")
        assert e.index_bytes() == kdtree_bytes(1000, False)

    def test_shared_borrow(self, rng):
        e = engine(rng, 10)
        assert e.index_bytes() == e.index_bytes()
        assert "Heap bytes of all currently-built indexes" in Engine.index_bytes.__doc__


class TestCalibrationBuild:
    def test_builds_once(self, rng):
        e = engine(rng, 500)
        assert e._build_index_for_calibration("grid") is None
        e._build_index_for_calibration(kind="grid")
        assert builds(e) == {"grid": 1}
        e._build_index_for_calibration("grid")
        assert builds(e) == {}

    def test_each_kind_counts_under_its_name(self, rng):
        e = engine(rng, 500)
        for kind in ["r_tree", "kd_tree", "grid"]:
            e._build_index_for_calibration(kind)
        assert builds(e) == {"r_tree": 1, "kd_tree": 1, "grid": 1}

    @pytest.mark.parametrize("kind, shown", [
        ("brute_force", '"brute_force"'),
        ("R_TREE", '"R_TREE"'),
        ("", '""'),
        ('a"b\\c', '"a\\"b\\\\c"'),
        ("x\ny\tz\r\0", '"x\\ny\\tz\\r\\0"'),
        ("\x07\u200b\u00e9", '"\\u{7}\\u{200b}\u00e9"'),
    ])
    def test_unknown_kind_is_quoted(self, rng, kind, shown):
        e = engine(rng, 50)
        message = "calibration index must be 'grid', 'kd_tree', or 'r_tree', got " + shown
        with pytest.raises(ValueError) as err:
            e._build_index_for_calibration(kind)
        assert str(err.value) == message
        assert e.index_bytes() == 0
        assert builds(e) == {}

    @pytest.mark.parametrize("kind", [1, None, b"r_tree", ["r_tree"]])
    def test_non_string_is_type_error(self, rng, kind):
        with pytest.raises(TypeError):
            engine(rng, 5)._build_index_for_calibration(kind)

    def test_argument_list(self, rng):
        e = engine(rng, 5)
        with pytest.raises(TypeError):
            e._build_index_for_calibration()
        with pytest.raises(TypeError):
            e._build_index_for_calibration("grid", "r_tree")
        with pytest.raises(TypeError):
            e._build_index_for_calibration(index="grid")

    def test_empty_dataset(self):
        e = Engine.from_points(np.empty(0), np.empty(0))
        for kind in ["r_tree", "kd_tree", "grid"]:
            e._build_index_for_calibration(kind)
        assert e.index_bytes() == 8 + 8 + 8
