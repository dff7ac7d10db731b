"""SFTP logins by public key with OpenSSH's sftp, paramiko, rclone and lftp: keys added with
`kestrova user key add`, listed and deleted; password login off leaves keys working, the key
brings the account's rights, refused keys count for bans only when the client gives up;
`kestrova status` shows the host key fingerprints ssh-keygen sees (which key opens which account:
the login handler's tests)."""

import functools
import os
import re
import stat
import unittest
from pathlib import Path

import paramiko

from kvharness import Site, SiteTestCase, lftp, rclone, wait_until
from sftpharness import add_key, connect, fingerprint, host_key_seen, make_key, openssh_batch, sftp_site


class SftpKeyLogins(SiteTestCase):
    new_site = staticmethod(functools.partial(sftp_site, sftp_password_auth=0))

    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "secret", rights="RWDBM")
        site.db.add_user("carol", "secret", rights="RB")
        cls.keys = os.path.join(site.tmp, "keys")
        cls.bob_key = make_key(cls.keys, "bob")
        cls.bob_rsa = make_key(cls.keys, "bob_rsa", "rsa")
        cls.carol_key = make_key(cls.keys, "carol", "ecdsa")
        for login, key in (("bob", cls.bob_key), ("bob", cls.bob_rsa), ("carol", cls.carol_key)):
            add_key(site, login, key)
        cls.work = os.path.join(site.tmp, "work")
        os.makedirs(cls.work)

    def setUp(self):
        self.site.fill_root()

    def test_key_logs_in_and_transfers_with_password_login_off(self):
        Path(self.work, "local.txt").write_bytes(b"by key\n")
        done = openssh_batch(self.site, "bob", ["get hello.txt got.txt", "put local.txt up.txt", "ls"], self.work,
                             keys=[self.bob_key])
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(Path(self.work, "got.txt").read_bytes(), b"hello\n")
        self.assertEqual(self.site.snapshot().get("up.txt"), b"by key\n")
        out = self.site.server.stdout()
        self.assertIn("SFTP: utente bob collegato con la chiave " + fingerprint(self.bob_key + ".pub"), out)
        # The RSA key signs with rsa-sha2.
        rsa = openssh_batch(self.site, "bob", ["ls"], self.work, keys=[self.bob_rsa])
        self.assertEqual(rsa.returncode, 0, rsa.stderr)
        # Password login is off: the right password opens nothing. (Which keys open which
        # account: the login handler's tests.)
        with self.assertRaises(paramiko.AuthenticationException):
            connect(self.site, "bob", "secret")

    def test_rclone_and_lftp_with_a_key_file(self):
        target = os.path.join(self.work, "by-rclone.txt")
        remote = f":sftp,host=127.0.0.1,port={self.site.sftp_port},user=bob,key_file={self.bob_key}:"
        out = rclone(remote, "copyto", "REMOTE:hello.txt", target)
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertEqual(Path(target).read_bytes(), b"hello\n")
        ssh = (f"ssh -a -x -i {self.bob_key} -o IdentitiesOnly=yes -o BatchMode=yes "
               "-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR")
        out = lftp(f"set sftp:connect-program '{ssh}'; open -u bob, sftp://127.0.0.1:{self.site.sftp_port}; "
                   "put /etc/hostname -o by-lftp.txt; cat hello.txt")
        self.assertEqual(out.returncode, 0, out.stderr.decode())
        self.assertIn(b"hello", out.stdout)
        self.assertEqual(self.site.snapshot().get("by-lftp.txt"), Path("/etc/hostname").read_bytes())

    def test_paramiko_with_a_key_and_never_an_rsa_signature_over_sha1(self):
        t = paramiko.Transport(("127.0.0.1", self.site.sftp_port))
        self.addCleanup(t.close)
        t.connect(username="carol", pkey=paramiko.ECDSAKey.from_private_key_file(self.carol_key))
        client = paramiko.SFTPClient.from_transport(t)
        self.assertEqual(client.open("hello.txt").read(), b"hello\n")
        # carol may not write: the key brings the account's rights, no more.
        with self.assertRaises(OSError):
            client.open("new.txt", "w").write(b"x")
        # bob's RSA key, which opens his account signing over SHA-2, is refused signing over SHA-1.
        sha1 = paramiko.Transport(("127.0.0.1", self.site.sftp_port),
                                  disabled_algorithms={"pubkeys": ["rsa-sha2-512", "rsa-sha2-256"]})
        self.addCleanup(sha1.close)
        with self.assertRaises(paramiko.SSHException):
            sha1.connect(username="bob", pkey=paramiko.RSAKey.from_private_key_file(self.bob_rsa))

    def test_host_keys_are_private_and_shown_by_status_and_log(self):
        shown = self.site.kv_json("status")
        self.assertEqual(shown["sftpPort"], self.site.sftp_port)
        data = self.site.data
        for kind, name in (("ED25519", "kestrova-sftp-ed25519.key"), ("ECDSA", "kestrova-sftp-ecdsa.key")):
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(data, name)).st_mode), 0o600, name)
            # ssh-keygen reads the public half of the private key file.
            self.assertEqual(shown["sftpFingerprints"][kind], fingerprint(os.path.join(data, name)))
            self.assertIn(f"Chiave host SFTP {kind} {shown['sftpFingerprints'][kind]}", self.site.server.stdout())
        text = self.site.kv_ok("status")
        self.assertIn("Chiave host SFTP ED25519 " + shown["sftpFingerprints"]["ED25519"], text.stdout.decode())
        # The key a client is shown is the one listed.
        self.assertIn(host_key_seen(self.site), shown["sftpFingerprints"].values())


