// The subnormal shortcuts of the fast loops (fixed points, repeated inputs) against the plain
// loops, on signals that enter, leave and re-enter silence: digital zeros of either sign, a
// constant subnormal value, and the subnormal decay of a filter left alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "dsp/FilterIIR.h"
#include "dsp/Kernels.h"
#include "dsp/LinearInterpolator.h"
#include "dsp/Normalizer.h"

namespace {

using Samples = std::vector<double>;

bool SameBits(const Samples& a, const Samples& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Sound, then silence of one kind, then sound, and so on; `kind` picks the silences.
Samples Gappy(uint32_t length, int kind, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const double tiny = 4.9406564584124654e-324 * 3;
    Samples v(length);
    for (uint32_t i = 0; i < length; i++) {
        const uint32_t phase = (i / 700) % 4;
        if (phase == 0 || phase == 2) {
            v[i] = u(rng) * std::sin(i * 0.01);
            continue;
        }
        switch ((kind + phase) % 5) {
            case 0:
                v[i] = 0.0;
                break;
            case 1:
                v[i] = -0.0;
                break;
            case 2:
                v[i] = (rng() & 1) ? 0.0 : -0.0;
                break;
            case 3:
                v[i] = tiny;
                break;
            default:
                v[i] = (i / 50) % 2 ? -tiny : 0.0;
                break;
        }
    }
    return v;
}

// The same sound run through a low-pass, whose output decays through subnormals in the gaps
// and settles there.
Samples Decaying(uint32_t length, int kind, std::mt19937_64& rng) {
    Samples x = Gappy(length, kind, rng);
    for (double& s : x) {
        s *= 1e-300;
    }
    Samples y(length);
    const LP_FilterIIR lp(2, 20000.0, 900.0);
    FilterIIR::Apply(lp.GetA(), lp.GetB(), lp.GetNumCoeffs(), x.data(), y.data(), length);
    return y;
}

std::vector<Samples> Inputs(std::mt19937_64& rng) {
    std::vector<Samples> inputs;
    for (int kind = 0; kind < 5; kind++) {
        for (uint32_t length : {150u, 1433u, 4000u}) {
            inputs.push_back(Gappy(length, kind, rng));
            inputs.push_back(Decaying(length, kind, rng));
        }
    }
    return inputs;
}

Samples Taps(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(-0.1, 0.1);
    Samples h(100, 0.0);
    for (uint32_t j = 20; j < 80; j++) {
        h[j] = u(rng);
    }
    return h;
}

class Shortcuts : public ::testing::Test {
protected:
    std::mt19937_64 rng{77};
};

}  // namespace

TEST_F(Shortcuts, FirKernelsMatchThePlainLoops) {
    const Samples hs = Taps(rng);
    const Samples hc = Taps(rng);
    for (const Samples& x : Inputs(rng)) {
        const uint32_t n = static_cast<uint32_t>(x.size());
        Samples a(n), b(n);
        fast_kernels::Convolve(hs.data(), x.data(), a.data(), n);
        reference_kernels::Convolve(hs.data(), x.data(), b.data(), n);
        EXPECT_TRUE(SameBits(a, b)) << "Convolve, length " << n;
        Samples sa = Gappy(n, 3, rng);
        Samples sb = sa;
        fast_kernels::ConvolveAdd(hs.data(), x.data(), sa.data(), n);
        reference_kernels::ConvolveAdd(hs.data(), x.data(), sb.data(), n);
        EXPECT_TRUE(SameBits(sa, sb)) << "ConvolveAdd, length " << n;
        fast_kernels::QuadratureMagnitude(hs.data(), hc.data(), x.data(), a.data(), n);
        reference_kernels::QuadratureMagnitude(hs.data(), hc.data(), x.data(), b.data(), n);
        EXPECT_TRUE(SameBits(a, b)) << "QuadratureMagnitude, length " << n;
    }
}

TEST_F(Shortcuts, FiltersAtFixedPointsMatchThePlainLoops) {
    const LP_FilterIIR lp2(2, 20000.0, 750.0);
    const LP_FilterIIR lp4(4, 20000.0, 350.0);
    const BP_FilterIIR bp3(3, 20000.0, 300.0, 396.411);
    const std::vector<Samples> inputs = Inputs(rng);
    for (const FilterIIR* f :
         {static_cast<const FilterIIR*>(&lp2), static_cast<const FilterIIR*>(&lp4),
          static_cast<const FilterIIR*>(&bp3)}) {
        for (uint32_t count : {1u, 5u, 9u}) {
            for (size_t k = 0; k + count <= inputs.size(); k += 6) {
                const uint32_t n = static_cast<uint32_t>(inputs[k].size());
                std::vector<Samples> fast, plain;
                std::vector<double*> pf, pp;
                for (uint32_t c = 0; c < count; c++) {
                    Samples x = inputs[(k + c * 2) % inputs.size()];
                    x.resize(n, 0.0);
                    fast.push_back(x);
                    plain.push_back(x);
                }
                for (uint32_t c = 0; c < count; c++) {
                    pf.push_back(fast[c].data());
                    pp.push_back(plain[c].data());
                }
                fast_kernels::FilterChannels(f->GetA(), f->GetB(), f->GetNumCoeffs(), pf.data(),
                                             count, n);
                reference_kernels::FilterChannels(f->GetA(), f->GetB(), f->GetNumCoeffs(),
                                                  pp.data(), count, n);
                for (uint32_t c = 0; c < count; c++) {
                    EXPECT_TRUE(SameBits(fast[c], plain[c]))
                        << f->GetNumCoeffs() << " coefficients, channel " << c << ", length " << n;
                }
                // Run, which goes through the kernel, against Apply.
                Samples y(n);
                FilterIIR::Apply(f->GetA(), f->GetB(), f->GetNumCoeffs(), inputs[k].data(),
                                 y.data(), n);
                Signal in(n, 20000);
                std::copy(inputs[k].begin(), inputs[k].end(), in.GetSamples());
                std::unique_ptr<Signal> out(const_cast<FilterIIR*>(f)->Run(&in));
                EXPECT_TRUE(SameBits(y, Samples(out->GetSamples(), out->GetSamples() + n)));
            }
        }
    }
}

TEST_F(Shortcuts, MixingMatchesThePlainLoop) {
    const std::vector<Samples> inputs = Inputs(rng);
    for (uint32_t count : {1u, 4u, 12u}) {
        const double w[12] = {1.0,  0.3,  0.09, 0.027, 0.0081, 0.00243,
                              7e-4, 2e-4, 6e-5, 2e-5,  5e-6,   1e-6};
        const uint32_t n = 4000;
        std::vector<Samples> fast, plain;
        for (uint32_t c = 0; c < count; c++) {
            Samples x = inputs[(c * 5 + 2) % inputs.size()];
            x.resize(n, x.empty() ? 0.0 : x.back());
            fast.push_back(x);
            plain.push_back(x);
        }
        std::vector<double*> pf, pp;
        for (uint32_t c = 0; c < count; c++) {
            pf.push_back(fast[c].data());
            pp.push_back(plain[c].data());
        }
        fast_kernels::MixChannels(w, pf.data(), count, n);
        reference_kernels::MixChannels(w, pp.data(), count, n);
        for (uint32_t c = 0; c < count; c++) {
            EXPECT_TRUE(SameBits(fast[c], plain[c])) << count << " channels, channel " << c;
        }
    }
}

TEST_F(Shortcuts, ScalingAndInterpolationMatchThePlainLoops) {
    for (const Samples& x : Inputs(rng)) {
        const uint32_t n = static_cast<uint32_t>(x.size());
        for (double g : {0.75, 3.0, 1e300}) {
            Samples y(n);
            Normalizer::Scale(x.data(), y.data(), n, g);
            Samples plain(n);
            for (uint32_t i = 0; i < n; i++) {
                plain[i] = x[i] * g;
            }
            EXPECT_TRUE(SameBits(y, plain));
        }
        Signal in(n, 44100);
        std::copy(x.begin(), x.end(), in.GetSamples());
        for (uint32_t m : {n / 2 + 1, n * 2 + 3, n * 3 / 7 + 2}) {
            LinearInterpolator li;
            std::unique_ptr<Signal> out(li.Run(&in, m));
            Samples plain(m);
            plain[0] = x[0];
            plain[m - 1] = x[n - 1];
            const double step = static_cast<double>(n) / static_cast<double>(m);
            for (uint32_t i = 1; i + 1 < m; i++) {
                const double p = static_cast<double>(i) * step;
                const uint32_t c = static_cast<uint32_t>(std::ceil(p));
                plain[i] =
                    c >= n ? x[n - 1] : x[c] + (static_cast<double>(c) - p) * (x[c - 1] - x[c]);
            }
            EXPECT_TRUE(SameBits(Samples(out->GetSamples(), out->GetSamples() + m), plain));
        }
    }
}
