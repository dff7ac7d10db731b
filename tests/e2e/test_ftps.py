"""FTPS through the real program: options rows switch TLS on (required, with an implicit port), the
first start writes a self-signed certificate, and curl and lftp, trusting it, move files (curl also
by the name localhost); wget with its defaults resumes its control connection's session from before
the login on every data connection; lftp in active mode over IPv6 names the unspecified address and
is served at once; rclone with its default settings (four transfers and checkers side by side, one
TLS session cache for all its connections) copies, syncs and checks a tree with no refusal, keeping
every file's time, which it sets with MFMT (which sessions a data connection may resume, ftplib's
unwrap(), and which active addresses are refused: the engine's tests)."""

import os
import time
import unittest
from pathlib import Path

from kvharness import SiteTestCase, TIMEOUT, free_port, has_ipv6_loopback, lftp, rclone, read_tree, run, write_tree

LFTP_TLS = ("set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:ca-file {cert};"
            " set ssl:check-hostname false;")


class Ftps(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        cls.implicit = free_port()
        site.db.add_user("bob", "x", rights="RWDBM")
        site.db.set_options(tls="required", tls_implicit_port=cls.implicit)
        cls.cert = os.path.join(site.data, "kestrova-cert.pem")  # generated at the start

    def test_wget_with_its_defaults(self):
        files = {f"w/f{i}.bin": os.urandom(5000 + i) for i in range(4)}
        write_tree(self.site.root, files)
        dest = os.path.join(self.site.tmp, "wget")
        urls = [f"ftps://bob:x@127.0.0.1:{self.site.port}/{name}" for name in files]
        out = run(["wget", "-q", "--no-check-certificate", "-P", dest, "-nH", "--cut-dirs=0", "-x", *urls],
                  TIMEOUT * 2)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(read_tree(dest), files)

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

    def test_the_generated_certificate_is_trusted_for_localhost(self):
        # curl checks the name it was given against the certificate's names.
        base = ["curl", "-s", "-S", "--max-time", str(TIMEOUT), "-u", "bob:x", "--cacert", self.cert, "-l"]
        for url, extra in ((f"ftp://localhost:{self.site.port}/", ["--ssl-reqd"]),
                           (f"ftps://localhost:{self.implicit}/", [])):
            with self.subTest(url=url):
                out = run(base + extra + [url], TIMEOUT + 5)
                self.assertEqual(out.returncode, 0, out.stderr)
                self.assertIn(b"hello.txt", out.stdout.split())

    def test_long_run_over_one_connection_never_refused(self):
        # TLS 1.3 tickets: each data connection resumes a fresh one, a thousand times over; a
        # nested folder of it comes back down the same way.
        local = os.path.join(self.site.tmp, "thousand")
        os.makedirs(local)
        for i in range(997):
            Path(local, f"f{i:04d}").write_bytes(b"%d\n" % i)
        nested = {"a/one.txt": b"1" * 5000, "a/two.bin": os.urandom(70_000), "a/b/three": b""}
        write_tree(local, nested)
        started = time.monotonic()
        logged = len(self.site.log_file())
        back = os.path.join(self.site.tmp, "back")
        tls = LFTP_TLS.format(cert=self.cert)
        for mirror in (f"mirror -R {local} /thousand", f"mirror /thousand/a {back}/a"):
            out = self.site.lftp("bob", "x", f"{tls} {mirror}")
            self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(len(os.listdir(os.path.join(self.site.root, "thousand"))), 998)
        for top in (os.path.join(self.site.root, "thousand"), back):
            self.assertEqual(read_tree(top, nested), nested, top)
        self.assertLess(time.monotonic() - started, 120)
        self.assertNotIn("425 ", self.site.log_file()[logged:].decode("utf-8", "replace"))


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
        files = {f"sub/f{i}": os.urandom(i * 1000) for i in range(6)}
        write_tree(local, files)
        back = os.path.join(self.site.tmp, "back")
        tls = LFTP_TLS.format(cert=self.cert)
        started = time.monotonic()
        for mirror in (f"mirror -R {local} /tree", f"mirror /tree {back}"):
            out = lftp(f"{tls} set ftp:passive-mode false; open -u bob,x -p {self.site.port} [::1]; {mirror}")
            self.assertEqual(out.returncode, 0, out.stderr)
        self.assertLess(time.monotonic() - started, TIMEOUT)  # no retry after a refusal
        for top in (os.path.join(self.site.root, "tree"), back):
            self.assertEqual(read_tree(top), files, top)
        self.assertNotIn("connessione dati verso", self.site.server.stdout())


MTIME = 1577836800  # 2020-01-01 00:00:00 UTC
FTPS = ",explicit_tls=true,no_check_certificate=true"


def mtime(name):
    return MTIME + int(name[-7:-4])


class Rclone(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("rita", "r-pass", rights="RWDBM")
        # TLS when the client asks; its data connections must resume a session (the default).
        site.db.set_options(tls="on")

    def rclone(self, *args):
        obscured = run(["rclone", "obscure", "r-pass"]).stdout.decode().strip()
        return rclone(f":ftp,host=127.0.0.1,port={self.site.port},user=rita,pass={obscured}{FTPS}:", *args)

    def assertClean(self, out):
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertNotIn(b"ERROR", out.stderr)

    def test_ftps_copy_sync_check_move_every_file_with_its_time(self):
        local = os.path.join(self.site.tmp, "many")
        files = {f"d{i % 6}/f{i:03d}.bin": os.urandom(i * 37 % 3000) for i in range(204)}
        write_tree(local, files, mtime)
        back = os.path.join(self.site.tmp, "many-back")
        self.assertClean(self.rclone("copy", local, "REMOTE:many"))
        self.assertClean(self.rclone("sync", "REMOTE:many", back))
        self.assertClean(self.rclone("check", "--download", local, "REMOTE:many"))
        for top in (os.path.join(self.site.root, "many"), back):
            self.assertEqual(read_tree(top, times=True), {name: (data, mtime(name)) for name, data in files.items()},
                             top)
        # A second sync after a local change sends only what changed.
        Path(local, "d0/f000.bin").write_bytes(b"changed")
        self.assertClean(self.rclone("sync", local, "REMOTE:many"))
        files["d0/f000.bin"] = b"changed"
        self.assertEqual(read_tree(os.path.join(self.site.root, "many")), files)
        log = self.site.log_file().decode("utf-8", "replace")
        self.assertIn("TLS TLSv1.3 ", log)
        self.assertNotIn("425 ", log)
        self.assertEqual(self.site.server.stderr(), "")
