"""SFTP in bulk against the real program: a gibibyte both ways byte for byte with OpenSSH's
sftp (which sizes its requests by the limits the server tells), two hundred files in a tree
with their times, and an upload cut short that keeps what arrived, as an FTP upload does,
while the server goes on serving."""

import os
import socket
import time
import unittest

from kvharness import program, read_text, wait_until
from sftpharness import connect, digest, openssh_batch, sftp_site

GIB = 1 << 30


def slow_build():
    """True for a sanitizer or unoptimised build, where a gibibyte takes minutes."""
    cache = os.path.join(os.path.dirname(os.path.dirname(program())), "CMakeCache.txt")
    try:
        with open(cache, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return False
    return "KV_SANITIZE:BOOL=ON" in text or "CMAKE_BUILD_TYPE:STRING=Debug" in text


def sftp_batch(site, commands, cwd, **how):
    """OpenSSH's sftp in batch mode as bob, by password."""
    return openssh_batch(site, "bob", commands, cwd, password="secret", **how)


def sparse_file(path, size, seed):
    """`size` bytes, mostly holes, with a random 64 KiB block every 8 MiB and at the end:
    quick to make and to read, yet any misplaced or lost block changes its digest."""
    rnd = __import__("random").Random(seed)
    with open(path, "wb") as f:
        f.truncate(size)
        for offset in list(range(0, size, 8 << 20)) + [size - (64 << 10)]:
            f.seek(offset + rnd.randrange(0, 4096))
            f.write(rnd.randbytes(min(64 << 10, size - f.tell())))


class SftpBulk(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = sftp_site()
        cls.addClassCleanup(cls.site.cleanup)
        cls.site.db.add_user("bob", "secret", rights="RWDBM")
        cls.site.start()

    def work(self, name):
        path = os.path.join(self.site.tmp, name)
        os.makedirs(path, exist_ok=True)
        return path

    @unittest.skipIf(slow_build(), "a gibibyte is too slow in a sanitizer or debug build")
    def test_a_gibibyte_both_ways_byte_for_byte(self):
        work = self.work("work-gib")
        source = os.path.join(self.site.root, "gib.bin")
        sparse_file(source, GIB, 1)
        started = time.monotonic()
        # -v shows the request sizes the client chose from the server's limits.
        done = sftp_batch(self.site, ["get gib.bin down.bin", "put down.bin up.bin"], work, options=["-v"],
                          timeout=180)
        elapsed = time.monotonic() - started
        self.assertEqual(done.returncode, 0, done.stderr[-2000:])
        want = digest(source)
        self.assertEqual(os.path.getsize(os.path.join(work, "down.bin")), GIB)
        self.assertEqual(digest(os.path.join(work, "down.bin")), want)
        self.assertEqual(digest(os.path.join(self.site.root, "up.bin")), want)
        wait_until(lambda: f"SFTP upload /up.bin: {GIB} byte" in self.site.server.stdout(), "upload log line")
        self.assertIn(f"SFTP download /gib.bin: {GIB} byte", self.site.server.stdout())
        self.assertLess(elapsed, 120, "two gibibytes over loopback took %.0f s" % elapsed)

    def test_two_hundred_files_in_a_tree_both_ways_with_their_times(self):
        work = self.work("work-tree")
        tree = os.path.join(work, "tree")
        files = {}
        for i in range(200):
            rel = os.path.join("d%d" % (i % 7), "f%03d.bin" % i)
            data = os.urandom(i * 41 % 9000)
            files[rel] = data
            os.makedirs(os.path.join(tree, os.path.dirname(rel)), exist_ok=True)
            with open(os.path.join(tree, rel), "wb") as f:
                f.write(data)
            os.utime(os.path.join(tree, rel), (1_600_000_000 + i * 60, 1_600_000_000 + i * 60))
        done = sftp_batch(self.site, ["put -rp tree", "get -rp tree back"], work)
        self.assertEqual(done.returncode, 0, done.stderr[-2000:])
        for where in (os.path.join(self.site.root, "tree"), os.path.join(work, "back")):
            got = {}
            for dirpath, _, names in os.walk(where):
                for name in names:
                    p = os.path.join(dirpath, name)
                    with open(p, "rb") as f:
                        got[os.path.relpath(p, where)] = (f.read(), int(os.stat(p).st_mtime))
            self.assertEqual(got, {rel: (data, 1_600_000_000 + int(rel[-7:-4]) * 60)
                                   for rel, data in files.items()}, where)

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
        with open(os.path.join(self.site.root, "cut.bin"), "rb") as f:
            kept = f.read()
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
        with open(os.path.join(self.site.root, "cut.bin"), "rb") as f:
            self.assertEqual(f.read(), data)


class SftpTransfersReachTheActions(unittest.TestCase):
    def test_each_upload_runs_its_action_once_and_a_cut_one_none(self):
        site = sftp_site()
        self.addCleanup(site.cleanup)
        site.db.add_user("bob", "secret", rights="RWDBM")
        out = os.path.join(site.tmp, "uploads.txt")
        added = site.kv("action", "add", "upload", "--run",
                        f'/bin/sh -c "echo $KV_PROTOCOL $KV_PATH $KV_SIZE >> {out}"')
        self.assertEqual(added.returncode, 0, added.stderr)
        site.start()
        work = os.path.join(site.tmp, "work")
        os.makedirs(os.path.join(work, "many"))
        want = set()
        for i in range(30):
            with open(os.path.join(work, "many", "f%02d" % i), "wb") as f:
                f.write(b"x" * i)
            want.add("sftp /many/f%02d %d" % (i, i))
        # One session, the files one after another: each CLOSE answered in a
        # turn that may hold other requests.
        done = sftp_batch(site, ["mkdir many", "put many/* many/"], work)
        self.assertEqual(done.returncode, 0, done.stderr[-2000:])
        client = connect(site, "bob", "secret")
        remote = client.open("cut.bin", "wb")
        remote.write(b"y" * 100000)
        client.stat("hello.txt")
        client.get_channel().get_transport().sock.shutdown(socket.SHUT_RDWR)
        client.get_channel().get_transport().close()
        wait_until(lambda: "SFTP upload /cut.bin" in site.server.stdout(), "aborted upload")
        last = connect(site, "bob", "secret")
        with last.open("last.txt", "wb") as f:
            f.write(b"end")
        last.close()
        want.add("sftp /last.txt 3")

        def lines():
            return read_text(out).splitlines() if os.path.exists(out) else []
        wait_until(lambda: "sftp /last.txt 3" in lines() and len(lines()) >= len(want), "every action")
        self.assertEqual(sorted(lines()), sorted(want))


if __name__ == "__main__":
    unittest.main()
