"""The administration channel of a running headless server, driven by the command line
(status, who, kick, ban, log --follow) while real clients transfer files; the peer
check as other users; one server per data folder (hostile administration clients: the
channel's tests); a server whose socket path is too long for the folder is found through the
runtime folder (each length: the channel's tests); another user cannot take the socket's and the
lock's place in /tmp."""

import contextlib
import datetime
import ftplib
import hashlib
import json
import os
import shutil
import signal
import subprocess
import unittest

from kvharness import Server, Site, TIMEOUT, program, read_text, run, spawn, wait_until

BIG = 512 * 1024 * 1024  # sparse: no disk used


def when(text):
    return datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))


def now():
    return datetime.datetime.now(datetime.timezone.utc)


class Admin(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)
        self.site.db.add_user("anna", "pw", rights="RWDB")
        self.site.sparse("big.bin", BIG)
        self.server = self.site.start()
        self.kv, self.kv_json = self.site.kv, self.site.kv_json

    def slow_curl(self, *args):
        """A curl transfer held to 16 MiB/s, ended by the test."""
        return spawn(self, ["curl", "-s", "--limit-rate", "16M", "-u", "anna:pw", *args])

    def session_with(self, direction):
        sessions = self.kv_json("who")
        found = [s for s in sessions if s["transfer"] and s["transfer"]["direction"] == direction]
        return found[0] if found else None

    def test_status_and_who_follow_real_transfers_and_kick_ends_one(self):
        started = now()
        url = f"ftp://127.0.0.1:{self.site.port}"
        down = self.slow_curl("-o", "/dev/null", f"{url}/big.bin")
        self.site.sparse("up-source.bin", BIG)
        up = self.slow_curl("-T", os.path.join(self.site.root, "up-source.bin"), f"{url}/up.bin")
        idle = self.site.ftp("anna", "pw")
        idle.cwd("sub")

        wait_until(lambda: self.session_with("download") and self.session_with("upload"),
                   "two transfers in progress")
        first = self.session_with("download")
        wait_until(lambda: self.session_with("download")["transfer"]["bytes"] > first["transfer"]["bytes"],
                   "the download's bytes growing")
        second = self.session_with("download")
        self.assertEqual((second["id"], second["login"], second["address"], second["transfer"]["path"]),
                         (first["id"], "anna", "127.0.0.1", "/big.bin"))
        self.assertGreater(second["transfer"]["rate"], 0)
        self.assertLessEqual(abs((when(second["since"]) - started).total_seconds()), 10)
        self.assertEqual(self.session_with("upload")["transfer"]["path"], "/up.bin")
        self.assertIn("/sub", {s["folder"] for s in self.kv_json("who")})

        status = self.kv_json("status")  # every field of the answer: the operations' tests
        self.assertEqual((status["port"], status["sessions"]), (self.site.port, 3))
        self.assertIn(f"porta {self.site.port}", self.kv("status").stdout.decode())
        self.assertIn("/big.bin", self.kv("who").stdout.decode())

        self.site.kv_ok("kick", str(second["id"]))
        self.assertNotEqual(down.wait(TIMEOUT), 0)
        wait_until(lambda: second["id"] not in [s["id"] for s in self.kv_json("who")], "the kick")
        self.assertIsNone(up.poll(), "the other transfer goes on")
        self.assertTrue(idle.voidcmd("NOOP").startswith("200"))

        self.assertIn("Nessuna sessione", self.site.kv_fails("kick", "999999"))
        idle.quit()

    def test_bans_added_listed_and_lifted(self):
        before = self.site.ftp("anna", "pw", source="127.0.0.5")
        self.addCleanup(before.close)
        self.site.kv_ok("ban", "add", "127.0.0.5", "--minutes", "5")
        bans = self.kv_json("ban", "list")
        self.assertEqual([(b["address"], b["attempts"]) for b in bans], [("127.0.0.5", 0)])
        left = (when(bans[0]["until"]) - now()).total_seconds()
        self.assertTrue(280 < left <= 300, left)
        with self.assertRaises(ftplib.error_temp):
            self.site.ftp("anna", "pw", source="127.0.0.5")
        # A session open from the address is closed after its next answer.
        with self.assertRaises((ftplib.error_temp, EOFError, ConnectionError)):
            before.voidcmd("NOOP")
            before.voidcmd("NOOP")
        self.site.ftp("anna", "pw", source="127.0.0.6").quit()

        self.assertEqual(self.kv("ban", "del", "127.0.0.5").returncode, 0)
        self.assertEqual(self.kv_json("ban", "list"), [])
        self.site.ftp("anna", "pw", source="127.0.0.5").quit()
        self.assertIn("non è bloccato", self.site.kv_fails("ban", "del", "127.0.0.5"))

        # Which addresses and times are refused: the operations' tests; here, the exit statuses.
        for args, code in ((("ban", "add", "not-an-address"), 1), (("kick", "abc"), 2),
                           (("ban", "add", "10.0.0.1", "--minutes", "abc"), 2), (("ban",), 2)):
            with self.subTest(args):
                self.assertEqual(self.kv(*args).returncode, code)
        self.assertEqual(self.kv_json("ban", "list"), [])

    def test_log_follow_prints_lines_as_they_are_written(self):
        out, events = (os.path.join(self.site.tmp, name) for name in ("follow.txt", "events.txt"))
        follow = spawn(self, [program(), "log", "--follow", "--data-dir", self.site.data], out)
        watch = spawn(self, [program(), "log", "--follow", "--json", "--data-dir", self.site.data], events)

        def followed():  # a session more until both followers have seen a whole one
            ftp = self.site.ftp("anna", "pw")
            ftp.retrbinary("RETR hello.txt", lambda _: None)
            ftp.quit()
            kinds = {json.loads(line).get("event") for line in read_text(events).splitlines() if line.strip()}
            return "anna" in read_text(out) and kinds >= {
                "log", "opened", "loggedIn", "transferStarted", "transferFinished", "closed"}
        wait_until(followed, "a whole session in both followed logs", pause=0.2)
        # A session's lines come with the session they belong to.
        told = [json.loads(line) for line in read_text(events).splitlines() if line.strip()]
        opened = {e["id"] for e in told if e.get("event") == "opened"}
        said = [e for e in told if e.get("event") == "log" and e.get("id") in opened]
        self.assertTrue(any(e["login"] == "anna" and e["line"].startswith("[") for e in said), told[:20])
        self.assertIsNone(follow.poll())
        follow.send_signal(signal.SIGINT)
        follow.wait(TIMEOUT)
        # A server that stops ends the follower too.
        self.site.stop()
        self.assertEqual(watch.wait(TIMEOUT), 0)
        self.assertIn("SERVER STOP", read_text(events))
        self.assertIn(b"SERVER STOP", self.site.log_file())


