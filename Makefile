# The two commands of the README:
#   make run    install what is missing, build, start Lumivex
#   make test   install what is missing, build, run every test
# and the quick check while working:
#   make test-fast   the same, but only the unit, widget and lint tests
BUILD_DIR ?= build
CMAKE_FLAGS ?=

FUZZ_SECONDS ?= 30

WINDOWS_BUILD_DIR ?= build-windows
WINDOWS_CMAKE_FLAGS ?=

.PHONY: all deps build run test test-fast check sanitize-test tsan-test fuzz bench bench-startup
.PHONY: soak clean
.PHONY: windows windows-test windows-packages bench-windows host-tools

all: build

# The Debian packages a target needs, by tier (see scripts/install-deps):
# building and test-fast need only the build tier, no display, window manager
# or package tool. A target that builds in $(BUILD_DIR) and needs more sets TIER, which holds for
# the build it starts too, so that one apt-get call installs what it needs;
# the others install their tier themselves.
TIER = build
deps:
	@scripts/install-deps $(TIER)

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)

run: TIER = run
run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	    echo "No display: start Lumivex from a desktop session (or under xvfb-run)."; exit 1; fi
	$(BUILD_DIR)/lumivex

test: TIER = test
test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure

# No package builds and no program on a display: the in-process tests (ctest
# labels unit and widget) and the lint tests (shellcheck, clang-format), on
# every core.
test-fast: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -L '^(unit|widget|lint)$$' -j$(shell nproc)

# The whole suite once more with AddressSanitizer, LeakSanitizer and UBSan.
sanitize-test:
	@scripts/install-deps test
	scripts/sanitize-test

# The tests that run threads of their own, with ThreadSanitizer.
tsan-test:
	@scripts/install-deps tsan-test
	scripts/tsan-test

# Each libFuzzer target for FUZZ_SECONDS seconds.
fuzz:
	@scripts/install-deps fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz

# What CI runs on Linux.
check: test sanitize-test tsan-test fuzz

# The benchmarks run the program on virtual displays, as the end-to-end tests do.
bench bench-startup soak: TIER = test
bench: build
	bench/strobe-timing.sh $(BUILD_DIR)

# Start-up and memory against the smallest Qt Widgets window of the same shape.
bench-startup: build
	bench/startup.sh $(BUILD_DIR)

soak: build
	bench/soak.sh $(BUILD_DIR)/lumivex

# Windows, cross-built here: lumivex.exe with the DLLs it needs in
# $(WINDOWS_BUILD_DIR). Qt for Windows is built from Debian's source once and
# kept in ~/.cache/lumivex (the first time takes half an hour or more).
windows:
	@scripts/install-deps windows
	@qt=$$(scripts/build-windows-qt) && \
	cmake -S . -B $(WINDOWS_BUILD_DIR) -G Ninja \
	    -DCMAKE_TOOLCHAIN_FILE=$$qt/lib/cmake/Qt6/qt.toolchain.cmake \
	    -DQT_CHAINLOAD_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	    -DLUMIVEX_HOST_TOOLS=$(abspath $(BUILD_DIR))/tools $(WINDOWS_CMAKE_FLAGS)
	cmake --build $(WINDOWS_BUILD_DIR)

# The portable zip and the installer, in $(WINDOWS_BUILD_DIR)/packages.
windows-packages: windows
	cmake --build $(WINDOWS_BUILD_DIR) --target windows-packages

# The Linux tools that read the screen for the Wine tests and benchmarks.
host-tools: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) --target pixelsampler screengrab xclose cursorgrab

# The Windows build's tests under Wine: unit and widget tests, the program on
# a virtual display, the packages installed and removed.
windows-test: windows host-tools
	ctest --test-dir $(WINDOWS_BUILD_DIR) --output-on-failure

bench-windows: windows host-tools
	bench/strobe-timing-wine.sh $(WINDOWS_BUILD_DIR) $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz $(WINDOWS_BUILD_DIR)
