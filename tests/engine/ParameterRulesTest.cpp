// The rules as one pure function (params::Resolve) against the parameter set's own cascade of
// constrained setters, which the engine builds its simulation from: for any requested values,
// in range or not, both must give the same effective settings.
#include <cihear/cihear.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <type_traits>
#include <vector>

#include "engine/Engine.h"
#include "params/ParameterRules.h"
#include "params/Parameters.h"
#include "params/SettingsFields.h"

namespace {

// Values around each bound of `info` and the interesting ones between, for a field of type T.
template <class T>
std::vector<T> Candidates(const cihear::ParameterInfo& info) {
    if constexpr (std::is_same_v<T, bool>) {
        return {false, true};
    } else if constexpr (std::is_same_v<T, unsigned>) {
        const auto lo = static_cast<unsigned>(info.min);
        const auto hi = static_cast<unsigned>(info.max);
        return {0u, lo, lo + 1, 4u, 8u, 12u, 20u, hi - 1, hi, hi + 1};
    } else {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {info.min - 1, info.min, info.defaultValue, 400,          600, 1500, 2500,
                4000,         6000,     info.max,          info.max + 1, nan};
    }
}

cihear::Settings ThroughTheSetters(const cihear::Settings& requested) {
    std::unique_ptr<Parameters> p(engine::MakeParameters(requested));
    return engine::ReadParameters(*p);
}

TEST(ParameterRulesTest, AgreeWithTheConstrainedSetters) {
    std::mt19937 random(2024);
    for (int trial = 0; trial < 20000; ++trial) {
        cihear::Settings requested;
        ForEachStrategySetting(
            requested, [&random](const cihear::ParameterInfo& info, auto& field) {
                const auto values = Candidates<std::decay_t<decltype(field)>>(info);
                field = values[random() % values.size()];
            });
        const cihear::Settings resolved = params::Resolve(requested);
        const cihear::Settings expected = ThroughTheSetters(requested);
        ForEachSettingPair(
            resolved, expected,
            [&](const cihear::ParameterInfo& info, const auto& got, const auto& want) {
                ASSERT_EQ(got, want) << info.name << " in trial " << trial;
            });
    }
}

TEST(ParameterRulesTest, AppliesEachCascade) {
    cihear::Settings r;
    r.f_max = 1000;
    r.cutoff_freq = 3000;  // raises f_max, with eas off too
    r.n_chan_ci = 6;       // caps the inserted channels and, through them, n_on, which then
    r.n_inserted_ch = 0;   // refuse their own values: what the cap made of them stays
    r.n_on = 51;
    const cihear::Settings e = params::Resolve(r);
    EXPECT_EQ(e.f_max, 3000);
    EXPECT_EQ(e.n_inserted_ch, 6u);
    EXPECT_EQ(e.n_on, 6u);
    r.f_max = 400;  // below its own fixed bound: the default stays
    r.cutoff_freq = 7000;
    EXPECT_EQ(params::Resolve(r).f_max, 8500);
}

}  // namespace
