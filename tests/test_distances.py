"""Static distance functions: element-wise against the same formula written in NumPy, and the checks."""
import math
from fractions import Fraction

import numpy as np
import pytest

from query_oracles import DIAMETER, HALF_CIRCUMFERENCE
from vardelin._core import Engine

K = 0.017453292519943295
N = 200_000


def libm(f):
    """The C library's function element-wise (math calls it); like C, inf and NaN give NaN."""
    u = np.frompyfunc(lambda v: f(v) if math.isfinite(v) else math.nan, 1, 1)
    return lambda a: np.asarray(u(a), dtype=np.float64)


def numpy_euclidean(x1, y1, x2, y2):
    """sqrt(dx^2 + dy^2) as the squared form rounds it with an unbounded exponent: on gaps
    scaled by a power of two (halved first where finite coordinates lie too far apart to
    subtract), which changes no rounding. Non-finite coordinates take the plain formula."""
    with np.errstate(invalid="ignore", over="ignore", under="ignore"):
        dx, dy = x1 - x2, y1 - y2
        plain = np.sqrt(dx * dx + dy * dy)
        finite = np.isfinite(x1) & np.isfinite(y1) & np.isfinite(x2) & np.isfinite(y2)
        halve = np.isinf(dx) | np.isinf(dy)
        dx, dy = np.where(halve, x1 / 2 - x2 / 2, dx), np.where(halve, y1 / 2 - y2 / 2, dy)
        _, e = np.frexp(np.fmax(np.abs(dx), np.abs(dy)))
        sx, sy = np.ldexp(dx, -e), np.ldexp(dy, -e)
        return np.where(finite, np.ldexp(np.sqrt(sx * sx + sy * sy), e + halve), plain)


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
    x1[:1000] = 1e200  # squares overflow, the distances do not
    y2[1000:2000] = y1[1000:2000]
    x1[2000:3000], x2[2000:3000] = rng.normal(0, 1e-170, (2, 1000))  # squares underflow, the distances do not
    y2[2000:3000] = y1[2000:3000]
    x1[3000:4000], x2[3000:4000] = 1.7e308, -1.7e308  # too far apart to subtract
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
    def test_euclidean_is_bitwise_equal(self, planar):
        assert_same_bits(Engine.euclidean_distance(*planar), numpy_euclidean(*planar))
        xs, ys = planar[0], planar[1]
        for centre in [(3.5, -2.25), (np.nan, 0.0), (np.inf, 1.0)]:
            assert_same_bits(Engine.euclidean_distance_to(xs, ys, *centre), numpy_euclidean(xs, ys, *centre))

    def test_haversine_matches_libm_bitwise_and_numpy_within_2_ulp(self, geographic):
        ours = Engine.haversine_distance(*geographic)
        assert not np.isnan(ours).any()
        assert_same_bits(ours, libm_haversine(*geographic))
        # NumPy's vectorised arcsin may differ from the C library's by 1 ulp; the final
        # product by the diameter can make that 2.
        np.testing.assert_array_max_ulp(ours, numpy_haversine(*geographic), maxulp=2)
        lons, lats = geographic[0], geographic[1]
        for cx, cy in [(12.5, 47.25), (-179.9, -89.5), (0.0, np.nan), (np.inf, 10.0)]:
            # Measured from the centre: it is point 1 of the formula.
            ours = Engine.haversine_distance_to(lons, lats, cx, cy)
            assert_same_bits(ours, libm_haversine(cx, cy, lons, lats))
            np.testing.assert_array_max_ulp(ours, numpy_haversine(cx, cy, lons, lats), maxulp=2)

    def test_haversine_of_points_closer_than_its_squares_reach(self, rng):
        # Scattered among ordinary pairs: points 1e-165 degrees or less apart on the equator or
        # a meridian, whose squared sines underflow to nothing; at such angles sin and asin are
        # the identity, so the distance is the angle times the radius.
        lon1, lat1, lon2, lat2 = (rng.uniform(-60, 60, N) for _ in range(4))
        tiny = rng.choice(N, 50, replace=False)
        gap = rng.uniform(1e-200, 1e-165, 50)
        on_meridian = np.arange(50) % 2 == 1
        lon1[tiny], lat1[tiny] = 0.0, 0.0
        lon2[tiny], lat2[tiny] = np.where(on_meridian, 0.0, gap), np.where(on_meridian, gap, 0.0)
        expected = np.array([DIAMETER * ((g * K) * 0.5) for g in gap])
        ours = Engine.haversine_distance(lon1, lat1, lon2, lat2)
        np.testing.assert_allclose(ours[tiny], expected, rtol=1e-12, atol=0)
        rest = np.setdiff1d(np.arange(N), tiny)
        assert_same_bits(ours[rest], libm_haversine(lon1[rest], lat1[rest], lon2[rest], lat2[rest]))
        to = Engine.haversine_distance_to(lon2, lat2, 0.0, 0.0)
        np.testing.assert_allclose(to[tiny], expected, rtol=1e-12, atol=0)


