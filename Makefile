# Quendrix: `make demo` runs the plug-in in the stand-in host; `make test` builds
# and runs every test. Both install what is missing first.
# Wine runs in the build folder's own prefix (tools/wine-env.sh); the Wine
# processes of a run are ended with it (tools/wine-session.sh).
BUILD ?= build
export BUILD
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build test demo bench dist reproducible format clean

all: build

deps:
	@tools/install-deps.sh

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/i686-w64-mingw32.cmake >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@tools/wine-session.sh ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The demo needs only the two DLLs and the host program.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target Quendrix VELDAN veldan_host
	@tools/wine-session.sh tools/demo.sh

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target quendrix_bench
	@tools/wine-session.sh wine $(BUILD)/quendrix_bench.exe $(STAGES)

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
	rm -rf $(BUILD) dist
