"""Coordinate views: zero-copy, read-only windows that outlive their Engine and its merges."""
import gc

import numpy as np
import pytest

import vardelin._core as core
from vardelin._core import Engine


@pytest.fixture
def engine(rng):
    return Engine.from_points(rng.uniform(0, 1, 1000), rng.uniform(0, 1, 1000))


class TestView:
    def test_read_only_float64_over_a_coordinate_buffer(self, engine):
        v = engine.xs()
        assert v.dtype == np.float64 and v.ndim == 1 and v.strides == (8,)
        assert not v.flags.writeable
        assert type(v.base).__name__ == "CoordinateBuffer"
        with pytest.raises(ValueError):
            v[0] = 1.0
        with pytest.raises(ValueError):
            v.setflags(write=True)

    def test_coordinate_buffer_is_hidden_and_closed(self, engine):
        cls = type(engine.ys().base)
        assert "CoordinateBuffer" not in dir(core)
        assert not hasattr(core, "CoordinateBuffer")
        with pytest.raises(TypeError):
            cls()
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        other = Engine.from_points(np.arange(2.0), np.arange(2.0))
        assert type(other.xs().base) is cls

    def test_views_share_memory_without_copying(self, engine):
        a, b = engine.xs(), engine.xs()
        assert a is not b and a.base is not b.base
        assert np.shares_memory(a, b)
        assert a.ctypes.data == b.ctypes.data
        assert not np.shares_memory(engine.xs(), engine.ys())

    def test_values_are_the_dataset_and_not_the_input(self, rng):
        xs, ys = rng.normal(size=500), rng.normal(size=500)
        e = Engine.from_points(xs, ys)
        vx, vy = e.xs(), e.ys()
        assert not np.shares_memory(vx, xs)
        np.testing.assert_array_equal(vx, xs)
        np.testing.assert_array_equal(vy, ys)
        xs[:] = 0.0
        assert np.array_equal(e.xs(), vx) and vx[0] != 0.0

    def test_empty_dataset(self):
        e = Engine.from_points(np.empty(0), np.empty(0))
        assert len(e.xs()) == 0 and len(e.ys()) == 0
        assert Engine.from_points(e.xs(), e.ys()).n() == 0

    def test_view_round_trips_through_from_points(self, engine):
        copy = Engine.from_points(engine.xs(), engine.ys())
        assert repr(copy) == repr(engine) and copy.extent() == engine.extent()
        np.testing.assert_array_equal(copy.xs(), engine.xs())


class TestLifetime:
    def test_view_outlives_engine(self, rng):
        xs = rng.uniform(size=10_000)
        e = Engine.from_points(xs, xs[::-1].copy())
        vx, vy = e.xs(), e.ys()
        del e
        gc.collect()
        np.testing.assert_array_equal(vx, xs)
        np.testing.assert_array_equal(vy, xs[::-1])
        base = vx.base
        del vx
        gc.collect()
        assert memoryview(base).nbytes == xs.nbytes

    def test_view_merges_buffer_first(self, engine):
        old = engine.xs()
        engine.append_delta(np.array([5.0, 6.0]), np.array([7.0, 8.0]))
        assert engine.delta_len() == 2
        new = engine.ys()
        assert engine.delta_len() == 0 and engine.n() == 1002
        assert new[-2:].tolist() == [7.0, 8.0]
        assert engine.xs()[-2:].tolist() == [5.0, 6.0]
        assert len(old) == 1000 and not np.shares_memory(old, engine.xs())

    def test_old_views_unchanged_by_later_merges(self, engine):
        first = engine.xs()
        snapshot = first.copy()
        for i in range(5):
            engine.append_delta(np.full(200, float(i)), np.full(200, float(i)))
            engine.flush()
        assert engine.n() == 2000
        np.testing.assert_array_equal(first, snapshot)
        np.testing.assert_array_equal(engine.xs()[:1000], snapshot)
