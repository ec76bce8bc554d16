#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dsp/FilterIIR.h"
#include "dsp/Kernels.h"
#include "dsp/gasdev.h"

// Every fast kernel against its plain loop, bit for bit, on lengths around the block sizes and
// the FIR length, with the values that make rounding and signed zeros matter.

namespace {

using Samples = std::vector<double>;

const uint32_t lengths[] = {0, 1, 7, 8, 31, 32, 99, 100, 101, 131, 132, 133, 1000 + 7};

bool SameBits(const Samples& a, const Samples& b) {
    // memcmp must not be given the null data() of empty vectors, even for zero bytes.
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Irregular values of mixed magnitude, with signed zeros and subnormals sprinkled in.
Samples Random(uint32_t length, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Samples v(length);
    for (uint32_t i = 0; i < length; i++) {
        const double x = u(rng);
        switch (rng() % 16) {
            case 0:
                v[i] = 0.0;
                break;
            case 1:
                v[i] = -0.0;
                break;
            case 2:
                v[i] = x * 1e-310;
                break;
            default:
                v[i] = x * static_cast<double>(1 + rng() % 1000);
        }
    }
    return v;
}

// Taps like the band filters': a window of even length centred on tap 50, zeros outside it.
Samples Taps(uint32_t window, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(-0.1, 0.1);
    Samples h(100, 0.0);
    for (uint32_t j = 50 - window / 2; j < 50 + window / 2; j++) {
        h[j] = u(rng);
    }
    return h;
}

class KernelEquivalence : public ::testing::Test {
protected:
    std::mt19937_64 rng{20240611};
};

TEST_F(KernelEquivalence, ConvolveAndConvolveAdd) {
    for (uint32_t window : {100u, 62u, 14u, 0u}) {
        const Samples h = Taps(window, rng);
        for (uint32_t length : lengths) {
            const Samples x = Random(length, rng);
            Samples fast(length, 1.0), plain(length, 2.0);
            fast_kernels::Convolve(h.data(), x.data(), fast.data(), length);
            reference_kernels::Convolve(h.data(), x.data(), plain.data(), length);
            EXPECT_TRUE(SameBits(fast, plain)) << "Convolve, window " << window << ", " << length;

            Samples sumFast = Random(length, rng);
            Samples sumPlain = sumFast;
            fast_kernels::ConvolveAdd(h.data(), x.data(), sumFast.data(), length);
            reference_kernels::ConvolveAdd(h.data(), x.data(), sumPlain.data(), length);
            EXPECT_TRUE(SameBits(sumFast, sumPlain))
                << "ConvolveAdd, window " << window << ", " << length;
        }
    }
}

TEST_F(KernelEquivalence, QuadratureMagnitude) {
    for (uint32_t window : {100u, 62u, 14u}) {
        const Samples hs = Taps(window - 2, rng);  // the sine's first tap is 0
        const Samples hc = Taps(window, rng);
        for (uint32_t length : lengths) {
            const Samples x = Random(length, rng);
            Samples fast(length, 1.0), plain(length, 2.0);
            fast_kernels::QuadratureMagnitude(hs.data(), hc.data(), x.data(), fast.data(), length);
            reference_kernels::QuadratureMagnitude(hs.data(), hc.data(), x.data(), plain.data(),
                                                   length);
            EXPECT_TRUE(SameBits(fast, plain)) << "window " << window << ", length " << length;
        }
    }
}

TEST_F(KernelEquivalence, InfiniteInputReachesEveryOutputItsZeroTapsTouch) {
    // inf * 0 is NaN: a short window must not hide an infinity behind its zero taps.
    const Samples h = Taps(14, rng);
    Samples x = Random(1007, rng);
    x[500] = std::numeric_limits<double>::infinity();
    Samples fast(x.size()), plain(x.size());
    fast_kernels::Convolve(h.data(), x.data(), fast.data(), 1007);
    reference_kernels::Convolve(h.data(), x.data(), plain.data(), 1007);
    EXPECT_TRUE(SameBits(fast, plain));
    EXPECT_TRUE(std::isnan(fast[599]));  // tap 99, outside the window

    fast_kernels::QuadratureMagnitude(h.data(), h.data(), x.data(), fast.data(), 1007);
    reference_kernels::QuadratureMagnitude(h.data(), h.data(), x.data(), plain.data(), 1007);
    EXPECT_TRUE(SameBits(fast, plain));
}

TEST_F(KernelEquivalence, FilterChannels) {
    const LP_FilterIIR lp1(1, 20000.0, 300.0);
    const LP_FilterIIR lp2(2, 20000.0, 750.0);
    const LP_FilterIIR lp4(4, 20000.0, 350.0);
    const BP_FilterIIR bp3(3, 20000.0, 300.0, 396.411);
    for (const FilterIIR* f :
         {static_cast<const FilterIIR*>(&lp1), static_cast<const FilterIIR*>(&lp2),
          static_cast<const FilterIIR*>(&lp4), static_cast<const FilterIIR*>(&bp3)}) {
        for (uint32_t count : {1u, 3u, 8u, 12u, 13u}) {
            for (uint32_t length : {0u, 1u, 2u, 7u, 8u, 99u, 100u, 101u, 127u, 128u, 129u, 1007u}) {
                std::vector<Samples> fast(count), plain(count);
                std::vector<double*> pf(count), pp(count);
                for (uint32_t c = 0; c < count; c++) {
                    fast[c] = Random(length, rng);
                    plain[c] = fast[c];
                    pf[c] = fast[c].data();
                    pp[c] = plain[c].data();
                }
                fast_kernels::FilterChannels(f->GetA(), f->GetB(), f->GetNumCoeffs(), pf.data(),
                                             count, length);
                reference_kernels::FilterChannels(f->GetA(), f->GetB(), f->GetNumCoeffs(),
                                                  pp.data(), count, length);
                for (uint32_t c = 0; c < count; c++) {
                    EXPECT_TRUE(SameBits(fast[c], plain[c]))
                        << f->GetNumCoeffs() << " coefficients, " << count << " channels, length "
                        << length << ", channel " << c;
                }
            }
        }
    }
}

TEST_F(KernelEquivalence, MixChannels) {
    for (uint32_t count : {1u, 2u, 12u, 22u, 50u}) {
        std::vector<double> w(count);
        w[0] = 1.0;
        for (uint32_t d = 1; d < count; d++) {
            w[d] = w[d - 1] * 0.25573;
        }
        for (uint32_t length : lengths) {
            std::vector<Samples> fast(count), plain(count);
            std::vector<double*> pf(count), pp(count);
            for (uint32_t c = 0; c < count; c++) {
                fast[c] = Random(length, rng);
                plain[c] = fast[c];
                pf[c] = fast[c].data();
                pp[c] = plain[c].data();
            }
            fast_kernels::MixChannels(w.data(), pf.data(), count, length);
            reference_kernels::MixChannels(w.data(), pp.data(), count, length);
            for (uint32_t c = 0; c < count; c++) {
                EXPECT_TRUE(SameBits(fast[c], plain[c]))
                    << count << " channels, length " << length << ", channel " << c;
            }
        }
    }
}

TEST_F(KernelEquivalence, PulseTrain) {
    for (uint32_t length : {0u, 1u, 500u, 501u, 502u, 503u, 1007u, 5000u}) {
        // Coarse values, so that flat tops and dense maxima both occur.
        Samples x(length);
        for (double& v : x) {
            v = static_cast<double>(rng() % 5);
        }
        Samples fast(length, 3.0), plain(length, 4.0);
        fast_kernels::PulseTrain(x.data(), fast.data(), length);
        reference_kernels::PulseTrain(x.data(), plain.data(), length);
        EXPECT_TRUE(SameBits(fast, plain)) << "length " << length;
    }
}

const uint32_t fillCounts[] = {3, 0, 1, 1000 + 7, 2, 512, 513, 99};

Samples OneByOne(RandomState state) {
    Samples v;
    for (uint32_t count : fillCounts) {
        for (uint32_t i = 0; i < count + 1; i++) {
            v.push_back(randn(state));
        }
    }
    return v;
}

// Blocks of odd and even lengths, each followed by a single draw: a deviate left over by one
// must be the next one's first.
Samples InBlocks(RandomState state) {
    Samples v;
    for (uint32_t count : fillCounts) {
        Samples block(count);
        fast_kernels::Randn(state, block.data(), count);
        v.insert(v.end(), block.begin(), block.end());
        v.push_back(randn(state));
    }
    return v;
}

TEST(RandnEquivalence, BlockFillContinuesTheSequenceExactly) {
    RandomState state;
    randn(state);  // start from an initialised generator holding a spare deviate
    const Samples single = OneByOne(state);
    ASSERT_EQ(single.size(), 2145u);
    EXPECT_TRUE(SameBits(single, InBlocks(state)));
    // The plain loop and a seeded sequence too.
    RandomState seeded = SeededRandomState(12345);
    Samples plain(777);
    Samples fast(777);
    RandomState a = seeded;
    RandomState b = seeded;
    reference_kernels::Randn(a, plain.data(), 777);
    fast_kernels::Randn(b, fast.data(), 777);
    EXPECT_TRUE(SameBits(plain, fast));
}

}  // namespace
