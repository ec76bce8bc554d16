#include "params/BandEdges.h"

#include <cmath>

#include "params/Models.h"

namespace params {

namespace {

const double kA = 165.4;
const double kSlope = 2.1;
const double kK = 0.88;

// Edges k = 0..n of equal steps of a scale (to, from: the scale's value of a frequency and
// back), the first and last edges exactly fLow and fHigh.
template <class To, class From>
std::vector<double> EqualSteps(double fLow, double fHigh, uint32_t n, To to, From from) {
    const double a = to(fLow);
    const double step = (to(fHigh) - a) / n;
    std::vector<double> e(n + 1);
    for (uint32_t k = 0; k <= n; k++) {
        e[k] = from(a + k * step);
    }
    e[0] = fLow;
    e[n] = fHigh;
    return e;
}

}  // namespace

double GreenwoodFrequency(double x) {
    return kA * (std::pow(10.0, kSlope * x) - kK);
}

double GreenwoodPlace(double f) {
    return std::log10(f / kA + kK) / kSlope;
}

double ErbNumber(double f) {
    return 21.4 * std::log10(1.0 + 0.00437 * f);
}

double ErbFrequency(double e) {
    return (std::pow(10.0, e / 21.4) - 1.0) / 0.00437;
}

std::vector<double> LayoutEdges(unsigned layout, double fLow, double fHigh, uint32_t n) {
    if (layout == kGreenwood) {
        return EqualSteps(fLow, fHigh, n, GreenwoodPlace, GreenwoodFrequency);
    }
    if (layout == kLinear) {
        return EqualSteps(
            fLow, fHigh, n, [](double f) { return f; }, [](double f) { return f; });
    }
    if (layout == kErb) {
        return EqualSteps(fLow, fHigh, n, ErbNumber, ErbFrequency);
    }
    const double a = std::log(fLow);
    const double step = (std::log(fHigh) - a) / n;
    std::vector<double> e(n + 1);
    for (uint32_t k = 0; k <= n; k++) {
        e[k] = std::exp(k * step + a);
    }
    return e;
}

std::vector<double> Reallocate(const std::vector<double>& edges, uint32_t m) {
    const uint32_t n = static_cast<uint32_t>(edges.size()) - 1;
    if (m >= n) {
        return edges;
    }
    std::vector<double> e(m + 1);
    for (uint32_t k = 0; k <= m; k++) {
        // The position k n / m of the table, as a whole index and a fraction.
        const uint64_t scaled = uint64_t{k} * n;
        const uint32_t i = static_cast<uint32_t>(scaled / m);
        const double t = static_cast<double>(scaled % m) / m;
        e[k] =
            t == 0.0
                ? edges[i]
                : std::exp(std::log(edges[i]) + t * (std::log(edges[i + 1]) - std::log(edges[i])));
    }
    return e;
}

}  // namespace params
