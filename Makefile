# Thin wrapper over CMake + Ninja. `make demo` and `make test` do all the set-up.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD?= build-bench
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 20

CMAKE_GEN = -G Ninja

# Let ccache share results between clones of the tree (CI builds in a fresh clone).
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

.PHONY: all deps test-deps build test test-asan packages demo bench fuzz install deb clean

all: build

# deps: what building and the demo need; test-deps adds the tests' peers (no service is
# installed: nginx and chronyd are unpacked into .cache/peers).
deps:
	@bash scripts/install-deps

test-deps:
	@bash scripts/install-deps --test

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: test-deps build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: test-deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKTINET_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# The five packages (one shared library per host version, built from one tree) in $(BUILD)/packages.
packages: test-deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target packages
	@ls -1 $(BUILD)/packages/*.so

demo: build
	@./$(BUILD)/ktinet demo

bench: test-deps
	@cmake -S . -B $(BENCH_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKTINET_TESTS=OFF -DKTINET_BENCH=ON >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	@bash bench/run.sh $(BENCH_BUILD)

fuzz: test-deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKTINET_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Installs stripped (the build tree keeps the debug information); DESTDIR=... stages it.
install: build
	@cmake --install $(BUILD) --strip

# The Debian packages ktinet, libktinet0 and libktinet-dev in $(BUILD)/deb.
deb: test-deps build
	@rm -f $(BUILD)/deb/*.deb
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@ls -1 $(BUILD)/deb/*.deb

clean:
	@rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
