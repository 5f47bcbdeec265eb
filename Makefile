# The README's commands. `make test` and `make run` work on a fresh Debian 12 machine: they
# install what is missing, configure, build and then test or run.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test run test-asan fuzz format format-check clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@if [ ! -f $(BUILD)/build.ninja ]; then cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS); fi

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DPW_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DPW_BUILD_BENCH=OFF"

run: build
	@if [ -x $(BUILD)/src/app/pagewren ]; then $(BUILD)/src/app/pagewren; \
	else echo "The program itself is not built yet: only its libraries and tests exist."; fi

# libFuzzer targets for the image readers; needs clang.
fuzz: deps
	@if [ ! -f build-fuzz/build.ninja ]; then CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja \
	    -DPW_FUZZ=ON -DPW_BUILD_TESTS=OFF -DPW_BUILD_BENCH=OFF -DPW_WERROR=OFF; fi
	cmake --build build-fuzz -j $(JOBS) --target fuzz_image_readers fuzz_settings_files

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build build-asan build-fuzz
