#!/bin/sh
# Runs every GoogleTest binary of a build under valgrind's memcheck, the
# programs that the end-to-end tests start included:
#   tools/memcheck.sh [BUILD_DIR]
# (default build/debug, built beforehand). The binaries are those the build
# lists in BUILD_DIR/test_binaries.txt: every unit test binary and the
# end-to-end tests; the shell tests (page lint, lookups, install) are not
# run. Leaks are not reported: the programs free nothing by design. Prints
# each test binary's result and the number of processes with memcheck errors
# (processes that the tests kill leave no summary); exits 1 when there were
# any.
set -u
cd "$(dirname "$0")/.."
tools/ensure_packages.sh memcheck || exit 1
build=${1:-build/debug}
list=$build/test_binaries.txt
[ -s "$list" ] || { echo "no $list: configure and build $build first" >&2; exit 1; }
logs=$(mktemp -d /tmp/corvane-memcheck-XXXXXX)
failed=0
while IFS= read -r binary; do
    [ -n "$binary" ] || continue
    name=$(basename "$binary")
    valgrind --tool=memcheck --leak-check=no --trace-children=yes --error-exitcode=99 \
        --log-file="$logs/$name.%p.log" "$binary" >"$logs/$name.out" 2>&1 </dev/null
    status=$?
    echo "$name: exit $status, $(grep -c '^\[       OK \]' "$logs/$name.out") tests passed"
    [ "$status" = 0 ] || failed=1
done <"$list"
bad=$(grep -l "ERROR SUMMARY: [1-9]" "$logs"/*.log | wc -l)
echo "memcheck: $(ls "$logs"/*.log | wc -l) processes checked, $bad with errors (logs in $logs)"
[ "$bad" = 0 ] && [ "$failed" = 0 ]
