"""Starting and stopping the headless server, and what it logs; a start refused by the system (a
refused setting or option: the controller's and the settings' tests); what a new data folder
serves, and sharing the whole disk only when asked for."""

import json
import os
import re
import shutil
import subprocess
import signal
import socket
import tempfile
import unittest
from pathlib import Path

from kvharness import (Server, Site, TIMEOUT, free_port, has_ipv6_loopback, program, read_text, run, spawn,
                       wait_until)

START = re.compile(rb"^\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\] SERVER START ON IP 127\.0\.0\.1$")
STOP = re.compile(rb"^\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\] SERVER STOP$")
# Run before the program: the usual umask, so a mode the program sets is its own choice.
USUAL_UMASK = ("sh", "-c", 'umask 022; exec "$0" "$@"')
WHOLE_DISK = "Attenzione: per {} è condiviso tutto il disco (/)"


def mode(path):
    return os.stat(path).st_mode & 0o7777


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

    def test_help_version_and_a_bad_command_line_in_italian_without_a_display(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}

        def kv(*args):
            return subprocess.run([program(), *args], capture_output=True, timeout=TIMEOUT, env=env)

        version, usage = kv("--version"), kv("--help")
        self.assertEqual((version.returncode, usage.returncode), (0, 0))
        self.assertEqual(version.stdout, b"Kestrova Vellim 1.0.0\n")
        text = usage.stdout.decode()
        for part in ("Uso: kestrova", "Opzioni:", "--headless", "--data-dir CARTELLA", "Mostra la versione ed esce.",
                     "sudo adduser NOME kestrova"):  # how to administer the service
            self.assertIn(part, text)
        for english in ("Usage:", "Options:", "Displays"):
            self.assertNotIn(english, text)
        for args, message in ((["--bogus"], "Opzione sconosciuta: --bogus"),
                              (["-x", "--headless"], "Opzione sconosciuta: -x"),
                              (["bogus"], "Comando sconosciuto: bogus (vedere: kestrova help)"),
                              (["--data-dir"], "Manca il valore di --data-dir"),
                              (["--headless=yes"], "L'opzione --headless non vuole un valore"),
                              (["--service", "--headless"], "--service non si usa con --data-dir o --headless")):
            with self.subTest(args=args):
                out = kv(*args)
                self.assertEqual((out.returncode, out.stdout), (2, b""), out.stderr)
                self.assertEqual(out.stderr.decode(), message + "\nkestrova --help elenca le opzioni.\n")


