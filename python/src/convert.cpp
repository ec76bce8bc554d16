// Input checks and the conversions of settings, designs and inspections to Python objects.
#include "convert.h"

#include <pybind11/stl.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace cihear_python {

namespace {

std::string ShapeText(const py::array& a) {
    std::ostringstream text;
    text << "(";
    for (py::ssize_t d = 0; d < a.ndim(); d++) {
        text << (d ? ", " : "") << a.shape(d);
    }
    text << (a.ndim() == 1 ? ",)" : ")");
    return text.str();
}

// Frames and the distance (in elements) between a frame's two channels and between frames, for
// a C-contiguous array of the accepted shapes.
struct Layout {
    size_t frames;
    size_t channels;
    size_t channelStep;
    size_t frameStep;
};

Layout SignalLayout(const py::array& a) {
    const char* expected =
        "expected a mono signal of shape (frames,) or a stereo one of shape (frames, 2) or "
        "(2, frames)";
    if (a.ndim() == 1) {
        return {static_cast<size_t>(a.shape(0)), 1, 0, 1};
    }
    if (a.ndim() == 2) {
        const auto rows = static_cast<size_t>(a.shape(0));
        const auto cols = static_cast<size_t>(a.shape(1));
        if (rows == 2 && cols == 2) {
            throw py::value_error(
                "a 2 x 2 signal is ambiguous: it could be two stereo frames or two channels; "
                "pass a longer signal or mix it to mono (shape (frames,)) first");
        }
        if (cols == 2) {
            return {rows, 2, 1, 2};
        }
        if (rows == 2) {
            return {cols, 2, cols, 1};
        }
    }
    throw py::value_error(std::string(expected) + "; got shape " + ShapeText(a));
}

template <class T>
py::array_t<T, py::array::c_style> Contiguous(const py::array& a) {
    return py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(a);
}

template <class T>
std::vector<double> MonoFloat(const py::array& a) {
    const Layout layout = SignalLayout(a);
    const auto c = Contiguous<T>(a);
    const T* x = c.data();
    std::vector<double> mono(layout.frames);
    for (size_t i = 0; i < layout.frames; i++) {
        const double l = x[i * layout.frameStep];
        if (layout.channels == 1) {
            mono[i] = l;
        } else {
            const double r = x[i * layout.frameStep + layout.channelStep];
            mono[i] = (l + r) / 2;
            if (std::isinf(mono[i]) && std::isfinite(l) && std::isfinite(r)) {
                mono[i] = l / 2 + r / 2;  // the sum of two huge samples overflowed
            }
        }
        if (!std::isfinite(mono[i])) {
            RaiseNotFinite("signal", "frame", i);
        }
    }
    return mono;
}

std::vector<double> MonoPcm16(const py::array& a) {
    const Layout layout = SignalLayout(a);
    const auto c = Contiguous<int16_t>(a);
    if (layout.channels == 1) {
        return cihear::FromPcm16(c.data(), layout.frames);
    }
    std::vector<int16_t> interleaved(2 * layout.frames);
    for (size_t i = 0; i < layout.frames; i++) {
        interleaved[2 * i] = c.data()[i * layout.frameStep];
        interleaved[2 * i + 1] = c.data()[i * layout.frameStep + layout.channelStep];
    }
    const std::vector<int16_t> mono = cihear::MixStereo16(interleaved.data(), layout.frames);
    return cihear::FromPcm16(mono.data(), mono.size());
}

// A Python number (bool, int, float, numpy scalar) as a double; TypeError for anything else.
double Number(const py::handle& value, const std::string& what) {
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
        !PyNumber_Check(value.ptr())) {
        throw py::type_error(what + " must be a number, not " +
                             std::string(py::str(value.get_type().attr("__name__"))));
    }
    PyObject* f = PyNumber_Float(value.ptr());
    if (!f) {
        PyErr_Clear();
        throw py::type_error(what + " must be a real number, not " + std::string(py::repr(value)));
    }
    const double v = PyFloat_AsDouble(f);
    Py_DECREF(f);
    return v;
}

// Python's bool or numpy's.
bool IsBool(const py::handle& value) {
    return py::isinstance<py::bool_>(value) ||
           py::isinstance(value, py::module_::import("numpy").attr("bool_"));
}

py::dict BandsDict(const std::vector<cihear::Band>& bands) {
    std::vector<double> low, high, center, bandwidth;
    for (const cihear::Band& b : bands) {
        low.push_back(b.low);
        high.push_back(b.high);
        center.push_back(b.center);
        bandwidth.push_back(b.bandwidth);
    }
    const auto n = static_cast<py::ssize_t>(bands.size());
    py::dict d;
    d["low"] = Owned(std::move(low), {n});
    d["high"] = Owned(std::move(high), {n});
    d["center"] = Owned(std::move(center), {n});
    d["bandwidth"] = Owned(std::move(bandwidth), {n});
    return d;
}

