# Convenience entry points; the build itself is CMake + Ninja.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all run test asan tsan bench fuzz install clean

all: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

# Builds the image and runs it.
run: all
	./$(BUILD)/qor_image

# Builds everything and runs the whole test suite.
test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The suite again under AddressSanitizer + UndefinedBehaviorSanitizer.
asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DQOR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# The suite under ThreadSanitizer.
tsan:
	$(MAKE) test BUILD=build-tsan CMAKE_FLAGS="-DQOR_TSAN=ON -DCMAKE_BUILD_TYPE=Debug"

# Benchmarks against their C++ peers (Release build).
bench:
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_BENCH=ON -DQOR_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target bench

# libFuzzer targets (clang).
fuzz:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQOR_BUILD_FUZZ=ON -DQOR_BUILD_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS)

install: all
	cmake --install $(BUILD)

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
