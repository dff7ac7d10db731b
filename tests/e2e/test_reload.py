"""SIGHUP rereads settings and options: sessions survive a new port, and a port that cannot be bound
keeps the old listener (every other reason a reread fails: the controller's tests)."""

import io
import signal
import socket

from kvharness import SiteTestCase, TIMEOUT, fetch, free_port, wait_until


class Reload(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("anna", "pw", rights="RWDB")

    def hup_and_wait(self, text):
        server = self.site.server
        server.proc.send_signal(signal.SIGHUP)
        wait_until(lambda: self.assertIsNone(server.proc.poll(), "the server ended on SIGHUP")
                   or text in server.stdout(), text)

    def test_sessions_survive_a_new_port_and_a_new_address(self):
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
        new.quit()
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", old_port), timeout=TIMEOUT).close()
        self.site.db.settings(ip="0.0.0.0")
        # While another program holds the port on a second loopback address the wildcard
        # cannot be bound: the old listener must come back.
        with socket.create_server(("127.0.0.2", new_port)):
            self.hup_and_wait(f"SERVER RELOAD FAILED: impossibile usare la porta {new_port}")
            self.site.ftp("anna", "pw").quit()
        self.hup_and_wait(f"SERVER RELOAD ON IP 0.0.0.0 PORT {new_port}")
        self.assertTrue(old.voidcmd("NOOP").startswith("200"))
        self.site.ftp("anna", "pw", source="127.0.0.3").quit()
        old.quit()
        self.assertEqual(self.site.stop(), 0)
        self.assertIn(b"SERVER RELOAD ON IP", self.site.log_file())
