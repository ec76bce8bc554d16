// Values as front ends give them: numbers, choices' names and lists, read from text, written
// as text, checked against a parameter's fixed bounds and stored in a Settings field.
#include "params/ValueText.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <type_traits>

#include "params/SettingsFields.h"
#include "params/ValueKinds.h"

namespace params {

using cihear::ParameterInfo;
using cihear::Value;
using cihear::ValueKind;

std::string Number(double v) {
    std::ostringstream text;
    text.precision(12);
    text << v;
    return text.str();
}

namespace {

// The shortest text that reads back to v, with all the digits of its whole part (1800, not
// 1.8e+03, which reads back too) up to 17 of them.
std::string Exact(double v) {
    const int whole = std::isfinite(v) && std::fabs(v) >= 1
                          ? static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1
                          : 1;
    for (int digits = std::min(std::max(whole, 1), 17); digits <= 17; digits++) {
        std::ostringstream text;
        text.precision(digits);
        text << v;
        if (std::strtod(text.str().c_str(), nullptr) == v) {
            return text.str();
        }
    }
    return Number(v);
}

std::string Names(const ParameterInfo& info) {
    std::string all;
    for (const std::string& name : ChoiceNames(info)) {
        all += (all.empty() ? "" : ", ") + name;
    }
    return all;
}

std::string Written(const Value& v) {
    if (v.kind == Value::Kind::kName) {
        return "'" + v.name + "'";
    }
    if (v.kind == Value::Kind::kNumber) {
        return Number(v.number);
    }
    std::string text;
    for (double x : v.list) {
        text += (text.empty() ? "" : ",") + Number(x);
    }
    return "[" + text + "]";
}

// Reads a whole text as one number.
bool ReadNumber(const std::string& text, double& v) {
    const char* start = text.c_str();
    char* end = nullptr;
    v = std::strtod(start, &end);
    while (end && *end == ' ') {
        end++;
    }
    return end != start && end && *end == '\0';
}

void Store(const Value& v, double& field) {
    field = v.number;
}
void Store(const Value& v, unsigned& field) {
    field = static_cast<unsigned>(v.number);
}
void Store(const Value& v, bool& field) {
    field = v.number != 0.0;
}
void Store(const Value& v, std::vector<double>& field) {
    field = v.kind == Value::Kind::kList ? v.list : std::vector<double>{v.number};
}

}  // namespace

std::string Accepted(const ParameterInfo& info) {
    std::string text;
    if (info.kind == ValueKind::kChoice) {
        return "one of " + Names(info);
    }
    if (info.kind == ValueKind::kSwitch) {
        text = "0 (off) or 1 (on)";
    } else if (info.kind == ValueKind::kList) {
        text =
            "numbers from " + Number(info.min) + " to " + Number(info.max) + " separated by commas";
    } else {
        text = Number(info.min) + " to " + Number(info.max);
    }
    if (*info.bound) {
        text += ", " + std::string(info.bound);
    }
    if (*info.unit) {
        text += " (" + std::string(info.unit) + ")";
    }
    return text;
}

std::string Refusal(const ParameterInfo& info, const Value& v) {
    std::string why;
    if (info.kind == ValueKind::kChoice) {
        why = v.kind != Value::Kind::kName ? "is not a name"
              : FindChoice(info, v.name)   ? ""
                                           : "is unknown";
    } else if (info.kind == ValueKind::kList) {
        if (v.kind == Value::Kind::kName) {
            why = "is not a list of numbers";
        } else {
            const std::vector<double> list =
                v.kind == Value::Kind::kList ? v.list : std::vector<double>{v.number};
            for (size_t i = 0; i < list.size() && why.empty(); i++) {
                if (!ListRefusal(info, {list[i]}).empty()) {
                    why = "has " + Number(list[i]) + " (its item " + std::to_string(i + 1) +
                          "), which is not a finite number within the bounds";
                }
            }
        }
    } else if (v.kind != Value::Kind::kNumber) {
        why = "is not a number";
    } else if (!std::isfinite(v.number)) {
        why = "is not a finite number";
    } else if (info.kind != ValueKind::kReal && v.number != std::floor(v.number)) {
        why = info.kind == ValueKind::kSwitch ? "is not 0 or 1" : "is not a whole number";
    } else if (v.number < info.min || v.number > info.max) {
        why = "is out of range";
    }
    if (why.empty()) {
        return "";
    }
    return std::string(info.name) + " = " + Written(v) + " " + why +
           "; accepted: " + Accepted(info);
}

void Store(const ParameterInfo& info, const Value& v, cihear::Settings& settings) {
    ForEachSetting(settings, [&](const ParameterInfo& i, auto& field) {
        if (&i != &info) {
            return;
        }
        using T = std::remove_reference_t<decltype(field)>;
        if constexpr (std::is_same_v<T, unsigned>) {
            if (info.kind == ValueKind::kChoice) {
                field = *FindChoice(info, v.name);
                return;
            }
        }
        Store(v, field);
    });
}

}  // namespace params

namespace cihear {

Value GetParameter(const Settings& settings, const ParameterInfo& info) {
    Value value;
    ForEachSetting(settings, [&](const ParameterInfo& i, const auto& field) {
        if (&i != &info) {
            return;
        }
        using T = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<T, std::vector<double>>) {
            value = Value(field);
        } else if (info.kind == ValueKind::kChoice &&
                   static_cast<size_t>(field) < params::ChoiceNames(info).size()) {
            value = Value(params::ChoiceNames(info)[static_cast<size_t>(field)]);
        } else {  // a number, or a choice's index that names none (settings no setup made)
            value = Value(static_cast<double>(field));
        }
    });
    return value;
}

double GetValue(const Settings& settings, const ParameterInfo& info) {
    double value = 0;
    ForEachSetting(settings, [&](const ParameterInfo& i, const auto& field) {
        if (&i == &info) {
            using T = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<T, std::vector<double>>) {
                value = std::nan("");
            } else {
                value = static_cast<double>(field);
            }
        }
    });
    return value;
}

bool ParseValue(const ParameterInfo& info, const std::string& text, Value& value,
                std::string& error) {
    if (info.kind == ValueKind::kChoice) {
        value = Value(text);
    } else if (info.kind == ValueKind::kList) {
        std::vector<double> list;
        std::stringstream items(text);
        std::string item;
        while (std::getline(items, item, ',')) {
            double v = 0;
            if (!params::ReadNumber(item, v)) {
                error = std::string(info.name) + " = '" + text +
                        "' is not a list of numbers separated by commas; accepted: " +
                        params::Accepted(info);
                return false;
            }
            list.push_back(v);
        }
        value = Value(list);
    } else {
        double v = 0;
        if (!params::ReadNumber(text, v)) {
            error = std::string(info.name) + " = '" + text +
                    "' is not a number; accepted: " + params::Accepted(info);
            return false;
        }
        value = Value(v);
    }
    error = params::Refusal(info, value);
    return error.empty();
}

std::string FormatValue(const Settings& settings, const ParameterInfo& info) {
    const Value v = GetParameter(settings, info);
    if (v.kind == Value::Kind::kName) {
        return v.name;
    }
    if (v.kind == Value::Kind::kNumber) {
        return params::Exact(v.number);
    }
    std::string text;
    for (double x : v.list) {
        text += (text.empty() ? "" : ",") + params::Exact(x);
    }
    return text;
}

}  // namespace cihear
