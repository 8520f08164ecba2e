# Framewhisk: the two set-up commands are `make run` and `make test`;
# `make install` and `make package` put it on the system.
JOBS ?= $(shell nproc)
BUILD ?= build
TEST_BUILD ?= build-test
BENCH_BUILD ?= build-bench
PREFIX ?= /usr/local

.PHONY: deps build run test bench install package clean

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

# Installs the program, fwmedia, the help pages, the desktop file, the icon
# and the AppStream description under PREFIX (as root for the system).
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the same files for /usr: $(BUILD)/framewhisk_<version>_<arch>.deb
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD)
