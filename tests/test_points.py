"""Point datasets: the argument checks of every point entry point, statistics against NumPy, the
text form, settings and metrics."""
import ast
import pathlib
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra.numpy import arrays

import vardelin._core as core
from polygon_data import error_of, unaligned
from vardelin._core import Engine, _PointBuilder


def numpy_extent(xs, ys):
    """Each axis folded apart, skipping NaN; absent unless the minimum x is finite."""
    def fold(v):
        v = v[~np.isnan(v)]
        return np.min(v, initial=np.inf), np.max(v, initial=-np.inf)
    (x0, x1), (y0, y1) = fold(xs), fold(ys)
    return (min(x0, x1), min(y0, y1), max(x0, x1), max(y0, y1)) if np.isfinite(x0) else None


def point_sink(entry):
    """feed(xs, ys) through one point entry point; read() gives every point it kept, in order."""
    engine, builder, made = Engine.from_points(np.empty(0), np.empty(0)), _PointBuilder(), []
    feed = {"from_points": lambda xs, ys: made.append(Engine.from_points(xs, ys)),
            "append_delta": engine.append_delta, "builder": builder.append}[entry]

    def read():
        engine.flush()
        kept = {"from_points": made, "append_delta": [engine], "builder": [builder.finish()]}[entry]
        return [p for e in kept for p in zip(e.xs().tolist(), e.ys().tolist())]
    return feed, read


@pytest.mark.parametrize("entry", ["from_points", "append_delta", "builder"])
class TestArguments:
    def test_refusals_in_order_change_nothing(self, entry):
        feed, read = point_sink(entry)
        strided = np.arange(10.0)[::2]
        for xs, ys, message in [(strided, strided, "xs must be a contiguous float64 array"),
                                (np.arange(5.0), strided, "ys must be a contiguous float64 array"),
                                # Read in place, so a misaligned array is refused as a strided one.
                                (unaligned([1.0, 2.0], np.float64), np.arange(2.0), "xs must be a contiguous float64 array"),
                                (np.arange(1.0), unaligned([1.0], np.float64), "ys must be a contiguous float64 array"),
                                (np.arange(3.0), np.arange(4.0), "xs and ys must have the same length")]:
            assert error_of(feed, xs, ys) == message
        for bad in [np.arange(3, dtype=np.float32), np.arange(3), np.zeros((3, 1)), [1.0, 2.0, 3.0],
                    np.arange(3.0).astype(">f8")]:
            with pytest.raises(TypeError):
                feed(bad, np.arange(3.0))
        assert read() == []

    def test_read_only_single_strided_and_shared_inputs_are_copied(self, entry):
        feed, read = point_sink(entry)
        frozen = np.array([1.0, 2.0])
        frozen.setflags(write=False)
        feed(frozen, frozen)
        # One point waits in the delta buffer, so the buffer must hold a copy too.
        mutable = np.array([3.0])
        feed(mutable, mutable)
        mutable[:] = -1.0
        feed(np.arange(10.0, 20.0)[::5][:1], np.array([7.0]))
        assert read() == [(1.0, 1.0), (2.0, 2.0), (3.0, 3.0), (10.0, 7.0)]


# The Engine's methods as Python lists them: the method table's order, joins not yet built left out.
ENGINE_METHODS = [
    "from_points", "from_polygon_rings", "from_wkb_polygons", "from_wkb_polygon_views", "subset", "build_index",
    "_build_index_for_calibration", "set_index_mode", "set_cost_factors", "set_coordinate_system",
    "coordinate_system", "knn", "range_query", "radius_query", "intersect_ranges", "intersect_hits",
    "knn_from_candidates", "contains_query", "range_mask", "contains_mask", "fused_mask",
    "knn_mask_from_candidates", "append_delta", "flush", "delta_len", "euclidean_distance", "haversine_distance",
    "euclidean_distance_to", "haversine_distance_to", "take_metrics", "index_bytes", "xs", "ys", "n", "extent",
    "stats_info"]


def test_module_registers_exactly_its_classes_which_are_closed_with_methods_in_table_order():
    Engine.from_points(np.arange(2.0), np.arange(2.0)).xs()
    assert [n for n in vars(core) if not n.startswith("__")] == ["Engine", "_PointBuilder", "_PolygonBuilder"]
    with pytest.raises(TypeError):
        Engine()
    with pytest.raises(TypeError):
        type("Sub", (Engine,), {})
    assert [getattr(core, n).__doc__ for n in ("Engine", "_PointBuilder", "_PolygonBuilder")] == [None] * 3
    prefixes = ("__", "batch_", "polygon_", "points_", "convex_", "group_")
    assert [n for n in vars(Engine) if not n.startswith(prefixes)] == ENGINE_METHODS


