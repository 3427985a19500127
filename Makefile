# Velotrax: the commands a user and CI type. See README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
WINDOWS_BUILD ?= build-windows
WINDOWS32_BUILD ?= build-windows-i686
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# Tests mostly wait for the child processes they start: run more of them than there are cores.
TEST_JOBS  ?= $(shell echo $$(( $(JOBS) * 2 )))
CMAKE_GEN  := -G Ninja
# `make install` puts Velotrax under PREFIX; DESTDIR stages the tree elsewhere (for packaging).
PREFIX     ?= /usr/local
DESTDIR    ?=

.PHONY: all deps configure build test test-phases test-core test-asan bench run demo fuzz soak \
	stress install package format clean test-windows windows

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every test of the program, every fuzz target for FUZZ_SECONDS, the Qt-free tests again under
# AddressSanitizer and UBSan, and the Windows builds with their tests under Wine. The four phases
# build into their own directories and run side by side: a fuzz target or a waiting test keeps
# one core busy while another phase compiles. Each phase's output is shown whole when it ends.
test: deps
	@echo "make test: tests, fuzzing, the sanitizer run and the Windows tests side by side; each shows its output when it ends"
	@$(MAKE) --no-print-directory -j4 --output-sync=target test-phases
	@echo "make test: every phase passed"

test-phases: test-core fuzz test-asan test-windows

test-core: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS)

# Built with clang, whose sanitizers compile this code in half the time GCC's take (the fuzz
# targets use them too); a directory configured with another compiler is configured afresh. The tests that bound the memory a load takes measure the program, not
# freed memory that AddressSanitizer holds back (256 MB by default): a smaller quarantine still
# catches recent frees.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVELOTRAX_WITH_UI=OFF -DVELOTRAX_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=32 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(TEST_JOBS)

# The engine (base, storage, process, emulator, core, results), velotrax-cli and the demo
# emulator cross-built with MinGW-w64 for 64-bit and 32-bit Windows, and their test suites run as
# Windows programs under Wine, in a Wine prefix of each build directory's own (made once before
# the tests start). The 32-bit tests need 32-bit Wine (Debian's wine32:i386), which
# scripts/install-deps does not install: see "Building for Windows" in README.md.
WINE32_LOADER ?= /usr/lib/wine/wine
test-windows: deps
	cmake -S . -B $(WINDOWS_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	cmake -S . -B $(WINDOWS32_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
	cmake --build $(WINDOWS32_BUILD) -j $(JOBS)
	ctest --test-dir $(WINDOWS_BUILD) --output-on-failure -j $(TEST_JOBS)
	@if [ -x $(WINE32_LOADER) ]; then \
	  echo "+ ctest --test-dir $(WINDOWS32_BUILD) --output-on-failure -j $(TEST_JOBS)"; \
	  ctest --test-dir $(WINDOWS32_BUILD) --output-on-failure -j $(TEST_JOBS); \
	else \
	  echo "make test-windows: the 32-bit build ($(WINDOWS32_BUILD)) compiled, but its tests were not run:"; \
	  echo "make test-windows: 32-bit Wine ($(WINE32_LOADER), Debian's wine32:i386) is not installed."; \
	  echo "make test-windows: installing it adds the i386 architecture to dpkg, which make test does not do to a machine;"; \
	  echo "make test-windows: see \"Building for Windows\" in README.md."; \
	fi

# velotrax.exe, velotrax-cli.exe and the demo emulator cross-built for Windows, packed with the
# README (as text) and a demo workspace into velotrax-VERSION-windows-x86_64.zip in the top
# directory, and the installer velotrax-VERSION-setup.exe (NSIS) beside it. The target
# velotrax-windows-package builds whichever of them the build has.
windows: deps
	cmake -S . -B $(WINDOWS_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target velotrax-windows-package
	@scripts/package-windows $(WINDOWS_BUILD)

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

# The runner's and the emulator probe's line hand-out STRESS_RUNS times each, eight runs at once
# beside two busy processes per core: every line must arrive whole and in order. A lost queue of
# output shows in a few of every thousand runs when nothing protects it.
STRESS_RUNS ?= 2000
stress: configure
	cmake --build $(BUILD) -j $(JOBS) --target stress_test
	VELOTRAX_STRESS_RUNS=$(STRESS_RUNS) VELOTRAX_STRESS_THREADS=8 \
	  VELOTRAX_STRESS_LOAD=$$(( $(JOBS) * 2 )) $(BUILD)/stress_test --gtest_color=no

# Every benchmark's table, one after the other (the start-up benchmark starts a virtual screen of
# its own). A failing benchmark does not hide the tables after it.
bench: build
	@failed=""; \
	for b in $(BUILD)/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$(basename $$b)"; \
	  "$$b" || failed="$$failed $$(basename $$b)"; echo; done; \
	if [ -n "$$failed" ]; then echo "make bench: failed:$$failed" >&2; exit 1; fi

# What the demo workspace and `make run` use: the program, its headless companion and the demo
# emulator, without the tests and benchmarks that `make build` adds.
DEMO_TARGETS := velotrax velotrax-cli velotrax-demo-emulator

# Prepares the demo workspace (a stand-in emulator as mame.exe) and starts Velotrax in it. Without
# a display, the headless companion runs a benchmark there instead of the window.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_TARGETS)
	@scripts/demo-workspace $(BUILD)

# The demo workspace with the demo emulator's Windows build (MinGW-w64) as mame.exe, which
# Velotrax runs through Wine; then: cd $(BUILD)/demo && ../velotrax
.PHONY: demo-windows
demo-windows: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_TARGETS) velotrax-windows
	@scripts/demo-workspace --windows $(BUILD)

run: demo
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "make run: no display here, so velotrax-cli benchmarks pacman in $(BUILD)/demo instead of opening the window"; \
	  echo "make run: (xvfb-run make run shows the window on a virtual screen)"; \
	  echo "+ cd $(BUILD)/demo && ../velotrax-cli run --mode both pacman"; \
	  cd $(BUILD)/demo && ../velotrax-cli run --mode both pacman && \
	  echo "+ ../velotrax-cli show pacman" && ../velotrax-cli show pacman; \
	else cd $(BUILD)/demo && ../velotrax; fi

install: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD) -j $(JOBS)
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

# A Debian package of everything `make install` installs, under /usr, with the dependencies read
# from the binaries: install it with `sudo apt install ./velotrax_*.deb`.
package: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build $(BUILD) -j $(JOBS)
	rm -f $(BUILD)/velotrax_*.deb
	cd $(BUILD) && cpack -G DEB
	cp $(BUILD)/velotrax_*.deb .
	@ls velotrax_*.deb

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD) $(WINDOWS32_BUILD)
