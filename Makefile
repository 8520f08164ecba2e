# Framewhisk: the two set-up commands are `make run` and `make test`.
JOBS ?= $(shell nproc)
BUILD ?= build
TEST_BUILD ?= build-test
BENCH_BUILD ?= build-bench

.PHONY: deps build run test bench clean

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFW_BUILD_TESTS=OFF -DFW_BUILD_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS)

# Builds and starts the program (under Xvfb when there is no display).
run: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then ./$(BUILD)/app/framewhisk; \
	else echo "No display: starting under Xvfb"; xvfb-run -a ./$(BUILD)/app/framewhisk; fi

# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs all tests.
test: deps
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFW_SANITIZE=ON -DFW_BUILD_BENCH=OFF
	cmake --build $(TEST_BUILD) -j $(JOBS)
	ctest --test-dir $(TEST_BUILD) --output-on-failure -j $(JOBS)

# Benchmarks, side by side with the ffmpeg command line; not part of the tests.
bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_BUILD_TESTS=OFF -DFW_BUILD_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	bash bench/run.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD)
