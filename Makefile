# Entry point: `make demo` runs the main job on the sample node,
# `make check` runs the whole test suite (SANITIZE=1: under ASan and UBSan).

JOBS ?= 8
ifeq ($(SANITIZE),1)
BUILD := build-sanitize
CMAKE_FLAGS := -DKORVIX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else
BUILD := build
CMAKE_FLAGS :=
endif

# make fuzz: the fuzz entry points built with clang (libFuzzer, ASan, UBSan)
# in build-fuzz and run FUZZ_SECONDS each with a memory limit of FUZZ_RSS_MB;
# FUZZ_TARGETS names some of them (default: all).
FUZZ_SECONDS ?= 60
FUZZ_RSS_MB ?= 512
FUZZ_TARGETS ?=

.PHONY: all deps configure build check demo fuzz clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

demo: build
	./scripts/install-deps.sh --demo
	./examples/run-demo.sh $(BUILD)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKORVIX_FUZZ=ON
	cmake --build build-fuzz -j$(JOBS) --target fuzz_targets
	./tests/fuzz/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS) $(FUZZ_RSS_MB) $(FUZZ_TARGETS)

clean:
	rm -rf build build-sanitize build-fuzz
