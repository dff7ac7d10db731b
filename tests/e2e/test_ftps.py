"""FTPS through the real program: options rows switch TLS on (required, with an implicit port), the
first start writes a self-signed certificate, and curl and lftp, trusting it, move files; a data
connection that resumes no session of its client is refused (and nothing lands on standard error);
lftp in active mode over IPv6 names the unspecified address and is served at once."""

import ftplib
import os
import ssl
import time
import unittest
from pathlib import Path

from kvharness import SiteTestCase, TIMEOUT, free_port, has_ipv6_loopback, run

LFTP_TLS = ("set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:ca-file {cert};"
            " set ssl:check-hostname false;")


def client_context():
    c = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    c.check_hostname = False
    c.verify_mode = ssl.CERT_NONE
    return c


class ResumingFTP(ftplib.FTP_TLS):
    """Data connections resume the session of this control connection."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, session=self.sock.session)
        return conn, size


class Ftps(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        cls.implicit = free_port()
        site.db.add_user("bob", "x", rights="RWDBM")
        site.db.set_options(tls="required", tls_implicit_port=cls.implicit)
        cls.cert = os.path.join(site.data, "kestrova-cert.pem")  # generated at the start

    def test_curl_explicit_and_implicit_round_trip(self):
        payload = os.urandom(300_000)
        src = os.path.join(self.site.tmp, "up.bin")
        Path(src).write_bytes(payload)
        base = ["curl", "-s", "-S", "--max-time", str(TIMEOUT), "-u", "bob:x", "--cacert", self.cert]
        explicit = f"ftp://127.0.0.1:{self.site.port}/"
        implicit = f"ftps://127.0.0.1:{self.implicit}/"
        out = run(base + ["--ssl-reqd", "-T", src, explicit + "up.bin"], TIMEOUT + 5)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(Path(self.site.root, "up.bin").read_bytes(), payload)
        for url, extra in ((explicit, ["--ssl-reqd"]), (implicit, [])):
            out = run(base + extra + [url + "up.bin"], TIMEOUT + 5)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stdout, payload)
        log = self.site.log_file().decode("utf-8", "replace")
        for part in ("TLS TLSv1.3 ", "AUTH ", "PROT P"):
            self.assertIn(part, log)

    def test_long_run_over_one_connection_never_refused(self):
        # TLS 1.3 tickets: each data connection resumes a fresh one, a thousand times over; a
        # nested folder of it comes back down the same way.
        local = os.path.join(self.site.tmp, "thousand")
        os.makedirs(local)
        for i in range(997):
            Path(local, f"f{i:04d}").write_bytes(b"%d\n" % i)
        os.makedirs(os.path.join(local, "a", "b"))
        nested = {"a/one.txt": b"1" * 5000, "a/two.bin": os.urandom(70_000), "a/b/three": b""}
        for name, data in nested.items():
            Path(local, name).write_bytes(data)
        started = time.monotonic()
        logged = len(self.site.log_file())
        back = os.path.join(self.site.tmp, "back")
        tls = LFTP_TLS.format(cert=self.cert)
        for mirror in (f"mirror -R {local} /thousand", f"mirror /thousand/a {back}/a"):
            out = self.site.lftp("bob", "x", f"{tls} {mirror}")
            self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(len(os.listdir(os.path.join(self.site.root, "thousand"))), 998)
        for name, data in nested.items():
            for top in (os.path.join(self.site.root, "thousand"), back):
                self.assertEqual(Path(top, name).read_bytes(), data, name)
        self.assertLess(time.monotonic() - started, 120)
        self.assertNotIn("425 ", self.site.log_file()[logged:].decode("utf-8", "replace"))

    def login(self, cls=ResumingFTP):
        f = cls(context=client_context(), timeout=TIMEOUT)
        f.connect("127.0.0.1", self.site.port)
        f.auth()
        f.login("bob", "x")
        f.prot_p()
        return f

    def outcome(self, f):
        """"ok", or the code of the reply that refused the transfer."""
        try:
            f.retrbinary("RETR hello.txt", lambda b: None)
            return "ok"
        except ftplib.error_temp as e:
            return str(e)[:3]
        except (ssl.SSLError, OSError):  # the data connection closed under the client
            try:
                return f.getresp()[:3]
            except ftplib.all_errors as e:
                return str(e)[:3]

    def test_data_connection_must_resume_a_session_of_its_client(self):
        # Which sessions a data connection may resume: the engine's tests. Here the option's
        # default reaches the engine, and a refusal leaves no Qt warning behind.
        mine, stock = self.login(), self.login(ftplib.FTP_TLS)  # stock ftplib never resumes
        self.assertEqual([self.outcome(mine), self.outcome(stock)], ["ok", "425"])
        for f in (mine, stock):
            f.quit()
        self.assertEqual(self.site.server.stderr(), "")


@unittest.skipUnless(has_ipv6_loopback(), "no IPv6 loopback")
class FtpsActiveIpv6(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "x", rights="RWDBM")
        site.db.settings(ip="::1")
        site.db.set_options(tls="on")
        cls.cert = os.path.join(site.data, "kestrova-cert.pem")

    def test_lftp_active_mirror_on_ipv6(self):
        # lftp names "::" in EPRT from its second data connection on: the client's own address.
        local = os.path.join(self.site.tmp, "tree")
        os.makedirs(os.path.join(local, "sub"))
        files = {f"sub/f{i}": os.urandom(i * 1000) for i in range(6)}
        for name, data in files.items():
            Path(local, name).write_bytes(data)
        back = os.path.join(self.site.tmp, "back")
        tls = LFTP_TLS.format(cert=self.cert)
        started = time.monotonic()
        for mirror in (f"mirror -R {local} /tree", f"mirror /tree {back}"):
            out = run(["lftp", "-c", f"set net:max-retries 1; set net:timeout {TIMEOUT}; {tls}"
                       f" set ftp:passive-mode false; open -u bob,x -p {self.site.port} [::1];"
                       f" {mirror}"], TIMEOUT * 3)
            self.assertEqual(out.returncode, 0, out.stderr)
        self.assertLess(time.monotonic() - started, TIMEOUT)  # no retry after a refusal
        for name, data in files.items():
            for top in (os.path.join(self.site.root, "tree"), back):
                self.assertEqual(Path(top, name).read_bytes(), data, name)
        refused = [line for line in self.site.server.stdout().splitlines()
                   if "connessione dati verso" in line and "2001:db8::1" not in line]
        self.assertEqual(refused, [])

    def test_eprt_to_another_address_refused(self):
        f = ftplib.FTP(timeout=TIMEOUT)
        f.connect("::1", self.site.port)
        f.login("bob", "x")
        with self.assertRaises(ftplib.error_perm) as refused:
            f.sendcmd("EPRT |2|2001:db8::1|40000|")
        self.assertTrue(str(refused.exception).startswith("500 "), refused.exception)
        self.assertEqual(f.sendcmd("EPRT |2|::|40000|")[:3], "200")
        f.quit()
        wait_for = "connessione dati verso 2001:db8::1 porta 40000 rifiutata"
        self.assertIn(wait_for, self.site.server.stdout())


if __name__ == "__main__":
    unittest.main()
