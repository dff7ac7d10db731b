"""Service manager notices: READY=1 once listening, RELOADING=1 then READY=1 on SIGHUP and on a
reload asked through the administration channel (as the unit's ExecReload does), STOPPING=1 on
SIGTERM."""

import os
import signal
import socket
import unittest

from kvharness import Server, Site, TIMEOUT


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
