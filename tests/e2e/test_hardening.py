"""The real program against clients that misbehave and a disk that runs out: control characters
from clients never reach the log raw, a log file that cannot be written is reported and never
torn, and downloads that lose their file end with the right reply and log line (password lines,
stalled transfers and a full disk: the log text's and the engine's tests)."""

import os
import re
import resource
import time
import unittest

from kvharness import Control, Site, SiteTestCase, TIMEOUT, wait_until


def start_limited(site, max_file_bytes):
    """The program with a file-size limit (RLIMIT_FSIZE): past it every write fails, as on a
    full disk."""
    site.start(preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (max_file_bytes, max_file_bytes)))


def log_text(site):
    return (site.log_file() or b"").decode("utf-8", "replace")


class LogSafety(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "right", rights="RB")

    def test_client_text_is_escaped(self):
        client = Control(self.site.port)
        client.send(b"USER evil\n[12:00:00 10.9.9.9] 230 User admin logged in.\r\n")
        client.reply()
        client.reply()
        client.send("USER a\u0085b\u2028c\u202ed\u2066e\u200ff".encode() + b"\r\n")
        client.reply()
        client.command("QUIT")
        client.close()
        wait_until(lambda: "221 " in log_text(self.site), "the goodbye in the log")
        for where, text in (("ftp.log", log_text(self.site)), ("stdout", self.site.server.stdout())):
            lines = [line for line in re.split(r"\r?\n", text) if line]
            self.assertFalse([line for line in lines if line.startswith("[12:00:00")], where)
            for mark in ("evil", "10.9.9.9", "a\\x85b"):
                mentions = [line for line in lines if mark in line]
                self.assertTrue(mentions, where + ": " + mark)
                for line in mentions:  # one line each, in the log's own shape
                    self.assertRegex(line, r"^\[\d\d:\d\d:\d\d\] ", where)
            self.assertIn("a\\x85b\\u2028c\\u202ed\\u2066e\\u200ff", text, where)
            for raw in ("\u0085", "\u2028", "\u202e", "\u2066", "\u200f", "\x1b"):
                self.assertNotIn(raw, text, where)


class Shrinking(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "x", rights="RB")

    def login(self):
        client = Control(self.site.port)
        self.addCleanup(client.close)
        client.command("USER bob")
        self.assertTrue(client.command("PASS x").startswith("230"))
        self.assertTrue(client.command("TYPE I").startswith("200"))
        return client

    def test_a_file_cut_short_during_its_download_ends_with_451(self):
        # Binary type goes by sendfile, ASCII type in chunks read and converted.
        for kind in ("I", "A"):
            with self.subTest(type=kind):
                self.cut_short_download(kind, f"shrink{kind}.bin")

    def cut_short_download(self, kind, name):
        self.site.sparse(name, 200_000_000)
        path = os.path.join(self.site.root, name)
        client = self.login()
        self.assertTrue(client.command("TYPE " + kind).startswith("200"))
        data = client.passive_data(rcvbuf=65536)
        self.addCleanup(data.close)
        self.assertTrue(client.command("RETR " + name).startswith("150"))
        received = 0
        while received < 1_000_000:
            chunk = data.recv(65536)
            self.assertTrue(chunk)
            received += len(chunk)
        os.truncate(path, 5_000_000)
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            chunk = data.recv(1 << 20)
            if not chunk:
                break
            received += len(chunk)
        self.assertLess(received, 200_000_000)
        self.assertRegex(client.reply(), r"^451 ")
        self.assertTrue(client.command("NOOP").startswith("200"))
        wait_until(lambda: f"Download /{name}:" in log_text(self.site), "the transfer's log line")
        line = next(l for l in log_text(self.site).splitlines() if f"Download /{name}:" in l)
        self.assertIn("incompleto", line)
        self.assertIn("200000000", line)


class FullDisk(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.cleanup)

    def test_a_log_that_cannot_be_written_is_reported_and_never_torn(self):
        limit = 64 * 1024
        log = os.path.join(self.site.data, "ftp.log")
        before = b"[01-01-2026 00:00:00] SERVER STOP\r\n" * ((limit - 2) // 35)
        before += b"x" * (limit - 7 - len(before) - 2) + b"\r\n"
        with open(log, "wb") as f:
            f.write(before)
        start_limited(self.site, limit)
        server = self.site.server
        for _ in range(3):
            client = Control(self.site.port)
            client.command("NOOP")
            client.close()
        wait_until(lambda: server.stdout().count("NOOP") >= 3, "three sessions in the log")
        with open(log, "rb") as f:
            kept = f.read()
        self.assertTrue(kept.startswith(before))
        self.assertTrue(kept.endswith(b"\r\n"), kept[-60:])
        self.assertLessEqual(len(kept), len(before) + 2)  # at most the empty line before the start
        warnings = [l for l in server.stderr().splitlines() if "file di log" in l]
        self.assertEqual(len(warnings), 1, server.stderr())
        self.assertEqual(server.stdout().count(warnings[0]), 1)

        os.rename(log, log + ".full")  # space again: the next line starts a new file
        client = Control(self.site.port)
        client.command("NOOP")
        client.close()
        wait_until(lambda: len(server.stderr().splitlines()) >= 2, "the recovery on stderr")
        recovered = server.stderr().splitlines()[-1]
        self.assertIn("file di log", recovered)
        self.assertIn(recovered, server.stdout())
        def fresh():
            with open(log, "rb") as f:
                return f.read()

        wait_until(lambda: os.path.exists(log) and b"NOOP" in fresh(), "new log lines")
        lines = fresh().split(b"\r\n")
        self.assertEqual(lines[0].decode(), recovered)  # the gap is noted in the file too
        self.assertEqual(lines[-1], b"")
        for line in lines[1:-1]:
            self.assertTrue(line.startswith(b"["), line)


if __name__ == "__main__":
    unittest.main()
