"""FTPS through the real program: options rows in accounts.dat switch TLS on
(required, with an implicit port), the first start writes a self-signed
certificate into the data folder, and curl and lftp, trusting it, move files
over protected connections. The protocol's refusals are the engine's tests."""

import os
import unittest

from kvharness import SiteTestCase, TIMEOUT, free_port, run


def set_options(site, **options):
    site.db.run("CREATE TABLE IF NOT EXISTS options (name TEXT PRIMARY KEY, value TEXT)")
    for name, value in options.items():
        site.db.run("INSERT OR REPLACE INTO options (name, value) VALUES (?, ?)", (name, str(value)))


class Ftps(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        cls.implicit = free_port()
        site.db.add_user("bob", "x", rights="RWDBM")
        set_options(site, tls="required", tls_implicit_port=cls.implicit)
        cls.cert = os.path.join(site.data, "kestrova-cert.pem")  # generated at the start

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


if __name__ == "__main__":
    unittest.main()