class LongDataFolder(unittest.TestCase):
    def test_socket_goes_to_a_runtime_folder_is_found_there_and_gone_with_its_server(self):
        site = Site(self)
        runtime = os.path.join(site.tmp, "run")
        os.mkdir(runtime, 0o700)
        long_folder = os.path.join(site.tmp, "d" * 100, "data")
        os.makedirs(long_folder)
        shutil.copy(site.db.path, long_folder)
        server = Server(long_folder, env={"XDG_RUNTIME_DIR": runtime})
        self.addCleanup(lambda: server.proc.poll() is None and server.stop())
        self.assertTrue(server.wait_started(), server.stderr())
        record = os.path.join(long_folder, "kestrova.sock.path")
        socket_path = read_text(record).strip()
        self.assertTrue(socket_path.startswith(runtime + "/kestrova-"), socket_path)
        self.assertFalse(os.path.exists(os.path.join(long_folder, "kestrova.sock")))
        # The command line (another environment, so it must read the record) finds it.
        result = run([program(), "status", "--json", "--data-dir", long_folder])
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(json.loads(result.stdout)["port"], site.port)
        # One server per data folder: a second one says so and exits 2.
        second = Server(long_folder, env={"XDG_RUNTIME_DIR": runtime})
        self.assertEqual(second.proc.wait(TIMEOUT), 2)
        self.assertIn(f"Un altro server è già in funzione su {long_folder}", second.stderr())
        second.stop()
        self.assertEqual(server.stop(), 0)
        self.assertFalse(os.path.exists(record))
        self.assertFalse(os.path.exists(socket_path))
        # With no server on the folder, every command that needs one says so.
        for args in (("status",), ("who", "--json"), ("kick", "1"), ("ban", "list"), ("reload",),
                     ("log", "--follow")):
            with self.subTest(args):
                result = run([program(), *args, "--data-dir", long_folder])
                self.assertEqual(result.returncode, 3)
                self.assertIn(f"Nessun server in funzione su {long_folder}", result.stderr.decode())
        self.assertEqual(run([program(), "log", "--data-dir", long_folder]).returncode, 2)


