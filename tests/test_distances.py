"""Static distance functions: element-wise against the same formula written in NumPy, and the checks."""
import math
from fractions import Fraction

import numpy as np
import pytest

from vardelin._core import Engine

K = 0.017453292519943295
DIAMETER = 12742017.6
HALF_CIRCUMFERENCE = math.asin(1.0) * DIAMETER
N = 1_000_000


def libm(f):
    """The C library's function element-wise (math calls it); like C, inf and NaN give NaN."""
    u = np.frompyfunc(lambda v: f(v) if math.isfinite(v) else math.nan, 1, 1)
    return lambda a: np.asarray(u(a), dtype=np.float64)


def numpy_euclidean(x1, y1, x2, y2):
    with np.errstate(invalid="ignore", over="ignore"):
        dx = x1 - x2
        dy = y1 - y2
        return np.sqrt(dx * dx + dy * dy)


def numpy_haversine(lon1, lat1, lon2, lat2, sin=np.sin, cos=np.cos, asin=np.arcsin):
    """Point 1 to point 2, in exactly the order of operations the library promises."""
    with np.errstate(invalid="ignore"):
        s_lat = sin(((lat2 - lat1) * K) * 0.5)
        s_lon = sin(((lon2 - lon1) * K) * 0.5)
        c = cos(lat2 * K) * cos(lat1 * K)
        a = (s_lon * s_lon) * c + s_lat * s_lat
        return asin(np.fmin(np.sqrt(a), 1.0)) * DIAMETER


def libm_haversine(lon1, lat1, lon2, lat2):
    return numpy_haversine(lon1, lat1, lon2, lat2, sin=libm(math.sin), cos=libm(math.cos), asin=libm(math.asin))


def assert_same_bits(ours, expected):
    assert ours.dtype == np.float64 and ours.shape == expected.shape
    nan = np.isnan(expected)
    np.testing.assert_array_equal(np.isnan(ours), nan)
    assert np.array_equal(ours[~nan].view(np.uint64), expected[~nan].view(np.uint64))


def sprinkle_non_finite(rng, a, fraction=0.01):
    """A copy of `a` with NaN, +inf and -inf at random places."""
    a = a.copy()
    for v in (np.nan, np.inf, -np.inf):
        a[rng.integers(0, len(a), int(len(a) * fraction))] = v
    return a


@pytest.fixture(scope="module")
def planar():
    rng = np.random.default_rng(7)
    x1, y1, x2, y2 = (sprinkle_non_finite(rng, rng.normal(0, 1e3, N)) for _ in range(4))
    x1[:1000] = 1e200  # squares overflow to +inf, no rescaling
    y2[1000:2000] = y1[1000:2000]
    return x1, y1, x2, y2


@pytest.fixture(scope="module")
def geographic():
    rng = np.random.default_rng(8)
    lon1, lon2 = (rng.uniform(-180, 180, N) for _ in range(2))
    lat1, lat2 = (np.degrees(np.arcsin(rng.uniform(-1, 1, N))) for _ in range(2))
    # Identical, antipodal and out-of-range points, then NaN and infinities everywhere.
    lon2[:1000], lat2[:1000] = lon1[:1000], lat1[:1000]
    lon2[1000:2000], lat2[1000:2000] = lon1[1000:2000] + 180.0, -lat1[1000:2000]
    lat1[2000:3000] = rng.uniform(90, 400, 1000)
    return tuple(sprinkle_non_finite(rng, a, 0.002) for a in (lon1, lat1, lon2, lat2))


class TestAgainstNumpy:
    def test_euclidean_pairwise_is_bitwise_equal(self, planar):
        assert_same_bits(Engine.euclidean_distance(*planar), numpy_euclidean(*planar))

    @pytest.mark.parametrize("centre", [(3.5, -2.25), (np.nan, 0.0), (np.inf, 1.0)])
    def test_euclidean_to_centre_is_bitwise_equal(self, planar, centre):
        xs, ys = planar[0], planar[1]
        assert_same_bits(Engine.euclidean_distance_to(xs, ys, *centre), numpy_euclidean(xs, ys, *centre))

    def test_haversine_pairwise_matches_libm_bitwise_and_numpy_within_2_ulp(self, geographic):
        ours = Engine.haversine_distance(*geographic)
        assert not np.isnan(ours).any()
        assert_same_bits(ours, libm_haversine(*geographic))
        # NumPy's vectorised arcsin may differ from the C library's by 1 ulp; the final
        # product by the diameter can make that 2.
        np.testing.assert_array_max_ulp(ours, numpy_haversine(*geographic), maxulp=2)

    @pytest.mark.parametrize("centre", [(12.5, 47.25), (-179.9, -89.5), (0.0, np.nan), (np.inf, 10.0)])
    def test_haversine_to_centre_measures_from_the_centre(self, geographic, centre):
        lons, lats = geographic[0], geographic[1]
        ours = Engine.haversine_distance_to(lons, lats, *centre)
        assert_same_bits(ours, libm_haversine(centre[0], centre[1], lons, lats))
        np.testing.assert_array_max_ulp(ours, numpy_haversine(centre[0], centre[1], lons, lats), maxulp=2)

    def test_centre_variants_equal_pairwise_with_filled_arrays(self, planar, geographic):
        xs, ys = planar[0], planar[1]
        assert_same_bits(Engine.euclidean_distance_to(xs, ys, 3.0, -7.0),
                         Engine.euclidean_distance(xs, ys, np.full(N, 3.0), np.full(N, -7.0)))
        lons, lats = geographic[0], geographic[1]
        assert_same_bits(Engine.haversine_distance_to(lons, lats, 3.0, -7.0),
                         Engine.haversine_distance(np.full(N, 3.0), np.full(N, -7.0), lons, lats))


