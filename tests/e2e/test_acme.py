"""Certificates from an ACME CA (Debian's pebble on loopback) through the real program headless: issuance
by http-01 and by tls-alpn-01, ftplib, curl and lftp verifying the FTPS certificate against pebble's root;
renewal by time with a new session seeing the new certificate while an open one keeps transferring;
pebble refusing half the nonces; the CA unable to reach the challenge port and the port held by another
program: the failure explained, retried later, the certificate in use kept; `acme` refused with an
operator's certificate; NOOP answered at once while an order runs; `kestrova acme renew` and
`kestrova status` on the way."""

import datetime
import json
import ftplib
import os
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import unittest

from kvharness import TIMEOUT, Control, Site, free_port, lftp, program, run
from pebbleharness import Pebble, installed

DOMAIN = "kestrova.test"
ISSUE_TIMEOUT = 90  # seconds an order may take, pebble's validation sleeps included


ADMIN_PASSWORD = "amministra-qui"


def with_remote_admin(test, site):
    """Opens `site`'s administration port (before its start); returns a function running the
    command line against it, as from another PC, the certificate trusted by its fingerprint."""
    port = free_port()
    site.db.set_options(admin_port=port)
    site.kv_ok("admin", "passwd", stdin=ADMIN_PASSWORD + "\n")
    home = tempfile.mkdtemp(prefix="kv-e2e-home-")
    test.addCleanup(shutil.rmtree, home, True)

    def remote(*args, timeout=TIMEOUT):
        fingerprint = re.search(r"SHA256:[A-Za-z0-9+/]+",
                                site.kv_ok("admin", "fingerprint").stdout.decode()).group(0)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=home, XDG_CONFIG_HOME=os.path.join(home, "c"),
                   KESTROVA_ADMIN_PASSWORD=ADMIN_PASSWORD)
        return subprocess.run([program(), "--remote", f"127.0.0.1:{port}", "--trust", fingerprint, *args],
                              capture_output=True, timeout=timeout, env=env)
    return remote


_catalog_has_acme = None


def catalog_has_acme():
    """Whether the program knows the acme options (a build without the certificate keeper does not)."""
    global _catalog_has_acme
    if _catalog_has_acme is None:
        folder = tempfile.mkdtemp(prefix="kv-e2e-acme-")
        try:
            result = subprocess.run([program(), "option", "get", "acme", "--data-dir", folder],
                                    capture_output=True, timeout=TIMEOUT,
                                    env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            _catalog_has_acme = result.returncode == 0
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    return _catalog_has_acme


def utc(text):
    return datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))


class VerifyingFtps(ftplib.FTP_TLS):
    """FTPS verifying the server's certificate for DOMAIN against `root`; data connections resume the
    control connection's session."""

    def __init__(self, port, root):
        context = ssl.create_default_context(cafile=root)
        super().__init__(context=context, timeout=TIMEOUT)
        self.connect("127.0.0.1", port)
        self.host = DOMAIN  # the name the certificate must carry
        self.auth()
        self.login("bob", "x")
        self.prot_p()

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        return self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session), size

    def serial(self):
        return int(self.sock.getpeercert()["serialNumber"], 16)


class AcmeCase(unittest.TestCase):
    def setUp(self):
        if not catalog_has_acme():
            self.skipTest("this build has no acme options")

    def site(self, pebble, challenge="http-01", http_port=None, tls_port=None, **options):
        """A site with FTPS on and ACME asking `pebble`, its challenge listeners on the ports given."""
        site = Site(self)
        site.db.add_user("bob", "x", rights="RWDBM")
        site.db.set_options(tls="on", tls_session_reuse=1, acme="on", acme_domains=DOMAIN,
                            acme_email="admin@example.org", acme_directory=pebble.directory_url(),
                            acme_ca_file=pebble.tls_certificate(), acme_challenge=challenge,
                            acme_http_port=http_port or free_port(), acme_tls_port=tls_port or free_port(),
                            **options)
        return site

    def acme(self, site):
        return site.kv_json("status")["acme"]

    def wait_acme(self, site, check, what, timeout=ISSUE_TIMEOUT, failure_ends=False):
        deadline = time.monotonic() + timeout
        while True:
            state = self.acme(site)
            if check(state):
                return state
            # A failed attempt is retried only minutes later: say so now rather than at the deadline.
            self.assertFalse(failure_ends and state["lastError"] and not state["working"],
                             f"the attempt failed while waiting for {what}: {state}")
            self.assertLess(time.monotonic(), deadline, f"timed out waiting for {what}: {state}\n"
                            + site.server.stdout()[-3000:])
            time.sleep(0.2)

    def issued(self, site):
        return self.wait_acme(site, lambda s: s["names"] and not s["working"], "a certificate",
                               failure_ends=True)

    def check_issued(self, site, pebble):
        state = self.issued(site)
        self.assertEqual(state["names"], [DOMAIN])
        self.assertEqual(state["lastError"], "")
        self.assertGreater(utc(state["notAfter"]), datetime.datetime.now(datetime.timezone.utc))
        self.assertTrue(state["issuer"])
        client = VerifyingFtps(site.port, pebble.root())
        self.addCleanup(client.close)
        self.assertEqual(client.serial(), int(state["serial"], 16))
        self.assertIn("hello.txt", client.nlst())
        for name in ("account-key.pem", "cert.pem", "key.pem"):
            path = os.path.join(site.data, "acme", name)
            self.assertEqual(os.stat(path).st_mode & 0o777, 0o600, name)
        self.assertIn(DOMAIN, "\n".join(self.status_lines(site)))
        return state

    def status_lines(self, site):
        return site.kv_ok("status").stdout.decode().splitlines()


