#!/usr/bin/python3
"""Real clients side by side: curl, lftp, Python's ftplib, wget, rclone,
OpenSSH's sftp and scp, each run as a user runs it (its defaults, one
invocation per row), against our program headless and against vsftpd (FTP,
FTPS), Pure-FTPd (FTP) and OpenSSH's sshd (SFTP), all on loopback.

    sudo /usr/bin/python3 bench/clientbench.py --program BUILD/program/kestrova
        [--rounds N] [--timeout S] [--servers NAMES] [--only ROW,...] [--keep-data]

Run by `bench/run --clients`, which installs the clients and sshd, unpacks
the FTP peers into bench/peers/, makes the local user kvbench the peers log
in and builds the program. Every server runs for the whole run; each round
runs every row against every server, the servers' order turning one step
each round (as bench/abtest.py does). A row is the wall time of one client
invocation, every file it moved compared byte for byte with its source; the
table keeps the median over the rounds. A run that takes longer than
--timeout seconds (120 for 256 MiB) is ended, its files so far giving a
rate; a client that failed or was ended is not run again against that
server in later rounds. Nothing but 127.0.0.1 and ::1 is contacted."""

import argparse
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchtable  # noqa: E402
from clientrows import FILE_SETS, ROWS, Target  # noqa: E402
from clientservers import INSTANCES, PASSWORD, PEER_USER, SERVER_KINDS  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
COLUMNS = ["vsftpd", "pure-ftpd", "openssh", "kestrova"]
OURS = "kestrova"
BIG_TIMEOUT = 120  # seconds for a 256 MiB row


class Tls:
    def __init__(self, folder):
        os.makedirs(folder, exist_ok=True)
        self.cert, self.key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-sha256", "-nodes", "-days", "30", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost",
                        "-keyout", self.key, "-out", self.cert], check=True, capture_output=True, timeout=30)
        self.both = os.path.join(folder, "both.pem")  # Pure-FTPd's form: certificate, then key
        with open(self.both, "w") as f:
            f.write(open(self.cert).read() + open(self.key).read())
        for path in (self.key, self.both):
            os.chmod(path, 0o600)


class Env:
    """Where everything lives: data on tmpfs, the client's key, the shared
    certificate, the peers' binaries and our program."""

    def __init__(self, args):
        self.here, self.data, self.program = HERE, args.data, args.program
        self.root = os.path.join(self.data, "root")
        self.local = os.path.join(self.data, "local")
        self.peers = args.peers
        self.client_key = os.path.join(self.data, "client_key")
        self.known_hosts = os.path.join(self.data, "known_hosts")
        self.rclone_config = os.path.join(self.data, "rclone.conf")
        self._obscured = {}

    def peer_sbin(self, name):
        return os.path.join(self.peers, "root", "usr", "sbin", name)

    def obscured(self, password):
        if password not in self._obscured:
            self._obscured[password] = subprocess.run(
                ["rclone", "--config", self.rclone_config, "obscure", password],
                capture_output=True, check=True, timeout=30).stdout.decode().strip()
        return self._obscured[password]

    def prepare(self):
        shutil.rmtree(self.data, ignore_errors=True)
        os.makedirs(self.local)
        for folder, names in (("src", ["f%03d" % i for i in range(200)]), FILE_SETS["tree"]):
            for name in names:
                path = os.path.join(self.root, folder, name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(os.urandom(4096))
        with open(os.path.join(self.root, "big.bin"), "wb") as f:
            for _ in range(256):
                f.write(os.urandom(1 << 20))
        os.makedirs(os.path.join(self.root, "up"))
        os.chmod(self.data, 0o755)
        subprocess.run(["chown", "-R", PEER_USER + ":", self.root], check=True, timeout=60)
        open(self.rclone_config, "w").close()
        open(self.known_hosts, "w").close()
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", self.client_key],
                       check=True, timeout=30)
        self.tls = Tls(os.path.join(self.data, "tls"))


def versions():
    """First line of each client's own version text."""
    def first(argv):
        try:
            done = subprocess.run(argv, capture_output=True, timeout=30)
        except OSError:
            return "missing"
        return (done.stdout or done.stderr).decode(errors="replace").strip().splitlines()[0]

    ssh = first(["ssh", "-V"])
    return {"curl": first(["curl", "--version"]), "lftp": first(["lftp", "--version"]),
            "wget": first(["wget", "--version"]), "rclone": first(["rclone", "version"]),
            "ftplib": first(["/usr/bin/python3", "--version"]) + " ftplib", "sftp": ssh, "scp": ssh}


