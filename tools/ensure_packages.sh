#!/bin/sh
# The one place that sets up the Debian packages the Makefile's commands
# need:  tools/ensure_packages.sh NEED...   where NEED is
#   build     compile the programs: cmake, ninja, g++, bison
#   test      run the tests: GoogleTest, mandoc, the generic cdb tools of
#             tinycdb and freecdb
#   deb       build and check the Debian package: the build dependencies
#             that debian/control declares, and lintian
#   fuzz      AFL++ and the sanitizer runtime of the clang it compiles with
#   memcheck  valgrind
#   bench     the benchmark's peers and tools: hyperfine, freecdb's cdbmake,
#             tinycdb's cdb, GNU time, python3
# A missing package is installed with apt-get when we run as root; otherwise
# we stop with one line that names the packages to install.
cd "$(dirname "$0")/.." || exit 1
missing=""

# want_command COMMAND PACKAGE, want_package PACKAGE
want_command() {
    command -v "$1" >/dev/null 2>&1 || missing="$missing $2"
}
want_package() {
    case $(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null) in
    ii*) ;;
    *) missing="$missing $1" ;;
    esac
}

# The build dependencies of debian/control that are not met, as
# dpkg-checkbuilddeps words them; apt-get build-dep installs them.
# A build without its test step (DEB_BUILD_OPTIONS=nocheck) needs none of
# the dependencies marked <!nocheck>.
unmet_build_deps() {
    dpkg-checkbuilddeps $profiles 2>&1 | sed -n 's/.*Unmet build dependencies: //p'
}
profiles=""
case " ${DEB_BUILD_OPTIONS:-} " in
*" nocheck "*) profiles="-P nocheck" ;;
esac

# fuzz_runtime_package: the package that holds the sanitizer runtime of the
# clang behind afl-clang-fast, when linking a sanitized program fails.
fuzz_runtime_package() {
    probe=$(mktemp -d) || return
    echo 'int main(void) { return 0; }' >"$probe/p.c"
    AFL_QUIET=1 afl-clang-fast -fsanitize=address,undefined "$probe/p.c" -o "$probe/p" \
        >/dev/null 2>&1 || echo "libclang-rt-$(afl-clang-fast -dumpversion | cut -d. -f1)-dev"
    rm -rf "$probe"
}

check() {
    missing=""
    build_deps=""
    for need in "$@"; do
        case $need in
        build)
            want_command cmake cmake
            want_command ninja ninja-build
            want_command g++ g++
            want_command bison bison ;;
        test)
            want_package libgtest-dev
            want_command mandoc mandoc
            want_command cdb tinycdb
            want_command cdbget freecdb ;;
        deb)
            want_command dpkg-checkbuilddeps dpkg-dev
            want_command lintian lintian
            if command -v dpkg-checkbuilddeps >/dev/null 2>&1; then
                build_deps=$(unmet_build_deps)
            fi ;;
        fuzz)
            want_command afl-fuzz afl++
            want_command afl-clang-fast afl++
            command -v afl-clang-fast >/dev/null 2>&1 && missing="$missing $(fuzz_runtime_package)" ;;
        memcheck)
            want_command valgrind valgrind ;;
        bench)
            want_command hyperfine hyperfine
            want_command cdbmake freecdb
            want_command cdb tinycdb
            want_command /usr/bin/time time
            want_command python3 python3 ;;
        *)
            echo "ensure_packages.sh: unknown need $need" >&2
            exit 2 ;;
        esac
    done
    missing=$(echo $missing)
}

# install_wanted: the missing packages, then the unmet build dependencies.
install_wanted() {
    [ -n "$updated" ] || apt-get update -qq || return
    updated=1
    [ -z "$missing" ] || apt-get install -y -qq --no-install-recommends $missing || return
    [ -z "$build_deps" ] || apt-get build-dep -y -qq --no-install-recommends $profiles ./
}

# Some needs are known only once others are met (the build dependencies need
# dpkg-dev to be read, the runtime needs AFL++'s clang): two rounds at most.
updated=""
for round in 1 2; do
    check "$@"
    wanted=$(echo $missing ${build_deps:+"(build dependencies) $build_deps"})
    [ -z "$wanted" ] && exit 0
    if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "missing tools: please install the Debian package(s): $wanted" >&2
        exit 1
    fi
    echo "installing: $wanted"
    export DEBIAN_FRONTEND=noninteractive
    if ! install_wanted >/tmp/corvane-apt.log 2>&1; then
        echo "apt-get failed to install: $wanted (see /tmp/corvane-apt.log)" >&2
        exit 1
    fi
done
check "$@"
wanted=$(echo $missing $build_deps)
[ -z "$wanted" ] && exit 0
echo "still missing after installing: $wanted" >&2
exit 1
