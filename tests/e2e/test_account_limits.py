"""An account's limits and expiry date from the command line (user add|set, anonymous set,
user list), and an expired account over FTP: refused as a wrong password is, without counting
towards a ban, and told once per date."""

import datetime
import ftplib
import unittest

from kvharness import Site, wait_until

LIMIT_COLUMNS = ("rate_up_kib", "rate_down_kib", "session_rate_up_kib", "session_rate_down_kib",
                 "quota_bytes", "quota_files", "expires")


def day(offset):
    """The PC's local date, `offset` days from today, as the program reads it."""
    return (datetime.date.today() + datetime.timedelta(days=offset)).isoformat()


class AccountLimits(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)

    def limits(self, login):
        return next(row for row in self.site.kv_json("user", "list") if row["login"] == login)

    def stored(self):
        return (self.site.db.run("SELECT * FROM users ORDER BY ID"),
                self.site.db.run("SELECT * FROM account_limits ORDER BY account"))

    def test_the_command_line_sets_and_shows_limits(self):
        self.site.kv_ok("user", "add", "bob", "--rights", "rb", "--rate-up", "100", "--rate-down",
                        "200", "--session-rate-up", "10", "--session-rate-down", "20", "--quota",
                        "2G", "--quota-files", "500", "--expires", day(30), stdin="pw\n")
        bob = self.limits("bob")
        self.assertEqual([bob[c] for c in LIMIT_COLUMNS], [100, 200, 10, 20, 2 << 30, 500, day(30)])
        self.assertIs(bob["expired"], False)

        # One field at a time; "never" clears the date; 0 is no limit.
        self.site.kv_ok("user", "set", "bob", "--quota", "1536M", "--expires", "never",
                        "--rate-up", "0")
        bob = self.limits("bob")
        self.assertEqual([bob[c] for c in LIMIT_COLUMNS], [0, 200, 10, 20, 1536 << 20, 500, None])

        # Refused values: status 1, the reason, nothing changed, also for a new account; one value
        # a flag (each reason: tests/access/test_accountlimitfields.cpp).
        before = self.stored()
        for args, reason in (
                (("user", "set", "bob", "--quota", "1.5G", "--rate-down", "7"),
                 'Quota di spazio: "1.5G" deve essere un numero intero'),
                (("user", "add", "carol", "--rate-down", "99999999999"), "è oltre il massimo (16777216)"),
                (("anonymous", "set", "--session-rate-up", "-1"), "non può essere negativo")):
            with self.subTest(args=args):
                self.assertIn(reason, self.site.kv_fails(*args, stdin="pw\n"))
        self.assertEqual(self.stored(), before)

        # The anonymous account, without switching it on.
        self.site.kv_ok("anonymous", "set", "--rate-down", "64", "--expires", day(-1))
        anonymous = self.site.kv_json("anonymous", "show")[0]
        self.assertEqual((anonymous["rate_down_kib"], anonymous["expires"], anonymous["expired"],
                          anonymous["abilitato"]), (64, day(-1), True, "no"))

        # People read "scaduto" beside an expired account's date.
        self.site.kv_ok("user", "set", "bob", "--expires", day(-1))
        self.assertIs(self.limits("bob")["expired"], True)
        listing = self.site.kv_ok("user", "list").stdout.decode()
        self.assertIn(f"{day(-1)} (scaduto)", listing)
        self.assertIn("invio 200 KiB/s", listing)
        self.assertIn("--expires AAAA-MM-GG|never", self.site.kv_ok("help", "user").stdout.decode())

    def test_an_expired_account_is_refused_and_its_sessions_end(self):
        self.site.db.set_options(ban_attempts=2, ban_window_minutes=10, ban_minutes=10)
        self.site.kv_ok("user", "add", "bob", "--rights", "rb", "--expires", day(-1), stdin="pw\n")
        self.site.kv_ok("user", "add", "carol", "--rights", "rb", "--expires", day(0), stdin="pw\n")
        self.site.start()
        # Told once when the server finds it expired.
        told = f"Account bob: account scaduto il {day(-1)}, sessioni chiuse: 0"
        wait_until(lambda: told in self.site.server.stdout(), told)

        # More refusals than ban_attempts: the password was right, so the address stays free.
        for _ in range(3):
            with self.assertRaises(ftplib.error_perm) as refused:
                self.site.ftp("bob", "pw")
            self.assertEqual(str(refused.exception), "530 Login incorrect")
        self.assertIn("Login rifiutato: account scaduto", self.site.server.stdout())
        self.assertNotIn("bloccato temporaneamente", self.site.server.stdout())
        # carol's last day is today.
        carol = self.site.ftp("carol", "pw")
        self.assertEqual(carol.voidcmd("NOOP"), "200 NOOP command successful")
        # A wrong password still counts: two from another address ban it.
        for _ in range(2):
            with self.assertRaises(ftplib.error_perm):
                self.site.ftp("bob", "wrong", source="127.0.0.9")
        banned = "Indirizzo 127.0.0.9 bloccato temporaneamente dopo 2 accessi falliti"
        wait_until(lambda: banned in self.site.server.stdout(), banned)

        carol.close()
        # An open session ended by a date moved into the past: test_both_protocols.

        # Told once per date, also across a restart.
        self.site.stop()
        self.site.start()
        with self.assertRaises(ftplib.error_perm):
            self.site.ftp("bob", "pw")
        self.assertNotIn("Account bob:", self.site.server.stdout())
        self.assertNotIn("Account carol:", self.site.server.stdout())


if __name__ == "__main__":
    unittest.main()
