"""Commands real clients send, against the real program: lftp's mirror -R sets the modes of what it
uploads with SITE CHMOD, and FEAT names the hash OPTS HASH chose (what devices send, ALLO, AVBL,
CLNT and the checksums: the engine's scripted sessions)."""

import os
import stat
from pathlib import Path

from kvharness import SiteTestCase, read_text


class Clients(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("full", "pw", rights="RWDBM")
        site.db.add_user("reader", "pw", rights="RB")

    def test_lftp_mirror_sets_modes_without_refusals(self):
        local = os.path.join(self.site.tmp, "local")
        os.makedirs(os.path.join(local, "inner"))
        modes = {"script.sh": 0o750, "private.txt": 0o600, "inner/shared.txt": 0o644}
        for name, mode in modes.items():
            path = os.path.join(local, name)
            Path(path).write_bytes(name.encode() * 100)
            os.chmod(path, mode)
        log_path = os.path.join(self.site.data, "ftp.log")
        before = len(read_text(log_path)) if os.path.exists(log_path) else 0
        result = self.site.lftp("full", "pw", f"mirror -R {local} /mirrored")
        self.assertEqual(result.returncode, 0, result.stderr)
        target = os.path.join(self.site.root, "mirrored")
        self.assertEqual({name: stat.S_IMODE(os.stat(os.path.join(target, name)).st_mode) for name in modes}, modes)
        log = read_text(log_path)[before:]  # what the mirror alone caused
        self.assertIn("SITE CHMOD", log)
        self.assertNotIn("550 Access denied", log)

    def test_feat_marks_the_chosen_hash(self):
        # What each checksum answers and the rights they need: the engine's tests.
        ftp = self.site.ftp("reader", "pw")
        self.assertIn(" HASH SHA-256*;SHA-1;MD5;CRC32", ftp.sendcmd("FEAT"))
        self.assertEqual(ftp.sendcmd("OPTS HASH CRC32"), "200 CRC32")
        self.assertIn(" HASH SHA-256;SHA-1;MD5;CRC32*", ftp.sendcmd("FEAT"))
        ftp.quit()
