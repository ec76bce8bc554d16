// The engine's entry points for the page, compiled to WebAssembly with embind. Everything a call
// needs is passed in and handed back; nothing is kept between calls.
#include "engine/Engine.h"

#include <cihear/cihear.h>
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings.h"
#include "params/Models.h"
#include "params/ValueKinds.h"
#include "wav/WaveFile.h"

using emscripten::val;

namespace {

// A JavaScript typed array holding its own copy of `n` values.
template <typename T>
val Copy(const char* type, const T* data, size_t n) {
    return val::global(type).new_(emscripten::typed_memory_view(n, data));
}

val Messages(const std::vector<cihear::Message>& messages) {
    val list = val::array();
    for (const cihear::Message& m : messages) {
        val item = val::object();
        item.set("parameter", m.parameter);
        item.set("text", m.text);
        list.call<void>("push", item);
    }
    return list;
}

// A value for the page: a number, a choice's name (a string) or a list (an array of numbers).
val PageValue(const cihear::Value& v) {
    if (v.kind == cihear::Value::Kind::kName) {
        return val(v.name);
    }
    if (v.kind == cihear::Value::Kind::kNumber) {
        return val(v.number);
    }
    val list = val::array();
    for (double x : v.list) {
        list.call<void>("push", x);
    }
    return list;
}

// The effective settings by name: numbers, choices by their names, lists as arrays.
val SettingsObject(const cihear::Settings& settings) {
    val object = val::object();
    for (const cihear::ParameterInfo& info : cihear::ParameterTable()) {
        object.set(info.name, PageValue(cihear::GetParameter(settings, info)));
    }
    return object;
}

// A value from the page: a string is a name, an array a list of numbers, anything else a number
// (as JavaScript's Number() makes it: a list's item that is no number becomes NaN, which the
// strict setup refuses).
cihear::Value LibraryValue(const val& v) {
    if (v.isString()) {
        return cihear::Value(v.as<std::string>());
    }
    if (v.isArray()) {
        std::vector<double> list;
        const unsigned n = v["length"].as<unsigned>();
        for (unsigned i = 0; i < n; i++) {
            list.push_back(val::global("Number")(v[i]).as<double>());
        }
        return cihear::Value(list);
    }
    return cihear::Value(val::global("Number")(v).as<double>());
}

// A choice's names, in the order of their indices (none for the other kinds).
val ChoiceNames(const cihear::ParameterInfo& info) {
    val names = val::array();
    for (const std::string& name : params::ChoiceNames(info)) {
        names.call<void>("push", name);
    }
    return names;
}

template <typename T>
val NumberList(const std::vector<T>& values) {
    val list = val::array();
    for (const T& v : values) {
        list.call<void>("push", static_cast<double>(v));
    }
    return list;
}

val BandList(const std::vector<cihear::Band>& bands) {
    val list = val::array();
    for (const cihear::Band& b : bands) {
        val item = val::object();
        item.set("low", b.low);
        item.set("high", b.high);
        item.set("center", b.center);
        list.call<void>("push", item);
    }
    return list;
}

}  // namespace

std::vector<std::pair<std::string, cihear::Value>> web::Values(const val& pairs) {
    std::vector<std::pair<std::string, cihear::Value>> values;
    const unsigned n = pairs["length"].as<unsigned>();
    for (unsigned i = 0; i < n; i++) {
        values.emplace_back(pairs[i][0].as<std::string>(), LibraryValue(pairs[i][1]));
    }
    return values;
}

// The parameters as the library describes them, in the order they are set.
val ParameterTable() {
    static const char* const kinds[] = {"real", "count", "switch", "choice", "list"};
    val list = val::array();
    for (const cihear::ParameterInfo& p : cihear::ParameterTable()) {
        val item = val::object();
        item.set("name", std::string(p.name));
        item.set("letter", p.letter ? std::string(1, p.letter) : std::string());
        item.set("kind", std::string(kinds[static_cast<int>(p.kind)]));
        item.set("unit", std::string(p.unit));
        item.set("defaultValue", p.defaultValue);
        item.set("min", p.min);
        item.set("max", p.max);
        item.set("bound", std::string(p.bound));
        item.set("summary", std::string(p.summary));
        item.set("help", std::string(p.help));
        item.set("choices", ChoiceNames(p));
        // The default as the page shows and sends it: a number, a choice's name, or [] for a
        // list.
        item.set("defaultText", cihear::FormatValue(cihear::Settings(), p));
        list.call<void>("push", item);
    }
    return list;
}

// The library's strict setup of [[name, value], ...]: {ok, settings, warnings, errors}.
val ApplyStrict(val pairs) {
    const cihear::Applied applied = cihear::ApplyStrict(web::Values(pairs));
    val result = val::object();
    result.set("ok", applied.ok());
    result.set("settings", SettingsObject(applied.settings));
    result.set("warnings", Messages(applied.warnings));
    result.set("errors", Messages(applied.errors));
    return result;
}

// A value written as the command line writes it ("nucleus22", "3,7", "1800"), read by the
// library: {ok, value (a number, a name or an array), error (the library's sentence)}.
val ParseValue(std::string name, std::string text) {
    val result = val::object();
    const cihear::ParameterInfo* info = cihear::FindParameter(name);
    cihear::Value value;
    std::string error;
    const bool ok = info ? cihear::ParseValue(*info, text, value, error) : false;
    result.set("ok", ok);
    result.set("error", info ? error : "unknown parameter " + name);
    if (ok) {
        result.set("value", PageValue(value));
    }
    return result;
}

