#include "dsp/gasdev.h"

#include <algorithm>
#include <cmath>

namespace {

const int32_t multiplier = 16807;
const int32_t modulus = 2147483647;  // 2^31 - 1
const int tableSize = 32;
const int32_t tableDivisor = 1 + (modulus - 1) / tableSize;
const float unitScale = 4.656612873077393e-10f;  // 1/modulus in single precision, exactly 2^-31
const double ceilingTest = 0.99999988;           // keeps results strictly below 1
const float ceiling = static_cast<float>(ceilingTest);

// One step x <- multiplier * x mod modulus. Schrage's factorisation keeps this within 32 bits;
// the 64-bit product and the folding of 2^31 = 1 (mod 2^31 - 1) give the same residue for every
// state the generator can hold (1 .. 2^31 - 1; 2^31 - 1 itself goes to 0 either way) with a
// shorter chain of dependent operations, which is what bounds the speed of the draws.
inline int32_t Step(int32_t x) {
    const uint64_t product = static_cast<uint64_t>(x) * multiplier;
    uint64_t r = (product & modulus) + (product >> 31);
    if (r >= static_cast<uint64_t>(modulus)) {
        r -= modulus;
    }
    return static_cast<int32_t>(r);
}

void Initialise(RandomState& r, int32_t* seed) {
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
        *seed = Step(*seed);
        if (j < tableSize) {
            r.iv[j] = *seed;
        }
    }
    r.iy = r.iv[0];
}

// One draw of an initialised generator, on copies of its state that a run of draws can keep in
// registers. The state stays positive and iy non-zero, so no later draw initialises again.
inline float Draw(int32_t* iv, int32_t& state, int32_t& last) {
    state = Step(state);
    const int32_t j = last / tableDivisor;
    last = iv[j];
    iv[j] = state;
    const float temp = static_cast<float>(last) * unitScale;
    if (static_cast<double>(temp) > ceilingTest) {
        return ceiling;
    }
    return temp;
}

struct Uniforms {
    Uniforms(RandomState& r, int32_t* seed) : r(r), seed(seed) {
        if (*seed <= 0 || r.iy == 0) {
            Initialise(r, seed);
        }
        state = *seed;
        last = r.iy;
    }
    ~Uniforms() {
        *seed = state;
        r.iy = last;
    }
    float Next() { return Draw(r.iv, state, last); }

    RandomState& r;
    int32_t* seed;
    int32_t state;
    int32_t last;
};

// The polar method's pair of uniforms in the unit disc, and their squared radius.
struct DiscPoint {
    float u1;
    float u2;
    float rsq;
};

// A candidate point from the next two uniforms; it is used only inside the disc, not at 0.
inline DiscPoint Candidate(Uniforms& uniforms) {
    DiscPoint p;
    p.u1 = static_cast<float>(2.0 * static_cast<double>(uniforms.Next()) - 1.0);
    p.u2 = static_cast<float>(2.0 * static_cast<double>(uniforms.Next()) - 1.0);
    p.rsq = p.u1 * p.u1 + p.u2 * p.u2;
    return p;
}

inline bool Accepted(const DiscPoint& p) {
    return p.rsq < 1.0f && p.rsq != 0.0f;
}

inline DiscPoint NextDiscPoint(Uniforms& uniforms) {
    DiscPoint p;
    do {
        p = Candidate(uniforms);
    } while (!Accepted(p));
    return p;
}

// The polar method's scale factor sqrt(-2 ln r / r), given r and its logarithm.
inline float PolarFactor(double r, double logR) {
    return static_cast<float>(std::sqrt(-2.0 * logR / r));
}

}  // namespace

RandomState SeededRandomState(int64_t seed) {
    RandomState r;
    // Any negative state initialises the table from its magnitude; a fresh state (0) starts
    // from 1, so seeds start from 2 and never coincide with it.
    r.seed = -static_cast<int32_t>(2 + seed % (modulus - 3));
    return r;
}

float ran1(RandomState& table, int32_t* seed) {
    return Uniforms(table, seed).Next();
}

float gasdev(RandomState& r, int32_t* seed) {
    if (r.iset) {
        r.iset = 0;
        return r.gset;
    }
    DiscPoint p;
    {
        Uniforms uniforms(r, seed);
        p = NextDiscPoint(uniforms);
    }
    const double rsq = static_cast<double>(p.rsq);
    const float fac = PolarFactor(rsq, std::log(rsq));
    r.gset = p.u1 * fac;
    r.iset = 1;
    return p.u2 * fac;
}

double randn(RandomState& r) {
    return static_cast<double>(gasdev(r, &r.seed));
}

void randn_fill(RandomState& state, double* out, uint32_t count) {
    int& iset = state.iset;
    float& gset = state.gset;
    uint32_t i = 0;
    if (i < count && iset) {
        iset = 0;
        out[i++] = static_cast<double>(gset);
    }
    // The points come from one sequential generator, but turning a point into its two deviates
    // depends on nothing else: the points of a chunk are drawn first, then their logarithms,
    // then the rest of the transform, a loop over independent points that runs in vector
    // registers.
    const uint32_t chunk = 256;
    DiscPoint points[chunk];
    double r[chunk];
    double logR[chunk];
    float fac[chunk];
    // A whole chunk of factors is computed every time (a loop of fixed length vectorises
    // without a remainder loop); past the points drawn this time the values are stale but
    // harmless.
    std::fill(r, r + chunk, 1.0);
    std::fill(logR, logR + chunk, 0.0);
    while (i < count) {
        const uint32_t pairs = std::min(chunk, (count - i + 1) / 2);
        {
            Uniforms uniforms(state, &state.seed);
            // Every candidate is stored and only an accepted one kept: whether a point falls in
            // the disc is a coin toss that no branch predictor can learn.
            for (uint32_t k = 0; k < pairs;) {
                points[k] = Candidate(uniforms);
                k += Accepted(points[k]) ? 1 : 0;
            }
        }
        for (uint32_t k = 0; k < pairs; k++) {
            r[k] = static_cast<double>(points[k].rsq);
            logR[k] = std::log(r[k]);
        }
        for (uint32_t k = 0; k < chunk; k++) {
            fac[k] = PolarFactor(r[k], logR[k]);
        }
        // Each point gives u2*fac, then u1*fac; an odd count leaves the last u1*fac for the
        // next draw.
        const uint32_t whole = std::min(pairs, (count - i) / 2);
        for (uint32_t k = 0; k < whole; k++) {
            out[i + 2 * k] = static_cast<double>(points[k].u2 * fac[k]);
            out[i + 2 * k + 1] = static_cast<double>(points[k].u1 * fac[k]);
        }
        i += 2 * whole;
        if (whole < pairs) {
            out[i++] = static_cast<double>(points[whole].u2 * fac[whole]);
            gset = points[whole].u1 * fac[whole];
            iset = 1;
        }
    }
}
