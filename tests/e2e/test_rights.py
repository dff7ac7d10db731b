"""Each right allows exactly its operations; a refused operation changes
nothing on disk."""

import ftplib
import io
import os
import shutil
import socket
import unittest

from kvharness import Site, TIMEOUT


def refused(action):
    try:
        action()
    except ftplib.error_perm as e:
        return str(e)
    return None


class Rights(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = Site()
        db = cls.site.db
        for letters in ("R", "W", "D", "B", "M", "RWDBM", ""):
            db.add_user("u" + (letters or "none"), "pw", rights=letters)
        cls.site.start()

    @classmethod
    def tearDownClass(cls):
        cls.site.cleanup()

    def setUp(self):
        for name in os.listdir(self.site.root):  # each account starts from the same root
            path = os.path.join(self.site.root, name)
            if os.path.isdir(path):
                shutil.rmtree(path)
            elif name != "hello.txt":
                os.remove(path)
        os.makedirs(os.path.join(self.site.root, "sub"))
        with open(os.path.join(self.site.root, "victim.txt"), "w") as f:
            f.write("keep me\n")

    def operations(self, ftp):
        """Each operation by the right it needs."""
        return {
            "R": lambda: ftp.retrbinary("RETR hello.txt", lambda b: None),
            "W": lambda: ftp.storbinary("STOR up.txt", io.BytesIO(b"new")),
            "W-rename": lambda: ftp.rename("victim.txt", "renamed.txt"),
            "D": lambda: ftp.delete("victim.txt"),
            "B": lambda: ftp.cwd("sub"),
            "M": lambda: ftp.mkd("made"),
            "M-remove": lambda: ftp.rmd("sub"),
        }

    def check_account(self, letters):
        before = self.site.snapshot()
        ftp = self.site.ftp("u" + (letters or "none"), "pw")
        try:
            for op, action in self.operations(ftp).items():
                needed = op[0]
                if needed in letters:
                    continue
                message = refused(action)
                self.assertIsNotNone(message, f"{op} allowed without {needed}")
                self.assertTrue(message.startswith("550 Access denied"), message)
            self.assertEqual(self.site.snapshot(), before, "a refused operation changed the disk")
            for op, action in self.operations(ftp).items():
                if op[0] in letters and op not in ("D", "M-remove"):
                    self.assertIsNone(refused(action), f"{op} refused with {letters}")
        finally:
            ftp.close()

    def test_each_single_right(self):
        for letters in ("R", "W", "D", "B", "M", ""):
            with self.subTest(rights=letters):
                self.setUp()
                self.check_account(letters)
                ftp = self.site.ftp("u" + (letters or "none"), "pw")
                if letters == "W":
                    self.assertTrue(os.path.exists(os.path.join(self.site.root, "up.txt")))
                if letters == "D":
                    ftp.delete("victim.txt")
                    self.assertFalse(os.path.exists(os.path.join(self.site.root, "victim.txt")))
                if letters == "M":  # managing folders without browsing: remove yes, enter no
                    ftp.rmd("made")
                    self.assertTrue(refused(lambda: ftp.cwd("sub")).startswith("550"))
                ftp.close()

    def test_all_rights(self):
        ftp = self.site.ftp("uRWDBM", "pw")
        ftp.mkd("d2")
        ftp.cwd("d2")
        ftp.storbinary("STOR f", io.BytesIO(b"abc"))
        ftp.rename("f", "g")
        data = bytearray()
        ftp.retrbinary("RETR g", data.extend)
        self.assertEqual(bytes(data), b"abc")
        ftp.delete("g")
        ftp.cwd("..")
        ftp.rmd("d2")
        ftp.quit()


class Anonymous(unittest.TestCase):
    def setUp(self):
        self.site = Site()

    def tearDown(self):
        self.site.cleanup()

    def test_anonymous_letters_root_and_virtual_folders(self):
        anon_root = os.path.join(self.site.tmp, "pub")
        shared = os.path.join(self.site.tmp, "shared")
        os.makedirs(anon_root)
        os.makedirs(shared)
        with open(os.path.join(shared, "s.txt"), "w") as f:
            f.write("shared\n")
        self.site.db.set_anonymous(enabled=True, rights="RB", rootdir=anon_root)
        self.site.db.run("INSERT INTO virtualdirs VALUES ('vd', ?, ?, 0)", (anon_root, shared))
        self.site.db.run("INSERT INTO virtualdirs VALUES ('other', ?, ?, 7)", (anon_root, shared))
        self.site.start()
        ftp = self.site.ftp("anonymous", "guest@")
        self.assertEqual(sorted(ftp.nlst()), ["vd"])
        ftp.cwd("vd")
        data = bytearray()
        ftp.retrbinary("RETR s.txt", data.extend)
        self.assertEqual(bytes(data), b"shared\n")
        self.assertTrue(refused(lambda: ftp.storbinary("STOR x", io.BytesIO(b"x"))).startswith("550"))
        self.assertTrue(refused(lambda: ftp.delete("s.txt")).startswith("550"))
        ftp.quit()

    def test_account_virtual_folder_and_own_root(self):
        home = os.path.join(self.site.tmp, "home")
        elsewhere = os.path.join(self.site.tmp, "elsewhere")
        os.makedirs(os.path.join(home, "inner"))
        os.makedirs(elsewhere)
        uid = self.site.db.add_user("vic", "pw", rights="RWB", rootdir=home)
        self.site.db.run("INSERT INTO virtualdirs VALUES ('v', ?, ?, ?)",
                         (os.path.join(home, "inner"), elsewhere, uid))
        self.site.start()
        ftp = self.site.ftp("vic", "pw")
        self.assertEqual(ftp.nlst(), ["inner"])
        ftp.cwd("/inner/v")
        ftp.storbinary("STOR up.bin", io.BytesIO(b"\x00\x01\x02"))
        ftp.quit()
        with open(os.path.join(elsewhere, "up.bin"), "rb") as f:
            self.assertEqual(f.read(), b"\x00\x01\x02")


class NeverLoggedIn(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.site.start()

    def tearDown(self):
        self.site.cleanup()

    def test_everything_refused_before_login(self):
        with socket.create_connection(("127.0.0.1", self.site.port), timeout=TIMEOUT) as s:
            f = s.makefile("rwb")
            self.assertTrue(f.readline().startswith(b"220 Kestrova Simple FTP Server ready."))
            for command in (b"CWD sub", b"LIST", b"RETR hello.txt", b"STOR x", b"DELE hello.txt",
                            b"MKD m", b"RMD sub", b"RNFR hello.txt", b"PASV", b"PWD"):
                f.write(command + b"\r\n")
                f.flush()
                self.assertEqual(f.readline(), b"530 Please login with USER and PASS.\r\n", command)
            f.write(b"PASS nothing\r\n")
            f.flush()
            self.assertEqual(f.readline(), b"503 Login with USER first\r\n")
        self.assertTrue(os.path.exists(os.path.join(self.site.root, "hello.txt")))


if __name__ == "__main__":
    unittest.main()
