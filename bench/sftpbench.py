#!/usr/bin/python3
"""SFTP side by side: the real program headless (FTP and SFTP on 127.0.0.1)
and OpenSSH's sshd with its sftp-server, the same client for both (OpenSSH's
sftp in batch mode, one cipher), data on tmpfs.

    sudo /usr/bin/python3 bench/sftpbench.py [--quick] [--build-dir DIR]
        [--servers "kestrova openssh"] [--rounds N] [--keep-data] [--only ROW,...]

Rows: 1 GiB download and upload, 2,000 files of 4 KiB each way (one session),
RSS per idle logged-in SFTP session, and the NOOP round trip p99 of an FTP
session on our server while two SFTP downloads run. Every wait is bounded;
nothing but 127.0.0.1 is contacted; sshd runs from the data folder with its
own settings and is stopped by its PID. Needs root (sshd logs in root with a
key of its own, allowed by that sshd only) and /usr/bin/python3 with paramiko
(python3-paramiko)."""

import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from proctree import _process_tree, tree_cpu_seconds, tree_rss_kib  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
CIPHER = "aes128-gcm@openssh.com"
USER, PASSWORD = "bench", "bench"
SSH_OPTIONS = ["-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR",
               "-o", "ConnectTimeout=10", "-c", CIPHER, "-o", "Compression=no"]
CLIENT_TIMEOUT = 600


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, proc, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            return False
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def prepare(data, big_mib, small):
    root = os.path.join(data, "root")
    os.makedirs(os.path.join(root, "small"), exist_ok=True)
    big = os.path.join(root, "big.bin")
    if not os.path.exists(big) or os.path.getsize(big) != big_mib << 20:
        with open(big, "wb") as f:
            for _ in range(big_mib):
                f.write(os.urandom(1 << 20))
    for i in range(small):
        path = os.path.join(root, "small", "f%05d" % i)
        if not os.path.exists(path):
            with open(path, "wb") as f:
                f.write(os.urandom(4096))
    return root


class Server:
    """One server under test: how to start it, how the client logs in."""

    def __init__(self, name, data, root):
        self.name, self.data, self.root = name, data, root
        self.proc = None
        self.port = free_port()
        self.ftp_port = None
        self.cpu = self.login_cpu = 0.0

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(10)
        self.proc = None


class Kestrova(Server):
    def __init__(self, data, root, binary):
        super().__init__("kestrova", data, root)
        self.binary = binary
        self.folder = os.path.join(data, "kestrova")
        self.ftp_port = free_port()

    def admin(self, *argv, stdin=None):
        done = subprocess.run([self.binary, "--data-dir", self.folder, *argv], input=stdin,
                              capture_output=True, timeout=30, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        if done.returncode != 0:
            raise RuntimeError("kestrova %s: %s" % (" ".join(argv), done.stderr.decode(errors="replace")))

    def start(self):
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder, mode=0o700)
        self.admin("settings", "set", "ip", "127.0.0.1")
        self.admin("settings", "set", "port", str(self.ftp_port))
        self.admin("settings", "set", "rootdir", self.root)
        self.admin("settings", "set", "log", "0")
        self.admin("user", "add", USER, "--rights", "rwdbm", stdin=(PASSWORD + "\n").encode())
        self.admin("option", "set", "sftp_port", str(self.port))
        # 200 idle sessions from one address, as sshd's MaxStartups allows.
        self.admin("option", "set", "max_connections", "0")
        self.admin("option", "set", "max_connections_per_ip", "0")
        self.proc = subprocess.Popen([self.binary, "--headless", "--data-dir", self.folder],
                                     stdout=open(os.path.join(self.data, "kestrova.out"), "wb"),
                                     stderr=subprocess.STDOUT, start_new_session=True,
                                     env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        return wait_port(self.port, self.proc) and wait_port(self.ftp_port, self.proc)

    def sftp_argv(self):
        return ["sshpass", "-p", PASSWORD, "sftp", *SSH_OPTIONS, "-o", "BatchMode=no", "-P", str(self.port), "-b", "-",
                USER + "@127.0.0.1"]

    def paramiko_login(self, transport):
        transport.connect(username=USER, password=PASSWORD)


class OpenSsh(Server):
    def __init__(self, data, root):
        super().__init__("openssh", data, root)
        self.folder = os.path.join(data, "openssh")
        self.client_key = os.path.join(self.folder, "client_key")

    def start(self):
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder, mode=0o700)
        host_key = os.path.join(self.folder, "host_key")
        for key in (host_key, self.client_key):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key], check=True, timeout=30)
        shutil.copy(self.client_key + ".pub", os.path.join(self.folder, "authorized_keys"))
        conf = os.path.join(self.folder, "sshd_config")
        with open(conf, "w") as f:
            f.write("\n".join([
                "ListenAddress 127.0.0.1", "PidFile none", "UsePAM no", "StrictModes no",
                "PermitRootLogin prohibit-password", "PasswordAuthentication no",
                "KbdInteractiveAuthentication no", "AuthorizedKeysFile " + self.folder + "/authorized_keys",
                "Subsystem sftp /usr/lib/openssh/sftp-server",
                # aes128-ctr for paramiko (the idle sessions), which lacks GCM.
                "Ciphers %s,aes128-ctr" % CIPHER, "MaxStartups 1000",
                "MaxSessions 10", "LoginGraceTime 60", "ClientAliveInterval 0", ""]))
        # sshd insists on its privilege separation folder; it is empty and
        # belongs to the package, which this run does not start.
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
        self.proc = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", conf, "-p", str(self.port), "-h", host_key],
                                     stdout=open(os.path.join(self.data, "openssh.out"), "wb"),
                                     stderr=subprocess.STDOUT, start_new_session=True)
        return wait_port(self.port, self.proc)

    def sftp_argv(self):
        return ["sftp", *SSH_OPTIONS, "-o", "BatchMode=yes", "-i", self.client_key, "-P", str(self.port), "-b", "-",
                "root@127.0.0.1"]

    def paramiko_login(self, transport):
        import paramiko
        transport.connect(username="root", pkey=paramiko.Ed25519Key.from_private_key_file(self.client_key))


