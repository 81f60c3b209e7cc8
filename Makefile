# The two commands of the README:
#   make run    install what is missing, build, start Lumivex
#   make test   install what is missing, build, run every test
BUILD_DIR ?= build
CMAKE_FLAGS ?=

FUZZ_SECONDS ?= 30

.PHONY: all deps build run test check sanitize-test fuzz bench soak clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	    echo "No display: start Lumivex from a desktop session (or under xvfb-run)."; exit 1; fi
	$(BUILD_DIR)/lumivex

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure

# The whole suite once more with AddressSanitizer, LeakSanitizer and UBSan.
sanitize-test: deps
	scripts/sanitize-test

# Each libFuzzer target for FUZZ_SECONDS seconds.
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz

# Everything CI runs.
check: test sanitize-test fuzz

bench: build
	bench/strobe-timing.sh $(BUILD_DIR)

soak: build
	bench/soak.sh $(BUILD_DIR)/lumivex

clean:
	rm -rf $(BUILD_DIR) build-asan build-fuzz
