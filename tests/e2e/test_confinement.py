"""Confinement against a disk that changes under the server: links swapped in for a file while
clients download and upload it. Nothing outside the root may be read or written, whatever is
renamed (a virtual folder's destination replaced by a link: the file layer's tests)."""

import collections
import ctypes
import ftplib
import io
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

from kvharness import TIMEOUT, SiteTestCase, fetch

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
