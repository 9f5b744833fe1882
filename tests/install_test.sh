#!/bin/sh
# install_test.sh CMAKE BUILD_DIR SOURCE_DIR BUILT_CORVANE_MAKE BUILT_PELLOW VERSION
#
# Installs the build into a scratch prefix and checks that the programs and
# the manual pages land in bin/ and share/man, that the installed
# corvane_make compiles the example configuration into the same database as
# the built one, and that the installed pellow dumps it with status 0. A
# second install through DESTDIR must put everything under DESTDIR. The
# uninstall (tools/uninstall.sh, make uninstall) then removes every file
# that each install put down, and nothing else.
set -u
cmake=$1 build=$2 source=$3 built_make=$4 built_pellow=$5 project_version=$6
config=$source/examples/site.conf

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "install test: $*" >&2
    exit 1
}

# check_tree ROOT: the programs and pages are in place under ROOT.
check_tree() {
    for program in corvane_make pellow; do
        [ -x "$1/bin/$program" ] || fail "$1/bin/$program missing or not executable"
    done
    for page in man1/corvane_make.1 man1/pellow.1 man5/corvane.conf.5; do
        cmp -s "$source/docs/${page#*/}" "$1/share/man/$page" ||
            fail "$1/share/man/$page missing or not the page in docs/"
    done
}

prefix=$scratch/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
check_tree "$prefix"

version=$("$prefix/bin/corvane_make" --version) || fail "installed corvane_make --version failed"
[ "$version" = "corvane_make (corvane) $project_version" ] || fail "unexpected version line: $version"

mkdir "$scratch/run" || exit 1
"$prefix/bin/corvane_make" "$scratch/run/site.cdb" "$scratch/run/site.tmp" "$config" ||
    fail "installed corvane_make failed on $config (status $?)"
[ ! -e "$scratch/run/site.tmp" ] || fail "the temporary file was left behind"
"$prefix/bin/pellow" <"$scratch/run/site.cdb" >"$scratch/installed.dump" ||
    fail "installed pellow failed (status $?)"
grep -q '^client ' "$scratch/installed.dump" || fail "the dump holds no client block"

# The installed programs behave as the built ones do.
"$built_make" "$scratch/run/built.cdb" "$scratch/run/built.tmp" "$config" ||
    fail "built corvane_make failed on $config"
cmp -s "$scratch/run/site.cdb" "$scratch/run/built.cdb" ||
    fail "installed and built corvane_make wrote different databases"
"$built_pellow" <"$scratch/run/built.cdb" >"$scratch/built.dump" || fail "built pellow failed"
cmp -s "$scratch/installed.dump" "$scratch/built.dump" ||
    fail "installed and built pellow printed different dumps"

DESTDIR=$scratch/stage "$cmake" --install "$build" --prefix /opt/corvane \
    >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "cmake --install with DESTDIR failed"; }
check_tree "$scratch/stage/opt/corvane"

# uninstall ROOT [DESTDIR]: removes the install under ROOT, but not a file
# of someone else's beside the programs.
uninstall() {
    echo "not ours" >"$1/bin/other"
    CMAKE=$cmake DESTDIR=${2:-} sh "$source/tools/uninstall.sh" "$build" "${1#"${2:-}"}" \
        >"$scratch/uninstall.log" 2>&1 ||
        { cat "$scratch/uninstall.log" >&2; fail "uninstall from $1 failed"; }
    left=$(cd "$1" && find . ! -type d)
    [ "$left" = "./bin/other" ] || fail "uninstall from $1 left: $(echo $left)"
}
uninstall "$prefix"
uninstall "$scratch/stage/opt/corvane" "$scratch/stage"

echo "install test: passed"
