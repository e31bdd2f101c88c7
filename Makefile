# Quick start: `make run` (archive manager on an example archive), `make test`, `make chat`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CTEST_ARGS ?= --output-on-failure -j $(JOBS)

.PHONY: all deps build programs asan asan-configure fuzz test test-plain test-asan run chat bench \
        format clean install uninstall deb

all: build

deps:
	@tools/deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUICK_TESTS=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The two programs alone, optimised: what `make run` and `make chat` start.
programs: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target borvan32 vesk32

# The sanitizer build uses clang: its libraries then also carry the coverage feedback of the
# libFuzzer harnesses in fuzz/, which are built and run as tests in the same tree. A tree made
# earlier with another compiler is made again.
ASAN_CXX ?= clang++
asan-configure:
	@if [ -f $(ASAN_BUILD)/CMakeCache.txt ] && \
	    ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*/$(ASAN_CXX)$$' $(ASAN_BUILD)/CMakeCache.txt; then \
	    echo "$(ASAN_BUILD) was made with another compiler: making it again with $(ASAN_CXX)"; \
	    rm -rf $(ASAN_BUILD); \
	fi
	@[ -f $(ASAN_BUILD)/build.ninja ] || \
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=ON \
	    -DCMAKE_CXX_COMPILER=$(ASAN_CXX) -DQUICK_TESTS=ON \
	    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"

asan: deps asan-configure
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Every fuzz harness for FUZZ_SECONDS each (FUZZERS="inflate tar" for some only), growing its
# corpus in $(ASAN_BUILD)/fuzz/campaign/; a finding's input is kept in
# $(ASAN_BUILD)/fuzz/findings/; FUZZ_RUNS=N also ends each after N runs; FUZZ_TIMEOUT=S (2) is
# the limit for one input, raised for long runs at low priority. The tests run each
# harness for a few seconds only.
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=
FUZZ_TIMEOUT ?= 2
FUZZERS ?= $(patsubst fuzz/%_fuzzer.cpp,%,$(wildcard fuzz/*_fuzzer.cpp))
fuzz: deps asan-configure
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target fuzzers
	@FUZZ_RUNS=$(FUZZ_RUNS) FUZZ_TIMEOUT=$(FUZZ_TIMEOUT) fuzz/run.sh $(ASAN_BUILD) $(FUZZ_SECONDS) campaign $(FUZZERS)

test-plain: build
	ctest --test-dir $(BUILD) $(CTEST_ARGS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    ctest --test-dir $(ASAN_BUILD) $(CTEST_ARGS)

# Every test runs once, under the sanitizers (clang). The optimised gcc build is left to
# `make build` and `make test-plain`, which run the same tests on it: building it as well would
# add a third to the time of a run on a two-core machine.
test: test-asan

# The example archive is made by borvan32 itself (headless), then opened in the full-screen
# manager; without a terminal it is listed and tested instead.
run: programs
	@rm -rf $(BUILD)/example && python3 tools/make_example.py $(BUILD)/example >/dev/null
	cd $(BUILD)/example/files && ../../archiver/borvan32 --headless -a -r ../example.zip '*.*'
	@if [ -t 0 ] && [ -t 1 ]; then \
	    $(BUILD)/archiver/borvan32 $(BUILD)/example/example.zip; \
	else \
	    $(BUILD)/archiver/borvan32 -l $(BUILD)/example/example.zip && \
	    $(BUILD)/archiver/borvan32 -t $(BUILD)/example/example.zip && \
	    echo "Extract it with: $(BUILD)/archiver/borvan32 -e $(BUILD)/example/example.zip /tmp/example"; \
	fi

chat: programs
	@tools/chat.sh $(BUILD)

# Builds the benchmarks, then runs the whole-process zip comparison against the zlib and
# libdeflate peers (bench/deps.sh installs what only the benchmarks need).
bench: deps
	@bench/deps.sh
	cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCH=ON
	cmake --build $(BUILD)-bench -j $(JOBS)
	@echo "Benchmarks are in $(BUILD)-bench/bench/"
	python3 bench/zip_compare.py --bench-dir $(BUILD)-bench --work $(BUILD)-bench/zip_compare

# PREFIX and DESTDIR as usual: `make install PREFIX=/usr DESTDIR=/tmp/stage`. The list of what was
# installed is kept in the build folder, and `make uninstall` (same PREFIX and DESTDIR) removes
# exactly that.
PREFIX ?= /usr/local
install: programs
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "Nothing installed from $(BUILD)"; exit 1; }
	@while IFS= read -r f; do rm -fv "$$f"; done < $(BUILD)/install_manifest.txt
	@rm -f $(BUILD)/install_manifest.txt

# Debian packages of both programs (build/deb/*.deb), checked by lintian.
deb:
	@tools/deb.sh

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BUILD)-bench
