#!/bin/sh
# package_test.sh SOURCE_DIR BUILT_CORVANE_MAKE BUILT_PELLOW VERSION
#
# Builds the Debian package from the source tree (tools/build_deb.sh, so
# DEB_BUILD_OPTIONS is honoured) and checks it without installing it: its
# name and version, its list of files and their modes (dpkg-deb -c), the
# pages in it against docs/, and the programs in it, unpacked into a scratch
# folder (dpkg-deb -x), against the build tree's on the example configuration:
# the same database byte for byte, the same dump, the same failure. Then
# lintian, which must find no error; its warnings are printed.
set -u
source=$1 built_make=$2 built_pellow=$3 version=$4

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "package test: $*" >&2
    exit 1
}
for tool in dpkg-buildpackage dpkg-deb lintian; do
    command -v $tool >/dev/null || fail "$tool missing (make check-deb installs it)"
done

sh "$source/tools/build_deb.sh" "$scratch/out" || fail "the package did not build"
set -- "$scratch"/out/corvane-tools_*.deb
[ $# = 1 ] && [ -f "$1" ] || fail "not one .deb in the output: $*"
deb=$1

[ "$(dpkg-deb -f "$deb" Package)" = corvane-tools ] || fail "package name: $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version: $(dpkg-deb -f "$deb" Version)"

# Every file of the package with its mode and owner; directories aside.
dpkg-deb -c "$deb" >"$scratch/contents" || fail "dpkg-deb -c failed"
awk '$1 !~ /^d/ { print $1, $2, $6 }' "$scratch/contents" | sort -k3 >"$scratch/files"
cat >"$scratch/expected" <<'LIST'
-rwxr-xr-x root/root ./usr/bin/corvane_make
-rwxr-xr-x root/root ./usr/bin/pellow
-rw-r--r-- root/root ./usr/share/doc/corvane-tools/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/corvane-tools/copyright
-rw-r--r-- root/root ./usr/share/man/man1/corvane_make.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/pellow.1.gz
-rw-r--r-- root/root ./usr/share/man/man5/corvane.conf.5.gz
LIST
diff -u "$scratch/expected" "$scratch/files" || fail "the package's files differ from the list above"

root=$scratch/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
for page in man1/corvane_make.1 man1/pellow.1 man5/corvane.conf.5; do
    gzip -dc "$root/usr/share/man/$page.gz" | cmp -s - "$source/docs/${page#*/}" ||
        fail "$page in the package is not the page in docs/"
done

# run NAME PROGRAM ARGS...: the status, standard output and standard error of
# one run, in files named NAME.*, in a fresh directory of its own.
run() {
    name=$1
    shift
    mkdir "$scratch/$name"
    (cd "$scratch/$name" && "$@" >../$name.out 2>../$name.err)
    echo $? >"$scratch/$name.status"
}
# same A B WHAT: the two runs gave the same status and output.
same() {
    for part in status out err; do
        cmp -s "$scratch/$1.$part" "$scratch/$2.$part" ||
            fail "$3: the packaged and the built program differ in std$part (or status)"
    done
}

config=$source/examples/site.conf
run pkg_make "$root/usr/bin/corvane_make" site.cdb site.tmp "$config"
run built_make "$built_make" site.cdb site.tmp "$config"
same pkg_make built_make "corvane_make on examples/site.conf"
[ "$(cat "$scratch/pkg_make.status")" = 0 ] || fail "corvane_make failed on $config: $(cat "$scratch/pkg_make.err")"
cmp -s "$scratch/pkg_make/site.cdb" "$scratch/built_make/site.cdb" ||
    fail "the packaged and the built corvane_make wrote different databases"

run pkg_dump sh -c '"$0" <../built_make/site.cdb' "$root/usr/bin/pellow"
run built_dump sh -c '"$0" <../built_make/site.cdb' "$built_pellow"
same pkg_dump built_dump "pellow on the example's database"
grep -q '^client ' "$scratch/pkg_dump.out" || fail "pellow's dump holds no client block"

run pkg_version "$root/usr/bin/corvane_make" --version
[ "$(cat "$scratch/pkg_version.out")" = "corvane_make (corvane) $version" ] ||
    fail "unexpected version line: $(cat "$scratch/pkg_version.out")"

run pkg_missing "$root/usr/bin/corvane_make" data.cdb data.tmp no-such.conf
run built_missing "$built_make" data.cdb data.tmp no-such.conf
same pkg_missing built_missing "corvane_make on a missing configuration"
[ "$(cat "$scratch/pkg_missing.status")" != 0 ] || fail "corvane_make succeeded on a missing configuration"

# Overrides are ignored, so none can hide an error.
lintian --no-override --display-info "$deb" >"$scratch/lintian" 2>&1
status=$?
echo "lintian (exit status $status):"
sed 's/^/  /' "$scratch/lintian"
if [ $status != 0 ] || grep -q '^E: ' "$scratch/lintian"; then
    fail "lintian found errors in the package"
fi
echo "package test: passed ($(basename "$deb"))"
