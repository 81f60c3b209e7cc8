# The two commands of the README:
#   make run    install what is missing, build, start Lumivex
#   make test   install what is missing, build, run every test
BUILD_DIR ?= build
CMAKE_FLAGS ?=

.PHONY: all deps build run test bench clean

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

clean:
	rm -rf $(BUILD_DIR)
