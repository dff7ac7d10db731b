"""SFTP in bulk against the real program: two hundred files in a tree both ways with their times
through OpenSSH's sftp, and an upload cut short that keeps what arrived, as an FTP upload does,
while the server goes on serving; each whole upload runs its action once, a cut one none
(request sizes and offsets: the SFTP requests' tests)."""

import os
import socket
from pathlib import Path

from kvharness import SiteTestCase, read_text, read_tree, wait_until, write_tree
from sftpharness import connect, openssh_batch, sftp_site

class SftpBulk(SiteTestCase):
    new_site = staticmethod(sftp_site)

    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "secret", rights="RWDBM")
        cls.actions = os.path.join(site.tmp, "uploads.txt")
        site.kv_ok("action", "add", "upload", "--run",
                   f'/bin/sh -c "echo $KV_PROTOCOL $KV_PATH $KV_SIZE >> {cls.actions}"')

    def uploads_run(self, part):
        """The action's lines for the uploads whose path holds `part`."""
        lines = read_text(self.actions).splitlines() if os.path.exists(self.actions) else []
        return sorted(line for line in lines if part in line)

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
