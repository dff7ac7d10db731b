#!/usr/bin/python3
"""The speed limits, measured: what they cost when none is set, and how close a 10 MiB/s limit
keeps a download to it.

    ratebench.py --build-dir DIR [--rounds N] [--quick] [--out FOLDER]

Cost: the benchmark engine (build/bench/driver/kv_bench_server) with its rate limiter over an
empty limits book, as the program runs it, against the same engine without one
(KV_BENCH_NO_LIMITER=1), taking turns, `ftpbench.py measure --only download,small` on a 512 MiB
file and 2,000 files of 4 KiB (best of the rounds per row).
Accuracy: the program itself headless (tests/e2e/kvharness.py starts it) with
`rate_down_kib` 10240, one 40 MiB download each over FTP (ftplib), FTPS (ftplib, PROT P, resumed
data sessions) and SFTP (paramiko, reading ahead); the average from the command to the last
byte, against the limit. Data on tmpfs; only 127.0.0.1 is contacted; every wait is bounded.
Run by `bench/run --rates`; the table goes to OUT/rates-results.md.
"""

import argparse
import ftplib
import io
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))

MIB = 1024 * 1024
LIMIT_KIB = 10 * 1024
ACCURACY_BYTES = 40 * MIB


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_engine(build, root, limiter, out, measure_args):
    """One measurement of the benchmark engine, with or without its limiter; the JSON result."""
    port = free_port()
    env = dict(os.environ, KV_BENCH_NO_LIMITER="0" if limiter else "1")
    log = open(os.path.join(out, "rates-engine.log"), "a")
    server = subprocess.Popen([os.path.join(build, "bench", "driver", "kv_bench_server"), root, str(port)],
                              stdout=subprocess.PIPE, stderr=log, env=env, start_new_session=True)
    try:
        if server.stdout.readline().strip() != b"READY":
            raise SystemExit("kv_bench_server did not start (see rates-engine.log)")
        name = "limiter" if limiter else "bare"
        result = os.path.join(out, f"rates-{name}.json")
        subprocess.run([sys.executable, os.path.join(HERE, "ftpbench.py"), "measure", "--name", name,
                        "--port", str(port), "--user", "bench", "--password", "bench", "--root", root,
                        "--server-pid", str(server.pid), "--json", result, "--only", "download,small",
                        *measure_args], check=True, timeout=900)
        with open(result) as f:
            return json.load(f)
    finally:
        os.killpg(server.pid, signal.SIGTERM)
        server.wait(30)


class Sink(io.RawIOBase):
    def __init__(self):
        self.count = 0

    def writable(self):
        return True

    def write(self, data):
        self.count += len(data)
        return len(data)


class ResumingFtps(ftplib.FTP_TLS):
    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        return conn, size


def accuracy():
    """Averages of one download per protocol under the 10 MiB/s limit, bytes per second."""
    from kvharness import Site
    from sftpharness import connect
    site = Site()
    try:
        site.db.add_user("bob", "secret", rights="RB")
        site.sparse("big.bin", ACCURACY_BYTES)
        site.sftp_port = free_port()
        site.db.set_options(rate_down_kib=LIMIT_KIB, tls="on", sftp_port=site.sftp_port)
        site.start()
        rows = {}

        def timed(name, action):
            began = time.monotonic()
            moved = action()
            took = time.monotonic() - began
            assert moved == ACCURACY_BYTES, (name, moved)
            rows[name] = moved / took

        ftp = site.ftp("bob", "secret")
        timed("FTP", lambda: ftp.retrbinary("RETR big.bin", (sink := Sink()).write, 256 * 1024) and sink.count)
        ftp.close()
        ftps = ResumingFtps(timeout=30, context=ssl._create_unverified_context())
        ftps.connect("127.0.0.1", site.port)
        ftps.login("bob", "secret")
        ftps.prot_p()
        timed("FTPS", lambda: ftps.retrbinary("RETR big.bin", (sink := Sink()).write, 256 * 1024)
              and sink.count)
        ftps.close()
        sftp = connect(site, "bob", "secret")
        timed("SFTP", lambda: sftp.getfo("/big.bin", Sink()))
        sftp.close()
        return rows
    finally:
        site.stop()
        site.cleanup()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--out", default=os.path.join(HERE, "out"))
    args = ap.parse_args()
    build = os.path.abspath(args.build_dir)
    os.makedirs(args.out, exist_ok=True)
    os.environ.setdefault("KV_BUILD_DIR", build)
    big_mib, small = (64, 200) if args.quick else (512, 2000)
    data = tempfile.mkdtemp(prefix="kvrates-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        root = os.path.join(data, "root")
        subprocess.run([sys.executable, os.path.join(HERE, "ftpbench.py"), "prepare", root, "--big-mib",
                        str(big_mib), "--small", str(small), "--list", "10"], check=True, timeout=600)
        best = {"bare": {}, "limiter": {}}
        for round_ in range(1, args.rounds + 1):
            # Taking turns at going first: neither profits from a quieter start.
            for limiter in ((False, True) if round_ % 2 else (True, False)):
                name = "limiter" if limiter else "bare"
                print(f"== {name}, round {round_} of {args.rounds}", flush=True)
                r = run_engine(build, root, limiter, args.out, ["--repeats", "3", "--small", str(small)])
                for key in ("download_Bps", "small_up_fps", "small_down_fps"):
                    if key in r:
                        best[name][key] = max(best[name].get(key, 0), r[key])
                for key in ("download_cpu_per_gib", "small_cpu_us"):
                    if key in r:
                        best[name][key] = min(best[name].get(key, 1e9), r[key])
        print("== accuracy of a 10 MiB/s limit (the program, headless)", flush=True)
        rates = accuracy()
    finally:
        shutil.rmtree(data, ignore_errors=True)
    lines = [f"Best of {args.rounds} rounds (CPU: least of the rounds).", "",
             "| Row | without a limiter | with it, no limit set | ratio |", "|---|---|---|---|"]
    for key, label, unit, scale in (("download_Bps", f"Download {big_mib} MiB", "MiB/s", MIB),
                                    ("small_up_fps", f"{small} small files up", "files/s", 1),
                                    ("small_down_fps", f"{small} small files down", "files/s", 1),
                                    ("download_cpu_per_gib", "Server CPU per GiB down", "s", 1),
                                    ("small_cpu_us", "Server CPU per small file", "µs", 1)):
        a, b = best["bare"].get(key), best["limiter"].get(key)
        if a and b:
            lines.append(f"| {label} | {a / scale:.1f} {unit} | {b / scale:.1f} {unit} | {b / a:.2f}x |")
    lines += ["", "| 40 MiB download, limit 10 MiB/s | average | share of the limit |", "|---|---|---|"]
    for name, rate in rates.items():
        lines.append(f"| {name} | {rate / MIB:.2f} MiB/s | {rate / (LIMIT_KIB * 1024):.3f} |")
    table = "\n".join(lines) + "\n"
    print(table)
    with open(os.path.join(args.out, "rates-results.md"), "w") as f:
        f.write(table)


if __name__ == "__main__":
    main()
