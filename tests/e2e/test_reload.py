"""SIGHUP rereads the settings row and the options while the server runs: a
logged-in session keeps answering and transferring after the port changed,
new clients reach the new port, and a reread that cannot be used (an invalid
option, a port in use, a certificate that cannot be read) keeps the old
port serving and logs why."""

import ftplib
import io
import os
import signal
import socket
import time
import unittest

from kvharness import Site, TIMEOUT, free_port


class Reload(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.cleanup)
        self.site.db.add_user("anna", "pw", rights="RWDB")
        self.site.db.run("CREATE TABLE options (name TEXT PRIMARY KEY, value TEXT)")
        self.server = self.site.start()

    def hup_and_wait(self, text, count=1):
        """Sends SIGHUP and waits until `text` is in the output `count` times."""
        self.server.proc.send_signal(signal.SIGHUP)
        deadline = time.monotonic() + TIMEOUT
        while self.server.stdout().count(text) < count:
            self.assertIsNone(self.server.proc.poll(), "the server ended on SIGHUP")
            self.assertLess(time.monotonic(), deadline, "no '%s' in the log" % text)
            time.sleep(0.02)

    def connect(self, port):
        ftp = ftplib.FTP(timeout=TIMEOUT)
        ftp.connect("127.0.0.1", port)
        ftp.login("anna", "pw")
        return ftp

    def test_session_survives_a_new_port(self):
        old_port = self.site.port
        old = self.connect(old_port)
        new_port = free_port()
        self.site.db.settings(port=str(new_port))
        self.hup_and_wait(f"SERVER RELOAD ON IP 127.0.0.1 PORT {new_port}")
        # The session from before answers and moves data both ways.
        self.assertTrue(old.voidcmd("NOOP").startswith("200"))
        got = io.BytesIO()
        old.retrbinary("RETR hello.txt", got.write)
        self.assertEqual(got.getvalue(), b"hello\n")
        old.storbinary("STOR up.bin", io.BytesIO(b"after reload"))
        # New clients find the server on the new port only.
        new = self.connect(new_port)
        self.assertIn("up.bin", new.nlst())
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", old_port), timeout=TIMEOUT).close()
        new.quit()
        old.quit()
        self.assertEqual(self.site.stop(), 0)
        self.assertIn(b"SERVER RELOAD ON IP", self.site.log_file())

    def test_unusable_reread_keeps_the_old_port(self):
        busy = socket.socket()
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        self.addCleanup(busy.close)
        with open(os.path.join(self.site.data, "bad.pem"), "w") as f:
            f.write("no certificate here\n")
        bad_tls = ("INSERT INTO options VALUES ('tls', 'on'), ('tls_certificate', 'bad.pem'),"
                   " ('tls_private_key', 'bad.pem')")
        cases = (
            ("option", lambda: self.site.db.run("INSERT OR REPLACE INTO options VALUES ('tls', 'bogus')"),
             "SERVER RELOAD FAILED: Opzione tls: bogus non è un valore ammesso"),
            ("port in use", lambda: self.site.db.settings(port=str(busy.getsockname()[1])),
             f"SERVER RELOAD FAILED: impossibile usare la porta {busy.getsockname()[1]}"),
            ("no port", lambda: self.site.db.settings(port="porta"),
             'SERVER RELOAD FAILED: Porta non valida: "porta"'),
            ("bad certificate", lambda: (self.site.db.settings(port=str(self.site.port)),
                                         self.site.db.run(bad_tls)),
             "bad.pem non contiene un certificato PEM valido"),
        )
        old = self.connect(self.site.port)
        for number, (name, change, reason) in enumerate(cases, 1):
            with self.subTest(name):
                self.site.db.run("DELETE FROM options")
                change()
                self.hup_and_wait("SERVER RELOAD FAILED", number)
                self.assertIn(reason, self.server.stdout())
                self.assertTrue(old.voidcmd("NOOP").startswith("200"))
                self.connect(self.site.port).quit()
        self.assertNotIn("SERVER RELOAD ON", self.server.stdout())
        old.quit()


if __name__ == "__main__":
    unittest.main()
