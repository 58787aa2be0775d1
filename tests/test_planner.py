"""Index modes, the index build without a query and the statistics summary."""
import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra.numpy import arrays

from vardelin._core import Engine

MODES = ["auto", "none", "eager", "explicit:r_tree", "explicit:kd_tree", "explicit:grid"]

# Until the real indexes are in, a build only counts itself and fills no slot.
real_indexes = pytest.mark.skipif(not hasattr(Engine, "_build_index_for_calibration"),
                                  reason="needs the built indexes")


def points(xs, ys):
    return Engine.from_points(np.asarray(xs, dtype=np.float64), np.asarray(ys, dtype=np.float64))


def lattice(count, columns, x0=0.0, side=1.0, copies=1):
    i = np.tile(np.arange(count), copies)
    rows = max((count - 1) // columns, 1)
    return points(x0 + (i % columns) * side / (columns - 1), x0 + (i // columns) * side / rows)


def built_kinds(engine):
    return [(b["index"], b["build_count"]) for b in engine.take_metrics()["index_builds"]]


class TestSetIndexMode:
    def test_returns_the_previous_mode(self):
        e = points([0.0], [0.0])
        previous = "eager"
        for mode in MODES + ["eager", "auto"]:
            got = e.set_index_mode(mode)
            assert type(got) is str and got == previous
            previous = mode

    def test_keyword_argument(self):
        e = points([0.0], [0.0])
        assert e.set_index_mode(mode="none") == "eager"
        assert e.set_index_mode("eager") == "none"

    @pytest.mark.parametrize("bad", ["AUTO", "explicit:brute_force", "", " auto", "explicit:", "grid"])
    def test_unknown_modes_change_nothing(self, bad):
        e = points([0.0], [0.0])
        e.set_index_mode("auto")
        message = f"index mode must be 'auto', 'eager', or 'none', got '{bad}'"
        with pytest.raises(ValueError) as info:
            e.set_index_mode(bad)
        assert str(info.value) == message
        assert e.set_index_mode("none") == "auto"

    @pytest.mark.parametrize("bad", [None, 1, b"auto", ["auto"]])
    def test_non_strings_are_type_errors(self, bad):
        e = points([0.0], [0.0])
        with pytest.raises(TypeError):
            e.set_index_mode(bad)
        assert e.set_index_mode("auto") == "eager"

    def test_argument_list(self):
        e = points([0.0], [0.0])
        with pytest.raises(TypeError):
            e.set_index_mode()
        with pytest.raises(TypeError):
            e.set_index_mode("auto", "none")
        with pytest.raises(TypeError):
            e.set_index_mode(kind="auto")


class TestBuildIndex:
    @pytest.mark.parametrize("mode", ["eager", "none", "auto", "explicit:r_tree"])
    def test_natural_kind_in_every_mode(self, mode):
        cases = [
            (lattice(499, 25, x0=100, side=100), "brute_force"),   # fewer than 500 points
            (points(*np.random.default_rng(1).uniform(0, 1, (2, 1000))), "brute_force"),  # s = 1
            (lattice(1000, 40, x0=100, side=100), "grid"),          # Uniform, one cell of 1000
            (lattice(500, 25, x0=100, side=100, copies=2), "kd_tree"),  # Clustered
            (points([], []), "brute_force"),
        ]
        for engine, kind in cases:
            engine.set_index_mode(mode)
            assert engine.build_index() is None
            assert built_kinds(engine) == [(kind, 1)]
            # The mode is neither consulted nor changed.
            assert engine.set_index_mode("eager") == mode

    def test_uniform_lattice_is_uniform(self):
        assert "dist=Uniform" in repr(lattice(1000, 40, x0=100, side=100))
        assert "dist=Clustered" in repr(lattice(500, 25, x0=100, side=100, copies=2))

    @real_indexes
    def test_idempotent(self):
        e = lattice(1000, 40, x0=100, side=100)
        e.build_index()
        e.build_index()
        assert built_kinds(e) == [("grid", 1)]

    def test_takes_no_arguments(self):
        with pytest.raises(TypeError):
            points([0.0], [0.0]).build_index(1)


def shortest(v):
    if math.isnan(v):
        return "NaN"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    text = repr(v)
    if "e" in text:
        mantissa, exponent = text.split("e")
        return f"{mantissa}e{int(exponent)}"
    return text


def sci3(v):
    if math.isnan(v):
        return "NaN"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    mantissa, exponent = f"{v:.3e}".split("e")
    return f"{mantissa}e{int(exponent)}"


def expected_info(engine):
    r = repr(engine)
    kind = r.split("kind=")[1].split(",")[0]
    dist = r.split("dist=")[1].rstrip(")")
    ext = engine.extent()
    if ext is None:
        density, extent = 0.0, "None"
    else:
        area = (ext[2] - ext[0]) * (ext[3] - ext[1])
        density = engine.n() / area if area > 0 else 0.0
        extent = f"Some(RECT({shortest(ext[0])} {shortest(ext[1])},{shortest(ext[2])} {shortest(ext[3])}))"
    return f"n={engine.n()}, kind={kind}, distribution={dist}, density={sci3(density)}, extent={extent}"


class TestStatsInfo:
    @pytest.mark.parametrize("xs, ys, text", [
        ([0, 1, 0], [0, 0, 2],
         "n=3, kind=Point, distribution=Unknown, density=1.500e0, extent=Some(RECT(0.0 0.0,1.0 2.0))"),
        ([], [], "n=0, kind=Empty, distribution=Unknown, density=0.000e0, extent=None"),
        ([0, 250, 0], [0, 0, 100],
         "n=3, kind=Point, distribution=Unknown, density=1.200e-4, extent=Some(RECT(0.0 0.0,250.0 100.0))"),
        ([0, 1e-160, 0], [0, 0, 1e-160],
         "n=3, kind=Point, distribution=Unknown, density=inf, extent=Some(RECT(0.0 0.0,1e-160 1e-160))"),
        ([-2.5, 1e16], [1.5e-5, 3],
         "n=2, kind=Point, distribution=Unknown, density=6.667e-17, extent=Some(RECT(-2.5 1.5e-5,1e16 3.0))"),
        ([0, math.inf], [0, 1],
         "n=2, kind=Point, distribution=Unknown, density=0.000e0, extent=Some(RECT(0.0 0.0,inf 1.0))"),
        ([math.nan, math.nan], [1, 2], "n=2, kind=Point, distribution=Unknown, density=0.000e0, extent=None"),
        ([0, 1], [math.nan, math.nan],
         "n=2, kind=Point, distribution=Unknown, density=0.000e0, extent=Some(RECT(0.0 -inf,1.0 inf))"),
    ])
    def test_examples(self, xs, ys, text):
        assert points(xs, ys).stats_info() == text

    def test_two_hundred_fifty_per_unit_area(self):
        xs = np.r_[0.0, 1.0, np.linspace(0.1, 0.9, 248)]
        ys = np.r_[0.0, 1.0, np.linspace(0.9, 0.1, 248)]
        assert "density=2.500e2," in points(xs, ys).stats_info()

    @settings(max_examples=200, deadline=None)
    @given(arrays(np.float64, st.integers(0, 40), elements=st.floats(width=64)),
           st.integers(0, 2 ** 32), st.integers(-300, 300))
    def test_matches_python_formatting(self, xs, seed, exponent):
        scale = 10.0 ** (exponent / 10)
        ys = np.random.default_rng(seed).uniform(-1, 1, len(xs)) * scale
        with np.errstate(over="ignore", invalid="ignore"):
            e = points(xs, ys)
            assert e.stats_info() == expected_info(e)
