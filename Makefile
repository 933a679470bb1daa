# Front door. `make demo` and `make test` install what is missing (scripts/bootstrap.sh),
# configure, build and run. Everything lands in build/.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all bootstrap configure banner build demo test bench fuzz format clean

all: build

bootstrap:
	@scripts/bootstrap.sh

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null

# Which Windows tree Wine runs here (i686, or x86_64 where 32-bit programs cannot run).
banner: configure
	@cat $(BUILD)/wine-tree.txt

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# A test that outlives its time limit runs once more: under Wine on a loaded machine a window
# system stall can stop one run, and the watchdog's report of it stays in the log. A test that
# hangs twice fails.
test: banner build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --repeat after-timeout:2

demo: banner build
	@scripts/demo.sh $(BUILD)

bench: build
	@cmake --build $(BUILD) --target bench_run

fuzz: build
	@cmake --build $(BUILD) --target fuzz_long

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
