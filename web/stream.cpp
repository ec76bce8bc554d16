// The page's Live control: the simulation's stream at kOutputRate, for the AudioWorklet, in the
// engine's WebAssembly module (embind). It is built as cihear::Stream builds its core (the
// library's strict setup, the plan at kOutputRate, the stream's options checked) and also reports
// the frames its selection chose, for the live electrodogram.
//
// The worklet calls process() on every render quantum with the addresses of the input and
// output doubles in the module's memory: nothing is allocated there, and the frames of the call
// are summed into `levels` (per channel, the largest level a frame chose in the call) by the
// observer, without allocating either. A refused setting or option is reported by ok() and
// message(), never thrown (the module does not catch exceptions).
#include <cihear/cihear.h>
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bindings.h"
#include "engine/Engine.h"
#include "params/Parameters.h"
#include "stages/Plan.h"
#include "stages/StreamCore.h"

using emscripten::val;

namespace {

class LiveStream {
public:
    // pairs: [[name, value], ...] as for simulate; seed: null or 0 .. kMaxSeed.
    LiveStream(val pairs, val seed, double inputGain, double outputGain) {
        const cihear::Applied applied = cihear::ApplyStrict(web::Values(pairs));
        if (!applied.ok()) {
            why = applied.errors[0].text;
            return;
        }
        std::optional<int64_t> seedValue;
        if (!seed.isNull() && !seed.isUndefined()) {
            const double s = seed.as<double>();
            if (!(s >= 0 && s <= cihear::kMaxSeed && s == std::floor(s))) {
                why = "the seed is a whole number from 0 to " + std::to_string(cihear::kMaxSeed);
                return;
            }
            seedValue = static_cast<int64_t>(s);
        }
        if (!std::isfinite(inputGain) || !std::isfinite(outputGain)) {
            why = "the input and output gains must be finite numbers";
            return;
        }
        std::unique_ptr<Parameters> parameters(engine::MakeParameters(applied.settings));
        core = std::make_unique<stages::StreamCore>(
            stages::MakePlan(*parameters, cihear::kOutputRate), seedValue, inputGain, outputGain);
        levels.assign(core->GetPlan().channels, 0.0);
        core->SetFrameObserver(&LiveStream::Observe, this);
    }

    bool ok() const { return core != nullptr; }
    std::string message() const { return why; }
    double latency() const { return core ? core->Latency() : 0; }
    double channels() const { return static_cast<double>(levels.size()); }
    double clipped() const { return core ? static_cast<double>(core->Clipped()) : 0; }
    // Where the levels of the frames of the last process() call are (channels doubles), and how
    // many frames that call chose.
    uintptr_t levelsAddress() const { return reinterpret_cast<uintptr_t>(levels.data()); }
    double frames() const { return static_cast<double>(frameCount); }

    // count doubles at `in` through the stream into `out` (which may be `in`).
    void process(uintptr_t in, uintptr_t out, double count) {
        std::fill(levels.begin(), levels.end(), 0.0);
        frameCount = 0;
        if (core) {
            core->Process(reinterpret_cast<const double*>(in), static_cast<size_t>(count),
                          reinterpret_cast<double*>(out));
        }
    }

private:
    static void Observe(void* context, int64_t, uint64_t, uint64_t, const double* values,
                        const uint32_t*) {
        auto* self = static_cast<LiveStream*>(context);
        for (size_t ch = 0; ch < self->levels.size(); ch++) {
            self->levels[ch] = std::max(self->levels[ch], values[ch]);
        }
        self->frameCount++;
    }

    std::unique_ptr<stages::StreamCore> core;
    std::string why;
    std::vector<double> levels;
    uint32_t frameCount = 0;
};

}  // namespace

// The offline equivalent of a LiveStream with the same settings and seed (input gain 1, the
// default output gain): the library's Options::live over `count` doubles at kOutputRate at
// `address`. {ok, message, output}.
val SimulateLive(uintptr_t address, double count, val pairs, val seed) {
    val result = val::object();
    const cihear::Applied applied = cihear::ApplyStrict(web::Values(pairs));
    if (!applied.ok()) {
        result.set("ok", false);
        result.set("message", applied.errors[0].text);
        return result;
    }
    cihear::Options options;
    options.live = true;
    if (!seed.isNull() && !seed.isUndefined()) {
        options.seed = static_cast<int64_t>(seed.as<double>());
    }
    const cihear::Result r =
        cihear::Simulate(reinterpret_cast<const double*>(address), static_cast<size_t>(count),
                         cihear::kOutputRate, applied.settings, options);
    result.set("ok", r.status.ok());
    result.set("message", r.status.message);
    if (r.status.ok()) {
        result.set("output",
                   val::global("Float64Array")
                       .new_(emscripten::typed_memory_view(r.output.size(), r.output.data())));
    }
    return result;
}

EMSCRIPTEN_BINDINGS(cihear_stream) {
    emscripten::class_<LiveStream>("LiveStream")
        .constructor<val, val, double, double>()
        .function("ok", &LiveStream::ok)
        .function("message", &LiveStream::message)
        .function("latency", &LiveStream::latency)
        .function("channels", &LiveStream::channels)
        .function("clipped", &LiveStream::clipped)
        .function("levelsAddress", &LiveStream::levelsAddress)
        .function("frames", &LiveStream::frames)
        .function("process", &LiveStream::process);
    emscripten::function("simulateLive", &SimulateLive);
    emscripten::constant("streamOutputGain", cihear::kStreamOutputGain);
}
