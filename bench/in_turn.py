#!/usr/bin/env python3
"""The ratios of the hosts targets, timed in turn:

    in_turn.py WORKDIR CORVANE_MAKE WORKLOAD...

hyperfine runs all the runs of one command before those of the next, so a
change of load between them moves their ratio (the hosts pair has come out
anywhere from 1.3 to 2.1 on one machine within an hour). Here the commands
of a comparison are started one after the other, round after round, and
the figure is the median of the rounds' ratios, which a slow drift of the
load moves little. Each command is started directly (no shell), its
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

    results = {}
    for w in ("hosts", "hosts20k", "hosts80k"):
        if w not in named:
            continue
        ours, theirs, ratios = [], [], []
        for _ in range(ROUNDS[w] * scale):
            t_theirs = run([cdb, "-c", "-t", f"{out}/tc.tmp", f"{out}/tc.cdb"], stdin=f"{work}/{w}.records",
                           outputs=[f"{out}/tc.tmp", f"{out}/tc.cdb"])
            t_ours = compile_run(w)
            ours.append(t_ours)
            theirs.append(t_theirs)
            ratios.append(t_ours / t_theirs)
        results[f"compile {w}"] = {"rounds": len(ratios), "corvane_make": statistics.median(ours),
                                   "cdb -c": statistics.median(theirs), "ratio": statistics.median(ratios)}
    if {"hosts", "hosts80k"} <= named:
        empty = f"{out}/empty.conf"
        open(empty, "w").close()
        n_small, n_large = records_in(f"{work}/hosts.cdb"), records_in(f"{work}/hosts80k.cdb")
        bare, small, large, ratios = [], [], [], []
        for _ in range(ROUNDS["scale"] * scale):
            t_bare = run([cm, made[0], made[1], empty], outputs=made)
            t_small, t_large = compile_run("hosts"), compile_run("hosts80k")
            bare.append(t_bare)
            small.append(t_small)
            large.append(t_large)
            ratios.append(((t_large - t_bare) / n_large) / ((t_small - t_bare) / n_small))
        results["scale"] = {"rounds": len(ratios), "empty": statistics.median(bare),
                            "hosts": statistics.median(small), "hosts80k": statistics.median(large),
                            "ratio": statistics.median(ratios)}
    with open(f"{work}/results/in_turn.json", "w") as f:
        json.dump(results, f, indent=1)
    for path in os.listdir(out):
        os.unlink(f"{out}/{path}")
    os.rmdir(out)


if __name__ == "__main__":
    main()
