// The page's sin, cos and tan (WebAssembly build only), correctly rounded: the double nearest
// the exact value. Emscripten's C library (musl) gives fdlibm's results, which differ in the
// last bit from the native build's C library (glibc) for about 3 per cent of the engine's
// arguments; glibc's own results are the correctly rounded ones for all but about 0.1 per cent.
// These definitions, in an object file of the module itself, are linked instead of the C
// library's archive members (a link with -Wl,--trace-symbol=sin shows it).
//
// sin and cos first try a fast evaluation: x is reduced by pi/2 in double-double arithmetic,
// the remainder r by a multiple a of 1/256 from a table of sin(a) and cos(a), and sin(r) or
// cos(r) is evaluated to about 2^-70 relative to the result. Unless that value lies within
// 2^-63 (relative) of a rounding boundary, its rounding is the correctly rounded result. The
// other cases (about 1 in 400 arguments; |x| below 2^-20 or above 2^20; a remainder below
// 2^-18), and tan, which the engine calls a few times per filter design, are computed in
// 128-bit long double (113-bit mantissa, musl's sinl, cosl and tanl) and rounded once to
// double, which is correctly rounded unless the exact value lies within about 2^-110 of a
// rounding boundary. The table is computed the same way on first use.
//
// Compiled with -DCIHEAR_LIBM_CHECK (natively, with libquadmath for the 128-bit arithmetic),
// the functions are named page_sin, page_cos and page_tan instead, for checking them against
// a multiple-precision library outside the page.
#include <math.h>
#include <stdint.h>

#ifdef CIHEAR_LIBM_CHECK
#include <quadmath.h>
#define CIHEAR_LIBM_NAME(name) page_##name
// Called with the fast evaluation's value (hi + lo) before its rounding test.
extern "C" void (*page_libm_trace)(double hi, double lo);
#else
#define CIHEAR_LIBM_NAME(name) name
#endif

