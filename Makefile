# Velotrax: the commands a user and CI type. See README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_GEN  := -G Ninja

.PHONY: all deps configure build test test-core test-asan bench run demo fuzz soak format clean

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every test of the program, then every fuzz target for FUZZ_SECONDS, then the Qt-free tests
# again under AddressSanitizer and UBSan.
test: test-core fuzz test-asan

test-core: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DVELOTRAX_WITH_UI=OFF -DVELOTRAX_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS, one after the other, on a copy of its committed seeds: a run
# writes only into $(FUZZ_BUILD). A finding leaves its input in $(FUZZ_BUILD)/findings/<target>/.
FUZZ_SECONDS ?= 30
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVELOTRAX_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@set -e; for f in $(FUZZ_BUILD)/*_fuzz; do \
	  [ -x "$$f" ] || continue; name=$$(basename $$f); \
	  corpus=$(FUZZ_BUILD)/corpus/$$name; findings=$(FUZZ_BUILD)/findings/$$name; \
	  log=$(FUZZ_BUILD)/$$name.log; \
	  rm -rf "$$corpus" "$$findings"; mkdir -p "$$corpus" "$$findings"; \
	  if [ -d tests/fuzz/corpus/$$name ]; then cp -R tests/fuzz/corpus/$$name/. "$$corpus"/; fi; \
	  echo "== $$name: $(FUZZ_SECONDS) s"; \
	  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	      "$$f" -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix="$$findings"/ \
	      "$$corpus" >"$$log" 2>&1; then \
	    tail -n 60 "$$log"; echo "$$name found a fault; its input is in $$findings" >&2; exit 1; \
	  fi; \
	  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$$log"; \
	done

# The full soak: 1,000 benchmark passes through the real runner and sequencer.
SOAK_PASSES ?= 1000
soak: build
	VELOTRAX_SOAK_PASSES=$(SOAK_PASSES) $(BUILD)/soak_test --gtest_color=no

bench: build
	@for b in $(BUILD)/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$(basename $$b)"; "$$b" || exit 1; echo; done

# Prepares the demo workspace (a stand-in emulator as mame.exe) and starts Velotrax in it.
demo: build
	@scripts/demo-workspace $(BUILD)

# The demo workspace with the demo emulator's Windows build (MinGW-w64) as mame.exe, which
# Velotrax runs through Wine; then: cd $(BUILD)/demo && ../velotrax
.PHONY: demo-windows
demo-windows: deps
	@scripts/install-deps --wine
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)
	cmake --build $(BUILD) -j $(JOBS) --target velotrax-windows
	@scripts/demo-workspace --windows $(BUILD)

run: demo
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "make run: no display here; start it under a desktop session, or try: xvfb-run make run" >&2; exit 1; fi
	cd $(BUILD)/demo && ../velotrax

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
