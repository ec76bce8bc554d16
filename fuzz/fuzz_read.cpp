// Fuzzes the program's loader: any bytes as an input file, through opening, the mono mix and the
// rate conversion to the internal rate. A load either fails with an "error: " line, or succeeds
// silently with finite samples inside the full-scale range that the simulation expects.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "FuzzInput.h"
#include "app/cli.h"
#include "signal/Signal.h"

using fuzzinput::Require;

namespace {

// Larger inputs add nothing the small ones do not reach and only make each run slow.
const size_t maxInputSize = 64 * 1024;

// Collects what the loader writes to standard error, and puts the stream back when done.
class CapturedErrors {
public:
    CapturedErrors() : saved(std::cerr.rdbuf(text.rdbuf())) {}
    ~CapturedErrors() { std::cerr.rdbuf(saved); }
    std::string Text() const { return text.str(); }

private:
    std::ostringstream text;
    std::streambuf* saved;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > maxInputSize) {
        return 0;
    }
    static fuzzinput::InputFile input("read");
    const char* name = input.Write(data, size);

    std::string errors;
    std::unique_ptr<Signal> signal;
    {
        CapturedErrors capture;
        signal.reset(read(name));
        errors = capture.Text();
    }

    if (!signal) {
        Require(errors.rfind("error: ", 0) == 0 && errors.back() == '\n',
                "a failed load did not say why on standard error");
        return 0;
    }
    Require(errors.empty(), "a successful load wrote to standard error");
    const double* x = signal->GetSamples();
    for (uint32_t i = 0; i < signal->GetLength(); i++) {
        Require(std::isfinite(x[i]) && std::fabs(x[i]) <= 1.0, "a sample outside full scale");
    }
    return 0;
}
