#!/bin/sh
# Runs one fuzzing target under AFL++ for a bounded time:
#   fuzz/run.sh TARGET SECONDS
# TARGET is config (corvane_make on a configuration), pellow (a database) or
# argv (corvane_make's command line, through fuzz_argv). The fuzz preset must
# be built (make fuzz-build). Corpora and findings go to .fuzz/TARGET/ (or
# under $CORVANE_FUZZ_DIR), and a later run goes on from that corpus; seeds
# are made afresh from the examples and the test cases. Exits 1 when the run
# saved a crash or a hang (listed on standard error).
set -eu
cd "$(dirname "$0")/.."
target=$1
seconds=$2
root=$(pwd)
build=$root/build/fuzz
out=${CORVANE_FUZZ_DIR:-$root/.fuzz}/$target
# afl-fuzz runs in the scratch directory below: the path must not be relative.
case $out in /*) ;; *) out=$root/$out ;; esac
seeds=$out/seeds
dict=""

export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1
export AFL_NO_AFFINITY=1 AFL_AUTORESUME=1
# Sanitizer reports must abort for AFL to see them. A single allocation over
# a gigabyte fails as the C library's would, so the out-of-memory paths are
# taken; a process that keeps growing past 2 GiB is reported as a finding.
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=1024:hard_rss_limit_mb=2048
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1

# The programs write their files into the working directory at every
# execution: a directory in memory keeps that cheap.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    work=$(mktemp -d /dev/shm/corvane-fuzz-XXXXXX)
else
    mkdir -p "$root/.fuzz"
    work=$(mktemp -d "$root/.fuzz/work-XXXXXX")
fi
trap 'rm -rf "$work"' EXIT

# The configuration section of every compiler case, and the example.
config_seeds() {
    mkdir -p "$1"
    cp "$root"/examples/*.conf "$1"/
    for c in "$root"/tests/cases/corvane_make/*.case; do
        awk '/^=== /{on = ($2 == "config")} on && !/^=== /' "$c" >"$1/$(basename "$c" .case).conf"
    done
}

rm -rf "$seeds"
mkdir -p "$seeds"
case $target in
config)
    config_seeds "$seeds"
    dict=$root/fuzz/config.dict
    set -- "$build/compiler/corvane_make" data.cdb data.tmp
    ;;
pellow)
    # Databases compiled from the configuration seeds.
    config_seeds "$out/configs"
    for c in "$out"/configs/*.conf; do
        (cd "$work" && "$build/compiler/corvane_make" data.cdb data.tmp "$c" 2>/dev/null &&
            mv data.cdb "$seeds/$(basename "$c" .conf).cdb") || true
    done
    rm -rf "$out/configs"
    printf '' >"$seeds/empty"
    set -- "$build/dumper/pellow"
    ;;
argv)
    if [ "$(id -u)" != 0 ]; then
        echo "fuzz/run.sh: the argv target runs as root (its harness chroots)" >&2
        exit 1
    fi
    dict=$root/fuzz/argv.dict
    printf 'corvane_make\0d.cdb\0t.tmp\0c\0' >"$seeds/compile"
    printf 'corvane_make\0d.cdb\0t.tmp\0' >"$seeds/stdin"
    printf '/usr/bin/corvane_make\0--\0d.cdb\0t.tmp\0c\0' >"$seeds/marker"
    printf 'corvane_make\0-\0d.cdb\0-\0t.tmp\0c\0' >"$seeds/dashes"
    printf 'corvane_make\0--help\0' >"$seeds/help"
    printf 'corvane_make\0--help\0version\0' >"$seeds/help_on"
    printf 'corvane_make\0--longhelp\0' >"$seeds/longhelp"
    printf 'corvane_make\0--version\0x\0' >"$seeds/version"
    printf 'corvane_make\0--zogetopt-paranoid\0' >"$seeds/paranoid"
    printf 'corvane_make\0-x\0' >"$seeds/short"
    printf 'corvane_make\0--no=1\0' >"$seeds/long"
    printf 'corvane_make\0a\0b\0c\0d\0' >"$seeds/four"
    printf 'corvane_make\0x/d.cdb\0t.tmp\0c\0' >"$seeds/subdir"
    printf 'corvane_make\0d.cdb\0t.tmp\0.\0' >"$seeds/dir_config"
    set -- "$build/fuzz/fuzz_argv"
    ;;
*)
    echo "fuzz/run.sh: unknown target $target (config, pellow or argv)" >&2
    exit 2
    ;;
esac

# Resume from the corpus of an earlier run when there is one.
input=$seeds
[ -d "$out/default/queue" ] && input=-

(cd "$work" && nice -n 10 afl-fuzz -i "$input" -o "$out" -m none -t 2000 -V "$seconds" \
    ${dict:+-x "$dict"} -- "$@") >"$out.log" 2>&1 || {
    echo "fuzz/run.sh: afl-fuzz failed for $target (see $out.log)" >&2
    tail -20 "$out.log" >&2
    exit 1
}
grep -E 'execs_done|run_time|saved_crashes|saved_hangs|corpus_count' "$out/default/fuzzer_stats" |
    tr -s ' ' | sed "s/^/$target: /"
# A hang saved while the machine was busy may just have been slow: only one
# that still takes more than 10 seconds on its own counts.
found=$(find "$out/default/crashes" -type f ! -name README.txt 2>/dev/null)
for h in $(find "$out/default/hangs" -type f ! -name README.txt 2>/dev/null); do
    status=0
    (cd "$work" && timeout 10 "$@" <"$h" >/dev/null 2>&1) || status=$?
    [ "$status" = 124 ] && found="$found $h"
done
if [ -n "$found" ]; then
    echo "fuzz/run.sh: $target saved findings:" >&2
    echo "$found" >&2
    exit 1
fi
