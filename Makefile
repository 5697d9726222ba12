# Entry points: `make run` runs one scan job, `make test` builds and runs every test.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
MAKEFLAGS  += --no-print-directory
# The default job: three pages from the built-in virtual scanner into one PDF.
ARGS       ?= pdf
# Warnings are errors in every build made through this Makefile (CI runs `make test`);
# `make WERROR=OFF ...` builds without.
WERROR     ?= ON

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DLUMIPAGE_WERROR=$(WERROR) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run-job.sh $(BUILD) $(ARGS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	@bash scripts/run-bench.sh $(BUILD)

clean:
	rm -rf $(BUILD)
