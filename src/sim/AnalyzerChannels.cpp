// N-of-M channel selection and the current spread between electrodes: the two steps of the
// coding strategy that work across channels.

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/Kernels.h"
#include "dsp/Parallel.h"
#include "params/Parameters.h"
#include "sim/Analyzer.h"
#include "sim/BandLayout.h"
#include "sim/Selection.h"

void Analyzer::N_of_M() {
    const uint32_t n = ChannelCount();
    const uint32_t length = envelopes->GetSignal(0)->GetLength();
    const double rate = parameters->rate->GetValue();
    const double fs = static_cast<double>(sampleRate);
    const uint32_t nOn = parameters->n_on->GetValue();

    // The last two frames are never reached, so the tail keeps its values. An envelope shorter
    // than one stimulation period gives a negative count: no cycle, nothing changes.
    const double cycleCount = std::floor(length * (rate / fs) - 1.0);
    if (!(cycleCount > 0.0)) {
        return;
    }
    const int64_t cycles = static_cast<int64_t>(cycleCount);

    std::vector<double*> x(n);
    for (uint32_t ch = 0; ch < n; ch++) {
        x[ch] = envelopes->GetSignal(ch)->GetSamples();
    }
    std::vector<uint32_t> marks(n);
    std::vector<double> values(n);  // every channel's sample at a
    // Carried across passes and cycles: a pass that finds no candidate marks the last pick again.
    int32_t selected = 0;
    int64_t a = 0;
    for (int64_t c = 0; c < cycles; c++) {
        // Cycle 0 has an empty frame but still selects (and zeroes) at sample 0.
        const int64_t b = static_cast<int64_t>(std::floor(c * (fs / rate)));
        for (uint32_t ch = 0; ch < n; ch++) {
            values[ch] = x[ch][a];
        }
        MarkStrongest(values.data(), n, nOn, selected, marks);
        for (uint32_t ch = 0; ch < n; ch++) {
            if (!marks[ch]) {
                x[ch][a] = 0.0;
            }
            if (selectionRecord && c > 0) {
                selectionRecord->levels.push_back(x[ch][a]);
                selectionRecord->selected.push_back(marks[ch]);
            }
            if (b > a) {
                std::fill(x[ch] + a, x[ch] + b, x[ch][a]);
            }
        }
        if (selectionRecord && c > 0) {
            selectionRecord->starts.push_back(a);
            selectionRecord->lengths.push_back(b - a);
        }
        a = b;
    }
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
    const std::vector<double> w = InteractionWeights();

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
    // Mixed in place, block by block, so the envelopes are never held twice. Every sample's
    // sum runs over the sources in ascending order, the own channel in its place.
    // Each sample is mixed on its own, so the threads take stretches of time.
    const uint32_t stretch = 1 << 14;
    parallel::For(threads, (length + stretch - 1) / stretch, [&](uint32_t k) {
        const uint32_t first = k * stretch;
        std::vector<double*> channels(n);
        for (uint32_t i = 0; i < n; i++) {
            channels[i] = envelopes->GetSignal(i)->GetSamples() + first;
        }
        kernels::MixChannels(w.data(), channels.data(), n, std::min(stretch, length - first));
    });
}
