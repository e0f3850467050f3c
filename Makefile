# The two commands of the README, and the sanitizer run that CI adds.
BUILD      ?= build
SANITIZE   ?= build-sanitize
GENERATOR  := -G Ninja
JOBS       := -j2

.PHONY: all bootstrap build test build-sanitize test-sanitize demo clean

all: build

bootstrap:
	tools/bootstrap

$(BUILD)/build.ninja: | bootstrap
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELISTO_WERROR=ON

build: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) $(JOBS)

test: build
	ctest --test-dir $(BUILD) $(JOBS) --output-on-failure --timeout 300

$(SANITIZE)/build.ninja: | bootstrap
	cmake -S . -B $(SANITIZE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DPELISTO_WERROR=ON \
	  -DPELISTO_SANITIZE=ON -DPELISTO_BENCH=OFF

build-sanitize: bootstrap $(SANITIZE)/build.ninja
	cmake --build $(SANITIZE) $(JOBS)

test-sanitize: build-sanitize
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SANITIZE) $(JOBS) --output-on-failure --timeout 600

# The demo runs the update run end to end; until the update run is built it says so.
demo: build
	@if $(BUILD)/bin/pelisto --help | grep -q ' demo'; then $(BUILD)/bin/pelisto demo; \
	else echo "make demo: the demo arrives with the update run, which is not built yet (see README)"; exit 1; fi

clean:
	rm -rf $(BUILD) $(SANITIZE)
