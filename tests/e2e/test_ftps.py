"""FTPS through the real program: options rows in accounts.dat switch TLS on,
the first start writes a self-signed certificate into the data folder, and
curl, lftp and python's ftplib move files over protected connections."""

import ftplib
import os
import ssl
import unittest

from kvharness import Site, TIMEOUT, free_port, run


def set_options(site, **options):
    site.db.run("CREATE TABLE IF NOT EXISTS options (name TEXT PRIMARY KEY, value TEXT)")
    for name, value in options.items():
        site.db.run("INSERT OR REPLACE INTO options (name, value) VALUES (?, ?)", (name, str(value)))


class ReusingFTP_TLS(ftplib.FTP_TLS):
    """Resumes the control connection's TLS session on every data connection,
    as curl and lftp do; plain ftplib does not."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        return conn, size


class Ftps(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = Site()
        cls.implicit = free_port()
        cls.site.db.add_user("bob", "x", rights="RWDBM")
        set_options(cls.site, tls="required", tls_implicit_port=cls.implicit)
        cls.site.start()
        cls.cert = os.path.join(cls.site.data, "kestrova-cert.pem")

    @classmethod
    def tearDownClass(cls):
        cls.site.cleanup()

    def context(self):
        ctx = ssl.create_default_context(cafile=self.cert)
        ctx.check_hostname = False  # the certificate names this machine, not 127.0.0.1 alone
        return ctx

    def test_generated_certificate_and_key(self):
        key = os.path.join(self.site.data, "kestrova-key.pem")
        self.assertTrue(os.path.exists(self.cert))
        self.assertEqual(os.stat(key).st_mode & 0o777, 0o600)

    def test_curl_explicit_and_implicit_round_trip(self):
        payload = os.urandom(300_000)
        src = os.path.join(self.site.tmp, "up.bin")
        with open(src, "wb") as f:
            f.write(payload)
        base = ["curl", "-s", "-S", "--max-time", str(TIMEOUT), "-u", "bob:x", "--cacert", self.cert]
        explicit = f"ftp://127.0.0.1:{self.site.port}/"
        implicit = f"ftps://127.0.0.1:{self.implicit}/"
        out = run(base + ["--ssl-reqd", "-T", src, explicit + "up.bin"], TIMEOUT + 5)
        self.assertEqual(out.returncode, 0, out.stderr)
        with open(os.path.join(self.site.root, "up.bin"), "rb") as f:
            self.assertEqual(f.read(), payload)
        for url, extra in ((explicit, ["--ssl-reqd"]), (implicit, [])):
            out = run(base + extra + [url + "up.bin"], TIMEOUT + 5)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stdout, payload)

    def test_lftp_mirror_both_ways(self):
        local = os.path.join(self.site.tmp, "tree")
        os.makedirs(os.path.join(local, "a", "b"))
        files = {"one.txt": b"1" * 5000, "a/two.bin": os.urandom(70_000), "a/b/three": b""}
        for name, data in files.items():
            with open(os.path.join(local, name), "wb") as f:
                f.write(data)
        tls = (f"set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:ca-file {self.cert};"
               " set ssl:check-hostname false;")
        out = self.site.lftp("bob", "x", f"{tls} mirror -R {local} /tree")
        self.assertEqual(out.returncode, 0, out.stderr)
        back = os.path.join(self.site.tmp, "back")
        out = self.site.lftp("bob", "x", f"{tls} mirror /tree {back}")
        self.assertEqual(out.returncode, 0, out.stderr)
        for name, data in files.items():
            for top in (os.path.join(self.site.root, "tree"), back):
                with open(os.path.join(top, name), "rb") as f:
                    self.assertEqual(f.read(), data, name)

    def test_required_mode_refuses_clear_text(self):
        ftp = ftplib.FTP(timeout=TIMEOUT)
        ftp.connect("127.0.0.1", self.site.port)
        with self.assertRaises(ftplib.error_perm) as ctx:
            ftp.login("bob", "x")
        self.assertTrue(str(ctx.exception).startswith("530"), str(ctx.exception))
        ftp.close()

        ftp = ReusingFTP_TLS(context=self.context(), timeout=TIMEOUT)
        ftp.connect("127.0.0.1", self.site.port)
        ftp.login("bob", "x")
        ftp.prot_c()
        with self.assertRaises(ftplib.error_perm) as ctx:
            ftp.nlst()
        self.assertTrue(str(ctx.exception).startswith("522"), str(ctx.exception))
        ftp.prot_p()
        self.assertIn("hello.txt", ftp.nlst())
        ftp.quit()

    def test_data_connection_must_resume_its_own_session(self):
        plain = ftplib.FTP_TLS(context=self.context(), timeout=TIMEOUT)
        plain.connect("127.0.0.1", self.site.port)
        plain.login("bob", "x")
        plain.prot_p()
        # ftplib does not resume: the data handshake is cut off, then the reply says why.
        try:
            plain.retrbinary("RETR hello.txt", lambda _: None)
            self.fail("a data connection with a new TLS session was accepted")
        except ftplib.error_temp as refused:
            self.assertTrue(str(refused).startswith("425"), str(refused))
        except (ssl.SSLError, ConnectionError, EOFError):
            with self.assertRaisesRegex(ftplib.error_temp, "^425 "):
                plain.getresp()
        plain.close()

        reusing = ReusingFTP_TLS(context=self.context(), timeout=TIMEOUT)
        reusing.connect("127.0.0.1", self.site.port)
        reusing.login("bob", "x")
        reusing.prot_p()
        chunks = []
        reusing.retrbinary("RETR hello.txt", chunks.append)
        self.assertEqual(b"".join(chunks), b"hello\n")
        reusing.quit()

        log = self.site.log_file() or b""
        self.assertIn(b"AUTH TLS", log)
        self.assertNotIn(b"PASS x", log)


class BadOption(unittest.TestCase):
    def test_unknown_tls_word_fails_the_start_with_the_reason(self):
        site = Site()
        try:
            set_options(site, tls="bogus")
            out = run([__import__("kvharness").program(), "--headless", "--data-dir", site.data], TIMEOUT)
            self.assertEqual(out.returncode, 2, out.stderr)
            self.assertIn(b"tls", out.stderr)
            self.assertFalse(os.path.exists(os.path.join(site.data, "kestrova-cert.pem")))
            self.assertEqual(site.db.run("SELECT value FROM options WHERE name='tls'"), [("bogus",)])
        finally:
            site.cleanup()


if __name__ == "__main__":
    unittest.main()
