# A thin front end over the CMake presets.
#   make demo        build, compile the example configuration, print it
#   make check       build and run every test (release build)
#   make check-asan  every test again under AddressSanitizer and UBSan
#   make build       just build (release)
#   make install     install the programs and manual pages (release build)
#                    under PREFIX (default /usr/local), staged under DESTDIR
#   make bench       the benchmark against the generic cdb tools (bench/run)
#   make fuzz-smoke  a short fuzzing run of each target (CI)
#   make fuzz TARGET=config|pellow|argv [FUZZ_SECONDS=1800]
#                    a longer fuzzing run that goes on from the last corpus

BUILD_TOOLS = cmake:cmake ninja:ninja-build g++:g++ bison:bison mandoc:mandoc \
              /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake:libgtest-dev
# The tests also look keys up with Debian's generic cdb tools.
TEST_TOOLS = cdb:tinycdb cdbget:freecdb

PREFIX ?= /usr/local
DESTDIR ?=

# AFL++ brings clang 14; its sanitizer runtimes are only recommended by it.
FUZZ_TOOLS = afl-fuzz:afl++ afl-clang-fast:afl++ \
             /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.asan-x86_64.a:libclang-rt-14-dev
FUZZ_SECONDS ?= 1800

.PHONY: demo check check-asan build install tools test-tools bench fuzz-build fuzz-smoke fuzz

tools:
	@tools/ensure_tools.sh $(BUILD_TOOLS)

test-tools:
	@tools/ensure_tools.sh $(TEST_TOOLS)

build/%/build.ninja: CMakeLists.txt CMakePresets.json | tools
	cmake --preset $* >/dev/null

build: tools build/release/build.ninja
	cmake --build --preset release

demo: build
	build/release/compiler/corvane_make build/release/site.cdb build/release/site.tmp examples/site.conf
	build/release/dumper/pellow < build/release/site.cdb

check: tools test-tools build/release/build.ninja
	cmake --build --preset release
	ctest --preset release -j2

check-asan: tools test-tools build/asan/build.ninja
	cmake --build --preset asan
	ctest --preset asan -j2

install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

bench: tools
	bench/run

fuzz-build: tools
	@tools/ensure_tools.sh $(FUZZ_TOOLS)
	@[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz

# About two minutes in all, on fresh seeds; fails on any crash or hang.
fuzz-smoke: fuzz-build
	rm -rf .fuzz/smoke
	CORVANE_FUZZ_DIR=.fuzz/smoke fuzz/run.sh config 45
	CORVANE_FUZZ_DIR=.fuzz/smoke fuzz/run.sh pellow 30
	CORVANE_FUZZ_DIR=.fuzz/smoke fuzz/run.sh argv 45

fuzz: fuzz-build
	fuzz/run.sh $(TARGET) $(FUZZ_SECONDS)
