"""Actions when files arrive: rules added with the command line, time limits,
and one e-mail per batch caught by a local SMTP server with STARTTLS and a
login (the event in a program's environment, a rule switched off:
test_both_protocols; the size a resumed upload names: the engines' and the
action rule's tests)."""

import email
import email.policy
import io
import os
import shutil
import subprocess
import sys
import time
import unittest
from pathlib import Path

from kvharness import Site, TIMEOUT, free_port, wait_until


def add_rule(test, site, *args):
    result = site.kv_ok("action", "add", *args)
    return int(result.stdout.decode().strip())


def upload(ftp, path, data=b"data\n"):
    ftp.storbinary(f"STOR {path}", io.BytesIO(data))


class RunRules(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)
        self.out = os.path.join(self.site.tmp, "out")
        os.makedirs(self.out)
        for folder in ("slow", "busy"):
            os.makedirs(os.path.join(self.site.root, folder))
        self.site.db.add_user("bob", "pw", rights="RWDBM")
        self.site.db.add_user("alice", "pw", rights="RWDBM")

    def log(self):
        return self.site.server.stdout()

    def test_slow_programs_are_killed_and_sessions_go_on(self):
        add_rule(self, self.site, "upload", "--path", "/slow/*", "--run", "/bin/sleep 30")
        add_rule(self, self.site, "upload", "--path", "/busy/*", "--run", "/bin/sleep 2")
        self.site.db.set_options(action_timeout_seconds=1, action_max_running=20)
        self.site.start()
        bob = self.site.ftp("bob", "pw")
        started = time.monotonic()
        upload(bob, "/slow/a")
        wait_until(lambda: 'upload "/bin/sleep 30": fermato: superato il tempo massimo di 1 '
                   "secondi" in self.log(), "the time limit")
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(self.site.kv("option", "set", "action_timeout_seconds", "10").returncode, 0)
        for i in range(20):
            upload(bob, f"/busy/{i}")
        other = self.site.ftp("alice", "pw")
        times = []
        for _ in range(200):
            t0 = time.perf_counter()
            other.voidcmd("NOOP")
            times.append(time.perf_counter() - t0)
        times.sort()
        p99 = times[int(len(times) * 0.99) - 1]
        self.assertLess(p99, 0.050, f"NOOP p99 {p99 * 1000:.1f} ms")
        # The twenty programs were still running meanwhile, all at once.
        out = subprocess.run(["pgrep", "-c", "-P", str(self.site.server.proc.pid), "sleep"],
                             capture_output=True, text=True, timeout=TIMEOUT)
        self.assertEqual(out.stdout.strip(), "20")
        upload(other, "/busy/after", b"still fine")
        self.assertEqual(other.size("/busy/after"), 10)
        other.quit()
        bob.quit()
        # Twenty-one in all (the last upload too), the twenty-first after a turn.
        wait_until(lambda: self.log().count('"/bin/sleep 2": terminato (codice 0)') == 21,
                   "the busy programs ending")


def make_certificate(folder):
    cert, key = os.path.join(folder, "smtp-cert.pem"), os.path.join(folder, "smtp-key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", key, "-out", cert], check=True, capture_output=True, timeout=60)
    return cert, key


def system_python():
    """aiosmtpd comes as a Debian package, for the system's interpreter."""
    return "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable


