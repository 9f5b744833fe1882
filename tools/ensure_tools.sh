#!/bin/sh
# Makes sure the build tools are there: ensure_tools.sh COMMAND:PACKAGE ...
# A missing one is installed with apt-get when we run as root; otherwise we
# stop with one line that names the package to install.
missing=""
for pair in "$@"; do
    cmd=${pair%%:*}
    pkg=${pair#*:}
    case $cmd in
        /*) [ -e "$cmd" ] ;;
        *) command -v "$cmd" >/dev/null 2>&1 ;;
    esac || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    { apt-get update -qq && apt-get install -y -qq $missing; } >/tmp/corvane-apt.log 2>&1 && exit 0
    echo "apt-get failed to install:$missing (see /tmp/corvane-apt.log)" >&2
    exit 1
fi
echo "missing tools: please install the Debian package(s):$missing" >&2
exit 1
