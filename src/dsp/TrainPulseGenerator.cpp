#include "dsp/TrainPulseGenerator.h"

#include "dsp/Kernels.h"

TrainPulseGenerator::TrainPulseGenerator(Signal* source) : source(source) {}

Signal* TrainPulseGenerator::Generate() {
    Signal* pulses = new Signal(source->GetLength(), source->GetSampleRate());
    kernels::PulseTrain(source->GetSamples(), pulses->GetSamples(), source->GetLength());
    return pulses;
}
