// The design of a simulation (bands, filters, current spread) read from its own objects, and
// the pass bands measured from the filters' frequency responses.
#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

#include "dsp/FilterIIR.h"
#include "dsp/HilbertFIR_Detector.h"
#include "dsp/RectLP_IIR_Detector.h"
#include "dsp/gasdev.h"
#include "engine/Engine.h"
#include "params/Parameters.h"
#include "sim/Simulator.h"

namespace {

const double pi = 3.14159265358979323846;

cihear::Filter Coefficients(const FilterIIR& f) {
    const uint32_t n = f.GetNumCoeffs();
    return {std::vector<double>(f.GetB(), f.GetB() + n),
            std::vector<double>(f.GetA(), f.GetA() + n)};
}

cihear::Filter Coefficients(const FilterFIR& f) {
    return {std::vector<double>(f.GetCoeffs(), f.GetCoeffs() + FilterFIR::num_taps), {}};
}

std::vector<cihear::Band> Bands(const double* low, const double* high, const double* center,
                                const double* bandwidth, size_t n) {
    std::vector<cihear::Band> bands(n);
    for (size_t i = 0; i < n; i++) {
        bands[i] = {low[i], high[i], center[i], bandwidth[i]};
    }
    return bands;
}

// |H| at f Hz of the filter b/a at sample rate fs.
double Magnitude(const cihear::Filter& filter, double f, double fs) {
    const std::complex<double> z = std::polar(1.0, -2.0 * pi * f / fs);
    const auto polynomial = [&z](const std::vector<double>& c) {
        std::complex<double> sum = 0.0;
        for (size_t k = c.size(); k-- > 0;) {
            sum = sum * z + c[k];
        }
        return sum;
    };
    std::complex<double> h = polynomial(filter.b);
    if (!filter.a.empty()) {
        std::vector<double> a = filter.a;
        a[0] = 1.0;
        h /= polynomial(a);
    }
    return std::abs(h);
}

// The band where |H| stays within 3 dB of its peak: the peak is found on a 1 Hz grid, each edge
// by walking outward to the first grid point below the level and bisecting to 0.001 Hz.
cihear::Band Measure(const cihear::Filter& filter, double fs) {
    const double nyquist = fs / 2.0;
    double peakF = 0.0;
    double peak = -1.0;
    for (double f = 0.0; f <= nyquist; f += 1.0) {
        const double m = Magnitude(filter, f, fs);
        if (m > peak) {
            peak = m;
            peakF = f;
        }
    }
    const double level = peak / std::sqrt(2.0);
    const auto edge = [&](double step, double limit) {
        double inside = peakF;
        double f = peakF;
        while ((step > 0 ? f + step <= limit : f + step >= limit) &&
               Magnitude(filter, f + step, fs) >= level) {
            f += step;
            inside = f;
        }
        double outside = std::clamp(inside + step, 0.0, nyquist);
        if (Magnitude(filter, outside, fs) >= level) {
            return outside;  // the band reaches 0 Hz or the Nyquist frequency
        }
        for (int i = 0; i < 40; i++) {
            const double mid = (inside + outside) / 2.0;
            (Magnitude(filter, mid, fs) >= level ? inside : outside) = mid;
        }
        return inside;
    };
    const double low = edge(-1.0, 0.0);
    const double high = edge(1.0, nyquist);
    return {low, high, std::sqrt(low * high), high - low};
}

std::vector<cihear::Band> MeasureAll(const std::vector<cihear::Filter>& filters, double fs) {
    std::vector<cihear::Band> bands;
    for (const cihear::Filter& f : filters) {
        bands.push_back(Measure(f, fs));
    }
    return bands;
}

}  // namespace

namespace engine {

cihear::Design DescribeSimulator(Simulator& simulator, const Parameters& parameters) {
    const Analyzer& analyzer = *simulator.GetAnalyzer();
    const Synthesizer& synthesizer = *simulator.GetSynthesizer();
    const uint32_t n = parameters.n_inserted_ch->GetValue();
    const double fs = cihear::kOutputRate;
    cihear::Design d;
    d.settings = ReadParameters(parameters);
    d.bands = Bands(analyzer.GetLowFreq(), analyzer.GetHighFreq(), analyzer.GetCenterFreq(),
                    analyzer.GetBandwidth(), n);
    d.synthesisBands = Bands(synthesizer.GetLowFreq(), synthesizer.GetHighFreq(),
                             synthesizer.GetCenterFreq(), synthesizer.GetBandwidth(), n);
    for (uint32_t i = 0; i < n; i++) {
        const EnvelopeDetector* detector = analyzer.GetDetector(i);
        if (auto* hilbert = dynamic_cast<const HilbertFIR_Detector*>(detector)) {
            d.analysisFilters.push_back(Coefficients(hilbert->GetSineFilter()));
        } else if (auto* rect = dynamic_cast<const RectLP_IIR_Detector*>(detector)) {
            d.analysisFilters.push_back(Coefficients(*rect->GetBandPass()));
            d.detectorLowPass = Coefficients(*rect->GetLowPass());
        }
        d.synthesisFilters.push_back(Coefficients(synthesizer.GetFilter(i)));
    }
    d.measuredBands = MeasureAll(d.analysisFilters, fs);
    d.measuredSynthesisBands = MeasureAll(d.synthesisFilters, fs);
    d.smoothing = Coefficients(analyzer.GetSmoothingFilter());
    if (d.settings.eas) {
        // The synthesizer designs this filter when it runs, with these arguments.
        d.acousticLowPass = Coefficients(LP_FilterIIR(2, fs, d.settings.cutoff_freq));
    }
    d.interactionWeights = simulator.GetAnalyzer()->InteractionWeights();
    d.interactionFactor = simulator.GetAnalyzer()->InteractionCoeff();
    return d;
}

}  // namespace engine

namespace cihear {

Design Describe(const Settings& settings) {
    std::unique_ptr<Parameters> parameters(engine::MakeParameters(settings));
    RandomState unused;
    Simulator simulator(parameters.get(), kOutputRate, &unused);
    return engine::DescribeSimulator(simulator, *parameters);
}

}  // namespace cihear