// Where a device map's table comes from, for the report ("" for none or an unknown name).
std::string MapSource(std::string name) {
    const cihear::Applied applied = cihear::ApplyStrict({{"map", cihear::Value(name)}});
    return applied.ok() ? params::MapSource(applied.settings.map) : "";
}

// A WAV file (in the module's file system) loaded as the command line loads it: 16-bit mono, or
// stereo mixed with MixStereo16, scaled by FromPcm16. {ok, message, wav, rate, channels,
// samples}; `wav` tells whether the file is a RIFF WAVE form at all, so the page may hand any
// other file to the browser's decoder.
val LoadWav(std::string path) {
    val result = val::object();
    WaveFile wave;
    const bool opened = wave.OpenRead(path.c_str());
    result.set("wav", opened);
    std::string why = opened ? engine::Unloadable(wave) : "could not open file";
    const uint32_t n = opened ? wave.GetNumSamples() : 0;
    const uint32_t channels = opened ? wave.GetNumChannels() : 0;
    std::vector<short> frames;
    if (why.empty()) {
        try {
            frames.resize(static_cast<size_t>(n) * channels);
        } catch (const std::bad_alloc&) {
            why = "not enough memory";
        }
    }
    if (why.empty() && !wave.ReadSamples(frames.data(), n)) {
        why = "could not read samples from file";
    }
    result.set("ok", why.empty());
    result.set("message", why);
    result.set("bits", opened ? wave.GetBitsPerChannel() : 0);
    if (!why.empty()) {
        return result;
    }
    if (channels == 2) {
        std::vector<int16_t> mono = cihear::MixStereo16(frames.data(), n);
        frames.assign(mono.begin(), mono.end());
    }
    const std::vector<double> x = cihear::FromPcm16(frames.data(), n);
    result.set("rate", wave.GetSampleRate());
    result.set("channels", channels);
    result.set("samples", Copy("Float64Array", x.data(), x.size()));
    return result;
}

// Simulates `count` doubles at `address` in the module's memory, at `rate` Hz, with the strict
// setup of `pairs` and `seed` (null for the program's own sequence). {ok, message, settings,
// warnings, output (the doubles), pcm (the file's 16-bit samples), and the inspection}.
val Simulate(uintptr_t address, double count, double rate, val pairs, val seed) {
    val result = val::object();
    const cihear::Applied applied = cihear::ApplyStrict(web::Values(pairs));
    result.set("settings", SettingsObject(applied.settings));
    result.set("warnings", Messages(applied.warnings));
    if (!applied.ok()) {
        result.set("ok", false);
        result.set("message", applied.errors[0].text);
        return result;
    }
    cihear::Options options;
    options.inspect = true;
    if (!seed.isNull() && !seed.isUndefined()) {
        options.seed = static_cast<int64_t>(seed.as<double>());
    }
    const cihear::Result r =
        cihear::Simulate(reinterpret_cast<const double*>(address), static_cast<size_t>(count),
                         static_cast<uint32_t>(rate), applied.settings, options);
    result.set("ok", r.status.ok());
    result.set("message", r.status.message);
    if (!r.status.ok()) {
        return result;
    }
    std::vector<int16_t> pcm(r.output.size());
    cihear::ToPcm16(r.output.data(), pcm.size(), pcm.data());
    result.set("output", Copy("Float64Array", r.output.data(), r.output.size()));
    result.set("pcm", Copy("Int16Array", pcm.data(), pcm.size()));

    const cihear::Inspection& in = r.inspection;
    result.set("bands", BandList(in.design.bands));
    result.set("synthesisBands", BandList(in.design.synthesisBands));
    result.set("interactionFactor", in.design.interactionFactor);
    // Channel c drives electrode electrodes[c] (1 the most apical) of electrodeCount; the
    // electrodes switched off have no channel.
    result.set("electrodeCount", in.design.electrodeCount);
    result.set("electrodes", NumberList(in.design.electrodes));
    result.set("off", NumberList(in.design.off));
    result.set("tones", NumberList(in.design.tones));
    result.set("channels", static_cast<double>(in.channels));
    result.set("frames", static_cast<double>(in.frames));
    std::vector<double> starts(in.frameStarts.begin(), in.frameStarts.end());
    result.set("frameStarts", Copy("Float64Array", starts.data(), starts.size()));
    result.set("electrodogram",
               Copy("Float64Array", in.electrodogram.data(), in.electrodogram.size()));
    result.set("selected", Copy("Uint8Array", in.selected.data(), in.selected.size()));
    return result;
}

std::string Version() {
    return cihear::Version();
}

EMSCRIPTEN_BINDINGS(cihear) {
    emscripten::function("parameterTable", &ParameterTable);
    emscripten::function("applyStrict", &ApplyStrict);
    emscripten::function("parseValue", &ParseValue);
    emscripten::function("mapSource", &MapSource);
    emscripten::function("loadWav", &LoadWav);
    emscripten::function("simulate", &Simulate);
    emscripten::function("version", &Version);
    emscripten::constant("outputRate", static_cast<double>(cihear::kOutputRate));
    emscripten::constant("maxSeed", static_cast<double>(cihear::kMaxSeed));
}
