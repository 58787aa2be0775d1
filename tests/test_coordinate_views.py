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
    def test_read_only_float64_over_a_hidden_closed_buffer(self, engine):
        v = engine.xs()
        assert v.dtype == np.float64 and v.ndim == 1 and v.strides == (8,)
        assert not v.flags.writeable
        for write in [lambda: v.__setitem__(0, 1.0), lambda: v.setflags(write=True)]:
            with pytest.raises(ValueError):
                write()
        cls = type(v.base)
        assert cls.__name__ == "CoordinateBuffer" and not hasattr(core, "CoordinateBuffer")
        assert type(Engine.from_points(np.arange(2.0), np.arange(2.0)).ys().base) is cls
        with pytest.raises(TypeError):
            cls()
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        # Each view has its own base over the same memory, nothing copied.
        a, b = engine.xs(), engine.xs()
        assert a is not b and a.base is not b.base
        assert a.ctypes.data == b.ctypes.data
        assert not np.shares_memory(engine.xs(), engine.ys())
        e = Engine.from_points(np.empty(0), np.empty(0))  # an empty dataset's views feed back
        assert len(e.xs()) == len(e.ys()) == Engine.from_points(e.xs(), e.ys()).n() == 0


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

    def test_view_merges_first_and_old_views_stay(self, engine):
        old = engine.xs()
        snapshot = old.copy()
        engine.append_delta(np.array([5.0, 6.0]), np.array([7.0, 8.0]))
        assert engine.delta_len() == 2
        assert engine.ys()[-2:].tolist() == [7.0, 8.0]
        assert engine.delta_len() == 0 and engine.n() == 1002
        assert engine.xs()[-2:].tolist() == [5.0, 6.0]
        for i in range(3):
            engine.append_delta(np.full(200, float(i)), np.full(200, float(i)))
            engine.flush()
        assert engine.n() == 1602
        assert not np.shares_memory(old, engine.xs())
        np.testing.assert_array_equal(old, snapshot)
        np.testing.assert_array_equal(engine.xs()[:1000], snapshot)