def short_version(client, text):
    words = text.replace("|", " ").split()
    if client in ("sftp", "scp"):
        return "%s (%s)" % (client, words[0].rstrip(","))
    if client == "ftplib":
        return "ftplib (Python %s)" % words[1]
    number = next((w for w in words if w[:1].isdigit() or w[:2] == "v1"), "?")
    return "%s %s" % (client, number)


def time_wait_sockets():
    with open("/proc/net/sockstat") as f:
        for line in f:
            if line.startswith("TCP:"):
                parts = line.split()
                return int(parts[parts.index("tw") + 1])
    return 0


def settle():
    """Tens of thousands of sockets in TIME_WAIT slow every new port's
    choice: wait (bounded) until most have expired."""
    for _ in range(30):
        if time_wait_sockets() < 12000:
            return
        time.sleep(1)


def matches(path, source):
    try:
        if os.path.getsize(path) != os.path.getsize(source):
            return False
        with open(path, "rb") as a, open(source, "rb") as b:
            for _ in range(1 << 16):  # up to 64 GiB in 1 MiB pieces
                x, y = a.read(1 << 20), b.read(1 << 20)
                if x != y:
                    return False
                if not x:
                    return True
    except OSError:
        return False
    return False


ERROR_WORDS = re.compile(r"error|fail|abort|refus|denied|reject|invalid|cannot|could not|illegal|"
                         r"timed out|refused|\(\d+\)|\b[45]\d\d\b", re.I)


def error_line(text):
    """The line of a client's output that says what went wrong: the first
    naming an error, else the first that is not a warning (wget warns of the
    self-signed certificate before everything), less rclone's dates and the
    remote it spells out."""
    lines = [l.strip() for l in text.splitlines() if l.strip()]
    said = [l for l in lines if not l.lower().startswith("warning")] or lines
    line = next((l for l in said if ERROR_WORDS.search(l)), said[0] if said else "")
    i = lines.index(line) if line in lines else -1
    if line.endswith(":") and 0 <= i < len(lines) - 1:  # rclone: "2 errors occurred:" then the first
        line += " " + lines[i + 1]
    line = re.sub(r"^\d{4}[/-]\d\d[/-]\d\d \d\d:\d\d:\d\d\s*", "", line)
    return re.sub(r'"[^"]*:ftp,[^"]*"|"[^"]*:sftp,[^"]*"', '"..."', line)


def run_once(env, row, server, round_):
    """One invocation of the row's client against `server`: its result."""
    run = "%s-%s-%s-%d" % (row.key, server.column, "v6" if ":" in row.host else "v4", round_)
    folder, names = FILE_SETS[row.files]
    local = os.path.join(env.local, run)
    remote = "up/" + run
    arrive = os.path.join(env.root, remote) if row.direction == "up" else local
    os.makedirs(arrive)
    if row.direction == "up":
        shutil.chown(arrive, PEER_USER)
    port = server.endpoints[(row.protocol, row.host)]
    argv, stdin = row.build(env, Target(row.host, port, server.user, PASSWORD, remote, local))
    limit = BIG_TIMEOUT if row.files == "big" else env.timeout
    t0 = time.perf_counter()
    proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            cwd=env.local, start_new_session=True)
    try:
        out, err = proc.communicate(stdin.encode() if stdin else None, timeout=limit)
        seconds, ended = time.perf_counter() - t0, False
    except subprocess.TimeoutExpired:
        seconds, ended = limit, True
        os.killpg(proc.pid, signal.SIGTERM)
        try:
            out, err = proc.communicate(timeout=5)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, err = proc.communicate(timeout=5)
    done = sum(matches(os.path.join(arrive, n), os.path.join(env.root, folder, n)) for n in names)
    shutil.rmtree(arrive, ignore_errors=True)
    result = {"seconds": seconds, "done": done, "files": len(names), "status": "ok",
              "output": (err + out)[-1500:].decode(errors="replace")}
    first = error_line((err + out).decode(errors="replace"))
    if ended:
        result.update(status="timeout", error="no end after %.0f s" % limit)
    elif proc.returncode != 0:
        code = "signal %d" % -proc.returncode if proc.returncode < 0 else "exit %d" % proc.returncode
        result.update(status="fail", error=code + (": " + first[:160] if first else ""))
    elif done != len(names):
        result.update(status="fail", error="exit 0, %d of %d files arrived intact" % (done, len(names)))
    return result


