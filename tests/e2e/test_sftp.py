"""SFTP with real clients (OpenSSH's sftp through sshpass, paramiko) against the real program:
the same accounts, root, virtual folders and IP lists as FTP, and only the sftp subsystem; in bulk,
two hundred files in a tree both ways with their times, and an upload cut short that keeps what
arrived, as an FTP upload does, while the server goes on serving; each whole upload runs its action
once, a cut one none, a resumed one names the whole file; a download cut short is logged
"interrotto" and runs no action; names with line breaks are logged escaped (what each right allows,
request sizes and offsets: the SFTP requests' tests)."""

import ftplib
import os
import signal
import socket
import subprocess
import time
import unittest
from pathlib import Path

import paramiko

from kvharness import (TIMEOUT, Site, SiteTestCase, free_port, has_ipv6_loopback, read_text, read_tree, wait_until,
                       write_tree)
from sftpharness import (SSH_OPTIONS, PASSWORD_OPTIONS, close_even_if_cut, connect,
                         openssh_batch, sftp_site)


class SftpServing(SiteTestCase):
    new_site = staticmethod(sftp_site)

    @classmethod
    def prepare(cls, site):
        bob = site.db.add_user("bob", "secret", rights="RWDBM")
        site.elsewhere = os.path.join(site.tmp, "elsewhere")
        os.makedirs(site.elsewhere)
        Path(site.elsewhere, "far.txt").write_bytes(b"far away\n")
        site.db.run("INSERT INTO virtualdirs VALUES ('v', ?, ?, ?)", (site.root, site.elsewhere, bob))
        site.db.run("INSERT INTO IPko (IP) VALUES ('127.0.0.2-127.0.0.3')")
        site.db.settings(IPko=1)

    def setUp(self):
        self.site.fill_root()

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
        Path(work, "local.txt").write_bytes(b"from openssh\n")
        done = openssh_batch(self.site, "bob", [
            "get hello.txt got.txt", "put local.txt up.txt", "mkdir d", "rename up.txt d/moved.txt",
            "ls d", "rm victim.txt"], work, password="secret")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(b"d/moved.txt", done.stdout)
        self.assertEqual(Path(work, "got.txt").read_bytes(), b"hello\n")
        snap = self.site.snapshot()
        self.assertEqual(snap.get("d/moved.txt"), b"from openssh\n")
        self.assertNotIn("victim.txt", snap)
        wrong = openssh_batch(self.site, "bob", ["ls"], work, password="wrong")
        self.assertNotEqual(wrong.returncode, 0)

    def test_only_modern_algorithms(self):
        def with_options(*options):
            return openssh_batch(self.site, "bob", ["ls"], self.site.tmp, password="secret", timeout=TIMEOUT * 2,
                                 options=[a for o in options for a in ("-o", o)]).returncode

        for refused in (("Ciphers=aes128-cbc",), ("KexAlgorithms=diffie-hellman-group14-sha1",),
                        ("Ciphers=aes128-ctr", "MACs=hmac-sha1"), ("HostKeyAlgorithms=ssh-rsa",)):
            with self.subTest(refused=refused):
                self.assertNotEqual(with_options(*refused), 0)
        for accepted in (("HostKeyAlgorithms=ecdsa-sha2-nistp256",), ("Ciphers=aes256-gcm@openssh.com",),
                         ("Ciphers=aes128-ctr", "MACs=hmac-sha2-256"), ("KexAlgorithms=ecdh-sha2-nistp256",)):
            with self.subTest(accepted=accepted):
                self.assertEqual(with_options(*accepted), 0)

    def test_block_list_refuses_the_login_over_sftp_and_ftp(self):
        with self.assertRaises(paramiko.AuthenticationException):
            connect(self.site, "bob", "secret", source="127.0.0.3")
        with self.assertRaisesRegex(ftplib.error_perm, "^530"):
            self.site.ftp("bob", "secret", source="127.0.0.3")
        connect(self.site, "bob", "secret", source="127.0.0.4").close()
        self.site.ftp("bob", "secret", source="127.0.0.4").quit()

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

    def test_a_stalled_client_never_stalls_another(self):
        site = self.site
        data = os.urandom(16 << 20)
        Path(site.root, "big.bin").write_bytes(data)
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


