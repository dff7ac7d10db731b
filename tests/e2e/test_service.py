"""Service manager notices: READY=1 once listening, RELOADING=1 then READY=1 on SIGHUP and on a
reload asked through the administration channel (as the unit's ExecReload does), STOPPING=1 on
SIGTERM. SIGHUP rereads settings and options: sessions survive a new port, and a port that cannot
be bound keeps the old listener (every other reason a reread fails: the controller's tests)."""

import io
import os
import signal
import socket
import unittest

from kvharness import Server, Site, SiteTestCase, TIMEOUT, fetch, free_port, wait_until


class ServiceNotification(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)  # its cleanup also kills a program still running
        self.path = os.path.join(self.site.tmp, "notify")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.addCleanup(self.sock.close)
        self.sock.bind(self.path)
        self.sock.settimeout(TIMEOUT)

    def notices(self):
        return self.sock.recv(4096).decode()

    def test_ready_reloads_announced_applied_or_not_and_stopping(self):
        self.site.server = Server(self.site.data, {"NOTIFY_SOCKET": self.path})
        proc = self.site.server.proc
        self.assertIn("READY=1", self.notices())
        with socket.create_connection(("127.0.0.1", self.site.port), timeout=TIMEOUT) as ftp:
            self.assertTrue(ftp.recv(512).startswith(b"220"))
        for options, code in ((None, 0), ({}, 0), ({"tls": "bogus"}, 1)):  # None: by SIGHUP
            with self.subTest(options=options):
                if options is None:
                    proc.send_signal(signal.SIGHUP)
                else:
                    self.site.db.set_options(**options)
                    result = self.site.kv("reload")
                    self.assertEqual(result.returncode, code, result.stderr.decode())
                    if code:
                        self.assertIn("Impostazioni non ricaricate: Opzione tls: bogus", result.stderr.decode())
                reloading = self.notices()
                self.assertIn("RELOADING=1", reloading)
                self.assertRegex(reloading, r"MONOTONIC_USEC=\d+")
                ready = self.notices()
                self.assertIn("READY=1", ready)
                self.assertIn(f"porta {self.site.port}", ready)  # still listening where it was
        proc.terminate()
        self.assertIn("STOPPING=1", self.notices())
        self.assertEqual(proc.wait(timeout=TIMEOUT), 0)

    def test_failed_start_is_never_reported_ready(self):
        with socket.create_server(("127.0.0.1", self.site.port)):
            self.site.server = Server(self.site.data, {"NOTIFY_SOCKET": self.path})
            self.assertEqual(self.site.server.proc.wait(timeout=TIMEOUT), 2)
        self.sock.settimeout(0.2)
        with self.assertRaises(socket.timeout):
            self.sock.recv(4096)


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
