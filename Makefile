# Convenience entry points; the build itself is CMake + Ninja.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Share of the full soak work that `make soak` runs: 1, or 0.1 for the short run.
SOAK_SCALE ?= 1
# Where `make install` puts things; empty means the prefix the build was configured with
# (/usr/local unless CMAKE_FLAGS said otherwise). DESTDIR stages the install under a root.
PREFIX ?=
DESTDIR ?=

.PHONY: all run test asan tsan bench fuzz soak install uninstall clean

all: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

# Builds only the image (not the tests) and runs it.
run: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target qor_image
	$(BUILD)/qor_image

# Builds everything and runs the whole test suite.
test: all
	@test -f $(BUILD)/tests/CTestTestfile.cmake || { echo "make test: the test suite is not \
	configured in $(BUILD): install libgtest-dev and libgmock-dev, delete $(BUILD), run again"; \
	exit 1; }
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The suite again under AddressSanitizer + UndefinedBehaviorSanitizer, leak checking included
# (tests/lsan.supp lists the reports that are the memory model, with the reasons).
asan:
	LSAN_OPTIONS="suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0" \
		$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DQOR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# The suite under ThreadSanitizer.
tsan:
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DQOR_TSAN=ON -DCMAKE_BUILD_TYPE=Debug"

# Benchmarks against their C++ peers (Release build).
bench:
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_BENCH=ON -DQOR_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target bench

# Long-running workloads (Release), one table of memory, descriptors and time per tenth of the
# work; fails when a row is not flat (docs/long-running.md). The examples come with the test
# configuration, so this needs GoogleTest installed like the default build.
soak:
	cmake -S . -B build-soak -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build build-soak -j $(JOBS) --target soak http_hello
	python3 examples/soak_table.py --scale $(SOAK_SCALE) build-soak/examples

# libFuzzer targets (clang).
fuzz:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQOR_BUILD_FUZZ=ON -DQOR_BUILD_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS)

# Installs the libraries, the image, the header, the pkg-config file, the CMake package and the
# documents; the list of what went where stays in $(BUILD)/install_manifest.txt for uninstall.
install: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target qor_runtime qor_runtime_static qor_image
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix "$(PREFIX)")

# Removes every file of the last install from $(BUILD), then the package's own directories
# (lib/cmake/qor_runtime, share/doc/qor_runtime) once empty; shared parents stay. A staged
# install is removed with the same DESTDIR.
uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "no install recorded in $(BUILD)"; exit 1; }
	sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt | xargs -d '\n' rm -f --
	sed 's|^|$(DESTDIR)|; s|/[^/]*$$||' $(BUILD)/install_manifest.txt | sort -u \
		| grep '/qor_runtime$$' | xargs -r -d '\n' rmdir --ignore-fail-on-non-empty --
	rm -f $(BUILD)/install_manifest.txt

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-soak
