"""The window started on a data folder that a server already serves: it attaches over the
administration channel instead of starting a second server, lists the sessions with their
transfers, and says so when that server stops (sessions and bans as the server's events tell
them: the attached server's and the window's tests). The window runs offscreen and writes what it
shows to the file named by KESTROVA_WINDOW_STATE."""

import json
import os
import shutil
import signal
import tempfile
import unittest

from kvharness import Site, program, spawn, wait_until

BIG = 512 * 1024 * 1024  # sparse: no disk used


class Window:
    """The real program with its window, offscreen, in its own home folder, ended after `test`."""

    def __init__(self, test, data, service_folder=None):
        """`service_folder`: the folder the window takes for the system service's."""
        self.home = tempfile.mkdtemp(prefix="kv-window-")
        test.addCleanup(shutil.rmtree, self.home, True)
        self.state_path = os.path.join(self.home, "state.json")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=self.home,
                   XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                   XDG_DATA_HOME=os.path.join(self.home, "data"),
                   KESTROVA_WINDOW_STATE=self.state_path)
        if service_folder:
            env["KESTROVA_SERVICE_FOLDER"] = service_folder
        self.proc = spawn(test, [program(), "--data-dir", data], os.path.join(self.home, "out.txt"), env=env)

    def state(self):
        try:
            with open(self.state_path, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def wait(self, check, what):
        wait_until(lambda: check(self.state()), what + " in the window", pause=0.1)
        return self.state()


class Attach(unittest.TestCase):
    def setUp(self):
        self.site = Site(self)
        self.site.db.add_user("anna", "pw", rights="RWDB")
        self.site.sparse("big.bin", BIG)

    def test_window_attaches_to_a_headless_server_and_sees_it_stop(self):
        server = self.site.start()
        ftp = self.site.ftp("anna", "pw")
        self.addCleanup(ftp.close)
        ftp.voidcmd("TYPE I")
        data = ftp.transfercmd("RETR big.bin")
        self.addCleanup(data.close)
        self.assertTrue(data.recv(65536))  # the download runs, held by this reader

        window = Window(self, self.site.data)
        state = window.wait(lambda s: s.get("attached"), "attaching")
        # What an attached window shows and allows: the window's tests. Here: this program
        # attaches to that server, and starts no second one.
        self.assertIn(f"PID {server.proc.pid})", state["status"])
        self.assertEqual(self.site.kv_json("status")["pid"], server.proc.pid)
        text = self.site.kv("status").stdout.decode()
        self.assertIn(f"Processo: PID {server.proc.pid}, utente ", text)
        self.assertFalse(any("SERVER START" in line for line in state["log"]), state["log"])

        # The session and its transfer, as the online list shows them.
        state = window.wait(lambda s: any("/big.bin" in row for row in s.get("online", [])),
                            "the download")
        self.assertEqual(state["online"][0][0], "anna")
        # Log lines come from the server as it writes them.
        ftp.sock.sendall(b"NOOP\r\n")
        window.wait(lambda s: any("NOOP" in line for line in s.get("log", [])), "a log line")

        data.close()
        ftp.close()
        self.assertEqual(self.site.stop(), 0)
        state = window.wait(lambda s: not s.get("attached"), "the server going away")
        self.assertEqual(state["online"], [])
        self.assertIsNone(window.proc.poll(), "the window stays open")

    def test_on_the_services_folder_the_window_waits_for_the_service(self):
        # A headless server plays the system service: the window is told its folder is the service's.
        self.site.start()
        window = Window(self, self.site.data, service_folder=self.site.data)
        state = window.wait(lambda s: s.get("attached"), "attaching")
        self.assertTrue(state["status"].endswith(" (servizio)"), state["status"])
        self.assertEqual(self.site.stop(), 0)
        state = window.wait(lambda s: "servizio fermo" in s.get("status", ""), "the service stopping")
        self.assertFalse(state["attached"] or state["startEnabled"] or state["stopEnabled"])
        self.assertIn("sudo systemctl start kestrova", state["startToolTip"])
        self.assertTrue(any("si è fermato. Per avviarlo di nuovo: sudo systemctl start kestrova" in line
                            for line in state["log"]), state["log"])
        self.assertEqual(self.site.kv("status").returncode, 3)  # the window started nothing

        server = self.site.start()  # the service is back: the folder is free for it
        window.wait(lambda s: s.get("attached"), "attaching again")
        self.assertEqual(self.site.kv_json("status")["pid"], server.proc.pid)
        self.assertIsNone(window.proc.poll(), "the window stays open")

    def test_signals_reload_and_stop_the_windows_own_server_as_headless_modes(self):
        self.site.db.settings(ip="127.0.0.1", start=1)
        window = Window(self, self.site.data)
        state = window.wait(lambda s: s.get("status", "").startswith("Online: 127.0.0.1"), "its own server")
        # Administered as a headless server is: the command line finds it through its channel.
        self.assertFalse(state["attached"])
        self.assertEqual(self.site.kv_json("status")["pid"], window.proc.pid)
        self.site.ftp("anna", "pw").quit()
        # A reload as headless mode's: by SIGHUP, or asked through the channel.
        window.proc.send_signal(signal.SIGHUP)
        window.wait(lambda s: any("SERVER RELOAD ON IP 127.0.0.1" in line for line in s.get("log", [])),
                    "the reload SIGHUP asks for")
        self.site.kv_ok("reload")
        window.proc.send_signal(signal.SIGTERM)
        self.assertEqual(window.proc.wait(timeout=10), 0)
        log = self.site.log_file().decode()
        self.assertIn("SERVER START ON IP 127.0.0.1", log)
        self.assertEqual(log.count("SERVER RELOAD ON IP 127.0.0.1"), 2)
        self.assertTrue(log.rstrip().endswith("SERVER STOP"), log[-300:])
