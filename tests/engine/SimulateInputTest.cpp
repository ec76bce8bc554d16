// What cihear::Simulate does with inputs it cannot take as they are: null pointers, NaN and
// infinity, levels far from a file's, rates that leave nothing to simulate, and a caller that
// asks it to stop.
#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Two partials and a gliding third, never exactly 0, at `rate` Hz.
std::vector<double> Tone(uint32_t rate, double seconds = 0.3) {
    std::vector<double> x(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < x.size(); i++) {
        const double t = static_cast<double>(i) / rate;
        x[i] = 0.4 * std::sin(2 * M_PI * 440 * t) +
               0.2 * std::sin(2 * M_PI * (900 + 3000 * t) * t) +
               0.05 * std::cos(2 * M_PI * 2500 * t) + 0.001;
    }
    return x;
}

std::vector<double> Scaled(std::vector<double> x, int power) {
    for (double& v : x) {
        v = std::ldexp(v, power);
    }
    return x;
}

cihear::Result Sim(const std::vector<double>& x, uint32_t rate, const cihear::Settings& s,
                   const cihear::Options& o = cihear::Options()) {
    return cihear::Simulate(x.data(), x.size(), rate, s, o);
}

bool AllFinite(const std::vector<double>& y) {
    for (const double v : y) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    return true;
}

TEST(SimulateInputTest, RefusesNullSamplesAndNonFiniteValuesWithTheirPlace) {
    cihear::Result r = cihear::Simulate(nullptr, 5, 20000, cihear::Settings());
    EXPECT_EQ(r.status.code, cihear::Status::kBadInput);
    EXPECT_EQ(r.status.message, "the samples are a null pointer with a count of 5");
    for (const double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        std::vector<double> x = Tone(20000, 0.05);
        x[7] = bad;
        r = Sim(x, 44100, cihear::Settings());
        EXPECT_EQ(r.status.code, cihear::Status::kBadInput) << bad;
        EXPECT_EQ(r.status.message,
                  "the signal holds a NaN or an infinity (first at frame 7); only finite samples "
                  "can be simulated");
        EXPECT_TRUE(r.output.empty());
    }
}

struct LevelCase {
    const char* what;
    uint32_t rate;
    cihear::Settings settings;
};

class LevelTest : public testing::TestWithParam<LevelCase> {};

// Without eas the output does not depend on the input's level: for a power of two it is the
// same to the bit, at levels a file has and at any other finite level.
TEST_P(LevelTest, AnyPowerOfTwoLevelGivesTheSameOutput) {
    const LevelCase& c = GetParam();
    const std::vector<double> x = Tone(c.rate);
    const cihear::Result normal = Sim(x, c.rate, c.settings);
    ASSERT_TRUE(normal.status.ok()) << normal.status.message;
    ASSERT_TRUE(AllFinite(normal.output));
    for (const int power : {-1000, -300, -65, -64, -63, -20, 20, 63, 64, 65, 300, 1000}) {
        SCOPED_TRACE(power);
        const cihear::Result r = Sim(Scaled(x, power), c.rate, c.settings);
        ASSERT_TRUE(r.status.ok()) << r.status.message;
        EXPECT_EQ(r.output, normal.output);
    }
}