class SftpReload(unittest.TestCase):
    def test_off_by_default_sighup_starts_it_and_keeps_open_sessions(self):
        site = Site(self)
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


class SftpEveryAddress(unittest.TestCase):
    """SFTP listens where FTP does: "::" and "Default" take IPv4 clients as well as IPv6 ones,
    and an IPv4 client is a plain IPv4 address for the session list and the log."""

    def check(self, address):
        site = sftp_site(self)
        site.db.add_user("bob", "secret", rights="RB")
        site.db.settings(ip=address)
        site.start()
        client = connect(site, "bob", "secret")  # over IPv4, to 127.0.0.1
        self.addCleanup(close_even_if_cut, client)
        self.assertEqual(client.open("hello.txt").read(), b"hello\n")
        self.assertIn("127.0.0.1", [s["address"] for s in site.kv_json("who") if s["login"] == "bob"])
        self.assertIn(" 127.0.0.1] SFTP: utente bob collegato", read_text(os.path.join(site.data, "ftp.log")))
        if has_ipv6_loopback():
            sock = socket.create_connection(("::1", site.sftp_port), timeout=TIMEOUT)
            self.assertTrue(sock.recv(64).startswith(b"SSH-2.0-"))
            sock.close()

    def test_every_address(self):
        self.check("::")

    def test_default(self):
        self.check("Default")


