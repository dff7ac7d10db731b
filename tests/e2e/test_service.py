"""The headless program under a service manager: it says READY=1 on the
notification socket once it listens (and not before), RELOADING=1 and then
READY=1 again around a reread on SIGHUP, STOPPING=1 on SIGTERM."""

import os
import signal
import socket
import subprocess
import unittest

from kvharness import Site, TIMEOUT, program


class ServiceNotification(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.path = os.path.join(self.site.tmp, "notify")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)
        self.sock.settimeout(TIMEOUT)
        self.proc = None

    def tearDown(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=TIMEOUT)
        self.sock.close()
        self.site.cleanup()

    def start(self):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", NOTIFY_SOCKET=self.path)
        self.proc = subprocess.Popen([program(), "--headless", "--data-dir", self.site.data], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def test_ready_once_listening_reloading_on_sighup_stopping_on_sigterm(self):
        self.start()
        message = self.sock.recv(4096).decode()
        self.assertIn("READY=1", message)
        with socket.create_connection(("127.0.0.1", self.site.port), timeout=TIMEOUT) as ftp:
            self.assertTrue(ftp.recv(512).startswith(b"220"))
        self.proc.send_signal(signal.SIGHUP)
        self.assertIn("RELOADING=1", self.sock.recv(4096).decode())
        self.assertIn("READY=1", self.sock.recv(4096).decode())
        self.proc.terminate()
        self.assertIn("STOPPING=1", self.sock.recv(4096).decode())
        self.assertEqual(self.proc.wait(timeout=TIMEOUT), 0)

    def test_failed_start_is_never_reported_ready(self):
        with socket.socket() as busy:
            busy.bind(("127.0.0.1", self.site.port))
            busy.listen()
            self.start()
            self.assertEqual(self.proc.wait(timeout=TIMEOUT), 2)
        self.sock.settimeout(0.2)
        with self.assertRaises(socket.timeout):
            self.sock.recv(4096)


if __name__ == "__main__":
    unittest.main()
