# Quendrix: `make demo` runs the plug-in in the stand-in host; `make test` builds
# and runs every test, under Wine and natively. Both install what is missing
# first.
# Wine runs in the build folder's own prefixes (tools/wine-env.sh): the tests'
# and the demo's processes are ended with their run (tools/wine-session.sh),
# host program sessions (tools/veldan-host.sh) keep a prefix of their own.
BUILD ?= build
export BUILD
# The native build (fuzz/): 32-bit Linux, clang with AddressSanitizer,
# UndefinedBehaviorSanitizer and libFuzzer.
NATIVE = $(BUILD)/native
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory
FUZZ_TARGETS = $(basename $(notdir $(wildcard fuzz/targets/*.cpp)))
SECONDS ?= 60

.PHONY: all deps configure build native host replay test fuzz worlds coverage demo bench dist \
	reproducible format clean

all: build

deps:
	@tools/install-deps.sh

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/i686-w64-mingw32.cmake >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

native: deps
	@test -f $(NATIVE)/CMakeCache.txt || CC=clang CXX=clang++ cmake -S fuzz -B $(NATIVE) >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

test: build native
	@tools/wine-session.sh ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS)

# A longer fuzz run of one target, or of each in turn: make fuzz
# TARGET=document_reader SECONDS=600. SEED= and RUNS= fix libFuzzer's seed
# and the number of runs. The corpus grows in $(NATIVE)/corpus/TARGET, what
# fails lands in $(NATIVE)/findings/TARGET (docs/maintaining.md).
fuzz: native
	@for target in $(or $(TARGET),$(FUZZ_TARGETS)); do \
	    fuzz/fuzz-run.sh $(NATIVE)/fuzz_$$target $$target -max_total_time=$(SECONDS) \
	        $(if $(SEED),-seed=$(SEED)) $(if $(RUNS),-runs=$(RUNS)) || exit 1; \
	done

# Generated worlds (tests/worlds/): make worlds SEED=7 RUNS=1000000 plays
# RUNS worlds from SEED on through Quendrix.dll beside the stand-in in strict
# mode under Wine (a prefix of its own, so that make test does not end it);
# RUNS=1, the default, plays world SEED alone and prints it. CASE=FILE plays
# a kept case (or every one in a folder). NATIVE=1 plays them natively on
# the plug-in's portable core under the sanitizers.
WORLDS_RUN = $(if $(CASE),--world,--seed $(or $(SEED),1) --runs $(or $(RUNS),1))
worlds:
ifeq ($(NATIVE),1)
	@$(MAKE) native
	@$(NATIVE)/native_worlds $(WORLDS_RUN) $(CASE)
else
	@$(MAKE) configure
	@cmake --build $(BUILD) -j $(JOBS) --target worlds_test
	@VELDAN_STRICT=1 QUENDRIX_WINE_PREFIX=wineprefix-worlds tools/wine-session.sh \
	    wine $(BUILD)/testbed/worlds_test.exe $(WORLDS_RUN) $(if $(CASE),Z:$(abspath $(CASE)))
endif

# Line and branch coverage of host/, frame/ and reconcile/ over the Windows
# tests (tools/coverage.sh, docs/coverage.md): a build of its own in
# $(BUILD)/coverage, the list of what is not taken in
# $(BUILD)/coverage/not-covered.txt.
coverage: deps
	@tools/coverage.sh $(BUILD)/coverage $(JOBS)

# What the host program needs (tools/veldan-host.sh): the two DLLs and itself.
host: configure
	@cmake --build $(BUILD) -j $(JOBS) --target Quendrix VELDAN veldan_host

# What tools/replay.sh needs: the plug-in, the replay host and its driver.
replay: configure
	@cmake --build $(BUILD) -j $(JOBS) --target Quendrix quendrix_replay

demo: host
	@QUENDRIX_WINE_PREFIX=wineprefix-demo tools/wine-session.sh tools/demo.sh

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target quendrix_bench
	@tools/wine-session.sh wine $(BUILD)/testbed/quendrix_bench.exe $(STAGES)

# The release package: dist/Quendrix-<version>.zip and, beside it, the debug
# information in dist/Quendrix.dll.debug. `make reproducible` builds it twice
# from clean clones in two temporary folders and compares the bytes.
dist: configure
	@cmake --build $(BUILD) -j $(JOBS) --target Quendrix
	@tools/make-dist.sh $(BUILD) dist

reproducible: deps
	@tools/check-reproducible.sh

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@-tools/wine-session.sh --end
	@-QUENDRIX_WINE_PREFIX=wineprefix-demo tools/wine-session.sh --end
	@-QUENDRIX_WINE_PREFIX=wineprefix-replay tools/wine-session.sh --end
	@-QUENDRIX_WINE_PREFIX=wineprefix-worlds tools/wine-session.sh --end
	@-BUILD=$(BUILD)/coverage tools/wine-session.sh --end
	rm -rf $(BUILD) dist
