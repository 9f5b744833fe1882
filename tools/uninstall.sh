#!/bin/sh
# Removes what "cmake --install BUILD_DIR --prefix PREFIX" installs, under
# DESTDIR when that is set (make uninstall):  tools/uninstall.sh BUILD_DIR PREFIX
# The files are those that the install itself puts down, found by a staged
# install into a scratch folder. Directories stay: others may share them.
# $CMAKE names the cmake to use (default: the one on the PATH).
set -eu
build=$1 prefix=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
DESTDIR=$scratch "${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >"$scratch.log" 2>&1 ||
    { cat "$scratch.log" >&2; rm -f "$scratch.log"; exit 1; }
rm -f "$scratch.log"
(cd "$scratch" && find . ! -type d) | sort | while IFS= read -r file; do
    target=${DESTDIR:-}${file#.}
    if [ -e "$target" ] || [ -L "$target" ]; then
        echo "-- Removing: $target"
        rm -f "$target"
    fi
done
