"""Starting and stopping the headless server, and what it logs; a start refused by the system (a
refused setting or option, and the database a new folder gets: the controller's and the settings'
tests)."""

import os
import re
import shutil
import subprocess
import signal
import socket
import tempfile
import unittest
from pathlib import Path

from kvharness import Server, Site, TIMEOUT, program, read_text, run, spawn, wait_until

START = re.compile(rb"^\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\] SERVER START ON IP 127\.0\.0\.1$")
STOP = re.compile(rb"^\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\] SERVER STOP$")


class Logging(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)

    def test_start_and_stop_lines_either_signal_stops(self):
        # The lines' shapes, their ends and the empty line before a start: the activity log's and
        # the controller's tests.
        self.site.db.add_user("bob", "secret-pw", rights="R")
        Path(self.site.data, "ftp.log").write_bytes(b"earlier run\r\n")
        for sig in (signal.SIGTERM, signal.SIGINT):
            self.site.start()
            self.site.ftp("bob", "secret-pw").quit()
            self.assertEqual(self.site.stop(sig), 0)
        raw = self.site.log_file()
        self.assertNotIn(b"secret-pw", raw, "a password reached the log")
        self.assertTrue(raw.startswith(b"earlier run\r\n"), "the existing log was not kept")
        lines = raw.split(b"\r\n")
        self.assertEqual([len([l for l in lines if line.match(l)]) for line in (START, STOP)], [2, 2])
        self.assertIn(b"230 User bob logged in.", raw)

    def test_nothing_written_with_log_off(self):
        self.site.db.settings(log=0)
        server = self.site.start()
        self.assertEqual(self.site.stop(), 0)
        self.assertIsNone(self.site.log_file())
        self.assertIn("SERVER STOP", server.stdout(), "the screen log lost its lines")


FIRST_LINE = "Impossibile avviare il server: controllare indirizzo IP e porta"


class StartFailure(unittest.TestCase):
    """A failed start says why on the line after the first, on standard error and in the log."""

    def setUp(self):
        self.site = Site(self)

    def failed_start(self, prefix=(), env=None):
        server = Server(self.site.data, env=env, prefix=prefix)
        try:
            code = server.proc.wait(timeout=TIMEOUT)
        finally:
            server.stop()
        self.assertEqual(code, 2, server.stderr())
        lines = server.stderr().splitlines()
        self.assertEqual(lines[0], FIRST_LINE)
        self.assertEqual(len(lines), 2, lines)
        self.assertIn("SERVER START FAILED: " + lines[1], server.stdout())
        self.assertIn(("SERVER START FAILED: " + lines[1]).encode(), self.site.log_file() or b"")
        return lines[1]

    def test_port_in_use_and_address_not_on_this_machine(self):
        with socket.create_server(("127.0.0.1", self.site.port)):
            reason = self.failed_start()
        self.assertEqual(reason, f"impossibile usare la porta {self.site.port} (indirizzo già in uso)")
        self.site.db.settings(ip="192.0.2.1")  # TEST-NET-1: never a local address
        self.assertEqual(self.failed_start(), "l'indirizzo 192.0.2.1 non è di questo computer")

    def test_port_below_the_unprivileged_start(self):
        first_free = int(Path("/proc/sys/net/ipv4/ip_unprivileged_port_start").read_text())
        if first_free <= 1:
            self.skipTest("every port may be bound by any user here")
        prefix = ()
        env = None
        if os.geteuid() == 0:
            if not shutil.which("setpriv"):
                self.skipTest("running as root without setpriv")
            # The user nobody reads and writes the data folder, nothing more.
            for folder, _, files in os.walk(self.site.tmp):
                for name in [folder] + [os.path.join(folder, f) for f in files]:
                    os.chmod(name, 0o777 if os.path.isdir(name) else 0o666)
            prefix = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups")
            env = dict.fromkeys(("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"), self.site.tmp)
        self.site.db.settings(port=str(first_free - 1))
        self.assertEqual(self.failed_start(prefix, env),
                         f"impossibile usare la porta {first_free - 1} "
                         "(permesso negato: le porte sotto 1024 richiedono privilegi)")


