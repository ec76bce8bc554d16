#include "params/Parameters.h"

#include <cihear/cihear.h>

#include <type_traits>

namespace {

// Calls f once per member position, in member order, with the member at that position of each
// object given: f(a.rate, b.rate), f(a.f_min, b.f_min), ...
template <class F, class... P>
void ForEachMember(F f, P&... objects) {
#define CIHEAR_EACH_MEMBER(name, ...) f(objects.name...);
    CIHEAR_STRATEGY_PARAMETERS(CIHEAR_EACH_MEMBER)
#undef CIHEAR_EACH_MEMBER
}

void PointMembersTo(Parameters& owner) {
    ForEachMember([&owner](auto* member) { member->SetParameters(&owner); }, owner);
}

}  // namespace

// The defaults and fixed bounds come from the parameter table. The defaults satisfy every
// constraint between members, so they are stored as they are, without going through SetValue.
Parameters::Parameters() : Parameters(nullptr) {
    const std::vector<cihear::ParameterInfo>& t = cihear::ParameterTable();
    size_t i = 0;
    ForEachMember(
        [&t, &i, this](auto*& member) {
            using M = std::remove_reference_t<decltype(*member)>;
            const cihear::ParameterInfo& info = t[i++];
            if constexpr (std::is_same_v<M, ParameterBool>) {
                member = new M(this, info.defaultValue != 0);
            } else if constexpr (std::is_base_of_v<ParameterUnsigned, M>) {
                member = new M(this, static_cast<unsigned>(info.defaultValue),
                               static_cast<unsigned>(info.min), static_cast<unsigned>(info.max));
            } else {
                member = new M(this, info.defaultValue, info.min, info.max);
            }
        },
        *this);
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

cihear::Settings Parameters::GetSettings() const {
    cihear::Settings s;
#define CIHEAR_READ_MEMBER(name, ...) s.name = name->GetValue();
    CIHEAR_STRATEGY_PARAMETERS(CIHEAR_READ_MEMBER)
#undef CIHEAR_READ_MEMBER
    return s;
}
