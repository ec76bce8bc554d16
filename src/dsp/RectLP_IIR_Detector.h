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

    // The detection in place on samples start .. start+m-1 of a signal: band-pass (coefficients
    // bpA, bpB, bpCount), rectify, low-pass (lpA, lpB, lpCount), each filter carrying its state
    // (16 doubles, zero at the start: kernels::FilterChannelsFrom) from call to call.
    static void Detect(const double* bpA, const double* bpB, uint32_t bpCount, const double* lpA,
                       const double* lpB, uint32_t lpCount, double* x, uint32_t m, uint64_t start,
                       double* bpState, double* lpState);

    const LP_FilterIIR* GetLowPass() const { return filter_lp.get(); }
    // The band filter: the band-pass, or a high-pass for a band reaching the Nyquist frequency.
    const FilterIIR* GetBandPass() const { return filter_bp.get(); }

private:
    std::unique_ptr<FilterIIR> filter_bp;
    std::unique_ptr<LP_FilterIIR> filter_lp;
};
