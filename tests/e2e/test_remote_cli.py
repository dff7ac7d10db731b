"""The command line against a server over its TLS administration port, on loopback, as from
another PC (the channel's TLS, login and refusals: test_remotelistener): a first connection
trusted with --trust by the fingerprint `admin fingerprint` prints and status tells, remembered
in the user's known_servers, a certificate made anew refused with status 4 before anything is
sent, an account added remotely that then logs in over FTP and SFTP, a rule that runs a program
refused to a remote administrator, a wrong password refused and counted towards a ban of the
address, a plain FTP port taken for the administration's refused in the handshake; and, where root
can make a network namespace, the default allowed list on addresses that are not loopback."""

import os
import re
import shutil
import stat
import subprocess
import tempfile
import unittest

from kvharness import TIMEOUT, free_port, program, read_text, run, spawn, wait_until
from sftpharness import close_even_if_cut, connect, sftp_site

ADMIN_PASSWORD = "amministra-qui"


class RemoteCommandLine(unittest.TestCase):
    def setUp(self):
        self.admin_port = free_port()
        self.site = sftp_site(self, admin_port=self.admin_port, ban_attempts=3, ban_window_minutes=10,
                              ban_minutes=10)
        self.site.kv_ok("admin", "passwd", stdin=ADMIN_PASSWORD + "\n")
        self.site.start()
        self.home = tempfile.mkdtemp(prefix="kv-e2e-home-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.known_servers = os.path.join(self.home, "config", "Kestrova Vellim", "known_servers")

    def fingerprint(self):
        text = self.site.kv_ok("admin", "fingerprint").stdout.decode()
        return re.search(r"SHA256:[A-Za-z0-9+/]+", text).group(0)

    def remote(self, *args, stdin="", password=ADMIN_PASSWORD, port=None):
        """The program's command line against the site's administration port, as a user whose
        home is self.home, with no terminal; `password` in KESTROVA_ADMIN_PASSWORD unless None."""
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=self.home,
                   XDG_CONFIG_HOME=os.path.join(self.home, "config"))
        env.pop("KESTROVA_ADMIN_PASSWORD", None)
        if password is not None:
            env["KESTROVA_ADMIN_PASSWORD"] = password
        return subprocess.run([program(), "--remote", f"127.0.0.1:{port or self.admin_port}", *args],
                              input=stdin.encode(), capture_output=True, timeout=TIMEOUT, env=env)

    def remote_ok(self, *args, **how):
        result = self.remote(*args, **how)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        return result.stdout.decode()

    def remote_fails(self, *args, code=1, **how):
        result = self.remote(*args, **how)
        self.assertEqual(result.returncode, code, (result.stdout.decode(), result.stderr.decode()))
        return result.stderr.decode()

    def remote_logins(self):
        return self.site.server.stdout().count("Amministrazione remota: accesso da")

    def test_trust_is_remembered_and_a_new_certificate_is_refused(self):
        first = self.fingerprint()
        refused = self.remote_fails("status")  # unknown, no terminal, no --trust
        self.assertIn("--trust " + first, refused)
        self.assertFalse(os.path.exists(self.known_servers))
        self.assertEqual(self.remote_logins(), 0)

        # The fingerprint `admin fingerprint` prints is the one the client sees, and status tells it.
        self.assertIn(first, self.remote_ok("--trust", first, "status"))
        local = self.site.kv_json("status")
        self.assertEqual((local["adminFingerprint"], local["adminPort"]), (first, self.admin_port))
        self.assertIn(f"127.0.0.1:{self.admin_port} {first}\n", read_text(self.known_servers))
        self.assertEqual(stat.S_IMODE(os.stat(self.known_servers).st_mode), 0o600)
        self.remote_ok("who")  # remembered: no --trust needed

        self.site.stop()
        for name in ("admin-cert.pem", "admin-key.pem"):
            os.unlink(os.path.join(self.site.data, name))
        self.site.start()
        second = self.fingerprint()
        self.assertNotEqual(first, second)
        changed = self.remote_fails("status", code=4)
        self.assertIn(first, changed)
        self.assertIn(second, changed)
        self.assertEqual(self.remote_logins(), 0)  # nothing sent: not even the password
        self.assertIn(first, read_text(self.known_servers))

    def test_what_only_the_server_holds_is_not_reached_remotely(self):
        self.assertIn("handshake TLS", self.remote_fails("status", code=3, port=self.site.port))  # FTP
        trust = ("--trust", self.fingerprint())
        # The copy holds neither the administration password nor the certificate.
        self.assertIn("non con --remote", self.remote_fails(*trust, "admin", "passwd", code=2,
                                                            stdin="nuova\n"))
        self.remote_ok(*trust, "status")  # the password stays the one the server has

    def test_an_account_added_remotely_logs_in_over_ftp_and_sftp(self):
        trust = ("--trust", self.fingerprint())
        self.assertIn('"bob"', self.remote_ok(*trust, "user", "add", "bob", "--rights", "rb",
                                               stdin="primo\n"))
        with self.site.ftp("bob", "primo") as ftp:
            self.assertIn("hello.txt", ftp.nlst())
        # The administration password and the account's from one standard input, in that order.
        self.remote_ok("--admin-password-file", "-", "user", "passwd", "bob",
                       stdin=f"{ADMIN_PASSWORD}\nsecondo\n", password=None)
        with self.site.ftp("bob", "secondo") as ftp:
            self.assertIn("hello.txt", ftp.nlst())
        sftp = connect(self.site, "bob", "secondo")
        try:
            self.assertIn("hello.txt", sftp.listdir("."))
        finally:
            close_even_if_cut(sftp)
        self.assertEqual([a["login"] for a in self.site.kv_json("user", "list")], ["bob"])

    def test_a_program_rule_is_refused_to_a_remote_administrator(self):
        trust = ("--trust", self.fingerprint())
        why = self.remote_fails(*trust, "action", "add", "upload", "--run", "/bin/true")
        self.assertTrue(why.strip(), why)
        self.assertEqual(self.site.kv_json("action", "list"), [])
        self.remote_ok("action", "add", "upload", "--mail", "ops@example.org")
        self.assertEqual(len(self.site.kv_json("action", "list")), 1)

    def test_a_wrong_password_is_refused_and_counted(self):
        trust = ("--trust", self.fingerprint())
        for _ in range(3):  # ban_attempts: the last one bans, and is still told why
            why = self.remote_fails(*trust, "status", password="sbagliata")
            self.assertIn("Password di amministrazione errata", why)
        wait_until(lambda: any(b["address"] == "127.0.0.1" for b in self.site.kv_json("ban", "list")),
                   "the address banned")
        self.remote_fails("status")  # banned: even the right password is refused
        self.assertEqual(self.remote_logins(), 0)


