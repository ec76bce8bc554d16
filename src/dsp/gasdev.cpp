#include "dsp/gasdev.h"

#include <cmath>

namespace {

const int32_t multiplier = 16807;
const int32_t modulus = 2147483647;      // 2^31 - 1
const int32_t schrageQuotient = 127773;  // modulus / multiplier
const int32_t schrageRemainder = 2836;   // modulus % multiplier
const int tableSize = 32;
const int32_t tableDivisor = 1 + (modulus - 1) / tableSize;
const float unitScale = 4.656612873077393e-10f;  // 1/modulus in single precision, exactly 2^-31
const double ceilingTest = 0.99999988;           // keeps results strictly below 1
const float ceiling = static_cast<float>(ceilingTest);

// One step x <- multiplier * x mod modulus, for 0 < x <= 2^31 - 1, without leaving 32 bits.
void Step(int32_t* state) {
    const int32_t k = *state / schrageQuotient;
    *state = multiplier * (*state - k * schrageQuotient) - schrageRemainder * k;
    if (*state < 0) {
        *state += modulus;
    }
}

}  // namespace

float ran1(int32_t* seed) {
    static int32_t iy = 0;
    static int32_t iv[tableSize];

    if (*seed <= 0 || iy == 0) {
        if (*seed == INT32_MIN) {
            // -2^31 has no 32-bit negation; 2^31 is congruent to 1 modulo 2^31 - 1.
            *seed = 1;
        } else if (*seed < 0) {
            *seed = -*seed;
        } else {
            *seed = 1;
        }
        // The first eight steps warm the generator up and are discarded.
        for (int j = tableSize + 7; j >= 0; j--) {
            Step(seed);
            if (j < tableSize) {
                iv[j] = *seed;
            }
        }
        iy = iv[0];
    }
    Step(seed);
    const int32_t j = iy / tableDivisor;
    iy = iv[j];
    iv[j] = *seed;
    const float temp = static_cast<float>(iy) * unitScale;
    if (static_cast<double>(temp) > ceilingTest) {
        return ceiling;
    }
    return temp;
}

float gasdev(int32_t* seed) {
    static int iset = 0;
    static float gset;

    if (iset) {
        iset = 0;
        return gset;
    }
    float u1;
    float u2;
    float rsq;
    do {
        u1 = static_cast<float>(2.0 * static_cast<double>(ran1(seed)) - 1.0);
        u2 = static_cast<float>(2.0 * static_cast<double>(ran1(seed)) - 1.0);
        rsq = u1 * u1 + u2 * u2;
    } while (rsq >= 1.0f || rsq == 0.0f);
    const double r = static_cast<double>(rsq);
    const float fac = static_cast<float>(std::sqrt(-2.0 * std::log(r) / r));
    gset = u1 * fac;
    iset = 1;
    return u2 * fac;
}

double randn() {
    static int32_t s = 0;
    return static_cast<double>(gasdev(&s));
}