def test_stub_declares_every_method_with_typed_parameters():
    # What editors and type checkers read, shipped beside the module: every method of the three
    # classes, no parameter left untyped, and None only where a parameter defaults to it.
    stub = ast.parse(pathlib.Path(core.__file__).with_name("_core.pyi").read_text())
    classes = {c.name: [f for f in c.body if isinstance(f, ast.FunctionDef)] for c in stub.body
               if isinstance(c, ast.ClassDef)}
    assert list(classes) == ["Engine", "_PointBuilder", "_PolygonBuilder"]
    assert [f.name for f in classes["Engine"]] == [n for n in vars(Engine) if not n.startswith("__")] + ["__repr__"]
    for f in (f for methods in classes.values() for f in methods):
        params = f.args.posonlyargs + f.args.args
        defaults = [None] * (len(params) - len(f.args.defaults)) + f.args.defaults
        for p, default in zip(params, defaults):
            if p.arg == "self":
                continue
            annotation = ast.unparse(p.annotation)
            assert "object" not in annotation, (f.name, p.arg)
            optional = isinstance(default, ast.Constant) and default.value is None
            assert annotation.endswith(" | None") == optional, (f.name, p.arg)
    knn_join = next(f for f in classes["Engine"] if f.name == "batch_knn_join")
    assert [(p.arg, ast.unparse(p.annotation)[:9]) for p in knn_join.args.args[1:]] == [
        ("query_xs", "Annotated"), ("query_ys", "Annotated"), ("k", "int"), ("total_q_count", "int | Non")]
    assert pathlib.Path(core.__file__).with_name("py.typed").exists()


