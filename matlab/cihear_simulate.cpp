// y = cihear_simulate(x, fs, name, value, ...), [y, info] = ...: the simulation the cihear
// program makes of a file holding the samples x at fs Hz, for MATLAB and Octave. The help is
// cihear_simulate.m.
#include <cihear/cihear.h>
#include <mex.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "MexReport.h"

namespace {

// What the simulation takes from the arguments, as plain values that outlive the scope that
// read them (see MexReport.h). The settings, which hold lists, are read from the arguments
// again where they are used.
struct Request {
    bool seeded;
    int64_t seed;
    uint32_t sampleRate;
    bool stereo;
};
static_assert(std::is_trivially_destructible<Request>::value, "a Request must survive a jump");

const double kMaxSampleRate = 4294967295.0;

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.12g", v);
    return text;
}

// "4-by-3 double", as MATLAB describes an array.
std::string Describe(const mxArray* a) {
    const mwSize* dims = mxGetDimensions(a);
    std::string text;
    for (mwSize i = 0; i < mxGetNumberOfDimensions(a); i++) {
        text += (i ? "-by-" : "") + std::to_string(dims[i]);
    }
    return text + " " + mxGetClassName(a);
}

bool IsRealScalar(const mxArray* a) {
    return (mxIsNumeric(a) || mxIsLogical(a)) && !mxIsComplex(a) && !mxIsSparse(a) &&
           mxGetNumberOfElements(a) == 1;
}

// Why v is not a whole number from lo to hi (empty when it is), in ApplyStrict's words.
std::string WholeNumberRefusal(const char* name, double v, double lo, double hi) {
    std::string why;
    if (!std::isfinite(v)) {
        why = "is not a finite number";
    } else if (v != std::floor(v)) {
        why = "is not a whole number";
    } else if (v < lo || v > hi) {
        why = "is out of range";
    } else {
        return "";
    }
    return std::string(name) + " = " + Number(v) + " " + why + "; accepted: " + Number(lo) +
           " to " + Number(hi);
}

// x: a real double, single or int16 vector (mono) or N-by-2 matrix (stereo), every sample
// finite. A 1-by-2 row is two mono samples.
bool CheckSignal(const mxArray* x, Request& request, mex::Report& report) {
    const mxClassID id = mxGetClassID(x);
    const char* shape = "x must be a vector (mono) or an N-by-2 matrix (stereo); it is ";
    if (id != mxDOUBLE_CLASS && id != mxSINGLE_CLASS && id != mxINT16_CLASS) {
        mex::Fail(report, "cihear:badInput",
                  "x must be of class double, single or int16; it is " + Describe(x));
    } else if (mxIsComplex(x)) {
        mex::Fail(report, "cihear:badInput", "x must be real; it is complex");
    } else if (mxIsSparse(x)) {
        mex::Fail(report, "cihear:badInput", "x must be full; it is sparse");
    } else if (mxGetNumberOfDimensions(x) != 2) {
        mex::Fail(report, "cihear:badInput", shape + Describe(x));
    } else {
        const size_t rows = mxGetM(x), cols = mxGetN(x);
        request.stereo = cols == 2 && rows != 1;
        if (!request.stereo && rows != 1 && cols != 1 && mxGetNumberOfElements(x) != 0) {
            mex::Fail(report, "cihear:badInput", shape + Describe(x));
        }
    }
    if (mex::Failed(report) || id == mxINT16_CLASS) {
        return !mex::Failed(report);
    }
    const size_t n = mxGetNumberOfElements(x);
    for (size_t i = 0; i < n; i++) {
        const double v = id == mxDOUBLE_CLASS ? static_cast<const double*>(mxGetData(x))[i]
                                              : static_cast<const float*>(mxGetData(x))[i];
        if (!std::isfinite(v)) {
            // The library's words, with the element as Octave and MATLAB index it.
            mex::Fail(report, "cihear:badInput",
                      "the signal holds a NaN or an infinity (first at x(" + std::to_string(i + 1) +
                          "), " + Number(v) + "); only finite samples can be simulated");
            return false;
        }
    }
    return true;
}

