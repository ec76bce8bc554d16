#pragma once

#include <cihear/cihear.h>

namespace params {

// The rules between the parameters, as one pure function: the effective settings for the
// requested ones. Each requested value is taken, in the list's order, onto the defaults when it
// lies within its fixed bounds (a NaN never does); otherwise the default, or what an earlier
// value made of it, stays. Taking a value applies its consequences at once:
//   - f_max may not lie below f_min (below cutoff_freq while eas is on) nor below 500 Hz;
//   - f_min or cutoff_freq raised above f_max pushes f_max up with it;
//   - n_chan_ci caps n_inserted_ch, and n_inserted_ch caps n_on;
// then the implant models' consequences (ResolveModels): a map's or the list's band edges set
// the channel counts, f_min and f_max; switched-off electrodes cap n_on.
// The strict and the compatible setups (ApplyStrict, ApplyCompatible) are two policies around
// it: which values reach it, and what is reported.
cihear::Settings Resolve(const cihear::Settings& requested);

}  // namespace params
