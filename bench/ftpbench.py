#!/usr/bin/env python3
"""FTP benchmark client used by bench/run.

Subcommands:
  prepare ROOT      create the data the measurements read (big file, small
                    files, a large folder, an upload folder)
  measure ...       run every measurement against one server on 127.0.0.1
                    and write the numbers as JSON
  table JSON...     print the comparison table from those JSON files

Only 127.0.0.1 is ever contacted. Every loop is bounded in count and time.
"""

import argparse
import asyncio
import contextlib
import ftplib
import json
import multiprocessing
import os
import resource
import socket
import statistics
import sys
import time

from benchtable import GIB, table
from proctree import tree_cpu_seconds, tree_rss_kib

HOST = "127.0.0.1"
SOCKET_TIMEOUT = 60.0
RECV_CHUNK = 4 << 20
SMALL_SIZE = 4096
LOGIN_TIMEOUT = 10.0
BIG_NAME = "big.bin"
SMALL_DIR = "small"
UPLOAD_DIR = "up"
LIST_DIR = "list"


# ---------------------------------------------------------------- data set

def prepare(root, big_mib, small_count, list_count):
    """Creates the files every server serves. Idempotent: files of the right
    size are kept, so a rerun does not rewrite a gigabyte."""
    os.makedirs(root, exist_ok=True)
    block = os.urandom(1 << 20)  # incompressible, repeated to the wanted size
    big = os.path.join(root, BIG_NAME)
    if not (os.path.exists(big) and os.path.getsize(big) == big_mib << 20):
        with open(big, "wb") as f:
            for _ in range(big_mib):
                f.write(block)
    for name, count, size in ((SMALL_DIR, small_count, SMALL_SIZE), (LIST_DIR, list_count, 0)):
        folder = os.path.join(root, name)
        os.makedirs(folder, exist_ok=True)
        payload = block[:size]
        for i in range(count):
            path = os.path.join(folder, "f%05d" % i)
            if not (os.path.exists(path) and os.path.getsize(path) == size):
                with open(path, "wb") as f:
                    f.write(payload)
    os.makedirs(os.path.join(root, UPLOAD_DIR), exist_ok=True)


# ---------------------------------------------------------------- helpers

def connect(port, user, password):
    ftp = ftplib.FTP(timeout=SOCKET_TIMEOUT)
    ftp.connect(HOST, port)
    ftp.login(user, password)
    return ftp


def read_all(conn, buf):
    """Reads a data connection to its end; returns the byte count."""
    view = memoryview(buf)
    total = 0
    while True:
        n = conn.recv_into(view)
        if n == 0:
            return total
        total += n


def timed(fn, repeats):
    """Runs fn `repeats` times; returns the list of durations in seconds."""
    out = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        out.append(time.perf_counter() - t0)
    return out


class Failure(Exception):
    pass


class CpuMark:
    """Server CPU time sampled while the measuring session is still open:
    vsftpd's per-session processes are not waited for, so their CPU time
    vanishes from the process tree once they end."""

    def __init__(self, pid):
        self.pid = pid
        self.value = None

    def take(self):
        self.value = tree_cpu_seconds(self.pid)


# ---------------------------------------------------------------- throughput

def measure_download(args):
    ftp = connect(args.port, args.user, args.password)
    ftp.voidcmd("TYPE I")
    size = os.path.getsize(os.path.join(args.root, BIG_NAME))
    buf = bytearray(RECV_CHUNK)

    def once():
        conn = ftp.transfercmd("RETR " + BIG_NAME)
        got = read_all(conn, buf)
        conn.close()
        ftp.voidresp()
        if got != size:
            raise Failure("download returned %d bytes, expected %d" % (got, size))

    times = timed(once, args.repeats)
    args.cpu_mark.take()
    ftp.quit()
    return size / min(times), times


def measure_upload(args):
    ftp = connect(args.port, args.user, args.password)
    ftp.voidcmd("TYPE I")
    source = os.path.join(args.root, BIG_NAME)
    size = os.path.getsize(source)
    target = UPLOAD_DIR + "/big_up.bin"
    target_disk = os.path.join(args.root, target)

    def once():
        conn = ftp.transfercmd("STOR " + target)
        with open(source, "rb") as f:
            conn.sendfile(f)
        conn.close()
        ftp.voidresp()
        stored = os.path.getsize(target_disk)
        if stored != size:
            raise Failure("upload stored %d bytes, expected %d" % (stored, size))

    times = timed(once, args.repeats)
    args.cpu_mark.take()
    ftp.delete(target)
    ftp.quit()
    return size / min(times), times