def batch(server, commands, cwd):
    """Runs OpenSSH's sftp with `commands` (paths relative to the login
    folder on the server, to `cwd` here); its wall time in seconds. The
    server's CPU time meanwhile (all its processes) goes to server.cpu."""
    cpu0 = tree_cpu_seconds(server.proc.pid)
    t0 = time.perf_counter()
    done = subprocess.run(server.sftp_argv(), input=("\n".join(commands) + "\n").encode(), cwd=cwd,
                          capture_output=True, timeout=CLIENT_TIMEOUT)
    elapsed = time.perf_counter() - t0
    server.cpu = tree_cpu_seconds(server.proc.pid) - cpu0
    if done.returncode != 0:
        raise RuntimeError("%s: sftp failed: %s" % (server.name, done.stderr.decode(errors="replace")[-500:]))
    return elapsed


def remote(server, path):
    """A remote path as the client names it: our login folder is the root
    folder; OpenSSH's is root's home, so absolute paths there."""
    return path if server.name == "kestrova" else os.path.join(server.root, path)


def login_time(server, cwd):
    """A session that only logs in: its time and the server's CPU time are
    subtracted from every timed run."""
    best, cpu = None, None
    for _ in range(3):
        t = batch(server, ["pwd"], cwd)
        best = t if best is None else min(best, t)
        cpu = server.cpu if cpu is None else min(cpu, server.cpu)
    server.login_cpu = cpu
    return best


def timed(server, commands, cwd, base, cpus):
    """batch() less the login; the server's CPU time, less the login's, appended to `cpus`."""
    t = batch(server, commands, cwd) - base
    cpus.append(max(0.0, server.cpu - server.login_cpu))
    return t


def measure_big(server, args, local):
    base = login_time(server, local)
    size = args.big_mib << 20
    down, up, down_cpu, up_cpu = [], [], [], []
    for _ in range(args.repeats):
        target = os.path.join(local, "down.bin")
        down.append(timed(server, ["get %s %s" % (remote(server, "big.bin"), target)], local, base, down_cpu))
        if os.path.getsize(target) != size:
            raise RuntimeError("%s: download size %d" % (server.name, os.path.getsize(target)))
        os.unlink(target)
        up.append(timed(server, ["put %s %s" % (os.path.join(server.root, "big.bin"),
                                                remote(server, "up/big.bin"))], local, base, up_cpu))
        if os.path.getsize(os.path.join(server.root, "up", "big.bin")) != size:
            raise RuntimeError("%s: upload size wrong" % server.name)
        os.unlink(os.path.join(server.root, "up", "big.bin"))
    gib = size / (1 << 30)
    return {"download_gibps": gib / min(down), "upload_gibps": gib / min(up),
            "cpu_down_s_per_gib": min(down_cpu) / gib, "cpu_up_s_per_gib": min(up_cpu) / gib}


