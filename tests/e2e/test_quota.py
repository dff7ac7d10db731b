"""Quotas with real clients: `quota scan` and `quota show` on accounts.dat and through a running
server, and, once accounts can be given a quota from the command line (`user set --quota`),
uploads over FTP (ftplib) and SFTP (paramiko) refused and cut at the quota, one tally for both.
Every wait is bounded."""

import ftplib
import io
import os
import unittest

from sftpharness import close_even_if_cut, connect, sftp_site

QUOTA_EXCEEDED = "552 Quota exceeded."


class Quota(unittest.TestCase):
    def setUp(self):
        self.site = sftp_site(self)
        self.site.db.add_user("bob", "pw", rights="RWDBM")
        # The root holds hello.txt (6 bytes) and victim.txt (8); a second name of one file counts once.
        os.link(os.path.join(self.site.root, "hello.txt"), os.path.join(self.site.root, "sub", "again.txt"))

    def shown(self, login):
        return {row["login"]: row for row in self.site.kv_json("quota", "show")}[login]

    def test_scan_and_show_without_a_server(self):
        self.assertFalse(self.shown("bob")["counted"])
        out = self.site.kv_ok("quota", "scan", "bob").stdout.decode()
        self.assertIn("bob", out)
        row = self.shown("bob")
        self.assertEqual((row["bytesUsed"], row["filesUsed"], row["counted"]), (14, 2, True))
        # The limits come from accounts.dat also when no server runs.
        self.site.kv_ok("user", "set", "bob", "--quota", "1M", "--quota-files", "7")
        row = self.shown("bob")
        self.assertEqual((row["quotaBytes"], row["quotaFiles"]), (1048576, 7))
        self.assertIn('L\'account "nessuno" non esiste', self.site.kv_fails("quota", "show", "nessuno"))
        self.assertIn("Uso:", self.site.kv_fails("quota", "count", code=2))

    def test_a_running_server_counts_and_keeps_the_tallies(self):
        self.site.start()
        with open(os.path.join(self.site.root, "sub", "new.bin"), "wb") as f:
            f.write(b"x" * 1000)
        self.site.kv_ok("quota", "scan")
        row = self.shown("bob")
        self.assertEqual((row["bytesUsed"], row["filesUsed"], row["counted"]), (1014, 3, True))
        self.assertEqual(self.site.stop(), 0)
        # Kept in accounts.dat as counted by a run that ended cleanly.
        self.assertEqual(self.site.db.run("SELECT bytes, files, current FROM quota_usage WHERE account = "
                                          "(SELECT ID FROM users WHERE login = 'bob')"), [(1014, 3, 1)])

    def test_uploads_stop_at_the_quota_over_ftp_and_sftp(self):
        # One tally for both protocols (the replies, the log lines, AVBL and statvfs of each:
        # test_ftpquota and test_sftpquota).
        self.site.kv_ok("user", "set", "bob", "--quota", "1000", "--quota-files", "10")
        self.site.kv_ok("quota", "scan", "bob")
        self.site.start()
        ftp = self.site.ftp("bob", "pw")
        try:
            ftp.storbinary("STOR big.bin", io.BytesIO(b"b" * 5000))
            self.fail("the upload passed the quota")
        except (ConnectionError, ftplib.error_perm) as e:
            reply = str(e) if isinstance(e, ftplib.error_perm) else ftp.getresp()
        except ftplib.all_errors as e:
            reply = str(e)
        self.assertEqual(reply, QUOTA_EXCEEDED)
        self.assertEqual(os.path.getsize(os.path.join(self.site.root, "big.bin")), 1000 - 14)
        ftp.quit()
        sftp = connect(self.site, "bob", "pw")
        try:
            with self.assertRaises(IOError) as failed:
                sftp.open("/other.bin", "w").close()
            self.assertIn("quota superata", str(failed.exception))
            sftp.remove("/big.bin")  # room again
            with self.assertRaises(IOError):
                with sftp.open("/again.bin", "w") as f:
                    f.set_pipelined(False)
                    f.write(b"a" * 2000)
            self.assertEqual(sftp.stat("/again.bin").st_size, 1000 - 14)
        finally:
            close_even_if_cut(sftp)
        self.assertEqual(self.shown("bob")["percent"], 100)


if __name__ == "__main__":
    unittest.main()
