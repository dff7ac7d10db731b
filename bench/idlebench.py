#!/usr/bin/env python3
"""Small files while many logged-in sessions sit idle (bench/run --idle).

Subcommands:
  measure ...       for each idle count (0 first, as the base): open that many
                    logged-in sessions and leave them idle, then download the
                    small files over one session with a NOOP probe on a
                    second one, and over 4 sessions side by side; close the
                    idle sessions; write the numbers as JSON
  table JSON...     the idle rows: medians over the rounds, ours against the
                    peer and against our own rate with no idle sessions

The idle sessions are held by several processes of at most 2,000 sockets
each, so no process needs more descriptors than a default hard limit allows;
they come from 127.0.0.1 up to 127.0.0.(1+processes), so per-address limits
and the client ports of one address are not what runs out. Only 127.0.0.0/8
is contacted. Every loop is bounded in count and time.
"""

import argparse
import asyncio
import json
import multiprocessing
import statistics
import sys
import time

from ftpbench import (Failure, _percentile, connect, download_small, noop_probe_beside,
                      parallel_downloads)
from proctree import OtherWork, tree_cpu_seconds, tree_rss_kib

HOST = "127.0.0.1"
PER_PROCESS = 2000
OPEN_AT_ONCE = 64
LOGIN_TIMEOUT = 30.0


# ---------------------------------------------------------------- idle sessions

async def _login(port, user, password, source, gate):
    async with gate:
        reader, writer = await asyncio.wait_for(
            asyncio.open_connection(HOST, port, local_addr=(source, 0)), LOGIN_TIMEOUT)

        async def expect(prefix):
            while True:  # bounded by the timeout and the server's reply lines
                line = await asyncio.wait_for(reader.readline(), LOGIN_TIMEOUT)
                if not line:
                    raise Failure("closed before %s" % prefix)
                if line[:3] == prefix and line[3:4] == b" ":
                    return
                if line[3:4] == b" ":
                    raise Failure("expected %s, got %r" % (prefix, line[:80]))

        await expect(b"220")
        writer.write(b"USER %s\r\n" % user.encode())
        await expect(b"331")
        writer.write(b"PASS %s\r\n" % password.encode())
        await expect(b"230")
        return writer


async def _hold(port, user, password, count, source, ready, stop):
    gate = asyncio.Semaphore(OPEN_AT_ONCE)
    results = await asyncio.gather(
        *[_login(port, user, password, source, gate) for _ in range(count)],
        return_exceptions=True)
    writers = [w for w in results if not isinstance(w, BaseException)]
    errors = [str(e) for e in results if isinstance(e, BaseException)]
    ready.put((len(writers), errors[:3]))
    deadline = time.monotonic() + 3600
    while not stop.is_set() and time.monotonic() < deadline:
        await asyncio.sleep(0.2)
    for w in writers:
        w.close()
    await asyncio.gather(*[w.wait_closed() for w in writers], return_exceptions=True)


def _holder(port, user, password, count, source, ready, stop):
    asyncio.run(_hold(port, user, password, count, source, ready, stop))


class IdleSessions:
    """`count` logged-in sessions sitting idle until close()."""

    def __init__(self, port, user, password, count):
        ctx = multiprocessing.get_context("fork")
        self.stop, ready = ctx.Event(), ctx.Queue()
        self.procs = []
        left, k = count, 0
        while left > 0:
            n = min(PER_PROCESS, left)
            source = "127.0.0.%d" % (2 + k)
            self.procs.append(ctx.Process(target=_holder, args=(
                port, user, password, n, source, ready, self.stop)))
            left -= n
            k += 1
        for p in self.procs:
            p.start()
        self.opened, self.errors = 0, []
        try:
            for _ in self.procs:
                opened, errors = ready.get(timeout=600)
                self.opened += opened
                self.errors += errors
        except Exception:
            self.close()
            raise
        if self.opened != count:
            self.close()
            raise Failure("only %d of %d idle sessions logged in: %s"
                          % (self.opened, count, "; ".join(self.errors)))

    def close(self):
        self.stop.set()
        for p in self.procs:
            p.join(timeout=60)
            if p.is_alive():
                p.terminate()


# ---------------------------------------------------------------- one row

def _one_session(args):
    with noop_probe_beside(args.port, args.user, args.password) as rtts:
        ftp = connect(args.port, args.user, args.password)
        ftp.voidcmd("TYPE I")
        other = OtherWork(args.server_pid)
        cpu0 = tree_cpu_seconds(args.server_pid)
        other.start()
        seconds = download_small(ftp, args.small, bytearray(64 << 10))
        cpu = tree_cpu_seconds(args.server_pid) - cpu0
        other_cores = other.stop()
        ftp.quit()
    return (args.small / seconds, _percentile(rtts, 0.99), cpu / args.small * 1e6,
            other_cores)


