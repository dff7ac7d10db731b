"""rclone against the real program over FTPS with its default settings (four transfers and checkers
side by side, one TLS session cache for all its connections): `copy`, `sync` and `check` move every
file of a tree with no refusal and keep its modification time (rclone sets it with MFMT after each
upload)."""

import os
from pathlib import Path

from kvharness import SiteTestCase, rclone, read_tree, run, write_tree

MTIME = 1577836800  # 2020-01-01 00:00:00 UTC
FTPS = ",explicit_tls=true,no_check_certificate=true"


def mtime(name):
    return MTIME + int(name[-7:-4])


class Rclone(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("rita", "r-pass", rights="RWDBM")
        # TLS when the client asks; its data connections must resume a session (the default).
        site.db.set_options(tls="on")

    def rclone(self, *args):
        obscured = run(["rclone", "obscure", "r-pass"]).stdout.decode().strip()
        return rclone(f":ftp,host=127.0.0.1,port={self.site.port},user=rita,pass={obscured}{FTPS}:", *args)

    def assertClean(self, out):
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertNotIn(b"ERROR", out.stderr)

    def test_ftps_copy_sync_check_move_every_file_with_its_time(self):
        local = os.path.join(self.site.tmp, "many")
        files = {f"d{i % 6}/f{i:03d}.bin": os.urandom(i * 37 % 3000) for i in range(204)}
        write_tree(local, files, mtime)
        back = os.path.join(self.site.tmp, "many-back")
        self.assertClean(self.rclone("copy", local, "REMOTE:many"))
        self.assertClean(self.rclone("sync", "REMOTE:many", back))
        self.assertClean(self.rclone("check", "--download", local, "REMOTE:many"))
        for top in (os.path.join(self.site.root, "many"), back):
            self.assertEqual(read_tree(top, times=True), {name: (data, mtime(name)) for name, data in files.items()},
                             top)
        # A second sync after a local change sends only what changed.
        Path(local, "d0/f000.bin").write_bytes(b"changed")
        self.assertClean(self.rclone("sync", local, "REMOTE:many"))
        files["d0/f000.bin"] = b"changed"
        self.assertEqual(read_tree(os.path.join(self.site.root, "many")), files)
        log = self.site.log_file().decode("utf-8", "replace")
        self.assertIn("TLS TLSv1.3 ", log)
        self.assertNotIn("425 ", log)
        self.assertEqual(self.site.server.stderr(), "")
