#pragma once

#include <cihear/cihear.h>

#include <cstddef>

#include "params/Parameter.h"

// The coding strategy's thirteen parameters of one run (the implant models' parameters reach
// the plan through cihear::Settings alone). The object owns its members; each member
// points back to the object that holds it, which is how the constrained members reach their
// siblings. The declaration order below is the order of construction, copying, re-pointing and
// of setting the members from the command line; the constraints depend on it.
class Parameters {
public:
    Parameters();
    Parameters(const Parameters& other);
    Parameters& operator=(const Parameters& other);
    ~Parameters();

    // The members' values as settings (the models' parameters at their defaults).
    cihear::Settings GetSettings() const;

    ParameterDouble* rate = nullptr;
    ParameterFmin* f_min = nullptr;
    ParameterFmax* f_max = nullptr;
    ParameterDouble* length_ci = nullptr;
    ParameterNChanCi* n_chan_ci = nullptr;
    ParameterNInsertedCh* n_inserted_ch = nullptr;
    ParameterNon* n_on = nullptr;
    ParameterDouble* interact_decay = nullptr;
    ParameterUnsigned* envelope_detection = nullptr;
    ParameterDouble* synchronization = nullptr;
    ParameterBool* eas = nullptr;
    ParameterCutoffFreq* cutoff_freq = nullptr;
    ParameterBool* freq_shift = nullptr;

private:
    // An object with no members yet. The public constructors delegate to it so that, should an
    // allocation fail half-way, the destructor runs and frees the members already made.
    explicit Parameters(std::nullptr_t) {}
};