@unittest.skipUnless(installed(), "pebble is not installed")
class Issuance(AcmeCase):
    def test_http01(self):
        http_port = free_port()
        pebble = Pebble(self, http_port, free_port())
        site = self.site(pebble, "http-01", http_port=http_port)
        site.start()
        self.check_issued(site, pebble)

    def test_tls_alpn01_and_clients_that_verify(self):
        tls_port = free_port()
        pebble = Pebble(self, free_port(), tls_port)
        site = self.site(pebble, "tls-alpn-01", tls_port=tls_port)
        site.start()
        self.check_issued(site, pebble)
        # curl checks the chain and the name, as it does by default for any FTPS server.
        listed = run(["curl", "-s", "-S", "--max-time", str(TIMEOUT), "--ssl-reqd", "--cacert", pebble.root(),
                      "--resolve", f"{DOMAIN}:{site.port}:127.0.0.1", "-u", "bob:x",
                      f"ftp://{DOMAIN}:{site.port}/"], TIMEOUT + 5)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertIn(b"hello.txt", listed.stdout)
        # lftp checks the chain (it can only reach the server by address here, not by the name).
        listed = lftp(f"set ssl:ca-file {pebble.root()}; set ssl:verify-certificate yes; "
                      "set ssl:check-hostname no; set ftp:ssl-force yes; set ftp:ssl-protect-data yes; "
                      f"open -u bob,x -p {site.port} 127.0.0.1; cls")
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertIn(b"hello.txt", listed.stdout)

    def test_half_the_nonces_refused(self):
        http_port = free_port()
        pebble = Pebble(self, http_port, free_port(), nonce_reject=50)
        site = self.site(pebble, "http-01", http_port=http_port)
        site.start()
        self.check_issued(site, pebble)

    def test_renew_command_waits_for_the_outcome(self):
        http_port = free_port()
        pebble = Pebble(self, http_port, free_port())
        site = self.site(pebble, "http-01", http_port=http_port)
        remote = with_remote_admin(self, site)
        site.start()
        first = self.check_issued(site, pebble)
        out = site.kv("acme", "renew", timeout=ISSUE_TIMEOUT + 10)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertIn("Certificato rinnovato", out.stdout.decode())
        state = self.acme(site)
        self.assertNotEqual(state["serial"], first["serial"])
        self.assertGreater(state["attempts"], first["attempts"])
        # The same from another PC, through the administration port.
        out = remote("acme", "renew", "--json", timeout=ISSUE_TIMEOUT + 10)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertNotIn(json.loads(out.stdout)["serial"], (first["serial"], state["serial"]))


@unittest.skipUnless(installed(), "pebble is not installed")
class Renewal(AcmeCase):
    def test_by_time_while_a_session_transfers(self):
        http_port = free_port()
        pebble = Pebble(self, http_port, free_port(), validity=40)
        site = self.site(pebble, "http-01", http_port=http_port, acme_renew_percent=50)
        site.sparse("big.bin", 64 << 20)
        site.start()
        first = self.check_issued(site, pebble)
        old = VerifyingFtps(site.port, pebble.root())
        self.addCleanup(old.close)
        self.assertEqual(old.serial(), int(first["serial"], 16))
        old.voidcmd("TYPE I")
        data = old.transfercmd("RETR big.bin")
        received = 0
        deadline = time.monotonic() + 60
        renewed = None
        # Read slowly until the certificate is renewed, then the rest at full speed.
        while True:
            chunk = data.recv(1 << 16)
            if not chunk:
                break
            received += len(chunk)
            if renewed is None:
                state = self.acme(site)
                if state["serial"] != first["serial"] and not state["working"]:
                    renewed = state
                else:
                    self.assertLess(time.monotonic(), deadline, f"no renewal: {state}")
                    time.sleep(0.2)
        data.close()
        self.assertTrue(old.voidresp().startswith("226"))
        self.assertEqual(received, 64 << 20)
        self.assertIsNotNone(renewed, "the transfer ended before the renewal")
        self.assertEqual(old.size("big.bin"), 64 << 20)
        new = VerifyingFtps(site.port, pebble.root())
        self.addCleanup(new.close)
        self.assertEqual(new.serial(), int(renewed["serial"], 16))
        self.assertTrue(os.path.exists(os.path.join(site.data, "acme", "previous-cert.pem")))


