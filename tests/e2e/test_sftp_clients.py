"""OpenSSH's scp, sftp and ssh and rclone against the SFTP server, as a user runs them: their exit
status tells whether the copy worked (0 when every byte arrived, another for a refused upload), and
rclone compares files by content through the md5sum and sha1sum commands the server answers
itself, inside the account's root; no other command ever runs (each command line, and the read
right: the checksum command's tests)."""

import hashlib
import os
import subprocess
from pathlib import Path

from kvharness import TIMEOUT, SiteTestCase, rclone, read_tree, wait_until, write_tree
from sftpharness import PASSWORD_OPTIONS, SSH_OPTIONS, openssh_batch, sftp_site

# Names as people give them: blanks, quotes, a dollar sign, an accent, a folder.
TREE = {"a.bin": os.urandom(70000), "with space.txt": b"one two\n", "it's $HOME.txt": b"quoted\n",
        "perch\u00e9.txt": b"accento\n", "dir/nested.bin": os.urandom(3000), "empty.txt": b""}


def openssh(site, tool, *args, user="bob", stdin=b"", cwd=None):
    """scp, sftp or ssh logging in as `user` by password, with `args` after the port."""
    port = ["-P" if tool in ("scp", "sftp") else "-p", str(site.sftp_port)]
    argv = ["sshpass", "-p", "secret", tool, *PASSWORD_OPTIONS, *SSH_OPTIONS, *port, *args]
    return subprocess.run([a.replace("USER@", f"{user}@127.0.0.1") for a in argv], input=stdin,
                          capture_output=True, timeout=TIMEOUT * 6, cwd=cwd)


def sums(tree, algorithm):
    return {name: hashlib.new(algorithm, data).hexdigest() for name, data in tree.items()}


