# The two commands of the README:
#   make run    build the console and start it (installs what it needs)
#   make test   build and run every test, also under the sanitizers, and fuzz the parsers
# Further: make bench (prints the benchmarks' figures), make screenshot.

JOBS ?= 2
# Seconds per fuzz target: three targets, about a minute in all.
FUZZ_SECONDS ?= 20
CMAKE_FLAGS ?=

.PHONY: run test setup build bench screenshot clean

setup:
	@bash scripts/setup.sh

build/release/CMakeCache.txt: | setup
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: build/release/CMakeCache.txt
	cmake --build build/release -j $(JOBS) --target velmora

run: build
	@bash scripts/start-console.sh build/release/console/velmora

test: setup
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_ASAN=ON -DVELMORA_WERROR=ON -DVELMORA_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ctest --output-on-failure --no-tests=error -j $(JOBS)
	cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TSAN=ON -DVELMORA_WERROR=ON -DVELMORA_GUI=OFF -DVELMORA_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure --no-tests=error -j $(JOBS) -L threads
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

bench: build/release/CMakeCache.txt
	cmake --build build/release -j $(JOBS)
	@bash scripts/run-benchmarks.sh build/release

screenshot: build
	@bash scripts/screenshot.sh build/release/console/velmora

clean:
	rm -rf build
