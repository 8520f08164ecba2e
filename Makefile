# Framewhisk: the two set-up commands are `make run` and `make test`;
# `make install` and `make package` put it on the system.
JOBS ?= $(shell nproc)
BUILD ?= build
TEST_BUILD ?= build-test
PLAIN_BUILD ?= build-plain
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

# The whole test run, three passes:
#  1. everything built with AddressSanitizer and UndefinedBehaviorSanitizer, all tests;
#  2. a plain optimised build (the one users run), all tests again;
#  3. on that build, every test that decodes, scales, renders or captures under
#     valgrind memcheck, which also sees bad reads and writes inside the system's
#     FFmpeg libraries (the sanitizers only see our own code).
test: deps
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFW_SANITIZE=ON -DFW_BUILD_BENCH=OFF
	cmake --build $(TEST_BUILD) -j $(JOBS)
	ctest --test-dir $(TEST_BUILD) --output-on-failure -j $(JOBS)
	cmake -S . -B $(PLAIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_MEMCHECK=ON -DFW_BUILD_BENCH=OFF
	cmake --build $(PLAIN_BUILD) -j $(JOBS)
	ctest --test-dir $(PLAIN_BUILD) --output-on-failure -j $(JOBS) -LE memcheck
	ctest --test-dir $(PLAIN_BUILD) --output-on-failure -j $(JOBS) -L memcheck

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
	rm -rf $(BUILD) $(TEST_BUILD) $(PLAIN_BUILD) $(BENCH_BUILD)