# ---------------------------------------------------------------- small files

def _noop_probe(port, user, password, stop, queue):
    """A second session that sends NOOP every few milliseconds until `stop`
    is set (bounded in count and time); puts the round trips in seconds."""
    ftp = connect(port, user, password)
    rtts = []
    deadline = time.monotonic() + 300
    while not stop.is_set() and len(rtts) < 100000 and time.monotonic() < deadline:
        t0 = time.perf_counter()
        ftp.voidcmd("NOOP")
        rtts.append(time.perf_counter() - t0)
        time.sleep(0.005)
    ftp.quit()
    queue.put(rtts)


def _percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))] if ordered else 0.0


@contextlib.contextmanager
def noop_probe_beside(port, user, password):
    """A second session measuring NOOP round trips while the block runs; the
    list it gives holds them (seconds) once the block has ended."""
    ctx = multiprocessing.get_context("fork")
    stop, queue = ctx.Event(), ctx.Queue()
    probe = ctx.Process(target=_noop_probe, args=(port, user, password, stop, queue))
    probe.start()
    rtts = []
    try:
        yield rtts
    finally:
        stop.set()
        rtts.extend(queue.get(timeout=60))
        probe.join(timeout=10)
        if probe.is_alive():
            probe.terminate()


def measure_small_files(args):
    """Uploads then downloads `small` files of 4 KiB over one session while a
    second session measures NOOP round trips; returns (uploads/s,
    downloads/s, NOOP p99 seconds)."""
    with noop_probe_beside(args.port, args.user, args.password) as rtts:
        up, down = _small_files_one_session(args)
    return up, down, _percentile(rtts, 0.99)


def _small_files_one_session(args):
    count = args.small
    ftp = connect(args.port, args.user, args.password)
    ftp.voidcmd("TYPE I")
    payload = os.urandom(SMALL_SIZE)
    buf = bytearray(64 << 10)

    client0 = _own_cpu_seconds()
    t0 = time.perf_counter()
    for i in range(count):
        conn = ftp.transfercmd("STOR %s/u%05d" % (UPLOAD_DIR, i))
        conn.sendall(payload)
        conn.close()
        ftp.voidresp()
    up = count / (time.perf_counter() - t0)

    down = count / download_small(ftp, count, buf)
    args.cpu_mark.take()
    args.client_cpu_s = _own_cpu_seconds() - client0
    ftp.quit()

    for i in range(min(count, 3)):  # spot-check what was stored
        if os.path.getsize(os.path.join(args.root, UPLOAD_DIR, "u%05d" % i)) != SMALL_SIZE:
            raise Failure("small upload stored a wrong size")
    return up, down


def _own_cpu_seconds():
    """CPU time of this client process (user and system): one session's
    commands and data go back and forth, so the client's time adds to the
    server's in every file's round trip."""
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def download_small(ftp, count, buf):
    """RETRs the first `count` small files, each on its own data connection; the seconds taken."""
    t0 = time.perf_counter()
    for i in range(count):
        conn = ftp.transfercmd("RETR %s/f%05d" % (SMALL_DIR, i))
        got = read_all(conn, buf)
        conn.close()
        ftp.voidresp()
        if got != SMALL_SIZE:
            raise Failure("small download returned %d bytes" % got)
    return time.perf_counter() - t0


def _download_worker(port, user, password, count, start_at, queue):
    """One session downloading the small files; puts (files, seconds)."""
    ftp = connect(port, user, password)
    ftp.voidcmd("TYPE I")
    buf = bytearray(64 << 10)
    time.sleep(max(0.0, start_at - time.time()))
    elapsed = download_small(ftp, count, buf)
    ftp.quit()
    queue.put((count, elapsed))


def parallel_downloads(ports, user, password, count):
    """One session per entry of `ports` (a port may repeat), all downloading
    `count` small files at the same time; total files per second, from the
    common start to the last session's end."""
    ctx = multiprocessing.get_context("fork")
    queue = ctx.Queue()
    start_at = time.time() + 0.5
    procs = [ctx.Process(target=_download_worker,
                         args=(port, user, password, count, start_at, queue)) for port in ports]
    for p in procs:
        p.start()
    results = []
    try:
        for _ in procs:
            results.append(queue.get(timeout=count + 60))
    finally:
        for p in procs:
            p.join(timeout=10)
            if p.is_alive():
                p.terminate()
    return sum(r[0] for r in results) / max(r[1] for r in results)


