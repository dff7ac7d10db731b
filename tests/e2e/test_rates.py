"""Speed limits with real clients on loopback: a 4-second SFTP download or upload averages at most
the limit and not much less; sessions sharing a limit (one address's, one account's, over FTP and
SFTP together) share it; a limit lowered with `option set` and
`reload` slows a transfer already running. A loaded machine may be slower, never faster: only the
upper bound is strict. Each FTP and FTPS transfer path under a limit: tests/ftp/test_ftprates."""

import io
import os
import threading
import time
import unittest

import paramiko

from kvharness import TIMEOUT, wait_until
from sftpharness import close_even_if_cut, connect, sftp_site

MIB = 1024 * 1024
LIMIT_KIB = 10 * 1024  # 10 MiB/s
SIZE = 40 * MIB        # 4 seconds under that limit
SLOWEST = 0.75         # a loaded machine may be slower than the limit, down to this share of it
FASTEST = 1.01         # the measured average never passes the limit (1 % for the clock's grain)


class Counter(io.RawIOBase):
    """A sink that counts what it is given."""

    def __init__(self):
        self.count = 0

    def writable(self):
        return True

    def write(self, data):
        self.count += len(data)
        return len(data)


class Rates(unittest.TestCase):
    def setUp(self):
        self.site = sftp_site(self)
        self.bob = self.site.db.add_user("bob", "secret", rights="RWB")
        self.site.sparse("big.bin", SIZE)

    def start(self, **options):
        self.site.db.set_options(**options)
        self.site.start()

    def assertUnderLimit(self, moved, seconds, kib, what):
        average = moved / seconds
        limit = kib * 1024
        self.assertLessEqual(average, limit * FASTEST, f"{what}: {average / MIB:.2f} MiB/s")
        self.assertGreaterEqual(average, limit * SLOWEST, f"{what}: {average / MIB:.2f} MiB/s")

    def ftp_download(self, client, name="big.bin"):
        sink = Counter()
        client.retrbinary(f"RETR {name}", sink.write, blocksize=256 * 1024)
        return sink.count

    def sftp_download(self, client, name="big.bin"):
        """Reads ahead as clients do (paramiko's prefetch): one request at a time would measure
        the round trips, not the limit."""
        sink = Counter()
        client.getfo(f"/{name}", sink)
        return sink.count

    def timed(self, action):
        began = time.monotonic()
        moved = action()
        return moved, time.monotonic() - began

    def test_an_sftp_download_keeps_to_the_server_limit(self):
        self.start(rate_down_kib=LIMIT_KIB)
        sftp = connect(self.site, "bob", "secret")
        self.addCleanup(close_even_if_cut, sftp)
        moved, took = self.timed(lambda: self.sftp_download(sftp))
        self.assertEqual(moved, SIZE)
        self.assertUnderLimit(moved, took, LIMIT_KIB, "SFTP")
        # Uploads are not limited by a download limit.
        moved, took = self.timed(lambda: sftp.putfo(io.BytesIO(bytes(SIZE // 4)), "/free.bin").st_size)
        self.assertGreater(moved / took, 2 * LIMIT_KIB * 1024)

    def test_an_sftp_upload_keeps_to_the_server_limit(self):
        self.start(rate_up_kib=LIMIT_KIB)
        data = os.urandom(SIZE)
        sftp = connect(self.site, "bob", "secret")
        self.addCleanup(close_even_if_cut, sftp)
        _, took = self.timed(lambda: sftp.putfo(io.BytesIO(data), "/up.bin"))
        self.assertUnderLimit(SIZE, took, LIMIT_KIB, "SFTP")
        with open(os.path.join(self.site.root, "up.bin"), "rb") as f:
            self.assertEqual(f.read(), data)

    def parallel(self, actions):
        """Runs `actions` at once; what each moved and the time they all took."""
        results = [None] * len(actions)
        errors = []

        def run(i):
            try:
                results[i] = actions[i]()
            except Exception as e:  # reported below
                errors.append(e)
        threads = [threading.Thread(target=run, args=(i,)) for i in range(len(actions))]
        began = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join(TIMEOUT * 4)
        took = time.monotonic() - began
        self.assertEqual(errors, [])
        return results, took

    def assertFtpAndSftpShare(self, ftp_source):  # noqa: N802 (unittest's style)
        """An FTP session (from `ftp_source`) and an SFTP one download half.bin together within
        LIMIT_KIB."""
        ftp = self.site.ftp("bob", "secret", source=ftp_source)
        self.addCleanup(ftp.close)
        sftp = connect(self.site, "bob", "secret")
        self.addCleanup(close_even_if_cut, sftp)
        (a, b), took = self.parallel([lambda: self.ftp_download(ftp, "half.bin"),
                                      lambda: self.sftp_download(sftp, "half.bin")])
        self.assertEqual(a + b, SIZE)
        self.assertUnderLimit(a + b, took, LIMIT_KIB, "FTP + SFTP")

    def test_two_sessions_of_one_address_over_ftp_and_sftp_share_its_limit(self):
        self.site.sparse("half.bin", SIZE // 2)
        self.start(rate_ip_down_kib=LIMIT_KIB)
        self.assertFtpAndSftpShare(ftp_source=None)
        # Another address has a limit of its own.
        other = self.site.ftp("bob", "secret", source="127.0.0.2")
        self.addCleanup(other.close)
        ftp2 = self.site.ftp("bob", "secret")
        self.addCleanup(ftp2.close)
        (a, b), took = self.parallel([lambda: self.ftp_download(other, "half.bin"),
                                      lambda: self.ftp_download(ftp2, "half.bin")])
        self.assertLess(took, (SIZE / 2) / (LIMIT_KIB * 1024) * 1.5)

    def test_two_sessions_of_one_account_share_its_limit_over_ftp_and_sftp(self):
        """Two FTP sessions of one account: tests/ftp/test_ftprates."""
        self.site.sparse("half.bin", SIZE // 2)
        self.start()
        self.site.kv_ok("user", "set", "bob", "--rate-down", str(LIMIT_KIB))
        self.site.kv_ok("reload")
        self.assertFtpAndSftpShare(ftp_source="127.0.0.2")

    def test_a_lowered_limit_slows_a_running_download(self):
        self.site.sparse("huge.bin", 400 * MIB)
        self.start(rate_down_kib=4 * LIMIT_KIB)
        ftp = self.site.ftp("bob", "secret")
        self.addCleanup(ftp.close)
        ftp.voidcmd("TYPE I")
        data = ftp.transfercmd("RETR huge.bin")
        self.addCleanup(data.close)
        data.settimeout(TIMEOUT)

        def rate_over(seconds):
            moved, began = 0, time.monotonic()
            while time.monotonic() - began < seconds:
                chunk = data.recv(256 * 1024)
                self.assertTrue(chunk)
                moved += len(chunk)
            return moved / (time.monotonic() - began)

        self.assertGreater(rate_over(1.5), 2 * LIMIT_KIB * 1024)
        self.site.kv_ok("option", "set", "rate_down_kib", str(LIMIT_KIB // 4))
        self.site.kv_ok("reload")
        rate_over(1.5)  # within a second the new limit holds; what the socket holds drains
        self.assertLessEqual(rate_over(3), LIMIT_KIB // 4 * 1024 * 1.1)


if __name__ == "__main__":
    unittest.main()