bool CheckSampleRate(const mxArray* fs, Request& request, mex::Report& report) {
    if (!IsRealScalar(fs) || mxIsLogical(fs)) {
        mex::Fail(report, "cihear:badSampleRate",
                  "fs must be a real number, the sample rate in Hz; it is " + Describe(fs));
        return false;
    }
    const double v = mxGetScalar(fs);
    const std::string why = WholeNumberRefusal("fs", v, 1, kMaxSampleRate);
    if (!why.empty()) {
        mex::Fail(report, "cihear:badSampleRate", why + " (Hz)");
        return false;
    }
    request.sampleRate = static_cast<uint32_t>(v);
    return true;
}

// The refusal of a name that is neither a simulation parameter nor 'seed'.
std::string UnknownName(const std::string& name) {
    std::string known;
    for (const cihear::ParameterInfo& p : cihear::ParameterTable()) {
        known += std::string(p.name) + ", ";
    }
    return "unknown parameter '" + name + "'; the names are " + known + "and seed";
}

// A logical value is the natural value of a switch only: 'n_on', true would be read as 1.
bool TakesLogical(const std::string& name) {
    const cihear::ParameterInfo* info = cihear::FindParameter(name);
    return info && info->kind == cihear::ValueKind::kSwitch;
}

std::string Text(const mxArray* a) {
    std::vector<char> text(mxGetNumberOfElements(a) + 1);
    mxGetString(a, text.data(), text.size());
    return text.data();
}

bool IsCharRow(const mxArray* a) {
    return mxIsChar(a) && mxGetM(a) <= 1;
}

// The value of parameter `info` in `a`: a character vector (a choice's name), a real numeric
// vector or [] (a list), or a real scalar; an error in `report` otherwise.
bool ReadValue(const cihear::ParameterInfo& info, const mxArray* a, cihear::Value& value,
               mex::Report& report) {
    const std::string name = info.name;
    if (IsCharRow(a)) {
        value = cihear::Value(Text(a));  // the library refuses a name where it takes a number
        return true;
    }
    const bool list = info.kind == cihear::ValueKind::kList;
    const bool floating = (mxIsDouble(a) || mxIsSingle(a)) && !mxIsComplex(a) && !mxIsSparse(a);
    const bool vector = mxGetNumberOfDimensions(a) == 2 && (mxGetM(a) <= 1 || mxGetN(a) <= 1);
    if (list && floating && vector) {
        std::vector<double> numbers(mxGetNumberOfElements(a));
        for (size_t i = 0; i < numbers.size(); i++) {
            numbers[i] = mxIsDouble(a) ? static_cast<const double*>(mxGetData(a))[i]
                                       : static_cast<const float*>(mxGetData(a))[i];
        }
        value = cihear::Value(numbers);
        return true;
    }
    if (!IsRealScalar(a)) {
        mex::Fail(report, "cihear:badParameter",
                  "the value of " + name + " must be " +
                      (list ? "a real double vector such as [3 7], or []"
                       : info.kind == cihear::ValueKind::kChoice
                           ? "a character vector naming a choice, such as '" +
                                 std::string(info.choices)
                                     .substr(0, std::string(info.choices).find('|')) +
                                 "'"
                           : std::string("a real scalar")) +
                      "; it is " + Describe(a));
        return false;
    }
    if (mxIsLogical(a) && !TakesLogical(name)) {
        mex::Fail(report, "cihear:badParameter",
                  "the value of " + name + " must be a number, not true or false");
        return false;
    }
    value = cihear::Value(mxGetScalar(a));
    return true;
}

