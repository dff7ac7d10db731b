#!/usr/bin/env python3
"""Two or more builds of kv_bench_server side by side, small downloads only.

    python3 bench/abtest.py [--rounds N] [--files N] BINARY BINARY [BINARY...]

Each binary serves the same small files from /dev/shm/kvab on its own port
of 127.0.0.1. Every round runs one session of small RETRs, then 4 sessions
side by side, against each server in turn, starting the order one server
further each round, so a burst of other load falls on all of them alike.
Prints each round and, per row, the first binary's median and every other
binary's median against it (and the median of the per-round ratios). For
deciding between two ways of doing one thing; bench/run stays the measure
against the peers. Every loop is bounded; only 127.0.0.1 is contacted.
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ftpbench import connect, download_small, parallel_downloads, prepare  # noqa: E402

ROOT = "/dev/shm/kvab"
FIRST_PORT = 22100


def start(binary, port):
    proc = subprocess.Popen([binary, ROOT, str(port)], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    for _ in range(100):  # a few lines at most before READY
        if b"READY" in proc.stdout.readline():
            return proc
    os.killpg(proc.pid, signal.SIGTERM)
    raise SystemExit("no READY from " + binary)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=12)
    parser.add_argument("--files", type=int, default=1000)
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()
    if len(args.binaries) < 2:
        parser.error("give at least two binaries")
    prepare(ROOT, 1, args.files, 0)
    servers = []
    try:
        for i, binary in enumerate(args.binaries):
            servers.append((binary, FIRST_PORT + i, start(binary, FIRST_PORT + i)))
        rates = {b: {"one": [], "four": []} for b in args.binaries}
        buf = bytearray(64 << 10)
        for r in range(args.rounds):
            k = r % len(servers)
            order = servers[k:] + servers[:k]
            for binary, port, _ in order:
                ftp = connect(port, "bench", "bench")
                ftp.voidcmd("TYPE I")
                rates[binary]["one"].append(args.files / download_small(ftp, args.files, buf))
                ftp.quit()
            for binary, port, _ in order:
                rates[binary]["four"].append(
                    parallel_downloads([port] * 4, "bench", "bench", args.files))
            print("round", r, {b: (round(rates[b]["one"][-1]), round(rates[b]["four"][-1]))
                               for b in args.binaries}, flush=True)
    finally:
        for _, _, proc in servers:
            os.killpg(proc.pid, signal.SIGTERM)
    base = args.binaries[0]
    for row in ("one", "four"):
        first = statistics.median(rates[base][row])
        line = "%s: %s %.0f files/s" % (row, base, first)
        for other in args.binaries[1:]:
            median = statistics.median(rates[other][row])
            paired = statistics.median(y / x for x, y in zip(rates[base][row], rates[other][row]))
            line += " | %s %.3fx (per round %.3fx)" % (other, median / first, paired)
        print(line)


if __name__ == "__main__":
    main()