@unittest.skipUnless(os.geteuid() == 0, "needs root to act as other users")
class OtherUsers(unittest.TestCase):
    """The server runs as nobody; peers are told apart by the kernel's credentials."""

    GROUP = 47011  # a group nobody is in, given to the data folder

    def setUp(self):
        self.site = Site(self)
        self.site.db.add_user("anna", "pw", rights="RB")
        os.chmod(self.site.tmp, 0o755)
        for dirpath, dirnames, filenames in os.walk(self.site.tmp):
            for name in dirnames + filenames:
                os.chown(os.path.join(dirpath, name), 65534, self.GROUP)
        os.chown(self.site.data, 65534, self.GROUP)
        os.chmod(self.site.data, 0o775)
        self.site.start(prefix=self.as_user(65534, 65534, [self.GROUP]))

    @staticmethod
    def as_user(uid, gid, groups=()):
        return ["setpriv", f"--reuid={uid}", f"--regid={gid}",
                "--groups=" + ",".join(map(str, groups)) if groups else "--clear-groups"]

    def test_root_the_server_user_and_the_group_may_others_may_not(self):
        sock = os.path.join(self.site.data, "kestrova.sock")
        os.chmod(sock, 0o777)  # whatever the file mode, the credentials decide
        allowed = {"root": (), "the server's user": self.as_user(65534, 65534),
                   "a member of the folder's group": self.as_user(47012, 47012, [self.GROUP])}
        for who, prefix in allowed.items():
            with self.subTest(who):
                result = self.site.kv_ok("status", "--json", prefix=prefix)
                self.assertEqual(json.loads(result.stdout)["port"], self.site.port)
        for who, prefix in {"a stranger": self.as_user(47012, 47012),
                            "nobody's group only": self.as_user(47013, 65534)}.items():
            with self.subTest(who):
                for args in (("status",), ("ban", "add", "127.0.0.9"), ("kick", "1"), ("log", "--follow")):
                    result = self.site.kv(*args, prefix=prefix)
                    self.assertEqual(result.returncode, 1)
                    self.assertIn("Accesso negato", result.stderr.decode())
                    self.assertEqual(result.stdout, b"")
        self.assertEqual(self.site.kv_json("ban", "list"), [])
        self.site.ftp("anna", "pw").quit()
        # A folder closed to strangers, as the package makes /var/lib/kestrova, tells them how to join.
        os.chmod(self.site.data, 0o2770)
        self.site.kv_ok("status", "--json", prefix=self.as_user(47012, 47012, [self.GROUP]))
        self.assertIn(f"riservata al gruppo {self.GROUP}. Per amministrare il server: sudo adduser",
                      self.site.kv_fails("status", prefix=self.as_user(47012, 47012)))


@unittest.skipUnless(os.geteuid() == 0, "needs root to act as two other users")
@unittest.skipIf(os.path.exists("/run/kestrova"), "the socket would go to /run/kestrova")
class TmpFolder(unittest.TestCase):
    """A data folder whose socket path would be too long, and no runtime folder: the socket and
    the lock go to /tmp, where another user acts first."""

    SERVER, STRANGER = 47021, 47022  # two users with no rights of their own

    def setUp(self):
        self.site = Site(self)
        self.folder = os.path.join(self.site.tmp, "d" * 100, "data")
        os.makedirs(self.folder)
        shutil.copy(self.site.db.path, self.folder)
        os.chmod(self.site.tmp, 0o755)
        for dirpath, dirnames, filenames in os.walk(self.site.tmp):
            for name in dirnames + filenames:
                os.chown(os.path.join(dirpath, name), self.SERVER, self.SERVER)
        digest = hashlib.sha256(self.folder.encode()).hexdigest()[:16]
        self.shared_lock = f"/tmp/kestrova-{digest}.lock"  # where earlier versions put it
        self.private = f"/tmp/kestrova-{self.SERVER}"
        for leftover in (self.shared_lock, self.shared_lock[:-5] + ".sock", self.private):
            self.addCleanup(self.remove, leftover)
            self.remove(leftover)

    @staticmethod
    def remove(path):
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        with contextlib.suppress(FileNotFoundError, IsADirectoryError):
            os.unlink(path)

    @staticmethod
    def as_user(uid):
        return ["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups"]

    def stranger(self, script):
        """Python code run as the other user, until it prints "ready" (and on, until the test ends)."""
        proc = subprocess.Popen([*self.as_user(self.STRANGER), "/usr/bin/python3", "-c", script],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(lambda: (proc.kill(), proc.wait(TIMEOUT), proc.stdout.close()))
        self.assertEqual(proc.stdout.readline().strip(), "ready")

    def server(self):
        server = Server(self.folder, env={"XDG_RUNTIME_DIR": ""}, prefix=self.as_user(self.SERVER))
        self.addCleanup(lambda: server.proc.poll() is None and server.stop())
        return server

    def test_another_user_holding_the_lock_path_does_not_stop_the_server(self):
        self.stranger("import fcntl, os, time\n"
                      f"fd = os.open({self.shared_lock!r}, os.O_CREAT | os.O_RDWR, 0o644)\n"
                      "fcntl.flock(fd, fcntl.LOCK_EX)\n"
                      f"os.symlink('/etc/passwd', {self.shared_lock[:-5] + '.sock'!r})\n"
                      "print('ready', flush=True)\ntime.sleep(60)")
        server = self.server()
        self.assertTrue(server.wait_started(), server.stderr())
        socket_path = read_text(os.path.join(self.folder, "kestrova.sock.path")).strip()
        self.assertEqual(os.path.dirname(socket_path), self.private)
        facts = os.lstat(self.private)
        self.assertEqual((facts.st_uid, oct(facts.st_mode & 0o7777)), (self.SERVER, "0o700"))
        result = run([*self.as_user(self.SERVER), program(), "status", "--json", "--data-dir", self.folder])
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(server.stop(), 0)

    def test_a_private_folder_made_by_another_user_is_refused_saying_why(self):
        self.stranger(f"import os\nos.mkdir({self.private!r}, 0o777)\nos.chmod({self.private!r}, 0o777)\n"
                      "print('ready', flush=True)")
        server = self.server()
        self.assertEqual(server.proc.wait(TIMEOUT), 2)
        self.assertIn(f"La cartella {self.private} appartiene a un altro utente (uid {self.STRANGER}): "
                      "il server non la usa", server.stderr())
        server.stop()
