"""Connection limits and automatic bans, clients coming from several addresses of 127.0.0.0/8;
the limits a new database starts with let real clients with their defaults in."""

import os
import socket
import ssl
import time
import unittest

from kvharness import TIMEOUT, Control, Site, free_port, rclone, read_tree, run, wait_until, write_tree

TOO_MANY = "421 Too many connections, try again later."
BANNED = "421 Too many failed logins from your address, try again later."
MINUTE_MS = 1500  # how long a "minute" of the ban options lasts in these tests


class Limits(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)
        self.site.db.add_user("bob", "right", rights="RB")
        self.clients = []
        self.addCleanup(lambda: [c.close() for c in self.clients])

    def connect(self, source, greeted=True):
        self.clients.append(Control(self.site.port, source, greeted))
        return self.clients[-1]

    def refused(self, client, reply):
        """The server sends `reply` and closes the connection."""
        self.assertEqual(client.line(), reply)
        self.assertEqual(client.file.read(), b"")

    def answered_at_once(self, client, command, reply):
        answer, took = client.timed(command)
        self.assertEqual(answer, reply)
        self.assertLess(took, 0.5)

    def wait_for_log(self, text):
        wait_until(lambda: text in self.site.server.stdout(), text)

    def test_limits_per_address_and_in_all(self):
        self.site.db.set_options(max_connections=3, max_connections_per_ip=2)
        self.site.start()
        first, _ = self.connect("127.0.0.2"), self.connect("127.0.0.2")
        self.refused(self.connect("127.0.0.2", greeted=False), TOO_MANY)
        self.connect("127.0.0.3")  # another address has its own count, up to the limit in all
        self.refused(self.connect("127.0.0.4", greeted=False), TOO_MANY)
        self.wait_for_log("Connessione da 127.0.0.2 rifiutata: raggiunto il limite di 2 "
                          "connessioni da un indirizzo (max_connections_per_ip)")
        self.wait_for_log("Connessione da 127.0.0.4 rifiutata: raggiunto il limite di 3 "
                          "connessioni in tutto (max_connections)")
        self.assertEqual(first.command("QUIT"), "221 Goodbye.")
        self.assertEqual(first.file.read(), b"")
        self.site.ftp("bob", "right", source="127.0.0.2").quit()  # room again

    def test_on_the_implicit_tls_port_the_refusal_comes_over_tls(self):
        implicit = free_port()
        self.site.db.set_options(max_connections_per_ip=1, tls="on", tls_implicit_port=implicit)
        self.site.start()
        context = ssl.create_default_context()
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE

        def tls_client():
            client = context.wrap_socket(socket.create_connection(("127.0.0.1", implicit), timeout=TIMEOUT))
            self.addCleanup(client.close)
            return client.makefile("rb")

        self.assertTrue(tls_client().readline().startswith(b"220 "))
        refused = tls_client()
        self.assertEqual(refused.readline(), TOO_MANY.encode() + b"\r\n")
        self.assertEqual(refused.read(), b"")
        # Refused connections still in their handshake hold memory: past 32 of them, the next
        # refused connection is closed without a reply, and answered again once they are gone.
        silent = [socket.create_connection(("127.0.0.1", implicit), timeout=TIMEOUT) for _ in range(32)]
        with self.assertRaises((ssl.SSLError, ConnectionError)):
            tls_client().readline()
        self.wait_for_log("(chiusa senza risposta: troppe connessioni TLS rifiutate in corso)")
        for s in silent:
            s.close()

        def answered():
            try:
                return tls_client().readline() == TOO_MANY.encode() + b"\r\n"
            except (ssl.SSLError, ConnectionError):
                return False
        wait_until(answered, "a refusal over TLS again", pause=0.1)

    def test_ban_starts_refuses_and_ends(self):
        self.site.db.set_options(ban_attempts=3, ban_window_minutes=20, ban_minutes=2)
        self.site.start(env={"KESTROVA_BAN_MINUTE_MS": str(MINUTE_MS)})
        idle = self.site.ftp("bob", "right", source="127.0.0.2")
        guesser = self.connect("127.0.0.2")
        for attempt in range(3):
            self.assertEqual(guesser.command("USER bob"), "331 Password required for bob.")
            banned_at = time.monotonic()  # the third PASS starts the ban
            reply, took = guesser.timed(f"PASS wrong{attempt}")
            self.assertEqual(reply, "530 Login incorrect")
            self.assertTrue(0.9 <= took < 5, took)
        # The ban closes this connection and the idle one from the same address; others go on.
        self.refused(guesser, BANNED)
        self.assertEqual(idle.getline(), BANNED)
        idle.close()
        self.wait_for_log("Indirizzo 127.0.0.2 bloccato temporaneamente dopo 3 accessi falliti")
        self.refused(self.connect("127.0.0.2", greeted=False), BANNED)
        self.site.ftp("bob", "right", source="127.0.0.3").quit()
        # Two test minutes later the address is welcome again.
        wait_until(lambda: self.connect("127.0.0.2", greeted=False).line().startswith("220 "), "the ban to end",
                   pause=0.2)
        self.assertGreater(time.monotonic() - banned_at, 2 * MINUTE_MS / 1000 - 0.5)
        self.assertEqual(self.clients[-1].command("USER bob"), "331 Password required for bob.")
        self.assertEqual(self.clients[-1].command("PASS right"), "230 User bob logged in.")

    def test_refused_password_is_answered_late_without_holding_others(self):
        self.site.db.set_options(ban_attempts=5)
        self.site.start()
        guesser, other = self.connect("127.0.0.2"), self.connect("127.0.0.3")
        guesser.command("USER bob")
        started = time.monotonic()
        guesser.sock.sendall(b"PASS wrong\r\n")
        self.answered_at_once(other, "NOOP", "200 NOOP command successful")  # others are not held
        self.assertEqual(guesser.line(), "530 Login incorrect")
        self.assertGreaterEqual(time.monotonic() - started, 0.9)
        guesser.command("USER bob")  # the right password is answered at once
        self.answered_at_once(guesser, "PASS right", "230 User bob logged in.")

    def test_without_bans_a_refusal_is_answered_at_once(self):
        self.site.start()  # no rows: no bans, as before
        client = self.connect("127.0.0.2")
        client.command("USER bob")
        self.answered_at_once(client, "PASS wrong", "530 Login incorrect")


