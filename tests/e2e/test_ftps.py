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
    """Data connections resume the session of `borrow` (default: this control connection)."""
    borrow = None

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, session=(self.borrow or self).sock.session)
        return conn, size


class Ftps(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        cls.implicit = free_port()
        site.db.add_user("bob", "x", rights="RWDBM")
        site.db.add_user("carl", "y", rights="R")
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

    def test_lftp_mirror_both_ways(self):
        local = os.path.join(self.site.tmp, "tree")
        os.makedirs(os.path.join(local, "a", "b"))
        files = {"one.txt": b"1" * 5000, "a/two.bin": os.urandom(70_000), "a/b/three": b""}
        for name, data in files.items():
            Path(local, name).write_bytes(data)
        tls = LFTP_TLS.format(cert=self.cert)
        back = os.path.join(self.site.tmp, "back")
        for mirror in (f"mirror -R {local} /tree", f"mirror /tree {back}"):
            out = self.site.lftp("bob", "x", f"{tls} {mirror}")
            self.assertEqual(out.returncode, 0, out.stderr)
        for name, data in files.items():
            for top in (os.path.join(self.site.root, "tree"), back):
                self.assertEqual(Path(top, name).read_bytes(), data, name)

    def test_long_run_over_one_connection_never_refused(self):
        # TLS 1.3 tickets: each data connection resumes a fresh one, a thousand times over.
        local = os.path.join(self.site.tmp, "thousand")
        os.makedirs(local)
        for i in range(1000):
            Path(local, f"f{i:04d}").write_bytes(b"%d\n" % i)
        started = time.monotonic()
        logged = len(self.site.log_file())
        out = self.site.lftp("bob", "x", f"{LFTP_TLS.format(cert=self.cert)} mirror -R {local} /thousand")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(len(os.listdir(os.path.join(self.site.root, "thousand"))), 1000)
        self.assertLess(time.monotonic() - started, 120)
        self.assertNotIn("425 ", self.site.log_file()[logged:].decode("utf-8", "replace"))

    def login(self, user="bob", password="x", source=None, ctx=None):
        f = ResumingFTP(context=ctx or client_context(), timeout=TIMEOUT,
                        source_address=(source, 0) if source else None)
        f.connect("127.0.0.1", self.site.port)
        f.auth()
        f.login(user, password)
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
            return self.late_reply(f)

    def late_reply(self, f):
        try:
            return f.getresp()[:3]
        except ftplib.all_errors as e:
            return str(e)[:3]

    def test_data_connection_must_resume_a_session_of_its_client(self):
        ctx = client_context()
        mine = self.login(ctx=ctx)
        self.assertEqual(self.outcome(mine), "ok")
        # Stock ftplib never resumes: refused, as the help explains.
        stock = ftplib.FTP_TLS(context=client_context(), timeout=TIMEOUT)
        stock.connect("127.0.0.1", self.site.port)
        stock.auth()
        stock.login("bob", "x")
        stock.prot_p()
        self.assertEqual(self.outcome(stock), "425")
        # Same account, same address, another control connection: one client.
        same = self.login(ctx=ctx)
        same.borrow = mine
        self.assertEqual(self.outcome(same), "ok")
        # Another account, or the same account from another address: refused.
        carl = self.login("carl", "y", ctx=ctx)
        carl.borrow = mine
        far = self.login(source="127.0.0.2", ctx=ctx)
        far.borrow = mine
        self.assertEqual([self.outcome(carl), self.outcome(far)], ["425", "425"])
        carl.borrow = far.borrow = None
        self.assertEqual([self.outcome(carl), self.outcome(far), self.outcome(mine)], ["ok"] * 3)
        for f in (mine, stock, same, carl, far):
            f.quit()
        # Refused data connections leave no Qt warnings behind.
        self.assertEqual(self.site.server.stderr(), "")

    def test_clear_control_connection_refused(self):
        f = self.login()
        with self.assertRaises(ftplib.error_perm) as refused:
            f.sendcmd("CCC")
        self.assertTrue(str(refused.exception).startswith("534 "))
        self.assertEqual(self.outcome(f), "ok")  # still protected and working
        f.quit()


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