class Sftp(SiteTestCase):
    new_site = staticmethod(sftp_site)

    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "secret", rights="RWDBM")
        site.db.add_user("reader", "secret", rights="RB")  # may not upload
        site.db.add_user("blind", "secret", rights="WB")  # may not read
        write_tree(site.root, TREE)
        cls.work = os.path.join(site.tmp, "work")
        os.makedirs(cls.work)

    def log(self):
        return self.site.server.stdout()

    def test_scp_and_sftp_exit_0_when_the_copy_worked(self):
        data = os.urandom(300000)
        Path(self.work, "up.bin").write_bytes(data)
        up = openssh(self.site, "scp", "up.bin", "USER@:/scp-up.bin", cwd=self.work)
        self.assertEqual((up.returncode, up.stderr), (0, b""))
        down = openssh(self.site, "scp", "USER@:/scp-up.bin", "scp-down.bin", cwd=self.work)
        self.assertEqual((down.returncode, down.stderr), (0, b""))
        self.assertEqual(Path(self.work, "scp-down.bin").read_bytes(), data)
        self.assertEqual(Path(self.site.root, "scp-up.bin").read_bytes(), data)
        batch = openssh_batch(self.site, "bob", ["put up.bin sftp-up.bin", "get sftp-up.bin sftp-down.bin"],
                              self.work, password="secret")
        self.assertEqual((batch.returncode, batch.stderr), (0, b""))
        self.assertEqual(Path(self.work, "sftp-down.bin").read_bytes(), data)

    def test_a_refused_upload_exits_with_a_failure(self):
        Path(self.work, "no.bin").write_bytes(b"no\n")
        scp = openssh(self.site, "scp", "no.bin", "USER@:/refused.bin", user="reader", cwd=self.work)
        self.assertNotEqual(scp.returncode, 0)
        self.assertIn(b"Permission denied", scp.stderr)
        batch = openssh_batch(self.site, "reader", ["put no.bin refused.bin"], self.work, password="secret")
        self.assertNotEqual(batch.returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(self.site.root, "refused.bin")))

    def test_the_sftp_subsystem_ends_with_status_0(self):
        # What `ssh -s` sends goes through: the version packet answers the client's first one,
        # then the end of input ends the subsystem as sftp-server's exit would.
        init = b"\x00\x00\x00\x05\x01\x00\x00\x00\x03"
        done = openssh(self.site, "ssh", "-s", "USER@", "sftp", stdin=init)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout[4:9], b"\x02\x00\x00\x00\x03")
        self.assertEqual(openssh(self.site, "ssh", "-s", "USER@", "sftp").returncode, 0)

    def test_rclone_reads_the_servers_md5sum_and_sha1sum(self):
        obscured = subprocess.run(["rclone", "obscure", "secret"], capture_output=True, timeout=TIMEOUT,
                                  check=True).stdout.decode().strip()
        remote = f":sftp,host=127.0.0.1,port={self.site.sftp_port},user=bob,pass={obscured}:"
        # With its defaults rclone first tries the command on empty input, then names the file.
        one = rclone(remote, "md5sum", "REMOTE:a.bin")
        self.assertEqual((one.returncode, one.stdout.decode()), (0, f"{sums(TREE, 'md5')['a.bin']}  a.bin\n"))
        for command, algorithm in (("md5sum", "md5"), ("sha1sum", "sha1")):
            # The command named: for many files at once rclone 1.60 asks its first hashes while
            # it is still trying the command, whatever the server.
            done = rclone(remote, command, f"--sftp-{command}-command", command, "REMOTE:")
            self.assertEqual(done.returncode, 0, done.stderr.decode()[-3000:])
            told = dict(reversed(line.split("  ", 1)) for line in done.stdout.decode().splitlines())
            wanted = sums(TREE, algorithm)
            self.assertEqual({name: told.get(name) for name in wanted}, wanted)
            self.assertIn(f"SFTP: comando {command} /a.bin", self.log())
        # rclone check compares content: a same-size change is found, by its hash.
        local = os.path.join(self.work, "copy")
        write_tree(local, TREE)
        same = rclone(remote, "check", "--one-way", local, "REMOTE:")
        self.assertEqual(same.returncode, 0, same.stderr.decode()[-3000:])
        changed = dict(TREE, **{"with space.txt": b"one tw0\n"})
        write_tree(local, changed)
        differ = rclone(remote, "check", "--one-way", local, "REMOTE:")
        self.assertNotEqual(differ.returncode, 0)
        self.assertIn("with space.txt: md5 differ", differ.stderr.decode())
        self.assertIn("1 differences found", differ.stderr.decode())
        self.assertEqual(read_tree(self.site.root, list(TREE)), TREE)

    def test_ssh_runs_the_checksum_commands_and_nothing_else(self):
        # Through ssh's exec request (which lines are commands, what each tool writes and what the
        # read right allows: test_checksumcommand). Names from the account's root, relative or
        # absolute; what it cannot reach is not found.
        done = openssh(self.site, "ssh", "-n", "USER@",
                       "md5sum a.bin '/with space.txt' nope ../../../../etc/passwd /dir/../dir/nested.bin")
        md5 = sums(TREE, "md5")
        self.assertEqual(done.stdout.decode().splitlines(),
                         [f"{md5['a.bin']}  a.bin", f"{md5['with space.txt']}  /with space.txt",
                          f"{md5['dir/nested.bin']}  /dir/../dir/nested.bin"])
        self.assertEqual(done.stderr.decode().splitlines(),
                         ["md5sum: nope: No such file or directory",
                          "md5sum: ../../../../etc/passwd: No such file or directory"])
        self.assertEqual(done.returncode, 1)
        piped = openssh(self.site, "ssh", "USER@", "sha1sum", stdin=b"abc\n")
        self.assertEqual(piped.stdout.decode(), f"{hashlib.sha1(b'abc' + bytes([10])).hexdigest()}  -\n")
        # Anything else is refused before it could run.
        marker = os.path.join(self.site.tmp, "ran")
        line = f"md5sum a.bin; touch {marker}"
        refused = openssh(self.site, "ssh", "-n", "USER@", line)
        self.assertNotEqual(refused.returncode, 0)
        self.assertEqual(refused.stdout, b"")
        self.assertFalse(os.path.exists(marker))
        # The client may be gone before the server's line is written.
        expected = f"SFTP: richiesta rifiutata (exec {line})"
        wait_until(lambda: expected in self.log(), expected)