"""rclone against the real program: `copy` of a small tree up and back down
reports no error and keeps every file's modification time, which rclone sets
with MFMT after each upload."""

import os
import unittest

from kvharness import SiteTestCase, TIMEOUT, run

MTIME = 1577836800  # 2020-01-01 00:00:00 UTC


class Rclone(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("rita", "r-pass", rights="RWDBM")

    def rclone(self, *args):
        obscured = run(["rclone", "obscure", "r-pass"]).stdout.decode().strip()
        remote = f":ftp,host=127.0.0.1,port={self.site.port},user=rita,pass={obscured}:"
        argv = ["rclone", "--config", "/dev/null", "--contimeout", f"{TIMEOUT}s", "--timeout",
                f"{TIMEOUT}s", "--retries", "1", "--low-level-retries", "1"]
        return run(argv + [a.replace("REMOTE:", remote) for a in args], TIMEOUT * 3)

    def test_copy_up_and_down_keeps_times(self):
        local = os.path.join(self.site.tmp, "tree")
        files = {"a.txt": b"alpha\n", "sub/b.bin": os.urandom(50_000), "sub/deeper/c": b""}
        for offset, (name, data) in enumerate(files.items()):
            path = os.path.join(local, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (MTIME + offset, MTIME + offset))

        up = self.rclone("copy", local, "REMOTE:tree")
        self.assertEqual(up.returncode, 0, up.stderr.decode())
        self.assertNotIn(b"ERROR", up.stderr)
        back = os.path.join(self.site.tmp, "back")
        down = self.rclone("copy", "REMOTE:tree", back)
        self.assertEqual(down.returncode, 0, down.stderr.decode())
        for offset, (name, data) in enumerate(files.items()):
            for top in (os.path.join(self.site.root, "tree"), back):
                path = os.path.join(top, name)
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), data, path)
                self.assertEqual(int(os.stat(path).st_mtime), MTIME + offset, path)


if __name__ == "__main__":
    unittest.main()
