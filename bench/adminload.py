#!/usr/bin/env python3
"""What administration costs an FTP client: the NOOP round trip of one FTP
session while another session downloads small files over and over, first
alone, then while an administration client follows the log
(`kestrova log --follow --json`) and `kestrova who --json` runs ten times a
second. Prints p50/p99/max of each phase and exits 1 when the loaded p99
exceeds the budget (50 ms).

  bench/adminload.py [--build-dir build] [--seconds 15] [--budget-ms 50]

The server is the built program, headless, on a temporary data folder made
with its own command line, on a free port of 127.0.0.1. Only 127.0.0.1 is
contacted; every loop is bounded in count and time.
"""

import argparse
import ftplib
import io
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HOST = "127.0.0.1"
TIMEOUT = 10
MAX_SAMPLES = 100_000


def free_port():
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


class Program:
    def __init__(self, build, data):
        self.path = os.path.join(build, "program", "kestrova")
        self.data = data
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

    def run(self, *args, stdin=None):
        result = subprocess.run([self.path, *args, "--data-dir", self.data], input=stdin,
                                capture_output=True, timeout=TIMEOUT, env=self.env)
        if result.returncode != 0:
            raise RuntimeError(f"kestrova {' '.join(args)}: {result.stderr.decode()}")
        return result.stdout

    def popen(self, *args):
        return subprocess.Popen([self.path, *args, "--data-dir", self.data], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


def login(port):
    ftp = ftplib.FTP()
    ftp.connect(HOST, port, timeout=TIMEOUT)
    ftp.login("bench", "bench")
    return ftp


def downloads(port, stop):
    """The first session: small downloads back to back, so the log and who have something to say."""
    ftp = login(port)
    count = 0
    while not stop.is_set() and count < MAX_SAMPLES:
        ftp.retrbinary("RETR small.bin", io.BytesIO().write)
        count += 1
    ftp.quit()


def noop_times(port, seconds):
    """The second session: NOOP round trips for `seconds`, in milliseconds."""
    ftp = login(port)
    times = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and len(times) < MAX_SAMPLES:
        start = time.perf_counter()
        ftp.voidcmd("NOOP")
        times.append((time.perf_counter() - start) * 1000)
        time.sleep(0.002)
    ftp.quit()
    return times


def who_calls(program, stop, failures):
    calls = 0
    while not stop.is_set() and calls < MAX_SAMPLES:
        started = time.monotonic()
        try:
            program.run("who", "--json")
        except (RuntimeError, subprocess.TimeoutExpired) as error:
            failures.append(str(error))
        calls += 1
        stop.wait(max(0.0, 0.1 - (time.monotonic() - started)))
    return calls


def summary(name, times):
    ordered = sorted(times)
    p99 = ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]
    print(f"{name:<34} {len(times):>6} NOOP  p50 {statistics.median(times):6.2f} ms  "
          f"p99 {p99:6.2f} ms  max {ordered[-1]:6.2f} ms")
    return p99


def phase(port, seconds, program=None):
    stop = threading.Event()
    workers = [threading.Thread(target=downloads, args=(port, stop))]
    follower, failures, calls, followed = None, [], [], [0]
    if program:
        follower = program.popen("log", "--follow", "--json")

        def drain():
            for _ in follower.stdout:
                followed[0] += 1

        threading.Thread(target=drain, daemon=True).start()
        workers.append(threading.Thread(target=lambda: calls.append(who_calls(program, stop, failures))))
    for w in workers:
        w.start()
    try:
        times = noop_times(port, seconds)
    finally:
        stop.set()
        for w in workers:
            w.join(TIMEOUT)
        if follower:
            follower.terminate()
            follower.wait(TIMEOUT)
    if failures:
        raise RuntimeError(f"{len(failures)} who calls failed, first: {failures[0]}")
    return times, (calls[0] if calls else 0), followed[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--seconds", type=float, default=15)
    parser.add_argument("--budget-ms", type=float, default=50)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="kv-adminload-") as tmp:
        data, root = os.path.join(tmp, "data"), os.path.join(tmp, "root")
        os.mkdir(root)
        with open(os.path.join(root, "small.bin"), "wb") as f:
            f.write(os.urandom(4096))
        program = Program(args.build_dir, data)
        port = free_port()
        program.run("settings", "set", "ip", HOST)
        program.run("settings", "set", "port", str(port))
        program.run("settings", "set", "rootdir", root)
        program.run("user", "add", "bench", "--rights", "rb", stdin=b"bench\n")
        server = subprocess.Popen([program.path, "--headless", "--data-dir", data], env=program.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            for _ in range(200):
                try:
                    program.run("status")
                    break
                except RuntimeError:
                    if server.poll() is not None:
                        raise RuntimeError("server ended: " + server.stderr.read().decode())
                    time.sleep(0.05)
            alone, _, _ = phase(port, args.seconds)
            loaded, calls, followed = phase(port, args.seconds, program)
        finally:
            server.terminate()
            server.wait(TIMEOUT)
    print(f"server on {HOST}:{port}, {args.seconds:g} s per phase; the follower read {followed} lines")
    summary("downloads alongside", alone)
    p99 = summary(f"+ log --follow, who x{calls / args.seconds:.1f}/s", loaded)
    if p99 > args.budget_ms:
        print(f"p99 {p99:.2f} ms is over the budget of {args.budget_ms:g} ms")
        return 1
    print(f"p99 within the budget of {args.budget_ms:g} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
