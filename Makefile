# Front door for newcomers and CI: every target installs what it needs first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD ?= build-bench
FUZZ_SECONDS ?= 20
JOBS       ?= $(shell nproc)
# Rebuilds of other trees of the same sources are cheap when ccache is there.
# Looked for when a tree is configured, after setup may have installed it.
LAUNCHER    = $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Paths relative to the clone, so that another clone of the same sources (CI's, a
# second checkout) takes what this one compiled from the cache.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
# ccache caches files built with the precompiled Qt headers only when told that
# their time stamps and predefined macros may be trusted.
export CCACHE_SLOPPINESS ?= pch_defines,time_macros,include_file_mtime,include_file_ctime

.PHONY: setup build run test test-unit test-asan fuzz bench screens clean format-check

setup:
	@bash scripts/setup.sh

# Warnings are errors in every tree CI builds, so that none creep back in.
build: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOBRINEL_BENCH=OFF -DTOBRINEL_WERROR=ON \
	  $(LAUNCHER) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/tobrinel

test: format-check test-unit fuzz test-asan

# The code stays as .clang-format lays it out; clang-format -i FILE mends a file.
format-check: setup
	@find src tests bench fuzz tools -name '*.cpp' -o -name '*.h' | sort | xargs clang-format --dry-run -Werror

test-unit: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOBRINEL_BENCH=OFF -DTOBRINEL_WERROR=ON \
	  $(LAUNCHER) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: setup
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1" -DTOBRINEL_SANITIZE=ON -DTOBRINEL_BENCH=OFF -DTOBRINEL_WERROR=ON $(LAUNCHER) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

fuzz: setup
	@CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOBRINEL_FUZZ=ON \
	  -DTOBRINEL_WERROR=ON $(LAUNCHER) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: setup
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOBRINEL_BENCH=ON $(LAUNCHER) >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	bash bench/run.sh $(BENCH_BUILD)

screens: build
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/tobrinel-screens $(BUILD)/screens

# make install PREFIX=/usr/local (DESTDIR=/stage for a staged install)
PREFIX ?= /usr/local
.PHONY: install
install: build
	cmake --install $(BUILD) --prefix $(PREFIX) --strip

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)
