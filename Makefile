# Thin wrapper over CMake. Each job installs the Debian 12 packages it needs first
# (scripts/install-deps), so `make demo` and `make test` do all the set-up on Debian 12.
BUILD ?= build
BUILD_SANITIZED ?= build-sanitized
JOBS ?= $(shell nproc)
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHELVO_WERROR=ON
# `make build SHELVO_SERVICE_URL=https://apps.example.com` builds that service URL into the
# programs (it stays in the build's cache). Only from the command line: the variable of the
# same name in the environment points one run of the agent elsewhere and must not end up in a
# package.
ifeq ($(origin SHELVO_SERVICE_URL),command line)
CONFIGURE += -DSHELVO_SERVICE_URL=$(SHELVO_SERVICE_URL)
endif
unexport SHELVO_SERVICE_URL

.PHONY: all deps deps-build deps-tests deps-fuzz deps-bench build build-all demo test \
	test-system test-fleet test-sanitized fuzz bench format clean

all: build

deps:
	./scripts/install-deps
deps-build deps-tests deps-fuzz deps-bench:
	./scripts/install-deps $(@:deps-%=%)

# The programs and what the package needs; the tests too where their libraries are installed.
build: deps-build
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS)

# Everything, the tests and the benchmarks included.
build-all: deps-tests
	$(CONFIGURE) -DSHELVO_BUILD_TESTS=ON -DSHELVO_BUILD_BENCHMARKS=ON
	cmake --build $(BUILD) -j $(JOBS)

# The demo builds only the programs it runs (the tests are built by `make test`).
demo: deps-build
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS) --target shelvo shelvo-defaults shelvo-demo-service
	./scripts/demo $(BUILD)

# ctest shows no output of a skipped test: the skips and their reasons are listed after it.
test: build-all
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure; status=$$?; \
	  ./scripts/print-skips $(BUILD); exit $$status

# The package installed, used and purged in a booted Debian 12 container (tests/system).
test-system: build-all
	./tests/system/run-system-test $(BUILD)

# Three booted containers rolled out with the Ansible role and watched by Prometheus (tests/fleet).
test-fleet: build-all
	./tests/fleet/run-fleet-test $(BUILD)

test-sanitized: deps-tests
	cmake -S . -B $(BUILD_SANITIZED) -DCMAKE_BUILD_TYPE=Debug -DSHELVO_SANITIZE=ON -DSHELVO_WERROR=ON \
	  -DSHELVO_BUILD_TESTS=ON -DSHELVO_BUILD_BENCHMARKS=OFF
	cmake --build $(BUILD_SANITIZED) -j $(JOBS)
	ctest --test-dir $(BUILD_SANITIZED) -j $(JOBS) --output-on-failure; status=$$?; \
	  ./scripts/print-skips $(BUILD_SANITIZED); exit $$status

# Each fuzz target for FUZZ_SECONDS (default 60), after its saved regression inputs.
FUZZ_SECONDS ?= 60
fuzz: deps-fuzz
	./scripts/fuzz $(FUZZ_SECONDS)

bench: deps-bench
	$(CONFIGURE) -DSHELVO_BUILD_BENCHMARKS=ON
	cmake --build $(BUILD) -j $(JOBS)
	./bench/run-all $(BUILD)

format:
	git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(BUILD_SANITIZED) build-fuzz
