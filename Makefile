# Quendrix: `make demo` runs the plug-in in the stand-in host; `make test` builds
# and runs every test. Both install what is missing first.
BUILD := build
export WINEPREFIX := $(CURDIR)/$(BUILD)/wineprefix
export WINEDEBUG := -all
export WINEDLLOVERRIDES := mscoree,mshtml=
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build wine-ready test demo bench dist reproducible format clean

all: build

deps:
	@tools/install-deps.sh

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/i686-w64-mingw32.cmake >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The first Wine run creates the prefix; a kept-alive wineserver makes the many
# short test processes cheap.
wine-ready: configure
	@mkdir -p $(WINEPREFIX)
	@wineserver -p 30 </dev/null >/dev/null 2>&1 || true
	@wine cmd /c exit </dev/null >/dev/null 2>&1 || true

test: build wine-ready
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The demo needs only the two DLLs and the host program.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target Quendrix VELDAN veldan_host
	@$(MAKE) wine-ready
	@tools/demo.sh

bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target quendrix_bench
	@$(MAKE) wine-ready
	@wine $(BUILD)/quendrix_bench.exe $(STAGES)

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
	@-wineserver -k 2>/dev/null || true
	rm -rf $(BUILD) dist
