"""_PointBuilder: batches in, one dataset out, equal to from_points over the concatenation."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import vardelin._core as core
from vardelin._core import Engine, _PointBuilder

LIMIT = "rows; Vardelin's single-node join indices support at most 4294967295"
FINISHED = "^point builder is already finished$"


def build(batches, decode=None):
    b = _PointBuilder()
    for i, (x, y) in enumerate(batches):
        b.append(x, y, 0 if decode is None else decode[i])
    return b.finish()


def test_registered_right_after_engine():
    names = [n for n in vars(core) if not n.startswith("__")]
    assert names.index("_PointBuilder") == names.index("Engine") + 1


class TestResult:
    def test_empty_builder_gives_empty_dataset(self):
        e = _PointBuilder().finish()
        assert (e.n(), e.extent(), repr(e)) == (0, None, "Engine(n=0, kind=Empty, dist=Unknown)")
        assert e.take_metrics()["construction"]["wkb_decode_ns"] == 0

    def test_batches_in_append_order(self):
        e = build([(np.array([0.0, 1.0]), np.array([10.0, 11.0])),
                   (np.array([2.0, 3.0, 4.0]), np.array([12.0, 13.0, 14.0]))])
        assert e.n() == 5
        assert e.xs().tolist() == [0.0, 1.0, 2.0, 3.0, 4.0]
        assert e.ys().tolist() == [10.0, 11.0, 12.0, 13.0, 14.0]

    @settings(max_examples=40, deadline=None)
    @given(st.lists(st.integers(0, 500), max_size=20), st.randoms(use_true_random=False))
    def test_equals_from_points_over_concatenation(self, sizes, rnd):
        rng = np.random.default_rng(rnd.randrange(2**32))
        batches = [(rng.normal(0, 10, m), rng.uniform(-5, 5, m)) for m in sizes]
        for x, _ in batches[::3]:
            if len(x):
                x[0] = np.nan
        e = build(batches)
        xs = np.concatenate([np.empty(0)] + [x for x, _ in batches])
        ys = np.concatenate([np.empty(0)] + [y for _, y in batches])
        ref = Engine.from_points(xs, ys)
        assert (e.n(), e.extent(), repr(e)) == (ref.n(), ref.extent(), repr(ref))
        np.testing.assert_array_equal(e.xs(), xs)
        np.testing.assert_array_equal(e.ys(), ys)

    def test_batches_are_copied(self):
        x = np.arange(3.0)
        b = _PointBuilder()
        b.append(x, x)
        x[:] = -1.0
        assert b.finish().xs().tolist() == [0.0, 1.0, 2.0]

    def test_decode_time_sums_and_saturates(self):
        one = np.array([1.0])
        e = build([(one, one), (one, one)], decode=[5, 5])
        m = e.take_metrics()["construction"]
        assert m["wkb_decode_ns"] == 10 and m["statistics_ns"] >= 0
        e = build([(one, one)] * 3, decode=[2**64 - 2, 1, 7])
        assert e.take_metrics()["construction"]["wkb_decode_ns"] == 2**64 - 1

    def test_keywords_and_default(self):
        b = _PointBuilder()
        b.append(ys=np.array([2.0]), xs=np.array([1.0]), wkb_decode_ns=np.uint64(3))
        b.append(np.array([3.0]), np.array([4.0]))
        e = b.finish()
        assert e.xs().tolist() == [1.0, 3.0]
        assert e.take_metrics()["construction"]["wkb_decode_ns"] == 3


class TestErrors:
    def test_constructor_takes_nothing(self):
        with pytest.raises(TypeError):
            _PointBuilder(1)
        with pytest.raises(TypeError):
            type("Sub", (_PointBuilder,), {})

    def test_decode_time_must_be_an_unsigned_int(self):
        one = np.array([1.0])
        b = _PointBuilder()
        with pytest.raises(OverflowError):
            b.append(one, one, -1)
        with pytest.raises(OverflowError):
            b.append(one, one, 2**64)
        with pytest.raises(TypeError, match="wkb_decode_ns"):
            b.append(one, one, 1.0)
        with pytest.raises(TypeError):
            b.append(one, one, "1")
        assert b.finish().n() == 0

    def test_checks_in_order_and_failed_append_changes_nothing(self):
        strided = np.arange(10.0)[::2]
        b = _PointBuilder()
        b.append(np.array([1.0]), np.array([2.0]), 4)
        with pytest.raises(OverflowError):
            b.append(strided, strided, -1)
        with pytest.raises(ValueError, match="^xs must be a contiguous float64 array$"):
            b.append(strided, strided, 9)
        with pytest.raises(ValueError, match="^ys must be a contiguous float64 array$"):
            b.append(np.arange(5.0), strided, 9)
        with pytest.raises(ValueError, match="^xs and ys must have the same length$"):
            b.append(np.arange(3.0), np.arange(4.0), 9)
        with pytest.raises(TypeError):
            b.append(np.arange(3, dtype=np.float32), np.arange(3.0))
        e = b.finish()
        assert e.xs().tolist() == [1.0] and e.ys().tolist() == [2.0]
        assert e.take_metrics()["construction"]["wkb_decode_ns"] == 4

    def test_finished_builder_refuses_further_calls(self):
        b = _PointBuilder()
        b.append(np.arange(2.0), np.arange(2.0))
        assert b.finish().n() == 2
        with pytest.raises(ValueError, match=FINISHED):
            b.append(np.arange(2.0), np.arange(2.0))
        with pytest.raises(ValueError, match=FINISHED):
            b.append(np.empty(0), np.empty(0))
        with pytest.raises(ValueError, match=FINISHED):
            b.finish()
        with pytest.raises(ValueError, match="^xs and ys must have the same length$"):
            b.append(np.arange(2.0), np.arange(3.0))
        with pytest.raises(OverflowError):
            b.append(np.arange(2.0), np.arange(2.0), -1)

    def test_row_limit_counts_earlier_batches_and_keeps_them(self, huge_array):
        b = _PointBuilder()
        b.append(np.arange(3.0), np.arange(3.0))
        with pytest.raises(ValueError) as info:
            b.append(huge_array, huge_array)
        assert str(info.value) == f"point dataset has {3 + 2**32} {LIMIT}"
        assert b.finish().xs().tolist() == [0.0, 1.0, 2.0]
