# Two set-up commands for a fresh machine: `make run` and `make test`.
BUILD    ?= build
JOBS     ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test soak bench bench-windows build release web windows deps clean

deps:
	@scripts/install-deps

# Only what the game needs: its packages, then a Release build of mapwalk1
# alone in a build folder of its own (no tests, benchmarks or browser build),
# run on the bundled assets.
run:
	@scripts/install-deps game
	@cmake -S . -B $(BUILD)/run -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DMAPWALK_TESTS=OFF -DMAPWALK_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)/run -j $(JOBS) --target mapwalk1
	cd assets && $(abspath $(BUILD))/run/mapwalk1/mapwalk1

release: deps
	@cmake -S . -B $(BUILD)/release -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)/release -j $(JOBS)

build: deps
	@cmake -S . -B $(BUILD)/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)/debug -j $(JOBS)

# The browser build: build/web/ holds index.html, the three program pages and
# their .js and .wasm (assets inside), and the text example's page, ready for
# any static server.
web: deps
	@NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B $(BUILD)/web-build -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DMAPWALK_TESTS=OFF -DMAPWALK_BENCH=OFF -DWEB_OUTPUT=$(abspath $(BUILD))/web >/dev/null
	@NODE_PATH=/usr/share/nodejs cmake --build $(BUILD)/web-build -j $(JOBS) --target web_mapwalk1 web_mapwalk2 web_mapwalk3 web_text

# The Windows build, cross-compiled with MinGW-w64: build/windows/bin/ holds
# mapwalk1.exe, mapwalk2.exe, mapwalk3.exe and the examples' .exe, static and
# stripped, needing no DLL beside them; build/windows/mapwalk-windows.zip the
# game to hand out; build/windows/package/ the layer for MinGW programs.
windows: deps
	@cmake -S . -B $(BUILD)/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/mingw-w64-x86_64.cmake) -DMAPWALK_TESTS=OFF -DMAPWALK_BENCH=OFF \
	  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=$(abspath $(BUILD))/windows/bin >/dev/null
	@cmake --build $(BUILD)/windows -j $(JOBS)

# The whole suite (unit, window, terminal, end-to-end and browser tests), without the soak.
test: build web windows
	cd $(BUILD)/debug && ctest --output-on-failure -j $(JOBS) -LE soak

# The long soak: each walker under random keys for SOAK_SECONDS, then
# SOAK_OPENINGS Screens opened and closed on each back-end.
SOAK_SECONDS  ?= 600
SOAK_OPENINGS ?= 1000
soak: build
	cd $(BUILD)/debug && export SOAK_SECONDS=$(SOAK_SECONDS) SOAK_OPENINGS=$(SOAK_OPENINGS) && \
	  tests/e2e/walker_e2e_test --gtest_filter='*Soak*' && tests/soak/soak_test

# Benchmarks: Release build, every bench_* program in turn, then the web build's
# (bench/web.mjs runs bench_web_loop, the native side of its comparison, itself).
# A missed target fails the run at its end, after every benchmark has reported.
bench: release web
	@status=0; for b in $(BUILD)/release/bench/bench_*; do \
	  case $$b in *bench_web_loop) continue;; esac; \
	  echo "== $$b"; $$b || status=1; done; \
	echo "== bench/web.mjs"; node bench/web.mjs $(BUILD)/web $(BUILD)/release/bench/bench_web_loop || status=1; \
	exit $$status

# The Windows back-ends' benchmark under Wine on a private Xvfb.
bench-windows: windows
	@bench/windows/run.sh $(BUILD)/windows

clean:
	rm -rf $(BUILD)
