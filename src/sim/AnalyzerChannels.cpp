// N-of-M channel selection and the current spread between electrodes: the two steps of the
// coding strategy that work across channels.

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/Parallel.h"
#include "params/Parameters.h"
#include "sim/Analyzer.h"
#include "sim/BandLayout.h"
#include "stages/Plan.h"
#include "stages/Selection.h"
#include "stages/Spread.h"

void Analyzer::N_of_M() {
    const uint32_t n = ChannelCount();
    const uint32_t length = envelopes->GetSignal(0)->GetLength();
    const stages::Plan plan = stages::MakePlan(*parameters, sampleRate);
    // An envelope shorter than one stimulation period has no frame: nothing changes.
    const int64_t frames = stages::FrameCount(length, plan.rate, plan.sampleRate);
    if (frames == 0) {
        return;
    }
    std::vector<double*> x(n);
    for (uint32_t ch = 0; ch < n; ch++) {
        x[ch] = envelopes->GetSignal(ch)->GetSamples();
    }
    stages::Selection selection(plan, length, frames);
    struct Record {
        SelectionRecord* record;
        uint32_t n;
        static void Keep(void* context, int64_t c, uint64_t a, uint64_t b, const double* v,
                         const uint32_t* marks) {
            const Record& self = *static_cast<const Record*>(context);
            if (c > 0) {
                self.record->levels.insert(self.record->levels.end(), v, v + self.n);
                self.record->selected.insert(self.record->selected.end(), marks, marks + self.n);
                self.record->starts.push_back(static_cast<int64_t>(a));
                self.record->lengths.push_back(static_cast<int64_t>(b - a));
            }
        }
    } record{selectionRecord, n};
    if (selectionRecord) {
        selection.SetObserver(&Record::Keep, &record);
    }
    selection.Choose(x.data(), length);
    selection.Hold(x.data(), 0, n);
}

double Analyzer::InteractionCoeff() {
    return InteractionFactor(parameters);
}

std::vector<double> Analyzer::InteractionWeights() {
    return ::InteractionWeights(InteractionFactor(parameters), ChannelCount());
}

void Analyzer::InteractionChannels() {
    const uint32_t n = ChannelCount();
    const uint32_t length = envelopes->GetSignal(0)->GetLength();

    // The mixed envelopes carry the analyzer's rate; an envelope that came with another one is
    // copied into a signal at this rate first (one at a time, so at most one extra copy).
    for (uint32_t i = 0; i < n; i++) {
        Signal* old = envelopes->GetSignal(i);
        if (old->GetSampleRate() != sampleRate) {
            Signal* copy = new Signal(length, sampleRate);
            std::copy(old->GetSamples(), old->GetSamples() + length, copy->GetSamples());
            envelopes->SetSignal(i, copy);
            delete old;
        }
    }
    // The spread stage, in place, a stretch of time per task (each sample is mixed on its own),
    // so the envelopes are never held twice.
    const stages::Plan plan = StagePlan();
    std::vector<double*> channels(n);
    for (uint32_t i = 0; i < n; i++) {
        channels[i] = envelopes->GetSignal(i)->GetSamples();
    }
    const uint32_t stretch = 1 << 14;
    Loop((length + stretch - 1) / stretch, [&](uint32_t k) {
        const uint32_t first = k * stretch;
        stages::Spread(plan, channels.data(), first, std::min(first + stretch, length));
    });
}
