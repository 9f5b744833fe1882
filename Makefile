# A thin front end over the CMake presets.
#   make             build the two programs (release build)
#   make demo        build them, compile the example configuration, print it
#   make check       build everything and run every test (release build)
#   make check-asan  every test again under AddressSanitizer and UBSan
#   make install     install the programs and manual pages (release build)
#                    under PREFIX (default /usr/local), staged under DESTDIR
#   make uninstall   remove them again (the same PREFIX and DESTDIR)
#   make deb         the Debian package corvane-tools, left in build/deb/
#   make check-deb   build the package and check its contents, its programs
#                    and lintian's verdict (CI: DEB_BUILD_OPTIONS=nocheck)
#   make bench       the benchmark against the generic cdb tools (bench/run)
#   make fuzz-smoke  a short fuzzing run of each target (CI)
#   make fuzz TARGET=config|pellow|argv [FUZZ_SECONDS=1800]
#                    a longer fuzzing run that goes on from the last corpus
# Each command first sets up the Debian packages it needs, and only those:
# tools/ensure_packages.sh says which they are.

PROGRAMS = corvane_make pellow
ENSURE = tools/ensure_packages.sh
PREFIX ?= /usr/local
DESTDIR ?=
FUZZ_SECONDS ?= 1800

.PHONY: build demo check check-asan install uninstall deb check-deb bench fuzz-build fuzz-smoke fuzz

build:
	@$(ENSURE) build
	@[ -f build/release/build.ninja ] || cmake --preset release >/dev/null
	cmake --build --preset release --target $(PROGRAMS)

demo: build
	build/release/compiler/corvane_make build/release/site.cdb build/release/site.tmp examples/site.conf
	build/release/dumper/pellow < build/release/site.cdb

# Configured again every time: the tests are left out of a tree configured
# before GoogleTest was installed.
check:
	@$(ENSURE) build test
	cmake --preset release >/dev/null
	cmake --build --preset release
	ctest --preset release

check-asan:
	@$(ENSURE) build test
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	ctest --preset asan

install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

uninstall: build
	DESTDIR="$(DESTDIR)" tools/uninstall.sh build/release "$(PREFIX)"

deb:
	@$(ENSURE) build deb
	tools/build_deb.sh build/deb

# The package test compares the package's programs with the release build's.
check-deb:
	@$(ENSURE) build deb
	cmake --preset release >/dev/null
	cmake --build --preset release --target $(PROGRAMS)
	ctest --preset package

bench:
	bench/run

fuzz-build:
	@$(ENSURE) build fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz

# About two minutes in all, on fresh seeds; fails on any crash or hang.
fuzz-smoke: fuzz-build
	rm -rf .fuzz/smoke
	CORVANE_FUZZ_DIR=.fuzz/smoke fuzz/run.sh config 45
	CORVANE_FUZZ_DIR=.fuzz/smoke fuzz/run.sh pellow 30
	CORVANE_FUZZ_DIR=.fuzz/smoke fuzz/run.sh argv 45

fuzz: fuzz-build
	fuzz/run.sh $(TARGET) $(FUZZ_SECONDS)
