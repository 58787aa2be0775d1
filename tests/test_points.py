"""Point datasets: construction checks, statistics against NumPy, the text form and settings."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra.numpy import arrays

from vardelin._core import Engine


def numpy_extent(xs, ys):
    if len(xs) == 0 or np.all(np.isnan(xs)):
        return None
    mnx = np.nanmin(xs)
    if not np.isfinite(mnx):
        return None
    return (mnx, np.nanmin(ys) if not np.all(np.isnan(ys)) else np.inf,
            np.nanmax(xs), np.nanmax(ys) if not np.all(np.isnan(ys)) else -np.inf)


class TestConstruction:
    def test_empty(self):
        e = Engine.from_points(np.empty(0), np.empty(0))
        assert e.n() == 0
        assert e.extent() is None
        assert repr(e) == "Engine(n=0, kind=Empty, dist=Unknown)"

    def test_checks_in_order(self):
        strided = np.arange(10.0)[::2]
        with pytest.raises(ValueError, match="^xs must be a contiguous float64 array$"):
            Engine.from_points(strided, strided)
        with pytest.raises(ValueError, match="^ys must be a contiguous float64 array$"):
            Engine.from_points(np.arange(5.0), strided)
        with pytest.raises(ValueError, match="^xs and ys must have the same length$"):
            Engine.from_points(np.arange(3.0), np.arange(4.0))

    @pytest.mark.parametrize("bad", [np.arange(3, dtype=np.float32), np.arange(3), np.zeros((3, 1)),
                                     [1.0, 2.0, 3.0], np.arange(3.0).astype(">f8")])
    def test_wrong_arrays_are_type_errors(self, bad):
        with pytest.raises(TypeError):
            Engine.from_points(bad, np.arange(3.0))

    def test_read_only_and_single_element_strided_are_accepted(self):
        a = np.arange(4.0)
        a.setflags(write=False)
        assert Engine.from_points(a, a).n() == 4
        one = np.arange(10.0)[::5][:1]
        assert Engine.from_points(one, one).n() == 1

    def test_same_array_twice_and_copy_is_taken(self):
        a = np.array([1.0, 2.0, 3.0])
        e = Engine.from_points(a, a)
        a[:] = 100.0
        assert e.extent() == (1.0, 1.0, 3.0, 3.0)

    def test_no_constructor_and_no_subclass(self):
        with pytest.raises(TypeError):
            Engine()
        with pytest.raises(TypeError):
            type("Sub", (Engine,), {})

    def test_module_registers_only_its_classes(self):
        import vardelin._core as core
        public = {n for n in dir(core) if not n.startswith("__")}
        assert {"Engine"} <= public
        assert "CoordinateBuffer" not in public


class TestStatistics:
    @pytest.mark.parametrize("layout", ["uniform", "clustered", "nan", "inf"])
    def test_extent_and_histogram_match_numpy(self, rng, layout):
        n = 200_000
        xs = rng.uniform(-50, 150, n)
        ys = rng.uniform(10, 20, n)
        if layout == "clustered":
            centres = rng.uniform(0, 100, (5, 2))
            pick = rng.integers(0, 5, n)
            xs = centres[pick, 0] + rng.normal(0, 0.5, n)
            ys = centres[pick, 1] + rng.normal(0, 0.5, n)
        if layout == "nan":
            xs[rng.integers(0, n, 1000)] = np.nan
            ys[rng.integers(0, n, 1000)] = np.nan
        if layout == "inf":
            xs[5] = np.inf
        e = Engine.from_points(xs, ys)
        ext = numpy_extent(xs, ys)
        assert e.extent() == pytest.approx(ext, rel=0, abs=0)
        assert e.n() == n

    def test_morisita_class(self, rng):
        grid = np.arange(256) + 0.5
        gx, gy = np.meshgrid(grid, grid)
        assert "dist=Uniform" in repr(Engine.from_points(gx.ravel().copy(), gy.ravel().copy()))
        clustered = np.concatenate([np.full(1000, 5.0), rng.uniform(0, 100, 1000)])
        assert "dist=Clustered" in repr(Engine.from_points(clustered, clustered[::-1].copy()))
        assert "dist=Unknown" in repr(Engine.from_points(np.arange(19.0), np.arange(19.0)))
        assert "dist=Clustered" in repr(Engine.from_points(np.full(20, 3.0), np.full(20, 3.0)))

    def test_all_nan_x_has_no_extent(self):
        e = Engine.from_points(np.full(30, np.nan), np.arange(30.0))
        assert e.extent() is None
        assert repr(e) == "Engine(n=30, kind=Point, dist=Unknown)"

    @settings(max_examples=60, deadline=None)
    @given(arrays(np.float64, st.integers(1, 300),
                  elements=st.one_of(st.floats(-1e6, 1e6), st.just(np.nan))))
    def test_extent_property(self, xs):
        ys = xs[::-1].copy()
        assert Engine.from_points(xs, ys).extent() == numpy_extent(xs, ys)


class TestSettings:
    def test_coordinate_system(self):
        e = Engine.from_points(np.arange(3.0), np.arange(3.0))
        assert e.coordinate_system() == "planar"
        e.set_coordinate_system("geographic")
        e.set_coordinate_system("geographic")
        assert e.coordinate_system() == "geographic"
        for bad in ["Planar", " planar", ""]:
            with pytest.raises(ValueError) as info:
                e.set_coordinate_system(bad)
            assert str(info.value) == f"coordinate system must be 'planar' or 'geographic', got '{bad}'"
        assert e.coordinate_system() == "geographic"
        for bad in [None, 3]:
            with pytest.raises(TypeError):
                e.set_coordinate_system(bad)
        e.set_coordinate_system(coordinate_system="planar")
        assert e.extent() == (0.0, 0.0, 2.0, 2.0)

    def test_cost_factors(self):
        e = Engine.from_points(np.arange(3.0), np.arange(3.0))
        e.set_cost_factors(list(range(1, 11)))
        e.set_cost_factors(tuple(float(v) for v in range(1, 11)))
        e.set_cost_factors(np.arange(1.0, 11.0))
        for values, count in [([1.0] * 9, 9), ([], 0), ([1.0] * 11, 11)]:
            with pytest.raises(ValueError, match=f"^cost profile must contain 10 values, got {count}$"):
                e.set_cost_factors(values)
        for bad in [0.0, -0.0, -1.0, np.nan, np.inf]:
            with pytest.raises(ValueError, match="^cost profile values must be finite and greater than zero$"):
                e.set_cost_factors([1.0] * 9 + [bad])
        with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
            e.set_cost_factors("abcdefghij")
        with pytest.raises(TypeError):
            e.set_cost_factors(5)
        with pytest.raises(TypeError):
            e.set_cost_factors([1.0] * 9 + ["x"])


class TestMetrics:
    def test_fresh_and_reset(self):
        e = Engine.from_points(np.arange(100_000.0), np.arange(100_000.0))
        m = e.take_metrics()
        assert list(m) == ["operations", "index_builds", "construction"]
        assert m["operations"] == [] and m["index_builds"] == []
        assert list(m["construction"]) == ["wkb_decode_ns", "statistics_ns"]
        assert m["construction"]["wkb_decode_ns"] == 0
        assert m["construction"]["statistics_ns"] > 0
        assert e.take_metrics()["construction"] == {"wkb_decode_ns": 0, "statistics_ns": 0}
