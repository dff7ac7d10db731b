"""FTPS through the real program: options rows switch TLS on (required, with an implicit port), the
first start writes a self-signed certificate, and curl and lftp, trusting it, move files."""

import os
import unittest
from pathlib import Path

from kvharness import SiteTestCase, TIMEOUT, free_port, run


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

    def test_lftp_mirror_both_ways(self):
        local = os.path.join(self.site.tmp, "tree")
        os.makedirs(os.path.join(local, "a", "b"))
        files = {"one.txt": b"1" * 5000, "a/two.bin": os.urandom(70_000), "a/b/three": b""}
        for name, data in files.items():
            Path(local, name).write_bytes(data)
        tls = (f"set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:ca-file {self.cert};"
               " set ssl:check-hostname false;")
        back = os.path.join(self.site.tmp, "back")
        for mirror in (f"mirror -R {local} /tree", f"mirror /tree {back}"):
            out = self.site.lftp("bob", "x", f"{tls} {mirror}")
            self.assertEqual(out.returncode, 0, out.stderr)
        for name, data in files.items():
            for top in (os.path.join(self.site.root, "tree"), back):
                self.assertEqual(Path(top, name).read_bytes(), data, name)


if __name__ == "__main__":
    unittest.main()
