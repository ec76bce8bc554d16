#pragma once

#include <cstdint>
#include <memory>

#include "dsp/FilterIIR.h"
#include "signal/DSP.h"

// Envelope of one band by an order-3 Butterworth band-pass, full-wave rectification and a
// 350 Hz order-2 low-pass. The low-pass keeps no state between runs, so one object serves every
// detector: the first detector to exist creates it, the last one to go deletes it.
class RectLP_IIR_Detector : public EnvelopeDetector {
public:
    RectLP_IIR_Detector(double low_freq, double high_freq, unsigned long sample_rate);
    RectLP_IIR_Detector(const RectLP_IIR_Detector&) = delete;
    RectLP_IIR_Detector& operator=(const RectLP_IIR_Detector&) = delete;
    ~RectLP_IIR_Detector() override;

    Signal* Run(Signal* input) override;

    // The number of live detectors and the shared low-pass (null while there are none).
    static int32_t GetNumInstances() { return num_instances; }
    static const LP_FilterIIR* GetSharedLowPass() { return filter_lp; }

private:
    std::unique_ptr<BP_FilterIIR> filter_bp;

    static int32_t num_instances;
    static LP_FilterIIR* filter_lp;  // owned by the class as a whole
};
