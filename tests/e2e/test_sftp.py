"""SFTP with real clients (OpenSSH's sftp through sshpass, paramiko) against the real program:
the same accounts, rights, root, virtual folders, IP lists and bans as FTP, and only the sftp
subsystem (big files and many, and a connection cut in the middle: test_sftpbulk)."""

import io
import os
import signal
import socket
import subprocess
import time
import unittest

import paramiko

from kvharness import RIGHTS, TIMEOUT, Site, SiteTestCase, free_port, run, wait_until
from sftpharness import SSH_OPTIONS, PASSWORD_OPTIONS, connect, openssh_batch, sftp_site


# right: the operation refused without it, done with it, and what it leaves in the root
OPERATIONS = {
    "R": (lambda c: c.open("hello.txt").read(), b"hello\n", {}, ()),
    "W": (lambda c: c.putfo(io.BytesIO(b"new"), "up.txt").st_size, 3, {"up.txt": b"new"}, ()),
    "D": (lambda c: c.remove("victim.txt"), None, {}, ("victim.txt",)),
    "M": (lambda c: c.mkdir("made"), None, {"made/": None}, ()),
}


class SftpServing(SiteTestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = sftp_site()
        cls.addClassCleanup(cls.site.cleanup)
        site = cls.site
        bob = site.db.add_user("bob", "secret", rights="RWDBM")
        for letter in OPERATIONS:
            site.db.add_user("only" + letter, "pw", rights=letter)
            site.db.add_user("no" + letter, "pw", rights="RWDBM".replace(letter, ""))
        site.elsewhere = os.path.join(site.tmp, "elsewhere")
        os.makedirs(site.elsewhere)
        with open(os.path.join(site.elsewhere, "far.txt"), "wb") as f:
            f.write(b"far away\n")
        site.db.run("INSERT INTO virtualdirs VALUES ('v', ?, ?, ?)", (site.root, site.elsewhere, bob))
        site.db.run("INSERT INTO IPko (IP) VALUES ('127.0.0.3')")
        site.db.settings(IPko=1)
        site.start()

    def setUp(self):
        self.site.fill_root()

    def test_sessions_are_listed_and_kicked_like_ftp_ones(self):
        client = connect(self.site, "bob", "secret")
        self.addCleanup(client.close)
        who = self.site.kv_json("who")
        # The newest of bob's sessions is this one; it tells when it began.
        mine = max((s for s in who if s["login"] == "bob"), key=lambda s: s["id"])
        self.assertTrue(mine["since"], who)
        kicked = self.site.kv("kick", str(mine["id"]))
        self.assertEqual(kicked.returncode, 0, kicked.stderr)
        with self.assertRaises((OSError, EOFError, paramiko.SSHException)):
            for _ in range(50):  # bounded: the session ends within a few tries
                client.listdir(".")
                time.sleep(0.1)

    def test_sessions_share_their_folders_descriptors(self):
        # Three logins of bob hold one descriptor of his root and one of his
        # virtual folder between them, and each still serves the files.
        clients = [connect(self.site, "bob", "secret") for _ in range(3)]
        for c in clients:
            self.addCleanup(c.close)
            self.assertEqual(c.open("v/far.txt").read(), b"far away\n")
        fds = f"/proc/{self.site.server.proc.pid}/fd"
        held = []
        for fd in os.listdir(fds):
            try:
                held.append(os.readlink(os.path.join(fds, fd)))
            except OSError:
                pass  # closed meanwhile
        self.assertEqual(held.count(self.site.root), 1, held)
        self.assertEqual(held.count(self.site.elsewhere), 1, held)

    def test_openssh_sftp_with_a_password(self):
        work = os.path.join(self.site.tmp, "work-openssh")
        os.makedirs(work, exist_ok=True)
        with open(os.path.join(work, "local.txt"), "wb") as f:
            f.write(b"from openssh\n")
        done = openssh_batch(self.site, "bob", [
            "get hello.txt got.txt", "put local.txt up.txt", "mkdir d", "rename up.txt d/moved.txt",
            "ls d", "rm victim.txt"], work, password="secret")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(b"d/moved.txt", done.stdout)
        with open(os.path.join(work, "got.txt"), "rb") as f:
            self.assertEqual(f.read(), b"hello\n")
        snap = self.site.snapshot()
        self.assertEqual(snap.get("d/moved.txt"), b"from openssh\n")
        self.assertNotIn("victim.txt", snap)
        wrong = openssh_batch(self.site, "bob", ["ls"], work, password="wrong")
        self.assertNotEqual(wrong.returncode, 0)

    def test_only_modern_algorithms(self):
        work = os.path.join(self.site.tmp, "work-algorithms")
        os.makedirs(work, exist_ok=True)

        def with_options(*options):
            return openssh_batch(self.site, "bob", ["ls"], work, password="secret", timeout=TIMEOUT * 2,
                                 options=[a for o in options for a in ("-o", o)]).returncode

        for refused in (("Ciphers=aes128-cbc",), ("KexAlgorithms=diffie-hellman-group14-sha1",),
                        ("Ciphers=aes128-ctr", "MACs=hmac-sha1"), ("HostKeyAlgorithms=ssh-rsa",)):
            with self.subTest(refused=refused):
                self.assertNotEqual(with_options(*refused), 0)
        for accepted in (("HostKeyAlgorithms=ecdsa-sha2-nistp256",), ("Ciphers=aes256-gcm@openssh.com",),
                         ("Ciphers=aes128-ctr", "MACs=hmac-sha2-256"), ("KexAlgorithms=ecdh-sha2-nistp256",)):
            with self.subTest(accepted=accepted):
                self.assertEqual(with_options(*accepted), 0)

    def test_each_right_refuses_exactly_its_operations(self):
        self.assertEqual(len(OPERATIONS), len(RIGHTS) - 1)  # browse: no SFTP request changes folder
        for letter, (operation, answer, added, removed) in OPERATIONS.items():
            with self.subTest(right=letter):
                self.site.fill_root()
                before = self.site.snapshot()
                client = connect(self.site, "no" + letter, "pw")
                with self.assertRaises(PermissionError):
                    operation(client)
                client.close()
                self.assertEqual(self.site.snapshot(), before, "a refused operation changed the disk")
                client = connect(self.site, "only" + letter, "pw")
                self.assertEqual(operation(client), answer)
                client.close()
                after = {k: v for k, v in {**before, **added}.items() if k not in removed}
                self.assertEqual(self.site.snapshot(), after)

    def test_block_list_refuses_the_login(self):
        with self.assertRaises(paramiko.AuthenticationException):
            connect(self.site, "bob", "secret", source="127.0.0.3")
        connect(self.site, "bob", "secret", source="127.0.0.4").close()

    def test_only_the_sftp_subsystem(self):
        client = connect(self.site, "bob", "secret")
        transport = client.get_channel().get_transport()
        try:
            for request in (lambda ch: ch.exec_command("ls"), lambda ch: ch.invoke_shell(),
                            lambda ch: ch.invoke_subsystem("other")):
                channel = transport.open_session(timeout=TIMEOUT)
                with self.assertRaises(paramiko.SSHException):
                    request(channel)
                channel.close()
            with self.assertRaises(paramiko.SSHException):
                transport.open_channel("direct-tcpip", ("127.0.0.1", self.site.port), ("127.0.0.1", 1),
                                       timeout=TIMEOUT)
        except paramiko.ChannelException:
            pass  # a second channel refused outright is refusal enough
        finally:
            client.close()
        scp = subprocess.run(["sshpass", "-p", "secret", "ssh", *PASSWORD_OPTIONS, *SSH_OPTIONS, "-p",
                              str(self.site.sftp_port), "bob@127.0.0.1", "cat /etc/passwd"], capture_output=True,
                             timeout=TIMEOUT * 2)
        self.assertNotEqual(scp.returncode, 0)
        self.assertNotIn(b"root:", scp.stdout)


class SftpSlowClients(unittest.TestCase):
    def test_a_stalled_client_never_stalls_another(self):
        site = sftp_site()
        self.addCleanup(site.cleanup)
        site.db.add_user("bob", "secret", rights="RWDBM")
        site.start()
        data = os.urandom(16 << 20)
        with open(os.path.join(site.root, "big.bin"), "wb") as f:
            f.write(data)
        # One client that connects and says nothing, one that asks for a whole file
        # and never reads the answers.
        silent = socket.create_connection(("127.0.0.1", site.sftp_port), timeout=TIMEOUT)
        self.addCleanup(silent.close)
        stalled = connect(site, "bob", "secret")
        self.addCleanup(stalled.close)
        handle = stalled.open("big.bin")
        channel = stalled.get_channel()
        channel.in_window_size = channel.in_max_packet_size = 32768  # the window never grows
        sink = type("Sink", (), {})()  # answers nobody will read
        for i in range(512):
            stalled._async_request(sink, paramiko.sftp.CMD_READ, handle.handle, i * 32768, 32768)
        # Meanwhile another client is served whole and in time.
        started = time.monotonic()
        other = connect(site, "bob", "secret")
        self.assertEqual(other.open("big.bin").read(), data)
        other.close()
        self.assertLess(time.monotonic() - started, TIMEOUT)


class SftpWithOtherClients(SiteTestCase):
    """rclone's sftp backend (copy, sync, check, times kept) and lftp's sftp://."""

    MTIME = 1577836800  # 2020-01-01 00:00:00 UTC

    @classmethod
    def setUpClass(cls):
        cls.site = sftp_site()
        cls.addClassCleanup(cls.site.cleanup)
        cls.site.db.add_user("rita", "r-pass", rights="RWDBM")
        cls.site.start()

    def rclone(self, *args):
        obscured = run(["rclone", "obscure", "r-pass"]).stdout.decode().strip()
        remote = (f":sftp,host=127.0.0.1,port={self.site.sftp_port},user=rita,pass={obscured}:")
        argv = ["rclone", "--config", "/dev/null", "--contimeout", f"{TIMEOUT}s", "--timeout",
                f"{TIMEOUT}s", "--retries", "1", "--low-level-retries", "1"]
        return run(argv + [a.replace("REMOTE:", remote) for a in args], TIMEOUT * 6)

    def test_rclone_copy_sync_check_keeps_times(self):
        local = os.path.join(self.site.tmp, "tree")
        files = {"a.txt": b"alpha\n", "sub/b.bin": os.urandom(300_000), "sub/deeper/c": b""}
        for offset, (name, data) in enumerate(files.items()):
            path = os.path.join(local, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (self.MTIME + offset, self.MTIME + offset))
        back = os.path.join(self.site.tmp, "back")
        for argv in (("copy", local, "REMOTE:tree"), ("copy", "REMOTE:tree", back),
                     ("check", local, "REMOTE:tree")):
            out = self.rclone(*argv)
            self.assertEqual(out.returncode, 0, out.stderr.decode())
        for offset, (name, data) in enumerate(files.items()):
            for top in (os.path.join(self.site.root, "tree"), back):
                path = os.path.join(top, name)
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), data, path)
                self.assertEqual(int(os.stat(path).st_mtime), self.MTIME + offset, path)
        # sync removes what the source no longer has
        os.remove(os.path.join(local, "a.txt"))
        out = self.rclone("sync", local, "REMOTE:tree")
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertFalse(os.path.exists(os.path.join(self.site.root, "tree", "a.txt")))

    def test_lftp_sftp(self):
        out = run(["lftp", "-c", f"set net:max-retries 1; set net:timeout {TIMEOUT}; "
                   "set sftp:auto-confirm yes; "
                   f"open -u rita,r-pass sftp://127.0.0.1:{self.site.sftp_port}; "
                   "put /etc/hostname -o lftp.txt; cat hello.txt; ls"], TIMEOUT * 3)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertIn(b"hello", out.stdout)
        self.assertIn(b"lftp.txt", out.stdout)
        with open("/etc/hostname", "rb") as a, open(os.path.join(self.site.root, "lftp.txt"), "rb") as b:
            self.assertEqual(a.read(), b.read())


