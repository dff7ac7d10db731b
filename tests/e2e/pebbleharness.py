"""Debian's pebble (a test ACME CA) and pebble-challtestsrv (its DNS, which points every name at
127.0.0.1), started from a test's own temporary folder on free loopback ports. Pebble's TLS
listener gets a certificate made here for 127.0.0.1 (tls_certificate(): what acme_ca_file names);
root() is the root pebble signs what it issues with, fetched from its management port (what an
FTPS client verifies against). Every wait is bounded."""

import contextlib
import json
import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import urllib.request

from kvharness import TIMEOUT, free_port

START_TIMEOUT = 15


def installed():
    return bool(shutil.which("pebble") and shutil.which("pebble-challtestsrv"))


def _udp_free(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def _wait_for_port(port, proc, log):
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline and proc.poll() is None:
        with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return
        time.sleep(0.05)
    raise AssertionError(f"{proc.args[0]} did not start: " + open(log, errors="replace").read()[-2000:])


class Pebble:
    """Pebble checking http-01 on `http_port` and tls-alpn-01 on `tls_port`; `nonce_reject`: the share
    (percent) of good nonces it refuses; `validity`: seconds its certificates last (its own default,
    years, when None); `va_sleep`: whether its validation waits a random while, as a real CA may."""

    def __init__(self, test, http_port, tls_port, nonce_reject=0, validity=None, va_sleep=False):
        self.dir = tempfile.mkdtemp(prefix="kv-pebble-")
        test.addCleanup(shutil.rmtree, self.dir, True)
        self._make_tls_certificate()
        dns_port = next(p for p in (free_port() for _ in range(20)) if _udp_free(p))
        dns_management = free_port()
        self.dns = self._spawn(test, "dns", ["pebble-challtestsrv", "-defaultIPv4", "127.0.0.1",
                                             "-defaultIPv6", "", "-dns01", f"127.0.0.1:{dns_port}",
                                             "-http01", "", "-https01", "", "-tlsalpn01", "",
                                             "-management", f"127.0.0.1:{dns_management}"], {})
        _wait_for_port(dns_management, self.dns, self.dns.log)
        self.port = free_port()
        self.management_port = free_port()
        config = {"pebble": {"listenAddress": f"127.0.0.1:{self.port}",
                             "managementListenAddress": f"127.0.0.1:{self.management_port}",
                             "certificate": self.tls_certificate(),
                             "privateKey": os.path.join(self.dir, "pebble-key.pem"),
                             "httpPort": http_port, "tlsPort": tls_port, "ocspResponderURL": "",
                             "externalAccountBindingRequired": False}}
        if validity:
            config["pebble"]["certificateValidityPeriod"] = validity
        path = os.path.join(self.dir, "pebble-config.json")
        with open(path, "w") as f:
            json.dump(config, f)
        env = {"PEBBLE_WFE_NONCEREJECT": str(nonce_reject)}
        if not va_sleep:
            env["PEBBLE_VA_NOSLEEP"] = "1"
        self.pebble = self._spawn(test, "pebble", ["pebble", "-config", path, "-dnsserver",
                                                   f"127.0.0.1:{dns_port}"], env)
        _wait_for_port(self.port, self.pebble, self.pebble.log)
        _wait_for_port(self.management_port, self.pebble, self.pebble.log)

    def _spawn(self, test, name, argv, env):
        log = os.path.join(self.dir, name + ".log")
        out = open(log, "w")
        proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, cwd=self.dir,
                                env=dict(os.environ, **env))
        proc.log = log
        test.addCleanup(lambda: (proc.poll() is None and proc.kill(), proc.wait(TIMEOUT), out.close()))
        return proc

    def _make_tls_certificate(self):
        result = subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
             "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
             "-keyout", os.path.join(self.dir, "pebble-key.pem"), "-out", self.tls_certificate()],
            capture_output=True, timeout=30)
        assert result.returncode == 0, result.stderr

    def tls_certificate(self):
        return os.path.join(self.dir, "pebble-cert.pem")

    def directory_url(self):
        return f"https://127.0.0.1:{self.port}/dir"

    def root(self):
        """The file holding pebble's issuing root (made at each start of pebble)."""
        path = os.path.join(self.dir, "issuing-root.pem")
        if not os.path.exists(path):
            context = ssl.create_default_context(cafile=self.tls_certificate())
            url = f"https://127.0.0.1:{self.management_port}/roots/0"
            with urllib.request.urlopen(url, context=context, timeout=TIMEOUT) as answer:
                data = answer.read()
            with open(path, "wb") as f:
                f.write(data)
        return path

    def log(self):
        return "".join(open(p.log, errors="replace").read()[-3000:] for p in (self.pebble, self.dns))