def measure_small_parallel(args):
    return parallel_downloads([args.port] * args.sessions, args.user, args.password, args.small)


# ---------------------------------------------------------------- LIST

def measure_listing(args, command):
    """`command` (LIST, NLST or MLSD) of the large folder read to its end;
    returns (median seconds, lines)."""
    ftp = connect(args.port, args.user, args.password)
    ftp.voidcmd("TYPE A")
    ftp.cwd(LIST_DIR)
    buf = bytearray(1 << 20)
    lines = []

    def once():
        conn = ftp.transfercmd(command)
        chunks = []
        view = memoryview(buf)
        while True:
            n = conn.recv_into(view)
            if n == 0:
                break
            chunks.append(bytes(view[:n]))
        conn.close()
        ftp.voidresp()
        lines.append(b"".join(chunks).count(b"\n"))

    times = timed(once, args.repeats_list)
    ftp.quit()
    entries = max(lines)
    if entries < args.list:
        raise Failure("%s returned %d lines for %d entries" % (command, entries, args.list))
    return statistics.median(times), entries


# ---------------------------------------------------------------- logins

async def _read_reply(reader):
    line = await reader.readline()
    if len(line) < 4:
        raise ConnectionError("short reply")
    code = line[:3]
    if line[3:4] == b"-":
        for _ in range(100):  # bounded multi-line reply
            line = await reader.readline()
            if not line:
                raise ConnectionError("eof in reply")
            if line[:3] == code and line[3:4] == b" ":
                break
    return int(code)


async def _login_once(port, user, password):
    reader, writer = await asyncio.open_connection(HOST, port)
    try:
        if await _read_reply(reader) != 220:
            return False
        writer.write(b"USER %s\r\n" % user.encode())
        if await _read_reply(reader) != 331:
            return False
        writer.write(b"PASS %s\r\n" % password.encode())
        ok = await _read_reply(reader) == 230
        writer.write(b"QUIT\r\n")
        await _read_reply(reader)
        # Let the server close first so the client side keeps no TIME_WAIT.
        await asyncio.wait_for(reader.read(), 5)
        return ok
    finally:
        writer.close()


async def _login_worker(port, user, password, deadline, max_count, counts):
    """counts: [logins finished inside the window, failed, finished late]."""
    for _ in range(max_count):
        if time.monotonic() >= deadline:
            break
        try:
            ok = await asyncio.wait_for(_login_once(port, user, password), LOGIN_TIMEOUT)
        except (OSError, asyncio.TimeoutError, ConnectionError, ValueError):
            ok = False
        if not ok:
            counts[1] += 1
        elif time.monotonic() <= deadline:
            counts[0] += 1
        else:
            counts[2] += 1


