# Two entry points do all the set-up on a fresh machine:
#   make demo   transcribe a sample with the bundled models and print the events
#   make test   build everything and run every test
#   make bench  build everything and run the engine benchmarks (not part of test)
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

demo: build
	@scripts/demo.sh $(BUILD_DIR)

bench: build
	@bench/run_benchmarks.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
