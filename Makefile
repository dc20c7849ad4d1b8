# Entry points: `make demo` and `make test` install what is missing, build, and run.
JOBS ?= 2
BUILD := build
ASAN_BUILD := build-asan
TSAN_BUILD := build-tsan

.PHONY: deps build program demo examples test check tests-built test-release test-asan test-tsan bench fuzz install package clean

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The program alone: the tests and the bench are built by `make test` and `make bench`.
program: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target tarnwick

demo: program
	./$(BUILD)/tarnwick inspect examples/tiny_model.lgb
	@echo
	./$(BUILD)/tarnwick trace examples/tiny_attention_plan.json

# The model files the README's examples read, in examples/models/.
examples: deps
	@/usr/bin/python3 scripts/make_examples.py

test: test-release test-asan test-tsan

# Day-to-day: the release build and the unit tests in one process, without the script checks
# and the sanitizer builds.
check: tests-built
	./$(BUILD)/tarnwick_tests --gtest_brief=1

# The program and its tests (the bench is built by `make bench`).
tests-built: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target tarnwick_tests

test-release: tests-built
	bash scripts/run-ctest.sh $(BUILD) -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS) --target tarnwick_tests
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  bash scripts/run-ctest.sh $(ASAN_BUILD) -j $(JOBS) -LE cross_check

# ThreadSanitizer over the tests that start threads: the helper itself, and the hashes, diffs
# and pipes that use a second thread.
TSAN_TESTS := ^(ParallelTask|FileHashes|CbmBoundedWork|TensorFileSummary|ContentsCommand|PipeInput|ValuePasses)\.
test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_TSAN=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target tarnwick_tests
	TSAN_OPTIONS=halt_on_error=1 bash scripts/run-ctest.sh $(TSAN_BUILD) -j $(JOBS) -R '$(TSAN_TESTS)'

bench: build
	./$(BUILD)/tarnwick_bench

# The program, its manual page and its bash completion under PREFIX (DESTDIR is honoured).
PREFIX ?= /usr/local
install: program
	cmake --install $(BUILD) --prefix $(PREFIX) --strip

# A Debian package of the same files, written to $(BUILD).
package: program
	cd $(BUILD) && cpack -G DEB --config CPackConfig.cmake

FUZZ_SECONDS ?= 60
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/run-fuzzers.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) build-fuzz
