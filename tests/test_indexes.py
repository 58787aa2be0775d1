"""Index reports and calibration builds: index_bytes against the layouts' formulas."""
import numpy as np
import pytest
from hypothesis import example, given, settings, strategies as st

from conftest import on_one_thread
from query_oracles import builds
from vardelin._core import Engine

KINDS = ["r_tree", "kd_tree", "grid"]


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


def engine(n, xs=None):
    rng = np.random.default_rng(n)
    return Engine.from_points(rng.uniform(-5, 5, n) if xs is None else xs, rng.uniform(-5, 5, n))


class TestIndexBytes:
    def test_documented_sizes(self):
        e = engine(100)
        assert e.index_bytes() == 0
        e._build_index_for_calibration("r_tree")
        assert e.index_bytes() == 3680
        e = engine(1000)
        e._build_index_for_calibration("kd_tree")
        assert e.index_bytes() == 22104
        assert "Heap bytes of all currently-built indexes" in Engine.index_bytes.__doc__

    @settings(max_examples=40, deadline=None)
    @given(n=st.integers(0, 20000), kinds=st.sets(st.sampled_from(KINDS), min_size=1))
    @example(n=0, kinds=set(KINDS))
    def test_sum_of_built_kinds(self, n, kinds):
        e = engine(n)
        for kind in kinds:
            e._build_index_for_calibration(kind)
        expected = {"r_tree": rtree_bytes(n), "kd_tree": kdtree_bytes(n, n > 0), "grid": grid_bytes(n)}
        assert e.index_bytes() == sum(expected[k] for k in kinds)

    @pytest.mark.parametrize("n, xs, histogram", [(65535, None, True), (65536, None, True),
                                                  (1000, np.full(1000, np.nan), False)])
    def test_kd_tree_id_width_and_histogram_copy(self, n, xs, histogram):
        # Ids widen at 65536 points; without an extent there is no histogram to copy.
        e = engine(n, xs)
        e._build_index_for_calibration("kd_tree")
        assert e.index_bytes() == kdtree_bytes(n, histogram)


class TestCalibrationBuild:
    def test_builds_each_kind_once_under_its_name(self):
        e = engine(500)
        for kind in KINDS:
            assert e._build_index_for_calibration(kind) is None
        e._build_index_for_calibration(kind="grid")
        assert builds(e.take_metrics()) == {"r_tree": 1, "kd_tree": 1, "grid": 1}
        e._build_index_for_calibration("grid")
        assert builds(e.take_metrics()) == {}
        assert e.set_index_mode("eager") == "explicit:grid"  # the last build sets the mode

    def test_polygon_datasets_take_only_the_r_tree(self):
        e = Engine.from_polygon_rings(np.arange(3.0), np.arange(3.0), np.array([0, 3]), np.array([0, 1]))
        for kind in ["grid", "kd_tree"]:
            with pytest.raises(ValueError, match="^grid and kd_tree calibration indexes require point data$"):
                e._build_index_for_calibration(kind)
        assert e.index_bytes() == 0 and e.set_index_mode("eager") == "eager"
        e._build_index_for_calibration("r_tree")
        assert builds(e.take_metrics()) == {"r_tree": 1} and e.set_index_mode("eager") == "explicit:r_tree"

    @pytest.mark.parametrize("kind, shown", [
        ("brute_force", '"brute_force"'),
        ("R_TREE", '"R_TREE"'),
        ("", '""'),
        ('a"b\\c', '"a\\"b\\\\c"'),
        ("x\ny\tz\r\0", '"x\\ny\\tz\\r\\0"'),
        ("\x07\u200b\u00e9", '"\\u{7}\\u{200b}\u00e9"'),
    ])
    def test_unknown_kind_is_quoted(self, kind, shown):
        e = engine(50)
        with pytest.raises(ValueError) as err:
            e._build_index_for_calibration(kind)
        assert str(err.value) == "calibration index must be 'grid', 'kd_tree', or 'r_tree', got " + shown
        assert e.index_bytes() == 0 and builds(e.take_metrics()) == {} and e.set_index_mode("auto") == "eager"

    @pytest.mark.parametrize("args, kwargs", [((1,), {}), ((None,), {}), ((b"r_tree",), {}), ((["r_tree"],), {}),
                                              ((), {}), (("grid", "r_tree"), {}), ((), {"index": "grid"})])
    def test_argument_type_errors(self, args, kwargs):
        with pytest.raises(TypeError):
            engine(5)._build_index_for_calibration(*args, **kwargs)


def parallel_build_answers(kind):
    """Answers whose order spells out the layout of a parallel build: range hits in the index's
    own order and knn ids, over enough clustered points for several parallel halves and chunks."""
    rng = np.random.default_rng(8)
    centres = rng.uniform(0, 100, (20, 2))
    pick = rng.integers(0, 20, 300_000)
    xs = centres[pick, 0] + rng.normal(0, 1.0, 300_000)
    ys = centres[pick, 1] + rng.normal(0, 1.0, 300_000)
    xs[::997] = np.nan
    e = Engine.from_points(xs, ys)
    e.set_index_mode(f"explicit:{kind}")
    boxes = [(-1e9, -1e9, 1e9, 1e9)] + [(x, y, x + 5, y + 3) for x, y in rng.uniform(0, 95, (30, 2))]
    return ([e.range_query(*b) for b in boxes], [e.knn(x, y, 25) for x, y in rng.uniform(0, 100, (30, 2))],
            e.index_bytes())


@pytest.mark.parametrize("kind", ["kd_tree", "grid"])
def test_parallel_builds_give_the_same_index_on_one_thread(kind):
    assert on_one_thread(parallel_build_answers, kind) == parallel_build_answers(kind)