class SftpBulk(SiteTestCase):
    new_site = staticmethod(sftp_site)

    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "secret", rights="RWDBM")
        cls.actions = os.path.join(site.tmp, "uploads.txt")
        cls.downloads = os.path.join(site.tmp, "downloads.txt")
        for event, out in (("upload", cls.actions), ("download", cls.downloads)):
            site.kv_ok("action", "add", event, "--run", f'/bin/sh -c "echo $KV_PROTOCOL $KV_PATH $KV_SIZE >> {out}"')

    @staticmethod
    def actions_run(part, out):
        """The lines an action wrote to `out` for the paths holding `part`."""
        lines = read_text(out).splitlines() if os.path.exists(out) else []
        return sorted(line for line in lines if part in line)

    def uploads_run(self, part):
        return self.actions_run(part, self.actions)

    def logged(self, prefix):
        """The rest of the first log line starting (after its time and address) with `prefix`."""
        wait_until(lambda: "] " + prefix in self.site.server.stdout(), prefix)
        return self.site.server.stdout().split("] " + prefix, 1)[1].splitlines()[0]

    def test_two_hundred_files_in_a_tree_both_ways_with_their_times(self):
        work = os.path.join(self.site.tmp, "work-tree")
        tree = os.path.join(work, "tree")
        files = {f"d{i % 7}/f{i:03d}.bin": os.urandom(i * 41 % 9000) for i in range(200)}
        times = {rel: 1_600_000_000 + i * 60 for i, rel in enumerate(files)}
        write_tree(tree, files, times.get)
        done = openssh_batch(self.site, "bob", ["put -rp tree", "get -rp tree back"], work, password="secret")
        self.assertEqual(done.returncode, 0, done.stderr[-2000:])
        for where in (os.path.join(self.site.root, "tree"), os.path.join(work, "back")):
            self.assertEqual(read_tree(where, times=True), {rel: (data, times[rel]) for rel, data in files.items()},
                             where)
        # One session, the files one after another: each CLOSE answered in a turn that may hold
        # other requests, and each upload's action run once.
        want = sorted(f"sftp /tree/{rel} {len(data)}" for rel, data in files.items())
        wait_until(lambda: len(self.uploads_run("/tree/")) >= len(want), "every upload's action")
        self.assertEqual(self.uploads_run("/tree/"), want)

    def test_an_upload_cut_short_keeps_what_arrived_and_others_are_served(self):
        data = os.urandom(16 << 20)
        client = connect(self.site, "bob", "secret")
        remote = client.open("cut.bin", "wb")
        remote.set_pipelined(True)
        for offset in range(0, 4 << 20, 32 << 10):
            remote.write(data[offset:offset + (32 << 10)])
        client.stat("hello.txt")  # a round trip: the writes before it have been answered
        transport = client.get_channel().get_transport()
        transport.sock.shutdown(socket.SHUT_RDWR)  # no goodbye, the handle still open
        transport.close()
        wait_until(lambda: "SFTP upload /cut.bin" in self.site.server.stdout(), "aborted upload")
        line = self.site.server.stdout().split("SFTP upload /cut.bin: ")[1].splitlines()[0]
        self.assertIn("interrotto", line)
        logged = int(line.split(" byte")[0])
        # What arrived stays, in order, and the log tells how much: as an FTP upload cut short.
        kept = Path(self.site.root, "cut.bin").read_bytes()
        self.assertGreaterEqual(len(kept), 4 << 20)
        self.assertEqual(len(kept), logged)
        self.assertEqual(kept, data[:len(kept)])
        # The server goes on: another session replaces the file whole.
        again = connect(self.site, "bob", "secret")
        try:
            with again.open("cut.bin", "wb") as f:
                f.write(data)
            self.assertEqual(again.stat("cut.bin").st_size, len(data))
            self.assertEqual(again.open("hello.txt").read(), b"hello\n")
        finally:
            again.close()
        self.assertEqual(Path(self.site.root, "cut.bin").read_bytes(), data)
        # The whole upload ran its action, the cut one none.
        wait_until(lambda: self.uploads_run("/cut.bin"), "the whole upload's action")
        self.assertEqual(self.uploads_run("/cut.bin"), [f"sftp /cut.bin {len(data)}"])

    def test_a_resumed_upload_names_the_whole_file(self):
        # OpenSSH's reput writes after what the server holds: the upload's action gets the size of
        # the whole file, as after an FTP APPE, and the log what this upload carried.
        work = os.path.join(self.site.tmp, "work-resume")
        os.makedirs(work, exist_ok=True)
        data = os.urandom(3 << 20)
        Path(work, "resumed.bin").write_bytes(data)
        Path(self.site.root, "resumed.bin").write_bytes(data[:1 << 20])
        done = openssh_batch(self.site, "bob", ["reput resumed.bin"], work, password="secret")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(Path(self.site.root, "resumed.bin").read_bytes(), data)
        self.assertEqual(self.logged("SFTP upload /resumed.bin: "), f"{2 << 20} byte")
        wait_until(lambda: self.uploads_run("/resumed.bin"), "the resumed upload's action")
        self.assertEqual(self.uploads_run("/resumed.bin"), [f"sftp /resumed.bin {3 << 20}"])

    def test_a_download_cut_short_is_logged_interrotto_without_its_action(self):
        Path(self.site.root, "shrinking.bin").write_bytes(os.urandom(1 << 20))
        client = connect(self.site, "bob", "secret")
        try:
            with client.open("shrinking.bin") as remote:
                first = remote.read(65536)
                os.truncate(os.path.join(self.site.root, "shrinking.bin"), 100000)
                rest = remote.read()
            self.assertEqual(len(first) + len(rest), 100000)
            self.assertEqual(client.open("hello.txt").read(), b"hello\n")
        finally:
            client.close()
        self.assertEqual(self.logged("SFTP download /shrinking.bin: "),
                         "100000 byte, interrotto (file accorciato durante il trasferimento, inviati 100000 byte "
                         "su 1048576)")
        # The whole download after it runs its action; the cut one none.
        wait_until(lambda: self.actions_run("/hello.txt", self.downloads), "the whole download's action")
        self.assertIn("sftp /hello.txt 6", self.actions_run("/hello.txt", self.downloads))
        self.assertEqual(self.actions_run("/shrinking.bin", self.downloads), [])

    def test_names_with_line_breaks_are_logged_escaped(self):
        client = connect(self.site, "bob", "secret")
        try:
            for name in ("q\nX", "q\rX", "q X"):
                with client.open(name, "wb") as f:
                    f.write(b"1")
        finally:
            client.close()
        log = read_text(os.path.join(self.site.data, "ftp.log"))
        for shown in ("/q\\x0aX", "/q\\x0dX", "/q X"):
            self.assertEqual(self.logged(f"SFTP upload {shown}: "), "1 byte")
            self.assertEqual(log.count(f"] SFTP upload {shown}: 1 byte"), 1, shown)
