// The kernel declarations, included once inside each kernel namespace (see Kernels.h); no
// include guard on purpose. Input and output arrays must not overlap unless said otherwise.

// The 100-tap FIR: y[n] = 0 for n < 100, then y[n] = the sum of x[n-k]*h[k] accumulated from 0
// in increasing k (each step x[n-k]*h[k] + y).
void Convolve(const double* h, const double* x, double* y, uint32_t length);

// sum[n] = sum[n] + y[n] for every n, y being the Convolve output of h on x.
void ConvolveAdd(const double* h, const double* x, double* sum, uint32_t length);

// Magnitude of a quadrature pair: env[n] = sqrt(s[n]*s[n] + c[n]*c[n]), s and c being the
// Convolve outputs of the taps hs and hc on x.
void QuadratureMagnitude(const double* hs, const double* hc, const double* x, double* env,
                         uint32_t length);

// The FilterIIR difference equation (coefficients a, b; num_coeffs at most 7) run on each of
// `count` signals of `length` samples, in place: channels[c] becomes its filtered self.
void FilterChannels(const double* a, const double* b, uint32_t num_coeffs, double* const* channels,
                    uint32_t count, uint32_t length);

// FilterChannels continued across calls: channels[c] holds the samples start .. start+length-1
// of a signal whose earlier samples went through earlier calls; state (16 doubles per channel,
// zero before the first call) carries each channel's last 7 inputs (state[16c + k] = x[n-k]) and
// outputs (state[16c + 8 + k] = y[n-k]) from call to call. Outputs before sample num_coeffs
// are 0. Any split of a signal gives the samples of one FilterChannels call on the whole.
void FilterChannelsFrom(const double* a, const double* b, uint32_t num_coeffs,
                        double* const* channels, uint32_t count, uint32_t length, uint64_t start,
                        double* state);

// Current spread, in place: channel i becomes the sum over the sources s = 0, 1, ... of
// source_s[j] * w[d], d = |s - i| or, with positions, |positions[s] - positions[i]| (the
// channels' electrodes when some are switched off), accumulated from 0 in ascending s.
void MixChannels(const double* w, double* const* channels, uint32_t count, uint32_t length,
                 const uint32_t* positions = nullptr);

// Pulse train on the strict local maxima of x[250 .. length-251]: each pulse is 1 over the
// number of maxima within 250 samples on either side of it; every other p[n] is 0.
void PulseTrain(const double* x, double* p, uint32_t length);

// The next count values of randn(state), in order, into out; the state moves on exactly as
// count calls of randn(state) would move it.
void Randn(RandomState& state, double* out, uint32_t count);
