#include "params/Parameters.h"

namespace {

// Calls f once per member position, in member order, with the member at that position of each
// object given: f(a.rate, b.rate), f(a.f_min, b.f_min), ...
template <class F, class... P>
void ForEachMember(F f, P&... objects) {
    f(objects.rate...);
    f(objects.f_min...);
    f(objects.f_max...);
    f(objects.length_ci...);
    f(objects.n_chan_ci...);
    f(objects.n_inserted_ch...);
    f(objects.n_on...);
    f(objects.interact_decay...);
    f(objects.envelope_detection...);
    f(objects.synchronization...);
    f(objects.eas...);
    f(objects.cutoff_freq...);
    f(objects.freq_shift...);
}

void PointMembersTo(Parameters& owner) {
    ForEachMember([&owner](auto* member) { member->SetParameters(&owner); }, owner);
}

const char* YesNo(bool on) {
    // "S" followed by the UTF-8 encoding of U+FFFD.
    return on ? "S\xEF\xBF\xBD" : "No";
}

}  // namespace

// The defaults agree with the command line's and satisfy every constraint between members,
// so they are stored as they are, without going through SetValue.
Parameters::Parameters() : Parameters(nullptr) {
    rate = new ParameterDouble(this, 1800, 10, 10000);
    f_min = new ParameterFmin(this, 300, 20, 5000);
    f_max = new ParameterFmax(this, 8500, 500, 10000);
    length_ci = new ParameterDouble(this, 30, 1, 30);
    n_chan_ci = new ParameterNChanCi(this, 12, 1, 50);
    n_inserted_ch = new ParameterNInsertedCh(this, 12, 1, 50);
    n_on = new ParameterNon(this, 12, 1, 50);
    interact_decay = new ParameterDouble(this, 2, 0.0001, 100);
    envelope_detection = new ParameterUnsigned(this, 0, 0, 1);
    synchronization = new ParameterDouble(this, 1, 0, 1);
    eas = new ParameterBool(this, false);
    cutoff_freq = new ParameterCutoffFreq(this, 2000, 20, 5000);
    freq_shift = new ParameterBool(this, false);
}

Parameters::Parameters(const Parameters& other) : Parameters(nullptr) {
    // Each copy has its source's class and, until re-pointed, its source's back-pointer.
    ForEachMember([](auto*& mine, auto* theirs) { mine = new auto(*theirs); }, *this, other);
    PointMembersTo(*this);
}

Parameters& Parameters::operator=(const Parameters& other) {
    if (&other != this) {
        ForEachMember([](auto* mine, auto* theirs) { *mine = *theirs; }, *this, other);
    }
    PointMembersTo(*this);
    return *this;
}

Parameters::~Parameters() {
    ForEachMember([](auto* member) { delete member; }, *this);
}

double Parameters::InterpolateParameter(unsigned i, double a, double b) const {
    const uint32_t n = n_inserted_ch->GetValue();
    if (n > 1) {
        const double step = (a - b) / static_cast<double>(n - 1);
        return static_cast<double>(i) * step + b;
    }
    return (b + a) / 2;
}

const char* Parameters::GetTextEnvelopeDetection() const {
    return envelope_detection->GetValue() == 0 ? "Hilbert + FIR" : "Rect-LP + IIR";
}

const char* Parameters::GetTextEAS() const {
    return YesNo(eas->GetValue());
}

const char* Parameters::GetTextFrequencyShift() const {
    return YesNo(freq_shift->GetValue());
}