def test_documented_values_and_argument_forms():
    a = np.array
    assert Engine.euclidean_distance(a([0.0]), a([0.0]), a([3.0]), a([4.0]))[0] == 5.0
    d = Engine.haversine_distance(a([0.0, 7.0, 0.0]), a([0.0, 8.0, 0.0]), a([0.0, 7.0, 180.0]), a([1.0, 8.0, 0.0]))
    assert d.tolist() == [math.asin(math.sin(0.5 * K)) * DIAMETER, 0.0, HALF_CIRCUMFERENCE]
    # NaN is half the circumference for haversine (the square root is clamped), NaN for euclidean.
    assert Engine.haversine_distance_to(a([np.nan]), a([0.0]), 0.0, 0.0)[0] == HALF_CIRCUMFERENCE
    assert Engine.haversine_distance(a([0.0]), a([0.0]), a([0.0]), a([np.nan]))[0] == HALF_CIRCUMFERENCE
    assert np.isnan(Engine.euclidean_distance_to(a([np.nan]), a([0.0]), 0.0, 0.0)[0])
    e = np.empty(0)
    for out in (Engine.euclidean_distance(e, e, e, e), Engine.haversine_distance(e, e, e, e),
                Engine.euclidean_distance_to(e, e, 1.0, 2.0), Engine.haversine_distance_to(e, e, 1.0, 2.0)):
        assert out.dtype == np.float64 and out.shape == (0,)
    # Results are fresh writable arrays; inputs stay untouched.
    xs = np.arange(5.0)
    xs.setflags(write=False)
    out = Engine.euclidean_distance_to(xs, xs, 0.0, 0.0)
    out[:] = -1.0
    assert np.array_equal(xs, np.arange(5.0)) and not np.shares_memory(out, xs)
    # The centre accepts what float accepts; keywords are the documented names.
    for cx in (0, np.float64(0.0), Fraction(0), np.int32(0)):
        assert Engine.euclidean_distance_to(a([3.0]), a([4.0]), cx, 0.0)[0] == 5.0
    for bad in ("0", None, [0.0]):
        with pytest.raises(TypeError):
            Engine.euclidean_distance_to(xs, xs, bad, 0.0)
        with pytest.raises(TypeError):
            Engine.haversine_distance_to(xs, xs, 0.0, bad)
    one = a([1.0])
    assert Engine.haversine_distance(lons1=one, lats1=one, lons2=one, lats2=one)[0] == 0.0
    assert Engine.euclidean_distance(xs1=one, ys1=one, xs2=one, ys2=one)[0] == 0.0
    assert Engine.euclidean_distance_to(xs=one, ys=one, cx=1.0, cy=1.0)[0] == 0.0
    assert Engine.haversine_distance_to(lons=one, lats=one, cx=1.0, cy=1.0)[0] == 0.0


LENGTHS = "all coordinate arrays must have the same length"


@pytest.mark.parametrize("fn,names,length_message", [
    (Engine.euclidean_distance, ["xs1", "ys1", "xs2", "ys2"], LENGTHS),
    (Engine.haversine_distance, ["lons1", "lats1", "lons2", "lats2"], LENGTHS),
    (Engine.euclidean_distance_to, ["xs", "ys"], "xs and ys must have the same length"),
    (Engine.haversine_distance_to, ["lons", "lats"], "longitudes and latitudes must have the same length"),
])
def test_checks_in_order(fn, names, length_message):
    def call(arrays):
        return fn(*arrays) if len(names) == 4 else fn(*arrays, 0.0, 0.0)

    for pos, name in enumerate(names):
        # The first strided array is named, not a later strided one or one of another length.
        arrays = [np.arange(6.0)] * pos + [np.arange(12.0)[::2]] + [np.arange(3.0)[::-1]] * (len(names) - pos - 1)
        with pytest.raises(ValueError, match=f"^{name} must be a contiguous float64 array$"):
            call(arrays)
        for other in (np.arange(5.0), np.empty(0)):
            with pytest.raises(ValueError, match=f"^{length_message}$"):
                call([np.arange(6.0)] * pos + [other] + [np.arange(6.0)] * (len(names) - pos - 1))
        # Wrong dtype, dimension, byte order or type comes before every other check.
        for bad in [np.arange(3, dtype=np.float32), np.arange(3), np.zeros((3, 1)), np.arange(3.0).astype(">f8"),
                    [1.0, 2.0, 3.0], None]:
            with pytest.raises(TypeError):
                call([np.arange(12.0)[::2]] * pos + [bad] + [np.arange(12.0)[::2]] * (len(names) - pos - 1))
    read_only = np.arange(4.0)
    read_only.setflags(write=False)
    assert call([read_only] * len(names)).shape == (4,)
    assert call([np.arange(10.0)[::5][:1]] * len(names)).shape == (1,)
