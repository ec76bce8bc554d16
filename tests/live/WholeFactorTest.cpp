// The whole-factor conversion's filter (its magnitude, its minimum phase) and the converter's
// streaming, and the delay as heard the processor reports against an impulse through it.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "live/Onset.h"
#include "live/Processor.h"
#include "live/WholeFactor.h"

namespace {

// The response of h at f (a fraction of its rate): magnitude in dB, group delay in samples.
void Response(const std::vector<double>& h, double f, double& db, double& delay) {
    std::complex<double> sum = 0, weighted = 0;
    for (size_t n = 0; n < h.size(); n++) {
        const std::complex<double> e = std::polar(h[n], -2 * M_PI * f * double(n));
        sum += e;
        weighted += double(n) * e;
    }
    db = 20 * std::log10(std::abs(sum));
    delay = (weighted / sum).real();
}

// Flat to 9 kHz, -110 dB from 11 kHz to the Nyquist frequency, and minimum phase: a group delay
// of a few samples where a linear phase would take half the filter's length (80 x factor / 2).
TEST(WholeFactorTest, FilterIsFlatSteepAndMinimumPhase) {
    for (unsigned factor : {2u, 3u, 4u}) {
        const std::vector<double> h = live::MinimumPhaseLowPass(factor);
        const double rate = 20000.0 * factor;
        double worstPass = 0, worstStop = -300, db, delay;
        for (double f = 20; f <= 9000; f += 20) {
            Response(h, f / rate, db, delay);
            worstPass = std::max(worstPass, std::fabs(db));
            // Linear phase: 2 ms. This one: at most 0.25 ms to 4 kHz, rising towards the band's
            // edge (as any filter's does).
            EXPECT_LT(delay, (f <= 4000 ? 0.25e-3 : 0.6e-3) * rate)
                << f << " Hz, factor " << factor;
        }
        for (double f = 11000; f <= rate / 2; f += 25) {
            Response(h, f / rate, db, delay);
            worstStop = std::max(worstStop, db);
        }
        EXPECT_LT(worstPass, 0.001) << factor;
        EXPECT_LT(worstStop, -110) << factor;
        EXPECT_GT(delay, 0);  // causal
    }
}

// Any split of the input into blocks gives the same output, the first samples aligned at the
// filter's peak: an impulse comes out where it went in.
TEST(WholeFactorTest, BlocksDoNotMatterAndTheOutputIsAligned) {
    for (bool up : {true, false}) {
        const unsigned factor = 2;
        std::vector<float> x(4000, 0.0f);
        x[2000] = 1;
        for (size_t i = 0; i < x.size(); i++) {
            x[i] += static_cast<float>(0.3 * std::sin(0.05 * double(i)));
        }
        live::WholeFactorConverter whole(factor, up), split(factor, up);
        std::vector<float> a(3 * x.size()), b(3 * x.size());
        a.resize(whole.Process(x.data(), x.size(), a.data(), a.size()));
        size_t written = 0;
        for (size_t at = 0, n = 1; at < x.size(); at += n, n = n % 37 + 5) {
            const size_t count = std::min(n, x.size() - at);
            written += split.Process(&x[at], count, &b[written], b.size() - written);
        }
        b.resize(written);
        EXPECT_EQ(a, b);
        const size_t expected = up ? x.size() * factor : x.size() / factor;
        EXPECT_EQ(a.size() + whole.Delay(), expected);

        std::vector<float> impulse(4000, 0.0f), y(3 * impulse.size());
        impulse[2000] = 1;
        live::WholeFactorConverter fresh(factor, up);
        y.resize(fresh.Process(impulse.data(), impulse.size(), y.data(), y.size()));
        size_t peak = 0;
        for (size_t i = 0; i < y.size(); i++) {
            peak = std::fabs(y[i]) > std::fabs(y[peak]) ? i : peak;
        }
        EXPECT_NEAR(double(peak), up ? 4000.0 : 1000.0, 1) << (up ? "up" : "down");
    }
}

// What the processor reports as the delay as heard (its latency and the simulation's filters)
// is where an impulse's response begins, to within 1 ms (a tenth of the filters' share).
TEST(HeardTest, ReportedDelayIsWhereTheResponseBegins) {
    for (double rate : {48000.0, 40000.0}) {
        for (double synchronization : {1.0, 0.0}) {
            live::ProcessorConfig config;
            config.deviceRate = rate;
            config.settings.synchronization = synchronization;
            live::Processor processor(config);
            const size_t n = config.period, calls = static_cast<size_t>(rate / n);
            const size_t at = 20 * n + 31;
            std::vector<float> in(calls * n, 0.0f), out(in.size());
            in[at] = 0.5f;
            for (size_t k = 0; k < calls; k++) {
                processor.Process(&in[k * n], &out[k * n], n);
            }
            const double heard = double(live::Onset(out, at)) - double(at);
            EXPECT_GT(processor.FilterMilliseconds(), 2);
            EXPECT_NEAR(heard, double(processor.HeardFrames()), rate / 1000)
                << rate << " Hz, synchronization " << synchronization;
        }
    }
}

}  // namespace
