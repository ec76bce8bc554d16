#include "params/ValueKinds.h"

#include <cmath>

namespace params {

std::vector<std::string> ChoiceNames(const cihear::ParameterInfo& info) {
    std::vector<std::string> names;
    if (info.kind != cihear::ValueKind::kChoice) {
        return names;
    }
    const std::string all = info.choices;
    size_t start = 0;
    for (size_t bar = all.find('|'); bar != std::string::npos; bar = all.find('|', start)) {
        names.push_back(all.substr(start, bar - start));
        start = bar + 1;
    }
    names.push_back(all.substr(start));
    return names;
}

std::optional<unsigned> FindChoice(const cihear::ParameterInfo& info, const std::string& name) {
    const std::vector<std::string> names = ChoiceNames(info);
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return static_cast<unsigned>(i);
        }
    }
    return std::nullopt;
}

std::string ListRefusal(const cihear::ParameterInfo& info, const std::vector<double>& values) {
    for (size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        if (!std::isfinite(v) || v < info.min || v > info.max) {
            return "value " + std::to_string(i + 1) + " of " + info.name +
                   " is not a finite number within its bounds";
        }
    }
    return "";
}

}  // namespace params
