#!/usr/bin/env python3
"""FTPS benchmark client used by `bench/run --ftps`.

Every session starts with AUTH TLS and uses PROT P; every data connection
resumes the TLS session of its own control connection (as curl and lftp do,
and as vsftpd with require_ssl_reuse and our engine by default require).

Subcommands:
  measure ...       run every FTPS measurement against one server on
                    127.0.0.1 and write the numbers as JSON
  table JSON...     print the comparison table from those JSON files

The data set is the plain benchmark's (ftpbench.py prepare). Only 127.0.0.1
is ever contacted. Every loop is bounded in count and time.
"""

import argparse
import asyncio
import ftplib
import json
import multiprocessing
import os
import ssl
import statistics
import sys
import time

import benchtable
import ftpbench as plain
from proctree import tree_cpu_seconds, tree_rss_kib
from ftpsclient import CONTEXT, close_data, connect, download_once, end_upload

HOST = plain.HOST
CHUNK = 4 << 20
MIB = float(1 << 20)


# ---------------------------------------------------------------- throughput

def measure_download(args):
    f = connect(args.port, args.user, args.password)
    f.voidcmd("TYPE I")
    size = os.path.getsize(os.path.join(args.root, plain.BIG_NAME))
    buf = bytearray(CHUNK)
    times = plain.timed(lambda: download_once(f, size, buf), args.repeats)
    args.cpu_mark.take()
    args.result["cipher"] = "%s %s" % (f.sock.version(), f.sock.cipher()[0])
    f.quit()
    return size / min(times), times


