"""_PointBuilder: batches in, one dataset out, equal to from_points over the concatenation."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from polygon_data import error_of, same_dataset
from vardelin._core import Engine, _PointBuilder

ONE = np.array([1.0])
FINISHED = "^point builder is already finished$"


def build(batches, decode):
    b = _PointBuilder()
    for (x, y), ns in zip(batches, decode):
        b.append(x, y, ns)
    return b.finish()


class TestResult:
    @settings(max_examples=40, deadline=None)
    @given(st.lists(st.integers(0, 500), max_size=20), st.randoms(use_true_random=False))
    def test_equals_from_points_over_concatenation(self, sizes, rnd):
        rng = np.random.default_rng(rnd.randrange(2**32))
        batches = [(rng.normal(0, 10, m), rng.uniform(-5, 5, m)) for m in sizes]
        for x, _ in batches[::3]:
            if len(x):
                x[0] = np.nan
        xs = np.concatenate([np.empty(0)] + [x for x, _ in batches])
        ys = np.concatenate([np.empty(0)] + [y for _, y in batches])
        same_dataset(build(batches, [0] * len(batches)), Engine.from_points(xs, ys))

    @pytest.mark.parametrize("decode, total", [([], 0), ([5, 5], 10), ([2**64 - 2, 1, 7], 2**64 - 1)])
    def test_decode_time_sums_and_saturates(self, decode, total):
        e = build([(ONE, ONE)] * len(decode), decode)
        assert e.take_metrics()["construction"]["wkb_decode_ns"] == total
        if not decode:  # an empty builder gives the empty dataset
            assert (e.n(), e.extent(), repr(e)) == (0, None, "Engine(n=0, kind=Empty, dist=Unknown)")

    def test_keywords_and_default(self):
        b = _PointBuilder()
        b.append(ys=np.array([2.0]), xs=np.array([1.0]), wkb_decode_ns=np.uint64(3))
        b.append(np.array([3.0]), np.array([4.0]))
        e = b.finish()
        assert e.xs().tolist() == [1.0, 3.0] and e.ys().tolist() == [2.0, 4.0]
        assert e.take_metrics()["construction"]["wkb_decode_ns"] == 3


class TestErrors:
    def test_constructor_takes_nothing(self):
        with pytest.raises(TypeError):
            _PointBuilder(1)
        with pytest.raises(TypeError):
            type("Sub", (_PointBuilder,), {})

    def test_decode_time_is_converted_first_and_must_be_an_unsigned_int(self):
        b = _PointBuilder()
        b.append(ONE, np.array([2.0]), 4)
        strided = np.arange(10.0)[::2]
        for x, ns, error in [(ONE, -1, OverflowError), (ONE, 2**64, OverflowError), (ONE, "1", TypeError),
                             # The number is converted before the arrays are checked.
                             (strided, -1, OverflowError)]:
            with pytest.raises(error):
                b.append(x, x, ns)
        with pytest.raises(TypeError, match="wkb_decode_ns"):
            b.append(ONE, ONE, 1.0)
        e = b.finish()
        assert e.xs().tolist() == [1.0] and e.ys().tolist() == [2.0]
        assert e.take_metrics()["construction"]["wkb_decode_ns"] == 4

    def test_finished_builder_refuses_further_calls_after_the_argument_checks(self):
        b = _PointBuilder()
        b.append(np.arange(2.0), np.arange(2.0))
        assert b.finish().n() == 2
        for call in [lambda: b.append(np.arange(2.0), np.arange(2.0)), lambda: b.append(np.empty(0), np.empty(0)),
                     b.finish]:
            with pytest.raises(ValueError, match=FINISHED):
                call()
        with pytest.raises(ValueError, match="^xs and ys must have the same length$"):
            b.append(np.arange(2.0), np.arange(3.0))
        with pytest.raises(OverflowError):
            b.append(np.arange(2.0), np.arange(2.0), -1)

    def test_row_limit_counts_earlier_batches_and_keeps_them(self, huge_array):
        b = _PointBuilder()
        b.append(np.arange(3.0), np.arange(3.0))
        assert error_of(b.append, huge_array, huge_array) == (
            f"point dataset has {3 + 2**32} rows; Vardelin's single-node join indices support at most 4294967295")
        assert b.finish().xs().tolist() == [0.0, 1.0, 2.0]
