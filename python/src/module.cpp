// cihear._core: the library (include/cihear/cihear.h) for Python. The public package wraps it.
#include <cihear/cihear.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <functional>
#include <optional>
#include <string>

#include "convert.h"
#include "params/Models.h"
#include "params/ValueText.h"

namespace py = pybind11;
using namespace cihear_python;

void RegisterStream(py::module_& m);  // stream.cpp

namespace {

const char* KindName(cihear::ValueKind kind) {
    switch (kind) {
        case cihear::ValueKind::kReal:
            return "real";
        case cihear::ValueKind::kCount:
            return "count";
        case cihear::ValueKind::kSwitch:
            return "switch";
        case cihear::ValueKind::kChoice:
            return "choice";
        case cihear::ValueKind::kList:
            return "list";
    }
    return "";
}

// A choice's names, in the order of their indices; empty for the other kinds.
py::list ChoiceNames(const cihear::ParameterInfo& info) {
    py::list names;
    const std::string all = info.choices;
    for (size_t start = 0; !all.empty();) {
        const size_t bar = all.find('|', start);
        names.append(all.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos) {
            break;
        }
        start = bar + 1;
    }
    return names;
}

py::list ParameterList() {
    const cihear::Settings defaults;
    py::list list;
    for (const cihear::ParameterInfo& info : cihear::ParameterTable()) {
        py::dict d;
        d["name"] = info.name;
        d["letter"] = info.letter ? py::object(py::str(std::string(1, info.letter))) : py::none();
        d["kind"] = KindName(info.kind);
        d["unit"] = info.unit;
        // The keyword's default: a number, a choice's name, or None for an empty list.
        d["default"] =
            info.kind == cihear::ValueKind::kList ? py::none() : ParameterObject(defaults, info);
        d["min"] = info.min;
        d["max"] = info.max;
        d["bound"] = info.bound;
        d["summary"] = info.summary;
        d["help"] = info.help;
        d["choices"] = ChoiceNames(info);
        d["accepted"] = params::Accepted(info);
        list.append(d);
    }
    return list;
}

// The device maps by name: their band edges (Hz, lowest first), channel count and source.
py::dict MapList() {
    const cihear::ParameterInfo& info = *cihear::FindParameter("map");
    py::dict maps;
    const py::list names = ChoiceNames(info);
    for (size_t i = 0; i < names.size(); i++) {
        const std::vector<double> edges = params::MapEdges(static_cast<unsigned>(i));
        if (edges.empty()) {
            continue;  // none
        }
        py::dict d;
        d["edges"] = edges;
        d["channels"] = edges.size() - 1;
        d["source"] = params::MapSource(static_cast<unsigned>(i));
        maps[names[i]] = d;
    }
    return maps;
}

// The value of parameter `name` written as `text` the command line's way (a number, a name,
// numbers separated by commas), as Python gives it; the library's ValueError otherwise.
py::object ParseValue(const std::string& name, const std::string& text) {
    const cihear::ParameterInfo* info = cihear::FindParameter(name);
    if (!info) {
        throw py::value_error("unknown parameter '" + name + "'");
    }
    cihear::Value value;
    std::string error;
    if (!cihear::ParseValue(*info, text, value, error)) {
        throw py::value_error(error);
    }
    return ValueObject(*info, value);
}

// Takes `name` out of the keyword arguments, or gives `otherwise`.
py::object Pop(py::dict& kwargs, const char* name, py::object otherwise) {
    if (!kwargs.contains(name)) {
        return otherwise;
    }
    py::object v = kwargs[name];
    PyDict_DelItemString(kwargs.ptr(), name);
    return v;
}

std::optional<int64_t> Seed(const py::object& seed) {
    if (seed.is_none()) {
        return std::nullopt;
    }
    if (py::isinstance<py::bool_>(seed) || !PyIndex_Check(seed.ptr())) {
        throw py::type_error("seed must be None or a whole number, not " +
                             std::string(py::str(seed.get_type().attr("__name__"))));
    }
    const py::int_ value(seed);
    if (value < py::int_(0) || value > py::int_(cihear::kMaxSeed)) {
        throw py::value_error("seed = " + py::repr(value).cast<std::string>() +
                              " is out of range; accepted: None or 0 to " +
                              std::to_string(cihear::kMaxSeed));
    }
    return value.cast<int64_t>();
}

// Whether a signal handler wants to raise (Ctrl-C's KeyboardInterrupt): asked by a simulation
// between blocks, with the GIL held for the question only. The handler's exception is kept,
// to be raised once the simulation has stopped.
class Interruption {
public:
    std::function<bool()> Check() {
        return [this] {
            py::gil_scoped_acquire gil;
            if (!error && PyErr_CheckSignals() != 0) {  // on the main thread only
                error.emplace();                        // takes the exception
            }
            return error.has_value();
        };
    }
    [[noreturn]] void Raise() {
        if (error) {
            throw *error;
        }
        throw py::error_already_set();
    }

private:
    std::optional<py::error_already_set> error;
};

// A simulation's options from the keyword arguments, which lose them, and the stack level of
// its warnings.
cihear::Options TakeOptions(py::dict& parameters, Interruption& interruption, int& stacklevel) {
    cihear::Options options;
    options.seed = Seed(Pop(parameters, "seed", py::none()));
    options.inspect = py::bool_(Pop(parameters, "inspect", py::bool_(false)));
    options.envelopes = py::bool_(Pop(parameters, "envelopes", py::bool_(false)));
    options.live = py::bool_(Pop(parameters, "live", py::bool_(false)));
    stacklevel = Pop(parameters, "stacklevel", py::int_(1)).cast<int>();
    options.cancelled = interruption.Check();
    return options;
}

// A failed status as the Python exception it stands for; the message after "`file`: " when a
// file is named.
[[noreturn]] void RaiseStatus(const cihear::Status& status, Interruption& interruption,
                              const std::string& file = "") {
    switch (status.code) {
        case cihear::Status::kOutOfMemory:
            throw std::bad_alloc();
        case cihear::Status::kCancelled:
            interruption.Raise();
        default:
            if (file.empty()) {
                throw py::value_error(status.message);
            }
            const py::object shown = py::module_::import("os").attr("fsdecode")(py::bytes(file));
            throw py::value_error(py::str(shown).cast<std::string>() + ": " + status.message);
    }
}

py::object Output(cihear::Result&& result, const cihear::Options& options) {
    const auto n = static_cast<py::ssize_t>(result.output.size());
    py::array_t<double> output = Owned(std::move(result.output), {n});
    if (!options.inspect) {
        return std::move(output);
    }
    return py::make_tuple(output, InspectionDict(std::move(result.inspection), options.envelopes));
}

py::object Simulate(const py::object& warning, py::object signal, py::object sampleRate,
                    py::kwargs kwargs) {
    py::dict parameters(kwargs);  // a copy: the caller's dict stays as it was
    Interruption interruption;
    int stacklevel = 1;
    const cihear::Options options = TakeOptions(parameters, interruption, stacklevel);
    const cihear::Settings settings = StrictSettings(parameters, warning, stacklevel);
    const uint32_t rate = SampleRate(sampleRate);
    // A 1-D contiguous float64 array (what cihear.simulate hands over) is simulated where it
    // is, without a copy: the library checks its samples as MonoSamples would.
    const auto array = py::array::ensure(signal);
    const bool inPlace = array && py::isinstance<py::array_t<double>>(array) && array.ndim() == 1 &&
                         (array.flags() & py::array::c_style);
    const std::vector<double> x = inPlace ? std::vector<double>() : MonoSamples(signal);
    const double* samples = inPlace ? static_cast<const double*>(array.data()) : x.data();
    const size_t count = inPlace ? static_cast<size_t>(array.size()) : x.size();

    cihear::Result result;
    {
        py::gil_scoped_release release;
        result = cihear::Simulate(samples, count, rate, settings, options);
    }
    if (!result.status.ok()) {
        RaiseStatus(result.status, interruption);
    }
    return Output(std::move(result), options);
}

// The WAV file at `path` simulated as the program simulates it, or None when its samples are
// not 16-bit PCM.
py::object SimulateWav(const py::object& warning, const std::string& path, py::kwargs kwargs) {
    py::dict parameters(kwargs);
    Interruption interruption;
    int stacklevel = 1;
    const cihear::Options options = TakeOptions(parameters, interruption, stacklevel);
    const cihear::Settings settings = StrictSettings(parameters, warning, stacklevel);
    cihear::Result result;
    {
        py::gil_scoped_release release;
        result = cihear::SimulateWav(path, settings, options);
    }
    if (result.status.code == cihear::Status::kUnsupportedEncoding) {
        return py::none();
    }
    if (!result.status.ok()) {
        RaiseStatus(result.status, interruption, path);
    }
    return Output(std::move(result), options);
}

// (samples, rate) of the WAV file at `path` as the program reads it, or None when its samples
// are not 16-bit PCM.
py::object ReadWav(const std::string& path) {
    cihear::WavSamples read;
    {
        py::gil_scoped_release release;
        read = cihear::ReadWav(path);
    }
    if (read.status.code == cihear::Status::kUnsupportedEncoding) {
        return py::none();
    }
    if (!read.status.ok()) {
        Interruption none;
        RaiseStatus(read.status, none, path);
    }
    const auto n = static_cast<py::ssize_t>(read.samples.size());
    return py::make_tuple(Owned(std::move(read.samples), {n}), read.sampleRate);
}

py::dict Describe(const py::object& warning, py::kwargs kwargs) {
    py::dict parameters(kwargs);
    const int stacklevel = Pop(parameters, "stacklevel", py::int_(1)).cast<int>();
    return DesignDict(cihear::Describe(StrictSettings(parameters, warning, stacklevel)));
}

py::array_t<int16_t> ToPcm16(
    const py::array_t<double, py::array::c_style | py::array::forcecast>& y) {
    std::vector<int16_t> out(static_cast<size_t>(y.size()));
    cihear::ToPcm16(y.data(), out.size(), out.data());
    std::vector<py::ssize_t> shape(y.shape(), y.shape() + y.ndim());
    return Owned(std::move(out), shape);
}

// Writes int16 samples through the library's atomic writer; returns "" or the failure's text.
std::string WriteWav16(const std::string& path,
                       const py::array_t<int16_t, py::array::c_style | py::array::forcecast>& x) {
    std::vector<int16_t> samples(x.data(), x.data() + x.size());
    cihear::Status status;
    {
        py::gil_scoped_release release;
        status = cihear::WriteWav16(path, samples.data(), samples.size());
    }
    return status.message;
}

py::array_t<double> Mono(py::object signal) {
    std::vector<double> x = MonoSamples(signal);
    const auto n = static_cast<py::ssize_t>(x.size());
    return Owned(std::move(x), {n});
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The cihear library's entry points; use the cihear package instead.";
    m.attr("__version__") = cihear::Version();
    m.attr("OUTPUT_RATE") = cihear::kOutputRate;
    m.attr("MAX_SEED") = cihear::kMaxSeed;
    m.attr("PARAMETERS") = ParameterList();
    m.attr("MAPS") = MapList();
    // An adjustment of one parameter made because of another (e.g. n_on capped at n_chan_ci).
    const auto warning = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
        "cihear.CascadeWarning", "A parameter changed because of another one's value.",
        PyExc_UserWarning, nullptr));
    m.attr("CascadeWarning") = warning;
    RegisterStream(m);

    m.def(
        "simulate",
        [warning](py::object signal, py::object sampleRate, py::kwargs kwargs) {
            return Simulate(warning, std::move(signal), std::move(sampleRate), std::move(kwargs));
        },
        py::arg("signal"), py::arg("sample_rate"),
        R"(simulate(signal, sample_rate, *, seed=None, inspect=False, envelopes=False,
         stacklevel=1, **parameters)

