# The two commands of the README:
#   make run    build the console and start it (installs what it needs)
#   make test   build and run every test, also under the sanitizers, check the Debian package,
#               run the kernel drivers' tests in QEMU, and fuzz the parsers, the lock-file reader
#               and the receive pane
# Further: make bench (prints the benchmarks' figures), make screenshot, make package (the
# Debian package, build/package/velmora_<version>_amd64.deb).

JOBS ?= 2
# A compiler cache (when the machine has one) is shared by every checkout of the project: paths
# inside the tree are hashed relative to it, so a fresh clone elsewhere reuses what was built.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
# Seconds per fuzz target: six targets, about two minutes in all.
FUZZ_SECONDS ?= 20
CMAKE_FLAGS ?=

.PHONY: run test setup build bench screenshot package clean

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
	$(MAKE) --no-print-directory package
	bash packaging/check-package.sh build/package/velmora_*_amd64.deb
	cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TSAN=ON -DVELMORA_WERROR=ON -DVELMORA_GUI=OFF -DVELMORA_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure --no-tests=error -j $(JOBS) -L threads
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

# Built as Debian builds its packages: its compiler and linker flags (hardened, without
# debugging information, which a stripped package would drop anyway), and no tests. Debian 12's
# dpkg-buildflags lacks two protections its later releases add to every hardened build: the
# control-flow marks (indirect-branch tracking, shadow stack) and stack-clash probing.
DEB_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g dpkg-buildflags --get
HARDENING_EXTRA = -fcf-protection -fstack-clash-protection
build/package/CMakeCache.txt: | setup
	CXXFLAGS="$$($(DEB_FLAGS) CXXFLAGS) $$($(DEB_FLAGS) CPPFLAGS) $(HARDENING_EXTRA)" LDFLAGS="$$($(DEB_FLAGS) LDFLAGS)" \
	  cmake -S . -B build/package -DCMAKE_BUILD_TYPE=None -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF $(CMAKE_FLAGS)

package: build/package/CMakeCache.txt
	cmake --build build/package -j $(JOBS)
	cd build/package && rm -f velmora_*.deb && cpack -G DEB
	@ls build/package/velmora_*.deb

bench: build/release/CMakeCache.txt
	cmake --build build/release -j $(JOBS)
	@bash scripts/run-benchmarks.sh build/release

screenshot: build
	@bash scripts/screenshot.sh build/release/console/velmora
	@bash scripts/screenshot-parameters.sh build/release/console/velmora

clean:
	rm -rf build
