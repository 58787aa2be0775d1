"""Index modes, the index build without a query and the statistics summary."""
import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra.numpy import arrays

from query_oracles import MODES, builds, lattice, points_engine


class TestSetIndexMode:
    def test_returns_the_previous_mode(self):
        e = points_engine([0.0], [0.0])
        previous = "eager"
        for mode in MODES[1:] + ["eager", "auto"]:
            got = e.set_index_mode(mode)
            assert type(got) is str and got == previous
            previous = mode
        assert e.set_index_mode(mode="none") == "auto"

    @pytest.mark.parametrize("bad", ["AUTO", "explicit:brute_force", "", " auto", "explicit:", "grid", "eager\x00",
                                     None, 1, b"auto", ["auto"]])
    def test_refusals_change_nothing(self, bad):
        e = points_engine([0.0], [0.0], "auto")
        if isinstance(bad, str):
            with pytest.raises(ValueError) as info:
                e.set_index_mode(bad)
            assert str(info.value) == f"index mode must be 'auto', 'eager', or 'none', got '{bad}'"
        else:
            with pytest.raises(TypeError):
                e.set_index_mode(bad)
        assert e.set_index_mode("none") == "auto"

    @pytest.mark.parametrize("call", [lambda e: e.set_index_mode(), lambda e: e.set_index_mode("auto", "none"),
                                      lambda e: e.set_index_mode(kind="auto"), lambda e: e.build_index(1)])
    def test_argument_lists(self, call):
        with pytest.raises(TypeError):
            call(points_engine([0.0], [0.0]))


class TestBuildIndex:
    @pytest.mark.parametrize("mode", ["eager", "none", "auto", "explicit:r_tree"])
    def test_natural_kind_in_every_mode(self, mode):
        cases = [
            (lattice(499, 25), "brute_force"),  # fewer than 500 points
            (points_engine(*np.random.default_rng(1).uniform(0, 1, (2, 1000))), "brute_force"),  # s = 1
            (lattice(1000, 40), "grid"),  # Uniform, one cell of 1000
            (lattice(500, 25, copies=2), "kd_tree"),  # Clustered
            (points_engine([], []), "brute_force"),
        ]
        for engine, kind in cases:
            engine.set_index_mode(mode)
            assert engine.build_index() is None
            assert builds(engine.take_metrics()) == {kind: 1}
            if kind == "brute_force":  # the scan reads the coordinates in place
                assert engine.index_bytes() == 0
            # The mode is neither consulted nor changed.
            assert engine.set_index_mode("eager") == mode

    def test_idempotent(self):
        e = lattice(1000, 40)
        e.build_index()
        e.build_index()
        assert builds(e.take_metrics()) == {"grid": 1}


def shortest(v):
    """The shortest round-trip text of a float, its exponent without padding."""
    if not math.isfinite(v):
        return "NaN" if math.isnan(v) else ("inf" if v > 0 else "-inf")
    mantissa, _, exponent = repr(v).partition("e")
    return f"{mantissa}e{int(exponent)}" if exponent else mantissa


def sci3(v):
    if not math.isfinite(v):
        return "NaN" if math.isnan(v) else ("inf" if v > 0 else "-inf")
    mantissa, exponent = f"{v:.3e}".split("e")
    return f"{mantissa}e{int(exponent)}"


def expected_info(engine):
    r = repr(engine)
    kind, dist = r.split("kind=")[1].split(",")[0], r.split("dist=")[1].rstrip(")")
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
        (np.r_[0.0, 1.0, np.linspace(0.1, 0.9, 248)], np.r_[0.0, 1.0, np.linspace(0.9, 0.1, 248)],
         "n=250, kind=Point, distribution=Clustered, density=2.500e2, extent=Some(RECT(0.0 0.0,1.0 1.0))"),
    ])
    def test_examples(self, xs, ys, text):
        assert points_engine(xs, ys).stats_info() == text

    @settings(max_examples=200, deadline=None)
    @given(arrays(np.float64, st.integers(0, 40), elements=st.floats(width=64)),
           st.integers(0, 2 ** 32), st.integers(-300, 300))
    def test_matches_python_formatting(self, xs, seed, exponent):
        ys = np.random.default_rng(seed).uniform(-1, 1, len(xs)) * 10.0 ** (exponent / 10)
        with np.errstate(over="ignore", invalid="ignore"):
            e = points_engine(xs, ys)
            assert e.stats_info() == expected_info(e)