@unittest.skipUnless(installed(), "pebble is not installed")
class Failures(AcmeCase):
    def test_ca_cannot_reach_the_challenge_port(self):
        # Pebble looks on a port nothing listens on, as when the router forwards nothing.
        http_port = free_port()
        pebble = Pebble(self, free_port(), free_port())
        site = self.site(pebble, "http-01", http_port=http_port)
        site.start()
        state = self.wait_acme(site, lambda s: s["lastError"] and not s["working"], "the failure")
        # The port the router must forward (80, or as configured) and to which PC.
        self.assertRegex(state["lastError"], r"la porta \d+ del router deve essere inoltrata")
        self.assertEqual(state["names"], [])
        self.assertGreater(utc(state["nextAttempt"]) - datetime.datetime.now(datetime.timezone.utc),
                           datetime.timedelta(minutes=2))
        self.assertIn("Ultimo errore:", "\n".join(self.status_lines(site)))
        # FTPS goes on with the self-signed certificate.
        ftp = ftplib.FTP_TLS(context=ssl._create_unverified_context(), timeout=TIMEOUT)
        ftp.connect("127.0.0.1", site.port)
        self.addCleanup(ftp.close)
        ftp.auth()
        self.assertTrue(ftp.login("bob", "x").startswith("230"))

    def test_challenge_port_in_use_keeps_the_certificate(self):
        http_port = free_port()
        pebble = Pebble(self, http_port, free_port())
        site = self.site(pebble, "http-01", http_port=http_port)
        site.start()
        first = self.check_issued(site, pebble)
        holder = socket.socket()
        self.addCleanup(holder.close)
        holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        holder.bind(("0.0.0.0", http_port))
        holder.listen()
        reason = site.kv_fails("acme", "renew", timeout=ISSUE_TIMEOUT + 10)
        self.assertIn(str(http_port), reason)
        state = self.acme(site)
        self.assertEqual(state["serial"], first["serial"])
        self.assertTrue(state["lastError"])
        wait = utc(state["nextAttempt"]) - datetime.datetime.now(datetime.timezone.utc)
        self.assertGreater(wait, datetime.timedelta(minutes=2))
        self.assertLess(wait, datetime.timedelta(minutes=15))
        client = VerifyingFtps(site.port, pebble.root())
        self.addCleanup(client.close)
        self.assertEqual(client.serial(), int(first["serial"], 16))


@unittest.skipUnless(installed(), "pebble is not installed")
class Responsiveness(AcmeCase):
    def test_noop_p99_while_an_order_runs(self):
        http_port = free_port()
        pebble = Pebble(self, http_port, free_port(), va_sleep=True)  # validation waits up to 15 s
        site = self.site(pebble, "http-01", http_port=http_port)
        site.start()
        self.wait_acme(site, lambda s: s["working"] or s["names"], "the order", timeout=TIMEOUT)
        control = Control(site.port)
        self.addCleanup(control.close)
        self.assertTrue(control.command("USER bob").startswith("331"))
        self.assertTrue(control.command("PASS x").startswith("230"))
        times = []
        for _ in range(300):
            reply, took = control.timed("NOOP")
            self.assertTrue(reply.startswith("200"), reply)
            times.append(took)
            time.sleep(0.005)
        still = self.acme(site)
        times.sort()
        p99 = times[int(len(times) * 0.99) - 1]
        self.assertLess(p99, 0.050, f"p99 {p99 * 1000:.1f} ms")
        if not still["working"] and not still["names"]:
            self.skipTest("the order ended before the NOOPs did: " + str(still))


class Refusals(unittest.TestCase):
    def test_acme_with_an_operators_certificate(self):
        if not catalog_has_acme():
            self.skipTest("this build has no acme options")
        site = Site(self)
        cert, key = os.path.join(site.tmp, "own-cert.pem"), os.path.join(site.tmp, "own-key.pem")
        made = subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                               "-nodes", "-days", "2", "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                              capture_output=True, timeout=30)
        self.assertEqual(made.returncode, 0, made.stderr)
        site.kv_ok("option", "set", "tls_certificate", cert)
        site.kv_ok("option", "set", "tls_private_key", key)
        reason = site.kv_fails("option", "set", "acme", "on")
        self.assertIn("certificat", reason)
        self.assertEqual(site.kv_ok("option", "get", "acme").stdout.decode().strip(), "off")

    def test_renew_without_server_or_with_acme_off(self):
        site = Site(self)
        self.assertIn("Nessun server in funzione", site.kv_fails("acme", "renew", code=3))
        site.db.add_user("bob", "x", rights="RB")
        remote = with_remote_admin(self, site)
        site.start()
        self.assertIn("non sono attivi", site.kv_fails("acme", "renew"))
        out = remote("acme", "renew")
        self.assertEqual(out.returncode, 1, out.stderr)
        self.assertIn("non sono attivi", out.stderr.decode())
        self.assertIsNone(site.kv_json("status").get("acme"))
        self.assertNotIn("Certificato ACME", site.kv_ok("status").stdout.decode())
        self.assertEqual(site.kv("acme", "now").returncode, 2)
