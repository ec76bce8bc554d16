// The measured -3 dB bands of Describe, searched near each band, against a scan of the whole
// response on a 1 Hz grid (the way they were first measured).
#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

double Magnitude(const cihear::Filter& filter, double f) {
    const std::complex<double> z = std::polar(1.0, -2.0 * 3.14159265358979323846 * f / 20000.0);
    auto Polynomial = [&z](const std::vector<double>& c) {
        std::complex<double> sum = 0.0;
        for (size_t k = c.size(); k-- > 0;) {
            sum = sum * z + c[k];
        }
        return sum;
    };
    std::complex<double> h = Polynomial(filter.b);
    if (!filter.a.empty()) {
        std::vector<double> a = filter.a;
        a[0] = 1.0;
        h /= Polynomial(a);
    }
    return std::abs(h);
}

// The peak on the whole 1 Hz grid, then each edge walked to in 1 Hz steps and bisected.
cihear::Band Scanned(const cihear::Filter& filter) {
    double peakF = 0.0, peak = -1.0;
    for (double f = 0.0; f <= 10000.0; f += 1.0) {
        if (Magnitude(filter, f) > peak) {
            peak = Magnitude(filter, f);
            peakF = f;
        }
    }
    const double level = peak / std::sqrt(2.0);
    auto Edge = [&](double step, double limit) {
        double inside = peakF;
        while ((step > 0 ? inside + step <= limit : inside + step >= limit) &&
               Magnitude(filter, inside + step) >= level) {
            inside += step;
        }
        double outside = std::clamp(inside + step, 0.0, 10000.0);
        if (Magnitude(filter, outside) >= level) {
            return outside;
        }
        for (int i = 0; i < 50; i++) {
            const double mid = (inside + outside) / 2.0;
            (Magnitude(filter, mid) >= level ? inside : outside) = mid;
        }
        return inside;
    };
    return {Edge(-1.0, 0.0), Edge(1.0, 10000.0), 0, 0};
}

class DescribeBands : public ::testing::TestWithParam<std::vector<std::pair<std::string, double>>> {
};

TEST_P(DescribeBands, EdgesAreTheWholeScansWithinAHundredthOfAHertz) {
    const cihear::Applied a = cihear::ApplyStrict(GetParam());
    ASSERT_TRUE(a.ok());
    const cihear::Design d = cihear::Describe(a.settings);
    for (auto [filters, measured] :
         {std::make_pair(&d.analysisFilters, &d.measuredBands),
          std::make_pair(&d.synthesisFilters, &d.measuredSynthesisBands)}) {
        ASSERT_EQ(filters->size(), measured->size());
        for (size_t i = 0; i < filters->size(); i++) {
            const cihear::Band expected = Scanned((*filters)[i]);
            const cihear::Band& got = (*measured)[i];
            EXPECT_NEAR(got.low, expected.low, 0.01) << "band " << i;
            EXPECT_NEAR(got.high, expected.high, 0.01) << "band " << i;
            EXPECT_DOUBLE_EQ(got.center, std::sqrt(got.low * got.high));
            EXPECT_DOUBLE_EQ(got.bandwidth, got.high - got.low);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, DescribeBands,
    ::testing::Values(std::vector<std::pair<std::string, double>>{},
                      std::vector<std::pair<std::string, double>>{
                          {"n_chan_ci", 22}, {"n_inserted_ch", 22}, {"n_on", 22}},
                      std::vector<std::pair<std::string, double>>{{"envelope_detection", 1},
                                                                  {"f_max", 9990}},
                      std::vector<std::pair<std::string, double>>{
                          {"eas", 1}, {"freq_shift", 1}, {"n_inserted_ch", 5}},
                      std::vector<std::pair<std::string, double>>{
                          {"n_chan_ci", 1}, {"n_inserted_ch", 1}, {"n_on", 1}, {"f_min", 100}}));

}  // namespace
