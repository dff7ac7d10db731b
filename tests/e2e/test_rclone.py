"""rclone against the real program: `copy` of a small tree up and back down reports no error and
keeps every file's modification time (rclone sets it with MFMT after each upload)."""

import os
import unittest
from pathlib import Path

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
            Path(path).write_bytes(data)
            os.utime(path, (MTIME + offset, MTIME + offset))

        back = os.path.join(self.site.tmp, "back")
        for source, target in ((local, "REMOTE:tree"), ("REMOTE:tree", back)):
            out = self.rclone("copy", source, target)
            self.assertEqual(out.returncode, 0, out.stderr.decode())
            self.assertNotIn(b"ERROR", out.stderr)
        for offset, (name, data) in enumerate(files.items()):
            for top in (os.path.join(self.site.root, "tree"), back):
                path = os.path.join(top, name)
                self.assertEqual(Path(path).read_bytes(), data, path)
                self.assertEqual(int(os.stat(path).st_mtime), MTIME + offset, path)


if __name__ == "__main__":
    unittest.main()
