# Thin wrapper around CMake. The two commands of the quick start:
#   make demo   installs what is missing, builds, and simulates examples/speech.wav -> output.wav
#   make test   installs what is missing, builds, and runs the whole test suite
BUILD ?= build
JOBS ?= 2

.PHONY: all deps deps-demo configure web matlab install build demo test bench sanitize fuzz clean

all: build

# What each target installs: the demo only the compiler and its libraries, the tests everything.
deps:
	@scripts/install-deps test

deps-demo:
	@scripts/install-deps demo

configure:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: deps-demo configure
	@cmake --build $(BUILD) -j$(JOBS)

# The demo builds only the program it runs (make test builds everything).
demo: deps-demo configure
	@cmake --build $(BUILD) -j$(JOBS) --target cihear
	@scripts/demo $(BUILD)

test: deps
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The page in the browser, built with Emscripten into $(BUILD)-web/site.
web:
	@scripts/install-deps web
	scripts/build-web

# The MEX function for Octave, built with mkoctfile into $(BUILD)/matlab.
matlab:
	@scripts/install-deps octave
	@$(MAKE) --no-print-directory build
	scripts/build-matlab $(BUILD)

# The executable, the C++ library with its header and CMake package (PREFIX=/usr/local).
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

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
