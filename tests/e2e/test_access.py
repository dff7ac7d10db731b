"""The block list with real clients against the real program, from several loopback addresses
(every address pattern, every hash kind and MFMT's right: the access and engine tests)."""

import ftplib
import unittest

from kvharness import SiteTestCase


class Access(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("writer", "w-pass", rights="RWB")
        for entry in ("127.0.0.2-127.0.0.3", "127.0.1.0/24", "127.0.2.*", "300.1.1.1"):
            site.db.run("INSERT INTO IPko (IP) VALUES (?)", (entry,))
        site.db.settings(IPko=1)

    def test_block_list_patterns(self):
        self.site.ftp("writer", "w-pass", "127.0.0.4").quit()
        for source in ("127.0.0.3", "127.0.1.9", "127.0.2.200"):  # a range, a subnet, a wildcard
            with self.subTest(source=source):
                with self.assertRaises(ftplib.error_perm) as refused:
                    self.site.ftp("writer", "w-pass", source)
                self.assertTrue(str(refused.exception).startswith("530"))


if __name__ == "__main__":
    unittest.main()
