#!/usr/bin/env python3
"""ACME renewals side by side: our server's renewal (asked through its local administration
socket) against lego, Debian's ACME client, renewing the same name from the same pebble CA on
loopback by http-01. Alternates the two, ROUNDS times each, and prints the medians and their
ratio. Meanwhile one FTP session sends NOOPs to our server: their round trips during our
renewals, against those while it is idle, show whether an order ever holds up the event loop.

    python3 bench/acmebench.py [--build-dir build] [--rounds 7]

Needs pebble (tools/setup installs it) and lego (apt-get install lego); no root."""

import argparse
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from kvharness import Control, Site, free_port  # noqa: E402
from pebbleharness import Pebble  # noqa: E402

DOMAIN = "kestrova.test"
ATTEMPT_TIMEOUT = 60


class Cleanups:
    """What the test harnesses expect of a test: cleanups run at the end, in reverse."""

    def __init__(self):
        self.cleanups = []

    def addCleanup(self, function, *args):  # noqa: N802 (the harnesses' name)
        self.cleanups.append((function, args))

    def run(self):
        for function, args in reversed(self.cleanups):
            try:
                function(*args)
            except Exception as error:  # a cleanup that fails must not stop the others
                print("cleanup:", error, file=sys.stderr)


class Channel:
    """The server's local administration socket: one JSON request per line."""

    def __init__(self, data):
        record = os.path.join(data, "kestrova.sock.path")
        path = open(record).read().strip() if os.path.exists(record) else os.path.join(data, "kestrova.sock")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(10)
        self.sock.connect(path)
        self.file = self.sock.makefile("rb")

    def ask(self, **request):
        self.sock.sendall(json.dumps(dict(request, v=1)).encode() + b"\n")
        while True:
            answer = json.loads(self.file.readline())
            if "event" not in answer:
                return answer


def our_renewal(channel):
    """Seconds from asking for a renewal to the new certificate in use."""
    before = channel.ask(op="acme")["acme"]
    start = time.monotonic()
    channel.ask(op="acme", renew=True)
    while time.monotonic() - start < ATTEMPT_TIMEOUT:
        state = channel.ask(op="acme")["acme"]
        if state["attempts"] > before["attempts"] and not state["working"]:
            if state["lastError"] or state["serial"] == before["serial"]:
                raise RuntimeError("renewal failed: " + state["lastError"])
            return time.monotonic() - start
        time.sleep(0.005)
    raise RuntimeError("renewal did not end")


def lego(pebble, http_port, folder, command):
    argv = ["lego", "--server", pebble.directory_url(), "--accept-tos", "--email", "admin@example.org",
            "--domains", DOMAIN, "--http", "--http.port", f"127.0.0.1:{http_port}", "--path", folder,
            "--key-type", "ec256", command]
    if command == "renew":
        argv += ["--days", "100000", "--no-random-sleep"]
    env = dict(os.environ, LEGO_CA_CERTIFICATES=pebble.tls_certificate())
    start = time.monotonic()
    done = subprocess.run(argv, capture_output=True, timeout=ATTEMPT_TIMEOUT, env=env)
    if done.returncode != 0:
        raise RuntimeError("lego failed: " + done.stderr.decode()[-2000:])
    return time.monotonic() - start


class NoopProbe(threading.Thread):
    """NOOP after NOOP on one logged-in session; each round trip is filed under the phase
    (`idle` or `renewal`) it started in."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.control = Control(port)
        assert self.control.command("USER bob").startswith("331")
        assert self.control.command("PASS x").startswith("230")
        self.phase = "idle"
        self.times = {"idle": [], "renewal": []}
        self.stopping = threading.Event()

    def run(self):
        while not self.stopping.is_set():
            phase = self.phase
            reply, took = self.control.timed("NOOP")
            if phase == self.phase and phase in self.times:
                self.times[phase].append(took)
            time.sleep(0.002)


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * share))] if ordered else float("nan")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    os.environ["KV_BUILD_DIR"] = os.path.abspath(args.build_dir)
    if not shutil.which("lego"):
        sys.exit("lego is not installed (apt-get install lego)")
    cleanups = Cleanups()
    try:
        http_port = free_port()
        pebble = Pebble(cleanups, http_port, free_port())
        site = Site(cleanups)
        site.db.add_user("bob", "x", rights="RWDBM")
        site.db.set_options(tls="on", acme="on", acme_domains=DOMAIN, acme_email="admin@example.org",
                            acme_directory=pebble.directory_url(), acme_ca_file=pebble.tls_certificate(),
                            acme_challenge="http-01", acme_http_port=http_port, acme_tls_port=free_port())
        site.start()
        channel = Channel(site.data)
        deadline = time.monotonic() + ATTEMPT_TIMEOUT
        while not channel.ask(op="acme")["acme"]["names"]:  # the first certificate, account included
            if time.monotonic() > deadline:
                raise RuntimeError("no first certificate")
            time.sleep(0.05)
        lego_folder = tempfile.mkdtemp(prefix="kv-bench-lego-")
        cleanups.addCleanup(shutil.rmtree, lego_folder, True)
        lego(pebble, http_port, lego_folder, "run")  # its account and first certificate

        probe = NoopProbe(site.port)
        probe.start()
        time.sleep(2)  # idle round trips first
        ours, theirs = [], []
        for _ in range(args.rounds):
            probe.phase = "renewal"
            ours.append(our_renewal(channel))
            probe.phase = "between"
            theirs.append(lego(pebble, http_port, lego_folder, "renew"))
            probe.phase = "idle"
            time.sleep(0.5)
        probe.stopping.set()
        probe.join(5)

        def ms(seconds):
            return f"{seconds * 1000:7.1f} ms"

        print(f"renewal by http-01 from pebble, {args.rounds} rounds, median (min-max):")
        print(f"  kestrova {ms(statistics.median(ours))} ({ms(min(ours))} - {ms(max(ours))})")
        print(f"  lego     {ms(statistics.median(theirs))} ({ms(min(theirs))} - {ms(max(theirs))})")
        print(f"  ratio kestrova/lego {statistics.median(ours) / statistics.median(theirs):.2f}x")
        for phase in ("idle", "renewal"):
            times = probe.times[phase]
            print(f"NOOP round trip {phase:8} n={len(times):5}  p50 {ms(percentile(times, 0.5))}  "
                  f"p99 {ms(percentile(times, 0.99))}  max {ms(max(times) if times else float('nan'))}")
    finally:
        cleanups.run()


if __name__ == "__main__":
    main()
