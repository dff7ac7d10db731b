"""SIGHUP rereads settings and options: sessions survive a new port, and a port that cannot be bound
keeps the old listener (every other reason a reread fails: the controller's tests)."""

import io
import signal
import socket
import unittest

from kvharness import Site, TIMEOUT, fetch, free_port, wait_until


class Reload(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)
        self.site.db.add_user("anna", "pw", rights="RWDB")
        self.server = self.site.start()

    def hup_and_wait(self, text, count=1):
        self.server.proc.send_signal(signal.SIGHUP)
        wait_until(lambda: self.assertIsNone(self.server.proc.poll(), "the server ended on SIGHUP")
                   or self.server.stdout().count(text) >= count, text)

    def test_session_survives_a_new_port(self):
        old_port, new_port = self.site.port, free_port()
        old = self.site.ftp("anna", "pw")
        self.site.db.settings(port=str(new_port))
        self.hup_and_wait(f"SERVER RELOAD ON IP 127.0.0.1 PORT {new_port}")
        self.assertTrue(old.voidcmd("NOOP").startswith("200"))
        self.assertEqual(fetch(old, "hello.txt"), b"hello\n")
        old.storbinary("STOR up.bin", io.BytesIO(b"after reload"))
        self.site.port = new_port
        new = self.site.ftp("anna", "pw")
        self.assertIn("up.bin", new.nlst())
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", old_port), timeout=TIMEOUT).close()
        new.quit()
        old.quit()
        self.assertEqual(self.site.stop(), 0)
        self.assertIn(b"SERVER RELOAD ON IP", self.site.log_file())

    def test_new_address_on_the_same_port(self):
        port = self.site.port
        old = self.site.ftp("anna", "pw")
        self.site.db.settings(ip="0.0.0.0")
        # While another program holds the port on a second loopback address the wildcard
        # cannot be bound: the old listener must come back.
        with socket.create_server(("127.0.0.2", port)):
            self.hup_and_wait(f"SERVER RELOAD FAILED: impossibile usare la porta {port}")
            self.site.ftp("anna", "pw").quit()
        self.hup_and_wait(f"SERVER RELOAD ON IP 0.0.0.0 PORT {port}")
        self.assertTrue(old.voidcmd("NOOP").startswith("200"))
        self.site.ftp("anna", "pw", source="127.0.0.3").quit()
        old.quit()