def measure_small(server, args, local):
    base = login_time(server, local)
    source = os.path.join(server.root, "small")
    down, up, down_cpu, up_cpu = [], [], [], []
    for _ in range(args.repeats):
        target = os.path.join(local, "small-down")
        os.makedirs(target)
        down.append(timed(server, ["get %s/* %s/" % (remote(server, "small"), target)], local, base, down_cpu))
        if len(os.listdir(target)) != args.small:
            raise RuntimeError("%s: %d small files down" % (server.name, len(os.listdir(target))))
        shutil.rmtree(target)
        up_dir = os.path.join(server.root, "up", "small")
        os.makedirs(up_dir)
        up.append(timed(server, ["put %s/* %s/" % (source, remote(server, "up/small"))], local, base, up_cpu))
        if len(os.listdir(up_dir)) != args.small:
            raise RuntimeError("%s: %d small files up" % (server.name, len(os.listdir(up_dir))))
        shutil.rmtree(up_dir)
    return {"small_down_fps": args.small / min(down), "small_up_fps": args.small / min(up),
            "cpu_small_down_us": min(down_cpu) / args.small * 1e6, "cpu_small_up_us": min(up_cpu) / args.small * 1e6}


def measure_idle(server, args):
    """RSS of the server (all its processes) over N logged-in SFTP sessions
    that do nothing, per session; one session first so set-up is not counted."""
    import paramiko

    def open_one():
        sock = socket.create_connection(("127.0.0.1", server.port), timeout=20)
        t = paramiko.Transport(sock)
        t.banner_timeout = t.auth_timeout = 30
        server.paramiko_login(t)
        c = paramiko.SFTPClient.from_transport(t)
        c.listdir(".")
        return c

    first = open_one()
    first.close()
    time.sleep(0.5)
    before = tree_rss_kib(server.proc.pid)
    clients = []
    try:
        for _ in range(args.idle):
            clients.append(open_one())
        time.sleep(1.0)
        after = tree_rss_kib(server.proc.pid)
    finally:
        processes = len(_process_tree(server.proc.pid))
        for c in clients:
            c.get_channel().get_transport().close()
        # OpenSSH's per-session processes end and are reaped after this: wait
        # for them, or their CPU time would count in the next measurement.
        deadline = time.monotonic() + 60
        while len(_process_tree(server.proc.pid)) > processes - len(clients) and time.monotonic() < deadline:
            time.sleep(0.2)
        time.sleep(1.0)
    return {"idle_kib_per_session": (after - before) / args.idle}


