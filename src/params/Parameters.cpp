#include "params/Parameters.h"

#include <cihear/cihear.h>

#include <type_traits>

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

}  // namespace

// The defaults and fixed bounds come from the parameter table. The defaults satisfy every
// constraint between members, so they are stored as they are, without going through SetValue.
Parameters::Parameters() : Parameters(nullptr) {
    const std::vector<cihear::ParameterInfo>& t = cihear::ParameterTable();
    const auto real = [&t, this](auto*& member, size_t i) {
        member = new std::remove_reference_t<decltype(*member)>(this, t[i].defaultValue, t[i].min,
                                                                t[i].max);
    };
    const auto count = [&t, this](auto*& member, size_t i) {
        member = new std::remove_reference_t<decltype(*member)>(
            this, static_cast<unsigned>(t[i].defaultValue), static_cast<unsigned>(t[i].min),
            static_cast<unsigned>(t[i].max));
    };
    real(rate, 0);
    real(f_min, 1);
    real(f_max, 2);
    real(length_ci, 3);
    count(n_chan_ci, 4);
    count(n_inserted_ch, 5);
    count(n_on, 6);
    real(interact_decay, 7);
    count(envelope_detection, 8);
    real(synchronization, 9);
    eas = new ParameterBool(this, t[10].defaultValue != 0);
    real(cutoff_freq, 11);
    freq_shift = new ParameterBool(this, t[12].defaultValue != 0);
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
