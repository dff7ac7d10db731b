"""Starts the real program headless on a temporary data folder and talks to it
with real FTP clients (ftplib, curl, lftp) on loopback. Every wait is bounded."""

import atexit
import contextlib
import ftplib
import json
import os
import pathlib
import random
import re
import shutil
import signal
import socket
import sqlite3
import subprocess
import tempfile
import time
import unittest

# accounts.dat as another program writes it: the golden schema without the tables (and their
# triggers) this program adds.
SCHEMA = ";".join(line for line in pathlib.Path(__file__).parent.joinpath("../support/accounts_schema.sql")
                  .read_text().splitlines()
                  if line.startswith("CREATE") and not line.startswith(("CREATE TABLE options", "CREATE TABLE actions",
                                                                        "CREATE TRIGGER actions_")))

RIGHTS = ("read", "write", "delete", "browse", "manage")
TIMEOUT = 10


def program():
    build = os.environ.get("KV_BUILD_DIR", os.path.join(os.path.dirname(__file__), "../../build"))
    return os.path.join(build, "program", "kestrova")


def run(argv, timeout=TIMEOUT, stdin=None):
    """Runs an external client, or the program itself, to its end within `timeout` seconds;
    `stdin` (bytes or text) is its input."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    if isinstance(stdin, str):
        stdin = stdin.encode()
    return subprocess.run(argv, input=stdin, capture_output=True, timeout=timeout, env=env)


def spawn(test, argv, output=None, **popen):
    """`argv` started with both output streams in the file named `output` (or nowhere), killed
    after `test` if still running."""
    out = open(output, "w+") if output else subprocess.DEVNULL
    proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, **popen)
    test.addCleanup(lambda: (proc.poll() is None and proc.kill(), proc.wait(TIMEOUT), output and out.close()))
    return proc


def lftp(script):
    """lftp running `script` with one try and bounded waits."""
    return run(["lftp", "-c", f"set net:max-retries 1; set net:timeout {TIMEOUT}; {script}"], TIMEOUT * 3)


def rclone(remote, *args):
    """rclone without a configuration file, one try; `REMOTE:` in `args` stands for `remote`."""
    argv = ["rclone", "--config", "/dev/null", "--contimeout", f"{TIMEOUT}s", "--timeout", f"{TIMEOUT}s",
            "--retries", "1", "--low-level-retries", "1"]
    return run(argv + [a.replace("REMOTE:", remote) for a in args], TIMEOUT * 6)


def read_text(path):
    return pathlib.Path(path).read_text(encoding="utf-8", errors="replace")


# Test programs run side by side (ctest -j): a port one of them picked but has
# not bound yet (a passive range, a server still starting) looks free to the
# others. Each pick is claimed with a file that only its own program removes.
# The folder is the user's own: another user's runs leave theirs unwritable.
PORT_CLAIMS = os.path.join(tempfile.gettempdir(), f"kv-e2e-ports-{os.getuid()}")
CLAIM_LIFETIME = 3600  # seconds; a claim left by a killed program expires
claimed = []


def _unclaim(paths):
    for path in list(paths):
        claimed.remove(path)
        with contextlib.suppress(OSError):
            os.unlink(path)


atexit.register(lambda: _unclaim(claimed))


def _claim(port):
    """The path of `port`'s claim, made for this program (a stale one taken over); None when
    another program holds it."""
    os.makedirs(PORT_CLAIMS, mode=0o700, exist_ok=True)
    path = os.path.join(PORT_CLAIMS, str(port))
    with contextlib.suppress(OSError):
        if time.time() - os.stat(path).st_mtime >= CLAIM_LIFETIME:
            os.unlink(path)
    try:
        os.close(os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o666))
    except FileExistsError:
        return None
    claimed.append(path)
    return path


def _bindable(ports):
    with contextlib.ExitStack() as held:
        try:
            for port in ports:
                held.enter_context(socket.socket()).bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def free_run(count, low=20000, high=32000):
    """The first of `count` consecutive free ports, claimed for this program. The
    default range stays below the kernel's ephemeral ports (32768 and up), which
    clients of the tests take."""
    for _ in range(200):
        first = random.randint(low, high - count)
        if _bindable(range(first, first + count)):
            paths = [_claim(port) for port in range(first, first + count)]
            if all(paths):
                return first
            _unclaim(path for path in paths if path)
    raise AssertionError("no free port range found")


def free_port():
    """A free port, claimed for this program."""
    return free_run(1)


def has_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


class Database:
    """accounts.dat written the way another program would write it."""

    def __init__(self, path, port, root):
        self.path = path
        with sqlite3.connect(self.path) as db:
            db.executescript(SCHEMA)
            db.execute("INSERT INTO settings (ip, port, rootdir, timeout, log, debugmode, resolvelinks,"
                       " datalingertime, minimized) VALUES ('127.0.0.1', ?, ?, '180', 1, '0', '1', '0', '0')",
                       (str(port), root))
            db.execute("INSERT INTO anonymous (enabled) VALUES (0)")

    def run(self, sql, params=()):
        with sqlite3.connect(self.path) as db:
            return db.execute(sql, params).fetchall()

    def add_user(self, login, password, enabled=True, rights="", rootdir=None):
        flags = [1 if r[0].upper() in rights else 0 for r in RIGHTS]
        with sqlite3.connect(self.path) as db:
            cur = db.execute('INSERT INTO users (login, password, enabled, read, write, "delete", browse,'
                             ' manage, rootdir) VALUES (?,?,?,?,?,?,?,?,?)',
                             (login, password, 1 if enabled else 0, *flags, rootdir))
            return cur.lastrowid

    def set_options(self, **options):
        """Rows of the options table (created as the program creates it when missing)."""
        self.run("CREATE TABLE IF NOT EXISTS options (name TEXT PRIMARY KEY, value TEXT)")
        for name, value in options.items():
            self.run("INSERT OR REPLACE INTO options (name, value) VALUES (?, ?)", (name, str(value)))

    def settings(self, **fields):
        for name, value in fields.items():
            self.run(f'UPDATE settings SET "{name}"=?', (value,))


class Server:
    """The program running headless; stop() sends SIGTERM and waits."""

    def __init__(self, folder, env=None, prefix=()):
        """`prefix`: a command that runs the program, e.g. as another user."""
        self.out = open(os.path.join(folder, "stdout.txt"), "w+")
        self.err = open(os.path.join(folder, "stderr.txt"), "w+")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", **(env or {}))
        self.proc = subprocess.Popen([*prefix, program(), "--headless", "--data-dir", folder],
                                     stdout=self.out, stderr=self.err, env=env)

    def wait_started(self):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            if "SERVER START ON IP" in self.stdout():
                return True
            if self.proc.poll() is not None:
                return False
            time.sleep(0.02)
        raise AssertionError("server did not start in time")

    def stdout(self):
        return read_text(self.out.name)

    def stderr(self):
        return read_text(self.err.name)

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(timeout=TIMEOUT)
            raise AssertionError("server did not stop on signal")
        finally:
            self.out.close()
            self.err.close()


class Site:
    """A data folder with accounts.dat and an FTP root folder holding a few files, removed after
    `test` when one is given."""

    def __init__(self, test=None):
        self.tmp = tempfile.mkdtemp(prefix="kv-e2e-")
        self.data = os.path.join(self.tmp, "data")
        self.root = os.path.join(self.tmp, "root")
        os.makedirs(self.data)
        self.fill_root()
        self.port = free_port()
        self.db = Database(os.path.join(self.data, "accounts.dat"), self.port, self.root)
        self.server = None
        if test:
            test.addCleanup(self.cleanup)

    def fill_root(self):
        """The root holds hello.txt, victim.txt and an empty folder sub, nothing else."""
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(os.path.join(self.root, "sub"))
        for name, text in (("hello.txt", b"hello\n"), ("victim.txt", b"keep me\n")):
            pathlib.Path(self.root, name).write_bytes(text)

    def start(self, env=None, prefix=()):
        self.server = Server(self.data, env, prefix)
        if not self.server.wait_started():
            raise AssertionError("server failed: " + self.server.stderr())
        return self.server

    def stop(self, sig=signal.SIGTERM):
        code = self.server.stop(sig) if self.server else 0
        self.server = None
        return code

    def ftp(self, user, password, source=None, host="127.0.0.1"):
        """A logged-in ftplib client; `source` picks one of loopback's addresses (127.0.0.0/8),
        `host` may be "::1" for a server listening on IPv6."""
        ftp = ftplib.FTP(timeout=TIMEOUT, source_address=(source, 0) if source else None)
        ftp.connect(host, self.port)
        try:
            ftp.login(user, password)
        except ftplib.all_errors:
            ftp.close()
            raise
        return ftp

    def kv(self, *args, stdin="", prefix=(), timeout=TIMEOUT):
        """The program's command line on this data folder, `stdin` its input."""
        return run([*prefix, program(), *args, "--data-dir", self.data], timeout, stdin)

    def kv_ok(self, *args, **how):
        """A command that must succeed, run as kv() runs it."""
        result = self.kv(*args, **how)
        assert result.returncode == 0, result.stderr.decode()
        return result

    def kv_fails(self, *args, code=1, **how):
        """The error text of a command that must end with exit status `code`, run as kv() runs it."""
        result = self.kv(*args, **how)
        assert result.returncode == code, (result.returncode, result.stderr.decode())
        return result.stderr.decode()

    def kv_json(self, *args):
        """The parsed answer of a command run with --json, which must succeed."""
        return json.loads(self.kv_ok(*args, "--json").stdout)

    def sparse(self, name, size):
        """A file of `size` zero bytes in the root, taking no disk."""
        with open(os.path.join(self.root, name), "wb") as f:
            f.truncate(size)

    def curl(self, userpass, path):
        url = f"ftp://127.0.0.1:{self.port}/{path}"
        return run(["curl", "-s", "--max-time", str(TIMEOUT), "-u", userpass, url], TIMEOUT + 5)

    def lftp(self, user, password, commands):
        return lftp(f"open -u {user},{password} -p {self.port} 127.0.0.1; {commands}")

    def log_file(self):
        path = os.path.join(self.data, "ftp.log")
        return pathlib.Path(path).read_bytes() if os.path.exists(path) else None

    def cleanup(self):
        if self.server:
            with contextlib.suppress(AssertionError):
                self.server.stop(signal.SIGKILL)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def snapshot(self):
        """Names and contents of everything under the root; a folder's name ends in "/", its
        content is None."""
        folders = (os.path.relpath(os.path.join(d, n), self.root) + "/"
                   for d, names, _ in os.walk(self.root) for n in names)
        return dict.fromkeys(folders) | read_tree(self.root)