class TestValues:
    def test_documented_values(self):
        a = np.array
        assert Engine.euclidean_distance(a([0.0]), a([0.0]), a([3.0]), a([4.0]))[0] == 5.0
        d = Engine.haversine_distance(a([0.0, 7.0, 0.0]), a([0.0, 8.0, 0.0]), a([0.0, 7.0, 180.0]), a([1.0, 8.0, 0.0]))
        assert d[0] == math.asin(math.sin(0.5 * K)) * DIAMETER
        assert d[1] == 0.0
        assert d[2] == HALF_CIRCUMFERENCE

    def test_nan_is_half_circumference_for_haversine_and_nan_for_euclidean(self):
        one_nan = np.array([np.nan])
        assert Engine.haversine_distance_to(one_nan, np.array([0.0]), 0.0, 0.0)[0] == HALF_CIRCUMFERENCE
        assert Engine.haversine_distance(np.zeros(1), np.zeros(1), np.zeros(1), one_nan)[0] == HALF_CIRCUMFERENCE
        assert np.isnan(Engine.euclidean_distance_to(one_nan, np.array([0.0]), 0.0, 0.0)[0])

    def test_empty_arrays_give_empty_float64(self):
        e = np.empty(0)
        for out in (Engine.euclidean_distance(e, e, e, e), Engine.haversine_distance(e, e, e, e),
                    Engine.euclidean_distance_to(e, e, 1.0, 2.0), Engine.haversine_distance_to(e, e, 1.0, 2.0)):
            assert out.dtype == np.float64 and out.shape == (0,)

    def test_results_are_fresh_writable_arrays_and_inputs_untouched(self):
        xs = np.arange(5.0)
        xs.setflags(write=False)
        out = Engine.euclidean_distance_to(xs, xs, 0.0, 0.0)
        out[:] = -1.0
        assert np.array_equal(xs, np.arange(5.0))
        assert not np.shares_memory(out, xs)

    def test_centre_accepts_what_float_accepts(self):
        xs = np.array([3.0])
        for cx in (0, np.float64(0.0), Fraction(0), np.int32(0)):
            assert Engine.euclidean_distance_to(xs, np.array([4.0]), cx, 0.0)[0] == 5.0
        for bad in ("0", None, [0.0]):
            with pytest.raises(TypeError):
                Engine.euclidean_distance_to(xs, xs, bad, 0.0)
        with pytest.raises(TypeError):
            Engine.haversine_distance_to(xs, xs, 0.0, bad)

    def test_keywords(self):
        a = np.array([1.0])
        assert Engine.haversine_distance(lons1=a, lats1=a, lons2=a, lats2=a)[0] == 0.0
        assert Engine.euclidean_distance(xs1=a, ys1=a, xs2=a, ys2=a)[0] == 0.0
        assert Engine.euclidean_distance_to(xs=a, ys=a, cx=1.0, cy=1.0)[0] == 0.0
        assert Engine.haversine_distance_to(lons=a, lats=a, cx=1.0, cy=1.0)[0] == 0.0


PAIRWISE = [
    (Engine.euclidean_distance, ["xs1", "ys1", "xs2", "ys2"], "all coordinate arrays must have the same length"),
    (Engine.haversine_distance, ["lons1", "lats1", "lons2", "lats2"],
     "all coordinate arrays must have the same length"),
]
CENTRED = [
    (Engine.euclidean_distance_to, ["xs", "ys"], "xs and ys must have the same length"),
    (Engine.haversine_distance_to, ["lons", "lats"], "longitudes and latitudes must have the same length"),
]


def call(fn, names, arrays):
    return fn(*arrays) if len(names) == 4 else fn(*arrays, 0.0, 0.0)


@pytest.mark.parametrize("fn,names,length_message", PAIRWISE + CENTRED)
class TestChecks:
    def test_first_non_contiguous_array_is_named_before_any_length_check(self, fn, names, length_message):
        good = np.arange(6.0)
        for pos, name in enumerate(names):
            arrays = [good] * len(names)
            arrays[pos] = np.arange(12.0)[::2]
            # A later array that is also strided, or of another length, must not be reported first.
            arrays[pos + 1:] = [np.arange(3.0)[::-1]] * (len(names) - pos - 1)
            with pytest.raises(ValueError, match=f"^{name} must be a contiguous float64 array$"):
                call(fn, names, arrays)

    def test_lengths_must_all_match_even_when_one_is_empty(self, fn, names, length_message):
        for pos in range(len(names)):
            for other in (np.arange(5.0), np.empty(0)):
                arrays = [np.arange(6.0)] * len(names)
                arrays[pos] = other
                with pytest.raises(ValueError, match=f"^{length_message}$"):
                    call(fn, names, arrays)

    @pytest.mark.parametrize("bad", [np.arange(3, dtype=np.float32), np.arange(3), np.zeros((3, 1)),
                                     np.arange(3.0).astype(">f8"), [1.0, 2.0, 3.0], None])
    def test_wrong_dtype_dimension_or_type_is_type_error_before_other_checks(self, fn, names, length_message, bad):
        for pos in range(len(names)):
            arrays = [np.arange(12.0)[::2]] * len(names)
            arrays[pos] = bad
            with pytest.raises(TypeError):
                call(fn, names, arrays)

    def test_read_only_and_single_element_views_are_accepted(self, fn, names, length_message):
        ro = np.arange(4.0)
        ro.setflags(write=False)
        assert call(fn, names, [ro] * len(names)).shape == (4,)
        one = np.arange(10.0)[::5][:1]
        assert call(fn, names, [one] * len(names)).shape == (1,)
