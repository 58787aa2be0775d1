"""intersect_hits: multiset intersection against collections.Counter, and argument conversion."""
from collections import Counter

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from vardelin._core import Engine

U64_MAX = 2**64 - 1


@pytest.fixture(scope="module")
def engine():
    return Engine.from_points(np.arange(3.0), np.arange(3.0))


def counter_intersection(lists):
    if not lists:
        return []
    common = Counter(lists[0])
    for lst in lists[1:]:
        common &= Counter(lst)
    return sorted(common.elements())


class TestIntersection:
    @pytest.mark.parametrize("lists,expected", [
        ([], []),
        ([[3, 1, 3]], [1, 3, 3]),
        ([[1, 1, 2], [1, 1, 1]], [1, 1]),
        ([[1], [1, 1]], [1]),
        ([[5, 2], [], [2]], []),
        ([[2, 9], (9, 2, 4)], [2, 9]),
        ([[U64_MAX, 0, 2**63], [2**63, U64_MAX, 7]], [2**63, U64_MAX]),
    ])
    def test_documented_cases(self, engine, lists, expected):
        out = engine.intersect_hits(lists)
        assert out == expected
        assert type(out) is list and all(type(v) is int for v in out)

    @settings(max_examples=300, deadline=None)
    @given(st.lists(st.lists(st.integers(0, 12), max_size=30), max_size=6),
           st.lists(st.sampled_from([list, tuple, np.array]), min_size=6, max_size=6))
    def test_matches_counter_intersection(self, engine, lists, containers):
        wrapped = [containers[i](np.array(lst, dtype=np.uint64)) if containers[i] is np.array else containers[i](lst)
                   for i, lst in enumerate(lists)]
        assert engine.intersect_hits(wrapped) == counter_intersection(lists)

    @settings(max_examples=50, deadline=None)
    @given(st.lists(st.integers(0, U64_MAX), min_size=1, max_size=50), st.randoms(use_true_random=False))
    def test_full_unsigned_range_and_input_order_do_not_matter(self, engine, values, rnd):
        shuffled = list(values)
        rnd.shuffle(shuffled)
        assert engine.intersect_hits([values, shuffled, values + [5]]) == sorted(values)

    def test_large_lists(self, engine, rng):
        lists = [rng.integers(0, 50_000, size) for size in (200_000, 120_000, 300_000)]
        assert engine.intersect_hits(lists) == counter_intersection([lst.tolist() for lst in lists])


class TestConversion:
    def test_any_sequence_but_str(self, engine):
        assert engine.intersect_hits(([4, 2], range(1, 5), b"\x02\x04")) == [2, 4]
        assert engine.intersect_hits(np.array([[1, 2], [2, 3]], dtype=np.int64)) == [2]
        for dt in (np.int8, np.int32, np.uint16, np.int64, np.uint64):
            assert engine.intersect_hits([np.array([3, 1], dtype=dt), [1]]) == [1]

    @pytest.mark.parametrize("lists", ["12", ["12"], [[1], "1"], [[1], np.str_("1")]])
    def test_str_is_refused(self, engine, lists):
        with pytest.raises(TypeError, match="^argument 'lists': Can't extract `str` to `Vec`$"):
            engine.intersect_hits(lists)

    @pytest.mark.parametrize("lists,type_name", [
        (5, "int"), ({1: 2}, "dict"), ({1, 2}, "set"), (iter([[1]]), "list_iterator"),
        ([[1], 2], "int"), ([None], "NoneType"), ([{1}], "set"), (None, "NoneType"),
    ])
    def test_non_sequence_is_refused(self, engine, lists, type_name):
        msg = f"^argument 'lists': '{type_name}' object cannot be converted to 'Sequence'$"
        with pytest.raises(TypeError, match=msg):
            engine.intersect_hits(lists)

    @pytest.mark.parametrize("hit,type_name", [(1.0, "float"), (np.float64(2.0), "numpy.float64"), ("1", None),
                                               (None, "NoneType")])
    def test_non_integer_hit_is_type_error(self, engine, hit, type_name):
        with pytest.raises(TypeError, match="^argument 'lists': ") as err:
            engine.intersect_hits([[1, hit]])
        if type_name:
            assert f"'{type_name}' object cannot be interpreted as an integer" in str(err.value)

    @pytest.mark.parametrize("lists", [[[-1]], [[1], [2, -5]], [np.array([1, -1])], [[2**64]], [[U64_MAX + 5]]])
    def test_out_of_range_hit_is_unprefixed_overflow(self, engine, lists):
        with pytest.raises(OverflowError) as err:
            engine.intersect_hits(lists)
        assert not str(err.value).startswith("argument")

    def test_failure_while_iterating_is_not_swallowed(self, engine):
        class Broken:
            def __init__(self, item):
                self.item = item

            def __len__(self):
                return 3

            def __getitem__(self, i):
                if i == 1:
                    raise ValueError("broken item")
                if i > 2:
                    raise IndexError
                return self.item

        for lists in ([Broken(4)], Broken([4])):
            with pytest.raises(ValueError, match="^broken item$"):
                engine.intersect_hits(lists)

    def test_keyword_and_arity(self, engine):
        assert engine.intersect_hits(lists=[[1, 2], [2]]) == [2]
        with pytest.raises(TypeError):
            engine.intersect_hits()
        with pytest.raises(TypeError):
            engine.intersect_hits([[1]], [[1]])


def test_borrow_is_shared_and_held_while_converting():
    engine = Engine.from_points(np.zeros(2), np.zeros(2))
    seen = []

    class Reentrant:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i > 0:
                raise IndexError
            seen.append(engine.coordinate_system())  # shared beside shared: allowed
            with pytest.raises(RuntimeError, match="^Already borrowed$"):
                engine.set_coordinate_system("geographic")
            return [7]

    assert engine.intersect_hits(Reentrant()) == [7]
    assert seen == ["planar"] and engine.coordinate_system() == "planar"
