"""SIGHUP rereads settings and options: sessions survive a new port, and an unusable reread keeps the old one."""

import io
import pathlib
import signal
import socket
import unittest

from kvharness import Site, TIMEOUT, fetch, free_port, wait_until


class Reload(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.cleanup)
        self.site.db.add_user("anna", "pw", rights="RWDB")
        self.site.db.run("CREATE TABLE options (name TEXT PRIMARY KEY, value TEXT)")
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

    def test_unusable_reread_keeps_the_old_port(self):
        busy_port = self.enterContext(socket.create_server(("127.0.0.1", 0))).getsockname()[1]
        pathlib.Path(self.site.data, "bad.pem").write_text("no certificate here\n")
        cases = ((self.site.port, "('tls', 'bogus')",
                  "SERVER RELOAD FAILED: Opzione tls: bogus non è un valore ammesso"),
                 (busy_port, "", f"SERVER RELOAD FAILED: impossibile usare la porta {busy_port}"),
                 ("porta", "", 'SERVER RELOAD FAILED: Porta non valida: "porta"'),
                 (self.site.port, "('tls', 'on'), ('tls_certificate', 'bad.pem'), ('tls_private_key', 'bad.pem')",
                  "bad.pem non contiene un certificato PEM valido"))
        old = self.site.ftp("anna", "pw")
        for number, (port, rows, reason) in enumerate(cases, 1):
            with self.subTest(reason):
                self.site.db.run("DELETE FROM options")
                self.site.db.settings(port=str(port))
                if rows:
                    self.site.db.run("INSERT INTO options VALUES " + rows)
                self.hup_and_wait("SERVER RELOAD FAILED", number)
                self.assertIn(reason, self.server.stdout())
                self.assertTrue(old.voidcmd("NOOP").startswith("200"))
                self.site.ftp("anna", "pw").quit()
        self.assertNotIn("SERVER RELOAD ON", self.server.stdout())
        old.quit()