py::dict FilterDict(const cihear::Filter& filter) {
    py::dict d;
    d["b"] = py::array_t<double>(static_cast<py::ssize_t>(filter.b.size()), filter.b.data());
    d["a"] = py::array_t<double>(static_cast<py::ssize_t>(filter.a.size()), filter.a.data());
    return d;
}

py::list FilterList(const std::vector<cihear::Filter>& filters) {
    py::list l;
    for (const cihear::Filter& f : filters) {
        l.append(FilterDict(f));
    }
    return l;
}

std::string TypeName(const py::handle& value) {
    return py::str(value.get_type().attr("__name__"));
}

// A choice's names as a message lists them: "log, greenwood, linear, erb".
std::string ChoiceList(const cihear::ParameterInfo& info) {
    std::string names = info.choices;
    for (size_t bar = names.find('|'); bar != std::string::npos; bar = names.find('|', bar)) {
        names.replace(bar, 1, ", ");
    }
    return names;
}

// A list parameter's numbers from one number or a 1-D sequence or array of numbers.
std::vector<double> ListNumbers(const std::string& name, const py::handle& value) {
    const std::string expected =
        name + " must be a number or a sequence of numbers (e.g. [3, 7]), not ";
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value)) {
        throw py::type_error(expected + TypeName(value) + " " + std::string(py::repr(value)));
    }
    if (IsBool(value)) {
        throw py::type_error(expected + "a bool (" + std::string(py::repr(value)) + ")");
    }
    if (py::isinstance<py::array>(value) && py::array::ensure(value).ndim() == 0) {
        return {Number(value, name)};  // a numpy scalar array
    }
    if (PyNumber_Check(value.ptr()) && !PySequence_Check(value.ptr())) {
        return {Number(value, name)};
    }
    if (py::isinstance<py::array>(value) && py::array::ensure(value).ndim() != 1) {
        throw py::type_error(expected + "an array of " +
                             std::to_string(py::array::ensure(value).ndim()) + " dimensions");
    }
    if (!PySequence_Check(value.ptr())) {
        throw py::type_error(expected + TypeName(value));
    }
    std::vector<double> numbers;
    const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
    for (size_t i = 0; i < items.size(); i++) {
        const py::object item = items[i];
        const std::string what = "item " + std::to_string(i) + " of " + name;
        if (IsBool(item)) {
            throw py::type_error(what + " must be a number, not a bool (" +
                                 std::string(py::repr(item)) + ")");
        }
        numbers.push_back(Number(item, what));
    }
    return numbers;
}

// The value a keyword gives the parameter `info` (null: a name the library does not know,
// which it refuses): a number, a choice's name, or a list of numbers.
cihear::Value KeywordValue(const cihear::ParameterInfo* info, const std::string& name,
                           const py::handle& value) {
    if (info && info->kind == cihear::ValueKind::kChoice) {
        if (py::isinstance<py::str>(value)) {
            return cihear::Value(value.cast<std::string>());
        }
        throw py::type_error(name + " must be a name (one of " + ChoiceList(*info) + "), not " +
                             (IsBool(value) ? std::string("a bool") : TypeName(value)) + " (" +
                             std::string(py::repr(value)) + ")");
    }
    if (info && info->kind == cihear::ValueKind::kList) {
        return cihear::Value(ListNumbers(name, value));
    }
    // A bool is the natural value of a switch only: n_on=True would be read as 1.
    if (info && info->kind != cihear::ValueKind::kSwitch && IsBool(value)) {
        throw py::type_error(name + " must be a number, not a bool (" +
                             std::string(py::repr(value)) + ")");
    }
    return cihear::Value(Number(value, name));
}

}  // namespace

void RaiseNotFinite(const char* what, const char* unit, size_t index) {
    std::ostringstream why;
    why << "the " << what << " holds a NaN or an infinity (first at " << unit << " " << index
        << "); only finite samples can be simulated";
    throw py::value_error(why.str());
}

std::vector<double> MonoSamples(const py::handle& signal) {
    const auto a = py::array::ensure(signal);
    if (!a) {
        throw py::type_error("the signal must be a numpy array (or convertible to one), not " +
                             std::string(py::str(signal.get_type().attr("__name__"))));
    }
    const py::dtype type = a.dtype();
    const char kind = type.kind();
    if (kind == 'i' && type.itemsize() == 2) {
        return MonoPcm16(a);
    }
    if (kind == 'f' && type.itemsize() == 4) {
        return MonoFloat<float>(a);
    }
    if (kind == 'f' && type.itemsize() == 8) {
        return MonoFloat<double>(a);
    }
    throw py::type_error(
        "the signal's samples must be int16 (16-bit PCM) or float32/float64, not " +
        type.attr("name").cast<std::string>());
}

