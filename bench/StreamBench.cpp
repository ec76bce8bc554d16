// The stream's cost and level: how much of one core the stream takes in real time, per channel
// count, against the offline simulation per sample, and the output level of speech at the
// default output gain; and the time Describe takes.
//
//   cihear_stream_bench [speech.wav]     (run with CIHEAR_THREADS=1 for the one-thread offline)
#include <cihear/cihear.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchData.h"
#include "app/cli.h"
#include "signal/Signal.h"

namespace {

std::string ProcessorModel() {
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("model name", 0) == 0) {
            return line.substr(line.find(':') + 2);
        }
    }
    return "unknown processor";
}

double Seconds(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double RmsDb(const std::vector<double>& x, size_t from) {
    double e = 0.0;
    for (size_t j = from; j < x.size(); j++) {
        e += x[j] * x[j];
    }
    return 10.0 * std::log10(e / static_cast<double>(x.size() - from));
}

// The best of three runs of the stream over x in callbacks of `block` samples.
double StreamSeconds(const cihear::Settings& s, const std::vector<double>& x, size_t block) {
    double best = 1e30;
    std::vector<double> out(x.size());
    for (int run = 0; run < 3; run++) {
        cihear::Stream stream(s);
        const auto start = std::chrono::steady_clock::now();
        for (size_t at = 0; at < x.size(); at += block) {
            stream.Process(x.data() + at, std::min(block, x.size() - at), out.data() + at);
        }
        best = std::min(best, Seconds(start));
    }
    return best;
}

double OfflineSeconds(const cihear::Settings& s, const std::vector<double>& x) {
    double best = 1e30;
    for (int run = 0; run < 3; run++) {
        const auto start = std::chrono::steady_clock::now();
        cihear::Simulate(x.data(), x.size(), cihear::kOutputRate, s);
        best = std::min(best, Seconds(start));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("processor: %s\n", ProcessorModel().c_str());
    std::vector<double> speech;
    if (argc > 1) {
        std::unique_ptr<Signal> s(read(argv[1]));
        if (!s) {
            return 1;
        }
        speech.assign(s->GetSamples(), s->GetSamples() + s->GetLength());
    } else {
        std::unique_ptr<Signal> s = bench::SpeechLike(bench::kTenSeconds);
        speech.assign(s->GetSamples(), s->GetSamples() + s->GetLength());
    }
    // The level: speech at -20 dBFS RMS in, at the default gains.
    const double scale = std::pow(10.0, (-20.0 - RmsDb(speech, 0)) / 20.0);
    for (double& v : speech) {
        v *= scale;
    }
    {
        cihear::Stream stream{cihear::Settings()};
        std::vector<double> out(speech.size());
        stream.Process(speech.data(), speech.size(), out.data());
        std::printf(
            "speech at %.1f dBFS RMS in: %.1f dBFS RMS out at output gain %g, %llu clipped\n",
            RmsDb(speech, 0), RmsDb(out, stream.Latency()), cihear::kStreamOutputGain,
            static_cast<unsigned long long>(stream.Clipped()));
    }
    // Describe, which measures every filter's -3 dB band, at 22 channels.
    {
        cihear::Settings s;
        s.n_chan_ci = s.n_inserted_ch = s.n_on = 22;
        double best = 1e30;
        for (int run = 0; run < 20; run++) {
            const auto start = std::chrono::steady_clock::now();
            cihear::Describe(s);
            best = std::min(best, Seconds(start));
        }
        std::printf("Describe at 22 channels: %.2f ms\n", 1e3 * best);
    }
    // The cost: 60 s of speech-like sound.
    std::unique_ptr<Signal> long_ = bench::SpeechLike(60 * bench::kRate);
    const std::vector<double> x(long_->GetSamples(), long_->GetSamples() + long_->GetLength());
    const double duration = static_cast<double>(x.size()) / cihear::kOutputRate;
    std::printf("%8s %22s %22s %16s\n", "channels", "stream, 64-sample calls",
                "stream, 512-sample calls", "offline");
    for (unsigned n : {4u, 8u, 12u, 16u, 22u}) {
        cihear::Settings s;
        s.n_chan_ci = std::max(12u, n);
        s.n_inserted_ch = s.n_on = n;
        const double small = StreamSeconds(s, x, 64);
        const double large = StreamSeconds(s, x, 512);
        const double offline = OfflineSeconds(s, x);
        auto Line = [&](double t) {
            static char text[64];
            std::snprintf(text, sizeof text, "%5.2f %% core, %5.1f ns", 100.0 * t / duration,
                          1e9 * t / static_cast<double>(x.size()));
            return std::string(text);
        };
        std::printf("%8u %22s %22s %16s\n", n, Line(small).c_str(), Line(large).c_str(),
                    Line(offline).c_str());
    }
    return 0;
}
