"""Confinement against a disk that changes under the server: links swapped in for a file while
clients download and upload it. Nothing outside the root may be read or written, whatever is
renamed (a virtual folder's destination replaced by a link: the file layer's tests). And the
program's own data folder, inside the root, is missing for FTP and SFTP clients alike."""

import collections
import ctypes
import errno
import ftplib
import io
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

from kvharness import TIMEOUT, Site, SiteTestCase, fetch, run
from sftpharness import close_even_if_cut, connect, sftp_site

SECRET = b"outside secret\n"
KEEP = b"keep me outside\n"

# Exchanges two names atomically, as fast as it can, until its time is up: the file `race` in the
# root is a plain file and a link to outside by turns. Runs as its own process, so the client of
# the test is not slowed down by the swapping.
SWAPPER = r"""
import ctypes, os, sys, time
libc = ctypes.CDLL(None, use_errno=True)
a, b, seconds = os.fsencode(sys.argv[1]), os.fsencode(sys.argv[2]), float(sys.argv[3])
end = time.monotonic() + seconds
print("ready", flush=True)
while time.monotonic() < end:
    for _ in range(1000):
        if libc.renameat2(-100, a, -100, b, 2) != 0:  # AT_FDCWD, RENAME_EXCHANGE
            sys.exit("exchange failed: %d" % ctypes.get_errno())
"""


def renameat2_exchange_works(folder):
    a, b = os.path.join(folder, "probe-a"), os.path.join(folder, "probe-b")
    for p in (a, b):
        with open(p, "wb"):
            pass
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        return hasattr(libc, "renameat2") and libc.renameat2(-100, os.fsencode(a), -100, os.fsencode(b), 2) == 0
    finally:
        os.remove(a)
        os.remove(b)


class SwappedLinkRace(SiteTestCase):
    """`race` in the root is exchanged with a link to a file outside the root as fast as the disk
    allows while one client downloads or uploads it again and again: not one byte may come from
    or go to the outside file."""

    SECONDS = 60  # the swapper's own limit; every loop below ends well before

    @classmethod
    def prepare(cls, site):
        if not renameat2_exchange_works(site.tmp):
            raise unittest.SkipTest("this file system cannot exchange names")
        cls.outside = os.path.join(site.tmp, "outside")
        os.makedirs(cls.outside)
        site.db.add_user("racer", "pw", rights="RWB")
        Path(cls.outside, "secret.txt").write_bytes(SECRET)
        Path(cls.outside, "keep.txt").write_bytes(KEEP)

    def start_swapping(self, target):
        race, swap = (os.path.join(self.site.root, n) for n in ("race", "swap"))
        for p in (race, swap):
            if os.path.lexists(p):
                os.remove(p)
        Path(race).write_bytes(b"inside\n")
        os.symlink(target, swap)
        swapper = subprocess.Popen([sys.executable, "-c", SWAPPER, race, swap, str(self.SECONDS)],
                                   stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.stop_swapping, swapper)
        self.assertEqual(swapper.stdout.readline().strip(), "ready")
        return swapper

    @staticmethod
    def stop_swapping(swapper):
        if swapper.poll() is None:
            swapper.kill()
        swapper.wait(TIMEOUT)
        swapper.stdout.close()

    def repeat(self, count, attempt):
        """Runs `attempt` up to `count` times or for 40 seconds; counts what each run answered
        ("refused" when the server refused it)."""
        ftp = self.site.ftp("racer", "pw")
        deadline = time.monotonic() + 40
        seen = collections.Counter()
        try:
            while sum(seen.values()) < count and time.monotonic() < deadline:
                try:
                    seen[attempt(ftp)] += 1
                except ftplib.error_perm:
                    seen["refused"] += 1
        finally:
            ftp.quit()
        return seen

    @staticmethod
    def download(ftp):
        return "escaped" if fetch(ftp, "race") == SECRET else "inside"

    @staticmethod
    def upload(ftp):
        ftp.storbinary("STOR race", io.BytesIO(b"uploaded\n"))
        return "inside"

    def test_transfers_never_reach_the_outside_file(self):
        for attempt, name in ((self.download, "secret.txt"), (self.upload, "keep.txt")):
            for target in (os.path.join(self.outside, name), "../outside/" + name):
                with self.subTest(attempt=attempt.__name__, target=target):
                    swapper = self.start_swapping(target)
                    seen = self.repeat(1500, attempt)
                    self.assertIsNone(swapper.poll(), "the swapper stopped early")
                    self.stop_swapping(swapper)
                    self.assertEqual(seen["escaped"], 0, seen)
                    self.assertGreater(seen["inside"], 0, seen)
                    self.assertEqual(Path(self.outside, "keep.txt").read_bytes(), KEEP, seen)


