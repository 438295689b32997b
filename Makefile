# Front door to the CMake build. `make demo` merges generated sample tiles; `make test` builds
# and runs every test.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all build test test-sanitize demo bench clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

demo: build
	tools/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) build-bench demo

# Benchmarks: Google Benchmark programs and the scripts that time whole commands.
bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_BENCH=ON -DKORVANE_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build build-bench -j $(JOBS)
	bench/run_all.sh build-bench
