# Two set-up commands for a fresh machine: `make run` and `make test`.
BUILD    ?= build
JOBS     ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test soak bench build release deps clean

deps:
	@scripts/install-deps

# Release build, then mapwalk1 on the bundled assets.
run: deps
	@cmake -S . -B $(BUILD)/release -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)/release -j $(JOBS)
	cd assets && ../$(BUILD)/release/mapwalk1/mapwalk1

release: deps
	@cmake -S . -B $(BUILD)/release -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)/release -j $(JOBS)

build: deps
	@cmake -S . -B $(BUILD)/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)/debug -j $(JOBS)

# The whole suite (unit, window, terminal and end-to-end tests), without the soak.
test: build
	cd $(BUILD)/debug && ctest --output-on-failure -j $(JOBS) -LE soak

# The long soak: each walker under random keys for SOAK_SECONDS, then
# SOAK_OPENINGS Screens opened and closed on each back-end.
SOAK_SECONDS  ?= 600
SOAK_OPENINGS ?= 1000
soak: build
	cd $(BUILD)/debug && export SOAK_SECONDS=$(SOAK_SECONDS) SOAK_OPENINGS=$(SOAK_OPENINGS) && \
	  tests/e2e/walker_e2e_test --gtest_filter='*Soak*' && tests/soak/soak_test

# Benchmarks: Release build, every bench_* program in turn.
bench: release
	@for b in $(BUILD)/release/bench/bench_*; do echo "== $$b"; $$b || exit 1; done

clean:
	rm -rf $(BUILD)
