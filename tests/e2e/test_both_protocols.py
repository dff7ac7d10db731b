"""The same scenarios over FTP (ftplib) and SFTP (paramiko) against one real program: an upload's
action gets the event and the file's disk path and runs in its folder, one switched off never; the times each protocol reports, an open
SFTP file's too, are the file's; connection limits and failed-login bans count both protocols
together; the command line's who, status and kick see and end sessions of either; a ban added by
hand is followed, runs its action and shuts both doors; an account whose expiry date has passed
loses its sessions of both at the reread, and its logins over either are refused without banning
the address. Each scenario runs once per protocol as a subtest."""

import calendar
import contextlib
import datetime
import ftplib
import io
import os
import time
import unittest

import paramiko

from kvharness import program, read_text, spawn, wait_until
from sftpharness import close_even_if_cut, connect, sftp_site

MODIFIED = calendar.timegm((2021, 3, 4, 5, 6, 7))  # a file's time, in whole seconds


class Ftp:
    name = "ftp"
    # A connection refused outright (a limit, a ban): a 421 in place of the greeting.
    refusals = (ftplib.error_temp, EOFError, ConnectionError)
    login_refusals = (ftplib.error_perm, ftplib.error_temp, EOFError, ConnectionError)
    gone = (ftplib.error_temp, EOFError, OSError)

    @staticmethod
    def login(site, user, password, source=None):
        return site.ftp(user, password, source=source)

    @staticmethod
    def upload(client, path, data):
        client.storbinary(f"STOR {path}", io.BytesIO(data))

    @staticmethod
    def times(client, path):
        reply = client.sendcmd(f"MDTM {path}")
        return {"MDTM": calendar.timegm(time.strptime(reply.split()[1][:14], "%Y%m%d%H%M%S"))}

    @staticmethod
    def use(client):
        client.voidcmd("NOOP")

    @staticmethod
    def close(client):
        with contextlib.suppress(*Ftp.gone):
            client.close()


class Sftp:
    name = "sftp"
    refusals = (paramiko.SSHException, EOFError, OSError)
    login_refusals = (paramiko.AuthenticationException, paramiko.SSHException, EOFError)
    gone = (OSError, EOFError, paramiko.SSHException)

    @staticmethod
    def login(site, user, password, source=None):
        return connect(site, user, password, source)

    @staticmethod
    def upload(client, path, data):
        with client.open(path, "wb") as f:
            f.write(data)

    @staticmethod
    def times(client, path):
        with client.open(path, "rb") as f:
            open_file = f.stat().st_mtime  # FSTAT on the handle
        return {"STAT": client.stat(path).st_mtime, "FSTAT": open_file}

    @staticmethod
    def use(client):
        client.listdir(".")

    @staticmethod
    def close(client):
        close_even_if_cut(client)


PROTOCOLS = (Ftp, Sftp)


