# The two commands of the README, and the sanitizer run that CI adds.
BUILD      ?= build
SANITIZE   ?= build-sanitize
TSAN       ?= build-tsan
FUZZ       ?= build-fuzz
FUZZ_SECONDS ?= 30
GENERATOR  := -G Ninja
JOBS       := -j2

.PHONY: all bootstrap build test build-sanitize test-sanitize build-tsan test-tsan demo fuzz build-fuzz clean

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

# ThreadSanitizer over the suites whose code runs on several threads: the UI model and the
# status dialog, the broker client, proxy and process, the global interface table, the
# transfers, the privileged steps and the gzip extraction's worker. Only the programs those
# suites need are built.
TSAN_TARGETS := test-os test-platform test-broker test-download test-control test-archive \
  pelisto_broker pelisto_host pelisto_fixtures pelisto-test-server
TSAN_SUITES  := ^([A-Za-z0-9]+/)?(UiModel|StatusDialog|Broker|ComBasics|HttpTransfer|Inet|PrivilegedOps|UpdateLog|ControlEvents|Gzip)

$(TSAN)/build.ninja: | bootstrap
	cmake -S . -B $(TSAN) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELISTO_WERROR=ON \
	  -DPELISTO_TSAN=ON -DPELISTO_BENCH=OFF

build-tsan: bootstrap $(TSAN)/build.ninja
	cmake --build $(TSAN) $(JOBS) --target $(TSAN_TARGETS)

test-tsan: build-tsan
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tools/tsan.supp" \
	  ctest --test-dir $(TSAN) $(JOBS) -R '$(TSAN_SUITES)' --output-on-failure --timeout 600

# The libFuzzer targets (fuzz/targets.txt) in a clang tree of their own, each run for
# FUZZ_SECONDS from its seeds (tools/run-fuzz).
$(FUZZ)/build.ninja:
	PELISTO_WITH_FUZZ=1 tools/bootstrap
	cmake -S . -B $(FUZZ) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELISTO_FUZZ=ON \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DPELISTO_TESTS=OFF -DPELISTO_BENCH=OFF

build-fuzz: $(FUZZ)/build.ninja
	cmake --build $(FUZZ) $(JOBS) --target fuzz-all

fuzz: build-fuzz
	tools/run-fuzz $(FUZZ) $(FUZZ_SECONDS)

# The demo runs the update run end to end on the bundled sample site (README, "make demo").
demo: build
	$(BUILD)/bin/pelisto demo

clean:
	rm -rf $(BUILD) $(SANITIZE) $(TSAN) $(FUZZ)
