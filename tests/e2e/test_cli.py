"""The command line beside a running headless server: a change is seen by the next login, a
refusal says why (status 1) in the panels' words, a wrong command line gives 2, two writers at
once both land, a renamed account keeps its rules and keys."""

import json
import os
import pathlib
import re
import sqlite3
import subprocess
import threading
import time
import unittest

from kvharness import Site, SiteTestCase, TIMEOUT, program

ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen")
# What the panels refuse, with their messages (tests/admin/logic/test_entrychecks.cpp reads it too).
REFUSALS = pathlib.Path(__file__).parent.joinpath("../support/entry_refusals.tsv")
KEY_LINE = ("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAILaFngqK2+H5uJBrjTjWO892n8ed5xwpUSRE31Af5gg/ "
            "user@host ed25519\n")


def refusal_rows():
    """(kind, value, message) of each row of the shared table, escapes still in."""
    for line in REFUSALS.read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            kind, value, message = line.split("\t")
            yield kind, value, message


class CommandLine(SiteTestCase):
    @classmethod
    def prepare(cls, site):
        site.db.add_user("bob", "x", rights="RB")

    def test_account_added_and_removed_while_serving(self):
        self.site.kv_ok("user", "add", "carla", "--rights", "rb", stdin="segreta\n")
        stored = self.site.db.run("SELECT password FROM users WHERE login='carla'")[0][0]
        self.assertTrue(stored.startswith("$y$"), stored)  # never kept as clear text
        got = self.site.curl("carla:segreta", "hello.txt")
        self.assertEqual((got.returncode, got.stdout), (0, b"hello\n"), got.stderr)

        listed = [{k: row[k] for k in ("login", "abilitato", "diritti", "cartella")}
                  for row in self.site.kv_json("user", "list")]  # the limits: test_account_limits
        self.assertIn({"login": "carla", "abilitato": "sì", "diritti": "r--b-", "cartella": ""}, listed)

        self.assertEqual(self.site.kv("user", "passwd", "carla", stdin="nuova\n").returncode, 0)
        tries = [self.site.curl(f"carla:{word}", "hello.txt").returncode for word in ("segreta", "nuova", "Nuova")]
        self.assertEqual(tries, [67, 0, 67])  # letter case counts, even for a remembered password

        self.assertEqual(self.site.kv("user", "del", "carla").returncode, 0)
        self.assertEqual(self.site.curl("carla:nuova", "hello.txt").returncode, 67)

    def test_list_switches_apply_to_the_next_login(self):
        """A switch is obeyed as saved, from the next login, without a reload: the same saved
        value whether the command line or the window's Sicurezza panel switched it."""
        self.addCleanup(self.site.db.run, "DELETE FROM IPko")
        self.addCleanup(self.site.db.run, "UPDATE settings SET IPok = 0, IPko = 0")
        self.site.kv_ok("ip", "allow", "on")  # and nothing on the list
        self.assertEqual(self.site.curl("bob:x", "hello.txt").returncode, 67)
        self.site.kv_ok("ip", "allow", "off")
        self.site.kv_ok("ip", "block", "add", "127.0.0.1")
        self.assertEqual(self.site.curl("bob:x", "hello.txt").returncode, 0)
        self.site.kv_ok("ip", "block", "on")
        self.assertEqual(self.site.curl("bob:x", "hello.txt").returncode, 67)
        self.site.kv_ok("ip", "block", "off")
        self.assertEqual(self.site.curl("bob:x", "hello.txt").returncode, 0)

    def test_refusals_say_why_and_change_nothing(self):
        # Logins, roots, virtual folders and addresses: test_same_refusals_as_the_panels.
        cases = [
            (("user", "add", "dora", "--rights", "rwx"), "x\n", "Diritti non validi"),
            (("user", "add", "dora"), "", "Nessuna password letta"),
            (("user", "set", "nobody", "--enabled", "1"), "", "non esiste"),
            (("option", "set", "tls", "bogus"), "", "tls"),  # which values the catalog refuses: its tests
            (("settings", "set", "port", "70000"), "", "Porta non valida"),
        ]
        before = self.site.snapshot(), self.site.db.run("SELECT * FROM users ORDER BY ID")
        for args, stdin, message in cases:
            with self.subTest(args=args):
                self.assertIn(message, self.site.kv_fails(*args, stdin=stdin))
        self.assertEqual((self.site.snapshot(), self.site.db.run("SELECT * FROM users ORDER BY ID")), before)
        self.assertEqual(self.site.db.run("SELECT COUNT(*) FROM IPok"), [(0,)])
        self.assertEqual(self.site.db.run("SELECT COUNT(*) FROM virtualdirs"), [(0,)])

    def test_same_refusals_as_the_panels(self):
        """Each row of the panels' table, given to the command line: the same message, word for
        word, and nothing stored; an accepted value is stored (and then taken away again)."""
        root, outside = self.site.root, os.path.join(self.site.tmp, "outside")
        os.makedirs(outside, exist_ok=True)
        bob = self.site.db.run("SELECT ID FROM users WHERE login = 'bob'")[0][0]
        self.site.db.run("INSERT INTO virtualdirs (name, source, destination, user) VALUES ('doc', '', ?, ?)",
                         (os.path.join(root, "sub"), bob))
        self.site.db.run("INSERT INTO IPok (IP) VALUES ('10.9.9.9')")
        self.addCleanup(self.site.db.run, "DELETE FROM virtualdirs")
        self.addCleanup(self.site.db.run, "DELETE FROM IPok")

        def placed(text):
            return (text.replace("\\s", " ").replace("\\x01", "\x01")
                    .replace("{root}", root).replace("{outside}", outside))

        sub = os.path.join(root, "sub")
        commands = {  # the command for a value, and what takes an accepted one away again
            "login": (lambda v: ("user", "add", v, "--rights", "rb"), lambda v: ("user", "del", v)),
            "root": (lambda v: ("user", "add", "dora", "--root", v), lambda v: ("user", "del", "dora")),
            "vname": (lambda v: ("vdir", "add", "bob", v, sub), lambda v: ("vdir", "del", "bob", v)),
            "vposition": (lambda v: ("vdir", "add", "bob", "v", sub, "--source", v),
                          lambda v: ("vdir", "del", "bob", "v")),
            "vdestination": (lambda v: ("vdir", "add", "bob", "v", v), lambda v: ("vdir", "del", "bob", "v")),
            "ip": (lambda v: ("ip", "allow", "add", v), lambda v: ("ip", "allow", "del", v)),
        }
        rows = list(refusal_rows())
        self.assertGreaterEqual(len(rows), 20)
        for kind, value, message in rows:
            with self.subTest(kind=kind, value=value):
                command, undo = commands[kind]
                given = placed(value)
                before = [self.site.db.run(f"SELECT * FROM {t}") for t in ("users", "virtualdirs", "IPok")]
                result = self.site.kv(*command(given), stdin="segreta\n")
                if message:
                    self.assertEqual((result.returncode, result.stderr.decode()), (1, placed(message) + "\n"))
                    self.assertEqual([self.site.db.run(f"SELECT * FROM {t}") for t in ("users", "virtualdirs", "IPok")],
                                     before)
                else:
                    self.assertEqual(result.returncode, 0, result.stderr.decode())
                    self.site.kv_ok(*undo(given))

    def test_whole_disk_only_when_chosen(self):
        """"/" as a root (the default root, an account's or the anonymous account's) is refused
        unless --whole-disk says it is meant, naming whose root it would be, in the words of the
        window's question."""
        self.addCleanup(self.forget_all_but_bob)
        self.addCleanup(self.site.kv_ok, "settings", "set", "rootdir", self.site.root)
        refusal = ("Per {} sarebbe condiviso tutto il disco (/), compresi i file personali e quelli di "
                   "sistema: per condividerlo comunque aggiungere --whole-disk\n")
        for args, who in ((("user", "add", "dora", "--root", "/"), "l'account dora"),
                          (("user", "set", "bob", "--root", "/"), "l'account bob"),
                          (("anonymous", "off", "--root", "/"), "l'account anonimo"),
                          (("settings", "set", "rootdir", "/"), "la cartella radice predefinita")):
            with self.subTest(args=args):
                self.assertEqual(self.site.kv_fails(*args, stdin="x\n"), refusal.format(who))
        self.assertEqual(self.site.db.run("SELECT count(*) FROM users WHERE login = 'dora'"), [(0,)])
        self.assertEqual(self.site.db.run("SELECT rootdir FROM settings"), [(self.site.root,)])
        self.site.kv_ok("user", "add", "dora", "--root", "/", "--whole-disk", stdin="x\n")
        self.site.kv_ok("anonymous", "off", "--root", "//", "--whole-disk")
        self.site.kv_ok("settings", "set", "rootdir", "/", "--whole-disk")
        self.assertEqual(self.site.db.run("SELECT rootdir FROM users WHERE login = 'dora'"), [("/",)])
        self.assertEqual(self.site.db.run("SELECT rootdir FROM anonymous"), [("/",)])
        self.assertEqual(self.site.db.run("SELECT rootdir FROM settings"), [("/",)])
        self.site.kv_ok("user", "del", "dora")

    def test_a_renamed_account_keeps_its_rules_and_keys(self):
        """`user set OLD --login NEW` and a plain SQL rename both carry the account's action rules
        (named in other letters too) and keys; its folders follow by number; deleting it takes its
        rules away. Another account's rules and "*" stay."""
        self.addCleanup(self.forget_all_but_bob)
        self.site.kv_ok("user", "add", "scanner", "--rights", "rw", stdin="segreta\n")
        self.site.kv_ok("action", "add", "upload", "--user", "Scanner", "--run", "/bin/true")
        self.site.kv_ok("action", "add", "upload", "--user", "bob", "--run", "/bin/true")
        self.site.kv_ok("action", "add", "upload", "--user", "*", "--run", "/bin/true")
        self.site.kv_ok("user", "key", "add", "scanner", stdin=KEY_LINE)
        self.site.kv_ok("vdir", "add", "scanner", "v", os.path.join(self.site.root, "sub"))

        def owners():
            return [rule["user"] for rule in self.site.kv_json("action", "list")]

        out = self.site.kv_ok("user", "set", "scanner", "--login", "archivio").stdout.decode()
        self.assertEqual(out, 'Account "scanner" rinominato in "archivio"\n')
        self.assertEqual(owners(), ["archivio", "bob", "*"])
        self.assertEqual(len(self.site.kv_json("user", "key", "list", "archivio")), 1)
        self.assertEqual([row["proprietario"] for row in self.site.kv_json("vdir", "list")], ["archivio"])
        self.assertIn("Non è consentito duplicare i Login",
                      self.site.kv_fails("user", "set", "archivio", "--login", "BOB"))
        got = self.site.curl("archivio:segreta", "hello.txt")
        self.assertEqual((got.returncode, got.stdout), (0, b"hello\n"), got.stderr)

        self.site.db.run("UPDATE users SET login = 'deposito' WHERE login = 'archivio'")  # another program
        self.assertEqual(owners(), ["deposito", "bob", "*"])
        self.assertEqual(len(self.site.kv_json("user", "key", "list", "deposito")), 1)

        out = self.site.kv_ok("user", "del", "deposito").stdout.decode()
        self.assertEqual(out, 'Account "deposito" eliminato insieme alla sua azione\n')
        self.assertEqual(owners(), ["bob", "*"])

    def forget_all_but_bob(self):
        """Whatever a test added beside the account bob, gone again."""
        self.site.db.run("DELETE FROM users WHERE login <> 'bob'")
        self.site.db.run("DELETE FROM virtualdirs")
        if self.site.db.run("SELECT 1 FROM sqlite_master WHERE name = 'actions'"):
            self.site.db.run("DELETE FROM actions")
        self.site.kv("anonymous", "off", "--root", "")

    def test_wrong_command_lines_exit_2(self):
        for args in (("user", "frob", "x"), ("user", "add"), ("user", "list", "--frob"),
                     ("ip", "maybe", "list"), ("help", "nothing")):
            with self.subTest(args=args):
                self.assertEqual(self.site.kv(*args).returncode, 2)
        helped = self.site.kv("help", "user")
        self.assertEqual(helped.returncode, 0)
        self.assertIn(b"kestrova user add", helped.stdout)
        # Accented letters, never an apostrophe in their place ("e'" for "è").
        every = self.site.kv("help").stdout.decode()
        self.assertIn("così come sono", every)
        self.assertFalse(re.search(r"\b(e|cosi|puo|perche|piu|gia)'", every), every)

    def test_lists_options_and_settings(self):
        self.assertEqual(self.site.kv("ip", "block", "add", "10.0.0.0/8").returncode, 0)
        self.assertEqual(self.site.kv("ip", "block", "add", "10.0.0.0/8").returncode, 1)  # already listed
        table = self.site.kv("ip", "block", "list").stdout.decode().splitlines()
        self.assertEqual(table, ["voce", "10.0.0.0/8"])
        self.assertEqual(self.site.kv("ip", "block", "del", "10.0.0.0/8").returncode, 0)

        self.assertEqual(self.site.kv("option", "get", "tls").stdout, b"off\n")  # no row: the default
        values = {row["nome"]: row["valore"] for row in self.site.kv_json("option", "list")}
        self.assertEqual(values["tls_session_reuse"], "1")
        shown = {r["impostazione"]: r["valore"] for r in self.site.kv_json("settings", "show")}
        self.assertEqual(shown["port"], str(self.site.port))

    def test_two_commands_writing_at_once_both_land(self):
        for round_ in range(5):
            wanted = {"tls_implicit_port": str(9900 + round_), "tls_min_version": "1.3" if round_ % 2 else "1.2"}
            procs = [subprocess.Popen([program(), "option", "set", name, value, "--data-dir", self.site.data],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
                     for name, value in wanted.items()]
            for p in procs:
                p.communicate(timeout=TIMEOUT)
                self.assertEqual(p.returncode, 0)
            self.assertLessEqual(wanted.items(), dict(self.site.db.run("SELECT name, value FROM options")).items())
        for name in wanted:
            self.assertEqual(self.site.kv("option", "unset", name).returncode, 0)

    def test_waits_for_a_file_another_program_holds(self):
        # Another program holds accounts.dat for a second: the command waits
        # for it, from its very first statement, instead of giving up.
        holder = sqlite3.connect(os.path.join(self.site.data, "accounts.dat"), isolation_level=None,
                                 check_same_thread=False)
        holder.execute("BEGIN EXCLUSIVE")
        release = threading.Timer(1.0, holder.execute, ("COMMIT",))
        release.start()
        try:
            started = time.monotonic()
            out = self.site.kv_ok("user", "list", "--json")
            self.assertGreater(time.monotonic() - started, 0.8)
            self.assertIn("bob", [row["login"] for row in json.loads(out.stdout)])
        finally:
            release.join()
            holder.close()


@unittest.skipUnless(os.geteuid() == 0, "needs root to act as other users")
class ClosedFolder(unittest.TestCase):
    """A data folder shut to strangers, as the package makes /var/lib/kestrova (root's here,
    group-only, 2770): the database commands name the group to join, as the channel's do."""

    GROUP = 47021  # a group nobody is in

    def setUp(self):
        self.site = Site(self)
        os.chmod(self.site.tmp, 0o755)
        os.chown(self.site.data, 0, self.GROUP)
        os.chmod(self.site.data, 0o2770)
        self.before = self.site.db.run("SELECT * FROM users"), os.listdir(self.site.data)

    @staticmethod
    def as_user(uid, gid, groups=()):
        return ["setpriv", f"--reuid={uid}", f"--regid={gid}",
                "--groups=" + ",".join(map(str, groups)) if groups else "--clear-groups"]

    def test_a_stranger_is_told_the_group_a_member_gets_the_answer(self):
        stranger = self.as_user(65534, 65534)
        said = f"la cartella dei dati {self.site.data} è riservata al gruppo {self.GROUP}. " \
               f"Per amministrare il server: sudo adduser nobody {self.GROUP}, poi un nuovo accesso"
        for args, stdin in ((("user", "list"), ""), (("user", "add", "dora"), "pw\n"),
                            (("settings", "show"), ""), (("option", "list"), ""),
                            (("option", "set", "tls", "on"), ""), (("action", "list"), ""),
                            (("ip", "allow", "list"), ""), (("status",), "")):
            with self.subTest(args=args):
                error = self.site.kv_fails(*args, stdin=stdin, prefix=stranger)
                self.assertIn(said, error)
                self.assertNotIn("non è scrivibile", error)
        self.assertEqual((self.site.db.run("SELECT * FROM users"), os.listdir(self.site.data)), self.before)
        member = self.as_user(65534, 65534, [self.GROUP])
        listed = json.loads(self.site.kv_ok("user", "list", "--json", prefix=member).stdout)
        self.assertEqual(listed, [])
