#pragma once

#include <cstdint>

// The random source of the synthesis. Every sequence is a RandomState its owner keeps (a
// simulation, a generator, a test); nothing is shared between them.
//
// Everything a random sequence carries between draws: randn's seed (the generator state), the
// shuffle table and its last output, and the deviate gasdev keeps for its next call. A
// value-initialised state draws what a fresh process draws.
struct RandomState {
    int32_t seed = 0;
    int32_t iy = 0;
    int32_t iv[32] = {};
    int iset = 0;
    float gset = 0.0f;
};

// A state whose sequence is set by seed (0 .. 2^31 - 5), different from a fresh state's and
// from every other seed's in that range.
RandomState SeededRandomState(int64_t seed);

// ran1: uniform deviates in (0, 1) from the Park-Miller minimal-standard generator
// (x <- 16807 x mod 2^31 - 1, Schrage's factorisation) behind a 32-entry Bays-Durham shuffle.
// *seed is the generator state and `table` holds the shuffle; a state <= 0, or the first call on
// a table, (re)initialises the table.
float ran1(RandomState& table, int32_t* seed);

// gasdev: standard normal deviates by the polar Box-Muller transform, two per pair of accepted
// uniforms; the second of a pair is kept and returned by the next call.
float gasdev(RandomState& state, int32_t* seed);

// randn: gasdev on the state's own seed, which starts at 0, so a fresh state always draws the
// same sequence.
double randn(RandomState& state);

// randn_fill: the next count values of randn(state), the same as count calls of it and leaving
// the same state behind, written to out.
void randn_fill(RandomState& state, double* out, uint32_t count);