class DatabaseFile(unittest.TestCase):
    def setUp(self):
        self.tmp = self.enterContext(tempfile.TemporaryDirectory(prefix="kv-e2e-db-", ignore_cleanup_errors=True))

    def test_foreign_file_left_untouched(self):
        path = os.path.join(self.tmp, "accounts.dat")
        content = b"not a database at all\n" * 100
        Path(path).write_bytes(content)
        out = run([program(), "--headless", "--data-dir", self.tmp])
        self.assertEqual(out.returncode, 1)
        self.assertIn("accounts.dat", out.stderr.decode())
        self.assertEqual(Path(path).read_bytes(), content)

    def test_help_and_version(self):
        version, usage = run([program(), "--version"]), run([program(), "--help"])
        self.assertEqual((version.returncode, usage.returncode), (0, 0))
        self.assertIn(b"1.0.0", version.stdout)
        self.assertTrue(b"--headless" in usage.stdout and b"--data-dir" in usage.stdout, usage.stdout)
        self.assertIn("sudo adduser NOME kestrova", usage.stdout.decode())  # how to administer the service


@unittest.skipUnless(os.geteuid() == 0 and all(map(shutil.which, ("unshare", "nsenter", "ip", "setpriv"))),
                     "needs root with unshare, nsenter, ip and setpriv")
class FirstStartOfAUser(unittest.TestCase):
    """A user with an empty home starts the server and types no setting: it makes its database in
    the per-user data folder and serves on 2121, ports below 1024 not being theirs. It runs in a
    network namespace of its own whose only interface is loopback: 2121 is free there whatever
    else runs on this machine, and no traffic leaves it."""

    UID = 47021

    def setUp(self):
        self.tmp = self.enterContext(tempfile.TemporaryDirectory(prefix="kv-e2e-first-", ignore_cleanup_errors=True))
        os.chmod(self.tmp, 0o755)
        self.home = os.path.join(self.tmp, "home")
        os.mkdir(self.home)
        self.file = os.path.join(self.home, "hello.txt")
        Path(self.file).write_text("served on the first start\n")
        for path in (self.home, self.file):
            os.chown(path, self.UID, self.UID)
        self.holder = subprocess.Popen(["unshare", "--net", "--", "sleep", "120"], stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (self.holder.kill(), self.holder.wait(TIMEOUT)))
        ours, namespace = os.readlink("/proc/self/ns/net"), f"/proc/{self.holder.pid}/ns/net"
        # unshare has made the namespace once sleep holds another one
        wait_until(lambda: self.holder.poll() is not None or os.readlink(namespace) != ours, "the namespace")
        if self.holder.poll() is not None:
            self.skipTest("no network namespace may be made here")
        self.enter = ["nsenter", f"--net={namespace}"]
        self.assertEqual(run([*self.enter, "ip", "link", "set", "lo", "up"]).returncode, 0)

    def as_user(self, *argv):
        env = ["env", "-i", "PATH=/usr/bin:/bin", f"HOME={self.home}", "QT_QPA_PLATFORM=offscreen"]
        return [*self.enter, *env, "setpriv", f"--reuid={self.UID}", f"--regid={self.UID}", "--clear-groups",
                *argv]

    def test_serves_on_2121_from_a_new_per_user_folder(self):
        added = subprocess.run(self.as_user(program(), "user", "add", "bob", "--rights", "rb"), input=b"secret\n",
                               capture_output=True, timeout=TIMEOUT, cwd="/")
        self.assertEqual(added.returncode, 0, added.stderr)
        folder = os.path.join(self.home, ".local/share/Kestrova/Kestrova Vellim")
        self.assertEqual(os.stat(os.path.join(folder, "accounts.dat")).st_mode & 0o777, 0o600)
        out = os.path.join(self.tmp, "stdout.txt")
        server = spawn(self, self.as_user(program(), "--headless"), out, cwd="/")
        wait_until(lambda: "SERVER START ON IP" in read_text(out) or server.poll() is not None, "the start")
        self.assertIsNone(server.poll(), read_text(out))
        fetched = run([*self.enter, "curl", "-sS", "--max-time", str(TIMEOUT), "-u", "bob:secret",
                       f"ftp://127.0.0.1:2121{self.file}"])
        self.assertEqual(fetched.returncode, 0, fetched.stderr)
        self.assertEqual(fetched.stdout, b"served on the first start\n")
        server.terminate()
        self.assertEqual(server.wait(TIMEOUT), 0)
        self.assertIn("SERVER STOP", read_text(os.path.join(folder, "ftp.log")))
