"""Who may log in: named accounts, the anonymous account and the address
lists, decided by the real program and seen by real clients."""

import ftplib
import socket
import subprocess
import unittest

from kvharness import Site, TIMEOUT


class LoginCases(unittest.TestCase):
    """One server; the accounts change between logins (each login reads the
    committed rows afresh)."""

    @classmethod
    def setUpClass(cls):
        cls.site = Site()
        db = cls.site.db
        db.add_user("bob", "x", rights="RB")
        db.add_user("off", "pw", enabled=False, rights="RWDBM")
        db.add_user("quote\"o'%_", "p\"'%", rights="R")
        cls.site.start()

    @classmethod
    def tearDownClass(cls):
        cls.site.cleanup()

    def assertRefused(self, user, password):
        with self.assertRaises(ftplib.error_perm) as ctx:
            self.site.ftp(user, password)
        self.assertTrue(str(ctx.exception).startswith("530 Login incorrect"), str(ctx.exception))

    def test_enabled_account_logs_in(self):
        ftp = self.site.ftp("bob", "x")
        self.assertEqual(ftp.pwd(), "/")
        self.assertIn("hello.txt", ftp.nlst())
        ftp.quit()

    def test_login_name_ignores_case_password_does_not(self):
        self.site.ftp("BOB", "x").quit()
        self.assertRefused("bob", "X")

    def test_wrong_password_disabled_and_unknown_refused(self):
        self.assertRefused("bob", "y")
        self.assertRefused("off", "pw")
        self.assertRefused("nobody", "x")

    def test_quotes_and_wildcards_compare_whole(self):
        self.site.ftp("quote\"o'%_", "p\"'%").quit()
        self.assertRefused("quote\"o'%_", "%")
        self.assertRefused("%", "%")
        self.assertRefused('" OR ""="', '" OR ""="')

    def test_empty_names_refused(self):
        # ftplib would send "anonymous" for an empty name, so speak raw FTP.
        with socket.create_connection(("127.0.0.1", self.site.port), timeout=TIMEOUT) as s:
            f = s.makefile("rwb")
            f.readline()
            for user, password in ((b"", b""), (b"   ", b"  "), (b"", b"x")):
                f.write(b"USER " + user + b"\r\n")
                f.flush()
                reply = f.readline()
                if reply.startswith(b"331"):
                    f.write(b"PASS " + password + b"\r\n")
                    f.flush()
                    reply = f.readline()
                self.assertTrue(reply[:1] == b"5", reply)

    def test_anonymous_any_case_any_password(self):
        self.site.db.set_anonymous(enabled=True)
        try:
            for user, password in (("anonymous", ""), ("ANONYMOUS", "me@example.org"), ("AnOnYmOuS", "x")):
                self.site.ftp(user, password).quit()
        finally:
            self.site.db.set_anonymous(enabled=False)
        self.assertRefused("anonymous", "guest")

    def test_users_row_named_anonymous_wins(self):
        self.site.db.set_anonymous(enabled=False)
        self.site.db.add_user("anonymous", "secret", rights="RWB")
        try:
            ftp = self.site.ftp("anonymous", "secret")
            ftp.storbinary("STOR named.txt", _bytes(b"named"))
            ftp.quit()
            self.assertRefused("anonymous", "other")
        finally:
            self.site.db.run("DELETE FROM users WHERE login='anonymous'")

    def test_new_account_applies_to_next_login(self):
        self.assertRefused("carol", "c")
        self.site.db.add_user("carol", "c", rights="R")
        self.site.ftp("carol", "c").quit()

    def test_curl_and_lftp_log_in(self):
        url = f"ftp://127.0.0.1:{self.site.port}/hello.txt"
        out = subprocess.run(["curl", "-s", "--max-time", str(TIMEOUT), "-u", "bob:x", url],
                             capture_output=True, timeout=TIMEOUT + 5)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stdout, b"hello\n")
        bad = subprocess.run(["curl", "-s", "--max-time", str(TIMEOUT), "-u", "bob:wrong", url],
                             capture_output=True, timeout=TIMEOUT + 5)
        self.assertEqual(bad.returncode, 67)  # curl: login denied
        lftp = subprocess.run(["lftp", "-c", f"set net:max-retries 1; set net:timeout {TIMEOUT}; "
                               f"open -u bob,x -p {self.site.port} 127.0.0.1; cat hello.txt"],
                              capture_output=True, timeout=TIMEOUT * 3)
        self.assertEqual(lftp.returncode, 0, lftp.stderr)
        self.assertEqual(lftp.stdout, b"hello\n")


class AddressLists(unittest.TestCase):
    """The switches are read when the server starts reading the settings row,
    so each case runs its own server start."""

    def setUp(self):
        self.site = Site()
        self.site.db.add_user("bob", "x", rights="RB")

    def tearDown(self):
        self.site.cleanup()

    def login_works(self):
        try:
            self.site.ftp("bob", "x").quit()
            return True
        except ftplib.error_perm:
            return False

    def test_switches_and_lists(self):
        me, other = "127.0.0.1", "127.0.0.2"
        # IPok, IPko, allow list, block list, whether the login gets in.
        for IPok, IPko, allow, block, allowed in (
                (0, 1, [], [me], False), (0, 0, [], [me], True), (1, 0, [me], [], True),
                (1, 0, [other], [], False), (1, 0, [], [], False),
                (1, 1, [me], [me], False), (1, 1, [me], [other], True)):
            with self.subTest(IPok=IPok, IPko=IPko, allow=allow, block=block):
                db = self.site.db
                db.settings(IPok=IPok, IPko=IPko)
                for table, entries in (("IPok", allow), ("IPko", block)):
                    db.run(f"DELETE FROM {table}")
                    for ip in entries:
                        db.run(f"INSERT INTO {table} (IP) VALUES (?)", (ip,))
                self.site.start()  # the switches are read at the start
                try:
                    self.assertEqual(self.login_works(), allowed)
                finally:
                    self.assertEqual(self.site.stop(), 0)


def _bytes(data):
    import io
    return io.BytesIO(data)


if __name__ == "__main__":
    unittest.main()
