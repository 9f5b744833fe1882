#!/bin/sh
# Builds the Debian package corvane-tools from this tree (make deb):
#   tools/build_deb.sh OUTDIR
# The tree is copied into a scratch folder and built there with
# dpkg-buildpackage, unsigned, binary only; the .deb and the build's log are
# left in OUTDIR, in place of any earlier ones. DEB_BUILD_OPTIONS is honoured:
# nocheck skips the package's test step, and its build profile lets the
# build do without the test suite's build dependencies.
set -eu
out=$1
cd "$(dirname "$0")/.."
mkdir -p "$out"
out=$(cd "$out" && pwd)
version=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' debian/changelog)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/corvane-deb-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The tree as it stands, without build trees, fuzzing corpora or git's data.
src=$scratch/corvane-$version
mkdir "$src"
tar -cf - --exclude=./build --exclude=./.git --exclude=./.fuzz --exclude=./bench/out . |
    tar -xf - -C "$src"

rm -f "$out"/corvane-tools_*.deb "$out/build.log"
echo "building corvane-tools $version in $scratch (log: $out/build.log)"
profiles=""
case " ${DEB_BUILD_OPTIONS:-} " in
*" nocheck "*) profiles="-Pnocheck" ;;
esac
if ! (cd "$src" && dpkg-buildpackage -us -uc -b -J2 $profiles) >"$out/build.log" 2>&1; then
    tail -n 40 "$out/build.log" >&2
    echo "dpkg-buildpackage failed (the whole log: $out/build.log)" >&2
    exit 1
fi
cp "$scratch"/corvane-tools_"$version"_*.deb "$out"/
ls "$out"/corvane-tools_*.deb