namespace {

#ifdef CIHEAR_LIBM_CHECK
using Wide = __float128;
Wide WideSin(Wide x) {
    return sinq(x);
}
Wide WideCos(Wide x) {
    return cosq(x);
}
Wide WideTan(Wide x) {
    return tanq(x);
}
#else
static_assert(sizeof(long double) == 16, "long double is IEEE binary128 in WebAssembly");
using Wide = long double;
Wide WideSin(Wide x) {
    return sinl(x);
}
Wide WideCos(Wide x) {
    return cosl(x);
}
Wide WideTan(Wide x) {
    return tanl(x);
}
#endif

// pi/2 = kPio2_1 + kPio2_2 + kPio2_3 + kPio2_4 within 2^-160. The first three have at most 33
// significant bits, so k * kPio2_i is exact for |k| < 2^20.
const double kPio2_1 = 0x1.921fb544p+0;
const double kPio2_2 = 0x1.0b4611a6p-34;
const double kPio2_3 = 0x1.3198a2ep-69;
const double kPio2_4 = 0x1.b839a252049c1p-104;
const double kTwoOverPi = 0x1.45f306dc9c883p-1;

// A value hi + lo held as two doubles.
struct Pair {
    double hi, lo;
};

// a + b exactly (Knuth).
inline Pair TwoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// a * b exactly, without a fused multiply-add (Dekker, Veltkamp's split).
inline Pair Split(double a) {
    const double c = 134217729.0 * a;  // 2^27 + 1
    const double hi = c - (c - a);
    return {hi, a - hi};
}

inline Pair TwoProduct(double a, double b) {
    const double p = a * b;
    const Pair x = Split(a);
    const Pair y = Split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

// sin(j/256) and cos(j/256), j = 0..kTableSize-1, each as hi + lo (within 2^-110).
// pi/4 * 256 = 201.06; the reduced argument can exceed pi/4 by a few ulps.
const int kTableSize = 203;

struct Table {
    Pair sin[kTableSize];
    Pair cos[kTableSize];
};

Pair Rounded(Wide v) {
    const double hi = static_cast<double>(v);
    return {hi, static_cast<double>(v - static_cast<Wide>(hi))};
}

const Table& SinCosTable() {
    static const Table table = [] {
        Table t;
        for (int j = 0; j < kTableSize; j++) {
            const Wide a = static_cast<Wide>(j) / 256;
            t.sin[j] = Rounded(WideSin(a));
            t.cos[j] = Rounded(WideCos(a));
        }
        return t;
    }();
    return table;
}

// sin(x) (cosine false) or cos(x), correctly rounded, into *y; false when the fast evaluation
// cannot tell the rounding (the caller then computes it in 128 bits).
bool FastSinCos(double x, bool cosine, double* y) {
    const double ax = fabs(x);
    if (!(ax >= 0x1p-20 && ax <= 0x1p20)) {
        return false;  // also not a number, infinite
    }
    // x = k pi/2 + r, r = rh + rl, |r| <= pi/4 (a few ulps more when x k is rounded to the
    // other side). x - k kPio2_1 is exact (x and k kPio2_1 are within a factor 2 of each
    // other, or k = 0); the error of r is below 2^-104 |r| + 2^-117.
    const double k = nearbyint(x * kTwoOverPi);
    const double t = x - k * kPio2_1;
    const Pair s1 = TwoSum(t, -(k * kPio2_2));
    const Pair s2 = TwoSum(s1.hi, -(k * kPio2_3));
    const double rest = (s1.lo + s2.lo) - k * kPio2_4;
    const double rh = s2.hi + rest;
    const double rl = rest - (rh - s2.hi);
    if (k != 0.0 && fabs(rh) < 0x1p-18) {
        return false;  // x close to a multiple of pi/2: the relative error of r is too large
    }
    // r = a + th + rl, a = j/256, |th| <= 1/512; th is exact.
    const double jd = nearbyint(rh * 256.0);
    const double th = rh - jd * (1.0 / 256.0);
    const int j = static_cast<int>(jd);
    // cos(th + rl) - 1 = cm within 2^-71 of it, and sin(th + rl) = th + sl within 2^-80 (the
    // terms left out are below 2^-86). cm is only ever multiplied by u below, which is at most
    // about twice the result, so its error counts relative to the result.
    const double h2 = th * th;
    const double cm = -0.5 * h2 + (h2 * h2 * (1.0 / 24.0 - h2 * (1.0 / 720.0)) - rl * th);
    const double sl =
        rl + (th * h2 * (-1.0 / 6.0 + h2 * (1.0 / 120.0 - h2 * (1.0 / 5040.0))) - 0.5 * rl * h2);
    // sin(x) = +-sin(r) or +-cos(r) by the quadrant; cos(x) = sin(x + pi/2).
    const int n = static_cast<int>(static_cast<int64_t>(k) & 3) + (cosine ? 1 : 0);
    const Table& table = SinCosTable();
    const int index = j < 0 ? -j : j;
    const double sign = j < 0 ? -1.0 : 1.0;
    const Pair sa = {sign * table.sin[index].hi, sign * table.sin[index].lo};
    const Pair ca = table.cos[index];
    // sin(a + t) = sin a cos t + cos a sin t, cos(a + t) = cos a cos t - sin a sin t:
    // u cos t + v sin t.
    Pair u, v;
    if (n & 1) {
        u = ca;
        v = {-sa.hi, -sa.lo};
    } else {
        u = sa;
        v = ca;
    }
    const Pair p = TwoProduct(v.hi, th);
    const Pair h = TwoSum(u.hi, p.hi);
    const double l = h.lo + p.lo + u.lo + v.lo * th + v.hi * sl + u.hi * cm;
    // h.hi + l is within about 2^-70 |h.hi| of the exact value; when both ends of a band of
    // 2^-63 |h.hi| around it round alike, so does the exact value.
#ifdef CIHEAR_LIBM_CHECK
    if (page_libm_trace) {
        page_libm_trace((n & 2) ? -h.hi : h.hi, (n & 2) ? -l : l);
    }
#endif
    const double e = 0x1p-63 * fabs(h.hi);
    const double low = h.hi + (l - e);
    const double high = h.hi + (l + e);
    if (low != high) {
        return false;
    }
    *y = (n & 2) ? -low : low;
    return true;
}

}  // namespace

extern "C" {

double CIHEAR_LIBM_NAME(sin)(double x) {
    double y;
    if (FastSinCos(x, false, &y)) {
        return y;
    }
    return static_cast<double>(WideSin(static_cast<Wide>(x)));
}

double CIHEAR_LIBM_NAME(cos)(double x) {
    double y;
    if (FastSinCos(x, true, &y)) {
        return y;
    }
    return static_cast<double>(WideCos(static_cast<Wide>(x)));
}

double CIHEAR_LIBM_NAME(tan)(double x) {
    return static_cast<double>(WideTan(static_cast<Wide>(x)));
}

// Unused by the engine's own code today; defined so that a sin and cos of one argument,
// should the compiler ever merge them, still round like the two above.
void CIHEAR_LIBM_NAME(sincos)(double x, double* s, double* c) {
    *s = CIHEAR_LIBM_NAME(sin)(x);
    *c = CIHEAR_LIBM_NAME(cos)(x);
}

}  // extern "C"
