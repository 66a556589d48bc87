"""Summarises one soak phase: the graph cycles pw-profiler logged and the CPU time
of the program's threads.

    soak_report.py PROFILE PROFILER_LOG NODE [PID THREADS_BEFORE THREADS_AFTER SECONDS]

PROFILE is pw-profiler's output (PipeWire 0.3.65: four driver columns, then eight
per follower: id, signal, awake, finish, scheduling delay, processing time,
status, 0; times in microseconds from the driver's wake-up). PROFILER_LOG holds
its "logging follower ID ("name")" lines, which say which block is NODE. The
THREADS files hold "tid comm utime stime" lines (clock ticks) read from /proc for
the program PID; its main thread (tid PID) is the GUI thread, which also renders
when Qt Quick uses its software renderer.
"""

import os
import re
import sys


def percentile(values, fraction):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def cycles(profile, follower_id):
    """Counts cycles and late cycles, and sorts the late ones by their cause.

    A cycle is late when the graph ended after its period (column 2), when the
    driver itself woke late (columns 1-2 hold the 1.4-period marker, column 1
    reads 0) or when a follower had not finished (status other than 3)."""
    total = late = 0
    processing, scheduling = [], []
    causes = {"not woken": 0, "woken late": 0, "slow processing": 0, "driver late": 0, "other client": 0}
    with open(profile) as rows:
        for row in rows:
            cols = row.rstrip("\n").split("\t")
            if len(cols) < 4 or not cols[0].strip():
                continue
            period_seen, graph_end, period = float(cols[0]), float(cols[1]), float(cols[3])
            if period <= 0:
                continue
            total += 1
            ours, unfinished = None, False
            for block in range(4, len(cols) - 7, 8):
                if not cols[block].strip():
                    continue
                if cols[block + 6].strip() not in ("3", "4"):
                    unfinished = True
                if cols[block].strip() == str(follower_id):
                    ours = [float(c) if c.strip() else 0.0 for c in cols[block : block + 7]]
            if ours is not None and ours[6] == 3:
                scheduling.append(ours[4])
                processing.append(ours[5])
            driver_late = period_seen == 0 or period_seen >= 1.3 * period
            if not (driver_late or unfinished or graph_end > period):
                continue
            late += 1
            if ours is not None and ours[6] != 3 and ours[2] == 0:
                causes["not woken"] += 1
            elif ours is not None and ours[4] > 0.5 * period:
                causes["woken late"] += 1
            elif ours is not None and ours[5] > 0.5 * period:
                causes["slow processing"] += 1
            elif driver_late:
                causes["driver late"] += 1
            else:
                causes["other client"] += 1
    return total, late, processing, scheduling, causes


def thread_cpu(pid, before, after, seconds):
    """CPU milliseconds per second by thread group."""
    def load(path):
        table = {}
        with open(path) as rows:
            for row in rows:
                parts = row.split()
                if len(parts) >= 4:
                    table[parts[0]] = (parts[1], int(parts[2]) + int(parts[3]))
        return table

    tick_ms = 1000.0 / os.sysconf("SC_CLK_TCK")
    start, end = load(before), load(after)
    groups = {}
    for tid, (comm, ticks) in end.items():
        used = ticks - start.get(tid, (comm, 0))[1]
        if tid == pid:
            name = "gui"
        elif comm.startswith("QSGRenderThread"):
            name = "render"
        elif comm.startswith("llvmpipe"):
            name = "llvmpipe"
        elif comm == "tmb-audio":
            name = "audio"
        else:
            name = "other"
        groups[name] = groups.get(name, 0.0) + used * tick_ms / seconds
    return groups


def main():
    profile, log, node = sys.argv[1:4]
    follower_id = None
    with open(log, errors="replace") as text:
        for match in re.finditer(r'logging follower (\d+) \("([^"]*)"\)', text.read()):
            if match.group(2) == node:
                follower_id = int(match.group(1))
    total, late, processing, scheduling, causes = cycles(profile, follower_id)
    share = 100.0 * late / total if total else 0.0
    line = f"cycles {total}  late {late} ({share:.3f} %)"
    if processing:
        line += (
            f"  processing us p50 {percentile(processing, 0.5):.0f} p99 {percentile(processing, 0.99):.0f}"
            f" p99.9 {percentile(processing, 0.999):.0f} max {max(processing):.0f}"
            f"  wake-up delay us p99.9 {percentile(scheduling, 0.999):.0f} max {max(scheduling):.0f}"
        )
    elif node != "-":
        line += f"  (node {node} not seen by the profiler)"
    print(line)
    if late and follower_id is not None:
        print("  late cycles: " + ", ".join(f"{name} {count}" for name, count in causes.items()))
    if len(sys.argv) >= 8:
        groups = thread_cpu(sys.argv[4], sys.argv[5], sys.argv[6], float(sys.argv[7]))
        print("  CPU ms/s: " + "  ".join(f"{name} {value:.0f}" for name, value in sorted(groups.items())))


if __name__ == "__main__":
    main()