class SiteTestCase(unittest.TestCase):
    """A test class served by one started Site, made by `new_site`; `prepare` fills its database
    (accounts, lists, options) before the program starts."""

    new_site = Site

    @classmethod
    def prepare(cls, site):
        pass

    @classmethod
    def setUpClass(cls):
        cls.site = cls.new_site()
        cls.addClassCleanup(cls.site.cleanup)
        cls.prepare(cls.site)
        cls.site.start()


class Control:
    """A raw control connection (from `source`, a loopback address, if given): sends any bytes,
    reads one line or one whole reply at a time. The greeting is read when `greeted`."""

    def __init__(self, port, source=None, greeted=True):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT,
                                             source_address=(source, 0) if source else None)
        self.file = self.sock.makefile("rb")
        if greeted:
            assert self.reply().startswith("220 ")

    def line(self):
        return self.file.readline().decode("utf-8", "replace").rstrip("\r\n")

    def reply(self):
        """The last line of the next reply, multi-line replies read to their end."""
        line = self.line()
        if len(line) >= 4 and line[3] == "-":
            code = line[:3]
            while not line.startswith(code + " "):
                line = self.file.readline().decode("utf-8", "replace")
                assert line, "connection closed inside a reply"
        return line.rstrip("\r\n")

    def command(self, text):
        self.sock.sendall(text.encode() + b"\r\n")
        return self.reply()

    def timed(self, text):
        started = time.monotonic()
        return self.command(text), time.monotonic() - started

    def close(self):
        self.file.close()
        self.sock.close()


