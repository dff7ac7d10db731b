"""One case per right with a real client: the account holding only that right does it, one
holding every other right is refused and the disk stays as it was (variants: the access tests)."""

import ftplib
import io
import os
import unittest
from pathlib import Path

from kvharness import RIGHTS, Site, SiteTestCase


def download(ftp):
    data = bytearray()
    ftp.retrbinary("RETR hello.txt", data.extend)
    return bytes(data)


# right: the operation, what the client gets back, what it adds to the root, what it removes
OPERATIONS = {
    "R": (download, b"hello\n", {}, ()),
    "W": (lambda ftp: ftp.storbinary("STOR up.txt", io.BytesIO(b"new"))[:3], "226", {"up.txt": b"new"}, ()),
    "D": (lambda ftp: ftp.delete("victim.txt")[:3], "250", {}, ("victim.txt",)),
    "B": (lambda ftp: ftp.cwd("sub") and ftp.pwd(), "/sub", {}, ()),
    "M": (lambda ftp: ftp.mkd("made"), "/made", {"made/": None}, ()),
}


class Rights(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        for letter in OPERATIONS:
            site.db.add_user("only" + letter, "pw", rights=letter)
            site.db.add_user("no" + letter, "pw", rights="RWDBM".replace(letter, ""))

    def test_each_right(self):
        self.assertEqual(len(OPERATIONS), len(RIGHTS))
        for letter, (operation, answer, added, removed) in OPERATIONS.items():
            with self.subTest(right=letter):
                self.site.fill_root()
                before = self.site.snapshot()
                ftp = self.site.ftp("no" + letter, "pw")
                with self.assertRaises(ftplib.error_perm) as ctx:
                    operation(ftp)
                ftp.close()
                self.assertTrue(str(ctx.exception).startswith("550 Access denied"), str(ctx.exception))
                self.assertEqual(self.site.snapshot(), before, "a refused operation changed the disk")
                ftp = self.site.ftp("only" + letter, "pw")
                self.assertEqual(operation(ftp), answer)
                ftp.close()
                after = {k: v for k, v in {**before, **added}.items() if k not in removed}
                self.assertEqual(self.site.snapshot(), after)


class VirtualFolders(unittest.TestCase):
    def test_account_virtual_folder_inside_its_own_root(self):
        self.site = Site()
        self.addCleanup(self.site.cleanup)
        home, elsewhere = (os.path.join(self.site.tmp, name) for name in ("home", "elsewhere"))
        os.makedirs(os.path.join(home, "inner"))
        os.makedirs(elsewhere)
        uid = self.site.db.add_user("vic", "pw", rights="RWB", rootdir=home)
        self.site.db.run("INSERT INTO virtualdirs VALUES ('v', ?, ?, ?)",
                         (os.path.join(home, "inner"), elsewhere, uid))
        self.site.db.run("INSERT INTO virtualdirs VALUES ('other', ?, ?, ?)", (home, elsewhere, uid + 1))
        self.site.start()
        ftp = self.site.ftp("vic", "pw")
        self.assertEqual(ftp.nlst(), ["inner"])
        ftp.cwd("/inner/v")
        ftp.storbinary("STOR up.bin", io.BytesIO(b"\x00\x01\x02"))
        ftp.quit()
        self.assertEqual(Path(elsewhere, "up.bin").read_bytes(), b"\x00\x01\x02")


if __name__ == "__main__":
    unittest.main()