// The name-value pairs: 'seed' here, the simulation parameters by cihear::ApplyStrict, whose
// settings go to `settings` and whose warnings to `report`.
bool ReadParameters(int count, const mxArray* const* pairs, Request& request,
                    cihear::Settings& settings, mex::Report& report) {
    std::vector<std::pair<std::string, cihear::Value>> values;
    std::string errors;
    for (int i = 0; i + 1 < count; i += 2) {
        const mxArray* key = pairs[i];
        const mxArray* value = pairs[i + 1];
        if (!IsCharRow(key)) {
            mex::Fail(report, "cihear:badParameter",
                      "parameter names must be character vectors such as 'n_on'; argument " +
                          std::to_string(i + 3) + " is " + Describe(key));
            return false;
        }
        const std::string name = Text(key);
        if (name == "seed" && mxIsEmpty(value) && mxIsNumeric(value)) {
            request.seeded = false;  // 'seed', [] asks for the program's own sequence
            continue;
        }
        const cihear::ParameterInfo* info = cihear::FindParameter(name);
        if (name != "seed" && !info) {
            errors += (errors.empty() ? "" : "\n") + UnknownName(name);
            continue;
        }
        if (name == "seed") {
            if (!IsRealScalar(value) || mxIsLogical(value)) {
                mex::Fail(report, "cihear:badParameter",
                          mxIsLogical(value)
                              ? std::string("the value of seed must be a number, not true or false")
                              : "the value of seed must be a real scalar or []; it is " +
                                    Describe(value));
                return false;
            }
            const double v = mxGetScalar(value);
            const std::string why = WholeNumberRefusal("seed", v, 0, double(cihear::kMaxSeed));
            if (!why.empty()) {
                mex::Fail(report, "cihear:badParameter", why);
                return false;
            }
            request.seeded = true;
            request.seed = static_cast<int64_t>(v);
            continue;
        }
        cihear::Value v;
        if (!ReadValue(*info, value, v, report)) {
            return false;
        }
        values.emplace_back(name, v);
    }
    const cihear::Applied applied = cihear::ApplyStrict(values);
    for (const cihear::Message& e : applied.errors) {
        errors += (errors.empty() ? "" : "\n") + e.text;
    }
    if (!errors.empty()) {
        mex::Fail(report, "cihear:badParameter", errors);
        return false;
    }
    for (const cihear::Message& w : applied.warnings) {
        mex::Warn(report, "cihear:cascade", w.text);
    }
    settings = applied.settings;
    return true;
}

void Prepare(int nlhs, int nrhs, const mxArray* prhs[], Request& request, mex::Report& report) {
    try {
        if (nrhs < 2) {
            mex::Fail(report, "cihear:badArguments",
                      "usage: y = cihear_simulate(x, fs) or cihear_simulate(x, fs, name, value, "
                      "...)");
        } else if (nrhs % 2 != 0) {
            mex::Fail(report, "cihear:badArguments",
                      "parameters come in name-value pairs; the last name has no value");
        } else if (nlhs > 2) {
            mex::Fail(report, "cihear:badArguments", "cihear_simulate returns [y, info] at most");
        } else if (CheckSignal(prhs[0], request, report) &&
                   CheckSampleRate(prhs[1], request, report)) {
            cihear::Settings settings;  // read again by Run, after the warnings are raised
            ReadParameters(nrhs - 2, prhs + 2, request, settings, report);
        }
    } catch (const std::bad_alloc&) {
        mex::Fail(report, "cihear:outOfMemory", "not enough memory");
    } catch (...) {
        mex::Fail(report, "cihear:internal", "unexpected failure while reading the arguments");
    }
}

// The mono samples the program would simulate: int16 as it reads 16-bit files, floating point
// as they are (the mean of a stereo pair).
template <class T>
std::vector<double> Mono(const T* x, size_t frames, bool stereo) {
    std::vector<double> mono(frames);
    for (size_t i = 0; i < frames; i++) {
        if (!stereo) {
            mono[i] = x[i];
            continue;
        }
        const double l = x[i], r = x[frames + i];
        mono[i] = (l + r) / 2;
        if (!std::isfinite(mono[i])) {  // the sum of two huge samples overflowed
            mono[i] = l / 2 + r / 2;
        }
    }
    return mono;
}

