#!/bin/sh
# changelog_version_test.sh CHANGELOG VERSION: the package's version (the
# newest entry of debian/changelog, without epoch or Debian revision) is the
# project's version, which CMakeLists.txt defines.
changelog=$1 version=$2
entry=$(sed -n '1s/^[a-z0-9][a-z0-9.+-]* (\([^)]*\)) .*/\1/p' "$changelog")
[ -n "$entry" ] || { echo "no version in the first line of $changelog" >&2; exit 1; }
upstream=${entry#*:}
upstream=${upstream%-*}
if [ "$upstream" != "$version" ]; then
    echo "debian/changelog is at $entry, the project at $version: add a changelog entry" >&2
    exit 1
fi
echo "debian/changelog and the project are both at $version"