def measure_upload(args):
    f = connect(args.port, args.user, args.password)
    f.voidcmd("TYPE I")
    source = os.path.join(args.root, plain.BIG_NAME)
    size = os.path.getsize(source)
    target = plain.UPLOAD_DIR + "/big_up.bin"
    buf = bytearray(CHUNK)
    view = memoryview(buf)

    def once():
        conn = f.transfercmd("STOR " + target)
        with open(source, "rb") as src:
            for _ in range(size // CHUNK + 2):
                n = src.readinto(buf)
                if not n:
                    break
                conn.sendall(view[:n])
        end_upload(conn)
        f.voidresp()
        stored = os.path.getsize(os.path.join(args.root, target))
        if stored != size:
            raise plain.Failure("upload stored %d bytes, expected %d" % (stored, size))

    times = plain.timed(once, args.repeats)
    args.cpu_mark.take()
    f.delete(target)
    f.quit()
    return size / min(times), times


def measure_small_files(args):
    """`small` uploads then downloads of 4 KiB in one session, each over its
    own PASV data connection with a resumed handshake."""
    count = args.small
    f = connect(args.port, args.user, args.password)
    f.voidcmd("TYPE I")
    payload = os.urandom(plain.SMALL_SIZE)
    buf = bytearray(64 << 10)

    t0 = time.perf_counter()
    for i in range(count):
        conn = f.transfercmd("STOR %s/u%05d" % (plain.UPLOAD_DIR, i))
        conn.sendall(payload)
        end_upload(conn)
        f.voidresp()
    up = count / (time.perf_counter() - t0)

    t0 = time.perf_counter()
    for i in range(count):
        conn = f.transfercmd("RETR %s/f%05d" % (plain.SMALL_DIR, i))
        got = plain.read_all(conn, buf)
        close_data(conn)
        f.voidresp()
        if got != plain.SMALL_SIZE:
            raise plain.Failure("small download returned %d bytes" % got)
    down = count / (time.perf_counter() - t0)
    args.cpu_mark.take()
    args.result["small_resumed"] = "%d of %d" % (f.resumed, f.handshakes)
    f.quit()
    for i in range(min(count, 3)):
        if os.path.getsize(os.path.join(args.root, plain.UPLOAD_DIR, "u%05d" % i)) != plain.SMALL_SIZE:
            raise plain.Failure("small upload stored a wrong size")
    return up, down


# ---------------------------------------------------------------- logins

async def _login_once(port, user, password):
    reader, writer = await asyncio.open_connection(HOST, port)
    try:
        if await plain._read_reply(reader) != 220:
            return False
        writer.write(b"AUTH TLS\r\n")
        if await plain._read_reply(reader) != 234:
            return False
        await writer.start_tls(CONTEXT)
        writer.write(b"USER %s\r\n" % user.encode())
        if await plain._read_reply(reader) != 331:
            return False
        writer.write(b"PASS %s\r\n" % password.encode())
        ok = await plain._read_reply(reader) == 230
        writer.write(b"QUIT\r\n")
        await plain._read_reply(reader)
        # The server closes first, so the client side keeps no TIME_WAIT.
        try:
            await asyncio.wait_for(reader.read(), 5)
        except (ssl.SSLError, ConnectionError):
            pass
        return ok
    finally:
        writer.close()


def measure_logins(args):
    """Logins per second over AUTH TLS: the plain measurement (clients,
    processes, time window, counting) with each login made over TLS."""
    plain._login_once = _login_once  # read by the plain workers, also after fork
    return plain.measure_logins(args)


# ---------------------------------------------------------------- memory

def measure_idle_memory(args):
    """RSS growth of the server (all its processes) per idle session that
    is logged in over TLS with PROT P set."""
    return plain.measure_idle_memory(args, connect, (OSError, ftplib.Error, EOFError, ssl.SSLError))


# ---------------------------------------------------------------- NOOP latency

def _download_loop(args, size, seconds, started, queue):
    """Downloads the big file over and over for `seconds` (at most 50
    times); reports the bytes moved and the time taken."""
    moved, t0 = 0, time.perf_counter()
    try:
        f = connect(args.port, args.user, args.password)
        f.voidcmd("TYPE I")
        buf = bytearray(CHUNK)
        started.release()
        for _ in range(50):
            download_once(f, size, buf)
            moved += size
            if time.perf_counter() - t0 >= seconds:
                break
        f.quit()
        queue.put((moved, time.perf_counter() - t0, ""))
    except (OSError, ftplib.Error, EOFError, plain.Failure) as e:
        started.release()
        queue.put((moved, time.perf_counter() - t0, str(e)))


def measure_noop(args):
    """NOOP round trips on one session while two others download the big
    file under PROT P: (p99 ms, median ms, samples, MiB/s of the two)."""
    size = os.path.getsize(os.path.join(args.root, plain.BIG_NAME))
    f = connect(args.port, args.user, args.password)
    ctx = multiprocessing.get_context("fork")
    started, queue = ctx.Semaphore(0), ctx.Queue()
    procs = [ctx.Process(target=_download_loop,
                         args=(args, size, args.noop_seconds, started, queue)) for _ in range(2)]
    for p in procs:
        p.start()
    rtts, done, results = [], 0, []
    try:
        for _ in procs:
            started.acquire(timeout=30)
        time.sleep(0.2)  # both transfers are under way
        deadline = time.monotonic() + args.noop_seconds + 120
        for _ in range(100000):
            t0 = time.perf_counter()
            f.voidcmd("NOOP")
            rtts.append(time.perf_counter() - t0)
            while not queue.empty():
                results.append(queue.get())
            if len(results) >= len(procs) or time.monotonic() > deadline:
                break
            time.sleep(0.002)
        for _ in range(len(procs) - len(results)):
            results.append(queue.get(timeout=120))
    finally:
        for p in procs:
            p.join(timeout=10)
            if p.is_alive():
                p.terminate()
    f.quit()
    errors = [r[2] for r in results if r[2]]
    if errors:
        raise plain.Failure("download during NOOP: " + errors[0])
    if len(rtts) < 20:
        raise plain.Failure("only %d NOOP samples" % len(rtts))
    rtts.sort()
    p99 = rtts[min(len(rtts) - 1, int(len(rtts) * 0.99))]
    rate = sum(r[0] for r in results) / max(r[1] for r in results)
    return p99 * 1e3, statistics.median(rtts) * 1e3, len(rtts), rate / MIB


# ---------------------------------------------------------------- driver

# Where each measurement's values go in the JSON.
RESULT_KEYS = {
    "idle": ("idle_kib", "idle_rss_before_kib", "idle_rss_after_kib"),
    "download": ("download_Bps",),
    "upload": ("upload_Bps",),
    "small": ("small_up_fps", "small_down_fps"),
    "logins": ("logins_ps", "logins_ok", "logins_failed", "logins_late"),
    "noop": ("noop_p99_ms", "noop_p50_ms", "noop_samples", "noop_download_MiBps"),
}

def measure(args):
    result = {"server": args.name, "port": args.port,
              "big_bytes": os.path.getsize(os.path.join(args.root, plain.BIG_NAME)),
              "small_count": args.small, "idle_sessions": args.idle,
              "concurrency": args.concurrency, "list_entries": 0}
    args.result = result
    steps = [
        ("idle", lambda: measure_idle_memory(args)),  # first, on a fresh heap
        ("download", lambda: measure_download(args)),
        ("upload", lambda: measure_upload(args)),
        ("small", lambda: measure_small_files(args)),
        ("logins", lambda: measure_logins(args)),
        ("noop", lambda: measure_noop(args)),
    ]
    for key, fn in steps:
        if args.only and key not in args.only.split(","):
            continue
        time.sleep(0.3)
        t0 = time.perf_counter()
        args.cpu_mark = plain.CpuMark(args.server_pid)
        cpu0 = tree_cpu_seconds(args.server_pid)
        try:
            value = fn()
        except (OSError, ftplib.Error, EOFError, plain.Failure, asyncio.TimeoutError) as e:
            print("  %-9s FAILED: %s" % (key, e), flush=True)
            result[key + "_error"] = str(e)
            continue
        cpu_end = args.cpu_mark.value
        cpu = (cpu_end if cpu_end is not None else tree_cpu_seconds(args.server_pid)) - cpu0
        result.update(zip(RESULT_KEYS[key], value))
        if key in ("download", "upload"):
            result[key + "_cpu_per_gib"] = cpu / (len(value[1]) * result["big_bytes"] / benchtable.GIB)
        elif key == "small":
            result["small_cpu_us"] = cpu / (2 * args.small) * 1e6
        print("  %-9s %s  (%.1f s)" % (key, plain._short(value), time.perf_counter() - t0),
              flush=True)
    with open(args.json, "w") as out:
        json.dump(result, out, indent=1)


# ---------------------------------------------------------------- table

# key, label, unit text, scale, higher is better (the plain table's layout)
ROWS = [
    ("download_Bps", "Download {big}, PROT P", "MiB/s", 1 / MIB, True),
    ("upload_Bps", "Upload {big}, PROT P", "MiB/s", 1 / MIB, True),
    ("small_up_fps", "{small} files of 4 KiB up, PROT P, one session", "files/s", 1, True),
    ("small_down_fps", "{small} files of 4 KiB down, PROT P, one session", "files/s", 1, True),
    ("logins_ps", "Logins over AUTH TLS, {conc} concurrent clients", "logins/s", 1, True),
    ("idle_kib", "RSS per idle TLS session ({idle} open)", "KiB", 1, False),
    ("noop_p99_ms", "NOOP p99 during two PROT P downloads", "ms", 1, False),
    ("noop_p50_ms", "NOOP median during two PROT P downloads", "ms", 1, False),
    ("noop_download_MiBps", "The two downloads together", "MiB/s", 1, True),
    *benchtable.CPU_ROWS,
]


def _targets(ours, peers):
    """Checks our numbers against the goals for the protected path."""
    checks = []
    for key, label in (("download_Bps", "download"), ("upload_Bps", "upload"),
                       ("small_up_fps", "small files up"), ("small_down_fps", "small files down"),
                       ("logins_ps", "logins")):
        vals = [p[key] for p in peers if key in p]
        if vals and key in ours:
            checks.append(("%s >= 1.0x best peer" % label, ours[key] >= max(vals)))
    if "noop_p99_ms" in ours:
        checks.append(("NOOP p99 under 50 ms", ours["noop_p99_ms"] < 50))
    print()
    for text, ok in checks:
        print("  %-4s %s" % ("ok" if ok else "MISS", text))


def table(paths, ours_name):
    benchtable.table(paths, ours_name, ROWS, _targets)
    print()
    for p in paths:
        with open(p) as f:
            r = json.load(f)
        print("  %s (%s): %s; data connections resumed: %s" % (
            r["server"], os.path.basename(p), r.get("cipher", "?"), r.get("small_resumed", "?")))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    m = plain.add_measure_parser(sub)
    for name, default in (("repeats", 3), ("small", 2000), ("concurrency", 100),
                          ("login-procs", 4), ("login-seconds", 4.0), ("login-max", 200000),
                          ("idle", 100), ("noop-seconds", 8.0)):
        m.add_argument("--" + name, type=type(default), default=default)
    m.add_argument("--only", default="", help="comma-separated subset of measurements")
    t = sub.add_parser("table")
    t.add_argument("--ours", default="kestrova")
    t.add_argument("json", nargs="+")
    args = ap.parse_args()
    if args.cmd == "measure":
        measure(args)
    else:
        table(args.json, args.ours)


if __name__ == "__main__":
    sys.exit(main())