def assert_missing(test, command, *args):
    """`command(*args)` is answered as for a path that does not exist."""
    with test.assertRaises(ftplib.error_perm) as refused:
        command(*args)
    test.assertRegex(str(refused.exception), r"^550 .*No such file", args)


class OwnDataFolder(SiteTestCase):
    """The default root holds the program's data folder `data` (accounts.dat with the password
    hashes, ftp.log, the socket, the SFTP host keys) and a relative link `dati` to it: whatever
    path a client takes there, over FTP or SFTP, it is missing, and no listing shows it."""

    new_site = staticmethod(sftp_site)
    PATHS = ("data/accounts.dat", "/data/ftp.log", "dati/accounts.dat", "root/../data/accounts.dat",
             "data/kestrova-sftp-ed25519.key")

    @classmethod
    def prepare(cls, site):
        site.db.settings(rootdir=site.tmp)
        site.db.add_user("mario", "segreto1", rights="RB")
        site.db.add_user("luigi", "segreto2", rights="RWDBM")
        site.db.add_user("peach", "segreto3", rights="RWDBM", rootdir=site.data)
        os.symlink("data", os.path.join(site.tmp, "dati"))

    def ftp(self, user="mario", password="segreto1"):
        ftp = self.site.ftp(user, password)
        self.addCleanup(ftp.close)
        return ftp

    def assertMissing(self, command, *args):
        assert_missing(self, command, *args)

    def test_its_files_are_not_downloaded(self):
        ftp = self.ftp()
        for path in self.PATHS:
            with self.subTest(path=path):
                self.assertMissing(ftp.retrbinary, f"RETR {path}", lambda _: None)
                self.assertMissing(ftp.sendcmd, f"SIZE {path}")
                self.assertMissing(ftp.sendcmd, f"MLST {path}")
        self.assertEqual(fetch(ftp, "root/hello.txt"), b"hello\n")
        # As the tester did (curl enters each folder of the path first), and by one RETR.
        url = f"ftp://127.0.0.1:{self.site.port}/data/accounts.dat"
        for method, status in (("multicwd", 9), ("nocwd", 78)):  # access denied, file not found
            fetched = run(["curl", "-s", "--max-time", str(TIMEOUT), "--ftp-method", method,
                           "-u", "mario:segreto1", url], TIMEOUT + 5)
            self.assertEqual((fetched.returncode, fetched.stdout), (status, b""), method)

    def test_listings_leave_it_out(self):
        ftp = self.ftp()
        names = {"NLST": [os.path.basename(name) for name in ftp.nlst("/")],
                 "MLSD": [name for name, _ in ftp.mlsd("/")]}
        lines = []
        ftp.retrlines("LIST /", lines.append)
        names["LIST"] = [line.split()[-1] for line in lines]
        names["STAT"] = [line.split()[-1] for line in ftp.sendcmd("STAT /").splitlines()[1:-1]]
        for command, listed in names.items():
            with self.subTest(command=command):
                self.assertIn("root", listed)
                self.assertNotIn("data", listed)
                self.assertNotIn("dati", listed)
        for path in ("data", "dati"):
            self.assertMissing(ftp.nlst, path)
            self.assertMissing(ftp.sendcmd, f"STAT {path}")

    def test_it_cannot_be_entered_or_changed(self):
        ftp = self.ftp("luigi", "segreto2")
        for path in ("data", "/dati", "root/../data"):
            self.assertMissing(ftp.cwd, path)
        self.assertEqual(ftp.pwd(), "/")
        self.assertMissing(ftp.storbinary, "STOR data/new.txt", io.BytesIO(b"x"))
        self.assertMissing(ftp.storbinary, "APPE data/ftp.log", io.BytesIO(b"x"))
        self.assertMissing(ftp.mkd, "data/made")
        self.assertMissing(ftp.delete, "data/accounts.dat")
        self.assertMissing(ftp.rmd, "data")
        self.assertMissing(ftp.rename, "data", "moved")
        # RNTO answers a folder that is not there so.
        for folder in ("data", "nowhere"):
            with self.assertRaises(ftplib.error_perm) as refused:
                ftp.rename("root/victim.txt", f"{folder}/victim.txt")
            self.assertEqual(str(refused.exception), f"553 Cannot rename to {folder}/victim.txt")
        self.assertEqual(sorted(os.listdir(self.site.data)).count("new.txt"), 0)
        self.assertTrue(Path(self.site.root, "victim.txt").exists())

    def test_sftp_finds_it_missing(self):
        for user, password in (("mario", "segreto1"), ("luigi", "segreto2")):
            client = connect(self.site, user, password)
            self.addCleanup(close_even_if_cut, client)
            self.assertNotIn("data", client.listdir("/"))
            self.assertNotIn("dati", client.listdir("/"))
            self.assertIn("root", client.listdir("/"))
            missing = [lambda: client.stat("data"), lambda: client.listdir("data"),
                       lambda: client.listdir("dati")]
            missing += [lambda p=p: client.open(p).read() for p in self.PATHS]
            missing += [lambda p=p: client.stat(p) for p in self.PATHS]
            missing += [lambda: client.open("data/new.txt", "w").close(), lambda: client.mkdir("data/made"),
                        lambda: client.remove("data/ftp.log"), lambda: client.rename("data", "moved"),
                        lambda: client.rename("root/victim.txt", "data/victim.txt")]
            for number, attempt in enumerate(missing):
                with self.subTest(user=user, attempt=number):
                    with self.assertRaises(IOError) as refused:
                        attempt()
                    self.assertEqual(refused.exception.errno, errno.ENOENT)
        self.assertTrue(Path(self.site.root, "victim.txt").exists())

    def test_a_root_inside_it_serves_nothing_and_the_log_says_why(self):
        ftp = self.ftp("peach", "segreto3")
        self.assertMissing(ftp.nlst, "/")
        self.assertMissing(ftp.retrbinary, "RETR accounts.dat", lambda _: None)
        self.assertIn(f"Cartella radice {self.site.data} non servita", self.site.server.stdout())


