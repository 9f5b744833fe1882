#!/usr/bin/env python3
"""The ratios of the hosts targets, timed in turn:

    in_turn.py WORKDIR CORVANE_MAKE WORKLOAD...

hyperfine runs all the runs of one command before those of the next, so a
change of load between them moves their ratio (the hosts pair has come out
anywhere from 1.3 to 2.1 on one machine within an hour). Here the commands
of a comparison are started one after the other, round after round, and
the figure is the median of the rounds' ratios, which a slow drift of the
load moves little. And the rounds of all comparisons are spread over the
whole timing, pass after pass, each comparison's evenly: a spell of a few
seconds in which the machine slows one of the programs (seen on shared
machines: hosts20k from 0.8 to 1.6 times `cdb -c` with all its rounds in
one spell, 1.07 over five minutes) takes a few rounds of each comparison,
not all of one. Each command is started directly (no shell), its
outputs removed before it, its standard input a file where it reads one;
its time is from its start to its end, as a user waits for it.

Comparisons, of the workloads named, each an entry of
WORKDIR/results/in_turn.json:
  compile W (hosts, hosts20k, hosts80k): corvane_make on W.conf against
      cdb -c on W.records, the ratio of each round's two times;
  scale (hosts and hosts80k both named): corvane_make on an empty
      configuration, on hosts and on hosts80k, each round's time per
      record above the empty run, hosts80k over hosts.
Environment: BENCH_TURN_ROUNDS multiplies the rounds (default 1).
"""

import json
import os
import shutil
import statistics
import sys
import time

ROUNDS = {"hosts": 40, "hosts20k": 20, "hosts80k": 10, "scale": 15}


def run(argv, stdin=None, outputs=()):
    """Wall time of one run of argv, in seconds; a failed run ends the
    benchmark."""
    for path in outputs:
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass
    actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)]
    if stdin:
        actions.append((os.POSIX_SPAWN_OPEN, 0, stdin, os.O_RDONLY, 0))
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=actions)
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"in_turn.py: {' '.join(argv)} failed")
    return elapsed


def records_in(cdb):
    with open(cdb, "rb") as f:
        header = f.read(2048)
    return sum(int.from_bytes(header[i + 4:i + 8], "little") for i in range(0, 2048, 8)) // 2


def main():
    work, cm, named = sys.argv[1], sys.argv[2], set(sys.argv[3:])
    scale = int(os.environ.get("BENCH_TURN_ROUNDS", "1"))
    out = f"{work}/turn"
    os.makedirs(out, exist_ok=True)
    cdb = shutil.which("cdb")
    made = [f"{out}/cm.cdb", f"{out}/cm.tmp"]

    def compile_run(w):
        return run([cm, made[0], made[1], f"{work}/{w}.conf"], outputs=made)

    # Each comparison: its name, its rounds, and one round, which returns
    # the round's times and its ratio.
    comparisons = []
    for w in ("hosts", "hosts20k", "hosts80k"):
        if w in named:
            def compile_round(w=w):
                t_theirs = run([cdb, "-c", "-t", f"{out}/tc.tmp", f"{out}/tc.cdb"],
                               stdin=f"{work}/{w}.records", outputs=[f"{out}/tc.tmp", f"{out}/tc.cdb"])
                t_ours = compile_run(w)
                return {"corvane_make": t_ours, "cdb -c": t_theirs}, t_ours / t_theirs
            comparisons.append((f"compile {w}", ROUNDS[w] * scale, compile_round))
    if {"hosts", "hosts80k"} <= named:
        empty = f"{out}/empty.conf"
        open(empty, "w").close()
        n_small, n_large = records_in(f"{work}/hosts.cdb"), records_in(f"{work}/hosts80k.cdb")

        def scale_round():
            t_bare = run([cm, made[0], made[1], empty], outputs=made)
            t_small, t_large = compile_run("hosts"), compile_run("hosts80k")
            ratio = ((t_large - t_bare) / n_large) / ((t_small - t_bare) / n_small)
            return {"empty": t_bare, "hosts": t_small, "hosts80k": t_large}, ratio
        comparisons.append(("scale", ROUNDS["scale"] * scale, scale_round))

    # Pass p runs a round of every comparison whose share of the passes
    # ends in it: each comparison's rounds lie evenly over all the passes.
    passes = max((rounds for _, rounds, _ in comparisons), default=0)
    times = {name: {} for name, _, _ in comparisons}
    ratios = {name: [] for name, _, _ in comparisons}
    for p in range(passes):
        for name, rounds, one_round in comparisons:
            if p * rounds // passes == (p + 1) * rounds // passes:
                continue
            round_times, ratio = one_round()
            for label, t in round_times.items():
                times[name].setdefault(label, []).append(t)
            ratios[name].append(ratio)
    results = {}
    for name, _, _ in comparisons:
        results[name] = {"rounds": len(ratios[name])}
        for label, ts in times[name].items():
            results[name][label] = statistics.median(ts)
        results[name]["ratio"] = statistics.median(ratios[name])
    with open(f"{work}/results/in_turn.json", "w") as f:
        json.dump(results, f, indent=1)
    for path in os.listdir(out):
        os.unlink(f"{out}/{path}")
    os.rmdir(out)


if __name__ == "__main__":
    main()
