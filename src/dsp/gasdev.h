#pragma once

#include <cstdint>

// The process-wide random source of the synthesis.
//
// ran1: uniform deviates in (0, 1) from the Park-Miller minimal-standard generator
// (x <- 16807 x mod 2^31 - 1, Schrage's factorisation) behind a 32-entry Bays-Durham shuffle.
// *seed is the generator state; a state <= 0, or the very first call, (re)initialises the table.
float ran1(int32_t* seed);

// gasdev: standard normal deviates by the polar Box-Muller transform, two per pair of accepted
// uniforms; the second of a pair is kept and returned by the next call.
float gasdev(int32_t* seed);

// randn: gasdev on a static seed that starts at 0, so every run draws the same sequence.
double randn();

// randn_fill: the next count values of randn(), the same as count calls of randn() and leaving
// the same state behind, written to out.
void randn_fill(double* out, uint32_t count);
