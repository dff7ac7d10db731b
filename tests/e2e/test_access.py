"""Hashed passwords, MFMT as part of an upload, and address patterns in the
lists, with real clients against the real program on loopback."""

import ftplib
import os
import unittest

from kvharness import SiteTestCase

PASSWORD = "e2e-Secret"
# Made with libcrypt for PASSWORD: yescrypt at this program's cost and SHA-512-crypt.
YESCRYPT = "$y$j75$I4y/9hrLY62wqI.mlIDvG1$GvOZIFnjSjjsT9RrVb40RzAMnGHnhGZbuWqvx04kH/4"
SHA512 = ("$6$2xg0wJDZ3o.yUx9I$O05hlkkiw9AIbGpyZ8oaEdIEdahhIA6xLoCjsKmBrnUl/1SOeww7aOAzRzQzdSojwObeh"
          ".6TU/VLVKQZ/Rs2U0")
JAN_2020 = 1577836800  # 2020-01-01 00:00:00 UTC


class Access(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("yes", YESCRYPT, rights="RB")
        site.db.add_user("sha", SHA512, rights="RB")
        site.db.add_user("writer", "w-pass", rights="RWB")
        site.db.add_user("reader", "r-pass", rights="RDBM")
        for entry in ("127.0.0.2-127.0.0.3", "127.0.1.0/24", "127.0.2.*", "300.1.1.1"):
            site.db.run("INSERT INTO IPko (IP) VALUES (?)", (entry,))
        site.db.settings(IPko=1)

    def test_hashed_rows_log_in_with_curl(self):
        for user in ("yes", "sha"):
            with self.subTest(user=user):
                ok = self.site.curl(f"{user}:{PASSWORD}", "hello.txt")
                self.assertEqual(ok.returncode, 0, ok.stderr)
                self.assertEqual(ok.stdout, b"hello\n")
                for wrong in (PASSWORD.lower(), YESCRYPT if user == "yes" else SHA512):
                    refused = self.site.curl(f"{user}:{wrong}", "hello.txt")
                    self.assertEqual(refused.returncode, 67, refused.stderr)  # login denied

    def test_mfmt_needs_the_write_right(self):
        path = os.path.join(self.site.root, "hello.txt")
        ftp = self.site.ftp("writer", "w-pass")
        features = ftp.sendcmd("FEAT")
        self.assertIn(" MFMT", features)
        reply = ftp.sendcmd("MFMT 20200101000000 hello.txt")
        ftp.close()
        self.assertTrue(reply.startswith("213"), reply)
        self.assertEqual(int(os.stat(path).st_mtime), JAN_2020)

        os.utime(path, (JAN_2020 + 86400, JAN_2020 + 86400))
        ftp = self.site.ftp("reader", "r-pass")  # every right but write
        with self.assertRaises(ftplib.error_perm) as refused:
            ftp.sendcmd("MFMT 20200101000000 hello.txt")
        ftp.close()
        self.assertTrue(str(refused.exception).startswith("550"), str(refused.exception))
        self.assertEqual(int(os.stat(path).st_mtime), JAN_2020 + 86400)

    def test_block_list_patterns(self):
        cases = (("127.0.0.1", True), ("127.0.0.2", False), ("127.0.0.3", False),
                 ("127.0.0.4", True), ("127.0.1.9", False), ("127.0.2.200", False),
                 ("127.0.3.1", True))
        for source, accepted in cases:
            with self.subTest(source=source):
                if accepted:
                    self.site.ftp("writer", "w-pass", source).quit()
                else:
                    with self.assertRaises(ftplib.error_perm) as refused:
                        self.site.ftp("writer", "w-pass", source)
                    self.assertTrue(str(refused.exception).startswith("530"))


if __name__ == "__main__":
    unittest.main()