std::vector<double> Samples(const mxArray* x, bool stereo) {
    const size_t frames = stereo ? mxGetM(x) : mxGetNumberOfElements(x);
    switch (mxGetClassID(x)) {
        case mxINT16_CLASS: {
            const auto* pcm = static_cast<const int16_t*>(mxGetData(x));
            if (!stereo) {
                return cihear::FromPcm16(pcm, frames);
            }
            std::vector<int16_t> interleaved(2 * frames);
            for (size_t i = 0; i < frames; i++) {
                interleaved[2 * i] = pcm[i];
                interleaved[2 * i + 1] = pcm[frames + i];
            }
            const std::vector<int16_t> mono = cihear::MixStereo16(interleaved.data(), frames);
            return cihear::FromPcm16(mono.data(), frames);
        }
        case mxSINGLE_CLASS:
            return Mono(static_cast<const float*>(mxGetData(x)), frames, stereo);
        default:
            return Mono(static_cast<const double*>(mxGetData(x)), frames, stereo);
    }
}

template <class T, class F>
mxArray* Column(const std::vector<T>& values, F f) {
    mxArray* column = mxCreateDoubleMatrix(values.size(), 1, mxREAL);
    double* out = static_cast<double*>(mxGetData(column));
    for (size_t i = 0; i < values.size(); i++) {
        out[i] = f(values[i]);
    }
    return column;
}

mxArray* BandTable(const std::vector<cihear::Band>& bands) {
    const char* fields[] = {"low", "high", "center", "bandwidth"};
    mxArray* table = mxCreateStructMatrix(1, 1, 4, fields);
    mxSetField(table, 0, "low", Column(bands, [](const cihear::Band& b) { return b.low; }));
    mxSetField(table, 0, "high", Column(bands, [](const cihear::Band& b) { return b.high; }));
    mxSetField(table, 0, "center", Column(bands, [](const cihear::Band& b) { return b.center; }));
    mxSetField(table, 0, "bandwidth",
               Column(bands, [](const cihear::Band& b) { return b.bandwidth; }));
    return table;
}

// A parameter's value: a number, a choice's name (a character vector) or a list (a row).
mxArray* ParameterValue(const cihear::Settings& settings, const cihear::ParameterInfo& p) {
    const cihear::Value v = cihear::GetParameter(settings, p);
    if (v.kind == cihear::Value::Kind::kName) {
        return mxCreateString(v.name.c_str());
    }
    if (v.kind == cihear::Value::Kind::kList) {
        mxArray* row = mxCreateDoubleMatrix(v.list.empty() ? 0 : 1, v.list.size(), mxREAL);
        std::copy(v.list.begin(), v.list.end(), static_cast<double*>(mxGetData(row)));
        return row;
    }
    return mxCreateDoubleScalar(v.number);
}

mxArray* Parameters(const cihear::Settings& settings) {
    mxArray* parameters = mxCreateStructMatrix(1, 1, 0, nullptr);
    for (const cihear::ParameterInfo& p : cihear::ParameterTable()) {
        mxAddField(parameters, p.name);
        mxSetField(parameters, 0, p.name, ParameterValue(settings, p));
    }
    return parameters;
}

