"""Logging in to the real program with real clients (every login decision, wrong passwords
included: the login handler's own test)."""

import unittest

from kvharness import SiteTestCase


class Login(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "x", rights="RB")

    def test_enabled_account_logs_in(self):
        ftp = self.site.ftp("bob", "x")
        self.assertEqual(ftp.pwd(), "/")
        self.assertIn("hello.txt", ftp.nlst())
        ftp.quit()
        for out in (self.site.curl("bob:x", "hello.txt"), self.site.lftp("bob", "x", "cat hello.txt")):
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(out.stdout, b"hello\n")


if __name__ == "__main__":
    unittest.main()
