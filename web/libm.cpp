// The page's sin, cos and tan (WebAssembly build only): each is computed in 128-bit long double
// (113-bit mantissa, musl's sinl/cosl/tanl) and rounded once to double, so the result is the
// correctly rounded one except where the exact value lies within about 2^-110 of a rounding
// boundary, which no argument the engine uses comes near. Emscripten's C library (musl) would
// otherwise give fdlibm's results, which differ from the C library of the native build (glibc)
// in the last bit for about 3 per cent of the engine's arguments; glibc's own results are
// correctly rounded for all but about 0.1 per cent of them. These definitions, in an object
// file of the module itself, are linked instead of the C library's archive members.
#include <math.h>

extern "C" {

double sin(double x) {
    return static_cast<double>(sinl(static_cast<long double>(x)));
}

double cos(double x) {
    return static_cast<double>(cosl(static_cast<long double>(x)));
}

double tan(double x) {
    return static_cast<double>(tanl(static_cast<long double>(x)));
}

// Unused by the engine's own code today; defined so that a sin and cos of one argument,
// should the compiler ever merge them, still round like the two above.
void sincos(double x, double* s, double* c) {
    *s = sin(x);
    *c = cos(x);
}

}  // extern "C"
