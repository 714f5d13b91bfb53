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

.PHONY: all deps configure build check demo clean

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

clean:
	rm -rf build build-sanitize
