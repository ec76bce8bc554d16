#pragma once

#include <cstdint>
#include <memory>

#include "dsp/FilterIIR.h"
#include "signal/DSP.h"

// Envelope of one band by an order-3 Butterworth band-pass (a high-pass at the lower edge when
// the band reaches the Nyquist frequency), full-wave rectification and a 350 Hz order-2
// low-pass designed at the detector's own sample rate.
class RectLP_IIR_Detector : public EnvelopeDetector {
public:
    RectLP_IIR_Detector(double low_freq, double high_freq, unsigned long sample_rate);
    RectLP_IIR_Detector(const RectLP_IIR_Detector&) = delete;
    RectLP_IIR_Detector& operator=(const RectLP_IIR_Detector&) = delete;
    ~RectLP_IIR_Detector() override;

    Signal* Run(Signal* input) override;

    const LP_FilterIIR* GetLowPass() const { return filter_lp.get(); }
    // The band filter: the band-pass, or a high-pass for a band reaching the Nyquist frequency.
    const FilterIIR* GetBandPass() const { return filter_bp.get(); }

private:
    std::unique_ptr<FilterIIR> filter_bp;
    std::unique_ptr<LP_FilterIIR> filter_lp;
};
