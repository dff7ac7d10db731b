"""Passive mode behind a router (passive_ports, passive_address) and a dual-stack server (EPSV, EPRT);
curl moving many files in one invocation over PASV and EPSV, IPv4 and IPv6 (how soon a passive reply
may leave: the engine's tests; how fast: the benchmark); names that never resolve and refused values:
the resolver's and the option catalog's tests."""

import ftplib
import os
import unittest
from pathlib import Path

from kvharness import TIMEOUT, Site, SiteTestCase, fetch, free_run, has_ipv6_loopback, read_tree, run

def pasv(ftp):
    return ftplib.parse227(ftp.sendcmd("PASV"))


class PassiveBehindARouter(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)
        self.site.db.add_user("bob", "x", rights="RB")

    def clients(self, count, **kwargs):
        ftps = [self.site.ftp("bob", "x", **kwargs) for _ in range(count)]
        for ftp in ftps:
            self.addCleanup(ftp.close)
        return ftps

    def test_ports_come_only_from_the_range(self):
        first = free_run(4)
        self.site.db.set_options(passive_ports=f"{first}-{first + 3}", passive_address="203.0.113.7")
        self.site.start()
        seen = set()
        for ftp in self.clients(3):
            replies = [pasv(ftp) for _ in range(5)]
            self.assertEqual({host for host, _ in replies}, {"127.0.0.1"})  # loopback is local: not the public one
            seen.update(port for _, port in replies)
            self.assertEqual(fetch(ftp, "hello.txt"), b"hello\n")
        self.assertTrue(seen <= set(range(first, first + 4)), seen)
        self.assertGreater(len(seen), 1)  # chosen at random
        self.assertEqual(pasv(self.clients(1, source="127.0.0.2")[0])[0], "127.0.0.1")

    def test_a_range_smaller_than_the_demand_answers_425(self):
        port = free_run(1)
        self.site.db.set_options(passive_ports=f"{port}-{port}")
        self.site.start()
        first, second = self.clients(2)
        self.assertEqual(pasv(first), ("127.0.0.1", port))
        for command in ("PASV", "EPSV"):
            self.assertRaisesRegex(ftplib.error_temp, r"^425 Every passive port is in use; try again later\.$",
                                   second.sendcmd, command)
        # The first client's transfer frees the port; the second may retry.
        self.assertEqual(fetch(first, "hello.txt"), b"hello\n")
        self.assertEqual(pasv(second), ("127.0.0.1", port))
        self.assertEqual(self.site.log_file().decode().count(f"tutte le porte passive {port}-{port} sono in uso"), 2)


@unittest.skipUnless(has_ipv6_loopback(), "no ::1 on this machine")
class DualStack(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "x", rights="RB")
        site.db.settings(ip="::")

    def test_ipv6_clients_use_epsv_and_eprt_ipv4_ones_are_shown_dotted(self):
        six, four = self.site.ftp("bob", "x", host="::1"), self.site.ftp("bob", "x")
        self.assertTrue(six.sendcmd("EPSV").startswith("229 Entering Extended Passive Mode (|||"))
        self.assertRaisesRegex(ftplib.error_temp, r"^425 Passive mode needs IPv4; use EPSV\.$", six.sendcmd, "PASV")
        self.assertEqual(pasv(four)[0], "127.0.0.1")
        for ftp in (six, four):
            for passive in (True, False):  # EPSV then EPRT |2|::1|port| on IPv6, PASV then PORT on IPv4
                ftp.set_pasv(passive)
                self.assertEqual(fetch(ftp, "hello.txt"), b"hello\n")
            ftp.quit()
        log = self.site.log_file().decode("utf-8", "replace")
        self.assertIn(" 127.0.0.1] ", log)
        self.assertNotIn("::ffff:", log)


class CurlManyFilesInOneInvocation(SiteTestCase):
    """curl fetching and storing many files over one control connection, one passive data connection
    each, as `curl URL -o F URL -o F ...` and `curl -T "{a,b,...}" URL/` do."""

    COUNT = 20

    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "x", rights="RWB")
        site.db.settings(ip="::" if has_ipv6_loopback() else "127.0.0.1")
        cls.files = {f"many/f{i:02d}.bin": os.urandom(3000 + i) for i in range(cls.COUNT)}
        for name, data in cls.files.items():
            Path(site.root, name).parent.mkdir(exist_ok=True)
            Path(site.root, name).write_bytes(data)
        Path(site.root, "up").mkdir()

    def curl(self, *args):
        out = run(["curl", "-s", "-S", "--max-time", str(TIMEOUT * 3), "-u", "bob:x", *args], TIMEOUT * 4)
        self.assertEqual(out.returncode, 0, out.stderr)

    def fetch_all(self, host, *options):
        dest = Path(self.site.tmp, "down-" + "-".join([host.strip("[]").replace(":", "_"), *options]))
        urls = []
        for name in self.files:
            urls += [f"ftp://{host}:{self.site.port}/{name}", "-o", str(dest / name)]
        self.curl("--create-dirs", *options, *urls)
        self.assertEqual(read_tree(dest), self.files)

    def test_downloads_over_pasv_and_epsv(self):
        self.fetch_all("127.0.0.1", "--disable-epsv")
        self.fetch_all("127.0.0.1")

    @unittest.skipUnless(has_ipv6_loopback(), "no ::1 on this machine")
    def test_downloads_over_epsv_on_ipv6(self):
        self.fetch_all("[::1]")

    def test_uploads(self):
        local = Path(self.site.tmp, "up")
        local.mkdir()
        for name, data in self.files.items():
            (local / Path(name).name).write_bytes(data)
        names = ",".join(Path(name).name for name in self.files)
        self.curl("-T", f"{local}/{{{names}}}", f"ftp://127.0.0.1:{self.site.port}/up/")
        self.assertEqual(read_tree(Path(self.site.root, "up")), {Path(n).name: d for n, d in self.files.items()})