class OwnFilesKeptElsewhere(unittest.TestCase):
    """A data folder whose path is too long for a socket address keeps the administration socket
    and its lock in $XDG_RUNTIME_DIR: with that folder inside the root, those two are missing too."""

    @classmethod
    def setUpClass(cls):
        site = cls.site = Site()
        cls.addClassCleanup(site.cleanup)
        deep = os.path.join(site.tmp, "d" * 60, "e" * 60)
        os.makedirs(os.path.dirname(deep))
        os.rename(site.data, deep)
        site.data, site.db.path = deep, os.path.join(deep, "accounts.dat")
        cls.runtime = os.path.join(site.tmp, "run")
        os.makedirs(cls.runtime)
        site.db.settings(rootdir=site.tmp)
        site.db.add_user("mario", "segreto1", rights="RB")
        site.start(env={"XDG_RUNTIME_DIR": cls.runtime})

    def test_the_socket_and_its_lock_are_missing(self):
        kept = sorted(os.listdir(self.runtime))
        self.assertEqual([name.rsplit(".", 1)[-1] for name in kept], ["lock", "sock"])
        ftp = self.site.ftp("mario", "segreto1")
        self.addCleanup(ftp.close)
        self.assertEqual([name for name, facts in ftp.mlsd("run") if facts["type"] in ("file", "dir")], [])
        for name in kept:
            with self.subTest(name=name):
                assert_missing(self, ftp.sendcmd, f"MLST run/{name}")
                assert_missing(self, ftp.retrbinary, f"RETR run/{name}", lambda _: None)
