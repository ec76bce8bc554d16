// cihear::Stream: the simulation as a causal stream, over the stages of the plan.
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>

#include "engine/Engine.h"
#include "stages/Plan.h"
#include "stages/StreamCore.h"

namespace cihear {

class Stream::Core {
public:
    Core(const Settings& requested, const StreamOptions& options)
        : options(options),
          core(MakeStreamPlan(requested), options.seed, options.inputGain, options.outputGain) {}

    static stages::Plan MakeStreamPlan(const Settings& settings) {
        return stages::MakePlan(engine::Effective(settings), kOutputRate);
    }

    StreamOptions options;
    stages::StreamCore core;
};

namespace {

void Check(const StreamOptions& options) {
    if (options.seed && (*options.seed < 0 || *options.seed > kMaxSeed)) {
        throw std::invalid_argument("seed = " + std::to_string(*options.seed) +
                                    " is out of range; accepted: 0 to " + std::to_string(kMaxSeed));
    }
    if (!std::isfinite(options.inputGain) || !std::isfinite(options.outputGain)) {
        throw std::invalid_argument("the input and output gains must be finite numbers");
    }
}

}  // namespace

Stream::Stream(const Settings& settings, const StreamOptions& options) {
    Check(options);
    core = std::make_unique<Core>(settings, options);
}

Stream::~Stream() = default;
Stream::Stream(Stream&&) noexcept = default;
Stream& Stream::operator=(Stream&&) noexcept = default;

void Stream::Process(const double* in, size_t count, double* out) {
    core->core.Process(in, count, out);
}

void Stream::Flush(double* out) {
    core->core.Flush(out);
}

size_t Stream::Latency() const {
    return core->core.Latency();
}

void Stream::Reset() {
    core->core.Reset();
}

uint64_t Stream::Clipped() const {
    return core->core.Clipped();
}

const Settings& Stream::GetSettings() const {
    return core->core.GetPlan().settings;
}

const StreamOptions& Stream::GetOptions() const {
    return core->options;
}

}  // namespace cihear
