"""Connection limits and automatic bans with the real program, clients coming
from several addresses of 127.0.0.0/8: the 421 over each limit and its log
line, a ban that starts, refuses, closes the address's open sessions and
ends, the late answer of a refused PASS, and an option out of range."""

import ftplib
import socket
import time
import unittest

from kvharness import Site, TIMEOUT

TOO_MANY = "421 Too many connections, try again later."
BANNED = "421 Too many failed logins from your address, try again later."
# A "minute" of the ban options lasts this many milliseconds in these tests.
MINUTE_MS = 1500


class Client:
    """A raw control connection from `source`, reading whole reply lines."""

    def __init__(self, port, source):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT,
                                             source_address=(source, 0))
        self.file = self.sock.makefile("rb")

    def line(self):
        return self.file.readline().decode().rstrip("\r\n")

    def command(self, text):
        self.sock.sendall(text.encode() + b"\r\n")
        return self.line()

    def timed(self, text):
        started = time.monotonic()
        reply = self.command(text)
        return reply, time.monotonic() - started

    def closed(self):
        """True when the server has closed the connection (read sees the end)."""
        return self.file.read() == b""

    def close(self):
        self.file.close()
        self.sock.close()


class Limits(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.cleanup)
        self.site.db.add_user("bob", "right", rights="RB")
        self.clients = []
        self.addCleanup(lambda: [c.close() for c in self.clients])

    def connect(self, source):
        client = Client(self.site.port, source)
        self.clients.append(client)
        return client

    def log(self):
        return self.site.server.stdout()

    def wait_for_log(self, text):
        deadline = time.monotonic() + TIMEOUT
        while text not in self.log():
            self.assertLess(time.monotonic(), deadline, "not logged: " + text)
            time.sleep(0.05)

    def test_limit_per_address(self):
        self.site.db.set_options(max_connections=0, max_connections_per_ip=2)
        self.site.start()
        first, second = self.connect("127.0.0.2"), self.connect("127.0.0.2")
        self.assertTrue(first.line().startswith("220 "))
        self.assertTrue(second.line().startswith("220 "))
        third = self.connect("127.0.0.2")
        self.assertEqual(third.line(), TOO_MANY)
        self.assertTrue(third.closed())
        other = self.connect("127.0.0.3")  # another address has its own count
        self.assertTrue(other.line().startswith("220 "))
        self.wait_for_log("Connessione da 127.0.0.2 rifiutata: raggiunto il limite di 2 "
                          "connessioni da un indirizzo (max_connections_per_ip)")
        self.assertEqual(first.command("QUIT"), "221 Goodbye.")
        self.assertTrue(first.closed())
        ftp = self.site.ftp("bob", "right", source="127.0.0.2")  # room again
        ftp.quit()

    def test_limit_in_all(self):
        self.site.db.set_options(max_connections=3, max_connections_per_ip=0)
        self.site.start()
        open_ones = [self.connect(f"127.0.0.{n}") for n in (2, 3, 3)]
        for client in open_ones:
            self.assertTrue(client.line().startswith("220 "))
        extra = self.connect("127.0.0.4")
        self.assertEqual(extra.line(), TOO_MANY)
        self.assertTrue(extra.closed())
        self.wait_for_log("Connessione da 127.0.0.4 rifiutata: raggiunto il limite di 3 "
                          "connessioni in tutto (max_connections)")
        with self.assertRaises(ftplib.error_temp):  # nobody gets in while the limit is reached
            self.site.ftp("bob", "right", source="127.0.0.5")

    def test_ban_starts_refuses_and_ends(self):
        self.site.db.set_options(ban_attempts=3, ban_window_minutes=20, ban_minutes=2)
        self.site.start(env={"KESTROVA_BAN_MINUTE_MS": str(MINUTE_MS)})
        idle = self.site.ftp("bob", "right", source="127.0.0.2")
        guesser = self.connect("127.0.0.2")
        self.assertTrue(guesser.line().startswith("220 "))
        for attempt in range(3):
            self.assertEqual(guesser.command("USER bob"), "331 Password required for bob.")
            banned_at = time.monotonic()  # the third PASS starts the ban
            reply, took = guesser.timed(f"PASS wrong{attempt}")
            self.assertEqual(reply, "530 Login incorrect")
            self.assertGreaterEqual(took, 0.9)
            self.assertLess(took, 5)
        # The third failure bans the address: this connection and the idle
        # one from the same address are closed, other addresses go on.
        self.assertEqual(guesser.line(), BANNED)
        self.assertTrue(guesser.closed())
        self.assertEqual(idle.getline(), BANNED)
        idle.close()
        self.wait_for_log("Indirizzo 127.0.0.2 bloccato temporaneamente dopo 3 accessi falliti")
        refused = self.connect("127.0.0.2")
        self.assertEqual(refused.line(), BANNED)  # in place of the greeting
        self.assertTrue(refused.closed())
        self.site.ftp("bob", "right", source="127.0.0.3").quit()
        # Two test minutes later the address is welcome again.
        deadline = banned_at + 2 * MINUTE_MS / 1000 + TIMEOUT
        while True:
            self.assertLess(time.monotonic(), deadline, "the ban did not end")
            client = self.connect("127.0.0.2")
            if client.line().startswith("220 "):
                break
            time.sleep(0.2)
        self.assertGreater(time.monotonic() - banned_at, 2 * MINUTE_MS / 1000 - 0.5)
        self.assertEqual(client.command("USER bob"), "331 Password required for bob.")
        self.assertEqual(client.command("PASS right"), "230 User bob logged in.")

    def test_refused_password_is_answered_late_without_holding_others(self):
        self.site.db.set_options(ban_attempts=5)
        self.site.start()
        guesser, other = self.connect("127.0.0.2"), self.connect("127.0.0.3")
        guesser.line(), other.line()
        guesser.command("USER bob")
        started = time.monotonic()
        guesser.sock.sendall(b"PASS wrong\r\n")
        # Meanwhile the server answers everyone else at once.
        reply, took = other.timed("NOOP")
        self.assertEqual(reply, "200 NOOP command successful")
        self.assertLess(took, 0.5)
        self.assertEqual(guesser.line(), "530 Login incorrect")
        self.assertGreaterEqual(time.monotonic() - started, 0.9)
        # The right password is answered at once.
        guesser.command("USER bob")
        reply, took = guesser.timed("PASS right")
        self.assertEqual(reply, "230 User bob logged in.")
        self.assertLess(took, 0.5)

    def test_without_bans_a_refusal_is_answered_at_once(self):
        self.site.start()  # no rows: no bans, as before
        client = self.connect("127.0.0.2")
        client.line()
        client.command("USER bob")
        reply, took = client.timed("PASS wrong")
        self.assertEqual(reply, "530 Login incorrect")
        self.assertLess(took, 0.5)


if __name__ == "__main__":
    unittest.main()
