"""Actions when files arrive: rules added with the command line, programs
started with the event in their environment, time limits, and one e-mail per
batch caught by a local SMTP server with STARTTLS and a login."""

import datetime
import email
import email.policy
import io
import os
import shutil
import subprocess
import sys
import time
import unittest

from kvharness import Site, TIMEOUT, free_port, read_text, wait_until

MAIL_SECOND_MS = 10  # retries after 0.3, 1.2 and 4.8 s


def add_rule(test, site, *args):
    result = site.kv("action", "add", *args)
    test.assertEqual(result.returncode, 0, result.stderr.decode())
    return int(result.stdout.decode().strip())


def upload(ftp, path, data=b"data\n"):
    ftp.storbinary(f"STOR {path}", io.BytesIO(data))


def files_in(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


class RunRules(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.cleanup)
        self.out = os.path.join(self.site.tmp, "out")
        os.makedirs(self.out)
        os.makedirs(os.path.join(self.site.root, "scan", "deep"))
        self.site.db.add_user("bob", "pw", rights="RWDBM")
        self.site.db.add_user("alice", "pw", rights="RWDBM")

    def start(self, **options):
        if options:
            for name, value in options.items():
                self.assertEqual(self.site.kv("option", "set", name, str(value)).returncode, 0)
        self.site.start()

    def log(self):
        return self.site.server.stdout()

    def test_upload_program_gets_the_event_in_its_environment(self):
        add_rule(self, self.site, "upload", "--run",
                 f'/bin/sh -c "env > {self.out}/env.txt; pwd > {self.out}/pwd.txt"')
        # Nothing but double quotes is interpreted: the words reach the program as typed.
        add_rule(self, self.site, "upload", "--run", '/usr/bin/printf "[%s]\\n" $HOME ; | > x')
        # Which events a rule takes (account, path, switched off, only whole uploads): the rules' tests.
        off = add_rule(self, self.site, "upload", "--run", f'/bin/sh -c "echo $KV_PATH >> {self.out}/off.txt"')
        self.assertEqual(self.site.kv("action", "off", str(off)).returncode, 0)
        self.start()
        before = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
        ftp = self.site.ftp("bob", "pw")
        upload(ftp, "/scan/doc one.pdf", b"x" * 1234)
        ftp.quit()
        wait_until(lambda: os.path.exists(f"{self.out}/pwd.txt")
                   and read_text(f"{self.out}/pwd.txt"), "the program's output")
        env = dict(line.split("=", 1) for line in read_text(f"{self.out}/env.txt").splitlines()
                   if "=" in line)
        real = os.path.join(self.site.root, "scan", "doc one.pdf")
        self.assertEqual(env["KV_EVENT"], "upload")
        self.assertEqual(env["KV_USER"], "bob")
        self.assertEqual(env["KV_ADDRESS"], "127.0.0.1")
        self.assertEqual(env["KV_PATH"], "/scan/doc one.pdf")
        self.assertEqual(os.path.realpath(env["KV_FILE"]), os.path.realpath(real))
        self.assertTrue(os.path.isabs(env["KV_FILE"]))
        self.assertEqual(env["KV_SIZE"], "1234")
        self.assertEqual(env["KV_PROTOCOL"], "ftp")
        when = datetime.datetime.fromisoformat(env["KV_TIME"].replace("Z", "+00:00"))
        self.assertEqual(when.utcoffset(), datetime.timedelta(0))
        self.assertLessEqual(abs((when - before).total_seconds()), 60)
        self.assertEqual(os.path.realpath(read_text(f"{self.out}/pwd.txt").strip()),
                         os.path.realpath(os.path.dirname(real)))
        wait_until(lambda: "output: [$HOME]" in self.log(), "the second program's output in the log")
        for word in (";", "|", ">", "x"):
            self.assertIn(f"output: [{word}]", self.log())
        self.assertFalse(os.path.exists(os.path.join(self.site.root, "scan", "x")))
        self.assertFalse(os.path.exists(f"{self.out}/off.txt"))

    def test_slow_programs_are_killed_and_sessions_go_on(self):
        add_rule(self, self.site, "upload", "--path", "/slow/*", "--run", "/bin/sleep 30")
        add_rule(self, self.site, "upload", "--path", "/busy/*", "--run", "/bin/sleep 2")
        add_rule(self, self.site, "upload", "--path", "/missing/*", "--run",
                 "/no/such/program --flag")
        add_rule(self, self.site, "upload", "--path", "/fail/*", "--run", '/bin/sh -c "exit 3"')
        for folder in ("slow", "busy", "missing", "fail"):
            os.makedirs(os.path.join(self.site.root, folder))
        self.start(action_timeout_seconds=1, action_max_running=20)
        bob = self.site.ftp("bob", "pw")
        started = time.monotonic()
        upload(bob, "/slow/a")
        wait_until(lambda: 'upload "/bin/sleep 30": fermato: superato il tempo massimo di 1 '
                   "secondi" in self.log(), "the time limit")
        self.assertLess(time.monotonic() - started, 5)
        upload(bob, "/missing/a")
        upload(bob, "/fail/a")
        wait_until(lambda: "impossibile avviare il programma" in self.log()
                   and "terminato con errore (codice 3)" in self.log(), "the failures logged")
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
    def __init__(self, folder, cert, key, refuse=0):
        self.port = free_port()
        self.out = os.path.join(folder, "mailbox")
        os.makedirs(self.out, exist_ok=True)
        here = os.path.dirname(os.path.abspath(__file__))
        self.proc = subprocess.Popen(
            [system_python(), os.path.join(here, "smtpcatcher.py"), "--port", str(self.port),
             "--cert", cert, "--key", key, "--user", "kv", "--password", "Segreto-SMTP-42",
             "--refuse", str(refuse), "--out", self.out],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if line.strip() != "ready":
            self.proc.kill()
            raise AssertionError("SMTP server did not start: " + self.proc.stderr.read())

    def mails(self):
        return [f for f in files_in(self.out) if f.endswith(".eml")]

    def refusals(self):
        return [f for f in files_in(self.out) if f.startswith("refused-")]

    def read(self, name):
        with open(os.path.join(self.out, name), "rb") as f:
            return email.message_from_bytes(f.read(), policy=email.policy.default)

    def stop(self):
        self.proc.kill()
        self.proc.wait(timeout=TIMEOUT)
        self.proc.stdout.close()
        self.proc.stderr.close()


class MailRules(unittest.TestCase):
    PASSWORD = "Segreto-SMTP-42"

    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.cleanup)
        self.site.db.add_user("mario", "pw", rights="RWDBM")
        self.cert, self.key = make_certificate(self.site.tmp)

    def smtp(self, refuse=0):
        server = SmtpServer(self.site.tmp, self.cert, self.key, refuse)
        self.addCleanup(server.stop)
        for name, value in (("mail_server", f"127.0.0.1:{server.port}"),
                            ("mail_security", "starttls"), ("mail_ca_file", self.cert),
                            ("mail_user", "kv"), ("mail_password", self.PASSWORD),
                            ("mail_from", "ftp@ufficio.example"), ("mail_batch_seconds", "2")):
            result = self.site.kv("option", "set", name, value)
            self.assertEqual(result.returncode, 0, result.stderr.decode())
        return server

    def test_ten_uploads_give_one_mail_listing_them(self):
        smtp = self.smtp()
        add_rule(self, self.site, "upload", "--user", "mario", "--mail",
                 "ufficio@example.org, capo@example.org")
        self.site.start(env={"KESTROVA_MAIL_SECOND_MS": str(MAIL_SECOND_MS)})
        ftp = self.site.ftp("mario", "pw")
        for i in range(10):
            upload(ftp, f"/ordine-{i}.csv", b"z" * (100 + i))
        ftp.quit()
        wait_until(lambda: smtp.mails(), "the e-mail")
        time.sleep(2.5)  # a second message for the same batch would come by now
        self.assertEqual(len(smtp.mails()), 1)
        mail = smtp.read(smtp.mails()[0])
        self.assertEqual(mail["Subject"], "Kestrova Vellim: 10 file ricevuti da mario")
        self.assertEqual(mail["X-Rcpt"], "ufficio@example.org,capo@example.org")
        self.assertEqual(mail.get_content_type(), "text/plain")
        self.assertEqual(mail.get_content_charset(), "utf-8")
        body = mail.get_content()
        for i in range(10):
            self.assertIn(f"/ordine-{i}.csv  ({100 + i} byte)", body)
        self.assertEqual(body.count("account: mario  indirizzo: 127.0.0.1"), 10)
        wait_until(lambda: "E-MAIL inviata a ufficio@example.org" in self.site.server.stdout(),
                   "the log line")
        self.assertNotIn(self.PASSWORD, self.site.server.stdout())
        self.site.stop()
        self.assertNotIn(self.PASSWORD.encode(), self.site.log_file())
        listed = self.site.kv("option", "list", "--json")
        self.assertNotIn(self.PASSWORD, listed.stdout.decode())
        self.assertIn('"********"', listed.stdout.decode())

    def test_a_refused_mail_is_sent_again(self):
        smtp = self.smtp(refuse=2)
        add_rule(self, self.site, "upload", "--mail", "ufficio@example.org")
        self.site.start(env={"KESTROVA_MAIL_SECOND_MS": str(MAIL_SECOND_MS)})
        ftp = self.site.ftp("mario", "pw")
        upload(ftp, "/fattura.pdf")
        ftp.quit()
        wait_until(lambda: smtp.mails(), "the e-mail on the third try")
        self.assertEqual(len(smtp.refusals()), 2)
        self.assertEqual(len(smtp.mails()), 1)
        log = self.site.server.stdout()
        self.assertIn("nuovo tentativo tra 0.3 secondi", log)
        self.assertIn("nuovo tentativo tra 1.2 secondi", log)
        self.assertIn("451", log)

    def test_mail_test_command(self):
        smtp = self.smtp()
        result = self.site.kv("mail", "test", "prova@example.org")
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertIn("250", result.stdout.decode())
        wait_until(lambda: smtp.mails(), "the test e-mail")
        # A wrong password gets the server's refusal and exit 1.
        self.site.kv("option", "set", "mail_password", "sbagliata")
        result = self.site.kv("mail", "test", "prova@example.org")
        self.assertEqual(result.returncode, 1)
        self.assertIn("535", result.stderr.decode())
        self.site.kv("option", "set", "mail_password", self.PASSWORD)
        # A relative certificate file is looked for in the data folder, not
        # in the folder the command happens to run from.
        shutil.copy(self.cert, os.path.join(self.site.data, "posta.pem"))
        self.site.kv("option", "set", "mail_ca_file", "posta.pem")
        result = self.site.kv("mail", "test", "prova@example.org")
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        wait_until(lambda: len(smtp.mails()) == 2, "the second test e-mail")
        # Without the extra certificate the server's own one is not trusted.
        self.site.kv("option", "unset", "mail_ca_file")
        result = self.site.kv("mail", "test", "prova@example.org")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(len(smtp.mails()), 2)
        # No protection is refused towards another machine.
        self.site.kv("option", "set", "mail_security", "none")
        self.site.kv("option", "set", "mail_server", "smtp.example.org")
        result = self.site.kv("mail", "test", "prova@example.org")
        self.assertEqual(result.returncode, 1)
        self.assertIn("none è ammesso solo verso questo PC", result.stderr.decode())


class Refusals(unittest.TestCase):
    def test_bad_rules_write_nothing(self):
        site = Site()
        self.addCleanup(site.cleanup)
        add_rule(self, site, "upload", "--run", "/bin/true")
        before = site.kv("action", "list", "--json").stdout
        for args in (["uploaded", "--run", "/bin/true"], ["upload", "--run", ""],
                     ["upload", "--run", '""'], ["upload", "--mail", "not an address"],
                     ["upload", "--mail", "a@b.it,"], ["upload", "--path", "scan/*", "--run", "x"],
                     ["upload", "--path", "/a/***", "--run", "x"]):
            result = site.kv("action", "add", *args)
            self.assertEqual(result.returncode, 1, args)
            self.assertTrue(result.stderr.decode().strip(), args)
        self.assertEqual(site.kv("action", "add", "upload").returncode, 2)
        self.assertEqual(site.kv("action", "del", "99").returncode, 1)
        self.assertEqual(site.kv("action", "list", "--json").stdout, before)


if __name__ == "__main__":
    unittest.main()