class NewDataFolder(unittest.TestCase):
    """A new data folder and a new home, and nothing typed but an account and a port: the
    database the command line makes (as the window and headless mode make it) shares
    ~/Condivisi, made with it, never the whole disk; "Default" serves the PC itself too; the log
    is its owner's only."""

    def setUp(self):
        self.tmp = self.enterContext(tempfile.TemporaryDirectory(prefix="kv-e2e-new-", ignore_cleanup_errors=True))
        self.home = os.path.join(self.tmp, "home")
        os.mkdir(self.home)
        Path(self.home, "privato.txt").write_text("not shared\n")
        self.data = os.path.join(self.tmp, "data")  # made by the first command
        self.env = {"HOME": self.home, "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "XDG_DATA_HOME": os.path.join(self.home, ".local/share")}

    def kv(self, *args, stdin=b""):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", **self.env)
        return subprocess.run([program(), *args, "--data-dir", self.data], input=stdin, capture_output=True,
                              timeout=TIMEOUT, env=env)

    def curl(self, url):
        return run(["curl", "-sS", "--max-time", str(TIMEOUT), "-u", "bob:secret", url], TIMEOUT + 5)

    def test_serves_the_shared_folder_on_every_address(self):
        self.assertEqual(self.kv("user", "add", "bob", "--rights", "rb", stdin=b"secret\n").returncode, 0)
        shown = {r["impostazione"]: r["valore"] for r in json.loads(self.kv("settings", "show", "--json").stdout)}
        shared = os.path.join(self.home, "Condivisi")
        self.assertEqual((shown["ip"], shown["rootdir"]), ("Default", shared))
        Path(shared, "condiviso.txt").write_text("shared\n")
        port = free_port()
        self.assertEqual(self.kv("settings", "set", "port", str(port)).returncode, 0)

        server = Server(self.data, env=self.env, prefix=USUAL_UMASK)
        self.addCleanup(server.stop)
        self.assertTrue(server.wait_started(), server.stderr())
        # The start names the address to give clients, never "" nor "::".
        start = re.search(r"SERVER START ON IP (.*)", server.stdout()).group(1)
        self.assertNotIn(start.strip(), ("", "::"))
        listing = self.curl(f"ftp://127.0.0.1:{port}/")
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertEqual(listing.stdout.split()[-1:], [b"condiviso.txt"])
        self.assertNotEqual(self.curl(f"ftp://127.0.0.1:{port}/etc/passwd").returncode, 0)
        if has_ipv6_loopback():
            self.assertEqual(self.curl(f"ftp://[::1]:{port}/condiviso.txt").stdout, b"shared\n")
        self.assertNotIn("tutto il disco", server.stdout())
        self.assertEqual(server.stop(), 0)
        self.assertEqual((mode(self.data), mode(os.path.join(self.data, "ftp.log"))), (0o700, 0o600))


class WholeDisk(unittest.TestCase):
    """The whole disk is shared only when the operator asks for it by name, and every start and
    reread says so, naming the command that shares one folder instead."""

    def test_asked_for_by_name_and_warned_at_every_start(self):
        site = Site(self)
        site.db.add_user("bob", "secret", rights="RB", rootdir="/")
        refusal = site.kv_fails("settings", "set", "rootdir", "/")
        self.assertIn("--whole-disk", refusal)
        self.assertEqual(site.db.run("SELECT rootdir FROM settings"), [(site.root,)])
        site.kv_ok("settings", "set", "rootdir", "/", "--whole-disk")
        self.assertEqual(site.db.run("SELECT rootdir FROM settings"), [("/",)])

        server = site.start()
        default = WHOLE_DISK.format("la cartella radice predefinita") + (
            ", compresi i file personali e quelli di sistema. Per condividere solo una cartella: "
            "kestrova settings set rootdir CARTELLA (o Impostazioni, Percorso di default)")
        bob = WHOLE_DISK.format("l'account bob")
        self.assertEqual([server.stdout().count(line) for line in (default, bob)], [1, 1])
        ftp = site.ftp("bob", "secret")  # served all the same
        self.assertIn("/etc/passwd", ftp.nlst("/etc"))
        ftp.quit()
        server.proc.send_signal(signal.SIGHUP)
        wait_until(lambda: read_text(os.path.join(site.data, "ftp.log")).count(bob) == 2, "the reread's warnings")
        self.assertEqual(server.stdout().count(default), 2)


@unittest.skipUnless(os.geteuid() == 0 and all(map(shutil.which, ("unshare", "nsenter", "ip", "setpriv"))),
                     "needs root with unshare, nsenter, ip and setpriv")
class FirstStartOfAUser(unittest.TestCase):
    """A user with an empty home starts the server and types no setting: it makes its database in
    the per-user data folder (private to them, as its log) and serves ~/Condivisi on 2121, ports
    below 1024 not being theirs. It runs in a network namespace of its own whose only interface
    is loopback: 2121 is free there whatever else runs on this machine, no traffic leaves it, and
    "Default" names 127.0.0.1, the PC having no other address (unless a test gives it one)."""

    UID = 47021

    def setUp(self):
        self.tmp = self.enterContext(tempfile.TemporaryDirectory(prefix="kv-e2e-first-", ignore_cleanup_errors=True))
        os.chmod(self.tmp, 0o755)
        self.home = os.path.join(self.tmp, "home")
        os.mkdir(self.home)
        self.file = os.path.join(self.home, "hello.txt")
        Path(self.file).write_text("never shared\n")
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
                *USUAL_UMASK, *argv]

    def test_serves_on_2121_from_a_new_per_user_folder(self):
        added = subprocess.run(self.as_user(program(), "user", "add", "bob", "--rights", "rb"), input=b"secret\n",
                               capture_output=True, timeout=TIMEOUT, cwd="/")
        self.assertEqual(added.returncode, 0, added.stderr)
        folder = os.path.join(self.home, ".local/share/Kestrova/Kestrova Vellim")
        self.assertEqual(mode(os.path.join(folder, "accounts.dat")), 0o600)
        self.assertEqual(mode(folder), 0o700)
        shared = os.path.join(self.home, "Condivisi")
        Path(shared, "hello.txt").write_text("served on the first start\n")
        out = os.path.join(self.tmp, "stdout.txt")
        server = spawn(self, self.as_user(program(), "--headless"), out, cwd="/")
        wait_until(lambda: "SERVER START ON IP" in read_text(out) or server.poll() is not None, "the start")
        self.assertIsNone(server.poll(), read_text(out))
        self.assertTrue([l for l in read_text(out).splitlines() if START.match(l.encode())], read_text(out))

        def fetch(path):
            return run([*self.enter, "curl", "-sS", "--max-time", str(TIMEOUT), "-u", "bob:secret",
                        f"ftp://127.0.0.1:2121{path}"])
        fetched = fetch("/hello.txt")
        self.assertEqual(fetched.returncode, 0, fetched.stderr)
        self.assertEqual(fetched.stdout, b"served on the first start\n")
        self.assertNotEqual(fetch(self.file).returncode, 0)  # the home is not shared
        server.terminate()
        self.assertEqual(server.wait(TIMEOUT), 0)
        self.assertIn("SERVER STOP", read_text(os.path.join(folder, "ftp.log")))
        self.assertEqual(mode(os.path.join(folder, "ftp.log")), 0o600)

    def test_default_is_reached_on_every_address_of_the_pc(self):
        """With a second address (on a pair of virtual interfaces inside the namespace: nothing
        leaves it), "Default" is reached on it, on 127.0.0.1 and on ::1, and names it."""
        address = "192.0.2.7"
        for argv in (["ip", "link", "add", "kva", "type", "veth", "peer", "name", "kvb"],
                     ["ip", "addr", "add", f"{address}/24", "dev", "kva"],
                     ["ip", "link", "set", "kva", "up"], ["ip", "link", "set", "kvb", "up"]):
            made = run([*self.enter, *argv])
            if made.returncode != 0:
                self.skipTest(f"no virtual interface may be made here: {made.stderr!r}")
        added = subprocess.run(self.as_user(program(), "user", "add", "bob", "--rights", "rb"), input=b"secret\n",
                               capture_output=True, timeout=TIMEOUT, cwd="/")
        self.assertEqual(added.returncode, 0, added.stderr)
        Path(self.home, "Condivisi", "hello.txt").write_text("everywhere\n")
        out = os.path.join(self.tmp, "stdout.txt")
        server = spawn(self, self.as_user(program(), "--headless"), out, cwd="/")
        wait_until(lambda: "SERVER START ON IP" in read_text(out) or server.poll() is not None, "the start")
        self.assertIsNone(server.poll(), read_text(out))
        self.assertIn(f"SERVER START ON IP {address}", read_text(out))
        for host in (address, "127.0.0.1", "[::1]"):
            fetched = run([*self.enter, "curl", "-sS", "--max-time", str(TIMEOUT), "-u", "bob:secret",
                           f"ftp://{host}:2121/hello.txt"])
            self.assertEqual((host, fetched.returncode, fetched.stdout), (host, 0, b"everywhere\n"), fetched.stderr)
        server.terminate()
        self.assertEqual(server.wait(TIMEOUT), 0)