def measure_noop(server, args, local):
    """NOOP round trips of an FTP session every 5 ms while two SFTP
    downloads of the big file run at once."""
    import ftplib
    ftp = ftplib.FTP()
    ftp.connect("127.0.0.1", server.ftp_port, timeout=20)
    ftp.login(USER, PASSWORD)
    downloads = [subprocess.Popen(server.sftp_argv(), stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, cwd=local) for _ in range(2)]
    for i, p in enumerate(downloads):
        p.stdin.write(("get big.bin down%d.bin\n" % i).encode())
        p.stdin.close()
    rtts = []
    deadline = time.monotonic() + CLIENT_TIMEOUT
    time.sleep(0.3)  # past the logins
    while any(p.poll() is None for p in downloads) and time.monotonic() < deadline and len(rtts) < 200000:
        t0 = time.perf_counter()
        ftp.voidcmd("NOOP")
        rtts.append(time.perf_counter() - t0)
        time.sleep(0.005)
    for p in downloads:
        p.wait(CLIENT_TIMEOUT)
    ftp.quit()
    for i in range(2):
        os.unlink(os.path.join(local, "down%d.bin" % i))
    rtts.sort()
    p99 = rtts[min(len(rtts) - 1, int(0.99 * len(rtts)))] if rtts else float("nan")
    return {"noop_p99_ms": p99 * 1000, "noop_median_ms": rtts[len(rtts) // 2] * 1000 if rtts else float("nan"),
            "noop_count": len(rtts)}


ROWS = [  # key, label, unit, higher is better, goal as a ratio of OpenSSH or absolute
    ("download_gibps", "Download 1 GiB", "GiB/s", True),
    ("upload_gibps", "Upload 1 GiB", "GiB/s", True),
    ("small_down_fps", "Files of 4 KiB down, one session", "files/s", True),
    ("small_up_fps", "Files of 4 KiB up, one session", "files/s", True),
    ("idle_kib_per_session", "RSS per idle SFTP session", "KiB", False),
    ("cpu_down_s_per_gib", "Server CPU per GiB down", "s", False),
    ("cpu_up_s_per_gib", "Server CPU per GiB up", "s", False),
    ("cpu_small_down_us", "Server CPU per small file down", "us", False),
    ("cpu_small_up_us", "Server CPU per small file up", "us", False),
    ("noop_p99_ms", "FTP NOOP p99 during 2 SFTP downloads", "ms", False),
    ("noop_median_ms", "FTP NOOP median meanwhile", "ms", False),
]


def table(results, big_mib=1024, small=2000):
    ours, peer = results.get("kestrova", {}), results.get("openssh", {})
    lines = ["| Measurement | unit | OpenSSH | kestrova | ours/OpenSSH |", "|---|---|---|---|---|"]
    for key, label, unit, _ in ROWS:
        label = label.replace("1 GiB", "%d MiB" % big_mib if big_mib != 1024 else "1 GiB")
        if key.startswith("small_"):
            label = label.replace("Files", "%d files" % small)
        a, b = ours.get(key), peer.get(key)
        ratio = "%.2fx" % (a / b) if a is not None and b else "-"
        lines.append("| %s | %s | %s | %s | %s |" % (label, unit, "%.3g" % b if b is not None else "-",
                                                      "%.3g" % a if a is not None else "-", ratio))
    checks = []

    def check(ok, text):
        checks.append("  %s %s" % ("ok  " if ok else "MISS", text))

    for key, text in (("download_gibps", "download"), ("upload_gibps", "upload"),
                      ("small_down_fps", "small files down"), ("small_up_fps", "small files up")):
        if key in ours and key in peer:
            check(ours[key] >= peer[key], "%s >= 1.0x OpenSSH" % text)
    if "idle_kib_per_session" in ours:
        check(ours["idle_kib_per_session"] < 128, "< 128 KiB per idle SFTP session")
    if "noop_p99_ms" in ours:
        check(ours["noop_p99_ms"] < 50, "FTP NOOP p99 < 50 ms during two SFTP downloads")
    return "\n".join(lines) + "\n\n```\n" + "\n".join(checks) + "\n```\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="64 MiB, 200 small files, 20 idle sessions")
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build"))
    parser.add_argument("--program", help="our program (default: BUILD_DIR/program/kestrova), to compare builds")
    parser.add_argument("--servers", default="kestrova openssh")
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--keep-data", action="store_true")
    parser.add_argument("--only", default="big,small,idle,noop")
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    args = parser.parse_args()
    args.big_mib, args.small, args.idle, args.repeats = (64, 200, 20, 2) if args.quick else (1024, 2000, 200, 3)
    if os.geteuid() != 0 and "openssh" in args.servers:
        sys.exit("sftpbench: OpenSSH's sshd needs root here (it logs in root with its own key)")
    if not 1 <= args.rounds <= 10:
        sys.exit("sftpbench: --rounds must be 1 to 10")
    only = set(args.only.split(","))
    data = "/dev/shm/kvsftpbench" if os.path.isdir("/dev/shm") else "/tmp/kvsftpbench"
    os.makedirs(data, exist_ok=True)
    os.makedirs(args.out, exist_ok=True)
    print("== preparing data in", data, flush=True)
    root = prepare(data, args.big_mib, args.small)
    local = os.path.join(data, "local")
    results = {}
    try:
        for round_ in range(args.rounds):
            for name in args.servers.split():
                server = Kestrova(data, root, args.program or os.path.join(args.build_dir, "program", "kestrova")) if name == "kestrova" else OpenSsh(data, root)
                shutil.rmtree(os.path.join(root, "up"), ignore_errors=True)
                os.makedirs(os.path.join(root, "up"))
                shutil.rmtree(local, ignore_errors=True)
                os.makedirs(local)
                try:
                    if not server.start():
                        print("== %s did not start (see %s/%s.out)" % (name, data, name), flush=True)
                        continue
                    print("== %s on 127.0.0.1:%d, round %d" % (name, server.port, round_ + 1), flush=True)
                    got = {}
                    if "idle" in only:  # first, on a fresh server
                        got.update(measure_idle(server, args))
                    if "big" in only:
                        got.update(measure_big(server, args, local))
                    if "small" in only:
                        got.update(measure_small(server, args, local))
                    if "noop" in only and server.ftp_port:
                        got.update(measure_noop(server, args, local))
                    print(json.dumps(got), flush=True)
                    best = results.setdefault(name, {})
                    for key, _, _, higher in ROWS:
                        if key in got:
                            old = best.get(key)
                            better = old is None or (got[key] > old if higher else got[key] < old)
                            best[key] = got[key] if better else old
                finally:
                    server.stop()
    finally:
        if not args.keep_data:
            shutil.rmtree(data, ignore_errors=True)
    with open(os.path.join(args.out, "sftp-results.json"), "w") as f:
        json.dump(results, f, indent=1)
    text = ("Run: %s UTC, %d cores, %d round(s), best per row, load average at the end: %s%s\n\n" %
            (time.strftime("%Y-%m-%d %H:%M", time.gmtime()), os.cpu_count(), args.rounds,
             " ".join(open("/proc/loadavg").read().split()[:3]), ", --quick sizes" if args.quick else "")
            + table(results, args.big_mib, args.small))
    with open(os.path.join(args.out, "sftp-results.md"), "w") as f:
        f.write(text)
    print()
    print(text)


if __name__ == "__main__":
    main()