class SftpReload(unittest.TestCase):
    def test_off_by_default_sighup_starts_it_and_keeps_open_sessions(self):
        site = Site()
        self.addCleanup(site.cleanup)
        site.db.add_user("bob", "secret", rights="RWDBM")
        site.start()
        # Off without the option: no port, no host keys made.
        self.assertNotIn("SFTP", site.server.stdout())
        self.assertFalse([n for n in os.listdir(site.data) if n.startswith("kestrova-sftp")])
        site.sftp_port = free_port()
        site.db.set_options(sftp_port=site.sftp_port)
        site.server.proc.send_signal(signal.SIGHUP)
        wait_until(lambda: "SFTP IN ASCOLTO" in site.server.stdout(), "SFTP after the reread")
        client = connect(site, "bob", "secret")
        site.db.set_options(sftp_password_auth=0)
        site.server.proc.send_signal(signal.SIGHUP)
        wait_until(lambda: site.server.stdout().count("SERVER RELOAD ON IP") == 2, "the second reread")
        # The open session goes on; a new password login is refused.
        self.assertEqual(client.open("hello.txt").read(), b"hello\n")
        client.close()
        with self.assertRaises(paramiko.AuthenticationException):
            connect(site, "bob", "secret")


class SftpBans(unittest.TestCase):
    def test_failed_passwords_ban_the_address(self):
        site = sftp_site(ban_attempts=3, ban_window_minutes=20, ban_minutes=2)
        self.addCleanup(site.cleanup)
        site.db.add_user("bob", "secret", rights="R")
        site.start(env={"KESTROVA_BAN_MINUTE_MS": "60000"})
        for _ in range(3):
            with self.assertRaises(paramiko.AuthenticationException):
                connect(site, "bob", "wrong", source="127.0.0.7")
        wait_until(lambda: "bloccato temporaneamente" in site.server.stdout(), "the ban")
        with self.assertRaises((paramiko.SSHException, EOFError, OSError)):
            connect(site, "bob", "secret", source="127.0.0.7")
        # Another address is not banned, and FTP sees the same ban.
        connect(site, "bob", "secret", source="127.0.0.8").close()
        with self.assertRaises(Exception):
            site.ftp("bob", "secret", source="127.0.0.7")


if __name__ == "__main__":
    unittest.main()