class BothProtocols(unittest.TestCase):
    def site(self, **options):
        """A site serving both protocols with `options`, bob (all rights) its account, not started."""
        site = sftp_site(self, **options)
        site.db.add_user("bob", "pw", rights="RWDBM")
        return site

    def session(self, proto, site, source=None):
        """A logged-in client of `proto`, closed after the test."""
        client = proto.login(site, "bob", "pw", source)
        self.addCleanup(proto.close, client)
        return client

    def assert_refused(self, proto, site, source=None):
        """A new `proto` connection from `source` is refused."""
        try:
            client = proto.login(site, "bob", "pw", source)
        except proto.refusals:
            return
        proto.close(client)
        self.fail(f"a new {proto.name} connection from {source or '127.0.0.1'} was let in")

    def test_an_upload_runs_its_action_in_the_files_folder(self):
        site = self.site()
        out = os.path.join(site.tmp, "out")
        os.makedirs(out)
        os.makedirs(os.path.join(site.root, "scan"))
        site.kv_ok("action", "add", "upload", "--run",
                   f'/bin/sh -c "env > {out}/$KV_PROTOCOL.env; pwd > {out}/$KV_PROTOCOL.pwd"')
        off = site.kv_ok("action", "add", "upload", "--run", f'/bin/sh -c "echo on >> {out}/off.txt"')
        site.kv_ok("action", "off", off.stdout.decode().strip())  # a rule switched off never runs
        site.start()
        for proto in PROTOCOLS:
            with self.subTest(proto.name):
                client = self.session(proto, site)
                path = f"/scan/doc one.{proto.name}.pdf"
                proto.upload(client, path, b"x" * 1234)
                proto.close(client)
                pwd = os.path.join(out, f"{proto.name}.pwd")
                wait_until(lambda: os.path.exists(pwd) and read_text(pwd), "the program's output")
                env = dict(line.split("=", 1) for line in read_text(os.path.join(out, f"{proto.name}.env"))
                           .splitlines() if "=" in line)
                real = os.path.join(site.root, "scan", f"doc one.{proto.name}.pdf")
                told = [env[f"KV_{n}"] for n in ("EVENT", "USER", "ADDRESS", "PROTOCOL", "PATH", "SIZE")]
                self.assertEqual(told, ["upload", "bob", "127.0.0.1", proto.name, path, "1234"])
                self.assertEqual(os.path.realpath(env["KV_FILE"]) if env["KV_FILE"] else "", os.path.realpath(real))
                self.assertEqual(os.path.realpath(read_text(pwd).strip()), os.path.realpath(os.path.dirname(real)))
        self.assertFalse(os.path.exists(os.path.join(out, "off.txt")))

    def test_every_way_of_asking_a_files_time_gives_its_time(self):
        site = self.site()
        os.utime(os.path.join(site.root, "hello.txt"), (MODIFIED, MODIFIED))
        site.start()
        for proto in PROTOCOLS:
            with self.subTest(proto.name):
                times = proto.times(self.session(proto, site), "/hello.txt")
                self.assertEqual(times, dict.fromkeys(times, MODIFIED))

    def test_connection_limits_count_both_protocols(self):
        site = self.site(max_connections=5, max_connections_per_ip=3)
        site.start()
        for proto in (Ftp, Ftp, Sftp):
            self.session(proto, site, "127.0.0.2")
        for proto in PROTOCOLS:
            with self.subTest(f"per address, {proto.name}"):
                self.assert_refused(proto, site, "127.0.0.2")
                self.session(proto, site, "127.0.0.3")  # another address has room
        for proto in PROTOCOLS:
            with self.subTest(f"in all, {proto.name}"):
                self.assert_refused(proto, site, "127.0.0.4")

    def test_failed_logins_over_both_protocols_ban_on_both(self):
        site = self.site(ban_attempts=5, ban_window_minutes=20, ban_minutes=5)
        site.start()
        for source, first, second in (("127.0.0.2", Ftp, Sftp), ("127.0.0.3", Sftp, Ftp)):
            with self.subTest(f"3 over {first.name}, 2 over {second.name}"):
                for proto in (first,) * 3 + (second,) * 2:
                    with self.assertRaises(proto.login_refusals):
                        proto.login(site, "bob", "wrong", source)
                wait_until(lambda: f"Indirizzo {source} bloccato temporaneamente" in site.server.stdout(),
                           "the ban's line")
                for proto in PROTOCOLS:
                    self.assert_refused(proto, site, source)
        for proto in PROTOCOLS:
            self.session(proto, site, "127.0.0.4")  # others are let in

    def test_who_status_and_kick_act_on_sessions_of_either_protocol(self):
        site = self.site()
        site.start()
        sources = {Ftp: "127.0.0.2", Sftp: "127.0.0.3"}
        clients = {proto: self.session(proto, site, source) for proto, source in sources.items()}
        who = site.kv_json("who")
        self.assertEqual(sorted(s["address"] for s in who), sorted(sources.values()))
        with self.subTest("status"):
            self.assertEqual(site.kv_json("status")["sessions"], 2)
            self.assertIn("Sessioni aperte: 2", site.kv("status").stdout.decode())
        for proto, source in sources.items():
            with self.subTest(proto.name):
                mine = [s for s in who if s["address"] == source]
                self.assertEqual([s["login"] for s in mine], ["bob"], who)
                self.assertTrue(mine[0]["since"], who)  # when it began
                site.kv_ok("kick", str(mine[0]["id"]))
                with self.assertRaises(proto.gone):
                    for _ in range(50):  # bounded: the session ends within a few tries
                        proto.use(clients[proto])
                        time.sleep(0.1)
                wait_until(lambda: mine[0]["id"] not in [s["id"] for s in site.kv_json("who")], "the kick")
        with self.subTest("status after the kicks"):
            self.assertEqual(site.kv_json("status")["sessions"], 0)

    def test_a_ban_added_by_hand_is_followed_runs_its_action_and_shuts_both_doors(self):
        site = self.site()
        bans = os.path.join(site.tmp, "bans.txt")
        site.kv_ok("action", "add", "ban", "--run", f'/bin/sh -c "echo $KV_ADDRESS >> {bans}"')
        site.start()
        events = os.path.join(site.tmp, "events.txt")
        spawn(self, [program(), "log", "--follow", "--json", "--data-dir", site.data], events)

        def following():  # a session more until the follower has seen one
            Ftp.close(Ftp.login(site, "bob", "pw"))
            return '"closed"' in read_text(events)
        wait_until(following, "the follower", pause=0.2)
        site.kv_ok("ban", "add", "127.0.0.9")
        with self.subTest("followed"):
            wait_until(lambda: "127.0.0.9" in read_text(events), "the ban in the followed log")
        with self.subTest("action"):
            wait_until(lambda: os.path.exists(bans) and "127.0.0.9" in read_text(bans), "the ban's action")
        for proto in PROTOCOLS:
            with self.subTest(proto.name):
                self.assert_refused(proto, site, "127.0.0.9")

    def test_an_expired_account_loses_both_and_no_ban_follows(self):
        site = self.site(ban_attempts=2, ban_window_minutes=10, ban_minutes=10)
        site.db.add_user("carol", "pw", rights="RB")
        site.start()
        clients = {proto: self.session(proto, site) for proto in PROTOCOLS}
        yesterday = (datetime.date.today() - datetime.timedelta(days=1)).isoformat()
        site.kv_ok("user", "set", "bob", "--expires", yesterday)
        site.kv_ok("reload")
        ended = f"Account bob: account scaduto il {yesterday}, sessioni chiuse: 2"
        wait_until(lambda: ended in site.server.stdout(), ended)
        for proto in PROTOCOLS:
            with self.subTest(proto.name):
                def gone():
                    try:
                        proto.use(clients[proto])
                    except (*proto.gone, ftplib.Error):
                        return True
                    return False
                wait_until(gone, f"the end of bob's {proto.name} session")
                for _ in range(3):  # more than ban_attempts
                    with self.assertRaises(proto.login_refusals):
                        proto.close(proto.login(site, "bob", "pw"))
        self.assertIn("SFTP: login rifiutato: account scaduto", site.server.stdout())
        self.assertNotIn("bloccato temporaneamente", site.server.stdout())
        for proto in PROTOCOLS:
            proto.close(proto.login(site, "carol", "pw"))


if __name__ == "__main__":
    unittest.main()
