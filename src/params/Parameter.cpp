#include "params/Parameter.h"

#include "params/Parameters.h"

namespace {

// A raised lower edge of the spectral range drags the upper edge along. f_max may refuse (it is
// capped at its own maximum); the caller's change stands either way.
void RaiseFmaxTo(Parameters* parameters, double edge) {
    if (edge > parameters->f_max->GetValue()) {
        parameters->f_max->SetValue(edge);
    }
}

// A channel count caps the count that depends on it. This runs after every attempt to set the
// upper count, stored or refused, so the pair is always brought back in order.
void LowerTo(ParameterUnsigned* dependent, uint32_t cap) {
    if (cap < dependent->GetValue()) {
        dependent->SetValue(cap);
    }
}

}  // namespace

bool ParameterDouble::SetValue(double v) {
    // Written as two "admit" tests so that a NaN, which compares false with everything, is
    // refused. GetMax is consulted only when the lower bound holds.
    if (v >= GetMin() && GetMax() >= v) {
        value = v;
        return true;
    }
    return false;
}

bool ParameterUnsigned::SetValue(unsigned v) {
    if (v < min || v > max) {
        return false;
    }
    value = v;
    return true;
}

bool ParameterBool::SetValue(bool b) {
    value = b;
    return true;
}

bool ParameterFmin::SetValue(double v) {
    // The plain bounds test; it also keeps a NaN out, which has no meaning as a frequency and
    // would otherwise pass both "out of range" comparisons.
    if (!ParameterDouble::SetValue(v)) {
        return false;
    }
    RaiseFmaxTo(parameters, value);
    return true;
}

double ParameterFmax::GetMin() const {
    const double lowerEdge = parameters->eas->GetValue() ? parameters->cutoff_freq->GetValue()
                                                         : parameters->f_min->GetValue();
    return min > lowerEdge ? min : lowerEdge;
}

bool ParameterCutoffFreq::SetValue(double v) {
    const bool ok = ParameterDouble::SetValue(v);
    if (ok) {
        RaiseFmaxTo(parameters, v);
    }
    return ok;
}

bool ParameterNChanCi::SetValue(unsigned v) {
    const bool ok = ParameterUnsigned::SetValue(v);
    LowerTo(parameters->n_inserted_ch, value);
    return ok;
}

uint32_t ParameterNInsertedCh::GetMax() const {
    return parameters->n_chan_ci->GetValue();
}

bool ParameterNInsertedCh::SetValue(unsigned v) {
    const bool ok = ParameterUnsigned::SetValue(v);
    LowerTo(parameters->n_on, value);
    return ok;
}

uint32_t ParameterNon::GetMax() const {
    return parameters->n_inserted_ch->GetValue();
}
