// cihear._core.Stream: the causal stream (cihear::Stream) for Python.
#include <cihear/cihear.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "convert.h"

namespace py = pybind11;
using namespace cihear_python;

namespace {

double Gain(const py::handle& value, const char* name) {
    if (py::isinstance<py::bool_>(value) || py::isinstance<py::str>(value) ||
        !PyNumber_Check(value.ptr())) {
        throw py::type_error(std::string(name) + " must be a number, not " +
                             std::string(py::str(value.get_type().attr("__name__"))));
    }
    const double v = py::float_(py::reinterpret_borrow<py::object>(value));
    if (!std::isfinite(v)) {
        throw py::value_error(std::string(name) + " = " + std::to_string(v) +
                              " is not a finite number");
    }
    return v;
}

// A block of samples: any 1-D array of real numbers, taken as float64; finite only.
py::array_t<double, py::array::c_style> Block(const py::object& block) {
    const auto a = py::array::ensure(block);
    if (!a) {
        throw py::type_error("a block must be a numpy array (or convertible to one), not " +
                             std::string(py::str(block.get_type().attr("__name__"))));
    }
    const char kind = a.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u') {
        throw py::type_error("a block's samples must be real numbers, not " +
                             a.dtype().attr("name").cast<std::string>());
    }
    if (a.ndim() != 1) {
        throw py::value_error("a block must be 1-D (samples,), not of " + std::to_string(a.ndim()) +
                              " dimensions");
    }
    auto x = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
    const double* p = x.data();
    for (py::ssize_t i = 0; i < x.size(); i++) {
        if (!std::isfinite(p[i])) {
            RaiseNotFinite("block", "sample", static_cast<size_t>(i));
        }
    }
    return x;
}

class PyStream {
public:
    PyStream(const py::object& warning, py::kwargs kwargs) {
        py::dict parameters(kwargs);
        cihear::StreamOptions options;
        auto Take = [&](const char* name) -> py::object {
            if (!parameters.contains(name)) {
                return py::none();
            }
            py::object v = parameters[name];
            PyDict_DelItemString(parameters.ptr(), name);
            return v;
        };
        const py::object seed = Take("seed");
        const py::object inputGain = Take("input_gain");
        const py::object outputGain = Take("output_gain");
        const py::object level = Take("stacklevel");
        if (!seed.is_none()) {
            if (py::isinstance<py::bool_>(seed) || !PyIndex_Check(seed.ptr())) {
                throw py::type_error("seed must be None or a whole number");
            }
            const py::int_ value(seed);
            if (value < py::int_(0) || value > py::int_(cihear::kMaxSeed)) {
                throw py::value_error("seed = " + py::repr(value).cast<std::string>() +
                                      " is out of range; accepted: None or 0 to " +
                                      std::to_string(cihear::kMaxSeed));
            }
            options.seed = value.cast<int64_t>();
        }
        if (!inputGain.is_none()) {
            options.inputGain = Gain(inputGain, "input_gain");
        }
        if (!outputGain.is_none()) {
            options.outputGain = Gain(outputGain, "output_gain");
        }
        const int stacklevel = level.is_none() ? 1 : level.cast<int>();
        stream = std::make_unique<cihear::Stream>(StrictSettings(parameters, warning, stacklevel),
                                                  options);
    }

    py::array_t<double> Process(const py::object& block) {
        const auto x = Block(block);
        py::array_t<double> out(x.size());
        const double* in = x.data();
        double* o = out.mutable_data();
        {
            py::gil_scoped_release release;
            stream->Process(in, static_cast<size_t>(x.size()), o);
        }
        return out;
    }

    py::array_t<double> Flush() {
        py::array_t<double> out(static_cast<py::ssize_t>(stream->Latency()));
        double* o = out.mutable_data();
        {
            py::gil_scoped_release release;
            stream->Flush(o);
        }
        return out;
    }

    cihear::Stream& Get() { return *stream; }

private:
    std::unique_ptr<cihear::Stream> stream;
};

}  // namespace

void RegisterStream(py::module_& m) {
    const py::object warning = m.attr("CascadeWarning");
    py::class_<PyStream>(
        m, "Stream",
        R"(Stream(*, seed=None, input_gain=1.0, output_gain=1.5, stacklevel=1, **parameters)

The simulation as a causal stream at OUTPUT_RATE Hz, for sound that arrives in blocks. The
parameters are those of simulate(), validated as strictly. process(block) takes any number of
samples at OUTPUT_RATE Hz and returns as many, delayed by `latency` samples against simulate();
flush() returns the last `latency` samples. The input is not peak-normalised but multiplied by
input_gain; the output is the channels' sum times output_gain (1.5 puts speech at -20 dBFS RMS
in at about -20 dBFS RMS out), clamped to [-1, 1] (`clipped` counts the clamped samples). Each
channel's noise comes from its own sequence (set by seed), and each pulse train's gain from the
energies since the start. simulate(x, OUTPUT_RATE, live=True, ...) equals process(x) followed
by flush().)")
        .def(py::init([warning](py::kwargs kwargs) {
            return std::make_unique<PyStream>(warning, std::move(kwargs));
        }))
        .def("process", &PyStream::Process, py::arg("block"),
             "The next len(block) output samples (float64) for a 1-D block of real samples; "
             "NaN and infinity are refused.")
        .def("flush", &PyStream::Flush,
             "The tail: `latency` output samples, as if that many zeros were processed.")
        .def(
            "reset", [](PyStream& s) { s.Get().Reset(); }, "Back to the state after creation.")
        .def_property_readonly(
            "latency", [](PyStream& s) { return s.Get().Latency(); },
            "The delay in samples at OUTPUT_RATE Hz.")
        .def_property_readonly(
            "clipped", [](PyStream& s) { return s.Get().Clipped(); },
            "Output samples clamped to [-1, 1] since creation or the last reset().")
        .def_property_readonly(
            "settings", [](PyStream& s) { return SettingsDict(s.Get().GetSettings()); },
            "The effective settings.");
}
