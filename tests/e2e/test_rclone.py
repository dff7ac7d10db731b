"""rclone against the real program: `copy` of a small tree up and back down reports no error and
keeps every file's modification time (rclone sets it with MFMT after each upload); over FTPS with
its default settings (four transfers and checkers side by side, one TLS session cache for all its
connections) `copy`, `sync` and `check` move every file of a larger tree, with no refusal."""

import os
import unittest
from pathlib import Path

from kvharness import SiteTestCase, rclone, run

MTIME = 1577836800  # 2020-01-01 00:00:00 UTC
FTPS = ",explicit_tls=true,no_check_certificate=true"


class Rclone(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("rita", "r-pass", rights="RWDBM")
        # TLS when the client asks; its data connections must resume a session (the default).
        site.db.set_options(tls="on")

    def rclone(self, *args, extra=""):
        """rclone on this site, `extra` adding options to the remote's."""
        obscured = run(["rclone", "obscure", "r-pass"]).stdout.decode().strip()
        return rclone(f":ftp,host=127.0.0.1,port={self.site.port},user=rita,pass={obscured}{extra}:", *args)

    def assertClean(self, out):
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertNotIn(b"ERROR", out.stderr)

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
            self.assertClean(self.rclone("copy", source, target))
        for offset, (name, data) in enumerate(files.items()):
            for top in (os.path.join(self.site.root, "tree"), back):
                path = os.path.join(top, name)
                self.assertEqual(Path(path).read_bytes(), data, path)
                self.assertEqual(int(os.stat(path).st_mtime), MTIME + offset, path)

    def test_ftps_copy_sync_check_move_every_file(self):
        local = os.path.join(self.site.tmp, "many")
        files = {}
        for i in range(204):
            name = f"d{i % 6}/f{i:03d}.bin"
            files[name] = os.urandom(i * 37 % 3000)
            os.makedirs(os.path.join(local, os.path.dirname(name)), exist_ok=True)
            Path(local, name).write_bytes(files[name])
        back = os.path.join(self.site.tmp, "many-back")
        self.assertClean(self.rclone("copy", local, "REMOTE:many", extra=FTPS))
        self.assertClean(self.rclone("sync", "REMOTE:many", back, extra=FTPS))
        self.assertClean(self.rclone("check", "--download", local, "REMOTE:many", extra=FTPS))
        # A second sync after a local change sends only what changed.
        Path(local, "d0/f000.bin").write_bytes(b"changed")
        self.assertClean(self.rclone("sync", local, "REMOTE:many", extra=FTPS))
        files["d0/f000.bin"] = b"changed"
        for name, data in files.items():
            for top in (os.path.join(self.site.root, "many"), back if name != "d0/f000.bin" else None):
                if top:
                    self.assertEqual(Path(top, name).read_bytes(), data, name)
        log = self.site.log_file().decode("utf-8", "replace")
        self.assertIn("TLS TLSv1.3 ", log)
        self.assertNotIn("425 ", log)
        self.assertEqual(self.site.server.stderr(), "")


if __name__ == "__main__":
    unittest.main()