def run_child(code):
    """Runs code in a fresh interpreter process, so a crash fails the test instead of pytest."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120)


def test_second_interpreter_is_refused_and_the_first_keeps_working():
    child = run_child("""
        import numpy as np
        import _xxsubinterpreters as interpreters
        from vardelin._core import Engine
        e = Engine.from_points(np.arange(5.0), np.arange(5.0))
        sub = interpreters.create()
        try:
            interpreters.run_string(sub, "import vardelin._core")
        except interpreters.RunFailedError as err:
            print(err)
        interpreters.destroy(sub)
        print(e.knn(0.0, 0.0, 2), Engine.from_points(np.arange(3.0), np.arange(3.0)).n())
    """)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        "<class 'ImportError'>: module _core does not support loading in subinterpreters", "[0, 1] 3"]


@pytest.mark.parametrize("daemon_work", ["time.sleep(5)", "while True: e.batch_knn_join(qx, qy, 4)"])
def test_exit_while_a_daemon_thread_holds_an_engine_is_quiet(daemon_work):
    # The interpreter clears nothing a daemon thread may still use, and ends a thread that comes
    # back from a join during shutdown: neither may print or abort.
    child = run_child(f"""
        import threading, time
        import numpy as np
        from vardelin._core import Engine
        e = Engine.from_points(np.random.rand(200_000), np.random.rand(200_000))
        qx, qy = np.random.rand(50_000), np.random.rand(50_000)
        threading.Thread(target=lambda: exec({daemon_work!r}), daemon=True).start()
        time.sleep(0.2)
    """)
    assert (child.returncode, child.stderr) == (0, "")


def test_forks_taken_while_joins_run_never_hang():
    # Each child builds a million points (parallel loops, large buffers) from a fork taken while
    # the parent's joins keep the worker pool and the buffer cache busy; three at once keep the
    # pool's threads moving between them, when its shared state is most often locked. A hung
    # child ends itself by its alarm, so a regression fails instead of hanging.
    child = run_child("""
        import os, signal, threading
        import numpy as np
        from vardelin._core import Engine
        rng = np.random.default_rng(1)
        qx, qy, xs, ys = rng.random(5_000), rng.random(5_000), rng.random(10**6), rng.random(10**6)
        stop = threading.Event()

        def joins(e):
            while not stop.is_set():
                e.batch_knn_join(qx, qy, 4)

        workers = [threading.Thread(target=joins, args=(Engine.from_points(*rng.random((2, 100_000))),))
                   for _ in range(3)]
        for w in workers:
            w.start()
        codes = {0}
        for _ in range(100):
            pid = os.fork()
            if pid == 0:
                signal.alarm(10)
                os._exit(0 if Engine.from_points(xs, ys).n() == len(xs) else 1)
            codes.add(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
            if codes != {0}:
                break
        stop.set()
        for w in workers:
            w.join()
        print(codes)
    """)
    assert (child.returncode, child.stdout) == (0, "{0}\n"), child.stderr


def test_new_gives_no_uninitialised_object():
    # Builders are made whole by __new__; the other classes refuse it as a call does. Reading an
    # uninitialised view base could crash, hence the child process.
    child = run_child("""
        import numpy as np
        from vardelin._core import Engine, _PointBuilder, _PolygonBuilder
        base = type(Engine.from_points(np.arange(2.0), np.arange(2.0)).xs().base)
        for cls in [Engine, base]:
            for make in [cls, lambda: cls.__new__(cls)]:
                try:
                    print(np.frombuffer(make()).sum())
                except TypeError as err:
                    print(err)
        b = _PointBuilder.__new__(_PointBuilder)
        b.append(np.arange(2.0), np.arange(2.0))
        print(b.finish().n(), _PolygonBuilder.__new__(_PolygonBuilder).finish().n())
    """)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == ["vardelin._core.Engine: no constructor defined!"] * 2 + [
        "vardelin._core.CoordinateBuffer: no constructor defined!"] * 2 + ["2 0"]


class TestStatistics:
    def test_large_dataset_with_nan_and_inf_matches_numpy(self, rng):
        # Large enough to be cut into several chunks, so partial extents are combined.
        xs, ys = rng.uniform(-50, 150, 200_000), rng.uniform(10, 20, 200_000)
        xs[rng.integers(0, 200_000, 1000)] = ys[rng.integers(0, 200_000, 1000)] = np.nan
        xs[5] = np.inf
        e = Engine.from_points(xs, ys)
        assert (e.n(), e.extent()) == (200_000, numpy_extent(xs, ys))

    @settings(max_examples=60, deadline=None)
    @given(arrays(np.float64, st.tuples(st.integers(1, 300), st.just(2)),
                  elements=st.one_of(st.floats(-1e6, 1e6), st.sampled_from([np.nan, np.inf, -np.inf]))))
    def test_extent_property(self, xy):
        xs, ys = xy[:, 0].copy(), xy[:, 1].copy()
        assert Engine.from_points(xs, ys).extent() == numpy_extent(xs, ys)

    def test_text_form_and_distribution_class(self, rng):
        gx, gy = np.meshgrid(np.arange(256) + 0.5, np.arange(256) + 0.5)
        clustered = np.concatenate([np.full(1000, 5.0), rng.uniform(0, 100, 1000)])
        for xs, ys, text in [
            (np.empty(0), np.empty(0), "Engine(n=0, kind=Empty, dist=Unknown)"),
            (gx.ravel().copy(), gy.ravel().copy(), "Engine(n=65536, kind=Point, dist=Uniform)"),
            (clustered, clustered[::-1].copy(), "Engine(n=2000, kind=Point, dist=Clustered)"),
            # Too few points to classify, then just enough.
            (np.arange(19.0), np.arange(19.0), "Engine(n=19, kind=Point, dist=Unknown)"),
            (np.full(20, 3.0), np.full(20, 3.0), "Engine(n=20, kind=Point, dist=Clustered)"),
            # No extent: nothing to classify, however many points.
            (np.full(30, np.nan), np.arange(30.0), "Engine(n=30, kind=Point, dist=Unknown)"),
        ]:
            assert repr(Engine.from_points(xs, ys)) == text


class TestSettings:
    def test_coordinate_system(self):
        e = Engine.from_points(np.arange(3.0), np.arange(3.0))
        assert e.coordinate_system() == "planar"
        e.set_coordinate_system("geographic")
        for bad in ["Planar", " planar", "", "a\x00b"]:
            assert error_of(e.set_coordinate_system, bad) == \
                f"coordinate system must be 'planar' or 'geographic', got '{bad}'"
        for bad in [None, 3]:
            with pytest.raises(TypeError):
                e.set_coordinate_system(bad)
        assert e.coordinate_system() == "geographic"
        e.set_coordinate_system(coordinate_system="planar")
        assert e.coordinate_system() == "planar" and e.extent() == (0.0, 0.0, 2.0, 2.0)

    def test_cost_factors(self):
        e = Engine.from_points(np.arange(3.0), np.arange(3.0))
        for good in [list(range(1, 11)), tuple(float(v) for v in range(1, 11)), np.arange(1.0, 11.0)]:
            e.set_cost_factors(good)
        for count in [9, 0, 11]:
            assert error_of(e.set_cost_factors, [1.0] * count) == f"cost profile must contain 10 values, got {count}"
        for bad in [0.0, -0.0, -1.0, np.nan, np.inf]:
            assert error_of(e.set_cost_factors, [1.0] * 9 + [bad]) == \
                "cost profile values must be finite and greater than zero"
        with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
            e.set_cost_factors("abcdefghij")
        for bad in [5, [1.0] * 9 + ["x"]]:
            with pytest.raises(TypeError):
                e.set_cost_factors(bad)


def test_metrics_fresh_reset_and_left_alone_by_merges():
    e = Engine.from_points(np.arange(100_000.0), np.arange(100_000.0))
    m = e.take_metrics()
    assert list(m) == ["operations", "index_builds", "construction"]
    assert m["operations"] == [] and m["index_builds"] == []
    assert list(m["construction"]) == ["wkb_decode_ns", "statistics_ns"]
    assert m["construction"]["wkb_decode_ns"] == 0 and m["construction"]["statistics_ns"] > 0
    # Merging the delta buffer recomputes the statistics but is not a construction.
    e.flush()
    e.append_delta(np.arange(3.0), np.arange(3.0))
    e.flush()
    e.append_delta(np.arange(11_000.0), np.arange(11_000.0))
    assert e.delta_len() == 0
    assert e.take_metrics() == {"operations": [], "index_builds": [],
                                "construction": {"wkb_decode_ns": 0, "statistics_ns": 0}}