class SmtpServer:
    def __init__(self, folder, cert, key):
        self.port = free_port()
        self.out = os.path.join(folder, "mailbox")
        os.makedirs(self.out, exist_ok=True)
        here = os.path.dirname(os.path.abspath(__file__))
        self.proc = subprocess.Popen(
            [system_python(), os.path.join(here, "smtpcatcher.py"), "--port", str(self.port),
             "--cert", cert, "--key", key, "--user", "kv", "--password", "Segreto-SMTP-42",
             "--out", self.out],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if line.strip() != "ready":
            self.proc.kill()
            raise AssertionError("SMTP server did not start: " + self.proc.stderr.read())

    def mails(self):
        return [f for f in os.listdir(self.out) if f.endswith(".eml")]

    def read(self, name):
        return email.message_from_bytes(Path(self.out, name).read_bytes(), policy=email.policy.default)

    def stop(self):
        self.proc.kill()
        self.proc.wait(timeout=TIMEOUT)
        self.proc.stdout.close()
        self.proc.stderr.close()


class MailRules(unittest.TestCase):
    PASSWORD = "Segreto-SMTP-42"

    def setUp(self):
        self.site = Site(self)
        self.site.db.add_user("mario", "pw", rights="RWDBM")
        self.cert, self.key = make_certificate(self.site.tmp)

    def smtp(self):
        server = SmtpServer(self.site.tmp, self.cert, self.key)
        self.addCleanup(server.stop)
        for name, value in (("mail_server", f"127.0.0.1:{server.port}"),
                            ("mail_security", "starttls"), ("mail_ca_file", self.cert),
                            ("mail_user", "kv"), ("mail_password", self.PASSWORD),
                            ("mail_from", "ftp@ufficio.example"), ("mail_batch_seconds", "2")):
            self.site.kv_ok("option", "set", name, value)
        return server

    def test_ten_uploads_give_one_mail_listing_them(self):
        smtp = self.smtp()
        add_rule(self, self.site, "upload", "--user", "mario", "--mail",
                 "ufficio@example.org, capo@example.org")
        self.site.start()  # a refused mail and its retries: the batcher's tests
        ftp = self.site.ftp("mario", "pw")
        for i in range(10):
            upload(ftp, f"/ordine-{i}.csv", b"z" * (100 + i))
        wait_until(lambda: smtp.mails(), "the e-mail")
        # One upload more makes a batch of its own: its mail comes second and lists it alone.
        upload(ftp, "/dopo.csv")
        ftp.quit()
        wait_until(lambda: len(smtp.mails()) == 2, "the second e-mail")
        first, second = (smtp.read(f"mail-{n}.eml") for n in (1, 2))
        # The message's text: the message's tests.
        self.assertEqual(first["X-Rcpt"], "ufficio@example.org,capo@example.org")
        body = first.get_content()
        for i in range(10):
            self.assertIn(f"/ordine-{i}.csv  ({100 + i} byte)", body)
        self.assertIn("/dopo.csv", second.get_content())
        self.assertNotIn("/ordine-", second.get_content())
        self.assertIn("E-MAIL inviata a ufficio@example.org", self.site.server.stdout())
        self.assertNotIn(self.PASSWORD, self.site.server.stdout())
        self.site.stop()
        self.assertNotIn(self.PASSWORD.encode(), self.site.log_file())
        listed = self.site.kv("option", "list", "--json")
        self.assertNotIn(self.PASSWORD, listed.stdout.decode())
        self.assertIn('"********"', listed.stdout.decode())

    def test_mail_test_command(self):
        smtp = self.smtp()
        result = self.site.kv_ok("mail", "test", "prova@example.org")
        self.assertIn("250", result.stdout.decode())
        wait_until(lambda: smtp.mails(), "the test e-mail")
        # A wrong password gets the server's refusal and exit 1.
        self.site.kv("option", "set", "mail_password", "sbagliata")
        self.assertIn("535", self.site.kv_fails("mail", "test", "prova@example.org"))
        self.site.kv("option", "set", "mail_password", self.PASSWORD)
        # A relative certificate file is looked for in the data folder, not
        # in the folder the command happens to run from.
        shutil.copy(self.cert, os.path.join(self.site.data, "posta.pem"))
        self.site.kv("option", "set", "mail_ca_file", "posta.pem")
        self.site.kv_ok("mail", "test", "prova@example.org")
        wait_until(lambda: len(smtp.mails()) == 2, "the second test e-mail")
        # Without the extra certificate the server's own one is not trusted.
        self.site.kv("option", "unset", "mail_ca_file")
        self.site.kv_fails("mail", "test", "prova@example.org")
        self.assertEqual(len(smtp.mails()), 2)
        # No protection is refused towards another machine.
        self.site.kv("option", "set", "mail_security", "none")
        self.site.kv("option", "set", "mail_server", "smtp.example.org")
        self.assertIn("none è ammesso solo verso questo PC", self.site.kv_fails("mail", "test", "prova@example.org"))


class Refusals(unittest.TestCase):
    def test_bad_rules_write_nothing(self):
        site = Site(self)
        add_rule(self, site, "upload", "--run", "/bin/true")
        before = site.kv("action", "list", "--json").stdout
        # Which rules are refused: the rules' tests; here, that a refusal writes nothing.
        for args in (["uploaded", "--run", "/bin/true"], ["upload", "--mail", "not an address"],
                     ["upload", "--path", "scan/*", "--run", "x"]):
            self.assertTrue(site.kv_fails("action", "add", *args).strip(), args)
        self.assertEqual(site.kv("action", "add", "upload").returncode, 2)
        self.assertEqual(site.kv("action", "del", "99").returncode, 1)
        self.assertEqual(site.kv("action", "list", "--json").stdout, before)