Simulates `signal` (1-D, or stereo as (frames, 2) or (2, frames); int16 or float32/64) at
`sample_rate` Hz with the parameters validated strictly. Returns the float64 output at
OUTPUT_RATE Hz, or with inspect=True a tuple (output, inspection): a dict with 'design' (as
describe() gives), 'frame_starts' and 'frame_lengths' (int64, per frame), 'electrodogram'
(float64, channels x frames), 'selected' (bool, channels x frames) and 'envelopes' (float64,
channels x samples at OUTPUT_RATE, with envelopes=True; else None). Cascade warnings are
issued `stacklevel` frames above the caller's.)");
    m.def(
        "describe", [warning](py::kwargs kwargs) { return Describe(warning, std::move(kwargs)); },
        R"(describe(*, stacklevel=1, **parameters)

The design the parameters give, without simulating: a dict with 'settings' (the effective
values), 'bands', 'synthesis_bands', 'measured_bands', 'measured_synthesis_bands' (each a dict
of float64 arrays 'low', 'high', 'center', 'bandwidth' in Hz, one entry per channel),
'analysis_filters' and 'synthesis_filters' (lists of {'b', 'a'} coefficient arrays),
'detector_low_pass', 'smoothing', 'acoustic_low_pass' ({'b', 'a'}; empty arrays when unused),
'interaction_factor' and 'interaction_weights' (weight at a distance of d electrodes),
'electrode_count' (the inserted electrodes), 'electrodes' (channel c's electrode, 1 the most
apical), 'off' (the electrodes switched off, which have no channel) and 'tones' (carrier sine:
each channel's tone in Hz; else empty).)");
    m.def(
        "simulate_wav",
        [warning](const std::string& path, py::kwargs kwargs) {
            return SimulateWav(warning, path, std::move(kwargs));
        },
        py::arg("path"),
        R"(simulate_wav(path, *, seed=None, inspect=False, envelopes=False, stacklevel=1,
             **parameters)

The WAV file at `path` (bytes) simulated as the command line simulates it, read a block at a
time into the conversion to OUTPUT_RATE; returns what simulate() returns, or None when the
file's samples are not 16-bit PCM. The command line's refusals are ValueErrors with its
words.)");
    m.def("read_wav", &ReadWav, py::arg("path"),
          "(samples, sample_rate) of the WAV file at `path` (bytes) as the command line reads it "
          "(float64 mono, v / 32768), or None when its samples are not 16-bit PCM; the command "
          "line's refusals are ValueErrors with its words.");
    m.def("parse_value", &ParseValue, py::arg("name"), py::arg("text"),
          "The value of parameter `name` written as `text` as the command line writes it (a "
          "number, a choice's name, numbers separated by commas; '' an empty list): a float, "
          "int, bool, str or list of floats. ValueError with the library's words otherwise.");
    m.def("to_pcm16", &ToPcm16, py::arg("samples"),
          "The 16-bit values the program stores for output samples (int16, same shape).");
    m.def("write_wav16", &WriteWav16, py::arg("path"), py::arg("samples"),
          "Writes int16 samples as the program's output file, replacing `path` only when the new "
          "file is complete; returns '' or what went wrong.");
    m.def(
        "mono", &Mono, py::arg("signal"),
        "The float64 mono samples simulate() takes from `signal` (checked as simulate checks it).");
}