class KeyCommands(unittest.TestCase):
    """The command line's key commands (which lines are keys, and keys following their account:
    the key line's and the key table's tests)."""

    def test_add_list_del_round_trip(self):
        site = Site(self)
        site.db.add_user("bob", "secret")
        key = make_key(site.tmp, "k")
        fp = fingerprint(key + ".pub")
        self.assertIn(fp, add_key(site, "bob", key).stdout.decode())
        listed = site.kv_json("user", "key", "list", "bob")
        self.assertEqual([(k["impronta"], k["tipo"], k["commento"]) for k in listed],
                         [(fp, "ssh-ed25519", "k portatile")])
        self.assertTrue(re.match(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$", listed[0]["aggiunta"]), listed[0])
        # Refusals: exit status 1 with the reason, nothing changed.
        for args, stdin, reason in ((("add", "bob"), b"ssh-dss AAAAB3NzaC1kc3MAAACBANcX", "DSA"),
                                    (("add", "anonymous"), Path(key + ".pub").read_bytes(), "anonimo"),
                                    (("del", "bob", "SHA256:nope"), None, "non ha la chiave")):
            with self.subTest(reason):
                self.assertIn(reason, site.kv_fails("user", "key", *args, stdin=stdin))
        self.assertEqual(site.kv("user", "key", "add").returncode, 2)
        site.kv_ok("user", "key", "del", "bob", fp)
        self.assertEqual(site.kv_json("user", "key", "list", "bob"), [])


class KeyBans(unittest.TestCase):
    def test_only_giving_up_counts(self):
        site = sftp_site(self, ban_attempts=2, ban_window_minutes=20, ban_minutes=2)
        site.db.add_user("bob", "secret", rights="R")
        keys = os.path.join(site.tmp, "keys")
        good = make_key(keys, "good")
        others = [make_key(keys, f"other{n}") for n in range(3)]
        add_key(site, "bob", good)
        site.start(env={"KESTROVA_BAN_MINUTE_MS": "60000"})
        work = site.tmp
        # Three wrong keys before the right one, twice: no failure counted.
        for _ in range(2):
            ok = openssh_batch(site, "bob", ["ls"], work, keys=[*others, good])
            self.assertEqual(ok.returncode, 0, ok.stderr)
        self.assertNotIn("login rifiutato", site.server.stdout())
        # Giving up counts once per connection: the second one bans.
        for _ in range(2):
            refused = openssh_batch(site, "bob", ["ls"], work, keys=others)
            self.assertNotEqual(refused.returncode, 0)
        wait_until(lambda: "bloccato temporaneamente" in site.server.stdout(), "the ban")
        self.assertEqual(site.server.stdout().count("login rifiutato: chiave non autorizzata"), 2)
        banned = openssh_batch(site, "bob", ["ls"], work, keys=[good])
        self.assertNotEqual(banned.returncode, 0)
        # Refused passwords and FTP sharing the ban: test_both_protocols.

    def test_connection_limits_hold_for_key_logins(self):
        site = sftp_site(self, max_connections_per_ip=1)
        site.db.add_user("bob", "secret", rights="R")
        key = make_key(site.tmp, "k")
        add_key(site, "bob", key)
        site.start()
        held = paramiko.Transport(("127.0.0.1", site.sftp_port))
        held.connect(username="bob", pkey=paramiko.Ed25519Key.from_private_key_file(key))
        second = openssh_batch(site, "bob", ["ls"], site.tmp, keys=[key])
        self.assertNotEqual(second.returncode, 0)
        self.assertIn("max_connections_per_ip", site.server.stdout())
        held.close()
        wait_until(lambda: openssh_batch(site, "bob", ["ls"], site.tmp, keys=[key]).returncode == 0,
                   "a key login once the first connection closed")
