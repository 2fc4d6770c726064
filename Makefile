# The front door: `make run` starts Zelvor, `make test` passes every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
WINDOWS_BUILD ?= build-windows
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_REGRESSION_SECONDS ?= 5
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
WERROR     ?= ON

.PHONY: all deps build build-asan run check test test-plain test-asan test-long test-windows \
        test-fuzz bench bench-windows fuzz fuzz-build format format-check clean install package \
        windows

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVOR_WERROR=$(WERROR) $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZELVOR_WERROR=$(WERROR) \
	    -DZELVOR_SANITIZE=address,undefined $(CMAKE_ARGS)

build-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	./$(BUILD)/zelvor $(ARGS)

# The sanitizer run comes last, so the closing line of the output is its test count.
test: format-check test-windows test-fuzz test-plain test-asan

# The everyday loop: the plain build and its tests only.
check: test-plain

# Tests labelled "long" (minutes against the real clock) are left out of the runs above.
test-long: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -L long -j $(JOBS)

test-plain: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -LE long -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen \
	    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	    ctest --output-on-failure -LE long -j $(JOBS)

# The core, the window-message player backend and the native zelvor.exe, cross-compiled with
# mingw-w64, under wine. zelvor.exe's bytes on the wire are compared with the Linux program's.
test-windows: deps build
	JOBS=$(JOBS) WERROR=$(WERROR) ZELVOR_LINUX_PROGRAM=$(CURDIR)/$(BUILD)/zelvor \
	    scripts/windows-tests.sh $(WINDOWS_BUILD)

# The Windows program: dist/zelvor-<version>-win64.zip with zelvor.exe, README.txt and licence.
windows: deps
	JOBS=$(JOBS) WERROR=$(WERROR) scripts/package-windows.sh $(WINDOWS_BUILD)

# The fuzz targets (clang's libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer) in a
# build of their own.
$(FUZZ_BUILD)/CMakeCache.txt:
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DZELVOR_WERROR=$(WERROR)

fuzz-build: deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS (default 60), keeping what it finds in $(FUZZ_BUILD)/corpus.
fuzz: fuzz-build
	fuzz/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Each fuzz target for a few seconds over its seed corpus: the regression run of `make test`.
test-fuzz: fuzz-build
	fuzz/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_REGRESSION_SECONDS) --regression

bench: build
	scripts/run-bench.sh $(BUILD)

# zelvor.exe under wine next to the Linux program (start to listening, echo, status).
bench-windows: build
	scripts/bench-windows.sh $(BUILD) $(WINDOWS_BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

install: build
	cmake --install $(BUILD)

# The Debian package $(BUILD)/zelvor_<version>_amd64.deb.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WINDOWS_BUILD) $(FUZZ_BUILD)
