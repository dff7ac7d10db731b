"""Hashed passwords and the block list with real clients against the real program, from several
loopback addresses (every login decision, address pattern and hash kind: the access tests; a plain
login with ftplib, curl and lftp: every other end-to-end test)."""

import ftplib
import unittest

from kvharness import SiteTestCase

PASSWORD = "e2e-Secret"
# Made with libcrypt for PASSWORD: yescrypt at this program's cost and SHA-512-crypt.
YESCRYPT = "$y$j75$I4y/9hrLY62wqI.mlIDvG1$GvOZIFnjSjjsT9RrVb40RzAMnGHnhGZbuWqvx04kH/4"
SHA512 = ("$6$2xg0wJDZ3o.yUx9I$O05hlkkiw9AIbGpyZ8oaEdIEdahhIA6xLoCjsKmBrnUl/1SOeww7aOAzRzQzdSojwObeh"
          ".6TU/VLVKQZ/Rs2U0")


class Access(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("yes", YESCRYPT, rights="RB")
        site.db.add_user("sha", SHA512, rights="RB")
        site.db.add_user("writer", "w-pass", rights="RWB")
        for entry in ("127.0.0.2-127.0.0.3", "127.0.1.0/24", "127.0.2.*", "300.1.1.1"):
            site.db.run("INSERT INTO IPko (IP) VALUES (?)", (entry,))
        site.db.settings(IPko=1)

    def test_hashed_rows_log_in_and_the_hash_is_no_password(self):
        for user, stored in (("yes", YESCRYPT), ("sha", SHA512)):
            with self.subTest(user=user):
                ok = self.site.curl(f"{user}:{PASSWORD}", "hello.txt")
                self.assertEqual((ok.returncode, ok.stdout), (0, b"hello\n"), ok.stderr)
                for wrong in (PASSWORD.lower(), stored):
                    self.assertEqual(self.site.curl(f"{user}:{wrong}", "hello.txt").returncode, 67)

    def test_block_list_patterns(self):
        self.site.ftp("writer", "w-pass", "127.0.0.4").quit()
        for source in ("127.0.0.3", "127.0.1.9", "127.0.2.200"):  # a range, a subnet, a wildcard
            with self.subTest(source=source):
                with self.assertRaises(ftplib.error_perm) as refused:
                    self.site.ftp("writer", "w-pass", source)
                self.assertTrue(str(refused.exception).startswith("530"))


if __name__ == "__main__":
    unittest.main()
