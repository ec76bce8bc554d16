// The live program's processing without devices: no allocation in the callback, the latency it
// reports against the delay it has, and the converters' quality.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "CountingMalloc.h"
#include "live/Converter.h"
#include "live/Processor.h"

namespace {

struct Case {
    double rate;
    size_t period;
    bool play;
};

std::string Name(const testing::TestParamInfo<Case>& info) {
    return std::to_string(static_cast<int>(info.param.rate)) + "Hz_" +
           std::to_string(info.param.period) + (info.param.play ? "_play" : "_input");
}

class ProcessorTest : public testing::TestWithParam<Case> {
protected:
    live::ProcessorConfig Config(const std::vector<float>* play) const {
        live::ProcessorConfig c;
        c.deviceRate = GetParam().rate;
        c.period = GetParam().period;
        c.play = GetParam().play ? play : nullptr;
        return c;
    }
};

// Speech-like input: a few partials under an envelope, by default loud enough to clip now and
// then.
std::vector<float> Signal(size_t n, double rate, double level = 0.8) {
    std::vector<float> x(n);
    for (size_t i = 0; i < n; i++) {
        const double t = i / rate;
        x[i] = static_cast<float>(
            level * std::sin(2 * M_PI * 3 * t) *
            (std::sin(2 * M_PI * 220 * t) + 0.5 * std::sin(2 * M_PI * 1900 * t)));
    }
    return x;
}

TEST_P(ProcessorTest, CallbackAllocatesNothing) {
    if (!MallocCounted()) {
        GTEST_SKIP() << "AddressSanitizer replaces the allocator: the count runs in other builds";
    }
    const std::vector<float> file = Signal(20000, 20000);
    live::ProcessorConfig config = Config(&file);
    config.recordInput = config.recordOutput = true;
    config.mix = 0.3;
    live::Processor processor(config);
    const size_t n = config.period;
    const std::vector<float> in = Signal(n * 400, config.deviceRate);
    std::vector<float> out(n);
    const uint64_t before = MallocCount();
    for (size_t k = 0; k < 400; k++) {
        processor.Process(in.data() + k * n, out.data(), n);
        if (k == 200) {
            processor.SetBypass(true);
        }
    }
    EXPECT_EQ(MallocCount() - before, 0u);
    EXPECT_EQ(processor.Counters().underflows.load(), 0u);
    // The counter is live: the setup itself allocates.
    std::vector<float> probe(1);
    EXPECT_GT(MallocCount(), before);
}

// With the original passed through (the stream's latency still applied), an impulse comes out
// LatencyFrames() later, to within the converters' minimum-phase peak offset (under 0.1 ms).
class ImpulseTest : public ProcessorTest {};

TEST_P(ImpulseTest, ImpulseArrivesAfterTheReportedLatency) {
    live::ProcessorConfig config = Config(nullptr);
    config.bypass = true;
    live::Processor processor(config);
    const size_t n = config.period, calls = 2 * config.deviceRate / n;
    const size_t at = n * 10 + 7;
    std::vector<float> in(n * calls, 0.0f), out(n * calls);
    in[at] = 1;
    for (size_t k = 0; k < calls; k++) {
        processor.Process(in.data() + k * n, out.data() + k * n, n);
    }
    size_t peak = 0;
    for (size_t i = 0; i < out.size(); i++) {
        peak = std::fabs(out[i]) > std::fabs(out[peak]) ? i : peak;
    }
    EXPECT_GT(std::fabs(out[peak]), 0.1);
    EXPECT_NEAR(double(peak - at), double(processor.LatencyFrames()), 1 + config.deviceRate / 1e4);
    EXPECT_EQ(processor.Counters().underflows.load(), 0u);
}

// --mix blends the original into the simulation: half and half is the mean of the two, the
// original being the input delayed by the stream's latency (the impulse test above). Quiet
// enough for nothing to be clamped.
TEST_P(ProcessorTest, MixIsTheBlendOfSimulationAndOriginal) {
    const std::vector<float> file = Signal(20000, 20000, 0.2);
    const size_t n = GetParam().period, calls = static_cast<size_t>(GetParam().rate / n);
    const std::vector<float> in = Signal(n * calls, GetParam().rate, 0.2);
    std::vector<std::vector<float>> out;
    for (double mix : {0.0, 1.0, 0.5}) {
        live::ProcessorConfig config = Config(&file);
        config.mix = mix;
        live::Processor processor(config);
        out.emplace_back(in.size());
        for (size_t k = 0; k < calls; k++) {
            processor.Process(&in[k * n], &out.back()[k * n], n);
        }
    }
    double energy[2] = {0, 0}, error = 0;
    for (size_t i = 0; i < in.size(); i++) {
        energy[0] += double(out[0][i]) * out[0][i];
        energy[1] += double(out[1][i]) * out[1][i];
        error = std::max(error, std::fabs(out[2][i] - 0.5 * (out[0][i] + out[1][i])));
    }
    EXPECT_GT(energy[0], 0.1);
    EXPECT_GT(energy[1], 0.1);
    EXPECT_LT(error, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Devices, ProcessorTest,
                         testing::Values(Case{48000, 256, false}, Case{48000, 256, true},
                                         Case{44100, 128, false}, Case{44100, 512, true},
                                         Case{96000, 64, false}, Case{22050, 1024, false},
                                         Case{40000, 256, false}, Case{60000, 100, true},
                                         Case{20000, 256, false}),
                         Name);
// The device input's path (the impulse goes through both converters): libsamplerate's and the
// whole-factor converters, and none at 20000 Hz.
INSTANTIATE_TEST_SUITE_P(Devices, ImpulseTest,
                         testing::Values(Case{48000, 256, false}, Case{44100, 128, false},
                                         Case{96000, 64, false}, Case{22050, 1024, false},
                                         Case{40000, 256, false}, Case{60000, 100, false},
                                         Case{80000, 512, false}, Case{20000, 256, false}),
                         Name);

// The amplitude of a sine of frequency f in y (least squares), and what is left besides it.
void Fit(const std::vector<float>& y, double f, double rate, double& amplitude, double& rest) {
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0, yy = 0;
    for (size_t i = 0; i < y.size(); i++) {
        const double c = std::cos(2 * M_PI * f * i / rate), s = std::sin(2 * M_PI * f * i / rate);
        cc += c * c, ss += s * s, cs += c * s, yc += y[i] * c, ys += y[i] * s,
            yy += double(y[i]) * y[i];
    }
    const double det = cc * ss - cs * cs;
    const double a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
    amplitude = std::hypot(a, b);
    rest = std::sqrt(std::max(0.0, yy - (a * yc + b * ys)) / y.size()) * std::sqrt(2.0);
}

// A sine through converters from rate to rate (two or three rates), its settled part.
std::vector<float> Convert(const std::vector<double>& rates, double f) {
    const auto n = static_cast<size_t>(rates[0]);  // one second
    std::vector<float> x(n);
    for (size_t i = 0; i < n; i++) {
        x[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * f * i / rates[0]));
    }
    for (size_t k = 1; k < rates.size(); k++) {
        live::Converter converter(rates[k - 1], rates[k]);
        std::vector<float> y(4 * x.size());
        y.resize(converter.Process(x.data(), x.size(), y.data(), y.size()));
        x.swap(y);
    }
    const auto skip = static_cast<size_t>(0.1 * rates.back());
    return std::vector<float>(x.begin() + skip, x.begin() + std::max(x.size(), skip + 1200) - 200);
}

// 20 Hz - 9 kHz within 0.1 dB both ways; aliases (down) and images (up) of anything that would
// land in that band below -90 dB. Through libsamplerate's fastest filter (44100, 48000, 96000
// Hz), its next (22050, 32000 Hz), and the whole-factor filter alone.
TEST(ConverterTest, BandUntouchedAndAliasesAndImagesBelow90dB) {
    for (double device : {44100.0, 48000.0, 96000.0, 22050.0, 32000.0, 40000.0, 60000.0}) {
        const std::vector<std::vector<double>> paths = {
            {device, 20000}, {20000, device}, {device, 20000, device}};
        for (double f : {20.0, 100.0, 1000.0, 4000.0, 8000.0, 9000.0}) {
            for (const std::vector<double>& path : paths) {
                double amplitude, rest;
                Fit(Convert(path, f), f, path.back(), amplitude, rest);
                EXPECT_LT(std::fabs(20 * std::log10(amplitude / 0.5)), 0.1)
                    << path[0] << " -> " << path[1] << " (" << path.size() << " rates) at " << f;
                EXPECT_LT(20 * std::log10(rest / 0.5), -90) << "images at " << f << " Hz";
            }
        }
        for (double f : {11000.0, 13000.0, 16000.0, 19000.0, 21000.0, 29000.0, 37000.0}) {
            if (f >= device / 2) {
                continue;
            }
            double amplitude, rest;
            Fit(Convert({device, 20000}, f), 20000 - f, 20000, amplitude, rest);
            EXPECT_LT(20 * std::log10(std::max(amplitude, 1e-12) / 0.5), -90)
                << "alias of " << f << " Hz at " << device;
        }
    }
}

}  // namespace
