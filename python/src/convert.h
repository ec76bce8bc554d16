// Conversions between the library's values and Python objects for the _core module.
#pragma once

#include <cihear/cihear.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

namespace cihear_python {

namespace py = pybind11;

// The mono samples the engine simulates, from a 1-D or 2-D stereo numpy-convertible signal of
// int16 (taken as the program takes 16-bit samples) or float32/float64 (taken as they are).
std::vector<double> MonoSamples(const py::handle& signal);

// The ValueError for a sample that is not a finite number, in the library's words: `what` holds
// one ("signal", "block"), first at `unit` ("frame", "sample") `index`.
[[noreturn]] void RaiseNotFinite(const char* what, const char* unit, size_t index);

// A whole sample rate in Hz, from an int or a whole float.
uint32_t SampleRate(const py::handle& rate);

// name/value pairs from keyword arguments: a number for a number's parameter (never a string;
// a bool for a switch only), a str for a choice, a number or a 1-D sequence or array of
// numbers for a list (None: no list, the default); a TypeError for any other value.
std::vector<std::pair<std::string, cihear::Value>> ParameterValues(const py::dict& parameters);

// ApplyStrict, with every error raised together as one ValueError and every cascade issued
// as a CascadeWarning `stacklevel` frames up.
cihear::Settings StrictSettings(const py::dict& parameters, const py::handle& warningClass,
                                int stacklevel);

// A parameter's value as Python gives it: a float, an int (a count), a bool (a switch), a str (a
// choice's name) or a list of floats.
py::object ValueObject(const cihear::ParameterInfo& info, const cihear::Value& value);
py::object ParameterObject(const cihear::Settings& settings, const cihear::ParameterInfo& info);
py::dict SettingsDict(const cihear::Settings& settings);
py::dict DesignDict(const cihear::Design& design);
// `envelopes`: whether they were asked for (else the entry is None).
py::dict InspectionDict(cihear::Inspection&& inspection, bool envelopes);

// A numpy array that owns `values` without copying them.
template <class T>
py::array_t<T> Owned(std::vector<T>&& values, std::vector<py::ssize_t> shape) {
    auto* held = new std::vector<T>(std::move(values));
    py::capsule owner(held, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    return py::array_t<T>(shape, held->data(), owner);
}

}  // namespace cihear_python
