# Front door. Every target first installs what a fresh machine lacks.
# make run   - extract the bundled sample's thumbnail to build/sample-thumbnail.jpg
# make test  - build everything and run the whole test suite

BUILD       ?= build
JOBS        ?= $(shell nproc)
WERROR      ?= $(if $(CI),ON,OFF)
CMAKE_FLAGS ?=
SAMPLE      := samples/sample.klaymo
SAMPLE_OUT  := $(BUILD)/sample-thumbnail.jpg

.PHONY: all deps configure build run test install-check test-sanitize fuzz-build fuzz-smoke fuzz bench coverage clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_WERROR=$(WERROR) -DLUMORA_PYTHON=ON $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only what the tool needs: the library, the memory functions and the tool itself.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target klaymo-thumbnail
	@$(BUILD)/klaymo-thumbnail $(SAMPLE) $(SAMPLE_OUT)
	@echo "klaymo-thumbnail wrote the 96 x 96 thumbnail of $(SAMPLE) to $(SAMPLE_OUT)"

test: build
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 900

# Installs into a temporary prefix and builds a program outside the tree against the package
# (find_package, pkg-config) and against the source tree (add_subdirectory).
install-check: build
	@JOBS=$(JOBS) scripts/check-install $(BUILD)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer (clang, assertions on, -O1
# so that the slowest tests stay within a minute or two): every test program stops at its first
# error, leaks are errors, and so are stack memory used after its function returned and static
# objects used before they are constructed. The Python module's misuse rows run there too, in
# an interpreter with the sanitizers' runtime preloaded.
SANITIZE_ASAN := detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1
SANITIZE_UBSAN := halt_on_error=1:print_stacktrace=1
test-sanitize: deps
	@cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
	  -DLUMORA_SANITIZE=ON -DLUMORA_PYTHON=ON -DLUMORA_WERROR=$(WERROR) >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	@cd build-sanitize && ASAN_OPTIONS=$(SANITIZE_ASAN) UBSAN_OPTIONS=$(SANITIZE_UBSAN) \
	  ctest -j $(JOBS) --output-on-failure --timeout 1800

fuzz-build: deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DLUMORA_FUZZ=ON -DLUMORA_SANITIZE=ON -DLUMORA_TESTS=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

# Every fuzz target over its corpus, then new inputs, one target per core (FUZZ_JOBS). The smoke
# run for CI explores a fixed number of inputs from a seed fixed per target, so that it finds the
# same on every run and fails only when the code changed; FUZZ_SECONDS caps it on a slow
# machine. `make fuzz` explores with fresh seeds for FUZZ_LONG_SECONDS each.
FUZZ_SECONDS ?= 300
FUZZ_RUNS ?= 20000
FUZZ_LONG_SECONDS ?= 600
fuzz-smoke: fuzz-build
	@FUZZ_RUNS=$(FUZZ_RUNS) scripts/fuzz-run $(FUZZ_SECONDS)

fuzz: fuzz-build
	@scripts/fuzz-run $(FUZZ_LONG_SECONDS)

# install-deps installs the benchmarks' peer (Assimp) for every target: the converter needs it too.
bench:
	@scripts/install-deps bench
	@cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_BENCH=ON -DLUMORA_TESTS=OFF >/dev/null
	@cmake --build build/bench -j $(JOBS)
	@scripts/bench-run build/bench

coverage: deps
	@cmake -S . -B build-coverage -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMORA_COVERAGE=ON >/dev/null
	@cmake --build build-coverage -j $(JOBS)
	@find build-coverage -name '*.gcda' -delete
	@cd build-coverage && ctest -j $(JOBS) --timeout 1800 >/dev/null || true
	@# Only this build's counters: other build trees under the root would be merged in too.
	@gcovr -r . build-coverage --object-directory build-coverage --filter source/ --filter app/ \
	  --exclude-unreachable-branches --exclude-throw-branches --print-summary

clean:
	rm -rf build build-sanitize build-fuzz build-coverage