cihear::Settings With(void (*set)(cihear::Settings&)) {
    cihear::Settings s;
    set(s);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LevelTest,
    testing::Values(LevelCase{"defaults", 20000, cihear::Settings()},
                    LevelCase{"converted", 44100, cihear::Settings()},
                    LevelCase{"rectifier, noise carrier", 20000, With([](cihear::Settings& s) {
                                  s.envelope_detection = 1;
                                  s.synchronization = 0.4;
                                  s.n_on = 5;
                              })},
                    // Converted inputs are peak-normalised before the acoustic part takes them.
                    LevelCase{"eas, converted", 16000,
                              With([](cihear::Settings& s) { s.eas = true; })}),
    [](const testing::TestParamInfo<LevelCase>& info) {
        std::string name = info.param.what;
        for (char& ch : name) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

double MaxDifference(const std::vector<double>& a, const std::vector<double>& b) {
    double d = 0.0;
    for (size_t i = 0; i < a.size() && i < b.size(); i++) {
        d = std::max(d, std::fabs(a[i] - b[i]));
    }
    return d;
}

// Under eas at the output rate the acoustic part keeps the input's level: far below the
// implant's part it adds nothing, far above it is all that is heard. Levels outside 2^-64 ..
// 2^64 (scaled for the implant's part) give what the levels at the edges of that range give
// (simulated as they are).
TEST(SimulateInputTest, UnderEasTheAcousticPartKeepsTheInputsLevel) {
    const std::vector<double> x = Tone(20000);
    cihear::Settings eas;
    eas.eas = true;
    const std::vector<double> quiet = Sim(Scaled(x, -60), 20000, eas).output;
    const std::vector<double> loud = Sim(Scaled(x, 60), 20000, eas).output;
    for (const int power : {-1000, -300, -100, 100, 300, 1000}) {
        SCOPED_TRACE(power);
        const cihear::Result r = Sim(Scaled(x, power), 20000, eas);
        ASSERT_TRUE(r.status.ok()) << r.status.message;
        ASSERT_TRUE(AllFinite(r.output));
        EXPECT_LT(MaxDifference(r.output, power < 0 ? quiet : loud), 1e-12);
    }
    // At a file's level both parts are heard.
    const std::vector<double> both = Sim(x, 20000, eas).output;
    EXPECT_GT(MaxDifference(both, quiet), 0.01);
    EXPECT_GT(MaxDifference(both, loud), 0.01);
}

TEST(SimulateInputTest, ExtremeSamplesGiveAFiniteOutputOrARefusal) {
    std::vector<double> spike = Tone(20000);
    spike[1000] = 1e300;
    std::vector<double> largest(4000, DBL_MAX);
    for (size_t i = 0; i < largest.size(); i += 2) {
        largest[i] = -DBL_MAX;
    }
    std::vector<double> tiniest(4000, std::numeric_limits<double>::denorm_min());
    for (const bool eas : {false, true}) {
        cihear::Settings s;
        s.eas = eas;
        for (const std::vector<double>* x : {&spike, &largest, &tiniest}) {
            const cihear::Result r = Sim(*x, 20000, s);
            if (r.status.ok()) {
                EXPECT_TRUE(AllFinite(r.output)) << eas;
                EXPECT_EQ(r.output.size(), x->size());
            } else {
                EXPECT_EQ(r.status.code, cihear::Status::kBadInput) << eas;
                EXPECT_TRUE(r.output.empty());
            }
        }
        EXPECT_TRUE(Sim(spike, 20000, s).status.ok());
    }
}

TEST(SimulateInputTest, AnInputLastingLessThanOneOutputSampleIsRefused) {
    const std::vector<double> x(64, 0.5);
    cihear::Result r = Sim(x, 4294967295u, cihear::Settings());
    EXPECT_EQ(r.status.code, cihear::Status::kBadInput);
    EXPECT_EQ(r.status.message,
              "cannot convert 64 samples at 4294967295 Hz to 20000 Hz: the sample rate is too "
              "high for that few samples (they last less than one sample at 20000 Hz)");
    // 3 samples at 60000 Hz last one output sample; 2 do not.
    EXPECT_EQ(cihear::Simulate(x.data(), 3, 60000, cihear::Settings()).output.size(), 1u);
    EXPECT_FALSE(cihear::Simulate(x.data(), 2, 60000, cihear::Settings()).status.ok());
}

TEST(SimulateInputTest, CancellingStopsBetweenBlocksWithoutOutput) {
    const std::vector<double> x = Tone(22050, 4.0);
    for (const int after : {0, 1, 3, 8}) {
        SCOPED_TRACE(after);
        int asked = 0;
        cihear::Options o;
        o.cancelled = [&] { return ++asked > after; };
        const cihear::Result r = Sim(x, 22050, cihear::Settings(), o);
        EXPECT_EQ(r.status.code, cihear::Status::kCancelled);
        EXPECT_EQ(r.status.message, "cancelled");
        EXPECT_TRUE(r.output.empty());
        EXPECT_EQ(asked, after + 1);  // no question after the answer that stopped it
    }
    // Never cancelling changes nothing, and the question is asked all along.
    int asked = 0;
    cihear::Options o;
    o.cancelled = [&] { return ++asked < 0; };
    EXPECT_EQ(Sim(x, 22050, cihear::Settings(), o).output,
              Sim(x, 22050, cihear::Settings()).output);
    EXPECT_GT(asked, 9);
}

}  // namespace
