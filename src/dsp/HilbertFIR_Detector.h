#pragma once

#include <memory>
#include <utility>

#include "dsp/FilterFIR.h"
#include "signal/DSP.h"

// Envelope of one band as the magnitude of its analytic signal: the band's quadrature pair of
// FIR filters gives the two components. The envelope lags the input by the filters' 50 samples
// and its first 100 samples are 0.
class HilbertFIR_Detector : public EnvelopeDetector {
public:
    HilbertFIR_Detector(double bandwidth, double center_freq, unsigned long sample_rate);
    HilbertFIR_Detector(const HilbertFIR_Detector&) = delete;
    HilbertFIR_Detector& operator=(const HilbertFIR_Detector&) = delete;
    ~HilbertFIR_Detector() override;

    Signal* Run(Signal* input) override;

    const FilterHilbertSin& GetSineFilter() const { return *filters.first; }
    const FilterHilbertCos& GetCosineFilter() const { return *filters.second; }

private:
    // The sine filter first, then the cosine filter of the same band. Held by their own final
    // classes, since the engine they share is not deleted through its base.
    std::pair<std::unique_ptr<FilterHilbertSin>, std::unique_ptr<FilterHilbertCos>> filters;
};