@unittest.skipUnless(os.geteuid() == 0 and all(map(shutil.which, ("unshare", "nsenter", "ip"))),
                     "needs root with unshare, nsenter and ip")
class AddressesOfAnotherPc(unittest.TestCase):
    """In a network namespace of its own (nothing leaves it) the server has two more addresses:
    one of a private range, which the default allowed list admits, and a documentation one, which
    it does not. The command line connects to each, so the server sees it come from that address."""

    PRIVATE, PUBLIC = "10.81.0.7", "192.0.2.7"

    def setUp(self):
        self.tmp = self.enterContext(tempfile.TemporaryDirectory(prefix="kv-e2e-remote-ns-"))
        holder = subprocess.Popen(["unshare", "--net", "--", "sleep", "120"], stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (holder.kill(), holder.wait(TIMEOUT)))
        ours, namespace = os.readlink("/proc/self/ns/net"), f"/proc/{holder.pid}/ns/net"
        wait_until(lambda: holder.poll() is not None or os.readlink(namespace) != ours, "the namespace")
        if holder.poll() is not None:
            self.skipTest("no network namespace may be made here")
        self.enter = ["nsenter", f"--net={namespace}"]
        for argv in (["ip", "link", "set", "lo", "up"],
                     ["ip", "link", "add", "kva", "type", "veth", "peer", "name", "kvb"],
                     ["ip", "addr", "add", f"{self.PRIVATE}/24", "dev", "kva"],
                     ["ip", "addr", "add", f"{self.PUBLIC}/24", "dev", "kva"],
                     ["ip", "link", "set", "kva", "up"], ["ip", "link", "set", "kvb", "up"]):
            made = run([*self.enter, *argv])
            if made.returncode != 0:
                self.skipTest(f"no virtual interface may be made here: {made.stderr!r}")
        self.data = os.path.join(self.tmp, "data")
        self.home = os.path.join(self.tmp, "home")
        for words in (("settings", "set", "port", "2121"), ("settings", "set", "rootdir", self.tmp),
                      ("option", "set", "admin_port", "14021"), ("option", "set", "sftp_port", "0")):
            self.kv(*words)
        self.kv("admin", "passwd", stdin=ADMIN_PASSWORD + "\n")
        self.fingerprint = self.kv("admin", "fingerprint").stdout.decode().strip()
        out = os.path.join(self.tmp, "server.txt")
        server = spawn(self, [*self.enter, program(), "--headless", "--data-dir", self.data], out)
        wait_until(lambda: "Amministrazione remota in ascolto" in read_text(out) or server.poll() is not None,
                   "the administration listening")
        self.assertIsNone(server.poll(), read_text(out))

    def kv(self, *words, stdin=None):
        result = run([*self.enter, program(), *words, "--data-dir", self.data], stdin=stdin)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def remote(self, host, *words):
        env = ["env", f"HOME={self.home}", f"XDG_CONFIG_HOME={self.home}", "QT_QPA_PLATFORM=offscreen",
               f"KESTROVA_ADMIN_PASSWORD={ADMIN_PASSWORD}"]
        return run([*self.enter, *env, program(), "--remote", host, "--trust", self.fingerprint, *words])

    def test_a_private_address_is_admitted_and_another_refused(self):
        admitted = self.remote(self.PRIVATE, "status")
        self.assertEqual(admitted.returncode, 0, admitted.stderr)
        self.assertIn(self.fingerprint, admitted.stdout.decode())
        refused = self.remote(self.PUBLIC, "status")
        self.assertEqual(refused.returncode, 1, refused.stderr)
        self.assertIn(f"Indirizzo {self.PUBLIC} non ammesso", refused.stderr.decode())


if __name__ == "__main__":
    unittest.main()
