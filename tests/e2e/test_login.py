"""Logging in to the real program with real clients (every login decision, wrong passwords
included: the login handler's own test)."""

import unittest

from kvharness import Site, SiteTestCase, free_port


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


class HighPort(unittest.TestCase):
    def test_a_port_above_32767_is_used_as_given(self):
        site = Site(port=free_port(40000, 60000))
        self.addCleanup(site.cleanup)
        site.db.add_user("bob", "x", rights="RB")
        self.assertIn("SERVER START ON IP 127.0.0.1", site.start().stdout())
        got = site.curl("bob:x", "hello.txt")
        self.assertEqual((got.returncode, got.stdout), (0, b"hello\n"), got.stderr)


if __name__ == "__main__":
    unittest.main()
