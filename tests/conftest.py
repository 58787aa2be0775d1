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
