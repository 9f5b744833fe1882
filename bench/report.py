#!/usr/bin/env python3
"""The benchmark's table: report.py WORKDIR WORKLOAD...

Reads what bench/run left in WORKDIR/results (hyperfine's JSON per group,
GNU time's peak resident sizes per command) and prints, per workload and
group, each command's median, its ratio to the group's floor (cp or cat)
and its peak resident size; then the targets, each with its figure.
"""

import json
import os
import platform
import statistics
import subprocess
import sys

GROUPS = [("compile", "tmpfs", "cp"), ("dump", "tmpfs", "cat"), ("disk", "disk", "cp")]


def records_in(cdb):
    """Half the slots of all the hash tables: the number of records."""
    with open(cdb, "rb") as f:
        header = f.read(2048)
    return sum(int.from_bytes(header[i + 4:i + 8], "little") for i in range(0, 2048, 8)) // 2


def load(results, workload, group):
    path = f"{results}/{workload}.{group}.json"
    if not os.path.exists(path):
        return None
    rows = {}
    for r in json.load(open(path))["results"]:
        with open(f"{results}/{workload}.{group}.mem.{r['command']}") as f:
            rss = statistics.median(int(line) for line in f if line.strip())
        rows[r["command"]] = (r["median"], rss)
    return rows


def command_output(argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True).stdout.strip()
    except OSError:
        return "?"


def machine():
    cpu = {}
    with open("/proc/cpuinfo") as f:
        for line in f:
            key, _, value = line.partition(":")
            cpu.setdefault(key.strip(), value.strip())
    with open("/proc/meminfo") as f:
        mem_kib = int(f.readline().split()[1])
    versions = command_output(["dpkg-query", "-W", "-f", "${Package} ${Version}, ",
                               "freecdb", "tinycdb", "hyperfine", "g++"]).rstrip(", ")
    tree = command_output(["git", "describe", "--always", "--dirty"])
    return [
        f"machine: {os.cpu_count()} CPUs, {cpu.get('model name', '?')} (family "
        f"{cpu.get('cpu family', '?')}, model {cpu.get('model', '?')}, "
        f"{cpu.get('cpu MHz', '?')} MHz), {mem_kib / 2**20:.1f} GiB memory, "
        f"Linux {platform.release()}",
        f"versions: corvane {tree}, {versions}, Python {platform.python_version()}",
        f"load at the end: {os.getloadavg()[0]:.2f} (1 min)",
    ]


def table(results, workdir, workloads):
    lines = ["| workload | records | group | command | median | x floor | peak RSS |",
             "|---|---:|---|---|---:|---:|---:|"]
    found = {}
    for w in workloads:
        n = records_in(f"{workdir}/{w}.cdb")
        for group, place, floor in GROUPS:
            rows = load(results, w, group)
            if rows is None:
                continue
            found[w, group] = rows
            base = rows[floor][0]
            label = f"{group.replace('disk', 'compile')} ({place})"
            for command, (median, rss) in rows.items():
                lines.append(f"| {w} | {n} | {label} | {command} | {median * 1000:.1f} ms | "
                             f"{median / base:.2f} | {rss / 1024:.1f} MiB |")
    return lines, found


def targets(found, workdir):
    out = []

    def ratio(w, group, a, b):
        rows = found.get((w, group))
        return rows[a][0] / rows[b][0] if rows else None

    def check(text, value, limit, goal=None):
        if value is None:
            return
        verdict = "met" if value <= limit else "NOT met"
        goal_text = f", goal {goal}" if goal else ""
        out.append(f"- {text}: {value:.2f} (at most {limit}{goal_text}): {verdict}")

    check("compile networks, corvane_make / cp", ratio("networks", "compile", "corvane_make", "cp"), 1.8, 1.3)
    check("compile ranges, corvane_make / cp", ratio("ranges", "compile", "corvane_make", "cp"), 3.0, 2.0)
    check("compile hosts, corvane_make / cdb -c", ratio("hosts", "compile", "corvane_make", "cdb -c"), 1.0)
    check("dump networks, pellow / cat", ratio("networks", "dump", "pellow", "cat"), 3.0, 2.0)
    check("dump ranges, pellow / cat", ratio("ranges", "dump", "pellow", "cat"), 4.0, 3.0)
    for (w, group), rows in sorted(found.items()):
        if group == "compile":
            check(f"peak RSS {w}, corvane_make / cdbmake",
                  rows["corvane_make"][1] / rows["cdbmake"][1], 1.0)
    base = found.get(("networks", "compile"))
    if base:
        n1 = records_in(f"{workdir}/networks.cdb")
        for w in ("networks4", "networks16"):
            rows = found.get((w, "compile"))
            if rows:
                scale = records_in(f"{workdir}/{w}.cdb") / n1
                for command in ("corvane_make", "cp"):
                    per = rows[command][0] / base[command][0] / scale
                    out.append(f"- scale {w} / networks, {command}: time per record x{per:.2f} "
                               f"({scale:.0f}x the records)")
    long, short = found.get(("chain20k", "compile")), found.get(("chain10k", "compile"))
    if long and short:
        check("chain of 20,000 / 10,000 variables, corvane_make",
              long["corvane_make"][0] / short["corvane_make"][0], 2.5)
    return out


def main():
    workdir, workloads = sys.argv[1], sys.argv[2:]
    lines, found = table(f"{workdir}/results", workdir, workloads)
    print("\n".join(machine()))
    print()
    print("\n".join(lines))
    print()
    print("\n".join(targets(found, workdir)))


if __name__ == "__main__":
    main()
