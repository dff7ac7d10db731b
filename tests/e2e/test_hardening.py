"""Downloads that lose their file under the real program end with the right reply and log line
(client text in the log, a log file that cannot be written, stalled transfers: the log text's,
the activity log's and the engine's tests); a password sent behind a malformed verb reaches
neither the log nor a reply."""

import os
import time

from kvharness import Control, SiteTestCase, TIMEOUT, passive_socket, wait_until


def log_text(site):
    return (site.log_file() or b"").decode("utf-8", "replace")


class Shrinking(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "x", rights="RB")

    def test_a_file_cut_short_during_its_download_ends_with_451(self):
        # Binary type goes by sendfile, ASCII type in chunks read and converted.
        for kind in ("I", "A"):
            with self.subTest(type=kind):
                self.cut_short_download(kind, f"shrink{kind}.bin")

    def cut_short_download(self, kind, name):
        self.site.sparse(name, 200_000_000)
        path = os.path.join(self.site.root, name)
        client = Control(self.site.port)
        self.addCleanup(client.close)
        client.command("USER bob")
        self.assertTrue(client.command("PASS x").startswith("230"))
        self.assertTrue(client.command("TYPE " + kind).startswith("200"))
        data = passive_socket(client.command("PASV"), rcvbuf=65536)
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


class Passwords(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "x", rights="RB")

    def test_a_password_behind_a_malformed_verb_is_masked_in_the_log_and_never_echoed(self):
        shapes = (b"PASSsecretA", b"\tPASS secretB", b"\0PASS secretC", b"passwordsecretD",
                  b" \t\0 Acct secretE", b"PASS\tsecretF", b"\xff\xf4PASSsecretG")
        client = Control(self.site.port)
        self.addCleanup(client.close)
        self.assertEqual(client.command("USER bob"), "331 Password required for bob.")
        for shape in shapes:
            with self.subTest(shape=shape):
                client.sock.sendall(shape + b"\r\n")
                reply = client.reply()
                self.assertRegex(reply, r"^50[01] ")
                self.assertNotIn("secret", reply)
        self.assertEqual(client.command("NOOP"), "200 NOOP command successful")
        wait_until(lambda: "NOOP" in log_text(self.site), "the last line in ftp.log")
        for where, text in (("ftp.log", log_text(self.site)), ("standard output", self.site.server.stdout())):
            with self.subTest(where=where):
                self.assertNotIn("secret", text)
                self.assertGreaterEqual(text.count("PASS ***"), 6)
                self.assertIn("ACCT ***", text)
