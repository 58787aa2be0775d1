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
