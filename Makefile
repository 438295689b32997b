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
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE large

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS) -LE large

demo: build
	tools/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) build-bench build-package build-fuzz demo

# Benchmarks: Google Benchmark programs and the scripts that time whole commands.
bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_BENCH=ON -DKORVANE_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build build-bench -j $(JOBS)
	bench/run_all.sh build-bench

# The Debian package (build-package/korvane-lidar_VERSION_ARCH.deb): tool, libraries, header,
# CMake and pkg-config files and manual pages under /usr.
PKG_BUILD ?= build-package
.PHONY: package
package:
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DKORVANE_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(PKG_BUILD) -j $(JOBS)
	cd $(PKG_BUILD) && cpack -G DEB

# On demand, not part of `make test`: the merge of an output beyond 4 GiB (writes about 4.4 GB in
# the temporary directory, then removes it), and the test programs, with every Quillet they
# start, under valgrind.
.PHONY: test-large test-valgrind
test-large: build
	ctest --test-dir $(BUILD) --output-on-failure -L large

test-valgrind: build
	tests/run_valgrind.sh $(BUILD)

# Fuzzing: the libFuzzer targets of tests/fuzz, built with clang and the sanitizers, each run for
# FUZZ_SECONDS from generated seeds (and the corpus kept in $(FUZZ_BUILD) by earlier runs).
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_FUZZ=ON -DKORVANE_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) --target fuzzers -j $(JOBS)
	tests/fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)
