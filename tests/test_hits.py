"""intersect_hits: multiset intersection against collections.Counter, and argument conversion."""
import re
from collections import Counter

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from query_oracles import CallsBack, expect_refused
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
        # Any sequence but str, NumPy integer arrays of any width, a 2-D array as a list of rows.
        (([4, 2], range(1, 5), b"\x02\x04"), [2, 4]),
        (np.array([[1, 2], [2, 3]], dtype=np.int64), [2]),
        ([np.array([3, 1], dtype=np.int8), np.array([1], dtype=np.uint16), np.array([3, 1], dtype=np.uint64)], [1]),
    ])
    def test_documented_cases(self, engine, lists, expected):
        out = engine.intersect_hits(lists)
        assert out == expected and all(type(v) is int for v in out)

    @settings(max_examples=300, deadline=None)
    @given(st.lists(st.lists(st.integers(0, 12) | st.integers(0, U64_MAX), max_size=30), max_size=6),
           st.lists(st.sampled_from([list, tuple, np.array]), min_size=6, max_size=6))
    def test_matches_counter_intersection(self, engine, lists, containers):
        # Small ids repeat; ids over the full unsigned range exercise every digit of the sort.
        wrapped = [np.array(lst, dtype=np.uint64) if wrap is np.array else wrap(lst)
                   for wrap, lst in zip(containers, lists)]
        assert engine.intersect_hits(wrapped) == counter_intersection(lists)

    def test_large_lists(self, engine, rng):
        lists = [rng.integers(0, 50_000, size) for size in (200_000, 120_000, 300_000)]
        assert engine.intersect_hits(lists) == counter_intersection([lst.tolist() for lst in lists])


def exact(message):
    return "^" + re.escape(message) + "$"


NOT_A_SEQUENCE = "argument 'lists': '{}' object cannot be converted to 'Sequence'"


@pytest.mark.parametrize("args, error, pattern", [
    *[((lists,), TypeError, exact("argument 'lists': Can't extract `str` to `Vec`"))
      for lists in ["12", ["12"], [[1], "1"], [[1], np.str_("1")]]],
    *[((lists,), TypeError, exact(NOT_A_SEQUENCE.format(name))) for lists, name in [
        (5, "int"), ({1: 2}, "dict"), ({1, 2}, "set"), (iter([[1]]), "list_iterator"), ([[1], 2], "int"),
        ([None], "NoneType"), ([{1}], "set"), (None, "NoneType")]],
    *[(([[1, hit]],), TypeError, f"^argument 'lists': .*'{name}' object cannot be interpreted as an integer")
      for hit, name in [(1.0, "float"), (np.float64(2.0), "numpy.float64"), (None, "NoneType")]],
    (([[1, "1"]],), TypeError, "^argument 'lists': "),
    # Out of range: OverflowError without the argument prefix.
    *[((lists,), OverflowError, "^(?!argument)") for lists in [[[-1]], [[1], [2, -5]], [np.array([1, -1])],
                                                               [[2**64]], [[U64_MAX + 5]]]],
    ((), TypeError, None),
    (([[1]], [[1]]), TypeError, None),
])
def test_refusals(engine, args, error, pattern):
    with pytest.raises(error, match=pattern):
        engine.intersect_hits(*args)


def test_keyword_failures_while_iterating_and_borrows():
    engine = Engine.from_points(np.zeros(2), np.zeros(2))
    assert engine.intersect_hits(lists=[[1, 2], [2]]) == [2]

    def broken():
        raise ValueError("broken item")

    for lists in ([[4], CallsBack(broken, 4)], CallsBack(broken, [4])):
        with pytest.raises(ValueError, match="^broken item$"):
            engine.intersect_hits(lists)
    seen = []  # the lists convert under the shared borrow: shared calls run, exclusive ones are refused
    reentrant = CallsBack(lambda: (seen.append(engine.coordinate_system()),
                                   expect_refused(lambda: engine.set_coordinate_system("geographic"),
                                                  "Already borrowed")), [7])
    assert engine.intersect_hits(reentrant) == [7]
    assert seen == ["planar"] and engine.coordinate_system() == "planar"