def passive_socket(reply, rcvbuf=None):
    """A data socket connected to the port a 227 reply names, its receive buffer `rcvbuf`."""
    nums = [int(n) for n in re.search(r"\((\d+(?:,\d+){5})\)", reply).group(1).split(",")]
    data = socket.socket()
    if rcvbuf:
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    data.settimeout(TIMEOUT)
    data.connect(("127.0.0.1", nums[4] * 256 + nums[5]))
    return data


def write_tree(top, files, mtime=None):
    """Writes `files` ({relative name: bytes}) under `top`, each modified at `mtime(name)` if given."""
    for name, data in files.items():
        path = os.path.join(top, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        pathlib.Path(path).write_bytes(data)
        if mtime:
            os.utime(path, (mtime(name), mtime(name)))


def read_tree(top, names=None, times=False):
    """{relative name: bytes} of every file under `top`, or of `names`; with `times`, each name's
    (bytes, modification time in whole seconds)."""
    def facts(path):
        data = pathlib.Path(path).read_bytes()
        return (data, int(os.stat(path).st_mtime)) if times else data
    if names is None:
        names = [os.path.relpath(os.path.join(d, n), top) for d, _, files in os.walk(top) for n in files]
    return {name: facts(os.path.join(top, name)) for name in names}


def wait_until(check, what, pause=0.05):
    """Polls `check` until it returns true, for at most TIMEOUT seconds."""
    deadline = time.monotonic() + TIMEOUT
    while not check():
        assert time.monotonic() < deadline, "timed out waiting for " + what
        time.sleep(pause)


def fetch(ftp, name):
    chunks = []
    ftp.retrbinary(f"RETR {name}", chunks.append)
    return b"".join(chunks)