uint32_t SampleRate(const py::handle& rate) {
    if (py::isinstance<py::bool_>(rate)) {
        throw py::type_error("sample_rate must be a number of Hz, not a bool");
    }
    const double v = Number(rate, "sample_rate");
    if (!std::isfinite(v) || v <= 0 || v != std::floor(v) ||
        v > std::numeric_limits<uint32_t>::max()) {
        std::ostringstream why;
        why.precision(12);
        why << "sample_rate = " << v << " Hz is not accepted: a whole number of Hz from 1 to "
            << std::numeric_limits<uint32_t>::max() << " is";
        throw py::value_error(why.str());
    }
    return static_cast<uint32_t>(v);
}

std::vector<std::pair<std::string, cihear::Value>> ParameterValues(const py::dict& parameters) {
    std::vector<std::pair<std::string, cihear::Value>> values;
    for (const auto& item : parameters) {
        const std::string name = py::str(item.first);
        const cihear::ParameterInfo* info = cihear::FindParameter(name);
        if (info && info->kind == cihear::ValueKind::kList && item.second.is_none()) {
            continue;  // None: no list, the parameter's default
        }
        values.emplace_back(name, KeywordValue(info, name, item.second));
    }
    return values;
}

cihear::Settings StrictSettings(const py::dict& parameters, const py::handle& warningClass,
                                int stacklevel) {
    const cihear::Applied applied = cihear::ApplyStrict(ParameterValues(parameters));
    if (!applied.ok()) {
        std::string text;
        for (const cihear::Message& m : applied.errors) {
            text += (text.empty() ? "" : "; ") + m.text;
        }
        throw py::value_error(text);
    }
    for (const cihear::Message& m : applied.warnings) {
        if (PyErr_WarnEx(warningClass.ptr(), m.text.c_str(), stacklevel) < 0) {
            throw py::error_already_set();  // warnings turned into errors
        }
    }
    return applied.settings;
}

py::object ValueObject(const cihear::ParameterInfo& info, const cihear::Value& v) {
    if (v.kind == cihear::Value::Kind::kName) {
        return py::str(v.name);
    }
    if (v.kind == cihear::Value::Kind::kList) {
        return py::cast(v.list);
    }
    if (info.kind == cihear::ValueKind::kSwitch) {
        return py::bool_(v.number != 0);
    }
    if (info.kind == cihear::ValueKind::kCount) {
        return py::int_(static_cast<long long>(v.number));
    }
    return py::float_(v.number);
}

py::object ParameterObject(const cihear::Settings& settings, const cihear::ParameterInfo& info) {
    return ValueObject(info, cihear::GetParameter(settings, info));
}

py::dict SettingsDict(const cihear::Settings& settings) {
    py::dict d;
    for (const cihear::ParameterInfo& info : cihear::ParameterTable()) {
        d[info.name] = ParameterObject(settings, info);
    }
    return d;
}

py::dict DesignDict(const cihear::Design& design) {
    py::dict d;
    d["settings"] = SettingsDict(design.settings);
    d["bands"] = BandsDict(design.bands);
    d["synthesis_bands"] = BandsDict(design.synthesisBands);
    d["measured_bands"] = BandsDict(design.measuredBands);
    d["measured_synthesis_bands"] = BandsDict(design.measuredSynthesisBands);
    d["analysis_filters"] = FilterList(design.analysisFilters);
    d["synthesis_filters"] = FilterList(design.synthesisFilters);
    d["detector_low_pass"] = FilterDict(design.detectorLowPass);
    d["smoothing"] = FilterDict(design.smoothing);
    d["acoustic_low_pass"] = FilterDict(design.acousticLowPass);
    d["interaction_factor"] = design.interactionFactor;
    d["interaction_weights"] =
        py::array_t<double>(static_cast<py::ssize_t>(design.interactionWeights.size()),
                            design.interactionWeights.data());
    d["electrode_count"] = design.electrodeCount;
    d["electrodes"] = py::cast(design.electrodes);
    d["off"] = py::cast(design.off);
    d["tones"] =
        py::array_t<double>(static_cast<py::ssize_t>(design.tones.size()), design.tones.data());
    return d;
}

py::dict InspectionDict(cihear::Inspection&& inspection, bool envelopes) {
    const auto channels = static_cast<py::ssize_t>(inspection.channels);
    const auto frames = static_cast<py::ssize_t>(inspection.frames);
    py::dict d;
    d["design"] = DesignDict(inspection.design);
    d["frame_starts"] = Owned(std::move(inspection.frameStarts), {frames});
    d["frame_lengths"] = Owned(std::move(inspection.frameLengths), {frames});
    d["electrodogram"] = Owned(std::move(inspection.electrodogram), {channels, frames});
    py::array_t<bool> selected({channels, frames});
    std::copy(inspection.selected.begin(), inspection.selected.end(), selected.mutable_data());
    d["selected"] = selected;
    if (!envelopes) {
        d["envelopes"] = py::none();
    } else {
        const py::ssize_t samples = channels ? inspection.envelopes.size() / channels : 0;
        d["envelopes"] = Owned(std::move(inspection.envelopes), {channels, samples});
    }
    return d;
}

}  // namespace cihear_python