def measure_row(args, idle):
    row = {"idle": idle}
    rss0 = tree_rss_kib(args.server_pid)
    t0 = time.perf_counter()
    sessions = IdleSessions(args.port, args.user, args.password, idle) if idle else None
    try:
        row["open_s"] = time.perf_counter() - t0
        time.sleep(1.0)
        row["rss_per_idle_kib"] = (tree_rss_kib(args.server_pid) - rss0) / idle if idle else 0
        (row["down_fps"], row["noop_p99_s"], row["cpu_us"],
         row["other_cores"]) = _one_session(args)
        time.sleep(0.3)
        other = OtherWork(args.server_pid)
        other.start()
        row["parallel_fps"] = parallel_downloads([args.port] * args.sessions, args.user,
                                                 args.password, args.small)
        row["parallel_other_cores"] = other.stop()
    finally:
        if sessions:
            sessions.close()
    time.sleep(1.0)  # the server has seen them go
    return row


def measure(args):
    counts = [0] + [int(c) for c in args.counts.split(",") if c]
    result = {"server": args.name, "small_count": args.small, "sessions": args.sessions,
              "rows": []}
    for idle in counts:
        try:
            row = measure_row(args, idle)
        except Exception as e:  # any failure of a row is recorded, the next row still runs
            row = {"idle": idle, "error": "%s: %s" % (type(e).__name__, e)}
        result["rows"].append(row)
        print("  idle %-6d %s" % (idle, ", ".join(
            "%s=%.4g" % (k, v) if isinstance(v, float) else "%s=%s" % (k, v)
            for k, v in row.items() if k != "idle")), flush=True)
    with open(args.json, "w") as f:
        json.dump(result, f, indent=1)


# ---------------------------------------------------------------- table

def _median(values):
    return statistics.median(values) if values else None


def table(paths, ours, peer):
    runs = {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        for row in data["rows"]:
            if "error" not in row:
                runs.setdefault((data["server"], row["idle"]), []).append(row)

    def med(server, idle, key):
        return _median([r[key] for r in runs.get((server, idle), []) if key in r])

    def fmt(v, digits=3):
        return "-" if v is None else ("%.*g" % (digits, v) if v < 1000 else "{:,.0f}".format(v))

    def ratio(a, b):
        return "-" if a is None or not b else "%.2fx" % (a / b) if a / b >= 0.01 else "%.1ex" % (a / b)

    servers = sorted({s for s, _ in runs}, key=lambda s: (s != peer, s != ours, s))
    counts = sorted({i for _, i in runs})
    rounds = max((len(v) for v in runs.values()), default=0)
    print("Idle sessions: medians of %d round(s); files of 4 KiB downloaded, "
          "one session and %s side by side" % (rounds, "4"))
    print()
    head = ["Idle sessions", "Measurement", "unit"] + servers + [
        "%s/%s" % (ours, peer), "%s/own rate at 0 idle" % ours]
    print("| " + " | ".join(head) + " |")
    print("|" + "|".join("---" for _ in head) + "|")
    # (key, label, unit, compared with our own rate at 0 idle, compared with the peer)
    rows = [("down_fps", "Small files down, one session", "files/s", True, True),
            ("parallel_fps", "Small files down, 4 sessions", "files/s", True, True),
            ("noop_p99_s", "NOOP p99, second session", "ms", False, True),
            ("cpu_us", "Server CPU per small file", "us", False, True),
            ("other_cores", "Other work on the machine, one session", "% of a core",
             False, False),
            ("parallel_other_cores", "Other work on the machine, 4 sessions", "% of a core",
             False, False),
            ("rss_per_idle_kib", "RSS per idle session", "KiB", False, True)]
    for idle in counts:
        for key, label, unit, own, versus in rows:
            if idle == 0 and key == "rss_per_idle_kib":
                continue
            scale = {"noop_p99_s": 1000.0, "other_cores": 100.0,
                     "parallel_other_cores": 100.0}.get(key, 1.0)
            values = [med(s, idle, key) for s in servers]
            cells = [fmt(v * scale if v is not None else None) for v in values]
            mine, theirs = med(ours, idle, key), med(peer, idle, key)
            base = med(ours, 0, key) if own else None
            versus_peer = ratio(mine, theirs) if versus else "-"
            versus_own = ratio(mine, base) if idle else "-"
            print("| " + " | ".join(["{:,}".format(idle), label, unit] + cells + [
                versus_peer, versus_own]) + " |")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    m = sub.add_parser("measure")
    m.add_argument("--name", required=True)
    m.add_argument("--port", type=int, required=True)
    m.add_argument("--user", required=True)
    m.add_argument("--password", required=True)
    m.add_argument("--server-pid", type=int, required=True)
    m.add_argument("--json", required=True)
    m.add_argument("--counts", default="1000,10000", help="idle session counts, comma-separated")
    m.add_argument("--small", type=int, default=2000)
    m.add_argument("--sessions", type=int, default=4)
    t = sub.add_parser("table")
    t.add_argument("--ours", default="kestrova")
    t.add_argument("--peer", default="pure-ftpd")
    t.add_argument("json", nargs="+")
    args = ap.parse_args()
    if args.cmd == "measure":
        measure(args)
    else:
        table(args.json, args.ours, args.peer)


if __name__ == "__main__":
    sys.exit(main())
