#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "signal/Signal.h"

// Fills samples[0 .. count) with the next count samples of a signal; false when it cannot.
using SampleSource = std::function<bool(double* samples, uint32_t count)>;

// The rate conversion of Resampler::Run(input, target) for an input of `length` samples at
// `source` Hz that arrives piece by piece from `next`: the same samples, length and rate, bit for
// bit, while only the result is held whole. The input is asked for in pieces of at most `block`
// samples, and the held and filtered signal is worked on in pieces of at most `block` samples.
// Every input sample is asked for, even when the conversion is impossible (its result is then
// empty, as Resampler's is). Returns nullptr when `next` fails.
std::unique_ptr<Signal> ResampleInBlocks(uint32_t length, uint32_t source, uint32_t target,
                                         const SampleSource& next, uint32_t block = 1 << 16);
