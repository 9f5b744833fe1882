#!/bin/sh
# Runs every test binary of a build under valgrind's memcheck, the programs
# that the end-to-end tests start included:  tools/memcheck.sh [BUILD_DIR]
# (default build/debug, built beforehand). Leaks are not reported: the
# programs free nothing by design. Prints each test binary's result and the
# number of processes with memcheck errors (processes that the tests kill
# leave no summary); exits 1 when there were any.
set -u
cd "$(dirname "$0")/.."
build=${1:-build/debug}
logs=$(mktemp -d /tmp/corvane-memcheck-XXXXXX)
failed=0
for t in lib/lib_tests cdb/cdb_tests cdb/cdb_writer_tests compiler/compiler_tests tests/e2e_tests; do
    name=$(basename "$t")
    valgrind --tool=memcheck --leak-check=no --trace-children=yes --error-exitcode=99 \
        --log-file="$logs/$name.%p.log" "$build/$t" >"$logs/$name.out" 2>&1
    status=$?
    echo "$name: exit $status, $(grep -c '^\[       OK \]' "$logs/$name.out") tests passed"
    [ "$status" = 0 ] || failed=1
done
bad=$(grep -l "ERROR SUMMARY: [1-9]" "$logs"/*.log | wc -l)
echo "memcheck: $(ls "$logs"/*.log | wc -l) processes checked, $bad with errors (logs in $logs)"
[ "$bad" = 0 ] && [ "$failed" = 0 ]
