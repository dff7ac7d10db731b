"""Listings of a large folder to clients that stop reading: the server makes a listing only as fast
as its client takes it and holds no more than 256 KiB of a folder's names, so stalled listings hold
little memory; a folder with more names than that comes in the order the disk keeps it, every entry
once (the bound on what is held: the listing, send and folder-entry tests)."""

import os
import re
import time

from kvharness import TIMEOUT, SiteTestCase, passive_socket

ENTRIES = 100_000
STALLED = 10


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def settled_rss_kib(pid):
    """The server's resident memory once it stops changing (at most TIMEOUT seconds)."""
    deadline = time.monotonic() + TIMEOUT
    last = rss_kib(pid)
    while time.monotonic() < deadline:
        time.sleep(0.3)
        now = rss_kib(pid)
        if abs(now - last) < 256:
            return now
        last = now
    return last


class StalledListings(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        big = os.path.join(site.root, "big")
        os.makedirs(big)
        for i in range(ENTRIES):
            open(os.path.join(big, f"entry-with-a-longish-name-{i:06d}.dat"), "wb").close()
        site.db.add_user("lister", "pw", rights="RB")

    def stalled_listing(self, command):
        """A session that asks for a listing of the big folder and then reads nothing of it; its
        data connection takes as little as the kernel allows."""
        ftp = self.site.ftp("lister", "pw")
        self.addCleanup(ftp.close)
        data = passive_socket(ftp.sendcmd("PASV"), rcvbuf=4096)
        self.addCleanup(data.close)
        ftp.putcmd(f"{command} /big")
        self.assertTrue(ftp.getresp().startswith("150"))
        return data

    def test_stalled_listings_hold_little_memory(self):
        pid = self.site.server.proc.pid
        before = settled_rss_kib(pid)
        for i in range(STALLED):
            self.stalled_listing("MLSD" if i % 2 else "LIST")
        grown = settled_rss_kib(pid) - before
        # A stalled listing holds one piece of it and a few entries of the folder as it is read,
        # neither its lines (over 140 bytes an entry here) nor its names (about 45 bytes).
        self.assertLess(grown, STALLED * 1024, f"{grown} KiB for {STALLED} stalled listings")

    def test_a_whole_listing_arrives_every_entry_once(self):
        ftp = self.site.ftp("lister", "pw")
        names = ftp.nlst("/big")
        lines = []
        ftp.retrlines("LIST /big", lines.append)
        ftp.quit()
        expected = [f"entry-with-a-longish-name-{i:06d}.dat" for i in range(ENTRIES)]
        self.assertEqual(sorted(names), ["/big/" + n for n in expected])
        self.assertEqual(sorted(line.split()[-1] for line in lines), expected)
