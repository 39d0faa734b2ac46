# The verbs people type. `make run` plays the default setup run; `make test` installs what is
# missing (as root), then builds and runs every suite.
JOBS ?= $(shell nproc)
TEST_PRESETS := native asan

.PHONY: run test bench deps build clean $(addprefix test-,$(TEST_PRESETS))

run: deps
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS) --target tev_tool >/dev/null
	@./build/native/tools/tev/tev run

deps:
	@scripts/install-deps.sh

test: deps $(addprefix test-,$(TEST_PRESETS))

$(addprefix test-,$(TEST_PRESETS)): test-%: deps
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)
	ctest --preset $* -j $(JOBS)

# Benchmarks: every figure as a ratio to a floor measured in the same process.
bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	bench/run.sh build/release

clean:
	rm -rf build
