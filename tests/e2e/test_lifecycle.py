"""Starting and stopping the headless server, and what it logs."""

import os
import re
import signal
import socket
import sqlite3
import tempfile
import unittest
from pathlib import Path

from kvharness import Server, Site, TIMEOUT, program, run

START = re.compile(rb"^\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\] SERVER START ON IP 127\.0\.0\.1$")
STOP = re.compile(rb"^\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\] SERVER STOP$")


class Logging(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.cleanup)

    def test_start_stop_lines_and_engine_lines(self):
        self.site.db.add_user("bob", "secret-pw", rights="R")
        Path(self.site.data, "ftp.log").write_bytes(b"earlier run\r\n")
        for sig in (signal.SIGTERM, signal.SIGINT):  # either stops cleanly
            self.site.start()
            self.site.ftp("bob", "secret-pw").quit()
            self.assertEqual(self.site.stop(sig), 0)
        raw = self.site.log_file()
        self.assertNotIn(b"secret-pw", raw, "a password reached the log")
        self.assertTrue(raw.startswith(b"earlier run\r\n"), "the existing log was not kept")
        self.assertTrue(raw.endswith(b"\r\n"))
        self.assertNotIn(b"\n", raw.replace(b"\r\n", b""), "a line end other than CR LF")
        lines = raw.split(b"\r\n")[1:-1]
        starts, stops = ([i for i, l in enumerate(lines) if line.match(l)] for line in (START, STOP))
        self.assertEqual((len(starts), len(stops)), (2, 2))
        self.assertEqual([lines[i - 1] for i in starts], [b"", b""], "no empty line before a start line")
        engine = lines[starts[0] + 1:stops[0]]
        self.assertTrue(any(re.match(rb"^\[\d\d:\d\d:\d\d 127\.0\.0\.1\] 220 ", l) for l in engine),
                        "greeting logged with the client's address before login")
        self.assertTrue(any(re.match(rb"^\[\d\d:\d\d:\d\d 127\.0\.0\.1\] 230 User bob logged in\.$", l)
                            for l in engine), engine)

    def test_nothing_written_with_log_off(self):
        self.site.db.settings(log=0)
        server = self.site.start()
        self.assertEqual(self.site.stop(), 0)
        self.assertIsNone(self.site.log_file())
        self.assertIn("SERVER STOP", server.stdout(), "the screen log lost its lines")


class StartFailure(unittest.TestCase):
    def test_port_in_use(self):
        site = Site()
        self.addCleanup(site.cleanup)
        with socket.socket() as busy:
            busy.bind(("127.0.0.1", site.port))
            busy.listen()
            server = Server(site.data)
            code = server.proc.wait(timeout=TIMEOUT)
            server.stop()
        self.assertEqual(code, 2)
        self.assertIn("Impossibile avviare il server: controllare indirizzo IP e porta", server.stderr())
        self.assertIsNone(site.log_file(), "a failed start was logged")


class DatabaseFile(unittest.TestCase):
    def setUp(self):
        self.tmp = self.enterContext(tempfile.TemporaryDirectory(prefix="kv-e2e-db-", ignore_cleanup_errors=True))

    def test_foreign_file_left_untouched(self):
        path = os.path.join(self.tmp, "accounts.dat")
        content = b"not a database at all\n" * 100
        Path(path).write_bytes(content)
        out = run([program(), "--headless", "--data-dir", self.tmp])
        self.assertEqual(out.returncode, 1)
        self.assertIn("accounts.dat", out.stderr.decode())
        self.assertEqual(Path(path).read_bytes(), content)

    def test_new_folder_gets_database(self):
        server = Server(self.tmp)
        # With the created settings it listens on the default address, port 21 (or fails when that
        # is taken): either way the file is made first, its rows as the database tests expect.
        server.wait_started()
        server.stop()
        with sqlite3.connect(os.path.join(self.tmp, "accounts.dat")) as c:
            self.assertEqual(c.execute("SELECT ip, port FROM settings").fetchall(), [("Default", "21")])

    def test_help_and_version(self):
        version, usage = run([program(), "--version"]), run([program(), "--help"])
        self.assertEqual((version.returncode, usage.returncode), (0, 0))
        self.assertIn(b"1.0.0", version.stdout)
        self.assertTrue(b"--headless" in usage.stdout and b"--data-dir" in usage.stdout, usage.stdout)


if __name__ == "__main__":
    unittest.main()