def _login_process(port, user, password, clients, start_at, seconds, max_count, queue):
    async def run():
        await asyncio.sleep(max(0.0, start_at - time.time()))
        deadline = time.monotonic() + seconds
        per_client = max(1, max_count // clients)
        # Each client keeps its own counts; they are summed afterwards.
        client_counts = [[0, 0, 0] for _ in range(clients)]
        await asyncio.gather(*[
            _login_worker(port, user, password, deadline, per_client, c) for c in client_counts
        ])
        return [sum(c[i] for c in client_counts) for i in range(3)]

    queue.put(asyncio.run(run()))


def measure_logins(args):
    """Logins per second with `concurrency` clients spread over several
    processes, each client logging in and out repeatedly."""
    procs_n = max(1, min(args.login_procs, args.concurrency))
    per_proc = [args.concurrency // procs_n + (1 if i < args.concurrency % procs_n else 0)
                for i in range(procs_n)]
    ctx = multiprocessing.get_context("fork")
    queue = ctx.Queue()
    start_at = time.time() + 0.5  # all processes start together
    procs = [ctx.Process(target=_login_process,
                         args=(args.port, args.user, args.password, n, start_at,
                               args.login_seconds, args.login_max // procs_n, queue))
             for n in per_proc]
    for p in procs:
        p.start()
    results = []
    try:
        for _ in procs:
            results.append(queue.get(timeout=args.login_seconds + 60))
    finally:
        for p in procs:
            p.join(timeout=10)
            if p.is_alive():
                p.terminate()
    ok, failed, late = (sum(r[i] for r in results) for i in range(3))
    if ok == 0:
        raise Failure("no login succeeded (%d failed)" % failed)
    # Only logins completed inside the window count, so a straggler that
    # waits for its timeout does not stretch the measured time.
    return ok / args.login_seconds, ok, failed, late


# ---------------------------------------------------------------- NOOP under login load

def _noop_process(port, user, password, start_at, seconds, queue):
    """One logged-in session sending NOOPs back to back from `start_at` for
    `seconds` (bounded in count); puts the round trips in milliseconds."""
    rtts = []
    try:
        ftp = connect(port, user, password)
        time.sleep(max(0.0, start_at - time.time()))
        deadline = time.monotonic() + seconds
        for _ in range(200000):
            if time.monotonic() >= deadline:
                break
            t = time.perf_counter()
            ftp.voidcmd("NOOP")
            rtts.append((time.perf_counter() - t) * 1000)
            time.sleep(0.002)  # a user's pace, not a second flood
        ftp.quit()
    except (OSError, ftplib.Error, EOFError) as e:
        queue.put(("error", str(e)))
        return
    queue.put(("ok", rtts))


def measure_busy_noop(args):
    """The login rate of `measure_logins` together with the NOOP round trip
    (median and 99th percentile) of a second session served meanwhile."""
    ctx = multiprocessing.get_context("fork")
    queue = ctx.Queue()
    # The login processes start 0.5 s after measure_logins is called.
    prober = ctx.Process(target=_noop_process, args=(args.port, args.user, args.password,
                                                     time.time() + 0.6, args.login_seconds, queue))
    prober.start()
    try:
        logins = measure_logins(args)
        kind, rtts = queue.get(timeout=args.login_seconds + 60)
    finally:
        prober.join(timeout=10)
        if prober.is_alive():
            prober.terminate()
    if kind != "ok" or not rtts:
        raise Failure("NOOP session: %s" % (rtts or "no round trip"))
    rtts.sort()
    p99 = rtts[min(len(rtts) - 1, int(0.99 * len(rtts)))]
    return logins[0], statistics.median(rtts), p99, len(rtts)


# ---------------------------------------------------------------- memory

def measure_idle_memory(args, open_session=None, errors=(OSError, ftplib.Error, EOFError)):
    """RSS growth of the server (all its processes) per idle logged-in
    session; `open_session(port, user, password)` logs one in (plain FTP
    unless given)."""
    open_session = open_session or connect
    open_session(args.port, args.user, args.password).quit()  # one-time set-up costs
    time.sleep(0.5)
    before = tree_rss_kib(args.server_pid)
    sessions = []
    try:
        for _ in range(args.idle):
            sessions.append(open_session(args.port, args.user, args.password))
        time.sleep(1.0)
        after = tree_rss_kib(args.server_pid)
    finally:
        for s in sessions:
            try:
                s.quit()
            except errors:
                s.close()
    return (after - before) / args.idle, before, after


# ---------------------------------------------------------------- driver

def measure(args):
    result = {"server": args.name, "port": args.port,
              "big_bytes": os.path.getsize(os.path.join(args.root, BIG_NAME)),
              "small_count": args.small, "list_entries": args.list,
              "idle_sessions": args.idle, "concurrency": args.concurrency,
              "sessions": args.sessions}
    # Memory first: on a fresh server, before the other measurements have
    # grown (and freed) its heap, which new sessions would then reuse.
    steps = [
        ("idle", lambda: measure_idle_memory(args)),
        ("download", lambda: measure_download(args)),
        ("upload", lambda: measure_upload(args)),
        ("small", lambda: measure_small_files(args)),
        ("parallel", lambda: measure_small_parallel(args)),
        ("list", lambda: measure_listing(args, "LIST")),
        ("nlst", lambda: measure_listing(args, "NLST")),
        ("mlsd", lambda: measure_listing(args, "MLSD")),
        ("logins", lambda: measure_logins(args)),
        ("busy_noop", lambda: measure_busy_noop(args)),
    ]
    for key, fn in steps:
        if args.only and key not in args.only.split(","):
            continue
        time.sleep(0.3)  # sessions of the step before have ended
        t0 = time.perf_counter()
        args.cpu_mark = CpuMark(args.server_pid)
        cpu0 = tree_cpu_seconds(args.server_pid)
        try:
            value = fn()
        except (OSError, ftplib.Error, EOFError, Failure, asyncio.TimeoutError) as e:
            print("  %-9s FAILED: %s" % (key, e), flush=True)
            result[key + "_error"] = str(e)
            continue
        cpu_end = args.cpu_mark.value
        cpu = (cpu_end if cpu_end is not None else tree_cpu_seconds(args.server_pid)) - cpu0
        if key in ("download", "upload"):
            result[key + "_Bps"] = value[0]
            result[key + "_cpu_per_gib"] = cpu / (len(value[1]) * result["big_bytes"] / GIB)
        elif key == "small":
            result["small_up_fps"], result["small_down_fps"], result["noop_p99_s"] = value
            result["small_cpu_us"] = cpu / (2 * args.small) * 1e6
            result["small_client_cpu_us"] = args.client_cpu_s / (2 * args.small) * 1e6
        elif key == "parallel":
            result["parallel_fps"] = value
            result["parallel_cpu_us"] = cpu / (args.sessions * args.small) * 1e6
        elif key in ("list", "nlst", "mlsd"):
            result[key + "_s"], result[key + "_lines"] = value
        elif key == "logins":
            (result["logins_ps"], result["logins_ok"], result["logins_failed"],
             result["logins_late"]) = value
        elif key == "busy_noop":
            (result["busy_logins_ps"], result["noop_median_ms"], result["noop_p99_ms"],
             result["noop_count"]) = value
        elif key == "idle":
            result["idle_kib"], result["idle_rss_before_kib"], result["idle_rss_after_kib"] = value
        print("  %-9s %s  (%.1f s)" % (key, _short(value), time.perf_counter() - t0), flush=True)
    with open(args.json, "w") as f:
        json.dump(result, f, indent=1)


def _short(value):
    return ", ".join("%.4g" % v if isinstance(v, float) else str(v) for v in
                     (value if isinstance(value, tuple) else (value,))
                     if not isinstance(v, list))


# ---------------------------------------------------------------- main

def add_measure_parser(sub):
    """The "measure" subcommand with the arguments that name the server (also FTPS's)."""
    m = sub.add_parser("measure")
    m.add_argument("--name", required=True)
    m.add_argument("--port", type=int, required=True)
    m.add_argument("--user", required=True)
    m.add_argument("--password", required=True)
    m.add_argument("--root", required=True, help="the server's root folder on disk")
    m.add_argument("--server-pid", type=int, required=True)
    m.add_argument("--json", required=True)
    return m


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)

    p = sub.add_parser("prepare")
    p.add_argument("root")
    p.add_argument("--big-mib", type=int, default=1024)
    p.add_argument("--small", type=int, default=2000)
    p.add_argument("--list", type=int, default=10000)

    m = add_measure_parser(sub)
    m.add_argument("--repeats", type=int, default=3)
    m.add_argument("--repeats-list", type=int, default=5)
    m.add_argument("--small", type=int, default=2000)
    m.add_argument("--list", type=int, default=10000)
    m.add_argument("--concurrency", type=int, default=100)
    m.add_argument("--login-procs", type=int, default=4)
    m.add_argument("--login-seconds", type=float, default=4.0)
    m.add_argument("--login-max", type=int, default=200000)
    m.add_argument("--idle", type=int, default=100)
    m.add_argument("--sessions", type=int, default=4, help="sessions of the side-by-side row")
    m.add_argument("--only", default="", help="comma-separated subset of measurements")

    q = sub.add_parser("parallel", help="small-file downloads, one session per port given")
    q.add_argument("--ports", required=True, help="comma-separated; a port may repeat")
    q.add_argument("--user", required=True)
    q.add_argument("--password", required=True)
    q.add_argument("--small", type=int, default=2000)

    t = sub.add_parser("table")
    t.add_argument("--ours", default="kestrova")
    t.add_argument("json", nargs="+")

    args = ap.parse_args()
    if args.cmd == "prepare":
        prepare(args.root, args.big_mib, args.small, args.list)
    elif args.cmd == "measure":
        measure(args)
    elif args.cmd == "parallel":
        ports = [int(p) for p in args.ports.split(",")]
        print("%.0f files/s" % parallel_downloads(ports, args.user, args.password, args.small))
    else:
        table(args.json, args.ours)


if __name__ == "__main__":
    sys.exit(main())
