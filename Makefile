# The verbs people type. `make run` builds the tool and plays the default setup run (installing only
# what the build needs); `make test` installs what is missing (as root), then builds and runs every
# suite: native, sanitizers, fuzzers, Windows. `make check` builds and runs the native suites
# alone, the quick check while working.
JOBS ?= $(shell nproc)
TEST_PRESETS := native asan

.PHONY: run check test package bench soak fuzz mutants format format-check deps deps-build deps-windows test-win32 build clean $(addprefix test-,$(TEST_PRESETS))

run: deps-build
	@echo 'Building the tev tool in build/tool (the first build takes a few minutes)...'
	@cmake --preset tool >/dev/null
	@cmake --build --preset tool -j $(JOBS) --target tev_tool >/dev/null
	@./build/tool/tools/tev/tev run
	@echo 'The tool is build/tool/tools/tev/tev; to have it as `tev` on your PATH:'
	@echo '  cmake --install build/tool --prefix ~/.local'

deps-build:
	@scripts/install-deps.sh --build

deps:
	@scripts/install-deps.sh

deps-windows:
	@scripts/install-deps.sh --windows

FUZZ_SECONDS ?= 60

# Offline and quiet: nothing installed, the build's output shown only when it fails, one line per
# suite and then the failures. Tests labelled full (Node's DuckDB) are make test's.
check:
	@scripts/check.py native $(JOBS)

# The Windows packages first: the native suites read their libraries too (the binary readers are
# checked against an outside reader on every library of the machine).
test: deps deps-windows format-check $(addprefix test-,$(TEST_PRESETS)) fuzz test-win32

# The C++ sources follow .clang-format: `make format` rewrites them, format-check only looks.
SOURCES = $(shell find include src kv8 tools tests bench -name '*.cpp' -o -name '*.h')

format: deps
	clang-format -i $(SOURCES)

format-check: deps
	clang-format --dry-run --Werror $(SOURCES)

$(addprefix test-,$(TEST_PRESETS)): test-%: deps
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)
	ctest --preset $* -j $(JOBS)

# Benchmarks: every figure as a ratio to a floor measured in the same process.
bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	bench/run.sh build/release

# The Windows product, cross-built, its suites run under Wine (one wineserver for the whole run).
test-win32: deps-windows
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)
	@if scripts/wine-server.sh can-run; then \
	  scripts/wine-server.sh start || exit 1; \
	  ctest --preset win32 -j $(JOBS); status=$$?; scripts/wine-server.sh stop; exit $$status; \
	else echo 'test-win32: the Windows suites were SKIPPED'; fi

# The SDK archive, build/win32/package/TEV-<version>-win32.zip: what it holds built, then zipped.
package: deps-windows
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS) --target tev tev_tool kv8
	cpack --config build/win32/CPackConfig.cmake

# Each fuzzer for FUZZ_SECONDS, from the seed corpora.
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/fuzz.sh build/fuzz $(FUZZ_SECONDS)

# A long randomized run under the sanitizers, from a new seed each time (printed on failure).
SOAK_RUNS ?= 20000
soak: test-asan
	TEV_RANDOM_SEED=$$(date +%s) TEV_RANDOM_RUNS=$(SOAK_RUNS) \
	  build/asan/tests/tev_tests --gtest_filter='RandomRuns.*'

clean:
	rm -rf build

# Faults planted one at a time from tests/mutants/catalogue.txt, each rebuilt and run against the
# suites of its folder: the score per folder and the survivors (long; not part of make test).
# MUTANTS_FLAGS, e.g. --folder src/log, narrows it.
mutants: deps
	cmake --preset native
	scripts/mutants.py --build build/native $(MUTANTS_FLAGS)