class NewDatabase(unittest.TestCase):
    """accounts.dat made by the program itself, with the rows a new database starts with."""

    def setUp(self):
        self.site = Site(self)
        os.remove(self.site.db.path)
        for field, value in (("ip", "127.0.0.1"), ("port", str(self.site.port)), ("rootdir", self.site.root)):
            self.site.kv_ok("settings", "set", field, value)
        self.site.kv_ok("user", "add", "rita", "--rights", "rb", stdin="r-pass\n")

    def test_rclone_with_its_defaults_copies_200_files_without_a_refusal(self):
        # 20 folders: rclone lists them with its 8 checkers while its 4 transfers run.
        files = {f"d{i // 10:02d}/f{i:03d}.bin": os.urandom(1000 + i) for i in range(200)}
        write_tree(os.path.join(self.site.root, "tree"), files)
        self.site.start()
        back = os.path.join(self.site.tmp, "back")
        obscured = run(["rclone", "obscure", "r-pass"]).stdout.decode().strip()
        out = rclone(f":ftp,host=127.0.0.1,port={self.site.port},user=rita,pass={obscured}:", "copy",
                     "REMOTE:tree", back)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertNotIn(b"ERROR", out.stderr)
        self.assertEqual(read_tree(back), files)
        self.assertNotIn("rifiutata", self.site.server.stdout())
