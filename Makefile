# Front door to the CMake build. `make demo` merges generated sample tiles; `make test` builds
# and runs every test. Each target first installs the Debian packages it needs that are missing
# (tools/ensure-deps.sh; ENSURE_DEPS=: skips that).
BUILD       ?= build
SAN_BUILD   ?= build-sanitize
TSAN_BUILD  ?= build-tsan
DEMO_BUILD  ?= build-demo
JOBS        ?= $(shell nproc)
CMAKE_ARGS  ?=
ENSURE_DEPS ?= tools/ensure-deps.sh
# Our own builds treat warnings as errors; a user's plain CMake build and `make demo` and
# `make package` do not, so that a compiler newer or older than ours cannot stop them.
WERROR      ?= -DKORVANE_WERROR=ON

.PHONY: all build test test-sanitize test-tsan demo bench clean

all: build

build:
	@$(ENSURE_DEPS) test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

# laz-perf for the LAZ tests, fetched with npm when tools/install-lazperf.sh is there.
LAZPERF = if [ -f tools/install-lazperf.sh ]; then bash tools/install-lazperf.sh; fi

test: build
	@$(LAZPERF)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE large

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer, but for the tests
# labelled slow (minutes there, for nothing the others do not check).
test-sanitize:
	@$(ENSURE_DEPS) test
	@$(LAZPERF)
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON $(WERROR) $(CMAKE_ARGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS) -LE 'large|slow'

# The tests of what runs on several threads (the chunk pipeline, the LAZ merges that decode and
# encode on it, the merges of tiles on other grids, interrupts of a parallel merge, the C
# interface's two merges at once, the cloud optimised output's nodes coded on every core, the -o
# form's progress) under ThreadSanitizer; only their programs are built.
TSAN_TESTS ?= ChunkPipeline|LazCoding|GridMerge|RunningMerge|LazMerge|CommandLine|MergeApi|CopcMerge.SameBytes|CopcTemporaryFiles|OutputForm
TSAN_TARGETS ?= chunk_pipeline_test laz_coding_merge_test grid_merge_test interrupt_test copc_temporary_files_test \
	laz_merge_test command_line_test merge_api_test copc_merge_test output_form_test
test-tsan:
	@$(ENSURE_DEPS) test
	@$(LAZPERF)
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_SANITIZE_THREAD=ON $(WERROR) $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -LE large -R '$(TSAN_TESTS)'

# Only what the demo runs (Quillet, the tile generator, the header viewer), without the tests,
# in a build directory of its own.
demo:
	@$(ENSURE_DEPS) demo
	cmake -S . -B $(DEMO_BUILD) -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(DEMO_BUILD) --target Quillet lasgen lasinfo -j $(JOBS)
	tools/demo.sh $(DEMO_BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(DEMO_BUILD) build-bench build-package build-fuzz build-release \
	       build-release-clang demo

# Benchmarks: Google Benchmark programs and the scripts that time whole commands.
bench:
	@$(ENSURE_DEPS) bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_BENCH=ON -DKORVANE_BUILD_TESTS=OFF $(WERROR) $(CMAKE_ARGS)
	cmake --build build-bench -j $(JOBS)
	bench/run_all.sh build-bench

# The Debian package (build-package/korvane-lidar_VERSION_ARCH.deb): tool, libraries, header,
# CMake and pkg-config files, manual pages and the copyright file under /usr.
PKG_BUILD ?= build-package
.PHONY: package
package:
	@$(ENSURE_DEPS) package
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
	@$(ENSURE_DEPS) valgrind
	@$(LAZPERF)
	tests/run_valgrind.sh $(BUILD)

# Fuzzing: the libFuzzer targets of tests/fuzz, built with clang and the sanitizers, each run for
# FUZZ_SECONDS from generated seeds (and the corpus kept in $(FUZZ_BUILD) by earlier runs).
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz:
	@$(ENSURE_DEPS) fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_FUZZ=ON -DKORVANE_BUILD_TESTS=OFF $(WERROR) $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) --target fuzzers -j $(JOBS)
	tests/fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)
