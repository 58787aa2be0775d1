import numpy as np
import pytest


@pytest.fixture
def rng():
    return np.random.default_rng(20261206)


@pytest.fixture
def huge_array():
    """2**32 float64 zeros over a read-only private mapping: no memory is committed, so the
    row limit can be reached without allocating 32 GiB (reading it only touches the zero page)."""
    import mmap
    m = mmap.mmap(-1, 8 * 2**32, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS, prot=mmap.PROT_READ)
    return np.frombuffer(m, dtype=np.float64)


def _pin_to_one_cpu():
    import os
    os.sched_setaffinity(0, {0})


def on_one_thread(fn, *args):
    """fn(*args) in a fresh process pinned to one CPU, where the worker pool starts with a
    single thread; the result comes back pickled. Compare it with fn(*args) run here on every
    core to show that a parallel kernel's answer does not depend on the thread count. `fn`
    must be a module-level function of a test module."""
    import multiprocessing

    with multiprocessing.get_context("spawn").Pool(1, initializer=_pin_to_one_cpu) as pool:
        return pool.apply(fn, args)


def assert_runs_without_gil(engine, call, probe=None):
    """Runs call() on another thread and, meanwhile, keeps calling probe() (a method of the same
    engine; n() by default) from this one. A call that releases the interpreter lock while it
    holds the engine lets this thread run and makes probe() fail at once with the borrow error;
    a call that kept the lock, or waited, would let probe() see no conflict. Returns call()'s
    result. The call must last long enough to be caught running (a few tens of milliseconds)."""
    import threading

    probe = probe or engine.n
    result, errors, done = {}, [], threading.Event()

    def run():
        try:
            result["value"] = call()
        finally:
            done.set()

    worker = threading.Thread(target=run)
    worker.start()
    conflicts = 0
    while not done.is_set():
        try:
            probe()
        except RuntimeError as e:
            errors.append(str(e))
            conflicts += 1
    worker.join()
    assert conflicts > 0, "the call never ran while this thread did: was the interpreter lock released?"
    assert set(errors) <= {"Already borrowed", "Already mutably borrowed"}, errors
    return result["value"]