mxArray* Info(const Request& request, const cihear::Inspection& inspection) {
    const char* fields[] = {
        "parameters",  "seed",           "sampleRate",    "outputRate",
        "bands",       "synthesisBands", "measuredBands", "measuredSynthesisBands",
        "frameStarts", "frameLengths",   "frameTimes",    "electrodogram",
        "selected",    "electrodes",     "off",           "version"};
    mxArray* info = mxCreateStructMatrix(1, 1, sizeof fields / sizeof *fields, fields);
    const cihear::Design& design = inspection.design;
    mxSetField(info, 0, "parameters", Parameters(design.settings));
    mxSetField(info, 0, "seed",
               request.seeded ? mxCreateDoubleScalar(double(request.seed))
                              : mxCreateDoubleMatrix(0, 0, mxREAL));
    mxSetField(info, 0, "sampleRate", mxCreateDoubleScalar(request.sampleRate));
    mxSetField(info, 0, "outputRate", mxCreateDoubleScalar(cihear::kOutputRate));
    mxSetField(info, 0, "bands", BandTable(design.bands));
    mxSetField(info, 0, "synthesisBands", BandTable(design.synthesisBands));
    mxSetField(info, 0, "measuredBands", BandTable(design.measuredBands));
    mxSetField(info, 0, "measuredSynthesisBands", BandTable(design.measuredSynthesisBands));
    // Frames as indices into y (from 1) and as times in seconds.
    mxSetField(info, 0, "frameStarts",
               Column(inspection.frameStarts, [](int64_t s) { return double(s) + 1; }));
    mxSetField(info, 0, "frameLengths",
               Column(inspection.frameLengths, [](int64_t n) { return double(n); }));
    mxSetField(info, 0, "frameTimes", Column(inspection.frameStarts, [](int64_t s) {
                   return double(s) / cihear::kOutputRate;
               }));
    // channels x frames; the inspection holds them row by row, MATLAB column by column.
    const size_t channels = inspection.channels, frames = inspection.frames;
    mxArray* levels = mxCreateDoubleMatrix(channels, frames, mxREAL);
    mxArray* selected = mxCreateLogicalMatrix(channels, frames);
    double* level = static_cast<double*>(mxGetData(levels));
    mxLogical* on = mxGetLogicals(selected);
    for (size_t ch = 0; ch < channels; ch++) {
        for (size_t f = 0; f < frames; f++) {
            level[f * channels + ch] = inspection.electrodogram[ch * frames + f];
            on[f * channels + ch] = inspection.selected[ch * frames + f] != 0;
        }
    }
    mxSetField(info, 0, "electrodogram", levels);
    mxSetField(info, 0, "selected", selected);
    mxSetField(info, 0, "electrodes",
               Column(design.electrodes, [](uint32_t e) { return double(e); }));
    mxSetField(info, 0, "off", Column(design.off, [](uint32_t e) { return double(e); }));
    mxSetField(info, 0, "version", mxCreateString(cihear::Version()));
    return info;
}

void Run(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[], Request& request,
         mex::Report& report) {
    try {
        cihear::Settings settings;
        mex::Report again;  // the same arguments as Prepare read: no new error, no new warning
        mex::Clear(again);
        if (!ReadParameters(nrhs - 2, prhs + 2, request, settings, again)) {
            mex::Fail(report, "cihear:internal", again.error);
            return;
        }
        const std::vector<double> samples = Samples(prhs[0], request.stereo);
        cihear::Options options;
        if (request.seeded) {
            options.seed = request.seed;
        }
        options.inspect = nlhs > 1;
        const cihear::Result result =
            cihear::Simulate(samples.data(), samples.size(), request.sampleRate, settings, options);
        switch (result.status.code) {
            case cihear::Status::kOk:
                break;
            case cihear::Status::kRateTooLow:
                mex::Fail(report, "cihear:rateTooLow", result.status.message);
                return;
            case cihear::Status::kOutOfMemory:
                mex::Fail(report, "cihear:outOfMemory", result.status.message);
                return;
            default:
                mex::Fail(report, "cihear:badInput", result.status.message);
                return;
        }
        plhs[0] = Column(result.output, [](double v) { return v; });
        if (nlhs > 1) {
            plhs[1] = Info(request, result.inspection);
        }
    } catch (const std::bad_alloc&) {
        mex::Fail(report, "cihear:outOfMemory", "not enough memory");
    } catch (const std::exception& e) {
        mex::Fail(report, "cihear:internal", std::string("simulation failed: ") + e.what());
    } catch (...) {
        mex::Fail(report, "cihear:internal", "simulation failed");
    }
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    // Only plain data lives in this scope: Raise may leave it without unwinding.
    mex::Report report;
    mex::Clear(report);
    Request request = {};  // the default settings, no seed
    Prepare(nlhs, nrhs, prhs, request, report);
    mex::Raise(report);  // the cascades' warnings, or the arguments' error
    Run(nlhs, plhs, nrhs, prhs, request, report);
    mex::Raise(report);
}
