// Runs the benchmarks and, after the table, the speed-up of every fast kernel over its plain
// loop: the ratio of the throughputs of <name>/fast and <name>/textbook measured in this run.
// With repetitions, the table shows the best repetition of each benchmark (the machine is
// shared, and interference only ever slows a run down) and the ratios compare best with best;
// the JSON report (--benchmark_out) keeps every repetition.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // The repetitions of one benchmark arrive one after the other: each benchmark's best is
    // shown once the next benchmark begins. Aggregates go to the JSON report only.
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) {
                continue;
            }
            if (current.empty() || current.front().benchmark_name() != run.benchmark_name()) {
                ShowBest();
            }
            current.push_back(run);
        }
    }

    void Finalize() override {
        ShowBest();
        ShowRatios();
        ConsoleReporter::Finalize();
    }

private:
    static double Throughput(const Run& run) {
        const auto rate = run.counters.find("items_per_second");
        return run.error_occurred || rate == run.counters.end() ? 0.0 : rate->second.value;
    }

    void ShowBest() {
        if (current.empty()) {
            return;
        }
        const Run* best = &current.front();
        for (const Run& run : current) {
            if (Throughput(run) > Throughput(*best)) {
                best = &run;
            }
        }
        throughput[best->benchmark_name()] = Throughput(*best);
        ConsoleReporter::ReportRuns({*best});
        current.clear();
    }

    void ShowRatios() {
        const std::string fast = "/fast";
        bool header = false;
        for (const auto& [name, rate] : throughput) {
            const size_t at = name.find(fast);
            if (at == std::string::npos) {
                continue;
            }
            std::string plain = name;
            plain.replace(at, fast.size(), "/textbook");
            const auto other = throughput.find(plain);
            if (other == throughput.end() || other->second <= 0.0) {
                continue;
            }
            if (!header) {
                std::printf("\n%-32s %14s %14s %9s\n", "fast kernel vs plain loop", "fast items/s",
                            "plain items/s", "speed-up");
                header = true;
            }
            std::printf("%-32s %14.4g %14.4g %8.2fx\n", name.c_str(), rate, other->second,
                        rate / other->second);
        }
        std::fflush(stdout);
    }

    std::vector<Run> current;  // the repetitions of the benchmark running now
    std::map<std::string, double> throughput;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