def rate(row, seconds, files):
    return (files * (256 << 20) / 1e6 if row.files == "big" else files) / seconds


def measure(env, servers, rows, rounds, log):
    results = {}  # (row key, column) -> list of results
    for round_ in range(rounds):
        for row in rows:
            serving = [s for s in servers if (row.protocol, row.host) in s.endpoints]
            k = round_ % len(serving) if serving else 0
            for server in serving[k:] + serving[:k]:
                runs = results.setdefault((row.key, server.column), [])
                if runs and runs[0]["status"] != "ok":
                    continue  # a failure repeats itself; a first run ended at the limit took long enough
                settle()
                r = run_once(env, row, server, round_)
                runs.append(r)
                print("round %d %-17s %-9s %-7s %7.2f s %3d/%d %s" % (
                    round_ + 1, row.key, server.column, r["status"], r["seconds"], r["done"], r["files"],
                    r.get("error", "")), flush=True)
                log.append(dict(r, row=row.key, server=server.column, round=round_ + 1))
    return results


def summarize(row, runs):
    """The median run (a run ended at the time limit counts with that time),
    or the failure when the client failed."""
    failed = [r for r in runs if r["status"] == "fail"]
    if failed:
        r = failed[0]
        return {"ok": False, "status": "fail", "error": r["error"], "partial": None,
                "arrived": r["done"] == r["files"], "seconds": r["seconds"]}
    ended = [r for r in runs if r["status"] == "timeout"]
    ordered = sorted(runs, key=lambda r: r["seconds"])
    t = statistics.median(r["seconds"] for r in runs)
    middle = ordered[len(ordered) // 2]
    if middle["status"] == "timeout":
        return {"ok": False, "status": "timeout", "error": middle["error"], "done": middle["done"],
                "files": middle["files"], "ended": len(ended), "runs": len(runs),
                "partial": rate(row, middle["seconds"], middle["done"]) if middle["done"] else None}
    return {"ok": True, "seconds": t, "rate": rate(row, t, runs[0]["files"]), "runs": len(runs),
            "ended": len(ended)}


def table(results, rows, clients, servers_seen):
    columns = [c for c in COLUMNS if c in servers_seen]
    head = ["Client", "Measurement", "unit"] + columns + ["ours/best peer"]
    lines, notes, checks = [], [], []
    for row in rows:
        cells = {c: summarize(row, results[(row.key, c)]) for c in columns if (row.key, c) in results}
        if not cells:
            continue
        line = [short_version(row.client, clients[row.client]), row.label, row.unit]
        for c in columns:
            s = cells.get(c)
            if s is None:
                line.append("-")
            elif s["ok"]:
                line.append("%s (%.3g s)%s" % (benchtable._number(s["rate"]), s["seconds"],
                                               "*" if s["runs"] == 1 else ""))
                if s["ended"]:
                    notes.append("[%d] %s, %s: %s: %d of %d runs ended at the time limit." % (
                        len(notes) + 1, c, row.client, row.label, s["ended"], s["runs"]))
                    line[-1] += " [%d]" % len(notes)
            else:
                notes.append(note_text(len(notes) + 1, c, row, s))
                line.append("%s [%d]" % (s["status"], len(notes)))
        peers = [s["rate"] for c, s in cells.items() if c != OURS and s["ok"]]
        ours = cells.get(OURS)
        ratio = "-"
        if ours and peers:
            if ours["ok"]:
                ratio = benchtable._ratio(ours["rate"], max(peers))
                checks.append((row, ours["rate"] >= max(peers), ratio))
            elif ours.get("partial"):
                ratio = "<" + benchtable._ratio(ours["partial"], max(peers))
                checks.append((row, False, ratio))
            else:
                checks.append((row, False, ours["status"]))
        lines.append(line + [ratio])
    text = benchtable.markdown(head, lines)
    text += ["", "Each cell: rate (median wall time of the rounds in seconds); * one run only; "
             "a run ended at the time limit counts with that time."]
    text += notes
    text += ["", "```"] + ["  %-4s %s %s: %s" % ("ok" if ok else "MISS", short_version(row.client, clients[row.client]),
                                                  row.label, ratio) for row, ok, ratio in checks] + ["```"]
    return "\n".join(text)


def note_text(n, column, row, s):
    text = "[%d] %s, %s: %s: %s" % (n, column, row.client, row.label, s["error"])
    if s["status"] == "timeout":
        text += "; %d of %d files by then" % (s["done"], s["files"])
        if s["partial"]:
            text += " (%s %s)" % (benchtable._number(s["partial"]), row.unit)
        if s["runs"] > 1:
            text += ", the median of %d runs (%d ended)" % (s["runs"], s["ended"])
    elif s["arrived"]:
        text += "; every file arrived intact, in %.3g s" % s["seconds"]
    return text.rstrip(".") + "."


def server_versions(env):
    debs = sorted(os.listdir(os.path.join(env.peers, "debs"))) if os.path.isdir(os.path.join(env.peers, "debs")) else []
    names = [d.split("_")[0] + " " + d.split("_")[1] for d in debs if d.endswith(".deb")]
    sshd = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", "openssh-server"], capture_output=True,
                          timeout=30).stdout.decode()
    commit = subprocess.run(["git", "-C", os.path.dirname(HERE), "describe", "--always", "--dirty"],
                            capture_output=True, timeout=30).stdout.decode().strip()
    return names + ["openssh-server " + sshd, "kestrova at " + commit]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--program", required=True, help="our program, BUILD/program/kestrova")
    parser.add_argument("--peers", default=os.path.join(HERE, "peers"), help="vsftpd and pure-ftpd unpacked here")
    parser.add_argument("--data", default="/dev/shm/kvclients")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--timeout", type=float, default=20, help="seconds for a small-file run")
    parser.add_argument("--servers", default=" ".join(COLUMNS))
    parser.add_argument("--only", help="row keys, comma separated")
    parser.add_argument("--keep-data", action="store_true")
    parser.add_argument("--out", default=os.path.join(HERE, "out"))
    args = parser.parse_args()
    if not 1 <= args.rounds <= 20:
        sys.exit("clientbench: --rounds must be 1 to 20")
    if os.geteuid() != 0:
        sys.exit("clientbench: needs root (the peers log in the local user %s)" % PEER_USER)
    rows = [r for r in ROWS if not args.only or r.key in args.only.split(",")]
    env = Env(args)
    env.timeout = args.timeout
    os.makedirs(args.out, exist_ok=True)
    print("== preparing data in", env.data, flush=True)
    env.prepare()
    clients = versions()
    servers, log = [], []
    started = time.time()
    try:
        for kind, host in INSTANCES:
            if kind not in args.servers.split():
                continue
            server = SERVER_KINDS[kind](env, host)
            if server.start():
                print("== %s on %s: %s" % (kind, host, server.endpoints), flush=True)
                servers.append(server)
            else:
                print("== %s on %s did not start (see %s)" % (kind, host, server.log), flush=True)
                server.stop()
        results = measure(env, servers, rows, args.rounds, log)
    finally:
        for server in servers:
            server.stop()
        if not args.keep_data:
            shutil.rmtree(env.data, ignore_errors=True)
    head = ("Run: %s UTC, %.0f s, %d cores, %d round(s), median per row, load average at the end: %s\n\n"
            "Clients:\n%s\n\nServers: %s.\n\n" % (
                time.strftime("%Y-%m-%d %H:%M", time.gmtime(started)), time.time() - started, os.cpu_count(),
                args.rounds, " ".join(open("/proc/loadavg").read().split()[:3]), "\n".join(
                    "- " + v for v in sorted(set(clients.values()))), "; ".join(server_versions(env))))
    text = head + table(results, rows, clients, {s.column for s in servers})
    with open(os.path.join(args.out, "clients-results.md"), "w") as f:
        f.write(text + "\n")
    with open(os.path.join(args.out, "clients.json"), "w") as f:
        json.dump({"clients": clients, "runs": log}, f, indent=1)
    print()
    print(text)


if __name__ == "__main__":
    main()
