"""Commands real clients and devices send, against the real program: lftp's mirror -R sets the
modes of what it uploads with SITE CHMOD, curl sends raw commands with -Q, and FEAT names the
hash OPTS HASH chose."""

import hashlib
import os
import stat

from kvharness import SiteTestCase, read_text, run


def mode_of(path):
    return stat.S_IMODE(os.stat(path).st_mode)


class Clients(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("full", "pw", rights="RWDBM")
        site.db.add_user("reader", "pw", rights="RB")
        site.db.add_user("writer", "pw", rights="WBM")

    def test_lftp_mirror_sets_modes_without_refusals(self):
        local = os.path.join(self.site.tmp, "local")
        os.makedirs(os.path.join(local, "inner"))
        for name, mode in (("script.sh", 0o750), ("private.txt", 0o600), ("inner/shared.txt", 0o644)):
            path = os.path.join(local, name)
            with open(path, "wb") as f:
                f.write(name.encode() * 100)
            os.chmod(path, mode)
        log_path = os.path.join(self.site.data, "ftp.log")
        before = len(read_text(log_path)) if os.path.exists(log_path) else 0
        result = self.site.lftp("full", "pw", f"mirror -R {local} /mirrored")
        self.assertEqual(result.returncode, 0, result.stderr)
        target = os.path.join(self.site.root, "mirrored")
        self.assertEqual(mode_of(os.path.join(target, "script.sh")), 0o750)
        self.assertEqual(mode_of(os.path.join(target, "private.txt")), 0o600)
        self.assertEqual(mode_of(os.path.join(target, "inner", "shared.txt")), 0o644)
        log = read_text(log_path)[before:]  # what the mirror alone caused
        self.assertIn("SITE CHMOD", log)
        self.assertNotIn("550 Access denied", log)

    def test_curl_raw_commands(self):
        path = os.path.join(self.site.root, "victim.txt")
        os.chmod(path, 0o644)
        quoted = ["CLNT curl", "ALLO 1000", "AVBL", "SITE CHMOD 600 victim.txt", "HASH hello.txt"]
        args = ["curl", "-s", "-v", "--max-time", "10", "-u", "full:pw", "--list-only"]
        for command in quoted:
            args += ["-Q", command]
        result = run(args + [f"ftp://127.0.0.1:{self.site.port}/"], 15)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        trace = result.stderr.decode(errors="replace")
        self.assertIn("< 200 CLNT command successful", trace)
        self.assertIn("< 200 ALLO command successful", trace)
        self.assertRegex(trace, r"< 213 \d+")
        self.assertIn("< 200 SITE CHMOD command successful", trace)
        self.assertIn("< 213 SHA-256 0-6 " + hashlib.sha256(b"hello\n").hexdigest() + " hello.txt", trace)
        self.assertEqual(mode_of(path), 0o600)
        # A device announcing more than the disk holds is told so before it sends anything.
        result = run(["curl", "-s", "--max-time", "10", "-u", "full:pw", "-Q", "ALLO 999999999999999999",
                      f"ftp://127.0.0.1:{self.site.port}/"], 15)
        self.assertNotEqual(result.returncode, 0)

    def test_feat_marks_the_chosen_hash(self):
        # What each checksum answers and the rights they need: the engine's tests.
        ftp = self.site.ftp("reader", "pw")
        self.assertIn(" HASH SHA-256*;SHA-1;MD5;CRC32", ftp.sendcmd("FEAT"))
        self.assertEqual(ftp.sendcmd("OPTS HASH CRC32"), "200 CRC32")
        self.assertIn(" HASH SHA-256;SHA-1;MD5;CRC32*", ftp.sendcmd("FEAT"))
        ftp.quit()


if __name__ == "__main__":
    import unittest
    unittest.main()
