// The design of a simulation (bands, filters, current spread) as its plan holds it, and the pass
// bands measured from the filters' frequency responses.
#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

#include "engine/Engine.h"
#include "params/Models.h"
#include "stages/Plan.h"

namespace {

const double pi = 3.14159265358979323846;

cihear::Filter Coefficients(const stages::Recursive& f) {
    return {f.b, f.a};
}

cihear::Filter Coefficients(const stages::Taps& taps) {
    return {std::vector<double>(taps.begin(), taps.end()), {}};
}

std::vector<cihear::Band> Bands(const stages::Bands& b) {
    std::vector<cihear::Band> bands(b.low.size());
    for (size_t i = 0; i < bands.size(); i++) {
        bands[i] = {b.low[i], b.high[i], b.center[i], b.width[i]};
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

// The largest |H| on the 1 Hz grid of [0, nyquist], and where: the grid is searched only
// within a step of the largest value of a 20 Hz grid near the band (the filters of a band pass
// one main lobe, far wider than 20 Hz, so the peak lies between the coarse maximum's
// neighbours).
std::pair<double, double> GridPeak(const cihear::Filter& filter, double fs, double from,
                                   double to) {
    const double nyquist = fs / 2.0;
    double coarseF = 0.0;
    double peak = -1.0;
    const double step = 20.0;
    for (double f = std::floor(std::max(0.0, from) / step) * step; f <= std::min(to, nyquist);
         f += step) {
        const double m = Magnitude(filter, f, fs);
        if (m > peak) {
            peak = m;
            coarseF = f;
        }
    }
    double peakF = coarseF;
    peak = -1.0;
    for (double f = std::max(0.0, coarseF - step); f <= std::min(nyquist, coarseF + step);
         f += 1.0) {
        const double m = Magnitude(filter, f, fs);
        if (m > peak) {
            peak = m;
            peakF = f;
        }
    }
    return {peakF, peak};
}

// Where |H| falls below level going from peakF toward limit (|H| falls monotonically away from
// the peak): the limit itself when it does not, else a bracket widened by doubling steps and
// bisected.
double Edge(const cihear::Filter& filter, double fs, double peakF, double level, double limit) {
    if (Magnitude(filter, limit, fs) >= level) {
        return limit;  // the band reaches 0 Hz or the Nyquist frequency
    }
    const double direction = limit > peakF ? 1.0 : -1.0;
    double inside = peakF;
    double outside = limit;
    for (double step = 1.0; std::fabs(limit - peakF) > step; step *= 2.0) {
        const double f = peakF + direction * step;
        if (Magnitude(filter, f, fs) < level) {
            outside = f;
            break;
        }
        inside = f;
    }
    while (std::fabs(outside - inside) > 1e-7) {
        const double mid = (inside + outside) / 2.0;
        (Magnitude(filter, mid, fs) >= level ? inside : outside) = mid;
    }
    return inside;
}

// The band where |H| stays within 3 dB of its peak, for a filter of the nominal band
// [low, high]: the peak on the 1 Hz grid, each edge within 1e-7 Hz.
cihear::Band Measure(const cihear::Filter& filter, double fs, double low, double high) {
    const double nyquist = fs / 2.0;
    const auto [peakF, peak] = GridPeak(filter, fs, low - 400.0, high + 400.0);
    const double level = peak / std::sqrt(2.0);
    const double lowEdge = Edge(filter, fs, peakF, level, 0.0);
    const double highEdge = Edge(filter, fs, peakF, level, nyquist);
    return {lowEdge, highEdge, std::sqrt(lowEdge * highEdge), highEdge - lowEdge};
}

std::vector<cihear::Band> MeasureAll(const std::vector<cihear::Filter>& filters,
                                     const std::vector<cihear::Band>& nominal, double fs) {
    std::vector<cihear::Band> bands;
    for (size_t i = 0; i < filters.size(); i++) {
        bands.push_back(Measure(filters[i], fs, nominal[i].low, nominal[i].high));
    }
    return bands;
}

}  // namespace

namespace engine {

cihear::Design DescribePlan(const stages::Plan& plan) {
    const double fs = plan.sampleRate;
    cihear::Design d;
    d.settings = plan.settings;
    d.bands = Bands(plan.analysis);
    d.synthesisBands = Bands(plan.synthesis);
    for (uint32_t i = 0; i < plan.channels; i++) {
        if (plan.detection == 0) {
            d.analysisFilters.push_back(Coefficients(plan.detectSin[i]));
        } else if (plan.detection == 1) {
            d.analysisFilters.push_back(Coefficients(plan.bandPass[i]));
            d.detectorLowPass = Coefficients(plan.detectorLowPass);
        }
        d.synthesisFilters.push_back(Coefficients(plan.synthesisTaps[i]));
    }
    d.measuredBands = MeasureAll(d.analysisFilters, d.bands, fs);
    d.measuredSynthesisBands = MeasureAll(d.synthesisFilters, d.synthesisBands, fs);
    d.smoothing = Coefficients(plan.smoothing);
    if (plan.eas) {
        d.acousticLowPass = Coefficients(plan.acousticLowPass);
    }
    d.interactionWeights = plan.weights;
    d.interactionFactor = plan.interactionFactor;
    d.electrodeCount = plan.electrodeCount;
    d.electrodes = plan.electrodes;
    d.off = params::OffElectrodes(plan.settings);
    d.tones = plan.tones;
    return d;
}

}  // namespace engine

namespace cihear {

Design Describe(const Settings& settings) {
    return engine::DescribePlan(stages::MakePlan(engine::Effective(settings), kOutputRate));
}

}  // namespace cihear
