# Thin wrapper around CMake. The two commands of the quick start:
#   make demo   installs what is missing, builds, and simulates examples/speech.wav -> output.wav
#   make test   installs what is missing, builds, and runs the whole test suite
BUILD ?= build
JOBS ?= 2

.PHONY: all deps configure build demo test bench sanitize fuzz clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

demo: build
	./$(BUILD)/cihear -i examples/speech.wav -o output.wav

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# Google Benchmark suite (JSON report under build/) and the end-to-end timing script.
bench: deps
	scripts/bench

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer (its own build
# directory), plus the memcheck run.
sanitize: deps
	scripts/sanitize

# libFuzzer harnesses, each run for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz build-bench
