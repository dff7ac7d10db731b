"""The program with its window on a real X server (Xvfb, no TCP): the window and its start
notice appear, a key typed on the notice closes it, and the server the window started serves
files while a few hundred logged-in sessions sit idle. The window's loop runs on epoll and the
X events still come through Qt's platform plugin; a lost wake-up leaves the notice open."""

import os
import select
import shutil
import subprocess
import tempfile
import unittest

from kvharness import TIMEOUT, Site, program, spawn, wait_until

IDLE_SESSIONS = 200
NOTICE = "Kestrova Vellim"  # the start notice's title; the main window's adds the version


class X11Window(unittest.TestCase):
    def setUp(self):
        for tool in ("Xvfb", "xdotool"):
            self.assertTrue(shutil.which(tool), f"{tool} is missing (tools/setup installs it)")
        self.site = Site()
        self.addCleanup(self.site.cleanup)
        self.site.db.add_user("anna", "pw", rights="RB")
        self.site.db.settings(start=1)  # the window starts its own server
        self.home = tempfile.mkdtemp(prefix="kv-x11-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.env = dict(os.environ, DISPLAY=self.start_xvfb(), QT_QPA_PLATFORM="xcb",
                        HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                        XDG_RUNTIME_DIR=self.home)
        self.env.pop("WAYLAND_DISPLAY", None)

    def start_xvfb(self):
        """An X server on a display number it picks itself; returns ":N"."""
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                                 "-screen", "0", "1280x1024x24"], pass_fds=(write_end,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # The pipe stays open as long as Xvfb runs: it may write the number and its
        # newline apart, and a closed pipe under the second write ends it.
        self.addCleanup(os.close, read_end)
        self.addCleanup(xvfb.wait, TIMEOUT)
        self.addCleanup(xvfb.terminate)
        told = b""
        for _ in range(16):  # a few digits and a newline
            if told.endswith(b"\n") or not select.select([read_end], [], [], TIMEOUT)[0]:
                break
            told += os.read(read_end, 16)
        number = told.decode().strip()
        self.assertTrue(told.endswith(b"\n") and number.isdigit(), "Xvfb did not start")
        return ":" + number

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True,
                              timeout=TIMEOUT).stdout.decode().split("\n")

    def shown(self):
        ids = [w for w in self.xdotool("search", "--onlyvisible", "--name", ".") if w]
        return {w: self.xdotool("getwindowname", w)[0] for w in ids}

    def test_keys_reach_the_window_and_files_are_served_with_sessions_idle(self):
        window = spawn(self, [program(), "--data-dir", self.site.data], os.path.join(self.home, "out.txt"),
                       env=self.env)
        wait_until(lambda: NOTICE in self.shown().values(), "the start notice")

        idle = []
        self.addCleanup(lambda: [ftp.close() for ftp in idle])
        for _ in range(IDLE_SESSIONS):
            idle.append(self.site.ftp("anna", "pw"))
        result = self.site.curl("anna:pw", "hello.txt")
        self.assertEqual((result.returncode, result.stdout), (0, b"hello\n"))

        notice = next(w for w, name in self.shown().items() if name == NOTICE)
        self.xdotool("windowfocus", "--sync", notice)
        self.xdotool("key", "--clearmodifiers", "Escape")
        wait_until(lambda: NOTICE not in self.shown().values(), "the notice to close on Escape")
        self.assertTrue(any(name.startswith(NOTICE + " ") for name in self.shown().values()))
        self.assertIsNone(window.poll(), "the window stays open")
